// A fresh folder per test, removed with everything in it when the test ends, and the few file
// operations the packing tool's tests need around it.
#pragma once

#include "tests/support/FakeStub.h"

#include <filesystem>
#include <set>
#include <string>

// The names of everything directly in a folder, hidden files included.
std::set<std::string> NamesIn(const std::filesystem::path& folder);

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    std::set<std::string> Names() const { return NamesIn(path_); }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const fake::Bytes& bytes);
fake::Bytes ReadBytes(const std::filesystem::path& path);
