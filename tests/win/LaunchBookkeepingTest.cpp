// The start time and the launch status in the product key in use, against Wine's registry; the
// binary runs in a zone away from UTC (TZ is set for it).
#include "RegistryTestSupport.h"
#include "TestSupport.h"

#include "app/LaunchBookkeeping.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kVendor = L"Software\\Tovari Inc.";
const std::wstring kProduct = L"Software\\Tovari Inc.\\Tovari Remote Server";
const std::wstring kBusiness = L"Software\\Tovari Inc.\\Tovari Remote Server for Business";

std::wstring TextOf(const RawValue& value) {
    if (value.data.size() < sizeof(wchar_t))
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(value.data.data()),
                        value.data.size() / sizeof(wchar_t) - 1);
}

class LaunchBookkeeping : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() { DeleteRawTree(HKEY_LOCAL_MACHINE, kVendor); }
};

TEST_F(LaunchBookkeeping, StartTimeIsTheUtcTimeAsNineteenCharacters) {
    ASSERT_NE(CUtility::GetUtcOffset(), 0) << "run this test with TZ set to a zone away from UTC";
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kProduct), ERROR_SUCCESS);

    CRegistry registry;
    ASSERT_EQ(SelectProductKey(registry), 1);
    const std::int64_t before = NowUtcSeconds();
    EXPECT_EQ(RecordLaunchStart(registry), 1);
    const std::int64_t after = NowUtcSeconds();

    const RawValue value = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"CloudAutoUpdateTimeStart");
    ASSERT_EQ(value.status, ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value.data.size(), 40u);
    const std::wstring text = TextOf(value);
    EXPECT_GE(SecondsOf(text), before - 1) << Narrow(text);
    EXPECT_LE(SecondsOf(text), after + 1) << Narrow(text);
}

TEST_F(LaunchBookkeeping, StatusIsZeroForALaunchAndNineHundredNinetyNineOtherwise) {
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kProduct), ERROR_SUCCESS);
    CRegistry registry;
    ASSERT_EQ(SelectProductKey(registry), 1);

    EXPECT_EQ(RecordLaunchStatus(registry, false), 1);
    RawValue value = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"CloudAutoUpdateStatus");
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value.data, DwordBytes(999));

    EXPECT_EQ(RecordLaunchStatus(registry, true), 1);
    value = ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"CloudAutoUpdateStatus");
    EXPECT_EQ(value.data, DwordBytes(0));
}

TEST_F(LaunchBookkeeping, BusinessModeRecordsInTheBusinessKey) {
    ASSERT_EQ(SetRawDword(HKEY_LOCAL_MACHINE, kProduct, L"QHServerMode", 1), ERROR_SUCCESS);
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kBusiness), ERROR_SUCCESS);

    CRegistry registry;
    ASSERT_EQ(SelectProductKey(registry), 1);
    EXPECT_EQ(RecordLaunchStatus(registry, true), 1);
    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kBusiness, L"CloudAutoUpdateStatus").data,
              DwordBytes(0));
    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kProduct, L"CloudAutoUpdateStatus").status,
              ERROR_FILE_NOT_FOUND);
}

TEST_F(LaunchBookkeeping, MissingProductKeyIsNeitherCreatedNorSelected) {
    CRegistry registry;
    EXPECT_EQ(SelectProductKey(registry), 0);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kProduct));

    // The business key that QHServerMode 1 names is not created either.
    ASSERT_EQ(SetRawDword(HKEY_LOCAL_MACHINE, kProduct, L"QHServerMode", 1), ERROR_SUCCESS);
    EXPECT_EQ(SelectProductKey(registry), 0);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kBusiness));
}

} // namespace
