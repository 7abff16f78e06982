#include "tests/packer/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    const std::string name = std::string("stubpack-") + test->test_suite_name() + "-" +
                             test->name() + "-" + std::to_string(random());
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

void WriteBytes(const fs::path& path, const fake::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

fake::Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return fake::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
