// Times the pieces of the stub's run around a tiny installer, inside one process and with the
// stub's own code, where the stub's log (whole seconds) cannot tell them apart. It is packed like
// the stub, with the installer as its one entry:
//   startparts.exe INSTALLER ARGS...  prints "preloads=MS extraction=MS launch=MS installer=MS
//                                     held=MS" and leaves no extraction folder behind
//   startparts.exe                    returns at once: the start and exit of an image that
//                                     imports and initialises what the stub's does
// "held" is how long the extraction folder stays undeletable after the installer has ended,
// tried every millisecond: the least clean-up pause a run can have.
#include "app/UnPackFileApp.h"
#include "framework/UniqueHandle.h"
#include "package/UnPack.h"
#include "util/Utility.h"

#include <cstdio>
#include <string>

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 0;
    std::wstring parameters;
    for (int i = 2; i < argc; ++i)
        parameters += std::wstring(i > 2 ? L" " : L"") + argv[i];

    const LARGE_INTEGER start = Now();
    CUnPackFileApp::PreloadSystemLibraries();
    const LARGE_INTEGER preloaded = Now();

    CUnPack unpack;
    unpack.StartAndWait();
    const LARGE_INTEGER extracted = Now();

    // The stub's named-file mode starts a packaged program by its full path in the folder.
    const std::wstring folder = unpack.GetUnpackDir();
    const std::wstring program = folder + argv[1];
    std::wstring commandLine = L"\"" + program + L"\" " + parameters;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &started)) {
        std::fputs("launch failed\n", stderr);
        return 1;
    }
    const LARGE_INTEGER launched = Now();
    UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    const LARGE_INTEGER ended = Now();
    process.reset();

    for (int tries = 0; tries < 5000 && !unpack.Cleanup(); ++tries)
        ::Sleep(1);
    const LARGE_INTEGER removed = Now();
    if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::fputs("folder still held after 5 s\n", stderr);
        return 1;
    }

    std::printf("preloads=%.1f extraction=%.1f launch=%.1f installer=%.1f held=%.1f\n",
                Milliseconds(start, preloaded), Milliseconds(preloaded, extracted),
                Milliseconds(extracted, launched), Milliseconds(launched, ended),
                Milliseconds(ended, removed));
    return 0;
}
