#include "app/ExitCode.h"

#include <gtest/gtest.h>

namespace {

using package::ExitCodeChoice;

RunOutcome Ended(std::uint32_t code, bool known = true) {
    return RunOutcome{RunEnd::installerEnded, code, known};
}

TEST(ExitCode, TheInstallersCodeIsPassedOnUnchanged) {
    for (const std::uint32_t code : {0u, 3010u, 1641u, 1603u, 1618u, 259u, 0xC0000005u})
        EXPECT_EQ(ProcessExitCode(ExitCodeChoice::installer, Ended(code)), code);
    // A code that could not be read is never taken for success.
    EXPECT_EQ(ProcessExitCode(ExitCodeChoice::installer, Ended(0, false)), 1603u);
}

TEST(ExitCode, RefusalsGiveTheCodesEnginesKnow) {
    const auto code = [](RunEnd end) {
        return ProcessExitCode(ExitCodeChoice::installer, RunOutcome{end, 0, false});
    };
    EXPECT_EQ(code(RunEnd::anotherInstallation), 1618u);
    EXPECT_EQ(code(RunEnd::systemTooOld), 1150u);
    EXPECT_EQ(code(RunEnd::packageRefused), 1620u);
    EXPECT_EQ(code(RunEnd::diskFull), 112u);
    EXPECT_EQ(code(RunEnd::extractionFailed), 1603u);
    EXPECT_EQ(code(RunEnd::nothingStarted), 1603u);
}

TEST(ExitCode, TheZeroChoiceAlwaysExitsZero) {
    for (const RunEnd end :
         {RunEnd::installerEnded, RunEnd::anotherInstallation, RunEnd::systemTooOld,
          RunEnd::packageRefused, RunEnd::diskFull, RunEnd::extractionFailed,
          RunEnd::nothingStarted})
        EXPECT_EQ(ProcessExitCode(ExitCodeChoice::zero, RunOutcome{end, 1603, true}), 0u);
}

} // namespace
