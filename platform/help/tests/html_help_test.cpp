// The help viewer finds pages only inside the help folder it is given.
#include <string>

#include <gtest/gtest.h>

#include <winplat/htmlhelp.h>

#include "testkit.h"

namespace {

class HtmlHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "Test.chm");
        testkit::WriteFile(dir / "secret.htm", "outside");
        testkit::WriteFile(dir / "Test.chm" / "index.htm", "contents");
        testkit::WriteFile(dir / "Test.chm" / "a.htm", "topic a");
        testkit::WriteFile(dir / "Test.chm" / "context.map",
                           "# number page\r\n10 a.htm\r\n11 ../secret.htm\r\n12 missing.htm\r\n"
                           "13 \\secret.htm\r\nbad line\r\n");
        file = testkit::ZPath(dir.path()) + "\\Test.chm";
    }
    void TearDown() override { HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0); }
    testkit::TempDir dir;
    std::string file;
};

TEST_F(HtmlHelpTest, ContextsContentsAndTopicsOfTheFolder) {
    struct Case {
        UINT command;
        DWORD_PTR data;
        bool found;
    };
    const Case cases[] = {
        {HH_HELP_CONTEXT, 10, true},
        {HH_HELP_CONTEXT, 11, false},
        {HH_HELP_CONTEXT, 12, false},
        {HH_HELP_CONTEXT, 13, false},
        {HH_HELP_CONTEXT, 99, false},
        {HH_DISPLAY_TOC, 0, true},
        {HH_DISPLAY_TOPIC, reinterpret_cast<DWORD_PTR>("a.htm"), true},
        {HH_DISPLAY_TOPIC, reinterpret_cast<DWORD_PTR>("../secret.htm"), false},
    };
    for (const Case& c : cases) {
        HWND hWnd = HtmlHelpA(nullptr, file.c_str(), c.command, c.data);
        EXPECT_EQ(hWnd != nullptr, c.found) << c.command << " " << c.data;
    }
    // Every request that finds its page answers with the same viewer window.
    EXPECT_EQ(HtmlHelpA(nullptr, file.c_str(), HH_DISPLAY_TOC, 0),
              HtmlHelpA(nullptr, file.c_str(), HH_HELP_CONTEXT, 10));
}

TEST_F(HtmlHelpTest, AFolderWithoutContentsOrAMissingFileIsNoHelpFile) {
    std::filesystem::remove(dir / "Test.chm" / "index.htm");
    EXPECT_EQ(HtmlHelpA(nullptr, file.c_str(), HH_HELP_CONTEXT, 10), nullptr);
    EXPECT_EQ(HtmlHelpA(nullptr, (file + "x").c_str(), HH_DISPLAY_TOC, 0), nullptr);
    EXPECT_EQ(HtmlHelpA(nullptr, nullptr, HH_DISPLAY_TOC, 0), nullptr);
}

} // namespace
