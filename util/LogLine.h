// The text of one log line, apart from how it is gathered and written.
#pragma once

#include <cstdint>
#include <string>

// The text with every character that could end a line or steer a terminal written out as an
// escape: "\r", "\n", "\t", "\xNN" (C0 and C1 controls, DEL) and "\uNNNN" (the Unicode line
// and paragraph separators, and the bidirectional controls, which reorder what a viewer shows).
// Paths, names and parameters come from the caller: none of them may start a line of its own in
// the log, nor make it read otherwise than it is written.
std::wstring EscapeControlCharacters(const std::wstring& text);

// "[pid]time  message (Last=code)"; the message is taken as data, its control characters shown
// escaped (EscapeControlCharacters), and the error code is shown signed, so 0xFFFFFFFF reads as -1.
std::wstring ComposeLogLine(std::uint32_t processId, const std::wstring& time,
                            const std::wstring& message, std::uint32_t lastError);
