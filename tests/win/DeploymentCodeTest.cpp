// Recording a deployment code in Wine's registry. Which codes are well formed is the parser's
// (tests/unit/DeploymentCodeParseTest.cpp); the system's classification of letters comes in end
// to end (tests/e2e/test_registry.py).
#include "RegistryTestSupport.h"
#include "TestSupport.h"

#include "registry/DeploymentCode.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const wchar_t* const kValueNames[] = {L"CloudRegion", L"Confirm_d", L"CQHSMode", L"DCode",
                                      L"CQHSLogin"};

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class DeploymentValues : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() { DeleteRawTree(HKEY_LOCAL_MACHINE, kVendor); }
};

TEST_F(DeploymentValues, CodeAndRegionCreateTheKeyAndFillIt) {
    EXPECT_EQ(WriteDeploymentValues({L"ABCDEFGHIJKL", L"US"}), 1);

    EXPECT_EQ(Sorted(RawValueNames(HKEY_LOCAL_MACHINE, kProduct)),
              Sorted({L"CloudRegion", L"Confirm_d", L"CQHSMode", L"DCode", L"CQHSLogin"}));
    const RawValue region = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"CloudRegion");
    EXPECT_EQ(region.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(region.data, Utf16Bytes(L"US"));
    const RawValue code = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"DCode");
    EXPECT_EQ(code.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(code.data, Utf16Bytes(L"ABCDEFGHIJKLUS"));
    for (const auto& [name, number] :
         {std::pair{L"Confirm_d", 1u}, std::pair{L"CQHSMode", 1u}, std::pair{L"CQHSLogin", 0u}}) {
        const RawValue value = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, name);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << Narrow(name);
        EXPECT_EQ(value.data, DwordBytes(number)) << Narrow(name);
    }
}

TEST_F(DeploymentValues, ACodeWithoutARegionLeavesTheRegionOut) {
    EXPECT_EQ(WriteDeploymentValues({L"abcDEF123456", L""}), 1);

    EXPECT_EQ(Sorted(RawValueNames(HKEY_LOCAL_MACHINE, kProduct)),
              Sorted({L"Confirm_d", L"CQHSMode", L"DCode", L"CQHSLogin"}));
    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"DCode").data,
              Utf16Bytes(L"abcDEF123456"));
}

TEST_F(DeploymentValues, AlwaysTheProductKeyWhateverTheServerMode) {
    ASSERT_EQ(SetRawDword(HKEY_LOCAL_MACHINE, kProduct, L"QHServerMode", 1), ERROR_SUCCESS);
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kBusiness), ERROR_SUCCESS);
    EXPECT_EQ(WriteDeploymentValues({L"ABCDEFGHIJKL", L"DE"}), 1);

    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"DCode").data,
              Utf16Bytes(L"ABCDEFGHIJKLDE"));
    EXPECT_TRUE(RawValueNames(HKEY_LOCAL_MACHINE, kBusiness).empty());
}

TEST_F(DeploymentValues, KeyThatCannotBeCreatedWritesNothingAnywhere) {
    // Below a volatile key no lasting key can be made.
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kVendor, REG_OPTION_VOLATILE), ERROR_SUCCESS);
    EXPECT_EQ(WriteDeploymentValues({L"ABCDEFGHIJKL", L"US"}), 0);

    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kProduct));
    for (const wchar_t* name : kValueNames)
        EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, L"", name).status, ERROR_FILE_NOT_FOUND)
            << Narrow(name) << " written into the root of HKEY_LOCAL_MACHINE";
}

} // namespace
