// A command's arguments as stubpack takes them: options and operands in any order until "--",
// "--opt value" or "--opt=value" for an option that takes one, flags alone.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace packer {

// Wrong arguments: the message, then the command's usage, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ValueOption {
    std::string name;
    const char* value; // what it takes, for the message when it is missing
};

struct FlagOption {
    std::string name;
    std::string shortName; // empty for none
};

struct OptionSet {
    std::vector<ValueOption> values;
    std::vector<FlagOption> flags;
};

// A command's arguments with its options taken out.
struct Arguments {
    std::map<std::string, std::string> values; // an option that takes a value -> its value
    std::set<std::string> flags;               // the flags given, by their long names
    std::vector<std::string> operands;

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
};

// Returns true when help is asked for, which wins over anything wrong with the other arguments;
// throws UsageError for the first thing wrong otherwise. The argument after an option that takes
// a value is that value, whatever it looks like, so `--output -h` names a file called "-h".
bool ParseArguments(const OptionSet& options, const std::vector<std::string>& args,
                    Arguments& parsed);

} // namespace packer
