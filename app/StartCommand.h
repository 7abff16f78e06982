// What is started, as a program and its command line, decided without Windows. The stub runs
// elevated, so nothing it starts is found through a search path or an association the desktop
// user can write: a program is named by its full path, and a document is opened with the command
// the machine registers for its class, whose program must be named by a full path too.
#pragma once

#include <string>

struct StartCommand {
    std::wstring application; // the program's full path
    std::wstring commandLine; // as the program receives it, its own quoted path first
};

// A program started as itself, with `parameters` after its quoted path.
StartCommand ProgramCommand(const std::wstring& program, const std::wstring& parameters);

// The command of an association (a class's shell\open\command, environment strings already
// expanded) for the document `file`: %1 and %L become the file's path, %* the parameters, %%
// a percent sign, and %2 to %9 nothing. A template without %* still gets the parameters at its
// end: the stub's caller gave them for the document. False when the template names its program
// by anything but a full path (a bare name would be searched for, the stub's own folder first).
bool AssociationCommand(const std::wstring& command, const std::wstring& file,
                        const std::wstring& parameters, StartCommand& out);
