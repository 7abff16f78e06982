#include "packer/Operands.h"
#include "packer/PackError.h"
#include "packer/ResponseFiles.h"
#include "packer/Wildcards.h"

#include "tests/packer/TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using packer::WildcardMatches;

// ---- Wildcards ----------------------------------------------------------------------------------

TEST(Wildcards, StarAndQuestionMark) {
    const std::vector<std::pair<const char*, const char*>> matching = {
        {"*", "setup.msi"},
        {"*.cab", "a.cab"},
        {"*.cab", ".cab"},
        {"a*b*c", "abc"},
        {"a*b*c", "aXbYbZc"},
        {"data?.cab", "data1.cab"},
        {"*.CAB", "Disk1.cab"},
        {"SETUP.*", "setup.msi"},
        {"*.*", "README"},
        {"setup.*", "setup"},
        {"??", "\xC3\xA9t"},
        {"?", "\xE2\x82\xAC"},
        {"caf\xC3\xA9*", "caf\xC3\xA9.txt"}};
    for (const auto& [pattern, name] : matching)
        EXPECT_TRUE(WildcardMatches(pattern, name)) << pattern << " " << name;

    const std::vector<std::pair<const char*, const char*>> failing = {{"*.cab", "a.cab.bak"},
                                                                      {"a*b*c", "aXbYbZ"},
                                                                      {"data?.cab", "data.cab"},
                                                                      {"data?.cab", "data12.cab"},
                                                                      {"?", "ab"},
                                                                      {"*.msi", "setup.ms"},
                                                                      {"?", "\xC3\xA9t"},
                                                                      {"\xC3\x89*", "\xC3\xA9t"},
                                                                      {"setup.*", "setupx"}};
    for (const auto& [pattern, name] : failing)
        EXPECT_FALSE(WildcardMatches(pattern, name)) << pattern << " " << name;
}

TEST(Wildcards, ManyStarsStayCheap) {
    const std::string name(2000, 'a');
    EXPECT_FALSE(WildcardMatches(std::string(30, '*') + "b", name));
    EXPECT_TRUE(WildcardMatches("*a*a*a*a*a*a*a*a*a", name));
}

class WildcardFolder : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"b.cab", "A.cab", "c.CAB", "notes.txt"})
            WriteBytes(folder_ / name, {});
        fs::create_directories(folder_ / "d.cab");
    }

    TempFolder folder_;
};

TEST_F(WildcardFolder, ExpandsToFilesAndFoldersSortedByName) {
    EXPECT_EQ(packer::ExpandWildcard(folder_ / "*.cab"),
              (std::vector<fs::path>{folder_ / "A.cab", folder_ / "b.cab", folder_ / "c.CAB",
                                     folder_ / "d.cab"}));
    // Relative, as typed.
    const fs::path here = fs::current_path();
    fs::current_path(folder_.Path());
    const std::vector<fs::path> relative = packer::ExpandWildcard("?otes.*");
    fs::current_path(here);
    EXPECT_EQ(relative, std::vector<fs::path>{"notes.txt"});
}

TEST_F(WildcardFolder, APatternThatMatchesNothingIsRefused) {
    for (const fs::path& pattern : {folder_ / "*.msi", folder_ / "absent" / "*.cab"}) {
        try {
            packer::ExpandWildcard(pattern);
            ADD_FAILURE() << pattern;
        } catch (const packer::PackError& error) {
            EXPECT_EQ(error.what(), "'" + pattern.string() + "' matches no file or folder");
        }
    }
}

// ---- Response files -----------------------------------------------------------------------------

TEST(ResponseFiles, OnePathALine) {
    EXPECT_EQ(packer::ResponseFileLines("\xEF\xBB\xBF"
                                        "a.cab\r\n\r\n  \t\nlang\\de x.txt \n@b\nlast"),
              (std::vector<std::string>{"a.cab", "lang\\de x.txt ", "@b", "last"}));
    EXPECT_EQ(packer::ResponseFileLines(""), std::vector<std::string>{});
}

// ---- Operands -----------------------------------------------------------------------------------

TEST(Operands, ResponseFilesAlwaysWildcardsWhereAsked) {
    TempFolder folder;
    for (const char* name : {"a.cab", "b.cab"})
        WriteBytes(folder / name, {});
    const std::string text = "*.cab\n@x\n";
    WriteBytes(folder / "list", fake::Bytes(text.begin(), text.end()));
    const std::vector<std::string> operands = {"run.bat", (folder / "*.cab").string(),
                                               "@" + (folder / "list").string(), "@"};

    EXPECT_EQ(packer::ExpandOperands(operands, packer::Wildcards::expand),
              (std::vector<fs::path>{"run.bat", folder / "a.cab", folder / "b.cab",
                                     folder / "*.cab", folder / "@x", "@"}));
    EXPECT_EQ(
        packer::ExpandOperands(operands, packer::Wildcards::literal),
        (std::vector<fs::path>{"run.bat", folder / "*.cab", folder / "*.cab", folder / "@x", "@"}));
}

} // namespace
