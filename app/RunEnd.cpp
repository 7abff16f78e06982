#include "app/RunEnd.h"

#include "util/NumberText.h"

namespace {

// As `%d` shows it: an exit code of 0xC0000005 reads as the NTSTATUS's negative value.
std::wstring Signed(std::uint32_t code) {
    std::wstring text;
    AppendSigned(text, static_cast<std::int32_t>(code));
    return text;
}

const wchar_t* ReasonOfCode(std::uint32_t code) {
    switch (code) {
    case kOldWindowsVersion:
        return L"Windows older than 7";
    case kInstallAlreadyRunning:
        return L"another installation running";
    case kInstallPackageInvalid:
        return L"package refused";
    case kDiskFull:
        return L"no disk space";
    default:
        return L"run failed";
    }
}

} // namespace

const wchar_t* NothingStartedReason(std::uint32_t extraction, PlanVerdict verdict) {
    if (extraction == kInstallPackageInvalid || extraction == kDiskFull)
        return ReasonOfCode(extraction);
    if (extraction != kRunSucceeded)
        return L"extraction failed";
    switch (verdict) {
    case PlanVerdict::skip:
        return L"nothing to start";
    case PlanVerdict::noAssociation:
        return L"no association for the file";
    case PlanVerdict::start:
        break;
    }
    return L"launch failed";
}

std::wstring HowTheRunEnded(const RunOutcome& outcome) {
    if (outcome.installerRan)
        return L"installer ended code:" +
               (outcome.installerCodeUnread ? std::wstring(L"-1") : Signed(outcome.code));
    return std::wstring(L"nothing started (") +
           (outcome.notStarted != nullptr ? outcome.notStarted : ReasonOfCode(outcome.code)) + L")";
}

std::wstring RunEndMessage(std::wstring_view version, const package::Sha256Digest* checkedDigest,
                           std::wstring_view how, std::uint32_t exitCode) {
    std::wstring message = L"Run ended: version ";
    message += version;
    message += L", package sha256 ";
    if (checkedDigest == nullptr)
        message += L"not checked";
    else
        for (const std::uint8_t byte : *checkedDigest) // lower case, as sha256sum prints it
            AppendHex(message, byte, 2);
    message += L", ";
    message += how;
    message += L", exit code:";
    AppendDecimal(message, exitCode);
    return message;
}
