// How the command line chooses what to start after extraction: with no argument, or one (which
// is ignored), the package's run.bat through the command processor; with two or more, the
// packaged file named by the first argument, with the rest as its parameters.
#pragma once

#include <string>
#include <vector>

enum class LaunchMode { defaultScript, namedFile };

// `argumentCount` includes the program itself.
LaunchMode ChooseLaunchMode(int argumentCount);

// Parameters of the default script: its output goes next to the log file, named after it.
std::wstring DefaultScriptParameters(const std::wstring& logFilePath);

// Parameters of the named file, cut from the raw command line after the first two arguments
// (`arguments` as split by the runtime, program first). Leading and trailing blanks go, and each
// pair of blanks becomes one in a single pass. When the raw line has no blank where the
// parameters should start, they are rebuilt from the split arguments, each followed by a blank.
std::wstring NamedFileParameters(const std::wstring& rawCommandLine,
                                 const std::vector<std::wstring>& arguments);
