// How the command line chooses what to start after extraction: with no argument, or one (which
// is ignored), the package's run.bat through the command processor; with two or more, the
// packaged file named by the first argument, with the rest as its parameters.
#pragma once

#include <string>
#include <vector>

enum class LaunchMode { defaultScript, namedFile };

// `argumentCount` includes the program itself.
LaunchMode ChooseLaunchMode(int argumentCount);

// The script the default mode runs, from the extraction folder.
constexpr wchar_t kDefaultScript[] = L"run.bat";

// Parameters of the default script: its output goes next to the log file, named after it. /D
// keeps the command processor from running the AutoRun command of the user's registry first.
std::wstring DefaultScriptParameters(const std::wstring& logFilePath);

// The extension by which the machine's association for a file is found: ".msi" for "setup.msi";
// empty when the name has none.
std::wstring FileExtension(const std::wstring& fileName);

// Whether an extension (any case) is a program's: started as itself, with no association.
bool IsProgramExtension(const std::wstring& extension);

// Parameters of the named file, cut from the raw command line after the first two arguments
// (`arguments` as split by the runtime, program first). Leading and trailing blanks go, and each
// pair of blanks becomes one in a single pass. When the raw line has no blank where the
// parameters should start, they are rebuilt from the split arguments, each followed by a blank.
std::wstring NamedFileParameters(const std::wstring& rawCommandLine,
                                 const std::vector<std::wstring>& arguments);
