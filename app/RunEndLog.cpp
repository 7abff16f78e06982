#include "app/RunEndLog.h"

#include "app/RunEnd.h"
#include "package/ImageSettings.h"
#include "package/UnPack.h"
#include "res/Version.h"
#include "util/LogSources.h"
#include "util/Utility.h"

void LogRunEnd(std::wstring_view how, std::uint32_t exitCode) {
    const package::StubSettings settings = package::ImageSettings();
    const std::wstring message = RunEndMessage(
        L"" UNPACK_VERSION_TEXT, PackageHeldAgainstDigest() ? &settings.digest.digest : nullptr,
        how, exitCode);
    CUtility::Log(L"[%s] %s", logsource::kInitInstance, message.c_str());
}
