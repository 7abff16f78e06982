#include "packer/Cli.h"

#include "packer/Arguments.h"
#include "packer/Check.h"
#include "packer/Payloads.h"
#include "packer/Create.h"
#include "packer/EntryNames.h"
#include "packer/Extract.h"
#include "packer/FileIo.h"
#include "packer/List.h"
#include "packer/Operands.h"
#include "packer/PackError.h"
#include "packer/Reading.h"

#include "package/StubSettings.h"

#include "packer/BuildInfo.h" // generated

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

namespace packer {

namespace {

namespace fs = std::filesystem;

// What check says after its summary: the command that checks what it does not, on this platform.
#ifdef _WIN32
const char kSignatureNote[] =
    "note: the signature is not checked; signtool verify /pa FILE checks it\n";
#else
const char kSignatureNote[] =
    "note: the signature is not checked; osslsigncode verify -CAfile CERT -in FILE checks it\n";
#endif

const char kUsage[] =
    "usage: stubpack create [--force] [--quiet] [--store] [--exit-code installer|zero]\n"
    "                       [--wait-children SECONDS] --stub STUB.exe --output OUT.exe\n"
    "                       FILE|FOLDER|@LIST...\n"
    "       stubpack list FILE\n"
    "       stubpack extract [--force] FILE DIR\n"
    "       stubpack check FILE\n"
    "       stubpack COMMAND --help\n"
    "       stubpack --version\n";

// What follows the one line that says what is wrong with the command line.
const char kTryHelp[] = "try 'stubpack --help'\n";

const char kCreateHelp[] =
    "usage: stubpack create [--force] [--quiet] [--store] [--exit-code installer|zero]\n"
    "                       [--wait-children SECONDS] --stub STUB.exe --output OUT.exe\n"
    "                       [--] FILE|FOLDER|@LIST...\n"
    "Appends the files to the unsigned stub STUB.exe (PE32 or PE32+) and writes the result to\n"
    "OUT.exe, ready for signing. A FILE is stored under its base name; a FOLDER with\n"
    "everything below it under the folder's own name (data\\lang\\de.txt), sorted by name, empty\n"
    "folders left out, links inside it refused. @LIST stands for the paths listed in the file\n"
    "LIST, one a line, each relative to LIST's folder. stubpack.exe expands '*' and '?' in\n"
    "the last part of a path itself, as cmd leaves them to it, to the files and folders of\n"
    "that name; a pattern that matches nothing is refused.\n"
    "Names may be in any language (UTF-8; a stub older than that takes ASCII only), must be\n"
    "ones Windows creates as given, the stored name at most 259 bytes in UTF-8, and no two\n"
    "stored names equal when case is ignored.\n"
    "An existing OUT.exe is refused unless --force is given. Nothing is written when anything\n"
    "is refused. Warns when no file is stored as run.bat, the file the stub runs when started\n"
    "without arguments; --quiet (-q) leaves out warnings.\n"
    "A file is compressed (LZMA) where that saves at least 1/32 of it, and stored as it is\n"
    "otherwise (an MSI or a cabinet, compressed already); --store keeps every file as it is.\n"
    "--exit-code installer, the default, records in the stub's image, which signing then\n"
    "covers, that the stub ends with the installer's exit code (and failure codes of its own\n"
    "when it refuses to run), for deployment engines; zero keeps the exit code 0, and packs a\n"
    "stub older than that choice.\n"
    "--wait-children SECONDS (0 to 604800, 600 by default) records how long the stub waits,\n"
    "after the installer has ended, for the processes it started.\n"
    "An option's value may also be given as --option=VALUE.\n";
const char kListHelp[] =
    "usage: stubpack list FILE\n"
    "Prints 'image S bytes, certificate table C bytes', the state of the digest, the\n"
    "exit-code choice and the wait for children, then one line per entry: index, stored name\n"
    "(folders separated by '\\'), size in the package, payload offset, original size and how\n"
    "it is kept (stored or lzma), separated by tabs.\n";
const char kExtractHelp[] =
    "usage: stubpack extract [--force] FILE DIR\n"
    "Writes the entries of FILE into DIR (created if needed), their folders created inside\n"
    "it, in the order the stub extracts them, skipping and reporting names that would leave\n"
    "DIR or are not safe names, and stopping at a truncated entry. Nothing is written through\n"
    "a link in DIR. Unless --force is given, nothing is written when a file of an entry's\n"
    "name is already in DIR, or two entries name the same file when case is ignored.\n";
const char kCheckHelp[] =
    "usage: stubpack check FILE\n"
    "Validates the package layout of FILE, signed or not, decoding every compressed entry,\n"
    "and prints 'ok' with a summary ending in the state of the digest, the exit-code choice\n"
    "and the wait for children, then a line per entry with its size in the package and its\n"
    "original size; or one line saying what is wrong. The signature itself is not checked: "
    "osslsigncode\n"
    "verify -CAfile CERT -in FILE checks it on Linux, signtool verify /pa FILE on Windows.\n";

struct Command {
    const char* name;
    const char* help;
    OptionSet options;
    void (*run)(const Arguments& args, std::ostream& out, std::ostream& err);
};

void RequireCount(const Arguments& args, std::size_t count, const char* what) {
    if (args.operands.size() != count)
        throw UsageError("expected " + std::string(what) + ", got " +
                         std::to_string(args.operands.size()) + " arguments");
}

fs::path PathOption(const Arguments& args, const std::string& option) {
    const auto found = args.values.find(option);
    if (found == args.values.end())
        throw UsageError(option + " is missing");
    return fs::u8path(found->second);
}

package::ExitCodeChoice ExitCodeOption(const Arguments& args) {
    const auto found = args.values.find("--exit-code");
    if (found == args.values.end() || found->second == "installer")
        return package::ExitCodeChoice::installer;
    if (found->second == "zero")
        return package::ExitCodeChoice::zero;
    throw UsageError("--exit-code must be installer or zero, not '" + Printable(found->second) +
                     "'");
}

std::uint32_t WaitChildrenOption(const Arguments& args) {
    const auto found = args.values.find("--wait-children");
    if (found == args.values.end())
        return package::kDefaultWaitChildrenSeconds;
    const std::string& text = found->second;
    std::uint64_t seconds = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || seconds > package::kMaxWaitChildrenSeconds)
            break;
        seconds = seconds * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    if (text.find_first_not_of("0123456789") != std::string::npos ||
        seconds > package::kMaxWaitChildrenSeconds)
        throw UsageError("--wait-children must be a whole number of seconds from 0 to " +
                         std::to_string(package::kMaxWaitChildrenSeconds) + ", not '" +
                         Printable(text) + "'");
    return static_cast<std::uint32_t>(seconds);
}

Existing ExistingFiles(const Arguments& args) {
    return args.Has("--force") ? Existing::replace : Existing::refuse;
}

// The stub started without arguments runs run.bat from its extraction folder, where Windows
// finds it whatever the case of its name; one in a folder below is not found.
bool HasRunBat(const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& name) { return FoldCase(name) == "run.bat"; });
}

void RunCreate(const Arguments& args, std::ostream& out, std::ostream& err) {
    CreateRequest request;
    request.stub = PathOption(args, "--stub");
    request.output = PathOption(args, "--output");
    request.exitCode = ExitCodeOption(args);
    request.waitChildrenSeconds = WaitChildrenOption(args);
    if (args.operands.empty())
        throw UsageError("no files to pack");
    request.files = ExpandOperands(args.operands, kOperandWildcards);
    request.existingOutput = ExistingFiles(args);
    request.store = args.Has("--store");
    const CreateSummary summary = CreatePackage(request);
    out << "wrote " << request.output.u8string() << ": " << summary.entries
        << (summary.entries == 1 ? " entry, " : " entries, ") << summary.payloadBytes
        << " payload bytes";
    if (summary.compressed > 0)
        out << " (" << summary.compressed << " compressed: " << summary.storedBytes
            << " bytes in the package)";
    out << ", image " << summary.imageSize << " bytes (" << summary.padding << " of padding), "
        << summary.fileSize << " bytes in all\n";
    if (!args.Has("--quiet") && !HasRunBat(summary.names))
        err << "stubpack create: warning: the package has no run.bat, which the stub runs when "
               "started without arguments\n";
}

void RunList(const Arguments& args, std::ostream& out, std::ostream&) {
    RequireCount(args, 1, "FILE");
    InputFile file(fs::u8path(args.operands[0]));
    ListPackage(file, out);
}

void RunExtract(const Arguments& args, std::ostream& out, std::ostream& err) {
    RequireCount(args, 2, "FILE DIR");
    InputFile file(fs::u8path(args.operands[0]));
    const ExtractSummary summary =
        ExtractPackage(file, fs::u8path(args.operands[1]), ExistingFiles(args), out, err);
    if (summary.skipped > 0)
        throw PackError(std::to_string(summary.skipped) + " of " +
                        std::to_string(summary.skipped + summary.written) +
                        " entries were skipped");
}

void RunCheck(const Arguments& args, std::ostream& out, std::ostream&) {
    RequireCount(args, 1, "FILE");
    InputFile file(fs::u8path(args.operands[0]));
    const CheckSummary summary = CheckPackage(file);
    out << "ok: " << summary.entries << " entries, " << summary.originalBytes << " payload bytes";
    if (summary.originalBytes != summary.payloadBytes)
        out << " (" << summary.payloadBytes << " in the package)";
    out << ", image " << summary.imageSize << " bytes (" << (summary.pe32Plus ? "PE32+" : "PE32")
        << "), ";
    if (summary.certificateSize > 0)
        out << "certificate table " << summary.certificateSize << " bytes, ";
    else
        out << "unsigned, ";
    out << DigestReport(summary.digest) << ", " << ExitCodeReport(summary.settings) << ", "
        << WaitReport(summary.settings) << '\n';
    for (std::size_t i = 0; i < summary.list.size(); ++i) {
        const CheckedEntry& entry = summary.list[i];
        out << "entry " << i + 1 << " '" << ShownName(entry.name) << "': " << entry.size
            << " bytes in the package, " << entry.originalSize << " extracted ("
            << MethodName(entry.method) << ")\n";
    }
    out << kSignatureNote;
}

const FlagOption kForce = {"--force", ""};

const Command kCommands[] = {
    {"create",
     kCreateHelp,
     {{{"--stub", "a path"},
       {"--output", "a path"},
       {"--exit-code", "installer or zero"},
       {"--wait-children", "a number of seconds"}},
      {kForce, {"--quiet", "-q"}, {"--store", ""}}},
     RunCreate},
    {"list", kListHelp, {}, RunList},
    {"extract", kExtractHelp, {{}, {kForce}}, RunExtract},
    {"check", kCheckHelp, {}, RunCheck},
};

} // namespace

int RunStubpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "stubpack: no command given\n" << kTryHelp;
        return kExitUsage;
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        out << kUsage;
        return kExitOk;
    }
    if (args.size() == 1 && (args[0] == "--version" || args[0] == "-V")) {
        out << "stubpack " STUBPACK_VERSION " (commit " STUBPACK_COMMIT ")\n";
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (args[0] != command.name)
            continue;
        try {
            Arguments parsed;
            if (ParseArguments(command.options,
                               std::vector<std::string>(args.begin() + 1, args.end()), parsed)) {
                out << command.help;
                return kExitOk;
            }
            command.run(parsed, out, err);
            return kExitOk;
        } catch (const UsageError& error) {
            err << "stubpack " << command.name << ": " << error.what() << '\n' << kTryHelp;
            return kExitUsage;
        } catch (const std::exception& error) { // PackError and the file system's errors
            err << "stubpack " << command.name << ": " << error.what() << '\n';
        }
        return kExitFailed;
    }
    err << "stubpack: unknown command '" << Printable(args[0]) << "'\n" << kTryHelp;
    return kExitUsage;
}

} // namespace packer
