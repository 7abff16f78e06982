#include "packer/EntryNames.h"
#include "packer/NameClashes.h"

#include "package/PackageFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using packer::EntryPathProblem;
using packer::NameProblem;
using packer::StoredNameProblem;

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
    // Nor a path the stub would not take as one inside its folder.
    for (const char* path :
         {"data\\a.cab", "a\\b\\c", "\\a", "a\\", "a\\\\b", "..\\a", "a\\..\\b", ".\\a", "a\\.",
          "C:\\a", "a\\c:", "CON\\a", "a\\aux.txt", "dir.\\a", "dir \\a", "a/b\\c", "a\\tab\tx"}) {
        const std::string text = path;
        const bool safe = package::IsSafeEntryPath(std::wstring(text.begin(), text.end()));
        EXPECT_EQ(safe, EntryPathProblem(text).empty()) << text;
    }
}

TEST(EntryPaths, FolderNamesAndTheFilesNameMakeOneStoredName) {
    EXPECT_EQ(StoredNameProblem({"data", "lang", "de", "readme.txt"}), "");
    EXPECT_EQ(EntryPathProblem("data\\lang\\de\\readme.txt"), "");
    std::vector<std::string> longest(43, "abcde"); // 43 * 6 - 1 = 257 bytes, then "\\x"
    longest.push_back("x");
    EXPECT_EQ(StoredNameProblem(longest), "") << packer::JoinEntryPath(longest).size();
    longest.back() = "xy";
    EXPECT_EQ(StoredNameProblem(longest), "the path is 260 bytes long; at most 259 fit a header");
}

TEST(EntryPaths, EveryRefusalNamesItsCause) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\\root.txt", "empty part"},
        {"data\\", "empty part"},
        {"data\\\\a.cab", "empty part"},
        {"..\\evil.exe", "the path holds '..', which would lead out of its folder"},
        {"data\\..\\..\\evil.exe", "'..'"},
        {"data\\.\\a.cab", "the path holds '.'"},
        {"C:\\evil.exe", "its part 'C:': the name holds ':'"},
        {"data\\CON\\a.cab", "its part 'CON': 'CON' is a reserved device name"},
        {"data.\\a.cab", "its part 'data.': Windows drops a trailing dot"},
        {"data\\a/b.cab", "its part 'a/b.cab': the name holds the path separator '/'"},
        {"d\xC3\xA4ta\\a.cab", "its part 'd\\xC3\\xA4ta': byte \\xC3 at position 1"},
    };
    for (const auto& [path, cause] : cases) {
        const std::string problem = EntryPathProblem(path);
        EXPECT_TRUE(Contains(problem, cause))
            << "path '" << packer::ShownName(path) << "': got '" << problem << "'";
    }
    // A part that holds a backslash itself (a Linux file name) is no folder.
    EXPECT_TRUE(Contains(StoredNameProblem({"data", "a\\b.txt"}),
                         "its part 'a\\x5Cb.txt': the name holds the path separator '\\'"));
}

TEST(EntryPaths, ShownNamesKeepTheFolderSeparators) {
    EXPECT_EQ(packer::ShownName("data\\lang\\de.txt"), "data\\lang\\de.txt");
    EXPECT_EQ(packer::ShownName("a\tb\\c\xFF"), "a\\x09b\\c\\xFF");
}

// ---- Clashes between stored names ---------------------------------------------------------------

TEST(StoredNameClashes, FilesMayShareFoldersWhateverTheirSpelling) {
    packer::StoredNames names;
    EXPECT_FALSE(names.Add({"data", "a.cab"}, 0));
    EXPECT_FALSE(names.Add({"Data", "lang", "de.txt"}, 1));
    EXPECT_FALSE(names.Add({"data", "LANG", "fr.txt"}, 2));
    EXPECT_FALSE(names.Add({"run.bat"}, 3));
}

TEST(StoredNameClashes, OneFileTwiceWhenCaseIsIgnored) {
    packer::StoredNames names;
    names.Add({"run.bat"}, 0);
    names.Add({"data", "a.cab"}, 1);
    const auto top = names.Add({"RUN.BAT"}, 2);
    ASSERT_TRUE(top);
    EXPECT_TRUE(top->sameFile);
    EXPECT_EQ(top->earlier, 0u);
    EXPECT_EQ(top->earlierName, "run.bat");
    const auto nested = names.Add({"DATA", "A.cab"}, 3);
    ASSERT_TRUE(nested);
    EXPECT_TRUE(nested->sameFile);
    EXPECT_EQ(nested->earlier, 1u);
    EXPECT_EQ(nested->path, "DATA\\A.cab");
}

TEST(StoredNameClashes, ANameAsAFileAndAsAFolder) {
    for (const bool fileFirst : {true, false}) {
        packer::StoredNames names;
        const std::vector<std::string> file = {"data", "lang"};
        const std::vector<std::string> inside = {"Data", "Lang", "de.txt"};
        names.Add(fileFirst ? file : inside, 0);
        const auto clash = names.Add(fileFirst ? inside : file, 1);
        ASSERT_TRUE(clash) << fileFirst;
        EXPECT_FALSE(clash->sameFile);
        EXPECT_EQ(clash->earlier, 0u);
        EXPECT_EQ(clash->path, fileFirst ? "Data\\Lang" : "data\\lang");
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
