// The speech settings dialog, played by an operator through "sentrel dialog".
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_host.h"

namespace {

using Lines = std::vector<std::string>;

class SpeechDialog : public testkit::DialogHostTest {
protected:
    SpeechDialog() : DialogHostTest("parlanza") {}

    // An instance file as the plug-in writes it.
    static std::string Instance(const std::string& name, int rate, int volume,
                                const Lines& message) {
        std::string text = "[TextSpeech\\" + name +
                           "]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\nSpeakRate=" +
                           std::to_string(rate) + "\r\nVolumnRate=" + std::to_string(volume) +
                           "\r\n";
        for (size_t i = 0; i < message.size(); ++i)
            text += "Message" + std::to_string(i + 1) + "=" + message[i] + "\r\n";
        return text + "NO_OF_MESSAGE_LINES=" + std::to_string(message.size()) + "\r\n";
    }
    void Put(const std::string& name, const std::string& body) {
        testkit::WriteFile(notify / name, body);
    }
    static bool Has(const testkit::DialogRun& run, const std::string& line) {
        return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
    }
    // The line that follows the first one equal to line.
    static std::string Next(const testkit::DialogRun& run, const std::string& line, size_t n = 1) {
        auto it = std::find(run.lines.begin(), run.lines.end(), line);
        if (it == run.lines.end() || run.lines.end() - it <= static_cast<long>(n))
            return "<none>";
        return *(it + static_cast<long>(n));
    }
};

TEST_F(SpeechDialog, ANewInstanceWithoutDefaultOpensAtNormalRateFullVolumeAndLogsWhy) {
    testkit::DialogRun run = Dialog("new TextSpeech", {"dump"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        Lines(run.lines.begin(), run.lines.begin() + 5),
        (Lines{"log \"Default TextSpeech\"", "log \" - Failed to load notification from disk.\"",
               "log \"\\r\\n\"", "open 103 \"New 'Text To Speech' Notification\"", "focus 202"}))
        << run.Text();
    EXPECT_TRUE(Has(run, "control 201 slider \"\" pos 0 range -10 10")) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 slider \"\" pos 100 range 0 100")) << run.Text();
    EXPECT_TRUE(Has(run, "control 204 edit \"0\""));
    EXPECT_TRUE(Has(run, "control 205 edit \"100\""));
    EXPECT_TRUE(Has(run, "control 207 edit \"\""));
}

TEST_F(SpeechDialog, TheDefaultInstancePresetsSlidersAndMessage) {
    Put("Default", Instance("Default", 3, 40, {"Line one", "Line two"}));
    testkit::DialogRun run = Dialog("new TextSpeech", {"dump"});
    EXPECT_FALSE(Has(run, "log \"Default TextSpeech\""));
    EXPECT_TRUE(Has(run, "control 202 edit \"\""));
    EXPECT_TRUE(Has(run, "control 201 slider \"\" pos 3 range -10 10")) << run.Text();
    EXPECT_TRUE(Has(run, "control 203 slider \"\" pos 40 range 0 100")) << run.Text();
    EXPECT_TRUE(Has(run, "control 207 edit \"Line one\\r\\nLine two\"")) << run.Text();
}

TEST_F(SpeechDialog, SlidersShowTheirValueAtOnceAndTypedNumbersAreWhatIsSaved) {
    testkit::DialogRun run = Dialog(
        "new TextSpeech", {"type 202 Lobby", "slide 203 100", "slide 203 0", "slide 201 -4", "dump",
                           "type 204 50", "dump", "type 207 Hello\\nWorld", "click 1"});
    ASSERT_EQ(run.status, 0) << run.Text();
    // The first dump: each edit follows its slider.
    EXPECT_EQ(Next(run, "control - static \"Speak &Rate:\"", 2), "control 204 edit \"-4\"");
    EXPECT_EQ(Next(run, "control - static \"&Volume:\"", 2), "control 205 edit \"0\"");
    // The second: typing a number does not move the slider.
    EXPECT_TRUE(Has(run, "control 204 edit \"50\""));
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(),
                         "control 201 slider \"\" pos -4 range -10 10"),
              2);
    EXPECT_EQ(File("Lobby"), Instance("Lobby", 50, 0, {"Hello", "World"}));
    EXPECT_EQ(run.lines.back(), "result 0x00000000 name \"Lobby\"");
}

TEST_F(SpeechDialog, EachNameCheckWithItsBoxAndTheFocusOnTheName) {
    Put("Taken", Instance("Taken", 0, 100, {"x"}));
    struct Case {
        std::string name;
        std::string box;
    };
    const Case cases[] = {
        {"", "box \"Error\" \"Invalid value - The 'Display Name' field must have a value\""},
        {"a/b",
         "box \"parlanza\" \"The 'Display name' has illegal filename characters in it.\\nPlease "
         "remove all illegal characters and try again.\\n\\nNOTE: Illegal characters are as "
         "follows * : ? < > | / \\\\ \\\" [ ]\""},
        {std::string(249, 'n'),
         "box \"Error\" \"The 'Display Name' is too long: it may hold at most 248 characters.\""},
        {"Taken", "box \"Invalid Instance Name\" \"Instance name already exists.  Please choose "
                  "another name\""},
    };
    for (const Case& c : cases) {
        testkit::DialogRun run =
            Dialog("new TextSpeech", {"type 202 " + c.name, "click 1", "answer OK"});
        EXPECT_TRUE(Has(run, c.box)) << run.Text();
        EXPECT_EQ(Next(run, c.box, 2), "focus 202") << run.Text();
        EXPECT_EQ(run.lines.back(), "result 0x80004005");
    }
    EXPECT_EQ(testkit::Listing(notify), Lines{"Taken"});
}

TEST_F(SpeechDialog, ARateThatIsNoWholeNumberGetsTheIntegerPromptAndSavesNothing) {
    testkit::DialogRun run =
        Dialog("new TextSpeech", {"type 202 Lobby", "type 204 fast", "click 1", "answer OK"});
    EXPECT_TRUE(Has(run, "box \"parlanza\" \"Please enter an integer.\"")) << run.Text();
    EXPECT_EQ(Next(run, "box \"parlanza\" \"Please enter an integer.\"", 2), "focus 204");
    EXPECT_TRUE(testkit::Listing(notify).empty());
}

TEST_F(SpeechDialog, EditingUnchangedOverwritesRenamingKeepsTheOldFile) {
    Put("Lobby", Instance("Lobby", 2, 60, {"Fire in %H", "Leave now & <quick>"}));
    testkit::DialogRun same = Dialog("edit TextSpeech --name Lobby", {"dump", "click 1"});
    ASSERT_EQ(same.status, 0) << same.Text();
    EXPECT_EQ(same.lines.front(), "open 103 \"Edit 'Text To Speech' Notification\"");
    EXPECT_TRUE(Has(same, "control 207 edit \"Fire in %H\\r\\nLeave now & <quick>\""));
    EXPECT_EQ(File("Lobby"), Instance("Lobby", 2, 60, {"Fire in %H", "Leave now & <quick>"}));

    // A name differing only in letter case is a new name; this file system keeps both.
    testkit::DialogRun renamed =
        Dialog("edit TextSpeech --name Lobby", {"type 202 lobby", "click 1"});
    ASSERT_EQ(renamed.status, 0) << renamed.Text();
    EXPECT_EQ(renamed.lines.back(), "result 0x00000000 name \"lobby\"");
    EXPECT_EQ(File("lobby"), Instance("lobby", 2, 60, {"Fire in %H", "Leave now & <quick>"}));
    EXPECT_EQ(testkit::Listing(notify), (Lines{"Lobby", "lobby"}));
}

TEST_F(SpeechDialog, AnUnreadableInstanceIsLoggedAndShownAndTheTitleStaysEmpty) {
    testkit::DialogRun run = Dialog("edit TextSpeech --name Gone", {"dump"});
    std::string escaped;
    for (char c : notifyZ + "\\Gone")
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(Lines(run.lines.begin(), run.lines.begin() + 7),
              (Lines{"log \"" + escaped + "\"", "log \" - Failed to load notification from disk.\"",
                     "log \"\\r\\n\"", "box \"Error\" \"Error loading the instance file\"",
                     "answer OK (default)", "open 103 \"\"", "focus 202"}))
        << run.Text();
    EXPECT_TRUE(Has(run, "control 202 edit \"Gone\""));
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
}

TEST_F(SpeechDialog, AFailedSaveSaysSoAndStaysOpen) {
    // A folder where nobody, not even root, creates files.
    testkit::DialogRun run =
        Dialog("new TextSpeech", {"type 202 Lobby", "click 1", "answer OK", "dump"}, "/proc");
    EXPECT_TRUE(Has(run, "box \"Error\" \"Error saving instance file\"")) << run.Text();
    EXPECT_EQ(Next(run, "box \"Error\" \"Error saving instance file\"", 3),
              "control - static \"Display &Name:\"");
    EXPECT_EQ(run.lines.back(), "result 0x80004005");
}

TEST_F(SpeechDialog, HelpOpensItsTopic) {
    testkit::DialogRun run = Dialog("new TextSpeech", {"click 9"});
    std::string escaped;
    for (char c : testkit::ZPath(testkit::BuildDir() / "plugins") + "\\Parlanza.chm")
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_TRUE(Has(run, "help \"" + escaped + "\" context 222333")) << run.Text();
    EXPECT_EQ(Next(run, "help \"" + escaped + "\" context 222333"), "help-window yes");
}

} // namespace
