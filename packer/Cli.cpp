#include "packer/Cli.h"

#include "packer/Check.h"
#include "packer/Create.h"
#include "packer/Extract.h"
#include "packer/FileIo.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include <exception>
#include <filesystem>

namespace packer {

namespace {

namespace fs = std::filesystem;

const char kUsage[] = "usage: stubpack create --stub STUB.exe --output OUT.exe FILE...\n"
                      "       stubpack list FILE\n"
                      "       stubpack extract FILE DIR\n"
                      "       stubpack check FILE\n"
                      "       stubpack COMMAND --help\n";

const char kCreateHelp[] =
    "usage: stubpack create --stub STUB.exe --output OUT.exe [--] FILE...\n"
    "Appends FILE... (in this order, under their base names) to the unsigned 32-bit stub\n"
    "STUB.exe and writes the result to OUT.exe, ready for signing. Names must be printable\n"
    "ASCII plain file names of at most 259 bytes, distinct when case is ignored.\n";
const char kListHelp[] =
    "usage: stubpack list FILE\n"
    "Prints 'image S bytes, certificate table C bytes', then one line per entry:\n"
    "index, name, size and payload offset, separated by tabs.\n";
const char kExtractHelp[] =
    "usage: stubpack extract FILE DIR\n"
    "Writes the entries of FILE into DIR (created if needed) as the stub would, skipping\n"
    "names that are not plain and stopping at a truncated entry.\n";
const char kCheckHelp[] =
    "usage: stubpack check FILE\n"
    "Validates the package layout of FILE, signed or not, and prints 'ok' with a summary, or\n"
    "one line saying what is wrong.\n";

struct Command {
    const char* name;
    const char* help;
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

int RunCreate(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    CreateRequest request;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && (arg == "--stub" || arg == "--output")) {
            if (i + 1 == args.size())
                return kExitUsage;
            (arg == "--stub" ? request.stub : request.output) = args[++i];
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return kExitUsage;
        } else {
            request.files.emplace_back(arg);
        }
    }
    if (request.stub.empty() || request.output.empty())
        return kExitUsage;
    const CreateSummary summary = CreatePackage(request);
    out << "wrote " << request.output.string() << ": " << summary.entries << " entries, "
        << summary.payloadBytes << " payload bytes, image " << summary.imageSize << " bytes ("
        << summary.padding << " of padding), " << summary.fileSize << " bytes in all\n";
    return kExitOk;
}

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    if (args.size() != 1)
        return kExitUsage;
    InputFile file(args[0]);
    ListPackage(file, out);
    return kExitOk;
}

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2)
        return kExitUsage;
    InputFile file(args[0]);
    const ExtractSummary summary = ExtractPackage(file, args[1], out, err);
    if (summary.skipped > 0)
        throw PackError(std::to_string(summary.skipped) + " of " +
                        std::to_string(summary.skipped + summary.written) +
                        " entries were skipped");
    return kExitOk;
}

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    if (args.size() != 1)
        return kExitUsage;
    InputFile file(args[0]);
    const CheckSummary summary = CheckPackage(file);
    out << "ok: " << summary.entries << " entries, " << summary.payloadBytes
        << " payload bytes, image " << summary.imageSize << " bytes, ";
    if (summary.certificateSize > 0)
        out << "certificate table " << summary.certificateSize << " bytes\n";
    else
        out << "unsigned\n";
    return kExitOk;
}

const Command kCommands[] = {
    {"create", kCreateHelp, RunCreate},
    {"list", kListHelp, RunList},
    {"extract", kExtractHelp, RunExtract},
    {"check", kCheckHelp, RunCheck},
};

bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

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
    for (const Command& command : kCommands) {
        if (args[0] != command.name)
            continue;
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (AsksForHelp(rest)) {
            out << command.help;
            return kExitOk;
        }
        try {
            const int status = command.run(rest, out, err);
            if (status == kExitUsage)
                err << command.help;
            return status;
        } catch (const std::exception& error) { // PackError and the file system's errors
            err << "stubpack " << command.name << ": " << error.what() << '\n';
        }
        return kExitFailed;
    }
    err << "stubpack: unknown command '" << args[0] << "'\n" << kUsage;
    return kExitUsage;
}

} // namespace packer
