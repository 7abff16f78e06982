#include "util/LogLine.h"

#include "util/NumberText.h"

namespace {

// Unicode's Bidi_Control characters: they reorder how the rest of a line is shown, so a name
// holding them could make a viewer show another file name or outcome than the line holds.
bool IsBidiControl(wchar_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool IsControl(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || IsBidiControl(c);
}

} // namespace

std::wstring EscapeControlCharacters(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        if (!IsControl(c)) {
            escaped += c;
        } else if (c == L'\r') {
            escaped += L"\\r";
        } else if (c == L'\n') {
            escaped += L"\\n";
        } else if (c == L'\t') {
            escaped += L"\\t";
        } else if (c <= 0xFF) {
            escaped += L"\\x";
            AppendHex(escaped, c, 2);
        } else {
            escaped += L"\\u";
            AppendHex(escaped, c, 4);
        }
    }
    return escaped;
}

std::wstring ComposeLogLine(std::uint32_t processId, const std::wstring& time,
                            const std::wstring& message, std::uint32_t lastError) {
    std::wstring line;
    line.reserve(32 + time.size() + message.size());
    line += L'[';
    AppendSigned(line, static_cast<std::int32_t>(processId));
    line += L']';
    line += time;
    line += L"  ";
    line += EscapeControlCharacters(message);
    line += L" (Last=";
    AppendSigned(line, static_cast<std::int32_t>(lastError));
    line += L')';
    return line;
}
