// The baseline of the extraction benchmark: copies every file of one folder into another with
// CopyFileW, the plainest way Windows moves the same bytes.
//   copyfiles.exe SOURCE_DIR TARGET_DIR
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring source = argv[1];
    const std::wstring target = argv[2];
    ::CreateDirectoryW(target.c_str(), nullptr);

    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((source + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    int failures = 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring from = source + L"\\" + entry.cFileName;
        const std::wstring to = target + L"\\" + entry.cFileName;
        if (!::CopyFileW(from.c_str(), to.c_str(), FALSE))
            ++failures;
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return failures == 0 ? 0 : 1;
}
