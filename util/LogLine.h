// The text of one log line, apart from how it is gathered and written.
#pragma once

#include <cstdint>
#include <string>

// "[pid]time  message (Last=code)"; the message is taken as data, and the error code is shown
// signed, so 0xFFFFFFFF reads as -1.
std::wstring ComposeLogLine(std::uint32_t processId, const std::wstring& time,
                            const std::wstring& message, std::uint32_t lastError);
