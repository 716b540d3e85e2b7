// sentrel driving Parlanza as a user runs it: the alert is spoken to the end, into the
// spool folder, before the host exits.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testkit.h"
#include "wav.h"

using testkit::CommandResult;
using testkit::ShellQuote;
namespace fs = std::filesystem;

namespace {

class SentrelParlanza : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Run("init").status, 0);
        CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("parlanza").string()));
        ASSERT_EQ(reg.status, 0) << reg.err;
        ASSERT_EQ(reg.out, "0x00000000\n");
    }
    CommandResult Run(const std::string& args) {
        return testkit::RunCommand(
            "SENTREL_SPEECH_OUTPUT=spool SENTREL_SPEECH_SPOOL=" + ShellQuote(spool.string()) + " " +
            testkit::HostPath().string() + " --registry " +
            ShellQuote((dir / "registry.reg").string()) + " " + args);
    }
    std::string Instance(const std::string& name, const std::string& body) {
        testkit::WriteFile(dir / name, "[TextSpeech\\" + name +
                                           "]\r\nCLSID={44440FAF-3359-11D5-8075-00E0295E9283}\r\n" +
                                           body);
        return (dir / name).string();
    }
    std::vector<fs::path> Wavs() const {
        std::vector<fs::path> files;
        if (fs::exists(spool))
            for (const auto& e : fs::directory_iterator(spool))
                files.push_back(e.path());
        return files;
    }

    testkit::TempDir dir;
    fs::path spool = dir / "speech";
};

TEST_F(SentrelParlanza, ListsTheTextSpeechType) {
    CommandResult types = Run("types");
    ASSERT_EQ(types.status, 0) << types.err;
    EXPECT_EQ(types.out, "TextSpeech\tTextSpeech\t{44440FAF-3359-11D5-8075-00E0295E9283}\tText To "
                         "Speech Notification\n");
}

TEST_F(SentrelParlanza, NotifySpeaksTheWholeAlertBeforeItExits) {
    std::string path =
        Instance("Front desk", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=%H is "
                               "down\r\nMessage2=since %T\r\nNO_OF_MESSAGE_LINES=2\r\n");
    CommandResult r = Run("notify TextSpeech " + ShellQuote(path) +
                          " --var H=printer-7 --var T='nine o clock this morning'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string z = testkit::ZPath(path);
    EXPECT_EQ(r.out, z + " - Preparing to Speak\r\n" + z + " - Speaking has completed\r\n");
    // Releasing the voice drops what it has not spoken: a complete file proves the wait.
    std::vector<fs::path> files = Wavs();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(r.err, "sentrel: the alert was spoken into the WAV file " + files[0].string() + "\n");
    EXPECT_EQ(files[0].extension(), ".wav");
    testkit::Wav wav = testkit::ReadWav(files[0]);
    EXPECT_GT(wav.Seconds(), 2.0);
    EXPECT_GT(wav.Peak(), 8000);
}

TEST_F(SentrelParlanza, FailedExpansionExitsOneAndSpeaksNothing) {
    std::string path = Instance(
        "Alpha", "SpeakRate=0\r\nVolumnRate=100\r\nMessage1=%H\r\nNO_OF_MESSAGE_LINES=1\r\n");
    CommandResult r = Run("notify TextSpeech " + ShellQuote(path) + " --expand-fails");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, testkit::ZPath(path) + " - Preparing to Speak\r\n");
    EXPECT_EQ(r.err, "0x80004005\n");
    EXPECT_TRUE(Wavs().empty());
}

TEST_F(SentrelParlanza, AMissingInstanceIsLoggedAndNothingIsSpoken) {
    CommandResult r = Run("notify TextSpeech " + ShellQuote((dir / "missing").string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              testkit::ZPath(dir / "missing") + " - Failed to load notification from disk.\r\n");
    EXPECT_TRUE(Wavs().empty());
}

TEST_F(SentrelParlanza, WithoutEspeakInitializeFailsWithTheFatalText) {
    CommandResult r = testkit::RunCommand(
        "SENTREL_ESPEAK_LIBRARY=/nonexistent/libespeak-ng.so.1 " + testkit::HostPath().string() +
        " --registry " + ShellQuote((dir / "registry.reg").string()) + " notify TextSpeech " +
        ShellQuote((dir / "missing").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("CfgErr:  The Text To Speech notification plugin cannot connect", 0), 0u)
        << r.out;
    EXPECT_NE(r.err.find("0x80004005"), std::string::npos) << r.err;
}

} // namespace
