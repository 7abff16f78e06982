// Reading a path from a query that answers a buffer too small with the size it needs, so that a
// path longer than MAX_PATH is read whole, never cut.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// `query(size, buffer)` returns the length written, or the size needed (terminator included) when
// `size` is too small, or 0 on failure. Empty when the query fails.
template <typename Query> std::wstring QueriedPath(Query query) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = query(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
    return std::wstring();
}
