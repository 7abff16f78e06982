// The run's closing line: the last line of every run, in one form whatever the outcome, so that
// one search over a fleet's logs finds how each run ended. It names the stub's version, the
// digest the package was held against, how the run ended and the process's exit code:
//
//   Run ended: version 1.0.0, package sha256 <64 hex>|not checked,
//              installer ended code:N|nothing started (<reason>), exit code:E
//
// (one line). Log readers split it at ", "; no part of it holds a comma of its own.
#pragma once

#include "app/LaunchPlan.h"
#include "app/RunOutcome.h"
#include "package/Sha256.h"

#include <cstdint>
#include <string>
#include <string_view>

// Why a run that got as far as its plan started nothing, from the extraction's outcome and the
// plan's verdict, in a few words.
[[nodiscard]] const wchar_t* NothingStartedReason(std::uint32_t extraction, PlanVerdict verdict);

// "installer ended code:N" (the installer's exit code as `execute done code:` shows it, -1 when it
// could not be read), or "nothing started (REASON)": the outcome's own reason, else the one its
// code stands for (a refusal before the run's steps carries its code alone).
[[nodiscard]] std::wstring HowTheRunEnded(const RunOutcome& outcome);

// The closing line's message. `checkedDigest` is the digest the package was held against, to its
// end; null when it was not (no digest, or the package was refused before).
[[nodiscard]] std::wstring RunEndMessage(std::wstring_view version,
                                         const package::Sha256Digest* checkedDigest,
                                         std::wstring_view how, std::uint32_t exitCode);
