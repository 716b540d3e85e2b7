// TTSNotification's web pages, byte for byte, and the forms posted back from them, on real
// files: the new page preset from the Default instance, the edit page, and the mends to
// what the pages insert and the forms may write.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/sapi.h>

#include "html_page.h"
#include "recording_host.h"
#include "testkit.h"
#include "tts_notification.h"

namespace fs = std::filesystem;
using testkit::RecordingHost;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

// The page fragments as the web configuration fixes them.
const std::string kR =
    "<TR><TD>Speak Rate</TD><TD><input size=10 maxlength=10\tname=speakrate value=\"%s\">  "
    "%s</TD></TR>";

const std::string kV =
    "<TR><TD>Volume </TD><TD><input size=10 maxlength=10\t\t\t\tname=volumerate   value=\"%s\">"
    "  %s</TD></TR>";

const std::string kM =
    "<tr><td>Speech Message:</td><td><textarea name=message cols=40 rows=8 >%s</textarea></td>"
    "</tr>\r\n";

const std::string kNew3 =
    "</td><td align=right><A href=\"h_edtnotTTS.htm\" target=_NEW>Help</A></td></tr></table>"
    "</TH></TR>";

const std::string kNew4 =
    "<TR><TD WIDTH=\"98%\" VALIGN=top><TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 "
    "CELLSPACING=2 BGCOLOR=\"#c0c0c0\"><FORM method=\"post\" ACTION=\"_maincfgret.cgi\"> "
    "<input type=\"hidden\" name=\"page\" value=\"notify\"><input type=\"hidden\" "
    "name=\"origname\" ><input type=\"hidden\" name=\"action\" value=\"return\"> <input "
    "type=hidden name=type value=\"TextSpeech\"><tr><td>Instance Name:</td><td><input size=40 "
    "maxlength=512\tname=instancename ></td></tr>";

const std::string kNew8 =
    "<TR><TD></TD><TD></TD></TR></TABLE></TD></TR><tr><td ALIGN=right><input type=hidden "
    "name=end value=end><input type=submit value=\"Submit\"></td></tr></FORM></TABLE>";

const std::string kNew9 =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi> <input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi> <input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

const std::string kEdit3 =
    "</td><td align=right><a href=\"h_edtnotTTS.htm\" target=\"_NEW\">Help</a></td></tr>"
    "</table></TH></TR><TR><TD WIDTH=\"98%\" VALIGN=TOP><TABLE WIDTH=\"100%\" BORDER=0 "
    "CELLPADDING=0 CELLSPACING=2 BGCOLOR=\"#C0C0C0\"><FORM method=\"POST\" "
    "ACTION=\"_maincfgret.cgi\"> <input type=\"hidden\" name=\"page\" value=\"notify\">";

const std::string kEdit4 =
    "<input type=\"hidden\" name=\"origname\" value=\"%s\"><input type=\"hidden\" "
    "name=\"action\" value=\"return\">\r\n<input type=hidden name=type value=\"TextSpeech\">"
    "\r\n";

const std::string kEdit5 =
    "<tr><td>Instance Name:</td><td><input type=TEXT DISABLED size=40 maxlength=512 "
    "name=instancename value=\"%s\"></td></tr>\r\n";

const std::string kEdit9 =
    "</table></td></tr><tr><td ALIGN=RIGHT><input type=hidden name=end value=end><input "
    "type=SUBMIT value=\"Submit\"></td></tr></form></table>\r\n";

const std::string kEdit10 =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi><input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi><input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

const std::string kH =
    "<HTML><HEAD><TITLE>Sentrel</TITLE></HEAD><BODY bgcolor=\"#ffffff\"><FONT "
    "COLOR=\"#000000\"><TABLE BORDER=2 CELLPADDING=3 CELLSPACING=0 BGCOLOR=\"#c0c0c0\"><TR><TH "
    "COLSPAN=2 ALIGN=left BGCOLOR=\"#0080c0\"><table width=\"100%\" border=0><tr><td>";

constexpr char kClsid[] = "{44440FAF-3359-11D5-8075-00E0295E9283}";
const std::string kRateHint = "Range is between -10 & 10";
const std::string kVolumeHint = "Range is between 0 & 100";

// A fragment with its placeholders filled in order.
std::string Fill(std::string format, const std::vector<std::string>& values) {
    size_t at = 0;
    for (const std::string& value : values) {
        at = format.find('%', at);
        format.replace(at, 2, value);
        at += value.size();
    }
    return format;
}

std::string NewPage(const std::string& rate, const std::string& volume,
                    const std::string& message) {
    return kH + "New 'Text To Speech' Notification" + kNew3 + kNew4 + Fill(kR, {rate, kRateHint}) +
           Fill(kV, {volume, kVolumeHint}) + Fill(kM, {message}) + kNew8 + kNew9 + kHtmlPageFooter;
}

std::string EditPage(const std::string& name, const std::string& rate, const std::string& volume,
                     const std::string& message) {
    return kH + "Edit 'Text To Speech' Notification" + kEdit3 + Fill(kEdit4, {name}) +
           Fill(kEdit5, {name}) + Fill(kR, {rate, kRateHint}) + Fill(kV, {volume, kVolumeHint}) +
           Fill(kM, {message}) + kEdit9 + kEdit10 + kHtmlPageFooter;
}

std::string SpeechFile(const std::string& name, int rate, int volume,
                       const std::vector<std::string>& lines) {
    std::string file = "[TextSpeech\\" + name + "]\r\nCLSID=" + kClsid +
                       "\r\nSpeakRate=" + std::to_string(rate) +
                       "\r\nVolumnRate=" + std::to_string(volume) + "\r\n";
    for (size_t i = 0; i < lines.size(); ++i)
        file += "Message" + std::to_string(i + 1) + "=" + lines[i] + "\r\n";
    return file + "NO_OF_MESSAGE_LINES=" + std::to_string(lines.size()) + "\r\n";
}

class SpeechWeb : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(sentrel::CreateComponent<TTSNotification>(nullptr, IID_ISentrelNotificationWeb,
                                                            web.PutVoid()),
                  S_OK);
        fs::create_directory(notify);
    }
    void TearDown() override {
        ComPtr<ISentrelNotification> alert;
        web->QueryInterface(IID_ISentrelNotification, alert.PutVoid());
        alert->UnInitialize();
        alert.Reset();
        web.Reset();
        EXPECT_EQ(host.References(), 0u);
        WinplatWaitForSpeech(INFINITE);
        CoUninitialize();
    }
    void Init() {
        ComPtr<ISentrelNotification> alert;
        ASSERT_EQ(web->QueryInterface(IID_ISentrelNotification, alert.PutVoid()), S_OK);
        ASSERT_EQ(alert->Initialize(&host), S_OK);
    }
    std::string Dir() const { return testkit::ZPath(notify); }
    HRESULT New(std::string& page) {
        Bstr dirText(testkit::Utf16(Dir()));
        Bstr html;
        HRESULT hr = web->GetNewPage(dirText.Get(), html.Put());
        page = testkit::Utf8(html.Str());
        return hr;
    }
    HRESULT Edit(const std::string& name, std::string& page) {
        Bstr path(testkit::Utf16(Dir() + "\\" + name));
        Bstr html;
        HRESULT hr = web->GetEditPage(path.Get(), html.Put());
        page = testkit::Utf8(html.Str());
        return hr;
    }
    HRESULT Apply(const std::string& form) {
        Bstr dirText(testkit::Utf16(Dir()));
        Bstr formText(testkit::Utf16(form));
        return web->ApplyPostedForm(dirText.Get(), formText.Get());
    }

    testkit::TempDir dir;
    fs::path notify = dir / "notify";
    RecordingHost host;
    ComPtr<ISentrelNotificationWeb> web;
};

TEST_F(SpeechWeb, NewPageWithoutDefaultHasEmptyFieldsAndLogsIt) {
    Init();
    std::string page;
    ASSERT_EQ(New(page), S_OK);
    EXPECT_EQ(page, NewPage("", "", ""));
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"Default TextSpeech",
                                        " - Failed to load notification from disk.", "\r\n"}));
}

TEST_F(SpeechWeb, NewPageIsPresetFromTheDefaultInstance) {
    testkit::WriteFile(notify / "Default",
                       SpeechFile("Default", -3, 80, {"Front desk", "is down"}));
    std::string page;
    ASSERT_EQ(New(page), S_OK);
    EXPECT_EQ(page, NewPage("-3", "80", "Front desk\r\nis down"));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(SpeechWeb, NewPageEscapesTheDefaultMessage) {
    testkit::WriteFile(
        notify / "Default",
        SpeechFile("Default", 0, 100, {"a < b & c", "</textarea><script>x</script>"}));
    std::string page;
    ASSERT_EQ(New(page), S_OK);
    EXPECT_EQ(page, NewPage("0", "100",
                            "a &lt; b &amp; c\r\n&lt;/textarea&gt;&lt;script&gt;x&lt;/script&gt;"));
}

TEST_F(SpeechWeb, EditPageShowsTheStoredValuesEscaped) {
    testkit::WriteFile(notify / "Front desk",
                       SpeechFile("Front desk", 5, 60, {"a < b & c", "\"ok\""}));
    std::string page;
    ASSERT_EQ(Edit("Front desk", page), S_OK);
    EXPECT_EQ(page, EditPage("Front desk", "5", "60", "a &lt; b &amp; c\r\n&quot;ok&quot;"));

    std::string name = "R&D <\"lab\">";
    testkit::WriteFile(notify / name, SpeechFile(name, -10, 0, {""}));
    ASSERT_EQ(Edit(name, page), S_OK);
    EXPECT_EQ(page, EditPage("R&amp;D &lt;&quot;lab&quot;&gt;", "-10", "0", ""));
}

TEST_F(SpeechWeb, EditPageOfAnUnreadableInstanceFails) {
    Init();
    BSTR out = reinterpret_cast<BSTR>(0x1);
    Bstr path(testkit::Utf16(Dir() + "\\missing"));
    EXPECT_EQ(web->GetEditPage(path.Get(), &out), E_FAIL);
    EXPECT_EQ(out, reinterpret_cast<BSTR>(0x1));
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{Dir() + "\\missing",
                                        " - Failed to load notification from disk.", "\r\n"}));
}

TEST_F(SpeechWeb, FormsAreWrittenAsPosted) {
    struct Case {
        std::string form;
        std::string name;
        std::string file;
    };
    const std::vector<Case> cases = {
        {"page=notify&origname=&action=return&type=TextSpeech&instancename=Hall&speakrate=3x"
         "&volumerate=&message=Door+open&end=end",
         "Hall", SpeechFile("Hall", 3, 0, {"Door open"})},
        {"origname=&instancename=Lobby&speakrate=-4&volumerate=90&message=a%0D%0Ab", "Lobby",
         SpeechFile("Lobby", -4, 90, {"a%0D%0Ab"})},
        {"origname=&instancename=Cut&speakrate=1&message=one\r\ntwo", "Cut",
         SpeechFile("Cut", 1, 0, {"one"})},
        // From an edit page: origname names the instance, a prefix/name form too.
        {"origname=Lobby&speakrate=2&volumerate=50&message=again", "Lobby",
         SpeechFile("Lobby", 2, 50, {"again"})},
        {"origname=x/Lobby/y&speakrate=7&volumerate=70&message=", "Lobby",
         SpeechFile("Lobby", 7, 70, {""})},
        {"origname=&instancename=Big&speakrate=99999999999&volumerate=-99999999999", "Big",
         SpeechFile("Big", 2147483647, -2147483647 - 1, {""})},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Apply(c.form), S_OK) << c.form;
        EXPECT_EQ(testkit::ReadFile(notify / c.name), c.file) << c.form;
    }
    EXPECT_EQ(testkit::Listing(notify), (std::vector<std::string>{"Big", "Cut", "Hall", "Lobby"}));
}

TEST_F(SpeechWeb, NameThatLeavesTheDirectoryWritesNothing) {
    Init();
    for (const std::string& name : {std::string(""), std::string("."), std::string(".."),
                                    std::string("..\\up"), std::string("../up")}) {
        host.calls.clear();
        EXPECT_EQ(Apply("origname=&instancename=" + name + "&speakrate=1"), E_FAIL) << name;
        EXPECT_EQ(host.calls, (std::vector<std::string>{
                                  Dir() + "\\" + name,
                                  " Text To Speach Notification - Failed saving file.", "\r\n"}))
            << name;
    }
    EXPECT_EQ(Apply("origname=/&speakrate=1"), E_FAIL);
    EXPECT_TRUE(testkit::Listing(notify).empty());
    EXPECT_EQ(testkit::Listing(dir.path()), std::vector<std::string>{"notify"});
}

TEST_F(SpeechWeb, NamesAndMessagesThatCannotBeReadBackAreRefused) {
    Init();
    const std::string kSaveFailed = " Text To Speach Notification - Failed saving file.";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a]b", ""},
        {std::string(249, 'n'), ""}, // "TextSpeech\\" and 249 bytes: over 259
        {"Big", " Notification - The value of Message1 is too long to save: 2039 bytes, at most "
                "2038 fit in a line of the file."},
    };
    for (const auto& [name, reason] : cases) {
        host.calls.clear();
        const std::string message(name == "Big" ? 2039 : 1, 'm');
        EXPECT_EQ(Apply("origname=&instancename=" + name + "&speakrate=1&message=" + message),
                  E_FAIL);
        const std::string path = Dir() + "\\" + name;
        std::vector<std::string> expected;
        if (!reason.empty())
            expected = {path, reason, "\r\n"};
        expected.insert(expected.end(), {path, kSaveFailed, "\r\n"});
        EXPECT_EQ(host.calls, expected) << name.substr(0, 20);
    }
    EXPECT_TRUE(testkit::Listing(notify).empty());
    const std::string longest(248, 'n');
    ASSERT_EQ(Apply("origname=&instancename=" + longest +
                    "&speakrate=1&message=" + std::string(2038, 'm')),
              S_OK);
    EXPECT_TRUE(testkit::ReadFile(notify / longest) ==
                SpeechFile(longest, 1, 0, {std::string(2038, 'm')}));
}

TEST_F(SpeechWeb, NewFormNeverReplacesAnExistingInstance) {
    Init();
    std::string original = SpeechFile("Hall", 1, 100, {"keep"});
    testkit::WriteFile(notify / "Hall", original);
    EXPECT_EQ(Apply("origname=&instancename=Hall&speakrate=2&message=lost"), E_FAIL);
    EXPECT_EQ(testkit::ReadFile(notify / "Hall"), original);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{Dir() + "\\Hall",
                                        " Text To Speach Notification - Instance name already "
                                        "exists.  Please choose another name",
                                        "\r\n"}));
}

TEST_F(SpeechWeb, LongValuesAreWrittenAndShownWhole) {
    // Longer than the 512- and 1024-byte rows a fixed buffer would give them.
    std::string name(200, 'n');
    std::string line(2000, 'm');
    line[700] = '&';
    ASSERT_EQ(Apply("origname=&instancename=" + name + "&speakrate=1&volumerate=2&message=" +
                    line.substr(0, 700) + "%26" + line.substr(701)),
              S_OK);
    std::string stored = line.substr(0, 700) + "%26" + line.substr(701);
    EXPECT_TRUE(testkit::ReadFile(notify / name) == SpeechFile(name, 1, 2, {stored}));
    std::string page;
    ASSERT_EQ(Edit(name, page), S_OK);
    EXPECT_TRUE(page == EditPage(name, "1", "2", stored)) << page.size();

    testkit::WriteFile(notify / "Default", SpeechFile("Default", 0, 100, {line, line}));
    ASSERT_EQ(New(page), S_OK);
    std::string shown = line.substr(0, 700) + "&amp;" + line.substr(701);
    EXPECT_TRUE(page == NewPage("0", "100", shown + "\r\n" + shown)) << page.size();
}

} // namespace
