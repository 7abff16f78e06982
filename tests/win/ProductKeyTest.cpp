// Resolution of the product key placeholder against Wine's registry: every row of the outcome
// table, the edge cases of the two values, and selection through CRegistry::SetKey.
#include "RegistryTestSupport.h"
#include "TestSupport.h"
#include "TokenSeams.h"

#include "registry/ProductKeyRules.h"
#include "registry/Registry.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kPlaceholder = L"UNIVERSAL_PATH_CONVERT";

class ProductKey : public testing::Test {
protected:
    SystemCallsScope scope;

    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        DeleteRawTree(HKEY_LOCAL_MACHINE, kVendor);
        DeleteRawTree(HKEY_CURRENT_USER, kVendor);
    }

    static void Machine(const wchar_t* name, DWORD value) {
        ASSERT_EQ(SetRawDword(HKEY_LOCAL_MACHINE, kProduct, name, value), ERROR_SUCCESS);
    }
    static void User(const wchar_t* name, DWORD value) {
        ASSERT_EQ(SetRawDword(HKEY_CURRENT_USER, kProduct, name, value), ERROR_SUCCESS);
    }
    static std::wstring Resolve(const std::wstring& path = kPlaceholder) {
        return CRegistry::ResolveKeyPath(path);
    }
};

// --- The placeholder -----------------------------------------------------------------------------

TEST_F(ProductKey, PlaceholderInAnyAsciiCaseIsResolved) {
    Machine(L"QHServerMode", 1);
    EXPECT_EQ(Resolve(L"UNIVERSAL_PATH_CONVERT"), kBusiness);
    EXPECT_EQ(Resolve(L"universal_path_convert"), kBusiness);
    EXPECT_EQ(Resolve(L"Universal_Path_cONVERT"), kBusiness);
}

TEST_F(ProductKey, OtherPathsComeBackUnchangedWithoutTouchingTheRegistry) {
    // Set up so that a resolution would have to look into the user's hive.
    Machine(L"QHSBasedType", 0);
    User(L"QHServerMode", 1);
    InstallCountingUserTokenQuery();

    const std::wstring others[] = {L"Software\\UNIVERSAL_PATH_CONVERT",
                                   L"UNIVERSAL_PATH_CONVERT\\Sub",
                                   L"UNIVERSAL_PATH_CONVERTX",
                                   L" UNIVERSAL_PATH_CONVERT",
                                   L"",
                                   kProduct};
    for (const std::wstring& path : others)
        EXPECT_EQ(Resolve(path), path);
    EXPECT_TRUE(g_userTokenQueries.sessions.empty())
        << g_userTokenQueries.sessions.size() << " user-hive openings";

    EXPECT_EQ(Resolve(), kBusiness);
    EXPECT_FALSE(g_userTokenQueries.sessions.empty()) << "the counter sees the user's hive";
}

// --- The machine's "QHServerMode" decides --------------------------------------------------------

TEST_F(ProductKey, NoProductKeyOnEitherSideGivesTheProductKey) {
    EXPECT_EQ(Resolve(), kProduct);
}

TEST_F(ProductKey, WithoutTheMachinesProductKeyTheUsersValueIsIgnored) {
    User(L"QHServerMode", 1);
    EXPECT_EQ(Resolve(), kProduct);
}

TEST_F(ProductKey, WithoutBasedTypeTheMachineDecidesWhateverTheUserHolds) {
    Machine(L"QHServerMode", 1);
    User(L"QHServerMode", 0);
    EXPECT_EQ(Resolve(), kBusiness);
}

TEST_F(ProductKey, BasedTypeOneKeepsTheUsersHiveOutOfIt) {
    Machine(L"QHSBasedType", 1);
    Machine(L"QHServerMode", 0);
    User(L"QHServerMode", 1);
    InstallCountingUserTokenQuery();
    EXPECT_EQ(Resolve(), kProduct);
    EXPECT_TRUE(g_userTokenQueries.sessions.empty()) << "the user's hive was opened";
}

TEST_F(ProductKey, BasedTypeZeroWithoutTheUsersProductKey) {
    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 1);
    EXPECT_EQ(Resolve(), kBusiness);
}

TEST_F(ProductKey, BasedTypeZeroWithAUserKeyThatCannotBeOpenedForFullAccess) {
    if (!RegistryEnforcesReadOnlyKeys(HKEY_CURRENT_USER, L"Software"))
        GTEST_SKIP() << "this registry grants full access to a key that allows only reading";
    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 1);
    User(L"QHServerMode", 0);
    ASSERT_EQ(GrantEveryoneOnly(HKEY_CURRENT_USER, kProduct, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(Resolve(), kBusiness);
}

TEST_F(ProductKey, BasedTypeZeroWithAUserKeyWithoutServerMode) {
    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 1);
    ASSERT_EQ(CreateRawKey(HKEY_CURRENT_USER, kProduct), ERROR_SUCCESS);
    EXPECT_EQ(Resolve(), kBusiness);

    Machine(L"QHServerMode", 0);
    EXPECT_EQ(Resolve(), kProduct);
}

// --- The user's "QHServerMode" decides -----------------------------------------------------------

TEST_F(ProductKey, BasedTypeZeroAndTheUsersValueDecides) {
    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 1);
    User(L"QHServerMode", 0);
    EXPECT_EQ(Resolve(), kProduct);

    Machine(L"QHServerMode", 0);
    User(L"QHServerMode", 1);
    EXPECT_EQ(Resolve(), kBusiness);
}

TEST_F(ProductKey, BasedTypeTwoBehavesLikeZero) {
    Machine(L"QHSBasedType", 2);
    Machine(L"QHServerMode", 0);
    User(L"QHServerMode", 1);
    EXPECT_EQ(Resolve(), kBusiness);
}

TEST_F(ProductKey, ServerModeTwoSelectsTheProductKeyOnEitherSide) {
    Machine(L"QHServerMode", 2);
    EXPECT_EQ(Resolve(), kProduct);

    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 1);
    User(L"QHServerMode", 2);
    EXPECT_EQ(Resolve(), kProduct);
}

TEST_F(ProductKey, WithoutAUserTokenTheProcesssOwnHiveIsTheUsersSide) {
    Machine(L"QHSBasedType", 0);
    User(L"QHServerMode", 1);
    InstallNoLoggedOnUserToken();
    EXPECT_EQ(Resolve(), kBusiness);
}

// --- The values' types are not looked at ---------------------------------------------------------

TEST_F(ProductKey, ServerModeIsReadAsItsBytes) {
    const BYTE one[] = {1};
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kProduct, L"QHServerMode", REG_BINARY, one, 1),
              ERROR_SUCCESS);
    EXPECT_EQ(Resolve(), kBusiness);

    // "1" and its NUL are the bytes 31 00 00 00: not 1.
    ASSERT_EQ(SetRawString(HKEY_LOCAL_MACHINE, kProduct, L"QHServerMode", L"1"), ERROR_SUCCESS);
    EXPECT_EQ(Resolve(), kProduct);
}

TEST_F(ProductKey, BasedTypeTooLongToReadCountsAsOne) {
    ASSERT_EQ(SetRawString(HKEY_LOCAL_MACHINE, kProduct, L"QHSBasedType", L"zero"), ERROR_SUCCESS);
    Machine(L"QHServerMode", 1);
    User(L"QHServerMode", 0);
    EXPECT_EQ(Resolve(), kBusiness);
}

// --- A root hint, and selection through SetKey ---------------------------------------------------

TEST_F(ProductKey, WithAHintOnlyThatRootsServerModeCounts) {
    Machine(L"QHSBasedType", 0);
    Machine(L"QHServerMode", 0);
    User(L"QHServerMode", 1);
    EXPECT_EQ(CRegistry::ResolveKeyPath(kPlaceholder, HKEY_LOCAL_MACHINE), kProduct);
    EXPECT_EQ(CRegistry::ResolveKeyPath(kPlaceholder, HKEY_CURRENT_USER), kBusiness);
    EXPECT_EQ(CRegistry::ResolveKeyPath(kPlaceholder, HKEY_CURRENT_CONFIG), kProduct)
        << "a hint that is no predefined root reads nothing";
}

TEST_F(ProductKey, SetKeySelectsTheResolvedKeyUnderItsOwnRoot) {
    // The user's value chooses the business key; it is still opened under HKEY_LOCAL_MACHINE.
    Machine(L"QHSBasedType", 0);
    User(L"QHServerMode", 1);
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kBusiness), ERROR_SUCCESS);

    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(registry.SetKey(L"universal_path_convert", FALSE), 1);
    EXPECT_EQ(registry.GetKeyPath(), kBusiness);
}

TEST_F(ProductKey, SetKeyFailsWhenTheResolvedKeyIsMissingUnderItsRoot) {
    Machine(L"QHSBasedType", 0);
    User(L"QHServerMode", 1);

    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(registry.SetKey(kPlaceholder, FALSE), 0);
    EXPECT_EQ(registry.GetKeyPath(), L"");
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kBusiness));
}

TEST_F(ProductKey, SetKeyDirectTakesThePlaceholderLiterally) {
    Machine(L"QHServerMode", 0);
    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(registry.SetKeyDirect(kPlaceholder, FALSE), 0);
    EXPECT_EQ(registry.SetKey(kPlaceholder, FALSE), 1);
    EXPECT_EQ(registry.GetKeyPath(), kProduct);
}

} // namespace
