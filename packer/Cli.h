// The stubpack command line: parses the arguments, runs one subcommand and turns its outcome
// into output and an exit status (0 done, 1 refused or failed, 2 bad usage).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace packer {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// `args` are the arguments after the program name, as UTF-8 text (on Windows, converted from
// the wide command line), and paths among them are read as such.
int RunStubpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace packer
