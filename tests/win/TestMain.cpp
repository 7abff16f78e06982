#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--child") == 0)
        return RunChild(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
