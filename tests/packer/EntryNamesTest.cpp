#include "packer/EntryNames.h"

#include "package/PackageFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using packer::NameProblem;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(EntryNames, OrdinaryNamesAreAccepted) {
    const std::vector<std::string> names = {"setup.msi",
                                            "run.bat",
                                            "a",
                                            "uninst.iss",
                                            "...x",
                                            "x..y",
                                            "a b.txt",
                                            "COM10",
                                            "console.log",
                                            "nul_device.txt",
                                            std::string(259, 'n')};
    for (const std::string& name : names)
        EXPECT_EQ(NameProblem(name), "") << name;
}

TEST(EntryNames, LengthIsBoundedBy259Bytes) {
    EXPECT_EQ(NameProblem(std::string(260, 'n')),
              "the name is 260 bytes long; at most 259 fit a header");
}

TEST(EntryNames, EveryRefusalNamesItsCause) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "the name is empty"},
        {".", "names a folder"},
        {"..", "names a folder"},
        {"a\\b", "path separator '\\'"},
        {"..\\evil.exe", "path separator '\\'"},
        {"a/b", "path separator '/'"},
        {"C:x", "':'"},
        {"file.txt:stream", "alternate data stream"},
        {"a<b", "does not allow '<'"},
        {"what?", "does not allow '?'"},
        {"star*", "does not allow '*'"},
        {"pipe|x", "does not allow '|'"},
        {"quote\"x", "does not allow '\"'"},
        {"trailing.", "trailing dot or space"},
        {"trailing ", "trailing dot or space"},
        {"CON", "reserved device name"},
        {"nul.txt", "reserved device name"},
        {"Com1.log", "reserved device name"},
        {"lpt9", "reserved device name"},
        {"aux .txt", "reserved device name"},
        {"tab\there", "byte \\x09 at position 3 is not printable ASCII"},
        {"caf\xE9", "byte \\xE9 at position 3"},
        {"\xC3\xA9t\xC3\xA9", "ANSI code page"},
        {std::string("nul\0x", 5), "byte \\x00 at position 3"},
        {"del\x7F", "byte \\x7F"},
    };
    for (const auto& [name, cause] : cases) {
        const std::string problem = NameProblem(name);
        EXPECT_TRUE(Contains(problem, cause))
            << "name '" << packer::Printable(name) << "': got '" << problem << "'";
    }
}

TEST(EntryNames, NoNameTheStubWouldSkipIsAccepted) {
    // The stub skips names that are not plain; the tool must never write one it would skip.
    for (const char* name :
         {"a", "ok.txt", "a\\b", "a/b", "..", ".", "c:", "x:y", "\\", "/", ".. ", "...", "", "CON",
          "nul.txt", "trailing.", "blank ", "tab\there", "x\x7F"}) {
        const std::string text = name;
        const bool plain = package::IsPlainFileName(std::wstring(text.begin(), text.end()));
        EXPECT_TRUE(plain || !NameProblem(text).empty()) << "accepted: " << text;
    }
}

TEST(EntryNames, FoldCaseFoldsOnlyAsciiLetters) {
    EXPECT_EQ(packer::FoldCase("Setup.MSI"), "setup.msi");
    EXPECT_EQ(packer::FoldCase("A-Z_[@]`{"), "a-z_[@]`{");
    EXPECT_EQ(packer::FoldCase("\xC9"), "\xC9");
}

TEST(EntryNames, PrintableEscapesEverythingButPrintableAscii) {
    EXPECT_EQ(packer::Printable("run.bat"), "run.bat");
    EXPECT_EQ(packer::Printable("a\tb\\c\xFF"), "a\\x09b\\x5Cc\\xFF");
    EXPECT_EQ(packer::Printable(std::string("x\0\n", 3)), "x\\x00\\x0A");
}

TEST(EntryNames, QuotedPathEscapesOnlyControlBytes) {
    EXPECT_EQ(packer::QuotedPath("dir\\caf\xC3\xA9 x.exe"), "'dir\\caf\xC3\xA9 x.exe'");
    EXPECT_EQ(packer::QuotedPath("a\nb\rc\x7F"), "'a\\x0Ab\\x0Dc\\x7F'");
}

} // namespace
