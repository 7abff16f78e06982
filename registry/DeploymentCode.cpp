#include "registry/DeploymentCode.h"

#include "registry/Registry.h"
#include "app/UnPackFileApp.h"
#include "util/Utility.h"

#include <windows.h>

bool IsLetterOrDigit(wchar_t c) {
    return ::IsCharAlphaNumericW(c) != FALSE;
}

int WriteDeploymentValues(const DeploymentCode& deployment) {
    const std::wstring dcode = DeploymentCodeText(deployment);

    CRegistry registry;
    // Without the key the writes would land in the root of HKEY_LOCAL_MACHINE: skip them.
    if (!registry.SetRootKey(HKEY_LOCAL_MACHINE) || !registry.SetKey(kDeploymentKeyPath, TRUE))
        return 0;

    int written = 1;
    if (!deployment.region.empty())
        written &= registry.WriteString(L"CloudRegion", deployment.region, REG_SZ);
    written &= registry.WriteDword(L"Confirm_d", 1);
    written &= registry.WriteDword(L"CQHSMode", 1);
    written &= registry.WriteString(L"DCode", dcode, REG_SZ);
    written &= registry.WriteDword(L"CQHSLogin", 0);
    return written;
}

void CUnPackFileApp::ApplyDeploymentCode() {
    const std::wstring modulePath = CUtility::GetModulePath();
    if (modulePath.empty())
        return;
    const auto deployment = ParseDeploymentCode(modulePath, IsLetterOrDigit);
    if (!deployment)
        return;
    // Registry failures are not reported: the installation goes on without the values.
    (void)WriteDeploymentValues(*deployment);
}
