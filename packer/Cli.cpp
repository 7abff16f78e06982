#include "packer/Cli.h"

#include "packer/Check.h"
#include "packer/Create.h"
#include "packer/EntryNames.h"
#include "packer/Extract.h"
#include "packer/FileIo.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include "packer/BuildInfo.h" // generated

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace packer {

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: stubpack create [--force] [--exit-code zero|installer] --stub STUB.exe\n"
    "                       --output OUT.exe FILE...\n"
    "       stubpack list FILE\n"
    "       stubpack extract [--force] FILE DIR\n"
    "       stubpack check FILE\n"
    "       stubpack COMMAND --help\n"
    "       stubpack --version\n";

const char kCreateHelp[] =
    "usage: stubpack create [--force] [--exit-code zero|installer] --stub STUB.exe\n"
    "                       --output OUT.exe [--] FILE...\n"
    "Appends FILE... (in this order, under their base names) to the unsigned stub STUB.exe\n"
    "(PE32 or PE32+) and writes the result to OUT.exe, ready for signing. Names must be\n"
    "printable ASCII plain file names of at most 259 bytes, distinct when case is ignored.\n"
    "An existing OUT.exe is refused unless --force is given. Nothing is written when anything\n"
    "is refused. Warns when no FILE is named run.bat, the file the stub runs when started\n"
    "without arguments.\n"
    "--exit-code installer records in the stub's image, which signing then covers, that the\n"
    "stub ends with the installer's exit code (and failure codes of its own when it refuses\n"
    "to run), for deployment engines; zero, the default, keeps the exit code 0.\n";
const char kListHelp[] =
    "usage: stubpack list FILE\n"
    "Prints 'image S bytes, certificate table C bytes', the state of the digest and the\n"
    "exit-code choice, then one line per entry: index, name, size and payload offset,\n"
    "separated by tabs.\n";
const char kExtractHelp[] =
    "usage: stubpack extract [--force] FILE DIR\n"
    "Writes the entries of FILE into DIR (created if needed) in the order the stub extracts\n"
    "them, skipping and reporting names that are not safe plain names, and stopping at a\n"
    "truncated entry. Unless --force is given, nothing is written when a file of an entry's\n"
    "name is already in DIR, or two entries name the same file when case is ignored.\n";
const char kCheckHelp[] =
    "usage: stubpack check FILE\n"
    "Validates the package layout of FILE, signed or not, and prints 'ok' with a summary\n"
    "ending in the state of the digest and the exit-code choice, or one line saying what is\n"
    "wrong.\n";

// Wrong arguments: the message, then the subcommand's usage, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command's arguments with its options taken out.
struct Arguments {
    std::map<std::string, std::string> values; // an option that takes a value -> its value
    bool force = false;
    std::vector<std::string> operands;
};

// An option that takes the next argument as its value.
struct ValueOption {
    std::string name;
    const char* value; // what it takes, for the message when it is missing
};

struct Command {
    const char* name;
    const char* help;
    std::vector<ValueOption> valueOptions;
    bool takesForce;
    void (*run)(const Arguments& args, std::ostream& out, std::ostream& err);
};

// Returns true when help is asked for, which wins over anything wrong with the other arguments.
// Options and operands may come in any order until "--"; the argument after an option that takes
// a value is that value, whatever it looks like, so `--output -h` names a file called "-h".
bool ParseArguments(const Command& command, const std::vector<std::string>& args,
                    Arguments& parsed) {
    std::string problem; // the first, reported once no help is asked for
    const auto note = [&problem](const std::string& text) {
        if (problem.empty())
            problem = text;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto option =
            std::find_if(command.valueOptions.begin(), command.valueOptions.end(),
                         [&arg](const ValueOption& known) { return known.name == arg; });
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            return true;
        } else if (arg == "--force" && command.takesForce) {
            parsed.force = true;
        } else if (option == command.valueOptions.end()) {
            note("unknown option '" + Printable(arg) + "'");
        } else if (i + 1 == args.size()) {
            note(arg + " needs " + option->value);
        } else if (!parsed.values.emplace(arg, args[++i]).second) {
            note(arg + " is given twice");
        }
    }
    if (!problem.empty())
        throw UsageError(problem);
    return false;
}

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
    if (found == args.values.end() || found->second == "zero")
        return package::ExitCodeChoice::zero;
    if (found->second == "installer")
        return package::ExitCodeChoice::installer;
    throw UsageError("--exit-code must be zero or installer, not '" + Printable(found->second) +
                     "'");
}

Existing ExistingFiles(const Arguments& args) {
    return args.force ? Existing::replace : Existing::refuse;
}

// The stub started without arguments runs run.bat from its extraction folder, where Windows
// finds it whatever the case of its name.
bool HasRunBat(const std::vector<fs::path>& files) {
    return std::any_of(files.begin(), files.end(), [](const fs::path& file) {
        return FoldCase(file.filename().u8string()) == "run.bat";
    });
}

void RunCreate(const Arguments& args, std::ostream& out, std::ostream& err) {
    CreateRequest request;
    request.stub = PathOption(args, "--stub");
    request.output = PathOption(args, "--output");
    request.exitCode = ExitCodeOption(args);
    if (args.operands.empty())
        throw UsageError("no files to pack");
    for (const std::string& file : args.operands)
        request.files.push_back(fs::u8path(file));
    request.existingOutput = ExistingFiles(args);
    const CreateSummary summary = CreatePackage(request);
    out << "wrote " << request.output.u8string() << ": " << summary.entries << " entries, "
        << summary.payloadBytes << " payload bytes, image " << summary.imageSize << " bytes ("
        << summary.padding << " of padding), " << summary.fileSize << " bytes in all\n";
    if (!HasRunBat(request.files))
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
    out << "ok: " << summary.entries << " entries, " << summary.payloadBytes
        << " payload bytes, image " << summary.imageSize << " bytes ("
        << (summary.pe32Plus ? "PE32+" : "PE32") << "), ";
    if (summary.certificateSize > 0)
        out << "certificate table " << summary.certificateSize << " bytes, ";
    else
        out << "unsigned, ";
    out << DigestReport(summary.digest) << ", " << ExitCodeReport(summary.exitCode) << '\n';
}

const Command kCommands[] = {
    {"create",
     kCreateHelp,
     {{"--stub", "a path"}, {"--output", "a path"}, {"--exit-code", "zero or installer"}},
     true,
     RunCreate},
    {"list", kListHelp, {}, false, RunList},
    {"extract", kExtractHelp, {}, true, RunExtract},
    {"check", kCheckHelp, {}, false, RunCheck},
};

} // namespace

int RunStubpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
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
            if (ParseArguments(command, std::vector<std::string>(args.begin() + 1, args.end()),
                               parsed)) {
                out << command.help;
                return kExitOk;
            }
            command.run(parsed, out, err);
            return kExitOk;
        } catch (const UsageError& error) {
            err << "stubpack " << command.name << ": " << error.what() << '\n' << command.help;
            return kExitUsage;
        } catch (const std::exception& error) { // PackError and the file system's errors
            err << "stubpack " << command.name << ": " << error.what() << '\n';
        }
        return kExitFailed;
    }
    err << "stubpack: unknown command '" << Printable(args[0]) << "'\n" << kUsage;
    return kExitUsage;
}

} // namespace packer
