// The profile document: how files are read, looked up, changed and written, the instance
// section name, the V6 backup, and saves that replace a file whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "profile_document.h"
#include "testkit.h"

namespace fs = std::filesystem;
using testkit::ReadFile;
using testkit::TempDir;
using testkit::WriteFile;
using testkit::ZPath;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
// A document's contents: each section's stored name and entries, by lower-cased name.
using Contents = std::vector<std::pair<std::string, Entries>>;

Contents ContentsOf(const CProfileDocument& doc) {
    Contents contents;
    for (const auto& [lower, section] : doc.Sections()) {
        Entries entries;
        for (size_t i = 0; i < section->keys.size(); ++i)
            entries.emplace_back(section->keys[i], section->values[i]);
        contents.emplace_back(section->name, std::move(entries));
    }
    return contents;
}

class ScopedCodePage {
public:
    explicit ScopedCodePage(UINT cp) { WinplatSetACP(cp); }
    ~ScopedCodePage() { WinplatSetACP(1252); }
};

// The names of the files in a folder, for checking that nothing was left behind.
std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ProfileTest : public ::testing::Test {
protected:
    std::string Z(const std::string& name) const { return testkit::ZPath(m_dir / name); }
    fs::path P(const std::string& name) const { return m_dir / name; }
    // Writes the bytes to a file and loads it.
    int LoadBytes(CProfileDocument& doc, const std::string& bytes) {
        WriteFile(P("instance"), bytes);
        return doc.Load(Z("instance").c_str());
    }
    TempDir m_dir;
};

// --- reading -----------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string bytes;
    int result;
    Contents contents;
};

class ReadRules : public ProfileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadRules, Contents) {
    const ReadCase& c = GetParam();
    CProfileDocument doc;
    EXPECT_EQ(LoadBytes(doc, c.bytes), c.result);
    EXPECT_EQ(ContentsOf(doc), c.contents);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRules,
    ::testing::Values(
        ReadCase{"HeaderAndEntry",
                 "[Syslog\\Alpha]\nPort=514\n",
                 0,
                 {{"Syslog\\Alpha", {{"Port", "514"}}}}},
        ReadCase{"CarriageReturnLineFeed",
                 "[S]\r\na=1\r\nb=2\r\n",
                 0,
                 {{"S", {{"a", "1"}, {"b", "2"}}}}},
        ReadCase{"LastLineWithoutLineFeed", "[S]\na=1", 0, {{"S", {{"a", "1"}}}}},
        // Two headers differing in case: the second replaces the first with its entries.
        ReadCase{
            "CaseDuplicateHeaders", "[Alpha]\na=1\n[ALPHA]\nb=2\n", 0, {{"ALPHA", {{"b", "2"}}}}},
        ReadCase{"EmptyValue", "[S]\nkey=\n", 0, {{"S", {{"key", ""}}}}},
        ReadCase{"LeadingEquals", "[S]\n=x\n==y=z\n", 0, {{"S", {{"x", ""}, {"y", "z"}}}}},
        ReadCase{"SecondEqualsInValue", "[S]\na==b\n", 0, {{"S", {{"a", "=b"}}}}},
        ReadCase{"WordWithoutEquals", "[S]\nword\n", 0, {{"S", {{"word", ""}}}}},
        ReadCase{
            "NothingTrimmedAroundEquals", "[S]\nkey = value \n", 0, {{"S", {{"key ", " value "}}}}},
        ReadCase{"LeadingBlanksDropped", "[S]\n \t key=v\n", 0, {{"S", {{"key", "v"}}}}},
        ReadCase{"EntriesBeforeHeaderIgnored", "x=1\n[S]\ny=2\n", 0, {{"S", {{"y", "2"}}}}},
        ReadCase{
            "EmptyHeaderKeepsSection", "[S]\na=1\n[]\nb=2\n", 0, {{"S", {{"a", "1"}, {"b", "2"}}}}},
        ReadCase{"RepeatedKeysKept", "[S]\nk=1\nk=2\n", 0, {{"S", {{"k", "1"}, {"k", "2"}}}}},
        ReadCase{"Comments",
                 ";c=0\n[S]\n;c=1\n   ;c=2\n\t;c=3\nk=v ;not a comment\n",
                 0,
                 {{"S", {{"k", "v ;not a comment"}}}}},
        ReadCase{"BlankLinesSkipped", "[S]\n\n   \n\t\r\nk=v\n", 0, {{"S", {{"k", "v"}}}}},
        ReadCase{"HeaderBrackets",
                 "[]]Name]rest\nk=v\n[Open\nq=1\n",
                 0,
                 {{"Name", {{"k", "v"}}}, {"Open", {{"q", "1"}}}}},
        ReadCase{"HeaderWithLeadingBlanks", "  [S]\nk=v\n", 0, {{"S", {{"k", "v"}}}}},
        ReadCase{"SectionWithoutEntries", "[Empty]\n", 0, {{"Empty", {}}}},
        ReadCase{"EmptyFile", "", 2, {}}, ReadCase{"OnlyComments", ";one\n;two\n", 2, {}},
        ReadCase{"OnlyEntries", "a=1\nb=2\n", 2, {}},
        ReadCase{"OnlyEmptyHeader", "[]\na=1\n", 2, {}},
        ReadCase{"BinaryRecord",
                 std::string("\x00\x7B\xDD\x69\x69\xB6\xD4\x11\x80\x4A\x00\x01\x02\x5E\xB1\x76"
                             "\x02\x02\x00\x00\x09\x00\x00\x00"
                             "127.0.0.1",
                             33),
                 2,
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, MissingFileCannotBeOpened) {
    CProfileDocument doc;
    doc.SetValue("Old", "k", "v");
    EXPECT_EQ(doc.Load(Z("missing").c_str()), 1);
    EXPECT_TRUE(doc.Sections().empty()); // a failed load leaves the document empty
    EXPECT_EQ(doc.GetPath(), Z("missing"));
}

TEST_F(ProfileTest, LongLineIsReadInPieces) {
    // 3000 characters: the first 2047 bytes are one line, the remaining 953 another.
    std::string line = "Message=" + std::string(2992, 'm');
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[S]\r\n" + line + "\r\nNext=1\r\n"), 0);
    const CProfileSection& s = *doc.Sections().begin()->second;
    ASSERT_EQ(s.keys.size(), 3u);
    EXPECT_EQ(s.keys[0], "Message");
    EXPECT_EQ(s.values[0], std::string(2039, 'm'));
    EXPECT_EQ(s.keys[1], std::string(953, 'm'));
    EXPECT_EQ(s.values[1], "");
    EXPECT_EQ(s.keys[2], "Next");
}

TEST_F(ProfileTest, LookupsIgnoreCase) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[Syslog\\Alpha]\r\nPort=514\r\nport=515\r\n"), 0);
    std::string value;
    EXPECT_TRUE(doc.GetValue("syslog\\ALPHA", "PORT", "", value));
    EXPECT_EQ(value, "514"); // the first of the repeated key
    EXPECT_FALSE(doc.GetValue("syslog\\alpha", "Address", "none", value));
    EXPECT_EQ(value, "none");
    EXPECT_FALSE(doc.GetValue("Syslog\\Beta", "Port", "d", value));
    EXPECT_EQ(value, "d");
    // Only ASCII letters fold.
    ASSERT_EQ(LoadBytes(doc, "[\xC9t\xE9]\nK\xC9=1\n"), 0);
    EXPECT_TRUE(doc.GetValue("\xC9T\xE9", "k\xC9", "", value));
    EXPECT_FALSE(doc.GetValue("\xE9t\xE9", "K\xC9", "", value));
    EXPECT_FALSE(doc.GetValue("\xC9t\xE9", "K\xE9", "", value));
    // FindSection matches names as GetValue does.
    const CProfileSection* pSection = doc.FindSection("\xC9T\xE9");
    ASSERT_NE(pSection, nullptr);
    EXPECT_EQ(pSection->name, "\xC9t\xE9");
    EXPECT_EQ(doc.FindSection("\xE9t\xE9"), nullptr);
    EXPECT_EQ(doc.FindSection(nullptr), nullptr);
}

TEST_F(ProfileTest, DoubleByteNamesUnder932) {
    ScopedCodePage cp(932);
    CProfileDocument doc;
    // 0x81 0x5D is one character whose second byte is "]"; full-width A and a are one
    // letter in two cases; 0x83 0x41 and 0x83 0x61 are two different characters.
    ASSERT_EQ(LoadBytes(doc, "[S\\a\x81\x5D]\nk=1\n[\x82\x60]\nk=2\n[\x83\x41]\nk=3\n"), 0);
    std::string value;
    EXPECT_TRUE(doc.GetValue("S\\A\x81\x5D", "K", "", value));
    EXPECT_EQ(value, "1");
    EXPECT_TRUE(doc.GetValue("\x82\x81", "k", "", value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(doc.GetValue("\x83\x61", "k", "", value));
    EXPECT_TRUE(doc.GetValue("\x83\x41", "k", "", value));
    EXPECT_EQ(value, "3");
}

// --- changing ----------------------------------------------------------------------

TEST_F(ProfileTest, SetValueReplacesTheFirstMatchOrAppends) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[S]\nPort=1\nport=2\n"), 0);
    doc.SetValue("s", "PORT", "9");
    doc.SetValue("S", "Address", "127.0.0.1");
    EXPECT_EQ(ContentsOf(doc),
              (Contents{{"S", {{"Port", "9"}, {"port", "2"}, {"Address", "127.0.0.1"}}}}));
    doc.SetValue("New", "k", "v");
    std::string value;
    EXPECT_TRUE(doc.GetValue("new", "K", "", value));
    EXPECT_EQ(value, "v");
}

TEST_F(ProfileTest, SectionsAreListedInNameOrder) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[beta]\n[Alpha]\n[gamma]\n"), 0);
    std::vector<std::string> names;
    int position = 0;
    std::string name;
    CProfileSection* section = nullptr;
    while (doc.GetSectionAt(position, name, section)) {
        names.push_back(name);
        EXPECT_EQ(section->name, name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(position, 3);
    EXPECT_EQ(section->number, 2); // numbered in the order they were read
    position = -1;
    EXPECT_FALSE(doc.GetSectionAt(position, name, section));
}

TEST_F(ProfileTest, RemoveSection) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[A]\nk=1\n[B]\nk=2\n"), 0);
    doc.RemoveSection("a");
    std::string value;
    EXPECT_FALSE(doc.GetValue("A", "k", "", value));
    int position = 0;
    std::string name;
    CProfileSection* section = nullptr;
    ASSERT_TRUE(doc.GetSectionAt(position, name, section));
    EXPECT_EQ(name, "B");
    EXPECT_FALSE(doc.GetSectionAt(position, name, section));
    doc.RemoveSection("missing"); // nothing to remove is no error
    EXPECT_EQ(ContentsOf(doc), (Contents{{"B", {{"k", "2"}}}}));
}

TEST_F(ProfileTest, RemoveEntryContaining) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[A]\nx=Router\n[B]\none=alpha beta\ntwo=beta\n"), 0);
    EXPECT_FALSE(doc.RemoveEntryContaining("BETA", 1)); // case-sensitive
    EXPECT_TRUE(doc.RemoveEntryContaining("beta", 1));  // position 1 is section B
    EXPECT_EQ(ContentsOf(doc), (Contents{{"A", {{"x", "Router"}}}, {"B", {{"two", "beta"}}}}));
    EXPECT_FALSE(doc.RemoveEntryContaining("beta", 0));
    EXPECT_FALSE(doc.RemoveEntryContaining("beta", 2));
}

TEST(ProfileDocumentClass, VirtualSlotOrder) {
    // A pointer to a virtual member holds 1 + its offset in the table of virtual functions.
    auto slot = [](auto member) {
        std::ptrdiff_t raw[2];
        static_assert(sizeof member == sizeof raw);
        std::memcpy(raw, &member, sizeof raw);
        return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
    };
    EXPECT_EQ(slot(&CProfileDocument::RemoveSection), 0);
    EXPECT_EQ(slot(&CProfileDocument::RemoveEntryContaining), 1);
}

// --- writing -----------------------------------------------------------------------

TEST_F(ProfileTest, SavedFileBytes) {
    CProfileDocument doc;
    doc.SetValue("Syslog\\Router", "CLSID", "{69DD7B00-B669-11D4-804A-0001025EB176}");
    doc.SetValue("Syslog\\Router", "Address", "127.0.0.1");
    doc.SetValue("Syslog\\Router", "Message", "%Name is down");
    doc.SetValue("Syslog\\Router", "Port", "514");
    ASSERT_TRUE(doc.Save(Z("Router").c_str()));
    EXPECT_EQ(ReadFile(P("Router")), "[Syslog\\Router]\r\n"
                                     "CLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\n"
                                     "Address=127.0.0.1\r\n"
                                     "Message=%Name is down\r\n"
                                     "Port=514\r\n");
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{"Router"});
}

TEST_F(ProfileTest, EmptyDocumentSavesAnEmptyFile) {
    CProfileDocument doc;
    ASSERT_TRUE(doc.Save(Z("empty").c_str()));
    EXPECT_EQ(ReadFile(P("empty")), "");
    EXPECT_EQ(doc.Load(Z("empty").c_str()), 2);
}

TEST_F(ProfileTest, SaveAndLoadAgain) {
    CProfileDocument doc;
    ASSERT_EQ(LoadBytes(doc, "[A]\nk=1\nk=2\n[b]\n\n;c\n[C]\nx=a=b\n"), 0);
    Contents before = ContentsOf(doc);
    ASSERT_TRUE(doc.Save()); // to the path it was loaded from
    CProfileDocument again;
    ASSERT_EQ(again.Load(Z("instance").c_str()), 0);
    EXPECT_EQ(ContentsOf(again), before);
}

TEST_F(ProfileTest, PathFixUpTurnsOnlyTheFirstSlash) {
    fs::create_directories(P("a/b"));
    std::string path = testkit::ZPath(m_dir.path()) + "/a/b\\file";
    CProfileDocument doc;
    doc.SetValue("S", "k", "v");
    ASSERT_TRUE(doc.Save(path.c_str()));
    EXPECT_EQ(doc.GetPath(), testkit::ZPath(m_dir.path()) + "\\a/b\\file");
    EXPECT_TRUE(fs::exists(P("a/b/file")));
}

TEST_F(ProfileTest, SaveReplacesTheWholeFile) {
    WriteFile(P("inst"), "[Other]\r\nkept=no\r\n" + std::string(10000, 'x'));
    CProfileDocument doc;
    doc.SetValue("S", "k", "v");
    ASSERT_TRUE(doc.Save(Z("inst").c_str()));
    EXPECT_EQ(ReadFile(P("inst")), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, FailedSaveOntoAFolderLeavesItAndNoTemporaryFile) {
    fs::create_directories(P("inst/content"));
    CProfileDocument doc;
    doc.SetValue("S", "k", "v");
    EXPECT_FALSE(doc.Save(Z("inst").c_str()));
    EXPECT_TRUE(fs::is_directory(P("inst/content")));
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{"inst"});
}

TEST_F(ProfileTest, FailedSaveOntoAReadOnlyFileKeepsIt) {
    WriteFile(P("inst"), "[S]\r\nold=1\r\n");
    fs::permissions(P("inst"), fs::perms::owner_read);
    CProfileDocument doc;
    doc.SetValue("S", "new", "2");
    EXPECT_FALSE(doc.Save(Z("inst").c_str()));
    EXPECT_EQ(ReadFile(P("inst")), "[S]\r\nold=1\r\n");
    EXPECT_EQ(Listing(m_dir.path()), std::vector<std::string>{"inst"});
}

TEST_F(ProfileTest, FailedSaveIntoMissingFolder) {
    CProfileDocument doc;
    doc.SetValue("S", "k", "v");
    EXPECT_FALSE(doc.Save(Z("missing\\inst").c_str()));
    EXPECT_FALSE(fs::exists(P("missing")));
}

// Runs fn in a child process without the right to override file permissions; returns
// its exit status.
template <class Fn> int AsUnprivilegedUser(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ProfileTest, FailedSaveInReadOnlyFolderKeepsTheOldFile) {
    fs::permissions(m_dir.path(), fs::perms::all, fs::perm_options::add);
    fs::create_directory(P("ro"));
    WriteFile(P("ro/inst"), "[S]\r\nold=1\r\n");
    fs::permissions(P("ro/inst"), fs::perms::all, fs::perm_options::add); // writable in place
    fs::permissions(P("ro"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read |
                                 fs::perms::others_exec);
    std::string path = Z("ro\\inst");
    int status = AsUnprivilegedUser([&] {
        CProfileDocument doc;
        doc.SetValue("S", "new", "2");
        return doc.Save(path.c_str()) ? 1 : 0;
    });
    EXPECT_EQ(status, 0) << "the save must fail (99: could not drop privileges)";
    EXPECT_EQ(ReadFile(P("ro/inst")), "[S]\r\nold=1\r\n");
    EXPECT_EQ(Listing(P("ro")), std::vector<std::string>{"inst"});
    fs::permissions(P("ro"), fs::perms::all, fs::perm_options::add);
}

// --- what a save refuses, and what it clears away -----------------------------------

struct UnreadableCase {
    const char* what;
    std::string section;
    std::string key;
    std::string value;
    CProfileProblem::Kind kind;
};

class UnreadableDocuments : public ::testing::TestWithParam<UnreadableCase> {};

// Load would not give it back as it was: Save writes nothing and leaves the old file.
TEST_P(UnreadableDocuments, AreNotSaved) {
    const UnreadableCase& c = GetParam();
    TempDir dir;
    WriteFile(dir.path() / "inst", "[S]\r\nold=1\r\n");
    CProfileDocument doc;
    doc.SetValue(c.section.c_str(), c.key.c_str(), c.value.c_str());
    CProfileProblem problem = doc.FindUnreadable();
    EXPECT_EQ(problem.kind, c.kind);
    SetLastError(0);
    EXPECT_FALSE(doc.Save(ZPath(dir.path() / "inst").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(ReadFile(dir.path() / "inst"), "[S]\r\nold=1\r\n");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"inst"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableDocuments,
    ::testing::Values(
        UnreadableCase{"Bracket", "Syslog\\a]b", "k", "v", CProfileProblem::SECTION_NAME},
        UnreadableCase{"LineFeedInName", "Syslog\\a\nb", "k", "v", CProfileProblem::SECTION_NAME},
        UnreadableCase{"CarriageReturnInName", "Syslog\\a\rb", "k", "v",
                       CProfileProblem::SECTION_NAME},
        UnreadableCase{"LongName", std::string(260, 's'), "k", "v", CProfileProblem::SECTION_NAME},
        UnreadableCase{"KeyWithEquals", "S", "a=b", "v", CProfileProblem::KEY},
        UnreadableCase{"CommentKey", "S", ";k", "v", CProfileProblem::KEY},
        UnreadableCase{"BlankKey", "S", " k", "v", CProfileProblem::KEY},
        UnreadableCase{"LineFeedInValue", "S", "k", "one\ntwo", CProfileProblem::LINE_BREAK},
        UnreadableCase{"CarriageReturnAtTheEnd", "S", "k", "one\r", CProfileProblem::LINE_BREAK},
        UnreadableCase{"OneByteTooLong", "S", "Message", std::string(2040, 'm'),
                       CProfileProblem::VALUE_TOO_LONG}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ProfileTest, TheLimitsThemselvesComeBackWhole) {
    CProfileDocument doc;
    const std::string section(259, 's');
    const std::string value(2039, 'm'); // "Message=" and 2039 bytes: 2047
    doc.SetValue(section.c_str(), "Message", value.c_str());
    doc.SetValue(section.c_str(), "Inner", "a\rb"); // a carriage return inside stays
    EXPECT_EQ(doc.FindUnreadable().kind, CProfileProblem::NONE);
    ASSERT_TRUE(doc.Save(Z("inst").c_str()));
    CProfileDocument again;
    ASSERT_EQ(again.Load(Z("inst").c_str()), CProfileDocument::LOADED);
    std::string read;
    EXPECT_TRUE(again.GetValue(section.c_str(), "Message", "", read));
    EXPECT_TRUE(read == value) << read.size();
    EXPECT_TRUE(again.GetValue(section.c_str(), "Inner", "", read));
    EXPECT_EQ(read, "a\rb");

    CProfileProblem problem;
    doc.SetValue(section.c_str(), "Message", (value + "m").c_str());
    problem = doc.FindUnreadable();
    EXPECT_EQ(problem.kind, CProfileProblem::VALUE_TOO_LONG);
    EXPECT_EQ(problem.key, "Message");
    EXPECT_EQ(problem.length, 2040u);
    EXPECT_EQ(problem.limit, 2039u);
}

TEST_F(ProfileTest, SaveRemovesTemporaryFilesOfDeadSavesOnly) {
    // Left behind by a save that was killed: nobody holds it.
    WriteFile(P("]pd1A2B.tmp"), "[S]\r\nhalf");
    // Held, as a live save holds its file, by another process.
    WriteFile(P("]pdBEEF.tmp"), "");
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        int fd = ::open(P("]pdBEEF.tmp").c_str(), O_RDONLY);
        char c = ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1); // until the parent is through
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    // Held by this process: a temporary file it made and has not moved yet.
    char own[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(m_dir.ZPath().c_str(), PROFILE_TEMP_PREFIX, 0, own), 0u);
    // Names of another kind stay whatever they hold.
    for (const char* other :
         {".pd1A2B.tmp", "]pd1a2b.tmp", "]pd12.tmp", "]pd1A2B.tmpx", "x1A2B.tmp"})
        WriteFile(P(other), "");

    CProfileDocument doc;
    doc.SetValue("S", "k", "v");
    ASSERT_TRUE(doc.Save(Z("inst").c_str()));
    (void)!::write(done[1], "x", 1);
    ::waitpid(holder, nullptr, 0);

    std::vector<std::string> names = Listing(m_dir.path());
    std::string ownName = std::string(own).substr(std::string(own).rfind('\\') + 1);
    std::vector<std::string> expected = {".pd1A2B.tmp", "]pd12.tmp", "]pd1A2B.tmpx", "]pd1a2b.tmp",
                                         "]pdBEEF.tmp", "inst",      "x1A2B.tmp",    ownName};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(IsProfileTempFileName("]pd1A2B.tmp"));
    EXPECT_FALSE(IsProfileTempFileName(".pd1A2B.tmp"));

    // Once the holders are gone, the next save clears their files away.
    ASSERT_TRUE(DeleteFileA(own));
    ASSERT_TRUE(doc.Save());
    EXPECT_FALSE(fs::exists(P("]pdBEEF.tmp")));
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

// --- instance section names and the V6 backup --------------------------------------

struct SectionNameCase {
    const char* prefix;
    const char* path;
    const char* section;
};

class SectionNames : public ::testing::TestWithParam<SectionNameCase> {};

TEST_P(SectionNames, FromPath) {
    const SectionNameCase& c = GetParam();
    EXPECT_EQ(InstanceSectionName(c.prefix, c.path), c.section);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SectionNames,
    ::testing::Values(SectionNameCase{"Syslog", "C:/data/Alpha", "Syslog\\data/Alpha"},
                      SectionNameCase{"Syslog", "Alpha", "Syslog\\Alpha"},
                      SectionNameCase{"ServiceRestart", "Z:\\var\\notify\\Router alarms",
                                      "ServiceRestart\\Router alarms"},
                      SectionNameCase{"TextSpeech", "Z:\\n\\", "TextSpeech\\"},
                      SectionNameCase{"Syslog", "Z:\\n\\\x95\x5C", "Syslog\\"}),
    [](const auto& info) { return testkit::ParamName(info.index, info.param.path); });

TEST(SectionNamesCodePage, TrailByteIsNoSeparatorUnder932) {
    ScopedCodePage cp(932);
    EXPECT_EQ(InstanceSectionName("Syslog", "Z:\\n\\\x95\x5C"), "Syslog\\\x95\x5C");
}

TEST_F(ProfileTest, BackUpVersion6File) {
    fs::create_directory(P("notify"));
    WriteFile(P("notify/Alpha.old"), "old record");
    ASSERT_TRUE(BackUpVersion6File(Z("notify\\Alpha.old").c_str()));
    EXPECT_EQ(ReadFile(P("notify/V6/Alpha")), "old record"); // no extension
    EXPECT_FALSE(fs::exists(P("notify/Alpha.old")));

    // Another file with the same base name replaces the earlier copy.
    WriteFile(P("notify/Alpha.new"), "second record");
    ASSERT_TRUE(BackUpVersion6File(Z("notify\\Alpha.new").c_str()));
    EXPECT_EQ(ReadFile(P("notify/V6/Alpha")), "second record");
    EXPECT_EQ(Listing(P("notify")), std::vector<std::string>{"V6"});
}

TEST_F(ProfileTest, BackUpFailsWhenTheFolderCannotBeMade) {
    WriteFile(P("V6"), "a file where the folder should be");
    WriteFile(P("Alpha"), "old record");
    EXPECT_FALSE(BackUpVersion6File(Z("Alpha").c_str()));
    EXPECT_EQ(ReadFile(P("Alpha")), "old record");

    fs::remove(P("V6"));
    EXPECT_FALSE(BackUpVersion6File(Z("gone\\Alpha").c_str())); // no folder to hold V6
    EXPECT_FALSE(fs::exists(P("gone")));
    EXPECT_FALSE(BackUpVersion6File(Z("Missing").c_str())); // nothing to copy
    EXPECT_FALSE(fs::exists(P("V6/Missing")));
}

TEST_F(ProfileTest, BackUpOfABareFileNameStaysBesideIt) {
    WriteFile(P("Alpha.old"), "old record");
    fs::path before = fs::current_path();
    fs::current_path(m_dir.path());
    bool ok = BackUpVersion6File("Alpha.old");
    fs::current_path(before);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadFile(P("V6/Alpha")), "old record");
}

TEST_F(ProfileTest, MigrationOfAnOldFileThenSave) {
    // The old file moves away and the new-format file takes its name.
    WriteFile(P("Alpha.old"), std::string("\x00\x7B\xDD\x69", 4));
    CProfileDocument doc;
    ASSERT_EQ(doc.Load(Z("Alpha.old").c_str()), 2);
    ASSERT_TRUE(BackUpVersion6File(Z("Alpha.old").c_str()));
    CProfileDocument fresh;
    fresh.SetValue(InstanceSectionName("Syslog", Z("Alpha.old").c_str()).c_str(), "Port", "514");
    ASSERT_TRUE(fresh.Save(Z("Alpha.old").c_str()));
    EXPECT_EQ(ReadFile(P("Alpha.old")), "[Syslog\\Alpha.old]\r\nPort=514\r\n");
    EXPECT_EQ(ReadFile(P("V6/Alpha")), std::string("\x00\x7B\xDD\x69", 4));
}

} // namespace
