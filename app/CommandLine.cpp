#include "app/CommandLine.h"

#include "util/AsciiCase.h"

#include <string_view>

LaunchMode ChooseLaunchMode(int argumentCount) {
    return argumentCount <= 2 ? LaunchMode::defaultScript : LaunchMode::namedFile;
}

std::wstring DefaultScriptParameters() {
    return std::wstring(kBatchSwitches) + L" " + kDefaultScript;
}

bool IsProgramExtension(const std::wstring& extension) {
    return EqualsIgnoringAsciiCase(extension, L".exe");
}

bool IsBatchExtension(const std::wstring& extension) {
    return EqualsIgnoringAsciiCase(extension, L".bat") ||
           EqualsIgnoringAsciiCase(extension, L".cmd");
}

std::wstring BatchFileParameters(const std::wstring& name, const std::wstring& parameters) {
    std::wstring command = L"\".\\" + name + L"\"";
    if (!parameters.empty())
        command += L" " + parameters;
    return std::wstring(kBatchSwitches) + L" \"" + command + L"\"";
}

wchar_t BatchOperatorIn(const std::wstring& text) {
    size_t quotes = 0;
    for (const wchar_t c : text) {
        if (c == L'&' || c == L'|' || c == L'<' || c == L'>' || c == L'^' || c == L'%' ||
            c == L'\r' || c == L'\n')
            return c;
        if (c == L'"')
            ++quotes;
    }
    return quotes % 2 != 0 ? L'"' : L'\0';
}

wchar_t BatchParameterRefusal(const std::wstring& parameters) {
    for (const wchar_t c : parameters) {
        const bool letterOrDigit =
            (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
        if (!letterOrDigit && std::wstring_view(L" /-_.:=\\,+").find(c) == std::wstring_view::npos)
            return c;
    }
    return L'\0';
}

wchar_t ScriptFolderCharacterIn(const std::wstring& path) {
    const wchar_t found = BatchOperatorIn(path);
    if (found != L'\0' && found != L'"')
        return found;
    return path.find(L'!') != std::wstring::npos ? L'!' : found;
}

std::wstring FileExtension(const std::wstring& fileName) {
    const size_t dot = fileName.rfind(L'.');
    if (dot == std::wstring::npos || dot + 1 == fileName.size() ||
        fileName.find_first_of(L"\\/:", dot) != std::wstring::npos)
        return std::wstring();
    return fileName.substr(dot);
}

namespace {

std::wstring TrimBlanks(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return std::wstring();
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

// One left-to-right pass over non-overlapping pairs: three blanks become two.
std::wstring HalveBlankPairs(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text[i] == L' ' && i + 1 < text.size() && text[i + 1] == L' ')
            ++i;
    }
    return result;
}

} // namespace

std::wstring NamedFileParameters(const std::wstring& rawCommandLine,
                                 const std::vector<std::wstring>& arguments) {
    if (arguments.size() < 2)
        return std::wstring();

    const size_t start = 1 + arguments[0].size() + arguments[1].size();
    const size_t blank =
        start <= rawCommandLine.size() ? rawCommandLine.find(L' ', start) : std::wstring::npos;
    if (blank != std::wstring::npos)
        return HalveBlankPairs(TrimBlanks(rawCommandLine.substr(blank + 1)));

    std::wstring rebuilt;
    for (size_t i = 2; i < arguments.size(); ++i)
        rebuilt += arguments[i] + L' ';
    return rebuilt;
}
