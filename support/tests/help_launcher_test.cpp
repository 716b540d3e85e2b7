// The help launcher: where it looks for the help file, what it asks the viewer, and the
// message boxes the operator sees.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/htmlhelp.h>
#include <winplat/ui_operator.h>
#include <winplat/winreg.h>

#include "help_launcher.h"
#include "testkit.h"

namespace ui = winplat::ui;

namespace {

// Writes down boxes and help requests; answers each box with OK.
class Recorder : public ui::Observer {
public:
    Recorder() { m_previous = ui::SetObserver(this); }
    ~Recorder() override {
        ui::SetObserver(m_previous);
        ui::HoldKeys(false, false);
    }
    std::vector<std::string> events;
    void OnBox(const std::string& caption, const std::string& text, UINT) override {
        events.push_back("box [" + caption + "] " + text);
    }
    void OnHelp(const std::string& path, UINT command, DWORD_PTR data, bool shown) override {
        std::string what = command == HH_HELP_CONTEXT ? "context " + std::to_string(data)
                                                      : std::string("contents");
        events.push_back("help " + path + " " + what + (shown ? " yes" : " no"));
    }
    bool OnIdle() override { return ui::Answer(IDOK).empty(); }

private:
    ui::Observer* m_previous = nullptr;
};

std::string ErrorText(const std::string& path) {
    return "box [Help File Load Error] ERROR: Could not load the help file " + path +
           ".\r\n\r\nProbable causes are that the file does not exists or the HTML Help "
           "support system is not installed on the computer.  (The HTML Help support system is "
           "available with IE4 and above.)";
}

class HelpLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        // An installation folder holding a help file with one topic.
        std::filesystem::create_directories(install / "Tellumo.chm");
        testkit::WriteFile(install / "Tellumo.chm" / "index.htm", "<html>contents</html>");
        testkit::WriteFile(install / "Tellumo.chm" / "settings.htm", "<html>settings</html>");
        testkit::WriteFile(install / "Tellumo.chm" / "context.map", "# map\n999222 settings.htm\n");
        installZ = testkit::ZPath(install.path());
    }
    void TearDown() override { HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0); }

    void SetInstallDir(const std::string& dir) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(hKey, "INSTALLDIR", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                       static_cast<DWORD>(dir.size() + 1));
        RegCloseKey(hKey);
    }
    void RegisterViewer() {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\" HH_CONTROL_CLSID_TEXT, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);
    }

    testkit::ScopedRegistry registry;
    testkit::TempDir install;
    std::string installZ;
};

TEST_F(HelpLauncherTest, BareNameIsLookedForInTheInstallationFolder) {
    SetInstallDir(installZ);
    RegisterViewer();
    Recorder rec;
    LaunchHelp(nullptr, "Tellumo.chm", 999222);
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"help " + installZ + "\\Tellumo.chm context 999222 yes"}));
}

TEST_F(HelpLauncherTest, ShiftAndCtrlTogetherShowTheContextFirst) {
    SetInstallDir(installZ);
    RegisterViewer();
    {
        Recorder rec;
        ui::HoldKeys(true, true);
        LaunchHelp(nullptr, "Tellumo.chm", 999222);
        EXPECT_EQ(rec.events, (std::vector<std::string>{
                                  "box [] Help system is being called with ID: 999222",
                                  "help " + installZ + "\\Tellumo.chm context 999222 yes"}));
    }
    for (auto [shift, ctrl] : {std::pair{true, false}, std::pair{false, true}}) {
        Recorder rec;
        ui::HoldKeys(shift, ctrl);
        LaunchHelp(nullptr, "Tellumo.chm", 999222);
        ASSERT_EQ(rec.events.size(), 1u);
        EXPECT_EQ(rec.events[0].rfind("help ", 0), 0u);
    }
}

TEST_F(HelpLauncherTest, AnEmptyNameDoesNothingEvenWithTheDiagnosticKeys) {
    RegisterViewer();
    Recorder rec;
    ui::HoldKeys(true, true);
    LaunchHelp(nullptr, "", 999222);
    LaunchHelp(nullptr, nullptr, 999222);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(HelpLauncherTest, WithoutTheHostsKeyTheBareNameStaysAndTheErrorNamesIt) {
    RegisterViewer();
    Recorder rec;
    LaunchHelp(nullptr, "Tellumo.chm", 999222);
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"help Tellumo.chm context 999222 no",
                                        "help Tellumo.chm contents no", ErrorText("Tellumo.chm")}));
}

TEST_F(HelpLauncherTest, ANameWithAFolderIsUsedAsItIs) {
    SetInstallDir("Z:\\nowhere");
    RegisterViewer();
    Recorder rec;
    std::string path = installZ + "\\Tellumo.chm";
    LaunchHelp(nullptr, path.c_str(), 999222);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"help " + path + " context 999222 yes"}));
}

TEST_F(HelpLauncherTest, WithoutTheViewerTheErrorBoxComesAtOnce) {
    SetInstallDir(installZ);
    Recorder rec;
    LaunchHelp(nullptr, "Tellumo.chm", 999222);
    EXPECT_EQ(rec.events, (std::vector<std::string>{ErrorText(installZ + "\\Tellumo.chm")}));
}

TEST_F(HelpLauncherTest, AnUnknownTopicFallsBackToTheContents) {
    SetInstallDir(installZ);
    RegisterViewer();
    Recorder rec;
    LaunchHelp(nullptr, "Tellumo.chm", 4242);
    std::string path = installZ + "\\Tellumo.chm";
    EXPECT_EQ(rec.events, (std::vector<std::string>{"help " + path + " context 4242 no",
                                                    "help " + path + " contents yes"}));
}

TEST_F(HelpLauncherTest, ContextZeroAsksForTheContentsOnce) {
    SetInstallDir(installZ);
    RegisterViewer();
    Recorder rec;
    LaunchHelp(nullptr, "Missing.chm", 0);
    std::string path = installZ + "\\Missing.chm";
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"help " + path + " contents no", ErrorText(path)}));
}

TEST_F(HelpLauncherTest, AConfiguredViewerIsGivenThePage) {
    SetInstallDir(installZ);
    RegisterViewer();
    // A viewer that writes down what it was asked to show.
    testkit::TempDir out;
    std::string log = (out / "viewer.log").string();
    testkit::WriteFile(out / "viewer.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log + "'\n");
    std::filesystem::permissions(out / "viewer.sh", std::filesystem::perms::owner_all);
    setenv("SENTREL_HELP_VIEWER", (out / "viewer.sh").c_str(), 1);
    Recorder rec;
    LaunchHelp(nullptr, "Tellumo.chm", 999222);
    unsetenv("SENTREL_HELP_VIEWER");
    // The viewer runs in the background: wait for its line.
    for (int i = 0; i < 200 && testkit::ReadFile(log).empty(); ++i)
        usleep(10000);
    EXPECT_EQ(testkit::ReadFile(log), (install / "Tellumo.chm" / "settings.htm").string() + "\n");
}

} // namespace
