#include "packer/Cli.h"

#include "tests/packer/TempFolder.h"
#include "tests/support/FakeStub.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome Stubpack(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome run;
    run.status = packer::RunStubpack(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The stored names `stubpack list` shows, in order.
std::vector<std::string> ListedNames(const std::string& file) {
    std::istringstream lines(Stubpack({"list", file}).out);
    std::vector<std::string> names;
    std::string line;
    std::getline(lines, line); // the summary
    while (std::getline(lines, line)) {
        const std::size_t name = line.find('\t') + 1;
        names.push_back(line.substr(name, line.find('\t', name) - name));
    }
    return names;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// ---- Usage --------------------------------------------------------------------------------------

TEST(CliUsage, EverySubcommandHasHelp) {
    for (const std::string command : {"create", "list", "extract", "check"}) {
        const Outcome run = Stubpack({command, "--help"});
        EXPECT_EQ(run.status, packer::kExitOk) << command;
        EXPECT_TRUE(StartsWith(run.out, "usage: stubpack " + command)) << run.out;
        EXPECT_EQ(run.err, "") << command;
    }
}

TEST(CliUsage, HelpIsAskedForOnlyWhereAnOptionMayStand) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", "--stub", "missing.exe", "-h"},
          {"create", "--bogus", "--help"},
          {"extract", "a.exe", "-h", "dir"}}) {
        const Outcome run = Stubpack(args);
        EXPECT_EQ(run.status, packer::kExitOk) << args[1];
        EXPECT_TRUE(StartsWith(run.out, "usage: stubpack " + args[0])) << run.out;
    }
    // After "--" it is a file name.
    const Outcome run = Stubpack({"list", "--", "-h"});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack list: '-h' does not exist\n");
}

TEST(CliUsage, VersionNamesTheProjectsVersionAndTheCommit) {
    const std::string start = "stubpack " UNPACK_PROJECT_VERSION " (commit ";
    for (const std::string option : {"--version", "-V"}) {
        const Outcome run = Stubpack({option});
        EXPECT_EQ(run.status, packer::kExitOk);
        EXPECT_EQ(run.err, "");
        ASSERT_TRUE(StartsWith(run.out, start) && run.out.size() > start.size() + 2) << run.out;
        EXPECT_EQ(run.out.substr(run.out.size() - 2), ")\n");
        std::string commit = run.out.substr(start.size(), run.out.size() - start.size() - 2);
        if (commit.size() > 6 && commit.compare(commit.size() - 6, 6, "-dirty") == 0)
            commit.resize(commit.size() - 6);
        const bool hash = commit.size() == 12 &&
                          commit.find_first_not_of("0123456789abcdef") == std::string::npos;
        EXPECT_TRUE(hash || commit == "unknown") << run.out;
    }
}

TEST(CliUsage, NoArgumentsOrAnUnknownCommand) {
    for (const auto& [args, message] :
         {std::pair(std::vector<std::string>{}, "stubpack: no command given\n"),
          std::pair(std::vector<std::string>{"pack"}, "stubpack: unknown command 'pack'\n")}) {
        const Outcome run = Stubpack(args);
        EXPECT_EQ(run.status, packer::kExitUsage);
        EXPECT_EQ(run.err, std::string(message) + "try 'stubpack --help'\n");
        EXPECT_EQ(run.out, "");
    }
}

// One line says what is wrong, and the next where to read more: the help is not repeated.
TEST(CliUsage, WrongArgumentsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"create", "--stub", "s.exe", "a.txt"}, "stubpack create: --output is missing\n"},
        {{"create", "--output", "o.exe", "a.txt"}, "stubpack create: --stub is missing\n"},
        {{"create", "--stub", "s.exe", "--output", "o.exe"}, "stubpack create: no files to pack\n"},
        {{"create", "--stub"}, "stubpack create: --stub needs a path\n"},
        {{"create", "--stub", "a", "--stub", "b"}, "stubpack create: --stub is given twice\n"},
        {{"create", "--sign", "x"}, "stubpack create: unknown option '--sign'\n"},
        {{"create", "--exit-code", "always", "--stub", "s.exe", "--output", "o.exe", "a.txt"},
         "stubpack create: --exit-code must be installer or zero, not 'always'\n"},
        {{"create", "--exit-code"}, "stubpack create: --exit-code needs installer or zero\n"},
        {{"create", "--exit-code=", "a.txt"},
         "stubpack create: --exit-code needs installer or zero\n"},
        {{"create", "--stub=s.exe", "--stub", "t.exe"}, "stubpack create: --stub is given twice\n"},
        {{"create", "--force=yes", "a.txt"}, "stubpack create: --force takes no value\n"},
        {{"create", "--sign=x", "a.txt"}, "stubpack create: unknown option '--sign'\n"},
        {{"list", "-q", "a.exe"}, "stubpack list: unknown option '-q'\n"},
        {{"create", "--wait-children"},
         "stubpack create: --wait-children needs a number of seconds\n"},
        {{"extract", "--stub", "a", "b"}, "stubpack extract: unknown option '--stub'\n"},
        {{"list", "--force", "a"}, "stubpack list: unknown option '--force'\n"},
        {{"list"}, "stubpack list: expected FILE, got 0 arguments\n"},
        {{"extract", "a.exe"}, "stubpack extract: expected FILE DIR, got 1 arguments\n"},
        {{"check", "a", "b"}, "stubpack check: expected FILE, got 2 arguments\n"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome run = Stubpack(args);
        EXPECT_EQ(run.status, packer::kExitUsage) << message;
        EXPECT_EQ(run.err, message + "try 'stubpack --help'\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(CliUsage, TheWaitForChildrenIsAWholeNumberOfSecondsUpToAWeek) {
    for (const char* wait :
         {"-1", "+5", "1e3", "10s", " 10", "604801", "99999999999999999999999"}) {
        const Outcome run = Stubpack(
            {"create", "--wait-children", wait, "--stub", "s.exe", "--output", "o.exe", "a.txt"});
        EXPECT_EQ(run.status, packer::kExitUsage) << wait;
        EXPECT_TRUE(StartsWith(run.err, "stubpack create: --wait-children must be a whole number "
                                        "of seconds from 0 to 604800, not '" +
                                            std::string(wait) + "'\n"))
            << run.err;
    }
}

// ---- Outcomes -----------------------------------------------------------------------------------

class CliFiles : public testing::Test {
protected:
    std::string Path(const std::string& name) { return (folder_ / name).string(); }

    void SetUp() override {
        WriteBytes(folder_ / "stub.exe", fake::PeImage(1001));
        WriteBytes(folder_ / "run.bat", fake::Pattern(15));
        WriteBytes(folder_ / "setup.msi", fake::Pattern(3000, 5));
    }

    TempFolder folder_;
};

// setup.msi shrinks and is compressed, the 15 bytes of run.bat are stored behind their payload
// header; --store lays the package out as ever.
TEST_F(CliFiles, CreateThenCheckListAndExtract) {
    Outcome run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
                            Path("setup.msi"), Path("run.bat")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(StartsWith(run.out, "wrote " + Path("setup.exe") +
                                        ": 2 entries, 3015 payload bytes (1 compressed: "))
        << run.out;

    run = Stubpack({"check", Path("setup.exe")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_TRUE(StartsWith(run.out, "ok: 2 entries, 3015 payload bytes (")) << run.out;
    EXPECT_NE(run.out.find(" bytes in the package, 3000 extracted (lzma)\n"
                           "entry 2 'run.bat': 31 bytes in the package, 15 extracted (stored)\n"
                           "note: the signature"),
              std::string::npos)
        << run.out;

    run = Stubpack({"list", Path("setup.exe")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    const std::size_t first = run.out.find("\n1\tsetup.msi\t");
    const std::size_t second = run.out.find("\t3000\tlzma\n2\trun.bat\t31\t");
    EXPECT_NE(first, std::string::npos) << run.out;
    EXPECT_LT(first, second) << run.out;
    EXPECT_TRUE(EndsWith(run.out, "\t15\tstored\n")) << run.out;

    run = Stubpack({"extract", Path("setup.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "out" / "setup.msi"), fake::Pattern(3000, 5));
    EXPECT_EQ(ReadBytes(folder_ / "out" / "run.bat"), fake::Pattern(15));

    run = Stubpack({"create", "--store", "--force", "--stub", Path("stub.exe"), "--output",
                    Path("setup.exe"), Path("setup.msi"), Path("run.bat")});
    EXPECT_EQ(run.out, "wrote " + Path("setup.exe") +
                           ": 2 entries, 3015 payload bytes, image 1005 bytes (4 of padding), "
                           "4880 bytes in all\n");
    run = Stubpack({"list", Path("setup.exe")});
    EXPECT_EQ(run.out, "image 1005 bytes, certificate table 0 bytes, digest verified, exit code: "
                       "installer, wait for children: 600 s\n"
                       "1\tsetup.msi\t3000\t1289\t3000\tstored\n"
                       "2\trun.bat\t15\t4573\t15\tstored\n");
}

// Names in any language go in as the file system spells them (the bytes of a Linux path) and come
// out the same: listed as they are, extracted under the same bytes.
TEST_F(CliFiles, NamesBeyondAsciiAreListedAndExtractedAsGiven) {
    const std::vector<std::string> names = {
        "\xC3\x9C"
        "bersetzungen/fran\xC3\xA7"
        "ais/Gr\xC3\xBC\xC3\x9F"
        "e.txt",
        "\xC3\x9C"
        "bersetzungen/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xA8\xAD\xE5\xAE\x9A.txt"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        fs::create_directories((folder_ / names[i]).parent_path());
        WriteBytes(folder_ / names[i], fake::Pattern(10 + i));
    }
    Outcome run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
                            Path("run.bat"),
                            Path("\xC3\x9C"
                                 "bersetzungen")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    std::vector<std::string> stored = {"run.bat"};
    for (std::string name : names)
        stored.push_back(name.replace(name.find('/'), 1, "\\").replace(name.rfind('/'), 1, "\\"));
    EXPECT_EQ(ListedNames(Path("setup.exe")), stored);
    EXPECT_EQ(Stubpack({"check", Path("setup.exe")}).status, packer::kExitOk);

    run = Stubpack({"extract", Path("setup.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_NE(run.out.find("\t" + stored[1] + "\t10\n"), std::string::npos) << run.out;
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadBytes(folder_ / "out" / names[i]), fake::Pattern(10 + i)) << names[i];
}

// The settings as the stub reads them: any exit-code value but 0 passes outcomes on.
TEST_F(CliFiles, CheckAndListReportTheSettings) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> packed = {
        {"zero.exe", {"--exit-code", "zero"}},
        {"installer.exe", {}},
        {"wait.exe", {"--wait-children", "0"}}};
    for (const auto& [name, options] : packed) {
        std::vector<std::string> args = {"create",   "--stub",   Path("stub.exe"),
                                         "--output", Path(name), Path("run.bat")};
        args.insert(args.begin() + 1, options.begin(), options.end());
        const Outcome run = Stubpack(args);
        ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    }
    fake::Bytes file = ReadBytes(folder_ / "installer.exe");
    fake::Put32(file, fake::kSettingsOffset + 64, 7);
    WriteBytes(folder_ / "seven.exe", file);

    const std::pair<const char*, const char*> cases[] = {
        {"zero.exe", "exit code: zero, wait for children: 600 s"},
        {"installer.exe", "exit code: installer, wait for children: 600 s"},
        {"seven.exe", "exit code: installer (value 7), wait for children: 600 s"},
        {"wait.exe", "exit code: installer, wait for children: 0 s"}};
    for (const auto& [name, report] : cases) {
        Outcome run = Stubpack({"check", Path(name)});
        EXPECT_TRUE(StartsWith(run.out, "ok: 1 entries, 15 payload bytes, image 1001 bytes (PE32), "
                                        "unsigned, digest verified, " +
                                            std::string(report) + "\n"))
            << run.out << run.err;
        run = Stubpack({"list", Path(name)});
        EXPECT_EQ(run.out, "image 1001 bytes, certificate table 0 bytes, digest verified, " +
                               std::string(report) + "\n1\trun.bat\t15\t1285\t15\tstored\n")
            << run.err;
    }
}

// "--option=value" is "--option value", and packs the same bytes.
TEST_F(CliFiles, AnOptionsValueMayFollowAnEqualsSign) {
    fs::create_directories(folder_ / "a");
    fs::create_directories(folder_ / "b");
    Outcome run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("a/setup.exe"),
                            "--exit-code", "zero", "--wait-children", "30", Path("run.bat")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    run = Stubpack({"create", "--stub=" + Path("stub.exe"), "--output=" + Path("b/setup.exe"),
                    "--exit-code=zero", "--wait-children=30", Path("run.bat")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "b" / "setup.exe"), ReadBytes(folder_ / "a" / "setup.exe"));
    EXPECT_NE(Stubpack({"list", Path("b/setup.exe")})
                  .out.find("exit code: zero, wait for children: 30 s"),
              std::string::npos);
}

// Each line a path, relative to the list's folder; the list's own "@" lines are names.
TEST_F(CliFiles, AResponseFileStandsForThePathsItLists) {
    fs::create_directories(folder_ / "lists" / "data");
    WriteBytes(folder_ / "lists" / "data" / "a.cab", fake::Pattern(9));
    WriteBytes(folder_ / "lists" / "@odd", fake::Pattern(4));
    const std::string list = "\xEF\xBB\xBF"
                             "data\r\n\r\n   \n@odd\n" +
                             Path("run.bat") + "\n";
    WriteBytes(folder_ / "lists" / "files.txt", fake::Bytes(list.begin(), list.end()));
    Outcome run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
                            Path("setup.msi"), "@" + Path("lists/files.txt")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ListedNames(Path("setup.exe")),
              (std::vector<std::string>{"setup.msi", "data\\a.cab", "@odd", "run.bat"}));

    run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("other.exe"),
                    "@" + Path("absent.txt")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err,
              "stubpack create: response file '" + Path("absent.txt") + "' does not exist\n");
}

// The shell expands wildcards on Linux; what it leaves is a name.
TEST_F(CliFiles, TheLinuxToolTakesAWildcardLiterally) {
    const Outcome run = Stubpack(
        {"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"), Path("*.bat")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack create: '" + Path("*.bat") + "' does not exist\n");
}

TEST_F(CliFiles, AFailureIsOneLineAndExitStatus1) {
    const Outcome run = Stubpack({"list", Path("nothing.exe")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack list: '" + Path("nothing.exe") + "' does not exist\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(CliFiles, AnOptionsValueIsNeverHelp) {
    const fs::path before = fs::current_path();
    fs::current_path(folder_.Path());
    const Outcome run = Stubpack({"create", "--output", "-h", "--stub", "stub.exe", "run.bat"});
    fs::current_path(before);
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_TRUE(StartsWith(run.out, "wrote -h: 1 entry, 15 payload bytes")) << run.out;
    EXPECT_EQ(ReadBytes(folder_ / "-h").size(), 1001u + 284 + 15 + 8 + 284); // no padding
}

TEST_F(CliFiles, CreateRefusesAnExistingOutputUnlessForced) {
    const std::vector<std::string> create = {"create",   "--stub",          Path("stub.exe"),
                                             "--output", Path("setup.exe"), Path("run.bat")};
    WriteBytes(folder_ / "setup.exe", fake::Pattern(7));
    Outcome run = Stubpack(create);
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack create: '" + Path("setup.exe") +
                           "' already exists; give --force to replace it\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(folder_.Names(),
              (std::set<std::string>{"run.bat", "setup.msi", "stub.exe", "setup.exe"}));
    EXPECT_EQ(ReadBytes(folder_ / "setup.exe"), fake::Pattern(7));

    std::vector<std::string> forced = create;
    forced.push_back("--force");
    run = Stubpack(forced);
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "setup.exe").size(), 1001u + 284 + 15 + 8 + 284);
}

TEST_F(CliFiles, CreateWarnsWhenThePackageHasNoRunBat) {
    const std::string warning = "stubpack create: warning: the package has no run.bat, which the "
                                "stub runs when started without arguments\n";
    Outcome run = Stubpack({"create", "--store", "--stub", Path("stub.exe"), "--output",
                            Path("a.exe"), Path("setup.msi")});
    EXPECT_EQ(run.status, packer::kExitOk);
    EXPECT_EQ(run.err, warning);
    EXPECT_EQ(ReadBytes(folder_ / "a.exe").size(), 1008u + 284 + 3000 + 8 + 284); // 7 padding

    // Windows finds it whatever the case of its name, but only where the stub looks.
    WriteBytes(folder_ / "Run.Bat", fake::Pattern(2));
    run = Stubpack(
        {"create", "--stub", Path("stub.exe"), "--output", Path("b.exe"), Path("Run.Bat")});
    EXPECT_EQ(run.status, packer::kExitOk);
    EXPECT_EQ(run.err, "");
    fs::create_directories(folder_ / "data");
    WriteBytes(folder_ / "data" / "run.bat", fake::Pattern(2));
    run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("c.exe"), Path("data")});
    EXPECT_EQ(run.err, warning);

    for (const char* quiet : {"-q", "--quiet"}) {
        run = Stubpack({"create", quiet, "--force", "--stub", Path("stub.exe"), "--output",
                        Path("a.exe"), Path("setup.msi")});
        EXPECT_EQ(run.status, packer::kExitOk);
        EXPECT_EQ(run.err, "") << quiet;
    }
}

TEST_F(CliFiles, ExtractRefusesToWriteOverAFileUnlessForced) {
    Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
              Path("setup.msi"), Path("run.bat")});
    fs::create_directories(folder_ / "out");
    WriteBytes(folder_ / "out" / "run.bat", fake::Pattern(4));
    Outcome run = Stubpack({"extract", Path("setup.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack extract: 'run.bat' already exists in '" + Path("out") +
                           "'; give --force to replace it\n");
    // Not even the entry before it was written.
    EXPECT_EQ(NamesIn(folder_ / "out"), std::set<std::string>{"run.bat"});

    run = Stubpack({"extract", "--force", Path("setup.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "out" / "run.bat"), fake::Pattern(15));
    EXPECT_EQ(ReadBytes(folder_ / "out" / "setup.msi"), fake::Pattern(3000, 5));
}

TEST_F(CliFiles, AControlCharacterInAPathKeepsTheMessageOnOneLine) {
    const Outcome run = Stubpack({"check", Path("a\nb.exe")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_EQ(run.err, "stubpack check: '" + Path("a") + "\\x0Ab.exe' does not exist\n");
}

TEST_F(CliFiles, CheckExplainsADamagedFileInOneLine) {
    Stubpack(
        {"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"), Path("run.bat")});
    fake::Bytes file = ReadBytes(folder_ / "setup.exe");
    file[file.size() - 284 - 1] = 0; // the last byte of the end marker
    WriteBytes(folder_ / "bad.exe", file);
    const Outcome run = Stubpack({"check", Path("bad.exe")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_TRUE(StartsWith(run.err, "stubpack check: the end marker at offset")) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

// One byte of a payload changed after packing: the layout is sound, the digest is not.
TEST_F(CliFiles, CheckAndListRefuseAPackageTheDigestDoesNotVouchFor) {
    Stubpack({"create", "--store", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
              Path("setup.msi"), Path("run.bat")});
    fake::Bytes file = ReadBytes(folder_ / "setup.exe");
    file[1005 + 284 + 1234] ^= 0x01;
    WriteBytes(folder_ / "flipped.exe", file);
    for (const char* command : {"check", "list"}) {
        const Outcome run = Stubpack({command, Path("flipped.exe")});
        EXPECT_EQ(run.status, packer::kExitFailed) << command;
        EXPECT_EQ(run.err, std::string("stubpack ") + command +
                               ": the package's SHA-256 differs from the digest in the stub's "
                               "settings record: the stub would refuse it\n");
        EXPECT_EQ(run.out, "") << command;
    }
}

TEST_F(CliFiles, ExtractFailsWhenAnEntryWasSkipped) {
    WriteBytes(folder_ / "hostile.exe",
               fake::Package(fake::PeImage(1000), {{"a/b", {}}, {"ok.txt", fake::Pattern(3)}}));
    const Outcome run = Stubpack({"extract", Path("hostile.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitFailed);
    EXPECT_NE(run.err.find("stubpack extract: 1 of 2 entries were skipped\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "out" / "ok.txt"), fake::Pattern(3));
}

} // namespace
