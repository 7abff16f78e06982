// Numbers as text, written by hand: std::to_wstring goes through the runtime's wide printf, which
// brings its whole floating-point formatter (some 28 KB) into the stub for a few integers.
#pragma once

#include <cstdint>
#include <string>

// Decimal digits, with a "-" before a negative value.
void AppendDecimal(std::wstring& text, std::uint32_t value);
void AppendSigned(std::wstring& text, std::int32_t value);
// The low `digits` hexadecimal digits of `value`, lower case, leading zeros kept.
void AppendHex(std::wstring& text, unsigned value, int digits);
