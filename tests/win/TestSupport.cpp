#include "TestSupport.h"

#include "framework/UniqueHandle.h"
#include "package/PackageFormat.h"

#include <map>

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::wstring TempDir() {
    wchar_t buffer[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, buffer);
    return buffer;
}

std::wstring MachineTempDir() {
    wchar_t buffer[MAX_PATH + 1] = {};
    ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer) + L"\\Temp\\";
}

void RemoveExtractionFolders() {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(::FindFirstFileW((MachineTempDir() + L"unpack*").c_str(), &entry));
    if (!search)
        return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(MachineTempDir() + entry.cFileName);
    } while (::FindNextFileW(search.get(), &entry));
}

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                    nullptr);
}

std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return bytes;
    unsigned char block[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), block, sizeof block, &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), block, block + read);
    return bytes;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(::FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(search.get(), &entry));
    }
    search.reset();
    ::RemoveDirectoryW(path.c_str());
}

namespace {
std::map<std::wstring, std::function<int()>>& Children() {
    static std::map<std::wstring, std::function<int()>> children;
    return children;
}
} // namespace

ChildRegistration::ChildRegistration(const wchar_t* name, std::function<int()> body) {
    Children()[name] = std::move(body);
}

int RunChild(const std::wstring& name) {
    const auto found = Children().find(name);
    return found == Children().end() ? 97 : found->second();
}

std::wstring ThisExecutable() {
    wchar_t self[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

int SpawnChild(const std::wstring& name, DWORD timeoutMs) {
    return SpawnChildFrom(ThisExecutable(), name, timeoutMs);
}

UniqueHandle StartChildFrom(const std::wstring& executable, const std::wstring& name) {
    std::wstring commandLine = L"\"" + executable + L"\" --child " + name;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info))
        return UniqueHandle();
    UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

int SpawnChildFrom(const std::wstring& executable, const std::wstring& name, DWORD timeoutMs) {
    const UniqueHandle process = StartChildFrom(executable, name);
    if (!process) {
        ADD_FAILURE() << "child '" << Narrow(name) << "' of " << Narrow(executable)
                      << " could not be started (error " << ::GetLastError() << ")";
        return -1;
    }
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 10000);
        ADD_FAILURE() << "child '" << Narrow(name) << "' did not end within " << timeoutMs
                      << " ms; terminated";
        return -1;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<int>(code);
}

int ChildChecks::ExitCode(std::initializer_list<bool> holds) const {
    int number = 1;
    for (const bool held : holds) {
        if (!held)
            return number;
        ++number;
    }
    return 0;
}

std::string ChildChecks::Failed(int exitCode) const {
    if (exitCode == 0)
        return "every check held";
    if (exitCode < 1 || static_cast<std::size_t>(exitCode) > names_.size())
        return "exit code " + std::to_string(exitCode) + " names none of the child's checks";
    return "the child's check " + std::to_string(exitCode) + " failed: " + names_[exitCode - 1];
}

std::wstring PackedCopyOfThisExecutable(const Entries& entries, const std::wstring& path) {
    std::vector<unsigned char> image = ReadBytes(ThisExecutable());
    std::string body;
    std::uint64_t total = 0;
    std::uint32_t ordinal = package::kFirstEntryOrdinal;
    for (const auto& [name, content] : entries) {
        package::PackageEntryHeader header;
        header.count = static_cast<std::int32_t>(entries.size());
        header.ordinal = ordinal++;
        header.size = content.size();
        total += content.size();
        header.runningTotal = total;
        package::SetHeaderName(header, name);
        const package::HeaderBytes bytes = package::EncodeHeader(header);
        body.append(bytes.begin(), bytes.end());
        body += content;
    }
    body += std::string(package::kEndMarkerSize, '\xFF');
    while ((image.size() + body.size() + package::kHeaderSize) % 8 != 0)
        image.push_back(0);

    package::PackageTrailer trailer;
    trailer.ordinal = package::kTrailerOrdinal;
    trailer.size = trailer.runningTotal = image.size();
    package::SetHeaderName(trailer, "child.exe");
    const package::HeaderBytes trailerBytes = package::EncodeHeader(trailer);

    std::string file(image.begin(), image.end());
    file += body;
    file.append(trailerBytes.begin(), trailerBytes.end());
    WriteTextFile(path, file);
    return path;
}

BOOL WINAPI InvisibleStation(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed) {
    const BOOL ok = ::GetUserObjectInformationW(object, index, info, size, needed);
    if (ok && index == UOI_FLAGS)
        static_cast<USEROBJECTFLAGS*>(info)->dwFlags &= ~WSF_VISIBLE;
    return ok;
}

std::wstring LogPath() {
    return TempDir() + L"unpack.log";
}

std::vector<std::wstring> LogMessages() {
    const std::vector<unsigned char> bytes = ReadBytes(LogPath());
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    std::vector<std::wstring> messages;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        const std::wstring line = text.substr(start, end - start);
        const size_t message = line.find(L"  ");
        const size_t last = line.rfind(L" (Last=");
        messages.push_back(line.substr(message + 2, last - message - 2));
    }
    return messages;
}

bool Contains(const std::vector<std::wstring>& messages, const std::wstring& wanted) {
    for (const auto& message : messages)
        if (message == wanted)
            return true;
    return false;
}

void PackedChildTest::SetUp() {
    RemoveTree(workDir);
    RemoveExtractionFolders();
    ::DeleteFileW(LogPath().c_str());
    ASSERT_TRUE(::CreateDirectoryW(workDir.c_str(), nullptr));
}

void PackedChildTest::TearDown() {
    RemoveTree(workDir);
    RemoveExtractionFolders();
    ::DeleteFileW(LogPath().c_str());
}

std::wstring PackedChildTest::PackedCopy(const Entries& entries) {
    return PackedCopyOfThisExecutable(entries, workDir + L"\\child.exe");
}

namespace {

PSID g_reportedUser = nullptr;

BOOL WINAPI ReportedUser(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size,
                         PDWORD needed) {
    if (kind != TokenUser || g_reportedUser == nullptr)
        return ::GetTokenInformation(token, kind, info, size, needed);
    const DWORD length = sizeof(TOKEN_USER) + ::GetLengthSid(g_reportedUser);
    if (size < length)
        return FALSE;
    auto* user = static_cast<TOKEN_USER*>(info);
    user->User.Attributes = 0;
    user->User.Sid = reinterpret_cast<BYTE*>(info) + sizeof(TOKEN_USER);
    ::CopySid(length - sizeof(TOKEN_USER), user->User.Sid, g_reportedUser);
    return TRUE;
}

} // namespace

void ReportTokenUser(PSID sid) {
    g_reportedUser = sid;
    g_os.GetTokenInformation =
        sid != nullptr ? ReportedUser : RealSystemCalls().GetTokenInformation;
}
