// The run's closing line: one form for every outcome, which log readers split at ", ".
#include "app/RunEnd.h"

#include <gtest/gtest.h>

namespace {

TEST(RunEnd, TheLineNamesVersionDigestOutcomeAndExitCode) {
    package::Sha256Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(i * 17 + 10);
    EXPECT_EQ(RunEndMessage(L"1.2.3", &digest, L"installer ended code:3010", 3010),
              L"Run ended: version 1.2.3, package sha256 "
              L"0a1b2c3d4e5f708192a3b4c5d6e7f8091a2b3c4d5e6f8091a2b3c4d5e6f70819, "
              L"installer ended code:3010, exit code:3010");
    EXPECT_EQ(RunEndMessage(L"1.0.0", nullptr, L"nothing started (package refused)", 4294967295u),
              L"Run ended: version 1.0.0, package sha256 not checked, nothing started (package "
              L"refused), exit code:4294967295");
}

TEST(RunEnd, AnInstallersCodeReadsAsItsExecuteDoneLineShowsIt) {
    RunOutcome ran{0, true};
    EXPECT_EQ(HowTheRunEnded(ran), L"installer ended code:0");
    ran.code = 0xC0000005u;
    EXPECT_EQ(HowTheRunEnded(ran), L"installer ended code:-1073741819");
    ran.code = 1603;
    ran.installerCodeUnread = true;
    EXPECT_EQ(HowTheRunEnded(ran), L"installer ended code:-1");
}

TEST(RunEnd, NothingStartedSaysWhy) {
    // The refusals before the run's steps carry their code alone.
    EXPECT_EQ(HowTheRunEnded(RunOutcome{kOldWindowsVersion, false}),
              L"nothing started (Windows older than 7)");
    EXPECT_EQ(HowTheRunEnded(RunOutcome{kInstallAlreadyRunning, false}),
              L"nothing started (another installation running)");
    RunOutcome refused{kInstallPackageInvalid, false};
    refused.notStarted = NothingStartedReason(kInstallPackageInvalid, PlanVerdict::skip);
    EXPECT_EQ(HowTheRunEnded(refused), L"nothing started (package refused)");

    EXPECT_STREQ(NothingStartedReason(kDiskFull, PlanVerdict::skip), L"no disk space");
    EXPECT_STREQ(NothingStartedReason(kInstallFailure, PlanVerdict::skip), L"extraction failed");
    EXPECT_STREQ(NothingStartedReason(kRunSucceeded, PlanVerdict::skip), L"nothing to start");
    EXPECT_STREQ(NothingStartedReason(kRunSucceeded, PlanVerdict::noAssociation),
                 L"no association for the file");
    EXPECT_STREQ(NothingStartedReason(kRunSucceeded, PlanVerdict::start), L"launch failed");
}

} // namespace
