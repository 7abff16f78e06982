// The one rule for entry names (package/EntryName.h) as the stub and the packing tool apply it,
// in one table: what the rule says of each stored name, that the stub takes exactly the names it
// accepts, and what the tool says, which adds printable ASCII to the rule.
#include "packer/EntryNames.h"
#include "packer/NameClashes.h"

#include "package/EntryName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using package::NameFault;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The name as the stub decodes it on a single-byte code page that keeps Latin-1.
std::wstring Decoded(const std::string& bytes) {
    std::wstring name;
    for (const char c : bytes)
        name += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return name;
}

// 43 parts of "abcde" and "x": 259 bytes, the most a header holds.
std::string LongestPath() {
    std::string path;
    for (int i = 0; i < 43; ++i)
        path += "abcde\\";
    return path + "x";
}

struct NameCase {
    std::string name; // as stored
    NameFault fault;  // what the rule says, for the stub and the tool alike
    std::string tool; // part of the tool's refusal; empty when the tool takes the name
};

const std::vector<NameCase> kCases = {
    // Names and paths both take.
    {"setup.msi", NameFault::none, ""},
    {"a", NameFault::none, ""},
    {"...x", NameFault::none, ""},
    {"x..y", NameFault::none, ""},
    {"a b.txt", NameFault::none, ""},
    {"COM10", NameFault::none, ""},
    {"console.log", NameFault::none, ""},
    {"nul_device.txt", NameFault::none, ""},
    {std::string(259, 'n'), NameFault::none, ""},
    {"data\\lang\\de\\readme.txt", NameFault::none, ""},
    {LongestPath(), NameFault::none, ""},
    // Too long for a header.
    {std::string(260, 'n'), NameFault::tooLong,
     "the name is 260 bytes long; at most 259 fit a header"},
    {LongestPath() + "y", NameFault::tooLong,
     "the path is 260 bytes long; at most 259 fit a header"},
    // Out of the folder, or no file.
    {"", NameFault::empty, "the name is empty"},
    {".", NameFault::currentFolder, "'.' names a folder, not a file"},
    {"..", NameFault::parentFolder, "'..' names a folder, not a file"},
    {"\\root.txt", NameFault::empty, "the path has an empty part"},
    {"data\\", NameFault::empty, "empty part"},
    {"data\\\\a.cab", NameFault::empty, "empty part"},
    {"..\\evil.exe", NameFault::parentFolder,
     "the path holds '..', which would lead out of its folder"},
    {"data\\..\\..\\evil.exe", NameFault::parentFolder, "'..'"},
    {"data\\.\\a.cab", NameFault::currentFolder, "the path holds '.', which names the folder"},
    {"a/b", NameFault::separator, "the name holds the path separator '/'"},
    {"data\\a/b.cab", NameFault::separator,
     "its part 'a/b.cab': the name holds the path separator '/'"},
    {"C:x", NameFault::colon, "the name holds ':'"},
    {"C:\\evil.exe", NameFault::colon, "its part 'C:': the name holds ':'"},
    {"file.txt:stream", NameFault::colon, "alternate data stream"},
    {"data\\x:stream", NameFault::colon, "its part 'x:stream'"},
    // Characters Windows does not take.
    {"tab\there", NameFault::control, "byte \\x09 at position 3 is not printable ASCII"},
    {std::string("nul\0x", 5), NameFault::control, "byte \\x00 at position 3"},
    {"del\x7F", NameFault::control, "byte \\x7F at position 3"},
    {"a\\tab\tx", NameFault::control, "its part 'tab\\x09x': byte \\x09 at position 3"},
    {"a<b", NameFault::reservedCharacter, "Windows does not allow '<' in a file name"},
    {"a>b", NameFault::reservedCharacter, "does not allow '>'"},
    {"what?", NameFault::reservedCharacter, "does not allow '?'"},
    {"star*", NameFault::reservedCharacter, "does not allow '*'"},
    {"pipe|x", NameFault::reservedCharacter, "does not allow '|'"},
    {"quote\"x", NameFault::reservedCharacter, "does not allow '\"'"},
    {"data\\a?.txt", NameFault::reservedCharacter, "its part 'a?.txt': Windows does not allow"},
    // Names Windows creates as another file, or opens as a device.
    {"trailing.", NameFault::trailingDotOrBlank, "Windows drops a trailing dot or space"},
    {"trailing ", NameFault::trailingDotOrBlank, "trailing dot or space"},
    {"...", NameFault::trailingDotOrBlank, "trailing dot or space"},
    {"data.\\a.cab", NameFault::trailingDotOrBlank, "its part 'data.': Windows drops"},
    {"dir \\a", NameFault::trailingDotOrBlank, "its part 'dir ': Windows drops"},
    {"CON", NameFault::deviceName, "'CON' is a reserved device name on Windows"},
    {"nul.txt", NameFault::deviceName, "reserved device name"},
    {"Com1.log", NameFault::deviceName, "reserved device name"},
    {"lpt9", NameFault::deviceName, "reserved device name"},
    {"aux .txt", NameFault::deviceName, "reserved device name"},
    {"data\\CON\\a.cab", NameFault::deviceName, "its part 'CON': 'CON' is a reserved device"},
    // What the tool adds: printable ASCII only, as the stub decodes with the target's code page.
    {"caf\xE9", NameFault::none, "byte \\xE9 at position 3"},
    {"\xC3\xA9t\xC3\xA9", NameFault::none, "ANSI code page"},
    {"d\xC3\xA4ta\\a.cab", NameFault::none, "its part 'd\\xC3\\xA4ta': byte \\xC3 at position 1"},
};

TEST(EntryNameRule, TheStubAndTheToolJudgeEachNameByTheOneRule) {
    for (const NameCase& c : kCases) {
        const std::string shown = packer::ShownName(c.name);
        EXPECT_EQ(static_cast<int>(package::CheckEntryPath(c.name).fault),
                  static_cast<int>(c.fault))
            << shown;
        EXPECT_EQ(package::IsSafeEntryPath(Decoded(c.name)), c.fault == NameFault::none) << shown;
        const std::string problem = packer::EntryPathProblem(c.name);
        if (c.tool.empty())
            EXPECT_EQ(problem, "") << shown;
        else
            EXPECT_TRUE(Contains(problem, c.tool)) << shown << ": got '" << problem << "'";
    }
}

TEST(EntryNameRule, TheFaultIsPlacedInItsPartAndCharacter) {
    const package::NameVerdict verdict = package::CheckEntryPath("data\\lang\\d<e?.txt");
    EXPECT_EQ(verdict.fault, NameFault::reservedCharacter);
    EXPECT_EQ(verdict.part, 2u);
    EXPECT_EQ(verdict.position, 1u);
    // A part given apart that holds a backslash itself (a Linux file name) is no folder.
    const package::NameVerdict apart =
        package::CheckEntryName(std::vector<std::string_view>{"data", "a\\b.txt"});
    EXPECT_EQ(apart.fault, NameFault::separator);
    EXPECT_EQ(apart.part, 1u);
    EXPECT_TRUE(Contains(packer::StoredNameProblem({"data", "a\\b.txt"}),
                         "its part 'a\\x5Cb.txt': the name holds the path separator '\\'"));
    EXPECT_EQ(packer::StoredNameProblem({"data", "lang", "de", "readme.txt"}), "");
}

TEST(EntryNameRule, TheStubJudgesTheNameAsDecoded) {
    // Superscript digits make a device of a decoded name; other letters beyond ASCII are the
    // stub's to take, as the tool never stores them.
    EXPECT_FALSE(package::IsSafeEntryPath(L"data\\COM\u00B9.txt"));
    EXPECT_TRUE(package::IsSafeEntryPath(L"caf\u00E9\\\u0416.txt"));
    EXPECT_FALSE(package::IsSafeEntryPath(L"data\\\u0416\x7F"));
    EXPECT_EQ(package::SplitEntryPath(L"a\\b\\c"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
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
