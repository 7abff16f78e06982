#include "registry/ProductKeyRules.h"

#include "util/AsciiCase.h"

bool IsProductKeyPlaceholder(std::wstring_view path) noexcept {
    return EqualsIgnoringAsciiCase(path, kProductKeyPlaceholder);
}

const wchar_t* ProductKeyPathForServerMode(std::uint32_t serverMode) noexcept {
    return serverMode == 1 ? kBusinessKeyPath : kProductKeyPath;
}
