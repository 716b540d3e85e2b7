// The registry file: its text form, where it lives, how bad files and failed writes are
// handled.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/winnls.h>
#include <winplat/winreg.h>

#include "../registry_internal.h"
#include "reg_helpers.h"
#include "testkit.h"

namespace fs = std::filesystem;

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n";

HKEY Create(HKEY root, const char* path) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
              ERROR_SUCCESS)
        << path;
    return hKey;
}

LONG Set(HKEY hKey, const char* name, DWORD type, const std::string& data) {
    return RegSetValueExA(hKey, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

struct Raw {
    DWORD type = 0;
    std::string data;
    bool operator==(const Raw&) const = default;
};

std::optional<Raw> Query(HKEY root, const char* path, const char* name) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return std::nullopt;
    Raw raw;
    DWORD cb = 0;
    LONG rc = RegQueryValueExA(hKey, name, nullptr, &raw.type, nullptr, &cb);
    if (rc == ERROR_SUCCESS) {
        raw.data.resize(cb);
        rc = RegQueryValueExA(hKey, name, nullptr, &raw.type,
                              reinterpret_cast<LPBYTE>(raw.data.data()), &cb);
    }
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS)
        return std::nullopt;
    return raw;
}

std::string RegistryError() {
    char text[1024] = {};
    WinplatGetRegistryError(text, sizeof text);
    return text;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One value of each kind, as a program would set them, and the line the file holds for it.
struct Sample {
    const char* name;
    DWORD type;
    std::string data;
    const char* line;
};

std::string Bytes(int first, int count) {
    std::string data;
    for (int i = 0; i < count; ++i)
        data.push_back(static_cast<char>(first + i));
    return data;
}

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {nullptr, REG_SZ, std::string("plain", 6), "@=\"plain\""},
        {"Quote\"Back\\slash", REG_SZ, std::string("C:\\dir\\\"x\"", 11),
         "\"Quote\\\"Back\\\\slash\"=\"C:\\\\dir\\\\\\\"x\\\"\""},
        {"Count", REG_DWORD, std::string("\x2a\0\0\0", 4), "\"Count\"=dword:0000002a"},
        {"Caf\xE9", REG_SZ, std::string("na\xEFve", 6),
         "\"Caf\xC3\xA9\"=hex(1):6e,00,61,00,ef,00,76,00,65,00,00,00"},
        {"Lines", REG_SZ, std::string("a\nb", 4), "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00"},
        {"Path", REG_EXPAND_SZ, std::string("%HOME%", 7),
         "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00"},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5),
         "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {"Big", REG_QWORD, std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8),
         "\"Big\"=hex(b):08,07,06,05,04,03,02,01"},
        {"Blob", REG_BINARY, Bytes(0, 40),
         "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
         "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27"},
        {"Empty", REG_SZ, std::string("", 1), "\"Empty\"=\"\""},
        {"NoTerminator", REG_SZ, "abc", "\"NoTerminator\"=hex(1):61,00,62,00,63,00"},
        {"Nothing", REG_NONE, "", "\"Nothing\"=hex(0):"},
        {"ShortDword", REG_DWORD, "\x01\x02", "\"ShortDword\"=hex(4):01,02"},
    };
    return samples;
}

class RegistryFile : public ::testing::Test {
protected:
    testkit::ScopedRegistry registry;
};

TEST_F(RegistryFile, WritesEveryKindOfValueInRegeditSyntax) {
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Test");
    for (const Sample& s : Samples())
        ASSERT_EQ(Set(hKey, s.name, s.type, s.data), ERROR_SUCCESS) << s.line;
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Test\\Odd [name]"));
    RegCloseKey(hKey);

    std::string expected = std::string(kHeader) + "\n"
                                                  "[HKEY_CURRENT_USER\\Software]\n"
                                                  "\n"
                                                  "[HKEY_CURRENT_USER\\Software\\Test]\n";
    for (const Sample& s : Samples())
        expected += std::string(s.line) + "\n";
    expected += "\n[HKEY_CURRENT_USER\\Software\\Test\\Odd [name]]\n\n";
    std::string file = testkit::ReadFile(registry.path());
    EXPECT_EQ(file, expected);

    // The file is already in the form the registry writes.
    std::string canonical, error;
    ASSERT_TRUE(WinplatCanonicalRegistryText(file.data(), file.size(), &canonical, &error))
        << error;
    EXPECT_EQ(canonical, file);
}

TEST_F(RegistryFile, ValuesSurviveTheRoundTripThroughTheFile) {
    HKEY hKey = Create(HKEY_LOCAL_MACHINE, "Software\\Round\\Trip");
    for (const Sample& s : Samples())
        ASSERT_EQ(Set(hKey, s.name, s.type, s.data), ERROR_SUCCESS);
    RegCloseKey(hKey);

    // Another file name makes this process parse the text afresh.
    testkit::TempDir copy;
    fs::copy_file(registry.path(), copy / "copy.reg");
    WinplatSetRegistryPath((copy / "copy.reg").c_str());
    for (const Sample& s : Samples()) {
        std::optional<Raw> raw = Query(HKEY_LOCAL_MACHINE, "Software\\Round\\Trip", s.name);
        ASSERT_TRUE(raw) << s.line;
        EXPECT_EQ(*raw, (Raw{s.type, s.data})) << s.line;
    }
    EXPECT_EQ(regtest::Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\round\\TRIP", "quote\"back\\SLASH"),
              "C:\\dir\\\"x\"");
}

TEST_F(RegistryFile, ReadsAHandWrittenFile) {
    testkit::WriteFile(registry.path(), "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                                        "\r\n"
                                        "; written by hand\r\n"
                                        "[hkey_local_machine\\Software\\Hand]\r\n"
                                        "\"Text\"=\"abc\"\r\n"
                                        "   \"Spaced\" = \"x y\"   \r\n"
                                        "\"\"=\"the default\"\r\n"
                                        "\"Wrapped\"=hex:01,02,\\\r\n"
                                        "     03,04\r\n"
                                        "\"BigEndian\"=hex(5):00,00,00,01\r\n"
                                        "\"Short\"=DWORD:7\r\n"
                                        "\"Utf8\"=\"gr\xC3\xBC\xC3\x9F"
                                        "e\"\r\n"
                                        "\"Gone\"=\"x\"\r\n"
                                        "\"Gone\"=-\r\n"
                                        "\r\n"
                                        "[HKEY_LOCAL_MACHINE\\Software\\Hand\\Doomed\\Child]\r\n"
                                        "[-HKEY_LOCAL_MACHINE\\Software\\Hand\\Doomed]\r\n"
                                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\hand]\r\n"
                                        "\"Later\"=dword:00000001\r\n");
    EXPECT_EQ(regtest::Dump(HKEY_LOCAL_MACHINE, "Software\\Hand"),
              (std::vector<std::string>{
                  "Software\\Hand|Text=sz:abc",
                  "Software\\Hand|Spaced=sz:x y",
                  "Software\\Hand|@=sz:the default",
                  "Software\\Hand|Wrapped=hex(3):01020304",
                  "Software\\Hand|BigEndian=hex(5):00000001",
                  "Software\\Hand|Short=dword:7",
                  "Software\\Hand|Utf8=sz:gr\xFC\xDF"
                  "e",
                  "Software\\Hand|Later=dword:1",
              }));
    EXPECT_EQ(RegistryError(), "");
}

struct BadFile {
    std::string text;
    int line;
    const char* what;
};

class BadRegistryFile : public ::testing::TestWithParam<BadFile> {
protected:
    testkit::ScopedRegistry registry;
};

TEST_P(BadRegistryFile, IsReportedWithPathAndLineAndNeverTouched) {
    const BadFile& bad = GetParam();
    testkit::WriteFile(registry.path(), bad.text);
    std::string prefix = registry.path().string() + ":" + std::to_string(bad.line) + ": ";

    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &hKey), ERROR_BADDB);
    std::string error = RegistryError();
    EXPECT_EQ(error.substr(0, prefix.size()), prefix);
    EXPECT_NE(error.find(bad.what), std::string::npos) << error;

    // No change gets through, whichever way it is asked for.
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hKey, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(Set(HKEY_CURRENT_USER, "Name", REG_SZ, std::string("x", 2)), ERROR_BADDB);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software"), ERROR_BADDB);
    EXPECT_EQ(WinplatRegistrarScriptRegister("HKCU { Key = s 'v' }", TRUE, nullptr, 0),
              HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(testkit::ReadFile(registry.path()), bad.text);
    EXPECT_EQ(FilesIn(registry.path().parent_path()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

const std::string H = "Windows Registry Editor Version 5.00\n\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadRegistryFile,
    ::testing::Values(
        BadFile{"", 1, "first line must be \"Windows Registry Editor Version 5.00\""},
        BadFile{"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n", 1, "not a registry file"},
        BadFile{"Windows Registry Editor Version 5.00 \n", 1, "not a registry file"},
        BadFile{std::string("\xFF\xFEW\0i\0n\0", 8), 1, "not a registry file"},
        BadFile{H + "[HKEY_LOCAL_MACHINE\\Software\n", 3, "must end with \"]\""},
        BadFile{H + "[HKEY_NOWHERE\\Software]\n", 3, "unknown root key \"HKEY_NOWHERE\""},
        BadFile{H + "\"Orphan\"=\"x\"\n", 3, "outside of a key section"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"Open\"=\"abc\n", 4, "missing closing quote"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"P\"=\"C:\\dir\"\n", 4, "backslash"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"D\"=dword:123456789\n", 4, "1 to 8 hex digits"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"B\"=hex:01,zz\n", 4, "hex data"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"B\"=hex:01,\\\n", 4, "past the end"},
        BadFile{H + "[HKEY_CURRENT_USER\\A\\\\B]\n", 3, "empty key name"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"T\"=\"x\" tail\n", 4, "after the closing quote"},
        BadFile{H + "[HKEY_CURRENT_USER\\A\xC3]\n", 3, "invalid key name"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"U\"=unknown\n", 4, "unrecognised value data"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\nName=\"x\"\n", 4, "must start with"},
        BadFile{H + "[-HKEY_CURRENT_USER]\n", 3, "root key cannot be deleted"},
        BadFile{H + "[HKEY_CURRENT_USER\\A]\n\"C\"=\"tab\x01\"\n", 4, "control character"}),
    [](const auto& info) { return testkit::ParamName(info.index, info.param.what); });

TEST_F(RegistryFile, RepairedFileIsReadAgain) {
    testkit::WriteFile(registry.path(), "REGEDIT4\n");
    EXPECT_EQ(regtest::KeyExists(HKEY_CURRENT_USER, "Fixed"), false);
    EXPECT_NE(RegistryError(), "");
    testkit::WriteFile(registry.path(), H + "[HKEY_CURRENT_USER\\Fixed]\n@=\"yes\"\n");
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Fixed", nullptr), "yes");
    EXPECT_EQ(RegistryError(), "");
}

TEST_F(RegistryFile, FolderInThePlaceOfTheFileCannotBeRead) {
    fs::create_directory(registry.path());
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &hKey), ERROR_CANTREAD);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hKey, nullptr),
              ERROR_CANTREAD);
    EXPECT_EQ(RegistryError(), registry.path().string() + ":0: cannot read: not a regular file");
    EXPECT_TRUE(fs::is_directory(registry.path()));
}

TEST_F(RegistryFile, ChangesMadeByOthersAreSeen) {
    regtest::SetText(HKEY_CURRENT_USER, "Seen", nullptr, "mine");
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Seen", nullptr), "mine");
    // As an editor would save it: the same file rewritten in place.
    testkit::WriteFile(registry.path(), H + "[HKEY_CURRENT_USER\\Seen]\n@=\"edited by hand\"\n");
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Seen", nullptr), "edited by hand");
}

TEST(RegistryLocation, MissingFileIsEmptyAndMadeWithItsFolderOnTheFirstWrite) {
    testkit::TempDir dir;
    fs::path file = dir / "deeper" / "still" / "registry.reg";
    WinplatSetRegistryPath(file.c_str());
    EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_EQ(regtest::Text(HKEY_LOCAL_MACHINE, "", "x"), "<missing>");
    EXPECT_EQ(RegistryError(), "");
    // Calls that change nothing make nothing.
    HKEY hKey = nullptr;
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
    EXPECT_FALSE(fs::exists(dir / "deeper"));

    regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\First", "x", "1");
    WinplatSetRegistryPath(nullptr);
    EXPECT_EQ(testkit::ReadFile(file), H + "[HKEY_LOCAL_MACHINE\\Software]\n\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\First]\n"
                                           "\"x\"=\"1\"\n\n");
}

// The registry may hold passwords: a new file is its owner's only, and a mode the owner
// chose survives every rewrite.
TEST_F(RegistryFile, NewFileIsPrivateAndEverySaveKeepsTheMode) {
    const fs::path& file = registry.path();
    regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\A", "Password", "secret");
    ASSERT_TRUE(fs::exists(file));
    for (int save = 0; save < 3; ++save) {
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << "after save " << save;
        regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\A", "N", std::to_string(save));
    }
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (int save = 0; save < 2; ++save)
        regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\B", "N", std::to_string(save));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(regtest::Text(HKEY_LOCAL_MACHINE, "Software\\B", "N"), "1");
}

// Restores an environment variable when it goes.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::string RegistryPath() {
    char path[4096] = {};
    WinplatGetRegistryPath(path, sizeof path);
    return path;
}

TEST(RegistryLocation, ComesFromTheCallThenTheEnvironmentThenTheDataFolder) {
    testkit::TempDir dir;
    WinplatSetRegistryPath(nullptr);
    {
        ScopedEnv registry("SENTREL_REGISTRY", (dir / "env.reg").c_str());
        EXPECT_EQ(RegistryPath(), (dir / "env.reg").string());
        WinplatSetRegistryPath((dir / "set.reg").c_str());
        EXPECT_EQ(RegistryPath(), (dir / "set.reg").string());
        WinplatSetRegistryPath((dir.ZPath() + "\\zpath.reg").c_str());
        EXPECT_EQ(RegistryPath(), (dir / "zpath.reg").string());
        WinplatSetRegistryPath(nullptr);
    }
    {
        ScopedEnv registry("SENTREL_REGISTRY", nullptr);
        ScopedEnv data("XDG_DATA_HOME", (dir / "data").c_str());
        EXPECT_EQ(RegistryPath(), (dir / "data" / "sentrel" / "registry.reg").string());
    }
    {
        ScopedEnv registry("SENTREL_REGISTRY", nullptr);
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", dir.path().c_str());
        EXPECT_EQ(RegistryPath(), (dir / ".local" / "share" / "sentrel" / "registry.reg").string());
    }
    // The length comes back even when the buffer is short.
    char small[4];
    EXPECT_EQ(WinplatGetRegistryPath(small, sizeof small), RegistryPath().size());
    EXPECT_EQ(std::string(small), RegistryPath().substr(0, 3));
}

TEST_F(RegistryFile, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    regtest::SetText(HKEY_CURRENT_USER, "Kept", nullptr, "before");
    std::string before = testkit::ReadFile(registry.path());

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Files may not grow past what the registry holds now: the new file cannot be written.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{before.size(), before.size()};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string big(4096, 'x');
        HKEY hKey = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_ALL_ACCESS, &hKey);
        LONG rc = Set(hKey, "Big", REG_SZ, big);
        // The failed change is not kept in memory either.
        bool gone = !Query(HKEY_CURRENT_USER, "Kept", "Big");
        _exit(rc == ERROR_CANTWRITE && gone ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(testkit::ReadFile(registry.path()), before);
    EXPECT_EQ(FilesIn(registry.path().parent_path()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, "Kept", nullptr), "before");
}

TEST_F(RegistryFile, NamesAndTextInTheDoubleByteCodePage) {
    ASSERT_TRUE(WinplatSetACP(932));
    const std::string key = "\x93\xFA\x96\x7B";          // 日本 in code page 932
    const std::string text = "\x83\x65\x83\x58\x83\x67"; // テスト
    regtest::SetText(HKEY_CURRENT_USER, key, "\x96\xBC", text);
    EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, key, "\x96\xBC"), text);
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &hKey), ERROR_SUCCESS);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "\x96\xBC", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 7u); // three double-byte characters and the terminator
    RegCloseKey(hKey);
    WinplatSetACP(1252);
    // The file holds the names in UTF-8 and the text as UTF-16.
    EXPECT_EQ(testkit::ReadFile(registry.path()),
              H + "[HKEY_CURRENT_USER\\\xE6\x97\xA5\xE6\x9C\xAC]\n"
                  "\"\xE5\x90\x8D\"=hex(1):c6,30,b9,30,c8,30,00,00\n\n");
}

} // namespace
