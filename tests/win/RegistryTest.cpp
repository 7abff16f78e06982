// CRegistry against Wine's registry: roots, key selection and the last open status, writes,
// reads of every size, the tests for keys and values, the current-user root and the views.
#include "RegistryTestSupport.h"
#include "TestSupport.h"
#include "TokenSeams.h"

#include "registry/Registry.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kScratch = L"Software\\UnpackStubTests\\Registry";
const std::wstring kMissing = kScratch + L"\\Missing";
constexpr DWORD kJunk = 0xDEADBEEF;

std::string Hex(const std::vector<BYTE>& bytes) {
    std::string text;
    char part[4];
    for (const BYTE b : bytes) {
        std::snprintf(part, sizeof part, "%02X ", b);
        text += part;
    }
    return text;
}

class RegistryTest : public testing::Test {
protected:
    SystemCallsScope scope;

    void SetUp() override {
        Clean();
        ASSERT_EQ(CreateRawKey(HKEY_CURRENT_USER, kScratch), ERROR_SUCCESS);
        ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kScratch), ERROR_SUCCESS);
    }
    void TearDown() override { Clean(); }
    static void Clean() {
        DeleteRawTree(HKEY_CURRENT_USER, kScratch);
        DeleteRawTree(HKEY_LOCAL_MACHINE, kScratch);
        DeleteRawTree(HKEY_LOCAL_MACHINE, kScratch, KEY_WOW64_64KEY);
    }

    // Selects the scratch key under `root` (open-existing mode).
    static void Select(CRegistry& registry, HKEY root) {
        ASSERT_EQ(registry.SetRootKey(root), 1);
        ASSERT_EQ(registry.SetKeyDirect(kScratch, FALSE), 1);
    }
};

// --- Roots, selection and the last open status ---------------------------------------------------

TEST_F(RegistryTest, FreshObjectAddressesTheCurrentUserRootItself) {
    const CRegistry registry;
    EXPECT_EQ(registry.GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(registry.GetKeyPath(), L"");
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_SUCCESS);
}

TEST_F(RegistryTest, OnlyThePredefinedFourAreAcceptedAsRoot) {
    HKEY opened = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kScratch.c_str(), 0, KEY_READ, &opened),
              ERROR_SUCCESS);
    const UniqueKey ordinaryKey(opened);

    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    const HKEY refused[] = {HKEY_CURRENT_CONFIG,
                            HKEY_PERFORMANCE_DATA,
                            reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000004)),
                            reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFFFFFF)),
                            nullptr,
                            ordinaryKey.get()};
    for (const HKEY root : refused) {
        EXPECT_EQ(registry.SetRootKey(root), 0) << root;
        EXPECT_EQ(registry.GetRootKey(), HKEY_LOCAL_MACHINE) << "refused " << root;
    }
    for (const HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS, HKEY_LOCAL_MACHINE}) {
        EXPECT_EQ(registry.SetRootKey(root), 1) << root;
        EXPECT_EQ(registry.GetRootKey(), root);
    }
}

TEST_F(RegistryTest, OpenExistingOnAMissingKeyRecordsItsStatusAndKeepsThePath) {
    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);

    EXPECT_EQ(registry.SetKey(kMissing, FALSE), 0);
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.GetKeyPath(), kScratch);
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, kMissing)) << "open-existing created the key";

    // Create mode makes it and selects it, without touching the last open status.
    EXPECT_EQ(registry.SetKey(kMissing, TRUE), 1);
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, kMissing));
    EXPECT_EQ(registry.GetKeyPath(), kMissing);
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);

    // The next successful open-existing selection records 0.
    EXPECT_EQ(registry.SetKey(kScratch, FALSE), 1);
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SetKeyDirectRecordsTheLastOpenStatusToo) {
    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(registry.SetKeyDirect(kMissing, FALSE), 0);
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.GetKeyPath(), L"");
}

TEST_F(RegistryTest, EmptyPathSelectsTheRootWithoutOpeningAnything) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(registry.SetKeyDirect(kMissing, FALSE), 0);

    EXPECT_EQ(registry.SetKey(L"", FALSE), 1);
    EXPECT_EQ(registry.GetKeyPath(), L"");
    // An open would have recorded its status.
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);

    Select(registry, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registry.SetKeyDirect(L"", TRUE), 1);
    EXPECT_EQ(registry.GetKeyPath(), L"");
}

TEST_F(RegistryTest, FailedCreationKeepsPathAndStatus) {
    // A volatile key cannot have a lasting child: creating one fails for real.
    const std::wstring volatileKey = kScratch + L"\\Volatile";
    ASSERT_EQ(CreateRawKey(HKEY_CURRENT_USER, volatileKey, REG_OPTION_VOLATILE), ERROR_SUCCESS);
    ASSERT_NE(CreateRawKey(HKEY_CURRENT_USER, volatileKey + L"\\Probe"), ERROR_SUCCESS)
        << "this registry lets a volatile key have a non-volatile child";

    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);
    EXPECT_EQ(registry.SetKey(volatileKey + L"\\Child", TRUE), 0);
    EXPECT_EQ(registry.GetKeyPath(), kScratch);
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ResetEmptiesPathAndRootButKeepsTheLastOpenStatus) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(registry.SetKeyDirect(kMissing, FALSE), 0);

    EXPECT_EQ(registry.Reset(), 1);
    EXPECT_EQ(registry.GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(registry.GetKeyPath(), L"");
    EXPECT_EQ(registry.GetLastOpenStatus(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, KeyPathIsKeptWhenTheRootChanges) {
    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(registry.GetKeyPath(), kScratch);

    ASSERT_EQ(registry.WriteDword(L"Where", 2), 1);
    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Where").data, DwordBytes(2));
    EXPECT_EQ(ReadRawValue(HKEY_CURRENT_USER, kScratch, L"Where").status, ERROR_FILE_NOT_FOUND);
}

// --- Writes --------------------------------------------------------------------------------------

TEST_F(RegistryTest, DwordIsStoredAsFourLittleEndianBytes) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(registry.WriteDword(L"Number", 0x12345678), 1);

    const RawValue value = ReadRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Number");
    ASSERT_EQ(value.status, ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value.data, (std::vector<BYTE>{0x78, 0x56, 0x34, 0x12})) << Hex(value.data);
}

TEST_F(RegistryTest, StringIsStoredWithItsTerminatingNul) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    const std::wstring time = L"2025-10-14 10:18:12";
    ASSERT_EQ(time.size(), 19u);
    ASSERT_EQ(registry.WriteString(L"Time", time, REG_SZ), 1);
    ASSERT_EQ(registry.WriteString(L"Empty", L"", REG_SZ), 1);
    ASSERT_EQ(registry.WriteString(L"Expand", L"%TEMP%", REG_EXPAND_SZ), 1);

    const RawValue stored = ReadRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Time");
    ASSERT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.data.size(), 40u);
    EXPECT_EQ(stored.data, Utf16Bytes(time)) << Hex(stored.data);

    EXPECT_EQ(ReadRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Empty").data, (std::vector<BYTE>{0, 0}));
    const RawValue expand = ReadRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Expand");
    EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ)) << "the caller's type is kept";
    EXPECT_EQ(expand.data, Utf16Bytes(L"%TEMP%"));
}

TEST_F(RegistryTest, WritesToAMissingKeyFailAndCreateNothing) {
    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    ASSERT_EQ(registry.SetKeyDirect(kMissing, TRUE), 1);
    DeleteRawTree(HKEY_LOCAL_MACHINE, kMissing);

    EXPECT_EQ(registry.WriteDword(L"Number", 1), 0);
    EXPECT_EQ(registry.WriteString(L"Text", L"x", REG_SZ), 0);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kMissing)) << "a write created the key";
}

TEST_F(RegistryTest, EveryOperationOpensTheKeyAfresh) {
    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);
    // Deleted and made again between two operations: a handle kept from the selection would
    // still point at the deleted key, and the write would be lost.
    DeleteRawTree(HKEY_CURRENT_USER, kScratch);
    ASSERT_EQ(CreateRawKey(HKEY_CURRENT_USER, kScratch), ERROR_SUCCESS);

    ASSERT_EQ(registry.WriteDword(L"Number", 7), 1);
    EXPECT_EQ(ReadRawValue(HKEY_CURRENT_USER, kScratch, L"Number").data, DwordBytes(7));
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), 7u);
}

// Wine reports no process handle count. It does hand out the lowest free handle value, as
// Windows mostly does: a handle left open by an operation would take the value that a handle
// closed just before the operations had, and the next new handle would get another one.
HANDLE NextHandleValue() {
    UniqueHandle probe(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return probe.get();
}

TEST_F(RegistryTest, NoHandleOutlivesAnOperation) {
    const HANDLE free = NextHandleValue();
    ASSERT_EQ(NextHandleValue(), free) << "handle values are not reused here";
    {
        CRegistry registry;
        for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            Select(registry, root);
            ASSERT_EQ(registry.WriteDword(L"Number", 1), 1);
            ASSERT_EQ(registry.WriteString(L"Text", L"x", REG_SZ), 1);
            ASSERT_EQ(registry.ReadDword(L"Number", kJunk), 1u);
            ASSERT_EQ(registry.ValueExists(L"Number"), 1);
            ASSERT_EQ(registry.KeyExists(kScratch), 1);
            ASSERT_EQ(registry.SetKey(kScratch, TRUE), 1);
            ASSERT_EQ(registry.SetKeyDirect(kMissing, FALSE), 0);
        }
        EXPECT_EQ(NextHandleValue(), free) << "a handle left open by an operation of a live object";
    }
}

// --- Reads ---------------------------------------------------------------------------------------

TEST_F(RegistryTest, ReadDwordGivesTheDefaultForAMissingKeyOrValue) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(SetRawDword(HKEY_LOCAL_MACHINE, kScratch, L"Number", 5), ERROR_SUCCESS);
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), 5u);
    EXPECT_EQ(registry.ReadDword(L"Other", kJunk), kJunk);

    DeleteRawTree(HKEY_LOCAL_MACHINE, kScratch);
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), kJunk);
}

TEST_F(RegistryTest, ReadDwordGivesTheDefaultForValuesLongerThanFourBytes) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    const BYTE five[] = {1, 2, 3, 4, 5};
    const ULONGLONG eight = 1;
    ASSERT_EQ(SetRawString(HKEY_LOCAL_MACHINE, kScratch, L"String", L"ab"), ERROR_SUCCESS);
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Five", REG_BINARY, five, sizeof five),
              ERROR_SUCCESS);
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Qword", REG_QWORD, &eight, sizeof eight),
              ERROR_SUCCESS);

    EXPECT_EQ(registry.ReadDword(L"String", kJunk), kJunk);
    EXPECT_EQ(registry.ReadDword(L"Five", kJunk), kJunk);
    EXPECT_EQ(registry.ReadDword(L"Qword", kJunk), kJunk);
}

TEST_F(RegistryTest, FourByteValuesAreReadWhateverTheirType) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    const BYTE binary[] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Binary", REG_BINARY, binary, 4),
              ERROR_SUCCESS);
    // One character and its NUL.
    ASSERT_EQ(SetRawString(HKEY_LOCAL_MACHINE, kScratch, L"String", L"\u1234"), ERROR_SUCCESS);
    ASSERT_EQ(
        SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"BigEndian", REG_DWORD_BIG_ENDIAN, binary, 4),
        ERROR_SUCCESS);

    EXPECT_EQ(registry.ReadDword(L"Binary", kJunk), 0x04030201u);
    EXPECT_EQ(registry.ReadDword(L"String", kJunk), 0x00001234u);
    EXPECT_EQ(registry.ReadDword(L"BigEndian", kJunk), 0x04030201u) << "the bytes, not the type";
}

TEST_F(RegistryTest, ShorterValuesReadTheMissingHighBytesAsZero) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    const BYTE bytes[] = {0xAB, 0x12, 0x34};
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"One", REG_BINARY, bytes, 1),
              ERROR_SUCCESS);
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"Three", REG_BINARY, bytes, 3),
              ERROR_SUCCESS);
    ASSERT_EQ(SetRawValue(HKEY_LOCAL_MACHINE, kScratch, L"None", REG_BINARY, bytes, 0),
              ERROR_SUCCESS);

    EXPECT_EQ(registry.ReadDword(L"One", kJunk), 0xABu);
    EXPECT_EQ(registry.ReadDword(L"Three", kJunk), 0x3412ABu);
    EXPECT_EQ(registry.ReadDword(L"None", kJunk), 0u);
}

TEST_F(RegistryTest, ReadDwordLooksBelowTheSelectedKeyWhenGivenASubKey) {
    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);
    ASSERT_EQ(SetRawDword(HKEY_CURRENT_USER, kScratch + L"\\Sub", L"Number", 9), ERROR_SUCCESS);
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk, L"Sub"), 9u);
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), kJunk);
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk, L"Other"), kJunk);
}

// --- Tests for keys and values -------------------------------------------------------------------

TEST_F(RegistryTest, ValueExistsLooksInTheSelectedKey) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(SetRawString(HKEY_LOCAL_MACHINE, kScratch, L"Text", L"long text"), ERROR_SUCCESS);
    EXPECT_EQ(registry.ValueExists(L"Text"), 1) << "any size counts";
    EXPECT_EQ(registry.ValueExists(L"Other"), 0);

    DeleteRawTree(HKEY_LOCAL_MACHINE, kScratch);
    EXPECT_EQ(registry.ValueExists(L"Text"), 0);
}

TEST_F(RegistryTest, KeyExistsTakesThePathLiterallyBelowTheGivenRoot) {
    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_CURRENT_USER), 1);
    ASSERT_EQ(CreateRawKey(HKEY_LOCAL_MACHINE, kScratch + L"\\OnlyMachine"), ERROR_SUCCESS);

    EXPECT_EQ(registry.KeyExists(kScratch), 1);
    EXPECT_EQ(registry.KeyExists(kMissing), 0);
    EXPECT_EQ(registry.KeyExists(kScratch + L"\\OnlyMachine"), 0) << "the object's root is HKCU";
    EXPECT_EQ(registry.KeyExists(kScratch + L"\\OnlyMachine", HKEY_LOCAL_MACHINE), 1);

    // Not relative to the selected key.
    ASSERT_EQ(registry.SetKeyDirect(kScratch, FALSE), 1);
    EXPECT_EQ(registry.KeyExists(L"Software"), 1);
    EXPECT_EQ(registry.KeyExists(L"Registry"), 0);
}

TEST_F(RegistryTest, KeyExistsNeverClosesARootHandedIn) {
    HKEY opened = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\UnpackStubTests", 0,
                              KEY_ALL_ACCESS | kStubView, &opened),
              ERROR_SUCCESS);
    const UniqueKey parent(opened);

    const CRegistry registry;
    EXPECT_EQ(registry.KeyExists(L"Registry", parent.get()), 1);
    EXPECT_EQ(registry.KeyExists(L"Missing", parent.get()), 0);
    EXPECT_EQ(::RegQueryInfoKeyW(parent.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS)
        << "the caller's key was closed";
}

TEST_F(RegistryTest, KeyThatCanOnlyBeReadCountsAsMissing) {
    if (!RegistryEnforcesReadOnlyKeys(HKEY_CURRENT_USER, kScratch))
        GTEST_SKIP() << "this registry grants full access to a key that allows only reading";
    const std::wstring readOnly = kScratch + L"\\ReadOnly";
    ASSERT_EQ(SetRawDword(HKEY_CURRENT_USER, readOnly, L"Number", 3), ERROR_SUCCESS);
    ASSERT_EQ(GrantEveryoneOnly(HKEY_CURRENT_USER, readOnly, KEY_READ), ERROR_SUCCESS);

    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_CURRENT_USER), 1);
    ASSERT_EQ(registry.SetKeyDirect(readOnly, FALSE), 1) << "reading is allowed";
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), 3u);
    EXPECT_EQ(registry.ValueExists(L"Number"), 0);
    EXPECT_EQ(registry.KeyExists(readOnly), 0);
}

// --- The current user's hive ---------------------------------------------------------------------

TEST_F(RegistryTest, EveryCurrentUserOperationOpensTheUsersHiveThroughItsToken) {
    InstallCountingUserTokenQuery();
    CRegistry registry;
    ASSERT_EQ(registry.SetRootKey(HKEY_CURRENT_USER), 1);

    const auto queries = [] { return g_userTokenQueries.sessions.size(); };
    size_t expected = 0;
    const auto oneMore = [&](const char* operation) {
        ++expected;
        EXPECT_EQ(queries(), expected) << operation;
        EXPECT_FALSE(ThreadIsImpersonating()) << operation << " left the thread impersonating";
    };
    ASSERT_EQ(registry.SetKeyDirect(kScratch, FALSE), 1);
    oneMore("SetKeyDirect");
    ASSERT_EQ(registry.SetKey(kScratch, TRUE), 1);
    oneMore("SetKey");
    ASSERT_EQ(registry.WriteDword(L"Number", 4), 1);
    oneMore("WriteDword");
    ASSERT_EQ(registry.WriteString(L"Text", L"x", REG_SZ), 1);
    oneMore("WriteString");
    ASSERT_EQ(registry.ReadDword(L"Number", kJunk), 4u);
    oneMore("ReadDword");
    ASSERT_EQ(registry.ValueExists(L"Text"), 1);
    oneMore("ValueExists");
    ASSERT_EQ(registry.KeyExists(kScratch), 1);
    oneMore("KeyExists");

    // A root handed in, and the machine root, need no user.
    ASSERT_EQ(registry.KeyExists(kScratch, HKEY_CURRENT_USER), 1);
    ASSERT_EQ(registry.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    ASSERT_EQ(registry.WriteDword(L"Number", 4), 1);
    ASSERT_EQ(registry.ReadDword(L"Number", kJunk), 4u);
    EXPECT_EQ(queries(), expected);
}

TEST_F(RegistryTest, WithoutAUserTokenTheProcesssOwnHiveServes) {
    InstallNoLoggedOnUserToken();
    CRegistry registry;
    Select(registry, HKEY_CURRENT_USER);
    ASSERT_EQ(registry.WriteDword(L"Number", 6), 1);
    ASSERT_EQ(registry.WriteString(L"Text", L"own", REG_SZ), 1);
    EXPECT_EQ(ReadRawValue(HKEY_CURRENT_USER, kScratch, L"Number").data, DwordBytes(6));
    EXPECT_EQ(ReadRawValue(HKEY_CURRENT_USER, kScratch, L"Text").data, Utf16Bytes(L"own"));
    EXPECT_EQ(registry.ReadDword(L"Number", kJunk), 6u);
    EXPECT_EQ(registry.ValueExists(L"Text"), 1);
    EXPECT_EQ(registry.KeyExists(kScratch), 1);
}

// --- Registry views ------------------------------------------------------------------------------

TEST_F(RegistryTest, MachineValuesLandInTheThirtyTwoBitView) {
    CRegistry registry;
    Select(registry, HKEY_LOCAL_MACHINE);
    ASSERT_EQ(registry.WriteDword(L"Number", 32), 1);

    // Seen from the 64-bit view, the 32-bit keys lie below Wow6432Node.
    const RawValue redirected =
        ReadRawValue(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\UnpackStubTests\\Registry",
                     L"Number", KEY_WOW64_64KEY);
    EXPECT_EQ(redirected.status, ERROR_SUCCESS);
    EXPECT_EQ(redirected.data, DwordBytes(32));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kScratch, KEY_WOW64_64KEY))
        << "the key exists in the 64-bit view";
}

} // namespace
