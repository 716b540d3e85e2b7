// Files by platform path: path forms, text and binary mode, whole-file operations and
// their error codes, temporary names, _splitpath.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "testkit.h"

namespace fs = std::filesystem;
using testkit::ReadFile;
using testkit::TempDir;
using testkit::WriteFile;
using testkit::ZPath;

namespace {

// Selects a code page for one test and goes back to 1252 afterwards.
class ScopedCodePage {
public:
    explicit ScopedCodePage(UINT cp) { WinplatSetACP(cp); }
    ~ScopedCodePage() { WinplatSetACP(1252); }
};

std::string ReadAll(FILE* file) {
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

// Reads a file through _fsopen with the given mode.
std::string ReadThrough(const std::string& path, const char* mode) {
    FILE* file = _fsopen(path.c_str(), mode, _SH_DENYNO);
    if (!file)
        return "<cannot open>";
    std::string text = ReadAll(file);
    std::fclose(file);
    return text;
}

void WriteThrough(const std::string& path, const char* mode, const std::string& text) {
    FILE* file = _fsopen(path.c_str(), mode, _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    ASSERT_EQ(std::fclose(file), 0);
}

// --- paths -------------------------------------------------------------------------

struct PathCase {
    const char* platform;
    const char* posix; // null: refused
    DWORD error;
};

class ToPosixPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(ToPosixPath, ConvertsOrRefuses) {
    const PathCase& c = GetParam();
    char buffer[MAX_PATH];
    SetLastError(0);
    BOOL ok = WinplatToPosixPath(c.platform, buffer, sizeof buffer);
    if (c.posix) {
        ASSERT_TRUE(ok) << c.platform;
        EXPECT_STREQ(buffer, c.posix);
    } else {
        EXPECT_FALSE(ok) << c.platform;
        EXPECT_EQ(GetLastError(), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ToPosixPath,
    ::testing::Values(PathCase{"Z:\\var\\x", "/var/x", 0}, PathCase{"z:/var", "/var", 0},
                      PathCase{"Z:\\", "/", 0}, PathCase{"Z:/var\\lib/x", "/var/lib/x", 0},
                      PathCase{"rel\\a/b", "rel/a/b", 0}, PathCase{"\\abs\\y", "/abs/y", 0},
                      PathCase{"/already/posix", "/already/posix", 0}, PathCase{"Z:", ".", 0},
                      PathCase{"Z:name", "name", 0},
                      PathCase{"C:\\Windows", nullptr, ERROR_PATH_NOT_FOUND},
                      PathCase{"d:/x", nullptr, ERROR_PATH_NOT_FOUND},
                      PathCase{"\\\\server\\share", nullptr, ERROR_BAD_NETPATH}),
    [](const auto& info) { return testkit::ParamName(info.index, info.param.platform); });

TEST(Paths, TrailByteThatLooksLikeABackslashStaysUnder932) {
    ScopedCodePage cp(932);
    char buffer[MAX_PATH];
    // 0x95 0x5C is one double-byte character; its second byte is not a separator.
    // On disk it is the UTF-8 of U+8868.
    ASSERT_TRUE(WinplatToPosixPath("Z:\\a\\\x95\x5C\\b", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/a/\xE8\xA1\xA8/b");
}

TEST(Paths, SameBytesUnder1252AreTwoCharacters) {
    char buffer[MAX_PATH];
    ASSERT_TRUE(WinplatToPosixPath("Z:\\a\\\x95\x5C"
                                   "b",
                                   buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/a/\xE2\x80\xA2/b"); // U+2022 and a separator
}

// Names in the code page are UTF-8 on disk, and back; a name that has no form on the other
// side is refused with ERROR_NO_UNICODE_TRANSLATION, never changed into another name.
struct NameCase {
    UINT codePage;
    const char* platform; // the code page's bytes
    const char* posix;    // UTF-8; null: the platform name is refused
};

class CodePageNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(CodePageNames, ConvertBothWaysOrAreRefused) {
    const NameCase& c = GetParam();
    ScopedCodePage cp(c.codePage);
    char buffer[MAX_PATH];
    SetLastError(0);
    BOOL ok = WinplatToPosixPath(c.platform, buffer, sizeof buffer);
    if (!c.posix) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        return;
    }
    ASSERT_TRUE(ok);
    EXPECT_STREQ(buffer, c.posix);
    ASSERT_TRUE(WinplatFromPosixPath(c.posix, buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), std::string("Z:") + (c.platform + 2));
}

INSTANTIATE_TEST_SUITE_P(
    Names, CodePageNames,
    ::testing::Values(NameCase{1252, "Z:\\n\\Caf\xE9 Raw", "/n/Caf\xC3\xA9 Raw"},
                      NameCase{1252, "Z:\\n\\\x80\x81\xFF", "/n/\xE2\x82\xAC\xC2\x81\xC3\xBF"},
                      // 0x95 0x5C 0x8E 0xA6: two characters, the first with a trail byte 0x5C.
                      NameCase{932, "Z:\\n\\\x95\x5C\x8E\xA6", "/n/\xE8\xA1\xA8\xE7\xA4\xBA"},
                      NameCase{932, "Z:\\n\\\xB1", "/n/\xEF\xBD\xB1"}, // half-width katakana
                      NameCase{932, "Z:\\n\\\x81 x", nullptr},         // a lead byte before a blank
                      NameCase{932, "Z:\\n\\end\x81", nullptr}));

struct PosixNameCase {
    UINT codePage;
    const char* posix;
};

class UnspellableNames : public ::testing::TestWithParam<PosixNameCase> {};

TEST_P(UnspellableNames, AreRefusedNotReplaced) {
    const PosixNameCase& c = GetParam();
    ScopedCodePage cp(c.codePage);
    char buffer[MAX_PATH];
    SetLastError(0);
    EXPECT_FALSE(WinplatFromPosixPath(c.posix, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnspellableNames,
    ::testing::Values(PosixNameCase{1252, "/n/\xE8\xA1\xA8"},    // a kanji under 1252
                      PosixNameCase{932, "/n/Caf\xC3\xA9"},      // no e acute in 932
                      PosixNameCase{1252, "/n/bad\xE9utf8"},     // not UTF-8 at all
                      PosixNameCase{932, "/n/\xF0\x9F\x98\x80"}, // outside the BMP
                      PosixNameCase{932,
                                    "/n/\xC2\xA5"})); // 932 has only a stand-in for the yen sign

TEST(Paths, BufferTooSmall) {
    char buffer[5];
    EXPECT_FALSE(WinplatToPosixPath("Z:\\var\\lib", buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Paths, FromPosix) {
    char buffer[MAX_PATH];
    ASSERT_TRUE(WinplatFromPosixPath("/var/lib/sentrel", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "Z:\\var\\lib\\sentrel");
    ASSERT_TRUE(WinplatFromPosixPath("notify/Router", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "notify\\Router");
}

// --- text and binary mode --------------------------------------------------------

class FilesTest : public ::testing::Test {
protected:
    std::string Z(const std::string& name) const { return ZPath(m_dir / name); }
    fs::path P(const std::string& name) const { return m_dir / name; }
    TempDir m_dir;
};

TEST_F(FilesTest, TextModeReadsCarriageReturnLineFeedAsLineFeed) {
    struct {
        std::string disk, read;
    } cases[] = {
        {"a\r\nb\r\n", "a\nb\n"}, {"lone\rcr\r", "lone\rcr\r"}, // a carriage return alone stays
        {"a\r\r\nb", "a\r\nb"}, // only the one directly before the line feed goes
        {"\r\n\r\n\n", "\n\n\n"}, {"", ""},
    };
    for (const auto& c : cases) {
        WriteFile(P("t"), c.disk);
        EXPECT_EQ(ReadThrough(Z("t"), "r"), c.read) << testkit::ShellQuote(c.disk);
        EXPECT_EQ(ReadThrough(Z("t"), "rb"), c.disk);
    }
}

TEST_F(FilesTest, TextModePairsSplitAcrossReadsStayOnePair) {
    // Every even buffer boundary falls inside a pair in one of the two files.
    std::string pairs;
    for (int i = 0; i < 50000; ++i)
        pairs += "\r\n";
    for (const std::string& prefix : {std::string(), std::string("x")}) {
        WriteFile(P("t"), prefix + pairs);
        std::string read = ReadThrough(Z("t"), "rt");
        std::string expected = prefix + std::string(50000, '\n');
        // Long texts: name the first difference rather than print them whole.
        auto diff = std::mismatch(read.begin(), read.end(), expected.begin(), expected.end());
        EXPECT_TRUE(read == expected) << "lengths " << read.size() << " and " << expected.size()
                                      << ", first difference at " << (diff.first - read.begin());
    }
}

TEST_F(FilesTest, TextModeLinesWithFgets) {
    WriteFile(P("t"), "first\r\nsecond\r\n");
    FILE* file = _fsopen(Z("t").c_str(), "r", _SH_DENYWR);
    ASSERT_NE(file, nullptr);
    char line[64];
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_STREQ(line, "first\n");
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_STREQ(line, "second\n");
    EXPECT_EQ(std::fgets(line, sizeof line, file), nullptr);
    // Rewinding reads the file again from its start.
    std::rewind(file);
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_STREQ(line, "first\n");
    std::fclose(file);
}

TEST_F(FilesTest, TextModeSeesWhatIsAddedAfterTheEnd) {
    WriteFile(P("log"), "one\r\n");
    FILE* file = _fsopen(Z("log").c_str(), "r", _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    char line[256];
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_EQ(std::fgets(line, sizeof line, file), nullptr);
    // Another writer adds more than the first reading buffer held, a pair split across.
    std::string more = std::string(200, 'x') + "\r\ntwo\r\n";
    FILE* writer = _fsopen(Z("log").c_str(), "ab", _SH_DENYNO);
    ASSERT_NE(writer, nullptr);
    std::fwrite(more.data(), 1, more.size(), writer);
    std::fclose(writer);
    std::clearerr(file);
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_EQ(std::string(line), std::string(200, 'x') + "\n");
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_STREQ(line, "two\n");
    std::fclose(file);
}

TEST_F(FilesTest, TextModeWritesLineFeedAsCarriageReturnLineFeed) {
    WriteThrough(Z("t"), "w", "[S]\nk=v\n\nlone\rcr\n");
    EXPECT_EQ(ReadFile(P("t")), "[S]\r\nk=v\r\n\r\nlone\rcr\r\n");
    WriteThrough(Z("t"), "a", "more\n");
    EXPECT_EQ(ReadFile(P("t")), "[S]\r\nk=v\r\n\r\nlone\rcr\r\nmore\r\n");
    // Large writes go through the same translation.
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "line\n";
    WriteThrough(Z("t"), "wt", big);
    std::string expected;
    for (int i = 0; i < 20000; ++i)
        expected += "line\r\n";
    EXPECT_EQ(ReadFile(P("t")), expected);
}

TEST_F(FilesTest, BinaryModeWritesBytesAsTheyAre) {
    WriteThrough(Z("b"), "wb", std::string("a\nb\r\n\0c", 7));
    EXPECT_EQ(ReadFile(P("b")), std::string("a\nb\r\n\0c", 7));
}

TEST_F(FilesTest, OpenFailuresSetErrnoAndLastError) {
    errno = 0;
    EXPECT_EQ(_fsopen(Z("missing").c_str(), "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(_fsopen(Z("no\\such\\folder").c_str(), "w", _SH_DENYNO), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    fs::create_directory(P("dir"));
    EXPECT_EQ(_fsopen(Z("dir").c_str(), "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EACCES);

    WriteFile(P("there"), "x");
    EXPECT_EQ(_fsopen(Z("there").c_str(), "wx", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadFile(P("there")), "x");

    EXPECT_EQ(_fsopen("C:\\autoexec.bat", "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(_fsopen(Z("there").c_str(), "rq", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(FilesTest, RelativePathsStayRelative) {
    fs::path before = fs::current_path();
    fs::current_path(m_dir.path());
    WriteThrough("sub.txt", "w", "x\n");
    fs::create_directory("folder");
    WriteThrough("folder\\inner.txt", "w", "y\n");
    fs::current_path(before);
    EXPECT_EQ(ReadFile(P("sub.txt")), "x\r\n");
    EXPECT_EQ(ReadFile(P("folder/inner.txt")), "y\r\n");
}

// A device that refuses every write for lack of space, made in the test's own folder.
bool MakeFullDevice(const fs::path& path) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
}

TEST_F(FilesTest, DiskFullShowsAtCloseAndInCopy) {
    if (!MakeFullDevice(P("full")))
        GTEST_SKIP() << "cannot make a device node here";
    FILE* file = _fsopen(Z("full").c_str(), "w", _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    std::fputs("data\n", file);
    EXPECT_NE(std::fclose(file), 0);

    WriteFile(P("src"), "payload");
    EXPECT_FALSE(CopyFileA(Z("src").c_str(), Z("full").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(fs::exists(fs::symlink_status(P("full")))) << "the device must stay";
}

// --- whole-file operations -------------------------------------------------------

TEST_F(FilesTest, CopyFile) {
    WriteFile(P("a"), "alpha");
    ASSERT_TRUE(CopyFileA(Z("a").c_str(), Z("b").c_str(), TRUE));
    EXPECT_EQ(ReadFile(P("b")), "alpha");

    WriteFile(P("a"), "second");
    EXPECT_FALSE(CopyFileA(Z("a").c_str(), Z("b").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadFile(P("b")), "alpha");

    ASSERT_TRUE(CopyFileA(Z("a").c_str(), Z("b").c_str(), FALSE));
    EXPECT_EQ(ReadFile(P("b")), "second");
}

TEST_F(FilesTest, CopyFileOntoItselfKeepsTheFile) {
    WriteFile(P("a"), "alpha");
    EXPECT_FALSE(CopyFileA(Z("a").c_str(), Z("a").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ReadFile(P("a")), "alpha");
}

TEST_F(FilesTest, CopyFileErrors) {
    EXPECT_FALSE(CopyFileA(Z("missing").c_str(), Z("b").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    WriteFile(P("a"), "alpha");
    EXPECT_FALSE(CopyFileA(Z("a").c_str(), Z("nofolder\\b").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    fs::create_directory(P("dir"));
    EXPECT_FALSE(CopyFileA(Z("a").c_str(), Z("dir").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CopyFileA(Z("dir").c_str(), Z("c").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, ReadOnlyFilesAreNeitherReplacedNorDeleted) {
    WriteFile(P("ro"), "keep");
    fs::permissions(P("ro"), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(GetFileAttributesA(Z("ro").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    WriteFile(P("new"), "other");
    EXPECT_FALSE(CopyFileA(Z("new").c_str(), Z("ro").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(MoveFileExA(Z("new").c_str(), Z("ro").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(Z("ro").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadFile(P("ro")), "keep");
}

TEST_F(FilesTest, DeleteFile) {
    WriteFile(P("a"), "x");
    ASSERT_TRUE(DeleteFileA(Z("a").c_str()));
    EXPECT_FALSE(fs::exists(P("a")));
    EXPECT_FALSE(DeleteFileA(Z("a").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(Z("gone\\a").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    fs::create_directory(P("dir"));
    EXPECT_FALSE(DeleteFileA(Z("dir").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(_unlink(Z("dir").c_str()), -1);
    EXPECT_EQ(errno, EACCES);
}

TEST_F(FilesTest, MoveFile) {
    WriteFile(P("a"), "alpha");
    WriteFile(P("b"), "beta");
    EXPECT_FALSE(MoveFileA(Z("a").c_str(), Z("b").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(MoveFileExA(Z("a").c_str(), Z("b").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadFile(P("b")), "beta");

    ASSERT_TRUE(MoveFileExA(Z("a").c_str(), Z("b").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_FALSE(fs::exists(P("a")));
    EXPECT_EQ(ReadFile(P("b")), "alpha");

    ASSERT_TRUE(MoveFileA(Z("b").c_str(), Z("c").c_str()));
    EXPECT_EQ(ReadFile(P("c")), "alpha");

    EXPECT_FALSE(MoveFileA(Z("missing").c_str(), Z("d").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    fs::create_directories(P("dir/inside"));
    EXPECT_FALSE(MoveFileExA(Z("c").c_str(), Z("dir").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::exists(P("dir/inside")));
    EXPECT_EQ(ReadFile(P("c")), "alpha");
}

TEST_F(FilesTest, Folders) {
    ASSERT_TRUE(CreateDirectoryA(Z("V6").c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesA(Z("V6").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(CreateDirectoryA(Z("V6").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(Z("a\\b").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(_mkdir(Z("V6").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_mkdir(Z("x\\y").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);

    WriteFile(P("V6/file"), "x");
    EXPECT_FALSE(RemoveDirectoryA(Z("V6").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA(Z("V6\\file").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    ASSERT_TRUE(DeleteFileA(Z("V6\\file").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(Z("V6").c_str()));
    EXPECT_FALSE(fs::exists(P("V6")));
}

TEST_F(FilesTest, AttributesAndStatus) {
    WriteFile(P("f"), "12345");
    EXPECT_EQ(GetFileAttributesA(Z("f").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(Z("none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA(Z("none\\f").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    struct _stat st;
    ASSERT_EQ(_stat(Z("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFREG);
    EXPECT_TRUE(st.st_mode & _S_IWRITE);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_GT(st.st_mtime, 0);
    ASSERT_EQ(_stat(m_dir.ZPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFDIR);
    EXPECT_EQ(_stat(Z("none").c_str(), &st), -1);
    EXPECT_EQ(errno, ENOENT);
}

// Every file function takes the code page's name and finds, or makes, the UTF-8 name.
TEST_F(FilesTest, NonAsciiNamesAreUtf8OnDisk) {
    const struct {
        UINT codePage;
        const char* ansiFolder;
        const char* ansiFile;
        const char* utf8Folder;
        const char* utf8File;
    } cases[] = {
        {1252, "D\xE9p\xF4t", "Caf\xE9 Raw", "D\xC3\xA9p\xC3\xB4t", "Caf\xC3\xA9 Raw"},
        {932, "\x95\x5C\x8E\xA6", "\x83\x8B\x81\x5B\x83\x5E", "\xE8\xA1\xA8\xE7\xA4\xBA",
         "\xE3\x83\xAB\xE3\x83\xBC\xE3\x82\xBF"}, // a folder and a name with trail bytes 0x5C
    };
    for (const auto& c : cases) {
        ScopedCodePage cp(c.codePage);
        std::string folder = Z(c.ansiFolder);
        std::string file = folder + "\\" + c.ansiFile;
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
        WriteThrough(file, "w", "x\n");
        fs::path onDisk = P(c.utf8Folder) / c.utf8File;
        EXPECT_EQ(ReadFile(onDisk), "x\r\n");
        EXPECT_EQ(testkit::Listing(m_dir.path()), std::vector<std::string>{c.utf8Folder});

        struct _stat status;
        EXPECT_EQ(_stat(file.c_str(), &status), 0);
        EXPECT_EQ(GetFileAttributesA(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
        std::string copy = file + "2";
        ASSERT_TRUE(CopyFileA(file.c_str(), copy.c_str(), TRUE));
        EXPECT_EQ(ReadFile(fs::path(onDisk.string() + "2")), "x\r\n");
        std::string moved = file + "3";
        ASSERT_TRUE(MoveFileExA(copy.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_TRUE(fs::exists(onDisk.string() + "3"));
        char temp[MAX_PATH];
        ASSERT_NE(GetTempFileNameA(folder.c_str(), "pre", 0, temp), 0u);
        EXPECT_TRUE(DeleteFileA(temp));
        ASSERT_TRUE(DeleteFileA(moved.c_str()));

        // A file that a shell made under its UTF-8 name is found by the code page's name.
        WriteFile(P(c.utf8Folder) / (std::string(c.utf8File) + "4"), "from a shell");
        EXPECT_EQ(ReadThrough(file + "4", "rb"), "from a shell");
        EXPECT_EQ(testkit::Listing(P(c.utf8Folder)),
                  (std::vector<std::string>{c.utf8File, std::string(c.utf8File) + "4"}));
        ASSERT_TRUE(DeleteFileA(file.c_str()));
        ASSERT_TRUE(DeleteFileA((file + "4").c_str()));
        ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
    }
}

TEST_F(FilesTest, NameWithoutACharacterIsRefusedAndNothingIsMade) {
    ScopedCodePage cp(932);
    const std::string bad = Z("a\x81 b"); // a lead byte before a byte that cannot follow it
    SetLastError(0);
    EXPECT_EQ(_fsopen(bad.c_str(), "w", _SH_DENYNO), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_FALSE(CreateDirectoryA(bad.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    WriteFile(P("src"), "s");
    EXPECT_FALSE(CopyFileA(Z("src").c_str(), bad.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(GetFileAttributesA(bad.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(testkit::Listing(m_dir.path()), std::vector<std::string>{"src"});
}

TEST_F(FilesTest, TempFileNames) {
    char first[MAX_PATH], second[MAX_PATH];
    UINT a = GetTempFileNameA(m_dir.ZPath().c_str(), "prefix", 0, first);
    UINT b = GetTempFileNameA(m_dir.ZPath().c_str(), "prefix", 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_STRNE(first, second);
    char expected[MAX_PATH];
    std::snprintf(expected, sizeof expected, "%s\\pre%04X.tmp", m_dir.ZPath().c_str(), a);
    EXPECT_STREQ(first, expected);
    // Both exist, empty, so that nobody else takes the name.
    char posix[MAX_PATH];
    ASSERT_TRUE(WinplatToPosixPath(first, posix, sizeof posix));
    EXPECT_TRUE(fs::is_regular_file(posix));
    EXPECT_EQ(fs::file_size(posix), 0u);

    // A number of the caller's own only makes the name.
    ASSERT_EQ(GetTempFileNameA(m_dir.ZPath().c_str(), "x", 0xBEEF, first), 0xBEEFu);
    std::snprintf(expected, sizeof expected, "%s\\xBEEF.tmp", m_dir.ZPath().c_str());
    EXPECT_STREQ(first, expected);
    EXPECT_FALSE(fs::exists(m_dir / "xBEEF.tmp"));
}

TEST_F(FilesTest, TempFileNameFailures) {
    char name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(Z("missing").c_str(), "pre", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    std::string longFolder = m_dir.ZPath() + "\\" + std::string(MAX_PATH, 'd');
    EXPECT_EQ(GetTempFileNameA(longFolder.c_str(), "pre", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
}

// --- _splitpath --------------------------------------------------------------------

struct SplitCase {
    const char* path;
    const char* drive;
    const char* dir;
    const char* fname;
    const char* ext;
};

class SplitPath : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPath, Parts) {
    const SplitCase& c = GetParam();
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(c.path, drive, dir, fname, ext);
    EXPECT_STREQ(drive, c.drive) << c.path;
    EXPECT_STREQ(dir, c.dir) << c.path;
    EXPECT_STREQ(fname, c.fname) << c.path;
    EXPECT_STREQ(ext, c.ext) << c.path;
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitPath,
                         ::testing::Values(SplitCase{"Z:\\var\\notify\\Alpha.old",
                                                     "Z:", "\\var\\notify\\", "Alpha", ".old"},
                                           SplitCase{"Alpha", "", "", "Alpha", ""},
                                           SplitCase{"z:Alpha.txt", "z:", "", "Alpha", ".txt"},
                                           SplitCase{"a.b\\c", "", "a.b\\", "c", ""},
                                           SplitCase{"x/y.tar.gz", "", "x/", "y.tar", ".gz"},
                                           SplitCase{"dir\\.profile", "", "dir\\", "", ".profile"},
                                           SplitCase{"Z:\\dir\\", "Z:", "\\dir\\", "", ""},
                                           SplitCase{"name.", "", "", "name", "."},
                                           SplitCase{"", "", "", "", ""}),
                         [](const auto& info) {
                             return testkit::ParamName(info.index, info.param.path);
                         });

TEST(SplitPathOutputs, AnyOutputMayBeNull) {
    char fname[_MAX_FNAME];
    _splitpath("Z:\\a\\b.c", nullptr, nullptr, fname, nullptr);
    EXPECT_STREQ(fname, "b");
}

TEST(SplitPathCodePage, TrailByteIsNoSeparatorUnder932) {
    const char* path = "Z:\\n\\\x95\x5C.txt";
    char dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    {
        ScopedCodePage cp(932);
        _splitpath(path, nullptr, dir, fname, ext);
        EXPECT_STREQ(dir, "\\n\\");
        EXPECT_STREQ(fname, "\x95\x5C");
        EXPECT_STREQ(ext, ".txt");
    }
    _splitpath(path, nullptr, dir, fname, ext);
    EXPECT_STREQ(dir, "\\n\\\x95\x5C");
    EXPECT_STREQ(fname, "");
}

TEST(SplitPathOutputs, LongPartsAreCut) {
    std::string path = "Z:\\" + std::string(300, 'd') + "\\" + std::string(300, 'f') + ".e";
    char dir[_MAX_DIR], fname[_MAX_FNAME];
    _splitpath(path.c_str(), nullptr, dir, fname, nullptr);
    EXPECT_EQ(std::strlen(dir), static_cast<size_t>(_MAX_DIR - 1));
    EXPECT_EQ(std::strlen(fname), static_cast<size_t>(_MAX_FNAME - 1));
}

} // namespace
