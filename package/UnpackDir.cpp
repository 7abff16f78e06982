#include "package/UnPack.h"

#include "util/SystemCalls.h"
#include "util/Utility.h"

namespace {

// A folder that was just deleted may still be pending removal; creation is tried again for up
// to two seconds.
constexpr int kMaxCreateRetries = 20;
constexpr DWORD kRetryPauseMs = 100;

} // namespace

std::wstring CUnPack::GetUnpackDir() {
    if (!unpackDir_.empty())
        return unpackDir_;

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    unpackDir_ = std::wstring(temp) + L"unpack\\";

    if (CUtility::PathExists(unpackDir_))
        Cleanup();

    int result = g_os.SHCreateDirectoryExW(nullptr, unpackDir_.c_str(), nullptr);
    for (int retries = 0; result != 0 && retries < kMaxCreateRetries; ++retries) {
        result = g_os.SHCreateDirectoryExW(nullptr, unpackDir_.c_str(), nullptr);
        g_os.Sleep(kRetryPauseMs);
    }
    return unpackDir_;
}

void CUnPack::Cleanup() {
    if (unpackDir_.empty())
        return;

    CUtility::DeleteTree(unpackDir_);

    std::wstring parent = unpackDir_;
    while (!parent.empty() && parent.back() == L'\\')
        parent.pop_back();
    CUtility::RemovePathComponents(parent, 1);

    // The folder cannot go while it is the current directory (the default script runs in it).
    ::SetCurrentDirectoryW(parent.c_str());
    ::RemoveDirectoryW(unpackDir_.c_str());
}
