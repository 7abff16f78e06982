// The one rule for entry names (package/EntryName.h) as the stub and the packing tool apply it,
// in one table: what the rule says of each stored name, that the stub takes exactly the names it
// accepts, and what the tool says, which adds valid UTF-8 without control characters to the rule
// (printable ASCII for names read in the ANSI code page).
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

std::string Repeated(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i)
        repeated += text;
    return repeated;
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
    // Too long for a header, counted in UTF-8 bytes.
    {std::string(260, 'n'), NameFault::tooLong, "the name is 260 bytes long; at most 259 fit"},
    {LongestPath() + "y", NameFault::tooLong, "the path is 260 bytes long; at most 259 fit"},
    {Repeated("\xE6\x97\xA5", 86) + "a", NameFault::none, ""},
    {Repeated("\xE6\x97\xA5", 90), NameFault::tooLong,
     "the name is 270 bytes in UTF-8 (90 characters); at most 259 fit"},
    {Repeated("\xC3\xA9", 100) + "\\" + Repeated("\xC3\xA9", 30), NameFault::tooLong,
     "the path is 261 bytes in UTF-8 (131 characters); at most 259 fit"},
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
    {"tab\there", NameFault::control, "character U+0009 at position 3 is a control character"},
    {std::string("nul\0x", 5), NameFault::control, "character U+0000 at position 3"},
    {"del\x7F", NameFault::control, "character U+007F at position 3"},
    {"a\\tab\tx", NameFault::control, "its part 'tab\\x09x': character U+0009 at position 3"},
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
    // Names in any language, as UTF-8. (The stub's own decoding is MultiByteToWideChar's.)
    {"caf\xC3\xA9.txt", NameFault::none, ""},
    {"\xC3\x9C"
     "bersetzungen\\fran\xC3\xA7"
     "ais\\Gr\xC3\xBC\xC3\x9F"
     "e.txt",
     NameFault::none, ""},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\\xE8\xA8\xAD\xE5\xAE\x9A.txt", NameFault::none, ""},
    {"\xF0\x9F\x93\xA6.cab", NameFault::none, ""}, // beyond the BMP: U+1F4E6
    {"\xE2\x80\xAEtxt.exe", NameFault::none, ""},  // taken, and shown escaped
    // What the tool adds: UTF-8 that Windows decodes as the tool does, and no control characters.
    {"caf\xE9", NameFault::none, "byte \\xE9 at position 3 is not UTF-8"},
    {"d\xC3\xA4ta\\a\xFF.cab", NameFault::none,
     "its part 'a\\xFF.cab': byte \\xFF at position 1 is not UTF-8"},
    {"\x80x", NameFault::none, "byte \\x80 at position 0 is not UTF-8"},
    {"cut\xE6\x97", NameFault::none, "byte \\xE6 at position 3 is not UTF-8"},
    {"\xE6x\xA5", NameFault::none, "byte \\xE6 at position 0 is not UTF-8"},
    {"a\xC0\xAF", NameFault::none, "byte \\xC0 at position 1 starts an overlong UTF-8 form"},
    {"\xE0\x80\xAE", NameFault::none, "byte \\xE0 at position 0 starts an overlong"},
    {"\xF0\x8F\xBF\xBF", NameFault::none, "byte \\xF0 at position 0 starts an overlong"},
    {"\xED\xA0\x80x", NameFault::none, "byte \\xED at position 0 starts a surrogate"},
    {"x\xED\xBF\xBF", NameFault::none, "byte \\xED at position 1 starts a surrogate"},
    {"\xF4\x90\x80\x80", NameFault::none, "beyond U+10FFFF"},
    {"\xF8\x88\x80\x80\x80", NameFault::none, "byte \\xF8 at position 0 is not UTF-8"},
    {"nel\xC2\x85", NameFault::none, "character U+0085 at position 3 is a control character"},
    {"a\\\xC3\xA9\xC2\x9F", NameFault::none,
     "its part '\xC3\xA9\\xC2\\x9F': character U+009F at position 2"},
    {"COM\xC2\xB9.txt", NameFault::none, "'COM\xC2\xB9.txt' is a reserved device name"},
};

TEST(EntryNameRule, TheStubAndTheToolJudgeEachNameByTheOneRule) {
    for (const NameCase& c : kCases) {
        const std::string shown = packer::ShownName(c.name);
        EXPECT_EQ(static_cast<int>(package::CheckEntryPath(c.name).fault),
                  static_cast<int>(c.fault))
            << shown;
        EXPECT_EQ(package::IsSafeEntryPath(Decoded(c.name)), c.fault == NameFault::none) << shown;
        const std::string problem = packer::EntryPathProblem(c.name, packer::NameText::utf8);
        if (c.tool.empty())
            EXPECT_EQ(problem, "") << shown;
        else
            EXPECT_TRUE(Contains(problem, c.tool)) << shown << ": got '" << problem << "'";
    }
}

// A package not marked as holding UTF-8 names is read in the target's ANSI code page, where only
// printable ASCII means the same everywhere.
TEST(EntryNameRule, NamesReadInTheAnsiCodePageArePrintableAscii) {
    const std::pair<std::string, std::string> cases[] = {
        {"data\\setup.msi", ""},
        {"caf\xC3\xA9", "byte \\xC3 at position 3 is not printable ASCII, and the package's names "
                        "are not marked as UTF-8"},
        {"d\xE4ta\\a.cab", "its part 'd\\xE4ta': byte \\xE4 at position 1 is not printable"},
        {"tab\tx", "character U+0009 at position 3 is a control character"},
    };
    for (const auto& [name, problem] : cases) {
        const std::string got = packer::EntryPathProblem(name, packer::NameText::ansi);
        EXPECT_TRUE(problem.empty() ? got.empty() : Contains(got, problem)) << got;
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

// Windows compares names in the simple upper case of each letter, beyond ASCII too.
TEST(StoredNameClashes, LettersBeyondAsciiDifferingInCase) {
    const std::pair<const char*, const char*> twins[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e.txt",
         "GR\xC3\x9C\xC3\x9F"
         "E.TXT"},                // Latin-1: ü Ü
        {"\xC3\xBF", "\xC5\xB8"}, // ÿ Ÿ
        {"\xC5\x82\xC3\xB3"
         "d\xC5\xBA",
         "\xC5\x81\xC3\x93"
         "D\xC5\xB9"}, // Latin Extended-A: łódź ŁÓDŹ
        {"\xCE\xBF\xCE\xB4\xCF\x8C\xCF\x82",
         "\xCE\x9F\xCE\x94\xCE\x8C\xCE\xA3"},     // Greek: οδός ΟΔΌΣ
        {"\xD1\x91\xD0\xB6", "\xD0\x81\xD0\x96"}, // Cyrillic: ёж ЁЖ
    };
    for (const auto& [lower, upper] : twins) {
        packer::StoredNames names;
        EXPECT_FALSE(names.Add({"data", lower}, 0));
        const auto clash = names.Add({"DATA", upper}, 1);
        ASSERT_TRUE(clash) << upper;
        EXPECT_TRUE(clash->sameFile);
        EXPECT_EQ(clash->path, std::string("DATA\\") + upper);
    }
    // Different names: no simple upper case for ß, and a letter with its mark apart is another.
    packer::StoredNames names;
    for (const char* name : {"Stra\xC3\x9F"
                             "e",
                             "STRASSE", "e\xCC\x81", "\xC3\xA9", "\xE6\x97\xA5"})
        EXPECT_FALSE(names.Add({name}, 0)) << name;
    // A folder met in a spelling of another length is named as the later entry spells it.
    names.Add({"\xC5\xBF"
               "x",
               "a.txt"},
              1); // ſ, whose upper case is S
    const auto clash = names.Add({"SX"}, 2);
    ASSERT_TRUE(clash);
    EXPECT_FALSE(clash->sameFile);
    EXPECT_EQ(clash->path, "SX");
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

// One harmless line: UTF-8 as it is, but no control character, nothing that turns the line around
// or ends it, and no byte that is no UTF-8; ANSI text keeps printable ASCII alone.
TEST(EntryNames, PrintableShowsUtf8AndEscapesWhatMovesTheLine) {
    const std::pair<std::string, std::string> utf8[] = {
        {"run.bat", "run.bat"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5.txt",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5.txt"},
        {"a\tb\\c\xFF", "a\\x09b\\x5Cc\\xFF"},
        {std::string("x\0\n", 3), "x\\x00\\x0A"},
        {"nel\xC2\x85", "nel\\xC2\\x85"},
        {"\xE2\x80\xAEtxt.exe", "\\xE2\\x80\\xAEtxt.exe"}, // right-to-left override
        {"a\xE2\x81\xA6"
         "b\xE2\x80\xA8",
         "a\\xE2\\x81\\xA6b\\xE2\\x80\\xA8"}, // isolate, line separator
        {"\xE6\x97", "\\xE6\\x97"},
    };
    for (const auto& [name, shown] : utf8)
        EXPECT_EQ(packer::Printable(name), shown);
    EXPECT_EQ(packer::Printable("caf\xC3\xA9", packer::NameText::ansi), "caf\\xC3\\xA9");
    EXPECT_EQ(packer::ShownName("\xC3\xA9\\\xE2\x80\xAE"), "\xC3\xA9\\\\xE2\\x80\\xAE");
}

TEST(EntryNames, QuotedPathKeepsBackslashesAndUtf8) {
    EXPECT_EQ(packer::QuotedPath("dir\\caf\xC3\xA9 x.exe"), "'dir\\caf\xC3\xA9 x.exe'");
    EXPECT_EQ(packer::QuotedPath("a\nb\rc\x7F\xE9"), "'a\\x0Ab\\x0Dc\\x7F\\xE9'");
}

} // namespace
