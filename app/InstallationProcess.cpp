#include "app/InstallationProcess.h"

#include "util/AsciiCase.h"

namespace {

// Where `folder` stands in `text`, its letters compared without case; npos when nowhere.
size_t FindFolder(const std::wstring& text, const std::wstring& folder) {
    if (folder.empty() || text.size() < folder.size())
        return std::wstring::npos;
    for (size_t at = 0; at + folder.size() <= text.size(); ++at)
        if (EqualsIgnoringAsciiCase(std::wstring_view(text).substr(at, folder.size()), folder))
            return at;
    return std::wstring::npos;
}

} // namespace

bool IsConsoleHost(const std::wstring& image, const std::wstring& windowsFolder) {
    if (windowsFolder.empty())
        return false;
    const std::wstring folder =
        windowsFolder.back() == L'\\' ? windowsFolder : windowsFolder + L'\\';
    for (const wchar_t* system : {L"System32", L"SysNative", L"SysWOW64"})
        if (EqualsIgnoringAsciiCase(image, folder + system + L"\\conhost.exe"))
            return true;
    return false;
}

bool IsPartOfInstallation(const JobProcessText& process, const std::vector<std::wstring>& folders) {
    if (process.consoleHost)
        return false;
    if (process.image.empty() || !process.commandLineKnown)
        return true;
    for (const std::wstring& folder : folders) {
        if (FindFolder(process.image, folder) == 0)
            return true;
        // A file of the package handed on, quoted or not; the folder's own path without its
        // backslash (a "/D=" or working-folder switch) counts as well.
        const std::wstring bare = folder.empty() ? folder : folder.substr(0, folder.size() - 1);
        if (FindFolder(process.commandLine, bare) != std::wstring::npos)
            return true;
    }
    return false;
}
