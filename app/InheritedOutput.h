// The default script's output handle, passed to the command processor as its standard output and
// as the one handle it inherits: nothing else the stub holds reaches it.
#pragma once

#include <windows.h>

#include <vector>

class InheritedOutput {
public:
    // No handle passes nothing on.
    explicit InheritedOutput(HANDLE output);
    ~InheritedOutput();
    InheritedOutput(const InheritedOutput&) = delete;
    InheritedOutput& operator=(const InheritedOutput&) = delete;

    // False when the handle could not be passed on alone.
    [[nodiscard]] bool Ready() const noexcept { return output_ == nullptr || ready_; }
    // Standard input and error are none: nobody sees the hidden console to answer or read it.
    void FillIn(STARTUPINFOEXW& startup) const noexcept;
    [[nodiscard]] bool Inherits() const noexcept { return output_ != nullptr; }
    [[nodiscard]] DWORD CreationFlags() const noexcept {
        return output_ != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0;
    }

private:
    HANDLE output_;
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ready_ = false;
};
