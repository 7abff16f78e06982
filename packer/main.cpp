#include "packer/Cli.h"

#include <algorithm>
#include <iostream>
#include <streambuf>
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

std::wstring Utf16(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int count = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), count, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), count, out.data(), size);
    return out;
}

// Text for a console goes through WriteConsoleW: written as bytes, it would be read in the
// console's code page, which garbles every non-ASCII character of a path. Redirected to a file or
// a pipe, the tool writes the UTF-8 bytes the Linux tool writes, and this buffer is not used.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(DWORD which) : console_(::GetStdHandle(which)) {
        DWORD mode = 0;
        if (console_ == INVALID_HANDLE_VALUE || !::GetConsoleMode(console_, &mode))
            console_ = nullptr;
    }
    ~ConsoleBuffer() override { Write(pending_.size()); }

    bool IsConsole() const { return console_ != nullptr; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        xsputn(&byte, 1);
        return c;
    }

    // Whole lines are converted, so a character's bytes are never split between two writes.
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        const std::size_t lineEnd = pending_.rfind('\n');
        if (lineEnd != std::string::npos)
            Write(lineEnd + 1);
        return count;
    }

    int sync() override {
        Write(pending_.size());
        return 0;
    }

private:
    void Write(std::size_t bytes) {
        const std::wstring text = Utf16(pending_.substr(0, bytes));
        pending_.erase(0, bytes);
        for (std::size_t done = 0; done < text.size();) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
            if (!::WriteConsoleW(console_, text.data() + done, chunk, &written, nullptr) ||
                written == 0)
                return;
            done += written;
        }
    }

    HANDLE console_;
    std::string pending_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utf8(argv[i]));
    ConsoleBuffer outConsole(STD_OUTPUT_HANDLE);
    ConsoleBuffer errConsole(STD_ERROR_HANDLE);
    std::ostream outStream(&outConsole);
    std::ostream errStream(&errConsole);
    return packer::RunStubpack(args, outConsole.IsConsole() ? outStream : std::cout,
                               errConsole.IsConsole() ? errStream : std::cerr);
}
#else
int main(int argc, char** argv) {
    return packer::RunStubpack(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                               std::cerr);
}
#endif
