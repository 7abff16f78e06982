#include "util/Environment.h"

#include "util/AsciiCase.h"

#include <algorithm>

namespace {

// Windows sorts by the upper-cased name.
bool NameBefore(const EnvironmentVariable& left, const EnvironmentVariable& right) {
    const size_t length = std::min(left.name.size(), right.name.size());
    for (size_t i = 0; i < length; ++i) {
        const wchar_t a = ToAsciiUpper(left.name[i]);
        const wchar_t b = ToAsciiUpper(right.name[i]);
        if (a != b)
            return a < b;
    }
    return left.name.size() < right.name.size();
}

} // namespace

Environment ParseEnvironmentBlock(const wchar_t* block) {
    Environment environment;
    if (block == nullptr)
        return environment;
    for (const wchar_t* entry = block; *entry != L'\0';) {
        const std::wstring text(entry);
        entry += text.size() + 1;
        const size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos)
            environment.push_back({text.substr(0, equals), text.substr(equals + 1)});
    }
    return environment;
}

std::vector<wchar_t> EnvironmentBlock(Environment environment) {
    std::stable_sort(environment.begin(), environment.end(), NameBefore);
    std::vector<wchar_t> block;
    for (const EnvironmentVariable& variable : environment) {
        block.insert(block.end(), variable.name.begin(), variable.name.end());
        block.push_back(L'=');
        block.insert(block.end(), variable.value.begin(), variable.value.end());
        block.push_back(L'\0');
    }
    if (block.empty())
        block.push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

const std::wstring* FindVariable(const Environment& environment, const std::wstring& name) {
    for (const EnvironmentVariable& variable : environment)
        if (EqualsIgnoringAsciiCase(variable.name, name))
            return &variable.value;
    return nullptr;
}

void SetVariable(Environment& environment, const std::wstring& name, const std::wstring& value) {
    RemoveVariable(environment, name);
    environment.push_back({name, value});
}

void RemoveVariable(Environment& environment, const std::wstring& name) {
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const EnvironmentVariable& variable) {
                                         return EqualsIgnoringAsciiCase(variable.name, name);
                                     }),
                      environment.end());
}

std::wstring ExpandVariables(const std::wstring& text, const Environment& environment) {
    std::wstring expanded;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(L'%', at);
        const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            expanded.append(text, at, std::wstring::npos);
            break;
        }
        expanded.append(text, at, open - at);
        const std::wstring* value =
            close > open + 1 ? FindVariable(environment, text.substr(open + 1, close - open - 1))
                             : nullptr;
        if (value != nullptr) {
            expanded += *value;
            at = close + 1;
        } else {
            // Not a variable: the first % stays, and the second may open the next name.
            expanded += L'%';
            at = open + 1;
        }
    }
    return expanded;
}
