// Private profile files: reading by the INI rules, writing that keeps every other line,
// refusals, atomic replacement and concurrent writers.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "testkit.h"

namespace {

using testkit::ReadFile;
using testkit::TempDir;
using testkit::WriteFile;

// A literal's bytes, zeros inside included.
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

class ScopedCodePage {
public:
    explicit ScopedCodePage(UINT cp) { WinplatSetACP(cp); }
    ~ScopedCodePage() { WinplatSetACP(1252); }
};

// Section and key names in code page 1252: "\xDCn\xEFcode" is "Ünïcode", "Cl\xE9" "Clé".
const char kProfile[] = "; comment line\r\n"
                        "[Section1]\r\n"
                        "  key1 = value1  \r\n"
                        "Key2=\"quoted value\"\r\n"
                        "key3='single'\r\n"
                        "key4=\"mismatched'\r\n"
                        "keyonly\r\n"
                        "key5=\r\n"
                        "key6=\"\"\r\n"
                        "key7=a ; not a comment\r\n"
                        "\r\n"
                        " [ Spaced Section ] trailing text\r\n"
                        "name = a = b\r\n"
                        ";name=commented out\r\n"
                        "[section1]\r\n"
                        "key1=a second section of the same name is not read\r\n"
                        "keyX=nor is this\r\n"
                        "[Empty]\r\n"
                        "[\xDCn\xEF"
                        "code]\r\n"
                        "Cl\xE9=\xE9t\xE9\r\n"
                        "[NoEnd\r\n"
                        "k=in a section without its bracket\r\n";

struct GetCase {
    const char* section;
    const char* key;
    const char* fallback;
    DWORD size;
    const char* expected;
    DWORD result;
};

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(m_path, kProfile); }
    std::string Get(const char* section, const char* key, const char* fallback = "",
                    DWORD size = 256) {
        std::string buffer(size + 1, '#');
        DWORD n =
            GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, m_zpath.c_str());
        m_last = n;
        m_raw = buffer;
        return buffer.c_str();
    }

    TempDir m_dir;
    std::filesystem::path m_path = m_dir / "host.ini";
    std::string m_zpath = testkit::ZPath(m_path);
    DWORD m_last = 0;
    std::string m_raw; // the whole buffer of the last Get
};

TEST_F(ProfileTest, ReadsValuesByTheIniRules) {
    const GetCase cases[] = {
        {"Section1", "key1", "d", 256, "value1", 6},
        {"SECTION1", "KEY1", "d", 256, "value1", 6},
        {"  section1 ", " key1  ", "d", 256, "value1", 6},
        {"Section1", "key2", "d", 256, "quoted value", 12},
        {"Section1", "key3", "d", 256, "single", 6},
        {"Section1", "key4", "d", 256, "\"mismatched'", 12},
        {"Section1", "keyonly", "d", 256, "", 0},
        {"Section1", "key5", "d", 256, "", 0},
        {"Section1", "key6", "d", 256, "", 0},
        {"Section1", "key7", "d", 256, "a ; not a comment", 17},
        {"Section1", "keyX", "dflt", 256, "dflt", 4},
        {"Spaced Section", "name", "d", 256, "a = b", 5},
        {"Spaced Section", ";name", "dflt", 256, "dflt", 4},
        {"Empty", "key1", "d \t ", 256, "d", 1},
        {"Missing", "key1", "  lead kept", 256, "  lead kept", 11},
        {"Missing", "key1", nullptr, 256, "", 0},
        {"\xFCN\xCF"
         "CODE",
         "CL\xC9", "d", 256, "\xE9t\xE9", 3},
        {"NoEnd", "k", "d", 256, "in a section without its bracket", 32},
        // Short buffers: the value is cut to size - 1 and terminated.
        {"Section1", "key1", "d", 4, "val", 3},
        {"Section1", "key1", "d", 1, "", 0},
        {"Missing", "key1", "default", 4, "def", 3},
    };
    for (const GetCase& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(Get(c.section, c.key, c.fallback, c.size), c.expected);
        EXPECT_EQ(m_last, c.result);
        EXPECT_EQ(m_raw[c.size], '#') << "wrote past the buffer";
    }
}

TEST_F(ProfileTest, ZeroSizeWritesNothing) {
    char buffer[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(GetPrivateProfileStringA("Section1", "key1", "d", buffer, 0, m_zpath.c_str()), 0u);
    EXPECT_STREQ(buffer, "xyz");
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
    char buffer[32];
    std::string missing = m_dir.ZPath() + "\\nothing.ini";
    EXPECT_EQ(GetPrivateProfileStringA("Section1", "key1", "dflt ", buffer, sizeof buffer,
                                       missing.c_str()),
              4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(GetPrivateProfileIntA("Section1", "key1", 42, missing.c_str()), 42u);
}

TEST_F(ProfileTest, ListsSectionsAndKeys) {
    char buffer[512];
    DWORD n =
        GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, m_zpath.c_str());
    EXPECT_EQ(std::string(buffer, n), Bytes("Section1\0Spaced Section\0section1\0Empty\0\xDCn\xEF"
                                            "code\0NoEnd\0"));
    EXPECT_EQ(buffer[n], '\0');
    n = GetPrivateProfileStringA("section1", nullptr, "", buffer, sizeof buffer, m_zpath.c_str());
    EXPECT_EQ(std::string(buffer, n), Bytes("key1\0Key2\0key3\0key4\0keyonly\0key5\0key6\0key7\0"));
    EXPECT_EQ(buffer[n], '\0');
    // Cut short: still ends in two zeros.
    n = GetPrivateProfileStringA("section1", nullptr, "", buffer, 8, m_zpath.c_str());
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(std::string(buffer, 8), Bytes("key1\0K\0\0"));
}

TEST_F(ProfileTest, ReadsNumbers) {
    WriteFile(m_path, "[n]\n"
                      "a=12\nb=12abc\nc=abc\nd=\ne= 7 \nf=-5\ng=0x1F\nh=\"3\"\ni=+8\nj=0b101\n");
    struct {
        const char* key;
        UINT expected;
    } cases[] = {{"a", 12}, {"b", 12}, {"c", 0}, {"d", 99}, {"e", 7},       {"f", 0u - 5},
                 {"g", 31}, {"h", 3},  {"i", 8}, {"j", 5},  {"missing", 99}};
    for (const auto& c : cases)
        EXPECT_EQ(GetPrivateProfileIntA("N", c.key, 99, m_zpath.c_str()), c.expected) << c.key;
}

TEST_F(ProfileTest, DoubleByteValuesAreCutAtACharacterBoundary) {
    ScopedCodePage cp(932);
    // "a" and two double-byte characters (lead bytes 0x82).
    WriteFile(m_path, "[s]\r\nk=a\x82\xA0\x82\xA2\r\n");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 3, m_zpath.c_str()), 1u);
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 4, m_zpath.c_str()), 3u);
    EXPECT_STREQ(buffer, "a\x82\xA0");
}

struct WriteCase {
    const char* name;
    const char* before; // null: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

TEST_F(ProfileTest, WritesChangeOneLineAndKeepTheRest) {
    const WriteCase cases[] = {
        {"creates the file", nullptr, "Svc", "SERVICENAME", "Spooler",
         "[Svc]\r\nSERVICENAME=Spooler\r\n"},
        {"adds a section at the end", "[A]\r\nx=1\r\n", "B", "y", "2",
         "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
        {"replaces in place, keeping the key's spelling and the comments",
         "; keep me\r\n[A]\r\n  Key = old  \r\nz=3\r\n", "a", "KEY", "new",
         "; keep me\r\n[A]\r\nKey=new\r\nz=3\r\n"},
        {"adds a key after the section's last key", "[A]\r\nx=1\r\n\r\n; next\r\n[B]\r\n", "A", "y",
         "2", "[A]\r\nx=1\r\ny=2\r\n\r\n; next\r\n[B]\r\n"},
        {"keeps the file's LF line ends", "[A]\nx=1\n", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"deletes a key", "[A]\r\nx=1\r\ny=2\r\n", "A", "x", nullptr, "[A]\r\ny=2\r\n"},
        {"deletes a section", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "a", nullptr, nullptr,
         "[B]\r\ny=2\r\n"},
        {"writes an empty value", "[A]\r\nx=1\r\n", "A", "x", "", "[A]\r\nx=\r\n"},
        {"changes only the first section of a name", "[A]\r\nx=1\r\n[a]\r\nx=2\r\n", "A", "x", "9",
         "[A]\r\nx=9\r\n[a]\r\nx=2\r\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_path);
        if (c.before)
            WriteFile(m_path, c.before);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, m_zpath.c_str()));
        EXPECT_EQ(ReadFile(m_path), c.after);
        // No temporary file is left beside it.
        EXPECT_EQ(testkit::Listing(m_dir.path()), std::vector<std::string>{"host.ini"});
    }
}

TEST_F(ProfileTest, ValuesRoundTrip) {
    std::string longText(5000, 'x');
    longText += "end";
    const std::string values[] = {
        "100% & 50+50 <b>",        "caf\xE9 na\xEFve \xC0 la",       "embedded \"quotes\" inside",
        "semi;colon = and equals", "\"both quoted\" but not around", longText,
    };
    for (const std::string& value : values) {
        SCOPED_TRACE(value.substr(0, 40));
        ASSERT_TRUE(
            WritePrivateProfileStringA("Round Trip", "Value", value.c_str(), m_zpath.c_str()));
        std::string buffer(value.size() + 16, '\0');
        DWORD n = GetPrivateProfileStringA("round trip", "value", "", buffer.data(),
                                           static_cast<DWORD>(buffer.size()), m_zpath.c_str());
        EXPECT_EQ(buffer.substr(0, n), value);
    }
    // The other sections are untouched.
    EXPECT_EQ(Get("Spaced Section", "name"), "a = b");
}

TEST_F(ProfileTest, RefusesWhatWouldNotReadBackAsWritten) {
    struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"A", "x", "line\r\n[Injected]\r\nk=v"},
        {"A", "x", "line\nbreak"},
        {"A]B", "x", "1"},
        {"A\r\nB", "x", "1"},
        {"A", "x=y", "1"},
        {"A", ";x", "1"},
        {"A", "[x", "1"},
        {"A", "  ", "1"},
        {nullptr, "x", "1"},
    };
    std::string before = ReadFile(m_path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, m_zpath.c_str()));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(ReadFile(m_path), before);
}

TEST_F(ProfileTest, WriteFailures) {
    std::string inMissingFolder = m_dir.ZPath() + "\\no\\such\\folder\\x.ini";
    EXPECT_FALSE(WritePrivateProfileStringA("A", "x", "1", inMissingFolder.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);

    if (geteuid() != 0) { // root may write anything
        chmod(m_path.c_str(), 0444);
        std::string before = ReadFile(m_path);
        EXPECT_FALSE(WritePrivateProfileStringA("A", "x", "1", m_zpath.c_str()));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadFile(m_path), before);
    }
    EXPECT_FALSE(WritePrivateProfileStringA("A", "x", "1", "Q:\\elsewhere.ini"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(ProfileTest, KeepsPermissionsOfTheFile) {
    chmod(m_path.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "x", "1", m_zpath.c_str()));
    struct stat st;
    ASSERT_EQ(stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A writer killed in the middle of its saves leaves the old or the new file, never half.
TEST_F(ProfileTest, AWriterKilledMidSaveLeavesAWholeFile) {
    const size_t kSize = 200000;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (unsigned i = 0;; ++i) {
            std::string value(kSize, static_cast<char>('a' + i % 2));
            WritePrivateProfileStringA("Big", "value", value.c_str(), m_zpath.c_str());
        }
    }
    usleep(150000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    std::string buffer(kSize + 16, '\0');
    DWORD n = GetPrivateProfileStringA("Big", "value", "", buffer.data(),
                                       static_cast<DWORD>(buffer.size()), m_zpath.c_str());
    if (n != 0) { // the first save may not have finished
        ASSERT_EQ(n, kSize);
        EXPECT_EQ(buffer.find_first_not_of(buffer[0]), kSize);
    }
    EXPECT_EQ(Get("Spaced Section", "name"), "a = b");
}

// Two processes adding keys at once lose none of them.
TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
    const int kKeys = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kKeys; ++i) {
                std::string key = "w" + std::to_string(c) + "_" + std::to_string(i);
                ok = WritePrivateProfileStringA("Writers", key.c_str(), "1", m_zpath.c_str()) && ok;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kKeys; ++i) {
            std::string key = "w" + std::to_string(c) + "_" + std::to_string(i);
            EXPECT_EQ(GetPrivateProfileIntA("Writers", key.c_str(), 0, m_zpath.c_str()), 1u) << key;
        }
}

} // namespace
