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

// The command processor's switches for a batch file of the package: /D keeps it from running the
// AutoRun command of the user's registry first; /E:ON and /V:OFF fix what the user's
// EnableExtensions and DelayedExpansion settings would otherwise choose for how the script reads
// "%~dp0" and "!".
constexpr wchar_t kBatchSwitches[] = L"/D /E:ON /V:OFF /c";

// Parameters of the command processor for the default script, named as it lies in the current
// folder (the extraction folder). Its output reaches the script-output file through the handle the
// process is given, so no path of the user's temporary directory stands on cmd's command line,
// which cmd reads for %NAME%, quotes and "&" before anything else.
std::wstring DefaultScriptParameters();

// Whether an extension (any case) is a batch file's, which the command processor runs.
bool IsBatchExtension(const std::wstring& extension);

// Parameters of the command processor for the packaged batch file `name` (a plain file name) with
// the caller's `parameters`, run as the default script is: from the current folder, named
// relative to it. The whole command is quoted once more, since cmd takes away the outermost pair.
std::wstring BatchFileParameters(const std::wstring& name, const std::wstring& parameters);

// The first character of `text` that the command processor would read as an operator rather than
// as text (& | < > ^ %, a line break), or '"' when the quotes do not pair up; 0 when there is
// none. A packaged file's name and the extraction folder's path are checked with it.
wchar_t BatchOperatorIn(const std::wstring& text);

// The first character of a batch file's parameters that is not on the list a script is given:
// blank-separated tokens of ASCII letters and digits and / - _ . : = \ , +; 0 when there is none.
// A script reads its parameters as text of its own lines (%*, %~1, a for loop's list), where a
// quote, a blank inside quotes, a parenthesis, "!" or "%" can end a comparison or a list and run
// what follows as a command; no other character can, and one outside ASCII may be mapped to one
// that does by a code page's best fit. A value with blanks goes to an .exe or an .msi.
wchar_t BatchParameterRefusal(const std::wstring& parameters);

// The first character of a batch file's folder path that a script reading that path as text of
// its lines (%~dp0, %CD%, a call, delayed expansion) would take for an operator or an expansion:
// those of BatchOperatorIn and "!"; 0 when there is none.
wchar_t ScriptFolderCharacterIn(const std::wstring& path);

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
