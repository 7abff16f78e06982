#include "app/InstallerTemp.h"

#include "package/ExtractionFolder.h"
#include "util/AsciiCase.h"
#include "util/FilesAt.h"
#include "util/LogSources.h"
#include "util/PathText.h"
#include "util/Utility.h"

#include <vector>

namespace {

using logsource::kInitInstance;

constexpr wchar_t kLogExtension[] = L".log";
constexpr wchar_t kKeptPrefix[] = L"unpack.";
constexpr DWORD kCopyChunk = 64 * 1024;

bool IsLogName(const std::wstring& name) {
    constexpr size_t length = sizeof kLogExtension / sizeof(wchar_t) - 1;
    return name.size() > length &&
           EqualsIgnoringAsciiCase(name.substr(name.size() - length), kLogExtension);
}

// Copies what is left to read of `from` into `to`; false when a read or a write fails.
bool CopyData(HANDLE from, HANDLE to) {
    std::vector<unsigned char> buffer(kCopyChunk);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(from, buffer.data(), kCopyChunk, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!::WriteFile(to, buffer.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

// One log of the installer's, copied as "unpack.NAME" into the log's directory through its
// handle. The copy is taken only when it is a plain file of its own (a link or a second name of
// another file there stays as it is), and emptied first.
bool KeepOne(HANDLE temp, HANDLE logDirectory, const std::wstring& name) {
    OpenAtRequest read;
    read.access = FILE_READ_DATA;
    read.share = FILE_SHARE_READ;
    read.options = FILE_NON_DIRECTORY_FILE;
    const UniqueFileHandle from = OpenAt(temp, name, read);
    if (!from || !KindOf(from.get()).IsPlainFile())
        return false;
    OpenAtRequest write;
    write.access = FILE_WRITE_DATA;
    write.share = FILE_SHARE_READ;
    write.disposition = FILE_OPEN_IF;
    write.options = FILE_NON_DIRECTORY_FILE;
    const UniqueFileHandle to = OpenAt(logDirectory, kKeptPrefix + name, write);
    FILE_END_OF_FILE_INFO empty = {};
    return to && KindOf(to.get()).IsPlainFile() &&
           ::SetFileInformationByHandle(to.get(), FileEndOfFileInfo, &empty, sizeof empty) &&
           CopyData(from.get(), to.get());
}

} // namespace

bool MakeInstallerTemp(ExtractionFolder& temp, Environment& installer) {
    temp.Create(ExtractionFolder::Naming::fresh);
    if (!temp.IsOwn())
        return false;
    const std::wstring path = WithoutTrailingBackslashes(temp.Path());
    SetVariable(installer, L"TEMP", path);
    SetVariable(installer, L"TMP", path);
    return true;
}

void KeepInstallerLogs(const ExtractionFolder& temp) {
    std::vector<std::wstring> names;
    const HANDLE logDirectory = CUtility::LogDirectoryHandle();
    if (!temp.IsOwn() || logDirectory == nullptr || !ListFolder(temp.Handle(), names))
        return;
    for (const std::wstring& name : names) {
        if (!IsLogName(name))
            continue;
        const std::wstring kept = CUtility::GetTempDirectory() + kKeptPrefix + name;
        if (KeepOne(temp.Handle(), logDirectory, name))
            CUtility::Log(L"[%s] The installer's log is kept:%s", kInitInstance, kept.c_str());
        else
            CUtility::Log(L"[%s] The installer's log could not be kept:%s%s", kInitInstance,
                          temp.Path().c_str(), name.c_str());
    }
}
