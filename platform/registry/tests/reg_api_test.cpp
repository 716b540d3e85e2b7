// The Reg*A functions: handles, access rights, sizes, enumeration and their error codes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "reg_helpers.h"
#include "testkit.h"

namespace {

HKEY Open(HKEY root, const char* path, REGSAM sam) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, path, 0, sam, &hKey), ERROR_SUCCESS) << path;
    return hKey;
}

HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr) {
    HKEY hKey = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, disposition),
        ERROR_SUCCESS)
        << path;
    return hKey;
}

LONG SetText(HKEY hKey, const char* name, const char* text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

class RegApi : public ::testing::Test {
protected:
    void SetUp() override {
        // HKCU\Test with a value and the subkeys Sub\Deeper and Leaf.
        HKEY hTest = Create(HKEY_CURRENT_USER, "Test");
        ASSERT_EQ(SetText(hTest, "Name", "value"), ERROR_SUCCESS);
        RegCloseKey(Create(hTest, "Sub\\Deeper"));
        RegCloseKey(Create(hTest, "Leaf"));
        RegCloseKey(hTest);
    }

    testkit::ScopedRegistry registry;
};

struct ErrorCase {
    const char* what;
    std::function<LONG()> call;
    LONG expected;
};

TEST_F(RegApi, ErrorCodes) {
    HKEY hRead = Open(HKEY_CURRENT_USER, "Test", KEY_READ);
    HKEY hWrite = Open(HKEY_CURRENT_USER, "Test", KEY_WRITE);
    HKEY hQuery = Open(HKEY_CURRENT_USER, "Test", KEY_QUERY_VALUE);
    HKEY hAll = Open(HKEY_CURRENT_USER, "Test", KEY_ALL_ACCESS);
    HKEY hBogus = reinterpret_cast<HKEY>(0x4321);
    HKEY hOut = nullptr;
    char name[64];
    DWORD cch = sizeof name;
    BYTE data[64];
    DWORD cb = sizeof data;
    const std::string longName(256, 'k');

    const std::vector<ErrorCase> cases = {
        {"open a missing key",
         [&] { return RegOpenKeyExA(HKEY_CURRENT_USER, "Test\\Missing", 0, KEY_READ, &hOut); },
         ERROR_FILE_NOT_FOUND},
        {"open through a handle that was never opened",
         [&] { return RegOpenKeyExA(hBogus, "Sub", 0, KEY_READ, &hOut); }, ERROR_INVALID_HANDLE},
        {"open without a result pointer",
         [&] { return RegOpenKeyExA(HKEY_CURRENT_USER, "Test", 0, KEY_READ, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"open a path with a leading backslash",
         [&] { return RegOpenKeyExA(HKEY_CURRENT_USER, "\\Test", 0, KEY_READ, &hOut); },
         ERROR_BAD_PATHNAME},
        {"create a key name of 256 characters",
         [&] {
             return RegCreateKeyExA(hAll, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &hOut, nullptr);
         },
         ERROR_INVALID_PARAMETER},
        {"create a key through a read-only handle",
         [&] {
             return RegCreateKeyExA(hRead, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hOut,
                                    nullptr);
         },
         ERROR_ACCESS_DENIED},
        {"set a value through a read-only handle", [&] { return SetText(hRead, "Name", "other"); },
         ERROR_ACCESS_DENIED},
        {"delete a value through a read-only handle",
         [&] { return RegDeleteValueA(hRead, "Name"); }, ERROR_ACCESS_DENIED},
        {"query a value through a write-only handle",
         [&] { return RegQueryValueExA(hWrite, "Name", nullptr, nullptr, nullptr, nullptr); },
         ERROR_ACCESS_DENIED},
        {"enumerate keys without KEY_ENUMERATE_SUB_KEYS",
         [&] {
             cch = sizeof name;
             return RegEnumKeyExA(hQuery, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_ACCESS_DENIED},
        {"enumerate values through a write-only handle",
         [&] {
             cch = sizeof name;
             return RegEnumValueA(hWrite, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_ACCESS_DENIED},
        {"query a missing value",
         [&] { return RegQueryValueExA(hRead, "Missing", nullptr, nullptr, nullptr, nullptr); },
         ERROR_FILE_NOT_FOUND},
        {"query with data but no size",
         [&] { return RegQueryValueExA(hRead, "Name", nullptr, nullptr, data, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"query into a buffer too small",
         [&] {
             cb = 3;
             return RegQueryValueExA(hRead, "Name", nullptr, nullptr, data, &cb);
         },
         ERROR_MORE_DATA},
        {"delete a missing value", [&] { return RegDeleteValueA(hAll, "Missing"); },
         ERROR_FILE_NOT_FOUND},
        {"delete a key that has subkeys", [&] { return RegDeleteKeyA(hAll, "Sub"); },
         ERROR_ACCESS_DENIED},
        {"delete a missing key", [&] { return RegDeleteKeyA(hAll, "Missing"); },
         ERROR_FILE_NOT_FOUND},
        {"delete a root key", [&] { return RegDeleteKeyA(HKEY_CURRENT_USER, ""); },
         ERROR_ACCESS_DENIED},
        {"delete a missing tree", [&] { return RegDeleteTreeA(hAll, "Missing"); },
         ERROR_FILE_NOT_FOUND},
        {"empty a key through a read-only handle", [&] { return RegDeleteTreeA(hRead, nullptr); },
         ERROR_ACCESS_DENIED},
        {"enumerate past the last key",
         [&] {
             cch = sizeof name;
             return RegEnumKeyExA(hRead, 2, name, &cch, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_NO_MORE_ITEMS},
        {"enumerate past the last value",
         [&] {
             cch = sizeof name;
             return RegEnumValueA(hRead, 1, name, &cch, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_NO_MORE_ITEMS},
        {"enumerate into a name buffer too small",
         [&] {
             cch = 4; // "Leaf" needs five
             return RegEnumKeyExA(hRead, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_MORE_DATA},
        {"query key information without KEY_QUERY_VALUE",
         [&] {
             return RegQueryInfoKeyA(hWrite, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
         },
         ERROR_ACCESS_DENIED},
        {"close a handle that was never opened", [&] { return RegCloseKey(hBogus); },
         ERROR_INVALID_HANDLE},
        {"close a root key", [&] { return RegCloseKey(HKEY_LOCAL_MACHINE); }, ERROR_SUCCESS},
    };
    for (const ErrorCase& c : cases) {
        SetLastError(12345);
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_EQ(GetLastError(), 12345u) << c.what << ": errors are returned, not set";
    }
    EXPECT_EQ(cb, 6u) << "the size needed for \"value\"";
    for (HKEY h : {hRead, hWrite, hQuery, hAll})
        EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hAll), ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, "Test\\Sub\\Deeper"));
}

TEST_F(RegApi, CreateMakesTheKeysAboveAndReportsWhatItDid) {
    DWORD disposition = 0;
    HKEY hKey = Create(HKEY_LOCAL_MACHINE, "Software\\A\\B\\C\\", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(hKey);
    hKey = Create(HKEY_LOCAL_MACHINE, "software\\a\\b\\c", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(hKey);
    EXPECT_EQ(regtest::Dump(HKEY_LOCAL_MACHINE, "Software"),
              (std::vector<std::string>{"Software\\A", "Software\\A\\B", "Software\\A\\B\\C"}));

    // A read-only handle may open an existing key with create, not make a new one.
    HKEY hRead = Open(HKEY_LOCAL_MACHINE, "Software\\A", KEY_READ);
    EXPECT_EQ(RegCreateKeyExA(hRead, "B", 0, nullptr, 0, KEY_READ, nullptr, &hKey, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(hKey);
    RegCloseKey(hRead);
}

TEST_F(RegApi, QueryGivesTypeAndSizeAndCopiesOnlyWhatFits) {
    HKEY hKey = Open(HKEY_CURRENT_USER, "Test", KEY_ALL_ACCESS);
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExA(hKey, "Name", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(cb, 6u); // "value" with its terminating zero, as it was set
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    cb = 5;
    EXPECT_EQ(RegQueryValueExA(hKey, "Name", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(buffer[0], '#');
    cb = 6;
    EXPECT_EQ(RegQueryValueExA(hKey, "NAME", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 6), std::string("value", 6));

    const BYTE dword[] = {1, 2, 3, 4};
    ASSERT_EQ(RegSetValueExA(hKey, nullptr, 0, REG_DWORD, dword, 4), ERROR_SUCCESS);
    DWORD value = 0;
    cb = sizeof value;
    ASSERT_EQ(RegQueryValueExA(hKey, "", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 0x04030201u);

    // Setting a value again keeps its place and its first spelling.
    ASSERT_EQ(SetText(hKey, "NAME", "again"), ERROR_SUCCESS);
    char name[32];
    DWORD cch = sizeof name;
    ASSERT_EQ(RegEnumValueA(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, cch), "Name");
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Test", "name"), "again");
    RegCloseKey(hKey);
}

TEST_F(RegApi, EnumerationOrdersKeysByNameAndValuesAsSet) {
    HKEY hKey = Create(HKEY_CURRENT_USER, "Order");
    for (const char* sub : {"beta", "Alpha", "gamma", "ALPHA2"})
        RegCloseKey(Create(hKey, sub));
    for (const char* value : {"z", "a", "M"})
        ASSERT_EQ(SetText(hKey, value, "x"), ERROR_SUCCESS);
    std::vector<std::string> keys, values;
    char name[32];
    DWORD cch;
    for (DWORD i = 0; cch = sizeof name, RegEnumKeyExA(hKey, i, name, &cch, nullptr, nullptr,
                                                       nullptr, nullptr) == ERROR_SUCCESS;
         ++i)
        keys.emplace_back(name, cch);
    for (DWORD i = 0; cch = sizeof name, RegEnumValueA(hKey, i, name, &cch, nullptr, nullptr,
                                                       nullptr, nullptr) == ERROR_SUCCESS;
         ++i)
        values.emplace_back(name, cch);
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}));
    EXPECT_EQ(values, (std::vector<std::string>{"z", "a", "M"}));

    DWORD subKeys = 0, maxSubKey = 0, valueCount = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(SetText(hKey, "LongerName", "a longer text"), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                               &valueCount, &maxValueName, &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(maxSubKey, 6u);
    EXPECT_EQ(valueCount, 4u);
    EXPECT_EQ(maxValueName, 10u);
    EXPECT_EQ(maxValue, 14u);
    RegCloseKey(hKey);
}

TEST_F(RegApi, HandleOfADeletedKeyReportsKeyDeleted) {
    HKEY hLeaf = Open(HKEY_CURRENT_USER, "Test\\Leaf", KEY_ALL_ACCESS);
    HKEY hDeeper = Open(HKEY_CURRENT_USER, "Test\\Sub\\Deeper", KEY_ALL_ACCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "TEST\\leaf"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Test\\Sub"), ERROR_SUCCESS);
    // A new key of the same name is another key: the old handles stay dead.
    RegCloseKey(Create(HKEY_CURRENT_USER, "Test\\Leaf"));
    for (HKEY h : {hLeaf, hDeeper}) {
        EXPECT_EQ(SetText(h, "x", "y"), ERROR_KEY_DELETED);
        EXPECT_EQ(RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
        HKEY hOut = nullptr;
        EXPECT_EQ(
            RegCreateKeyExA(h, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hOut, nullptr),
            ERROR_KEY_DELETED);
        EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    }
    EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, "Test\\Leaf\\Child"));
}

TEST_F(RegApi, KeyDeletedByAnotherProcessIsGoneForOpenHandles) {
    HKEY hLeaf = Open(HKEY_CURRENT_USER, "Test\\Leaf", KEY_ALL_ACCESS);
    ASSERT_EQ(SetText(hLeaf, "x", "1"), ERROR_SUCCESS);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(RegDeleteKeyA(HKEY_CURRENT_USER, "Test\\Leaf") == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(RegQueryValueExA(hLeaf, "x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(SetText(hLeaf, "x", "2"), ERROR_KEY_DELETED);
    RegCloseKey(hLeaf);
}

TEST_F(RegApi, DeleteTreeWithoutSubkeyEmptiesTheKeyItself) {
    HKEY hTest = Open(HKEY_CURRENT_USER, "Test", KEY_ALL_ACCESS);
    HKEY hDeeper = Open(HKEY_CURRENT_USER, "Test\\Sub\\Deeper", KEY_ALL_ACCESS);
    ASSERT_EQ(RegDeleteTreeA(hTest, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, "Test"), std::vector<std::string>{});
    EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, "Test"));
    EXPECT_EQ(SetText(hTest, "still", "usable"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(hDeeper, "x", "y"), ERROR_KEY_DELETED);
    RegCloseKey(hDeeper);
    RegCloseKey(hTest);
}

TEST_F(RegApi, OpenAndCreateWithoutSubkeyHandBackTheSameHandle) {
    HKEY hTest = Open(HKEY_CURRENT_USER, "Test", KEY_ALL_ACCESS);
    HKEY hSame = nullptr;
    EXPECT_EQ(RegOpenKeyA(hTest, nullptr, &hSame), ERROR_SUCCESS);
    EXPECT_EQ(hSame, hTest);
    EXPECT_EQ(RegCreateKeyA(hTest, "", &hSame), ERROR_SUCCESS);
    EXPECT_EQ(hSame, hTest);
    HKEY hNew = nullptr;
    EXPECT_EQ(RegCreateKeyA(hTest, "Made\\Here", &hNew), ERROR_SUCCESS);
    EXPECT_EQ(SetText(hNew, nullptr, "full access"), ERROR_SUCCESS);
    HKEY hOpened = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Test\\Made", &hOpened), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(hOpened, "Here"), ERROR_SUCCESS);
    for (HKEY h : {hTest, hNew, hOpened})
        RegCloseKey(h);
    EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, "Test\\Made\\Here"));
}

TEST_F(RegApi, RootsAreSeparateTrees) {
    regtest::SetText(HKEY_CLASSES_ROOT, "Software\\Classes\\Shared", nullptr, "classes");
    regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\Classes\\Shared", nullptr, "machine");
    regtest::SetText(HKEY_USERS, "Software\\Classes\\Shared", nullptr, "users");
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, "Software\\Classes\\Shared", nullptr), "classes");
    EXPECT_EQ(regtest::Text(HKEY_LOCAL_MACHINE, "Software\\Classes\\Shared", nullptr), "machine");
    EXPECT_EQ(regtest::Text(HKEY_USERS, "Software\\Classes\\Shared", nullptr), "users");
    EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\Shared"));
    EXPECT_FALSE(regtest::KeyExists(HKEY_CLASSES_ROOT, "Test"));
}

TEST_F(RegApi, GenericAndMaximumRightsMapToKeyRights) {
    const REGSAM kGenericRead = 0x80000000, kMaximumAllowed = 0x02000000;
    HKEY hRead = Open(HKEY_CURRENT_USER, "Test", kGenericRead);
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Test", "Name"), "value");
    EXPECT_EQ(RegQueryValueExA(hRead, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(SetText(hRead, "Name", "x"), ERROR_ACCESS_DENIED);
    HKEY hMax = Open(HKEY_CURRENT_USER, "Test", kMaximumAllowed);
    EXPECT_EQ(SetText(hMax, "Name", "x"), ERROR_SUCCESS);
    RegCloseKey(hRead);
    RegCloseKey(hMax);
}

} // namespace
