// The baseline of the extraction benchmark: copies every file of a folder tree into another with
// CopyFileW, the plainest way Windows moves the same bytes, and then, as the stub removes what it
// extracted, deletes the copy.
//   copyfiles.exe SOURCE_DIR TARGET_DIR
#include <windows.h>

#include <string>

namespace {

int CopyTree(const std::wstring& source, const std::wstring& target) {
    ::CreateDirectoryW(target.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((source + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    int failures = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring from = source + L"\\" + name;
        const std::wstring to = target + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            failures += CopyTree(from, to);
        else if (!::CopyFileW(from.c_str(), to.c_str(), FALSE))
            ++failures;
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return failures;
}

void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(folder + L"\\" + name);
            else
                ::DeleteFileW((folder + L"\\" + name).c_str());
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const int failures = CopyTree(argv[1], argv[2]);
    DeleteTree(argv[2]);
    return failures == 0 ? 0 : 1;
}
