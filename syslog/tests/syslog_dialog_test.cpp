// The syslog settings dialog, played by an operator through "sentrel dialog".
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_host.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kInstance[] =
    "[Syslog\\%s]\r\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\nAddress=%s\r\n"
    "Message=%s\r\nPort=%d\r\n";

class SyslogDialog : public testkit::DialogHostTest {
protected:
    SyslogDialog() : DialogHostTest("tellumo") {}

    // An instance file as the plug-in writes it.
    static std::string Instance(const std::string& name, const std::string& address,
                                const std::string& message, int port) {
        char text[4096];
        std::snprintf(text, sizeof text, kInstance, name.c_str(), address.c_str(), message.c_str(),
                      port);
        return text;
    }
    void Put(const std::string& name, const std::string& body) {
        testkit::WriteFile(notify / name, body);
    }
    // The lines of a run that follow the first line starting with prefix.
    static Lines After(const testkit::DialogRun& run, const std::string& prefix) {
        for (size_t i = 0; i < run.lines.size(); ++i)
            if (run.lines[i].rfind(prefix, 0) == 0)
                return Lines(run.lines.begin() + static_cast<long>(i) + 1, run.lines.end());
        return {};
    }
};

// The fields filled in one go, in tab order.
Lines Fill(const std::string& name, const std::string& port, const std::string& address,
           const std::string& message) {
    return {"type 201 " + name, "type 203 " + port, "type 206 " + address, "type 205 " + message};
}

Lines Concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(SyslogDialog, ANewInstanceWithoutDefaultOpensWithPort514AndIsWrittenOnOk) {
    testkit::DialogRun run = Dialog(
        "new SysLog",
        Concat({"dump"}, Concat(Fill("Router", "1514", "127.0.0.1", "%H is down"), {"click 1"})));
    ASSERT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(run.lines, (Lines{
                             "open 202 \"New Syslog Notification\"",
                             "focus 201",
                             "control - static \"&Display name:\"",
                             "control 201 edit \"\"",
                             "control - static \"Syslog &Port:\"",
                             "control 203 edit \"514\"",
                             "control - static \"Syslog Server &Address:\"",
                             "control 206 edit \"\"",
                             "control - static \"Syslog &Message:\"",
                             "control 205 edit \"\"",
                             "control 1 button \"OK\"",
                             "control 2 button \"Cancel\"",
                             "control 9 button \"Help\"",
                             "close 202 OK",
                             "result 0x00000000 name \"Router\"",
                         }));
    EXPECT_EQ(File("Router"), Instance("Router", "127.0.0.1", "%H is down", 1514));
}

TEST_F(SyslogDialog, TheDefaultInstancePresetsANewOne) {
    Put("Default", Instance("Default", "10.0.0.9", "from default", 1514));
    testkit::DialogRun run = Dialog("new SysLog", {"dump"});
    EXPECT_EQ(run.status, 1);
    Lines expected = {"control 203 edit \"1514\"", "control 206 edit \"10.0.0.9\"",
                      "control 205 edit \"from default\""};
    for (const std::string& line : expected)
        EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), line), run.lines.end())
            << line << "\n"
            << run.Text();
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_EQ(run.lines[run.lines.size() - 2], "close 202 Cancel");
}

TEST_F(SyslogDialog, EachCheckInItsOrderWithTheFocusOnTheFieldToCorrect) {
    Put("Taken", Instance("Taken", "10.0.0.1", "x", 514));
    const std::string tooLong(253, 'n');
    struct Case {
        Lines fields;
        std::string box;
        std::string focus;
    };
    const std::string port = "Invalid value - The 'Port' field must be within 1 and 65534.";
    const std::string illegal =
        "The 'Display name' has illegal filename characters in it.\\nPlease remove all illegal "
        "characters and try again.\\n\\nNOTE: Illegal characters are as follows * : ? < > | / "
        "\\\\ \\\" [ ]";
    const Case cases[] = {
        {Fill("A", "0", "10.0.0.1", "m"), port, "203"},
        {Fill("A", "65535", "10.0.0.1", "m"), port, "203"},
        {Concat(Fill("A", "1", "10.0.0.1", "m"), {"paste 203 -5"}), port, "203"},
        {Fill("", "514", "", ""), "Invalid value - The 'Name' field must have a value.", "201"},
        {Fill("a/b", "514", "", ""), illegal, "201"},
        {Fill("x]y", "514", "", ""), illegal, "201"},
        {Fill(tooLong, "514", "", ""),
         "The 'Display name' is too long: it may hold at most 252 characters.", "201"},
        {Fill("Taken", "514", "", ""), "Instance name already exists.  Please choose another name.",
         "201"},
        {Fill("A", "514", "", "m"), "Invalid value - The 'Address' field must have a value.",
         "206"},
        {Fill("A", "514", "router-7", "m"),
         "Invalid value - The 'Address' field must contain a valid IP address.", "206"},
        {Fill("A", "514", "255.255.255.255", "m"),
         "Invalid value - The 'Address' field must contain a valid IP address.", "206"},
        {Fill("A", "514", "10.0.0.1", ""), "Invalid value - The 'Message' field must have a value.",
         "205"},
    };
    for (const Case& c : cases) {
        testkit::DialogRun run = Dialog("new SysLog", Concat(c.fields, {"click 1", "answer OK"}));
        Lines tail = After(run, "box ");
        ASSERT_GE(tail.size(), 2u) << run.Text();
        EXPECT_EQ(*std::find_if(run.lines.begin(), run.lines.end(),
                                [](const std::string& l) { return l.rfind("box ", 0) == 0; }),
                  "box \"tellumo\" \"" + c.box + "\"")
            << run.Text();
        EXPECT_EQ(tail[0], "answer OK");
        EXPECT_EQ(tail[1], "focus " + c.focus) << run.Text();
        EXPECT_EQ(run.lines.back(), "result 0x80004005"); // cancelled at the end of the script
    }
    EXPECT_EQ(testkit::Listing(notify), Lines{"Taken"});
}

TEST_F(SyslogDialog, TheLongestNameAndAMessageOfBlanksAreAccepted) {
    const std::string longest(252, 'n');
    testkit::DialogRun run =
        Dialog("new SysLog", Concat(Fill(longest, "65534", "10.0.0.1", "   "), {"click 1"}));
    ASSERT_EQ(run.status, 0) << run.Text();
    EXPECT_EQ(File(longest), Instance(longest, "10.0.0.1", "   ", 65534));
}

TEST_F(SyslogDialog, TextsRoundTripThroughTheFileAndBackIntoTheDialog) {
    const std::string message = "Disk 90% full on %H & <hot> + \\\"q\\\" caf\xC3\xA9";
    testkit::DialogRun made =
        Dialog("new SysLog", Concat(Fill("A&B 50%", "514", "10.0.0.1", message), {"click 1"}));
    ASSERT_EQ(made.status, 0) << made.Text();
    // The file holds the text in the code page; the dialog shows it as it was typed.
    EXPECT_EQ(File("A&B 50%"),
              Instance("A&B 50%", "10.0.0.1", "Disk 90% full on %H & <hot> + \"q\" caf\xE9", 514));
    testkit::DialogRun edit = Dialog("edit SysLog --name 'A&B 50%'", {"dump", "click 1"});
    ASSERT_EQ(edit.status, 0) << edit.Text();
    EXPECT_NE(
        std::find(edit.lines.begin(), edit.lines.end(), "control 205 edit \"" + message + "\""),
        edit.lines.end())
        << edit.Text();
    EXPECT_EQ(edit.lines.back(), "result 0x00000000 name \"A&B 50%\"");
}

TEST_F(SyslogDialog, EditingKeepsOrRenamesAndTheOldFileStays) {
    Put("Lobby", Instance("Lobby", "10.0.0.1", "old", 514));
    testkit::DialogRun same = Dialog("edit SysLog --name Lobby", {"type 205 new", "click 1"});
    ASSERT_EQ(same.status, 0) << same.Text();
    EXPECT_EQ(same.lines.front(), "open 202 \"Edit Syslog Notification\"");
    EXPECT_EQ(File("Lobby"), Instance("Lobby", "10.0.0.1", "new", 514));

    testkit::DialogRun renamed = Dialog("edit SysLog --name Lobby", {"type 201 Hall", "click 1"});
    ASSERT_EQ(renamed.status, 0) << renamed.Text();
    EXPECT_EQ(renamed.lines.back(), "result 0x00000000 name \"Hall\"");
    EXPECT_EQ(File("Hall"), Instance("Hall", "10.0.0.1", "new", 514));
    EXPECT_EQ(File("Lobby"), Instance("Lobby", "10.0.0.1", "new", 514));
}

TEST_F(SyslogDialog, AnEditKeepsTheKeysTheDialogDoesNotShowAlsoUnderANewName) {
    const std::string keys = "Format=rfc5424\r\nFacility=local3\r\nSeverity=alert\r\n"
                             "Tag=alarms\r\nTransport=tls\r\nCAFile=Z:\\etc\\ca %&+\"<\xE9.pem\r\n"
                             "ServerName=logs.example\r\nVerify=no\r\n";
    Put("Lobby", Instance("Lobby", "10.0.0.1", "old", 514) + keys);
    testkit::DialogRun same = Dialog("edit SysLog --name Lobby", {"type 205 new", "click 1"});
    ASSERT_EQ(same.status, 0) << same.Text();
    EXPECT_EQ(File("Lobby"), Instance("Lobby", "10.0.0.1", "new", 514) + keys);

    testkit::DialogRun renamed =
        Dialog("edit SysLog --name Lobby", {"type 201 Hall", "type 203 1514", "click 1"});
    ASSERT_EQ(renamed.status, 0) << renamed.Text();
    EXPECT_EQ(File("Hall"), Instance("Hall", "10.0.0.1", "new", 1514) + keys);
    EXPECT_EQ(File("Lobby"), Instance("Lobby", "10.0.0.1", "new", 514) + keys);

    // A new instance starts without them.
    testkit::DialogRun created =
        Dialog("new SysLog", Concat(Fill("Fresh", "514", "10.0.0.2", "m"), {"click 1"}));
    ASSERT_EQ(created.status, 0) << created.Text();
    EXPECT_EQ(File("Fresh"), Instance("Fresh", "10.0.0.2", "m", 514));
}

TEST_F(SyslogDialog, OkRightAfterOpeningChecksWhatWasLoaded) {
    // Filling the fields at opening counts as a change, so a stored value that the dialog
    // would refuse is refused here too.
    Put("Lobby", Instance("Lobby", "10.0.0.1", "old", 0));
    testkit::DialogRun run = Dialog("edit SysLog --name Lobby", {"click 1", "answer OK"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(),
                        "box \"tellumo\" \"Invalid value - The 'Port' field must be within 1 "
                        "and 65534.\""),
              run.lines.end())
        << run.Text();
    EXPECT_EQ(File("Lobby"), Instance("Lobby", "10.0.0.1", "old", 0));
}

TEST_F(SyslogDialog, AnUnreadableInstanceLeavesEmptyFieldsThatOkCannotConfirm) {
    testkit::DialogRun run = Dialog("edit SysLog --name Gone", {"click 1", "answer OK", "click 2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, (Lines{
                             "box \"tellumo\" \"Could not read instance data file for this "
                             "SysLog notification.\"",
                             "answer OK (default)",
                             "open 202 \"New Syslog Notification\"",
                             "focus 201",
                             "box \"tellumo\" \"Please enter an integer.\"",
                             "answer OK",
                             "focus 203",
                             "close 202 Cancel",
                             "result 0x80004005",
                         }))
        << run.Text();
}

TEST_F(SyslogDialog, AFailedSaveSaysSoAndStaysOpen) {
    // A folder where the file should be: the edited name is kept, so nothing refuses it
    // before the save, and the save cannot replace a folder.
    std::filesystem::create_directories(notify / "Box");
    testkit::DialogRun run =
        Dialog("edit SysLog --name Box",
               Concat(Fill("Box", "514", "10.0.0.1", "m"), {"click 1", "answer OK", "dump"}));
    EXPECT_EQ(run.status, 1) << run.Text();
    Lines tail = After(run, "box \"tellumo\" \"Error saving instance file.\"");
    ASSERT_GE(tail.size(), 3u) << run.Text();
    EXPECT_EQ(tail[0], "answer OK");
    EXPECT_EQ(tail[1], "focus 1");
    EXPECT_EQ(tail[2], "control - static \"&Display name:\""); // still open
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_TRUE(std::filesystem::is_directory(notify / "Box"));
}

TEST_F(SyslogDialog, CancelWritesNothing) {
    testkit::DialogRun run =
        Dialog("new SysLog", Concat(Fill("Router", "514", "10.0.0.1", "m"), {"click 2"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
    EXPECT_TRUE(testkit::Listing(notify).empty());
}

TEST_F(SyslogDialog, HelpOpensTheTopicAndShiftCtrlShowsItsNumberFirst) {
    testkit::DialogRun run =
        Dialog("new SysLog", {"click 9", "keys shift+ctrl", "click 9", "answer OK", "click 2"});
    // The transcript escapes the backslashes of the path.
    std::string escaped;
    for (char c : testkit::ZPath(testkit::BuildDir() / "plugins") + "\\Tellumo.chm")
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(run.lines, (Lines{
                             "open 202 \"New Syslog Notification\"",
                             "focus 201",
                             "help \"" + escaped + "\" context 999222",
                             "help-window yes",
                             "box \"\" \"Help system is being called with ID: 999222\"",
                             "answer OK",
                             "help \"" + escaped + "\" context 999222",
                             "help-window yes",
                             "focus 9",
                             "close 202 Cancel",
                             "result 0x80004005",
                         }))
        << run.Text();
}

TEST_F(SyslogDialog, ScriptErrorsNameTheLineAndExit2) {
    struct Case {
        Lines script;
        std::string error;
    };
    const Case cases[] = {
        {{"# comment", "", "frobnicate 1"}, "line 3: unknown action \"frobnicate\""},
        {{"type 999 x"}, "line 1: the window has no control 999"},
        {{"answer OK"}, "line 1: no message box is open"},
        {{"click 201"}, "line 1: control 201 is not a button"},
        {{"window 555"}, "line 1: no open window was made from template 555"},
    };
    for (const Case& c : cases) {
        testkit::DialogRun run = Dialog("new SysLog", c.script);
        EXPECT_EQ(run.status, 2) << run.Text();
        EXPECT_EQ(run.err, "sentrel: " + c.error + "\n");
        EXPECT_EQ(run.lines.back(), "result 0x80004005");
    }
}

} // namespace
