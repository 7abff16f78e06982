// The run's closing line (app/RunEnd.h), written with what this process knows of itself: the
// stub's version and the digest its package was held against.
#pragma once

#include <cstdint>
#include <string_view>

// Writes the closing line; `how` as HowTheRunEnded words it, `exitCode` the process's own.
void LogRunEnd(std::wstring_view how, std::uint32_t exitCode);
