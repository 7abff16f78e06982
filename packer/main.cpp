#include "packer/Cli.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

namespace {

// The tool works on UTF-8 text throughout (paths go through std::filesystem::u8path), so a path
// on Windows keeps every character, whatever the ANSI code page.
std::string Utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back(); // the terminator
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utf8(argv[i]));
    return packer::RunStubpack(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return packer::RunStubpack(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                               std::cerr);
}
#endif
