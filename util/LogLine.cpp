#include "util/LogLine.h"

std::wstring ComposeLogLine(std::uint32_t processId, const std::wstring& time,
                            const std::wstring& message, std::uint32_t lastError) {
    std::wstring line;
    line.reserve(32 + time.size() + message.size());
    line += L'[';
    line += std::to_wstring(static_cast<std::int32_t>(processId));
    line += L']';
    line += time;
    line += L"  ";
    line += message;
    line += L" (Last=";
    line += std::to_wstring(static_cast<std::int32_t>(lastError));
    line += L')';
    return line;
}
