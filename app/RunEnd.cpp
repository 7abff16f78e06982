#include "app/RunEnd.h"

namespace {

std::wstring Decimal(std::uint32_t value) {
    wchar_t digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::wstring text;
    while (count > 0)
        text += digits[--count];
    return text;
}

// As `%d` shows it: an exit code of 0xC0000005 reads as the NTSTATUS's negative value.
std::wstring SignedDecimal(std::uint32_t value) {
    if (value < 0x80000000u)
        return Decimal(value);
    return L"-" + Decimal(0u - value);
}

// Lower-case, as sha256sum and `certutil -hashfile` print it.
std::wstring Hex(const package::Sha256Digest& digest) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
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
               (outcome.installerCodeUnread ? std::wstring(L"-1") : SignedDecimal(outcome.code));
    return std::wstring(L"nothing started (") +
           (outcome.notStarted != nullptr ? outcome.notStarted : ReasonOfCode(outcome.code)) + L")";
}

std::wstring RunEndMessage(std::wstring_view version, const package::Sha256Digest* checkedDigest,
                           std::wstring_view how, std::uint32_t exitCode) {
    std::wstring message = L"Run ended: version ";
    message += version;
    message += L", package sha256 ";
    message += checkedDigest != nullptr ? Hex(*checkedDigest) : L"not checked";
    message += L", ";
    message += how;
    message += L", exit code:";
    message += Decimal(exitCode);
    return message;
}
