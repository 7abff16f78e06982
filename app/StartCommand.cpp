#include "app/StartCommand.h"

#include "util/PathText.h"

namespace {

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// The program a command line names: its first argument, quoted or up to the first blank.
std::wstring FirstArgument(const std::wstring& commandLine) {
    const size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos)
        return std::wstring();
    if (commandLine[start] == L'"') {
        const size_t end = commandLine.find(L'"', start + 1);
        return end == std::wstring::npos ? std::wstring()
                                         : commandLine.substr(start + 1, end - start - 1);
    }
    const size_t end = commandLine.find_first_of(L" \t", start);
    return commandLine.substr(start, end == std::wstring::npos ? end : end - start);
}

} // namespace

StartCommand ProgramCommand(const std::wstring& program, const std::wstring& parameters) {
    StartCommand command;
    command.application = program;
    command.commandLine = Quoted(program);
    if (!parameters.empty())
        command.commandLine += L" " + parameters;
    return command;
}

bool AssociationCommand(const std::wstring& command, const std::wstring& file,
                        const std::wstring& parameters, StartCommand& out) {
    std::wstring line;
    bool parametersPlaced = false;
    for (size_t i = 0; i < command.size(); ++i) {
        if (command[i] != L'%' || i + 1 == command.size()) {
            line += command[i];
            continue;
        }
        const wchar_t code = command[++i];
        if (code == L'1' || code == L'L' || code == L'l') {
            line += file;
        } else if (code == L'*') {
            line += parameters;
            parametersPlaced = true;
        } else if (code == L'%') {
            line += L'%';
        } else if (code < L'2' || code > L'9') {
            line += L'%';
            line += code;
        }
    }
    if (!parametersPlaced && !parameters.empty()) {
        while (!line.empty() && line.back() == L' ')
            line.pop_back();
        line += L" " + parameters;
    }
    const std::wstring program = FirstArgument(line);
    if (!IsFullPath(program))
        return false;
    out.application = program;
    out.commandLine = line;
    return true;
}
