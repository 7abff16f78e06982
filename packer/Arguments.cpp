#include "packer/Arguments.h"

#include "packer/EntryNames.h"

#include <algorithm>
#include <optional>

namespace packer {

bool ParseArguments(const OptionSet& options, const std::vector<std::string>& args,
                    Arguments& parsed) {
    std::string problem; // the first, reported once no help is asked for
    const auto note = [&problem](const std::string& text) {
        if (problem.empty())
            problem = text;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help")
            return true;
        std::string name = arg;
        std::optional<std::string> value; // given as --opt=value
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const auto flag = std::find_if(
            options.flags.begin(), options.flags.end(), [&name](const FlagOption& known) {
                return known.name == name || (!known.shortName.empty() && known.shortName == name);
            });
        const auto option =
            std::find_if(options.values.begin(), options.values.end(),
                         [&name](const ValueOption& known) { return known.name == name; });
        if (flag != options.flags.end()) {
            if (value)
                note(name + " takes no value");
            parsed.flags.insert(flag->name);
        } else if (option == options.values.end()) {
            note("unknown option '" + Printable(name) + "'");
        } else if (value ? value->empty() : i + 1 == args.size()) {
            note(name + " needs " + option->value);
        } else if (!parsed.values.emplace(name, value ? *value : args[++i]).second) {
            note(name + " is given twice");
        }
    }
    if (!problem.empty())
        throw UsageError(problem);
    return false;
}

} // namespace packer
