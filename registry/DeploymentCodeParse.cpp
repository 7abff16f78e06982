#include "registry/DeploymentCodeParse.h"

#include "util/AsciiCase.h"

namespace {

bool AllLettersOrDigits(std::wstring_view text, LetterOrDigitTest isLetterOrDigit) {
    for (const wchar_t c : text) {
        if (!isLetterOrDigit(c))
            return false;
    }
    return true;
}

} // namespace

std::optional<DeploymentCode> ParseDeploymentCode(std::wstring_view modulePath,
                                                  LetterOrDigitTest isLetterOrDigit) {
    const size_t dash = modulePath.rfind(L'-');
    if (dash == std::wstring_view::npos)
        return std::nullopt;

    // A "-" in a folder name is no code: the file name itself must carry it.
    const std::wstring_view tail = modulePath.substr(dash + 1);
    if (tail.find(L'\\') != std::wstring_view::npos)
        return std::nullopt;

    const std::wstring_view code = tail.substr(0, kDeploymentCodeLength);
    if (code.size() != kDeploymentCodeLength || !AllLettersOrDigits(code, isLetterOrDigit))
        return std::nullopt;

    DeploymentCode result;
    result.code.assign(code);

    std::wstring region(tail.substr(kDeploymentCodeLength, kRegionLength));
    ToAsciiUpper(region);
    if (region.size() == kRegionLength && AllLettersOrDigits(region, isLetterOrDigit))
        result.region = std::move(region);
    return result;
}

std::wstring DeploymentCodeText(const DeploymentCode& deployment) {
    return deployment.code + deployment.region;
}
