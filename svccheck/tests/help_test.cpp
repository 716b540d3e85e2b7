// ShowHelp: the help file beside the module, the diagnostic box, the fallback to the
// contents and the error box, as the operator sees them.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/service_check.h>
#include <winplat/comptr.h>
#include <winplat/htmlhelp.h>
#include <winplat/ui_operator.h>
#include <winplat/winbase.h>

#include "registry_probe.h"
#include "testkit.h"

namespace ui = winplat::ui;

namespace {

constexpr CLSID kClsid = {
    0x87B0F902, 0xCF8A, 0x11D2, {0x9C, 0xC8, 0x00, 0x40, 0x05, 0x3D, 0xDA, 0x73}};

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
        std::string what = command == HH_HELP_CONTEXT    ? "context " + std::to_string(data)
                           : command == HH_DISPLAY_TOPIC ? "topic " + std::to_string(data)
                                                         : "command " + std::to_string(command);
        events.push_back("help " + path + " " + what + (shown ? " yes" : " no"));
    }
    bool OnIdle() override { return ui::Answer(IDOK).empty(); }

private:
    ui::Observer* m_previous = nullptr;
};

winplat::ComPtr<ISentrelSvcObj> CreateFrom(HMODULE hModule) {
    auto pfn = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(hModule, "DllGetClassObject"));
    winplat::ComPtr<IClassFactory> factory;
    winplat::ComPtr<ISentrelSvcObj> plugin;
    if (pfn && pfn(kClsid, IID_IClassFactory, factory.PutVoid()) == S_OK)
        factory->CreateInstance(nullptr, IID_ISentrelSvcObj, plugin.PutVoid());
    return plugin;
}

std::string HelpFileOf(HMODULE hModule) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(hModule, path, sizeof path);
    std::string help = path;
    return help.substr(0, help.rfind('.')) + ".chm";
}

class ProwletHelp : public testkit::PluginModuleTest {
protected:
    ProwletHelp() : PluginModuleTest("prowlet") {}
    void TearDown() override {
        HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0);
        PluginModuleTest::TearDown();
    }
};

TEST_F(ProwletHelp, OpensTheTopicOfTheContextInTheHelpFileBesideTheModule) {
    winplat::ComPtr<ISentrelSvcObj> plugin = CreateFrom(m_module);
    ASSERT_TRUE(plugin);
    std::string help = HelpFileOf(m_module);
    ASSERT_EQ(help.substr(help.size() - 12), "\\prowlet.chm");
    Recorder rec;
    EXPECT_EQ(plugin->ShowHelp(132075), S_OK);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"help " + help + " context 132075 yes"}));
}

TEST_F(ProwletHelp, AnUnknownContextFallsBackToTheContents) {
    winplat::ComPtr<ISentrelSvcObj> plugin = CreateFrom(m_module);
    std::string help = HelpFileOf(m_module);
    Recorder rec;
    EXPECT_EQ(plugin->ShowHelp(7), S_OK);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"help " + help + " context 7 no",
                                                    "help " + help + " topic 0 yes"}));
}

TEST_F(ProwletHelp, ShiftAndCtrlShowTheIdFirst) {
    winplat::ComPtr<ISentrelSvcObj> plugin = CreateFrom(m_module);
    std::string help = HelpFileOf(m_module);
    {
        Recorder rec;
        ui::HoldKeys(true, true);
        EXPECT_EQ(plugin->ShowHelp(131201), S_OK);
        EXPECT_EQ(rec.events,
                  (std::vector<std::string>{"box [] Help system is being called with ID: 131201",
                                            "help " + help + " context 131201 yes"}));
    }
    Recorder rec;
    ui::HoldKeys(true, false);
    EXPECT_EQ(plugin->ShowHelp(131201), S_OK);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"help " + help + " context 131201 yes"}));
}

// A copy of the module in a folder without its help file.
TEST_F(ProwletHelp, WithoutTheHelpFileTheErrorBoxNamesIt) {
    testkit::TempDir dir;
    std::filesystem::copy_file(testkit::PluginPath("prowlet"), dir / "prowlet.so");
    HMODULE hCopy = LoadLibraryA(testkit::ZPath(dir / "prowlet.so").c_str());
    ASSERT_NE(hCopy, nullptr);
    {
        winplat::ComPtr<ISentrelSvcObj> plugin = CreateFrom(hCopy);
        ASSERT_TRUE(plugin);
        std::string help = dir.ZPath() + "\\prowlet.chm";
        Recorder rec;
        EXPECT_EQ(plugin->ShowHelp(132075), S_OK);
        EXPECT_EQ(rec.events,
                  (std::vector<std::string>{
                      "help " + help + " context 132075 no", "help " + help + " topic 0 no",
                      "box [Help File Load Error] ERROR: Could not load the help file " + help +
                          ".\r\n\r\nProbable causes are that the file does not exists or the HTML "
                          "Help support system is not installed on the computer."}));
    }
    FreeLibrary(hCopy);
}

} // namespace
