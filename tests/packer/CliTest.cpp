#include "packer/Cli.h"

#include "package/ExitCodeSlot.h"

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

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
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
    EXPECT_EQ(Stubpack({}).status, packer::kExitUsage);
    const Outcome run = Stubpack({"pack"});
    EXPECT_EQ(run.status, packer::kExitUsage);
    EXPECT_TRUE(StartsWith(run.err, "stubpack: unknown command 'pack'\n")) << run.err;
}

TEST(CliUsage, WrongArgumentsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"create", "--stub", "s.exe", "a.txt"}, "stubpack create: --output is missing\n"},
        {{"create", "--output", "o.exe", "a.txt"}, "stubpack create: --stub is missing\n"},
        {{"create", "--stub", "s.exe", "--output", "o.exe"}, "stubpack create: no files to pack\n"},
        {{"create", "--stub"}, "stubpack create: --stub needs a path\n"},
        {{"create", "--stub", "a", "--stub", "b"}, "stubpack create: --stub is given twice\n"},
        {{"create", "--sign", "x"}, "stubpack create: unknown option '--sign'\n"},
        {{"create", "--exit-code", "always", "--stub", "s.exe", "--output", "o.exe", "a.txt"},
         "stubpack create: --exit-code must be zero or installer, not 'always'\n"},
        {{"create", "--exit-code"}, "stubpack create: --exit-code needs zero or installer\n"},
        {{"extract", "--stub", "a", "b"}, "stubpack extract: unknown option '--stub'\n"},
        {{"list", "--force", "a"}, "stubpack list: unknown option '--force'\n"},
        {{"list"}, "stubpack list: expected FILE, got 0 arguments\n"},
        {{"extract", "a.exe"}, "stubpack extract: expected FILE DIR, got 1 arguments\n"},
        {{"check", "a", "b"}, "stubpack check: expected FILE, got 2 arguments\n"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome run = Stubpack(args);
        EXPECT_EQ(run.status, packer::kExitUsage) << message;
        EXPECT_TRUE(StartsWith(run.err, message)) << run.err;
        EXPECT_EQ(run.out, "");
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

TEST_F(CliFiles, CreateThenCheckListAndExtract) {
    Outcome run = Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
                            Path("setup.msi"), Path("run.bat")});
    ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "wrote " + Path("setup.exe") +
                           ": 2 entries, 3015 payload bytes, image 1005 bytes (4 of padding), "
                           "4880 bytes in all\n");

    run = Stubpack({"check", Path("setup.exe")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(run.out, "ok: 2 entries, 3015 payload bytes, image 1005 bytes (PE32), unsigned, "
                       "digest verified, exit code: zero\n");

    run = Stubpack({"list", Path("setup.exe")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(run.out, "image 1005 bytes, certificate table 0 bytes, digest verified, exit code: "
                       "zero\n"
                       "1\tsetup.msi\t3000\t1289\n"
                       "2\trun.bat\t15\t4573\n");

    run = Stubpack({"extract", Path("setup.exe"), Path("out")});
    EXPECT_EQ(run.status, packer::kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(folder_ / "out" / "setup.msi"), fake::Pattern(3000, 5));
    EXPECT_EQ(ReadBytes(folder_ / "out" / "run.bat"), fake::Pattern(15));
}

// The choice as the stub reads it: any value but 0 passes outcomes on.
TEST_F(CliFiles, CheckAndListReportTheExitCodeChoice) {
    for (const char* choice : {"zero", "installer"}) {
        const Outcome run =
            Stubpack({"create", "--exit-code", choice, "--stub", Path("stub.exe"), "--output",
                      Path(std::string(choice) + ".exe"), Path("run.bat")});
        ASSERT_EQ(run.status, packer::kExitOk) << run.err;
    }
    const std::size_t value = fake::kExitCodeSlotOffset + package::kExitCodeSlotMarkerSize;
    fake::Bytes file = ReadBytes(folder_ / "installer.exe");
    fake::Put32(file, value, 7);
    WriteBytes(folder_ / "seven.exe", file);
    file[fake::kExitCodeSlotOffset] = 0; // the marker gone: a stub older than the slot
    WriteBytes(folder_ / "none.exe", file);

    const std::pair<const char*, const char*> cases[] = {
        {"zero.exe", "exit code: zero"},
        {"installer.exe", "exit code: installer"},
        {"seven.exe", "exit code: installer (value 7)"},
        {"none.exe", "no exit-code slot"}};
    for (const auto& [name, report] : cases) {
        Outcome run = Stubpack({"check", Path(name)});
        EXPECT_EQ(run.out, "ok: 1 entries, 15 payload bytes, image 1001 bytes (PE32), unsigned, "
                           "digest verified, " +
                               std::string(report) + "\n")
            << run.err;
        run = Stubpack({"list", Path(name)});
        EXPECT_EQ(run.out, "image 1001 bytes, certificate table 0 bytes, digest verified, " +
                               std::string(report) + "\n1\trun.bat\t15\t1285\n")
            << run.err;
    }
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
    EXPECT_TRUE(StartsWith(run.out, "wrote -h: 1 entries")) << run.out;
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
    Outcome run = Stubpack(
        {"create", "--stub", Path("stub.exe"), "--output", Path("a.exe"), Path("setup.msi")});
    EXPECT_EQ(run.status, packer::kExitOk);
    EXPECT_EQ(run.err, warning);
    EXPECT_EQ(ReadBytes(folder_ / "a.exe").size(), 1008u + 284 + 3000 + 8 + 284); // 7 padding

    // Windows finds it whatever the case of its name.
    WriteBytes(folder_ / "Run.Bat", fake::Pattern(2));
    run = Stubpack(
        {"create", "--stub", Path("stub.exe"), "--output", Path("b.exe"), Path("Run.Bat")});
    EXPECT_EQ(run.status, packer::kExitOk);
    EXPECT_EQ(run.err, "");
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
    Stubpack({"create", "--stub", Path("stub.exe"), "--output", Path("setup.exe"),
              Path("setup.msi"), Path("run.bat")});
    fake::Bytes file = ReadBytes(folder_ / "setup.exe");
    file[1005 + 284 + 1234] ^= 0x01;
    WriteBytes(folder_ / "flipped.exe", file);
    for (const char* command : {"check", "list"}) {
        const Outcome run = Stubpack({command, Path("flipped.exe")});
        EXPECT_EQ(run.status, packer::kExitFailed) << command;
        EXPECT_EQ(run.err, std::string("stubpack ") + command +
                               ": the package's SHA-256 differs from the stub's digest slot: the "
                               "stub would refuse it\n");
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
