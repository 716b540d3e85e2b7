// Revocet's settings dialog, host browser and service picker, played by an operator
// through "sentrel dialog", over the simulated network and service manager.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/winreg.h>

#include "dialog_host.h"
#include "network.h"
#include "supervisord.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kClsid[] = "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}";
const std::string kIllegal =
    "The 'Display name' has illegal filename characters in it.\\nPlease remove all illegal "
    "characters and try again.\\n\\nNOTE: Illegal characters are as follows * : ? < > | / "
    "\\\\ \\\" [ ]";
const std::string kEnumFailed =
    "Failed to enumerate Domain/Host Names. Please enter host name manually.\\r\\n";

// The transcript's quoted form of a text.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

Lines Concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The three texts in tab order.
Lines Fill(const std::string& name, const std::string& host, const std::string& service) {
    return {"type 201 " + name, "type 202 " + host, "type 203 " + service};
}

// The settings dialog's controls as "dump" lists them.
Lines SettingsDump(const std::string& name, const std::string& host, const std::string& service,
                   const std::string& command) {
    return {"control - static \"&Display Name:\"",
            "control 201 edit \"" + name + "\"",
            "control - static \"&Host:\"",
            "control 202 edit \"" + host + "\"",
            "control 204 button \"...\"",
            "control - static \"&Service:\"",
            "control 203 edit \"" + service + "\"",
            "control 205 button \"...\"",
            "control 214 static \"&Command:\"",
            "control 215 combo \"" + command + "\" selected \"" + command +
                "\" items \"Start\" \"Stop\"",
            "control 1 button \"OK\"",
            "control 2 button \"Cancel\"",
            "control 9 button \"Help\""};
}

class RevocetDialog : public testkit::DialogHostTest {
protected:
    RevocetDialog() : DialogHostTest("revocet") {}

    void SetUp() override {
        DialogHostTest::SetUp();
        WinplatSetRegistryPath((dir / "reg.reg").c_str());
        // Every machine is simulated unless a test says otherwise.
        testkit::SetServiceManagerText("", "Backend", "simulated");
        testkit::SetServiceManagerText("", "SimulationFile", (dir / "services.sim").string());
        testkit::WriteFile(dir / "services.sim", kServices);
        testkit::UseSimulatedNetwork(dir / "network.sim");
        Network("[\\\\beta]\n[WORKGROUP]\nDisplayType=domain\n[\\\\ALPHA]\n"
                "[\\\\ALPHA\\public]\nDisplayType=share\nType=disk\nUsage=connectable\n"
                "[\\\\ALPHA\\laser]\nDisplayType=share\nType=print\nUsage=connectable\n"
                "[\\\\gamma]\nDisplayType=generic\n[\\\\delta]\nType=disk\n");
    }
    void TearDown() override { WinplatSetRegistryPath(nullptr); }

    void Network(const std::string& text) { testkit::WriteFile(dir / "network.sim", text); }
    void Put(const std::string& name, const std::string& host, const std::string& service,
             const std::string& command) {
        testkit::WriteFile(notify / name, Instance(name, host, service, command));
    }
    static std::string Instance(const std::string& name, const std::string& host,
                                const std::string& service, const std::string& command) {
        return "[ServiceRestart\\" + name + "]\r\nCLSID=" + kClsid + "\r\nHost=" + host +
               "\r\nService=" + service + "\r\nCommand=" + command + "\r\n";
    }
    // The notification folder's path as the plug-in sees it, escaped as in the transcript.
    std::string PathOf(const std::string& name) const { return Escaped(notifyZ + "\\" + name); }
    static bool Has(const testkit::DialogRun& run, const std::string& line) {
        return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
    }
    // The lines of a run that follow the first one equal to line.
    static Lines After(const testkit::DialogRun& run, const std::string& line) {
        auto it = std::find(run.lines.begin(), run.lines.end(), line);
        return it == run.lines.end() ? Lines{} : Lines(it + 1, run.lines.end());
    }

    static constexpr char kServices[] = R"([PRN01]
[PRN01\Spooler]
DisplayName=Print Spooler
State=running
[PRN01\alerter]
DisplayName=Alerter
State=stopped
[PRN01\Zeta]
DisplayName=Last One
State=paused
[PRN01\Booting]
DisplayName=Slow Starter
State=start_pending
[PRN01\Tcpip]
DisplayName=TCP/IP Protocol Driver
Type=kernel
State=running
[EMPTY01]
[DOWN01]
Reachable=no
)";
};

TEST_F(RevocetDialog, ANewInstanceWithoutDefaultOpensEmptyWithStartAndIsWrittenOnOk) {
    testkit::DialogRun run =
        Dialog("new ServiceRestart",
               Concat({"dump"}, Concat(Fill("Restart spooler", "PRN01", "Spooler"), {"click 1"})));
    ASSERT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(run.lines, (Concat(Concat(
                                     Lines{
                                         "log \"" + PathOf("Default") +
                                             " - Failed to load notification from disk.\\r\\n\"",
                                         "open 202 \"New Service Restart Notification\"",
                                         "focus 201",
                                     },
                                     SettingsDump("", "", "", "Start")),
                                 Lines{
                                     "close 202 OK",
                                     "result 0x00000000 name \"Restart spooler\"",
                                 })))
        << run.Text();
    EXPECT_EQ(File("Restart spooler"), Instance("Restart spooler", "PRN01", "Spooler", "Start"));
}

TEST_F(RevocetDialog, TheDefaultInstancePresetsANewOneAndIsNeverOverwritten) {
    Put("Default", "%H", "%V", "stop");
    testkit::DialogRun run =
        Dialog("new ServiceRestart",
               {"dump", "type 201 Default", "click 1", "answer OK", "type 201 Mine", "click 1"});
    ASSERT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(run.lines[0], "open 202 \"New Service Restart Notification\"");
    for (std::string line :
         {"control 202 edit \"%H\"", "control 203 edit \"%V\"",
          "control 215 combo \"Stop\" selected \"Stop\" items \"Start\" \"Stop\""})
        EXPECT_TRUE(Has(run, line)) << line << "\n" << run.Text();
    Lines tail = After(run, "box \"Error\" \"Instance name already exists.  Please choose "
                            "another name.\"");
    ASSERT_GE(tail.size(), 2u) << run.Text();
    EXPECT_EQ(tail[1], "focus 201");
    EXPECT_EQ(File("Default"), Instance("Default", "%H", "%V", "stop"));
    // The placeholders are accepted as they stand.
    EXPECT_EQ(File("Mine"), Instance("Mine", "%H", "%V", "Stop"));
    EXPECT_EQ(run.lines.back(), "result 0x00000000 name \"Mine\"");
}

TEST_F(RevocetDialog, EachCheckInItsOrderWithTheFocusOnTheFieldToCorrect) {
    Put("Taken", "PRN01", "Spooler", "Start");
    struct Case {
        Lines fields;
        std::string box;
        std::string focus;
    };
    const std::string name = "Invalid value - The 'Name' field must have a value";
    const std::string host = "Invalid value - The 'Host' field must have a value";
    const std::string service = "Invalid value - The 'Service' field must have a value";
    const std::string exists = "Instance name already exists.  Please choose another name.";
    const Case cases[] = {
        {Fill("", "\\\\PRN01", ""), name, "201"},
        {Fill("a/b", "", "x"), host, "202"},
        {Fill("a/b", "PRN01", ""), service, "203"},
        {Fill("a/b", "\\\\PRN01", "x"), kIllegal, "201"},
        {Fill("A", "\\\\PRN01", "x/y"), kIllegal, "202"},
        {Fill("A", "PRN01", "x/y"), kIllegal, "203"},
        {Fill("A", "PRN01", "x]"), kIllegal, "203"},
        {Fill("Taken", "PRN01", "x:y"), kIllegal, "203"},
        {Fill("Taken", "PRN01", "Spooler"), exists, "201"},
        {Fill("Default", "PRN01", "Spooler"), exists, "201"},
    };
    Put("Default", "", "", "Start");
    for (const Case& c : cases) {
        testkit::DialogRun run = Dialog("new ServiceRestart", Concat(c.fields, {"click 1"}));
        EXPECT_EQ(run.status, 1) << run.Text();
        Lines tail = After(run, "box \"Error\" \"" + c.box + "\"");
        ASSERT_GE(tail.size(), 2u) << c.box << "\n" << run.Text();
        EXPECT_EQ(tail[0], "answer OK (default)");
        EXPECT_EQ(tail[1], "focus " + c.focus) << run.Text();
        EXPECT_EQ(run.lines.back(), "result 0x80004005");
    }
    EXPECT_EQ(File("Taken"), Instance("Taken", "PRN01", "Spooler", "Start"));
    // Typing stops at 100 characters, and that name is written and reads back.
    testkit::DialogRun run = Dialog(
        "new ServiceRestart", Concat(Fill(std::string(150, 'n'), "PRN01", "Spooler"), {"click 1"}));
    EXPECT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(run.lines.back(), "result 0x00000000 name \"" + std::string(100, 'n') + "\"");
    run = Dialog("edit ServiceRestart --name " + std::string(100, 'n'), {"dump"});
    EXPECT_TRUE(Has(run, "control 203 edit \"Spooler\"")) << run.Text();
    // A name longer than an instance file can hold never reaches the save: the host may
    // hand one over, and it is refused with the limit named.
    std::string longName(245, 'L');
    Put(longName, "PRN01", "Spooler", "Start");
    run = Dialog("edit ServiceRestart --name " + longName, {"click 1"});
    EXPECT_EQ(run.status, 1) << run.Text();
    Lines tail = After(run, "box \"revocet\" \"Enter no more than 100 characters.\"");
    ASSERT_GE(tail.size(), 2u) << run.Text();
    EXPECT_EQ(tail[1], "focus 201");
    EXPECT_EQ(File(longName), Instance(longName, "PRN01", "Spooler", "Start"));
}

TEST_F(RevocetDialog, OnlyAStoredStartShowsStartAndWhatIsShownIsWritten) {
    struct Case {
        std::string stored;
        std::string shown;
    };
    const Case cases[] = {{"Start", "Start"},  {"stop", "Stop"},  {"Stop", "Stop"},
                          {"Restart", "Stop"}, {"START", "Stop"}, {"", "Stop"},
                          {"start", "Stop"}};
    for (const Case& c : cases) {
        Put("Cmd", "PRN01", "Spooler", c.stored);
        testkit::DialogRun run = Dialog("edit ServiceRestart --name Cmd", {"dump", "click 1"});
        ASSERT_EQ(run.status, 0) << run.Text();
        EXPECT_EQ(run.lines[0], "open 202 \"Edit Service Restart Notification\"");
        EXPECT_TRUE(Has(run, "control 215 combo \"" + c.shown + "\" selected \"" + c.shown +
                                 "\" items \"Start\" \"Stop\""))
            << c.stored << "\n"
            << run.Text();
        EXPECT_EQ(File("Cmd"), Instance("Cmd", "PRN01", "Spooler", c.shown)) << c.stored;
    }
    // The operator's choice is what is written.
    Put("Cmd", "PRN01", "Spooler", "Stop");
    testkit::DialogRun run =
        Dialog("edit ServiceRestart --name Cmd", {"pick 215 Start", "click 1"});
    EXPECT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(File("Cmd"), Instance("Cmd", "PRN01", "Spooler", "Start"));
}

TEST_F(RevocetDialog, RenamingWritesTheNewFileKeepsTheOldAndKeepingTheNameIsNoConflict) {
    Put("Old", "PRN01", "Spooler", "Start");
    Put("Other", "PRN01", "Zeta", "Stop");
    testkit::DialogRun run = Dialog("edit ServiceRestart --name Old", {"type 203 Zeta", "click 1"});
    EXPECT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(run.lines.back(), "result 0x00000000 name \"Old\"");
    EXPECT_EQ(File("Old"), Instance("Old", "PRN01", "Zeta", "Start"));

    run = Dialog("edit ServiceRestart --name Old",
                 {"type 201 Other", "click 1", "answer OK", "type 201 New name", "click 1"});
    EXPECT_EQ(run.status, 0) << run.Text();
    EXPECT_TRUE(Has(run, "box \"Error\" \"Instance name already exists.  Please choose another "
                         "name.\""))
        << run.Text();
    EXPECT_EQ(run.lines.back(), "result 0x00000000 name \"New name\"");
    EXPECT_EQ(File("New name"), Instance("New name", "PRN01", "Zeta", "Start"));
    EXPECT_EQ(File("Old"), Instance("Old", "PRN01", "Zeta", "Start"));
    EXPECT_EQ(File("Other"), Instance("Other", "PRN01", "Zeta", "Stop"));
}

TEST_F(RevocetDialog, TextsRoundTripThroughTheFileAndBackIntoTheDialog) {
    testkit::DialogRun run = Dialog(
        "new ServiceRestart",
        Concat(Fill("50% & more + 'x'", "web-01.example", "caf\u00e9 & 100%+"), {"click 1"}));
    ASSERT_EQ(run.status, 0) << run.Text();
    // The file holds the code page's bytes.
    EXPECT_EQ(File("50% & more + 'x'"),
              Instance("50% & more + 'x'", "web-01.example", "caf\xe9 & 100%+", "Start"));
    run = Dialog("edit ServiceRestart --name \"50% & more + 'x'\"", {"dump", "click 1"});
    ASSERT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(
        After(run, "focus 201"),
        Concat(SettingsDump("50% & more + 'x'", "web-01.example", "caf\u00e9 & 100%+", "Start"),
               {"close 202 OK", "result 0x00000000 name \"50% & more + 'x'\""}));
    EXPECT_EQ(File("50% & more + 'x'"),
              Instance("50% & more + 'x'", "web-01.example", "caf\xe9 & 100%+", "Start"));
}

TEST_F(RevocetDialog, AnInstanceThatDoesNotLoadIsLoggedAndShownWithTheTemplateCaption) {
    testkit::WriteFile(notify / "Broken", "[ServiceRestart\\Broken]\r\nCLSID={0}\r\nHost=x\r\n");
    testkit::DialogRun run = Dialog("edit ServiceRestart --name Broken", {"dump"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines,
              (Concat(Concat(
                          Lines{
                              "log \"" + PathOf("Broken") + "Error loading the instance file\"",
                              "box \"Error\" \"Error loading the instance file\"",
                              "answer OK (default)",
                              "open 202 \"Edit Service Restart Notification Instance\"",
                              "focus 201",
                          },
                          SettingsDump("Broken", "", "", "Start")),
                      Lines{
                          "close 202 Cancel",
                          "result 0x80004005",
                      })))
        << run.Text();
}

TEST_F(RevocetDialog, AFailedSaveSaysSoAndStaysOpen) {
    // A folder where the file should be: the edited name is kept, so nothing refuses it
    // before the save, and the save cannot replace a folder.
    std::filesystem::create_directories(notify / "Box");
    testkit::DialogRun run = Dialog(
        "edit ServiceRestart --name Box",
        Concat(Fill("Box", "PRN01", "Spooler"), {"click 1", "answer OK", "dump", "click 2"}));
    EXPECT_EQ(run.status, 1) << run.Text();
    EXPECT_TRUE(Has(run, "log \"" + PathOf("Box") +
                             " Service Restart Notification - Failed saving file.\\r\\n\""))
        << run.Text();
    Lines tail = After(run, "box \"Error\" \"Error saving Service Restart Notification instance "
                            "file\"");
    ASSERT_GE(tail.size(), 3u) << run.Text();
    EXPECT_EQ(tail[0], "answer OK");
    EXPECT_EQ(tail[2], "control - static \"&Display Name:\""); // still open
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_TRUE(std::filesystem::is_directory(notify / "Box"));
}

TEST_F(RevocetDialog, CancelWritesNothingAndAnOverlongFieldIsRefusedByTheFramework) {
    testkit::DialogRun run =
        Dialog("new ServiceRestart", Concat(Fill("A", "PRN01", "Spooler"), {"click 2"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_TRUE(testkit::Listing(notify).empty());
    // Typing stops at 100 characters; a longer text from a file is shown in full and
    // refused on OK.
    std::string longHost(120, 'h');
    Put("Long", longHost, "Spooler", "Start");
    run = Dialog("edit ServiceRestart --name Long", {"dump", "click 1"});
    EXPECT_TRUE(Has(run, "control 202 edit \"" + longHost + "\"")) << run.Text();
    EXPECT_TRUE(Has(run, "box \"revocet\" \"Enter no more than 100 characters.\"")) << run.Text();
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_EQ(File("Long"), Instance("Long", longHost, "Spooler", "Start"));
}

TEST_F(RevocetDialog, TheHostBrowserListsTheMachinesSortedAndGivesTheChosenOne) {
    testkit::DialogRun run = Dialog("new ServiceRestart", {"type 202 typed", "click 204", "dump",
                                                           "pick 212 beta", "click 1", "dump"});
    EXPECT_EQ(run.status, 1) << run.Text();
    Lines expected = {
        "open 202 \"New Service Restart Notification\"",
        "focus 201",
        "open 20024 \"Network Neighborhood\"",
        "focus 212",
        "control - static \"&Select Host:\"",
        "control 212 list \"\" selected \"ALPHA\" items \"ALPHA\" \"beta\" \"gamma\"",
        "control 1 button \"OK\"",
        "control 2 button \"Cancel\"",
        "control 9 button \"Help\"",
        "close 20024 OK",
    };
    Lines got(run.lines.begin() + 1, run.lines.begin() + 1 + static_cast<long>(expected.size()));
    EXPECT_EQ(got, expected) << run.Text();
    EXPECT_TRUE(Has(run, "control 202 edit \"beta\"")) << run.Text();
}

TEST_F(RevocetDialog, TheHostBrowserFirstEntryCancelAndAnEmptyList) {
    // OK right away gives the first in sorted order; Cancel keeps the typed host.
    testkit::DialogRun run = Dialog("new ServiceRestart", {"type 202 typed", "click 204", "click 1",
                                                           "click 204", "click 2", "dump"});
    EXPECT_TRUE(Has(run, "close 20024 Cancel")) << run.Text();
    EXPECT_TRUE(Has(run, "control 202 edit \"ALPHA\"")) << run.Text();
    run = Dialog("new ServiceRestart", {"type 202 typed", "click 204", "click 2", "dump"});
    EXPECT_TRUE(Has(run, "control 202 edit \"typed\"")) << run.Text();

    // No entries at all: the first call ends the enumeration; OK on the empty list
    // clears the host.
    Network("");
    run = Dialog("new ServiceRestart", {"type 202 typed", "click 204", "answer OK", "dump",
                                        "click 1", "window 202", "dump"});
    Lines tail = After(run, "log \"" + kEnumFailed + "\"");
    ASSERT_GE(tail.size(), 6u) << run.Text();
    EXPECT_EQ(tail[0], "box \"Error\" \"" + kEnumFailed + "\"");
    EXPECT_EQ(tail[1], "answer OK");
    EXPECT_EQ(tail[2], "open 20024 \"Network Neighborhood\"");
    EXPECT_TRUE(Has(run, "control 212 list \"\"")) << run.Text();
    EXPECT_TRUE(Has(run, "close 20024 OK")) << run.Text();
    EXPECT_TRUE(Has(run, "control 202 edit \"\"")) << run.Text();
}

TEST_F(RevocetDialog, TheHostBrowserFailures) {
    struct Case {
        std::string file;
        Lines expected; // from the click on the host button to the browser's first focus
    };
    std::string four = "[\\\\m1]\n[\\\\m2]\n[\\\\m3]\n[\\\\m4]\n", thirty;
    for (int i = 10; i < 40; ++i)
        thirty += "[\\\\m" + std::to_string(i) + "]\n";
    const Case cases[] = {
        {"OpenError=1222\n" + four,
         {"log \"" + kEnumFailed + "\"", "box \"Error\" \"" + kEnumFailed + "\"",
          "answer OK (default)", "open 20024 \"Network Neighborhood Scan\"", "focus 212",
          "control 212 list \"\""}},
        // 30 records need a second call, which fails: the first call's stay.
        {"EnumError=1222\nEnumErrorAt=2\nMoreData=yes\n" + thirty,
         {"log \"" + kEnumFailed + "\"", "box \"Error\" \"" + kEnumFailed + "\"",
          "answer OK (default)", "open 20024 \"Network Neighborhood\"", "focus 212",
          "control 212 list \"\" selected \"m10\" items \"m10\" \"m11\""}},
    };
    for (const Case& c : cases) {
        Network(c.file);
        testkit::DialogRun run = Dialog("new ServiceRestart", {"click 204", "dump"});
        Lines got = After(run, "focus 201");
        got.erase(std::remove_if(got.begin(), got.end(),
                                 [](const std::string& l) {
                                     return l.rfind("control 212", 0) != 0 &&
                                            l.rfind("control", 0) == 0;
                                 }),
                  got.end());
        got.resize(std::min(got.size(), c.expected.size()));
        // A list line is compared by its beginning.
        if (got.size() == c.expected.size() && got.back().rfind(c.expected.back(), 0) == 0)
            got.back() = c.expected.back();
        EXPECT_EQ(got, c.expected) << c.file << "\n" << run.Text();
        EXPECT_EQ(run.Text().find("\"m39\""), std::string::npos) << run.Text();
    }
}

TEST_F(RevocetDialog, TheHostBrowserListsOnlyWhatTheFirstFullBufferHolds) {
    // 60 machines do not fit into 1600 bytes: the first call answers with those that fit
    // and the browser lists those.
    std::string text;
    for (int i = 10; i < 70; ++i)
        text += "[\\\\host" + std::to_string(i) + "]\n";
    Network(text);
    testkit::DialogRun run = Dialog("new ServiceRestart", {"click 204", "dump"});
    auto list = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& l) {
        return l.rfind("control 212 list", 0) == 0;
    });
    ASSERT_NE(list, run.lines.end()) << run.Text();
    size_t items = static_cast<size_t>(std::count(list->begin(), list->end(), '"')) / 2 - 2;
    EXPECT_GT(items, 5u) << *list;
    EXPECT_LT(items, 60u) << *list;
    EXPECT_NE(list->find("\"host10\""), std::string::npos);
    EXPECT_FALSE(Has(run, "log \"" + kEnumFailed + "\"")) << run.Text();

    // A provider that says ERROR_MORE_DATA with records: the browser enlarges its buffer
    // and goes on to the end.
    Network("MoreData=yes\n" + text);
    run = Dialog("new ServiceRestart", {"click 204", "dump"});
    list = std::find_if(run.lines.begin(), run.lines.end(),
                        [](const std::string& l) { return l.rfind("control 212 list", 0) == 0; });
    ASSERT_NE(list, run.lines.end()) << run.Text();
    EXPECT_EQ(static_cast<size_t>(std::count(list->begin(), list->end(), '"')) / 2 - 2, 60u)
        << *list;
    EXPECT_NE(list->find("\"host69\""), std::string::npos);
}

TEST_F(RevocetDialog, ThePickerListsEveryWin32ServiceSortedWithItsOwnNameAndState) {
    testkit::DialogRun run =
        Dialog("new ServiceRestart", {"type 202 PRN01", "type 203 typed", "click 205", "dump",
                                      "pick 213 Zeta", "click 1", "dump"});
    Lines expected = {
        "open 203 \"Select Service On PRN01\"",
        "focus 213",
        "control - static \"&Select Service:\"",
        "control 213 listview \"\" selected \"alerter\\tAlerter\\tStopped.\" items "
        "\"alerter\\tAlerter\\tStopped.\" \"Booting\\tSlow Starter\\tStarting.\" "
        "\"Spooler\\tPrint Spooler\\tRunning.\" \"Zeta\\tLast One\\tPaused.\"",
        "control 1 button \"OK\"",
        "control 2 button \"Cancel\"",
        "control 9 button \"Help\"",
        "close 203 OK",
    };
    Lines got = After(run, "focus 201");
    got.resize(std::min(got.size(), expected.size()));
    EXPECT_EQ(got, expected) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 edit \"Zeta\"")) << run.Text();
}

TEST_F(RevocetDialog, ThePickerFirstRowCancelAndAnEmptyList) {
    testkit::DialogRun run = Dialog(
        "new ServiceRestart", {"type 202 PRN01", "type 203 typed", "click 205", "click 1", "dump"});
    EXPECT_TRUE(Has(run, "control 203 edit \"alerter\"")) << run.Text();
    run = Dialog("new ServiceRestart",
                 {"type 202 PRN01", "type 203 typed", "click 205", "click 2", "dump"});
    EXPECT_TRUE(Has(run, "close 203 Cancel")) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 edit \"typed\"")) << run.Text();
    run = Dialog("new ServiceRestart",
                 {"type 202 EMPTY01", "type 203 typed", "click 205", "dump", "click 1", "dump"});
    EXPECT_TRUE(Has(run, "open 203 \"Select Service On EMPTY01\"")) << run.Text();
    EXPECT_TRUE(Has(run, "control 213 listview \"\"")) << run.Text();
    EXPECT_TRUE(Has(run, "close 203 OK")) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 edit \"typed\"")) << run.Text();
}

TEST_F(RevocetDialog, ThePickerWithoutAHostAndWithAMachineThatDoesNotAnswer) {
    testkit::DialogRun run = Dialog("new ServiceRestart", {"type 201 Inst", "click 205"});
    Lines tail = After(run, "box \"Error\" \"The 'Host' field must have a value\"");
    ASSERT_GE(tail.size(), 2u) << run.Text();
    EXPECT_EQ(tail[1], "focus 202");
    EXPECT_FALSE(Has(run, "open 203 \"Select Service On \"")) << run.Text();

    const std::string cause = "The RPC server is unavailable.\\r\\n";
    run = Dialog("new ServiceRestart",
                 {"type 201 My inst", "type 202 DOWN01", "type 203 typed", "click 205", "dump"});
    EXPECT_EQ(After(run, "focus 201"),
              (Concat(Concat(
                          Lines{
                              "log \"My inst\"",
                              "log \" Failed to connect to Service Manager : Error Code \"",
                              "log \"1722\"",
                              "log \"" + cause + "\"",
                              "log \"\\r\\n\"",
                              "box \"Error\" \"" + cause + "\"",
                              "answer OK (default)",
                              "focus 205",
                              "close 203 Cancel",
                          },
                          SettingsDump("My inst", "DOWN01", "typed", "Start")),
                      Lines{"close 202 Cancel", "result 0x80004005"})))
        << run.Text();
}

TEST_F(RevocetDialog, ThePickerListsManyServicesAcrossSeveralCallsAndKeepsRowsOnAFailure) {
    std::string text = "[BIG01]\n";
    for (int i = 100; i < 160; ++i)
        text += "[BIG01\\service-" + std::to_string(i) + "]\nDisplayName=Display of " +
                std::to_string(i) + " " + std::string(20, 'd') + "\n";
    testkit::WriteFile(dir / "services.sim", text);
    testkit::DialogRun run = Dialog(
        "new ServiceRestart", {"type 202 BIG01", "click 205", "key 213 end", "click 1", "dump"});
    EXPECT_TRUE(Has(run, "control 203 edit \"service-159\"")) << run.Text();
    run = Dialog("new ServiceRestart", {"type 202 BIG01", "click 205", "dump"});
    auto list = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& l) {
        return l.rfind("control 213 listview", 0) == 0;
    });
    ASSERT_NE(list, run.lines.end()) << run.Text();
    EXPECT_EQ(static_cast<size_t>(std::count(list->begin(), list->end(), '"')) / 2 - 2, 60u);
    EXPECT_NE(
        list->find("\"service-137\\tDisplay of 137 " + std::string(20, 'd') + "\\tStopped.\""),
        std::string::npos);

    // A call that fails part-way ends the list quietly with the rows so far.
    testkit::WriteFile(dir / "services.sim",
                       "[BIG01]\nEnumError=1722\nEnumErrorAt=20\n" + text.substr(8));
    run = Dialog("new ServiceRestart", {"type 202 BIG01", "click 205", "dump"});
    list = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& l) {
        return l.rfind("control 213 listview", 0) == 0;
    });
    ASSERT_NE(list, run.lines.end()) << run.Text();
    size_t rows = static_cast<size_t>(std::count(list->begin(), list->end(), '"')) / 2 - 2;
    EXPECT_GT(rows, 0u);
    EXPECT_LT(rows, 60u);
    EXPECT_EQ(std::count_if(run.lines.begin(), run.lines.end(),
                            [](const std::string& l) { return l.rfind("box", 0) == 0; }),
              0);
}

TEST_F(RevocetDialog, AServiceWhoseRecordOutgrowsTheBufferIsListedToo) {
    // A record larger than 2048 bytes: the picker makes room instead of asking for ever.
    std::string display(3000, 'x');
    testkit::WriteFile(dir / "services.sim", "[HUGE01\\a]\n[HUGE01\\big]\nDisplayName=" + display +
                                                 "\nState=running\n[HUGE01\\small]\n");
    testkit::DialogRun run = Dialog("new ServiceRestart", {"type 202 HUGE01", "click 205", "dump"});
    EXPECT_TRUE(Has(run, "control 213 listview \"\" selected \"a\\ta\\tStopped.\" items "
                         "\"a\\ta\\tStopped.\" \"big\\t" +
                             display + "\\tRunning.\" \"small\\tsmall\\tStopped.\""))
        << run.Text().substr(0, 2000);
}

TEST_F(RevocetDialog, HelpOpensEachDialogsTopicAndWindowActsOnTheSettingsDialogBehind) {
    std::string chm = Escaped(testkit::ZPath(testkit::BuildDir() / "plugins") + "\\revocet.chm");
    testkit::DialogRun run =
        Dialog("new ServiceRestart",
               {"click 9", "type 202 PRN01", "click 204", "click 9", "window 202", "dump",
                "window 20024", "click 2", "click 205", "click 9", "click 2", "click 2"});
    EXPECT_EQ(run.status, 1) << run.Text();
    for (std::string context : {"202", "20024", "203"})
        EXPECT_TRUE(Has(run, "help \"" + chm + "\" context " + context)) << run.Text();
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "help-window yes"), 3) << run.Text();
    // "window 202" reads the settings dialog while the browser is open over it.
    EXPECT_TRUE(Has(run, "control 202 edit \"PRN01\"")) << run.Text();
    EXPECT_TRUE(Has(run, "close 20024 Cancel"));
    EXPECT_TRUE(Has(run, "close 203 Cancel"));
}

} // namespace
