// SysLog's web pages, byte for byte, and the forms posted back from them, on real files.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/comptr.h>

#include "html_page.h"
#include "recording_host.h"
#include "syslog.h"
#include "testkit.h"

namespace fs = std::filesystem;
using testkit::RecordingHost;
using testkit::TempDir;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

// The page texts as the web configuration fixes them.
const std::string kNewHead =
    "<HTML><HEAD><TITLE>Sentrel</TITLE></HEAD><BODY bgcolor=\"#ffffff\"><FONT "
    "COLOR=\"#000000\"><TABLE BORDER=2 CELLPADDING=3 CELLSPACING=0 BGCOLOR=\"#c0c0c0\"><TR><TH "
    "COLSPAN=2 ALIGN=left BGCOLOR=\"#0080c0\"><table width=\"100%\" border=0><tr><td>New "
    "SysLog Notification</td><td align=right><A href=\"h_edtnotsyslog.htm\" target=_NEW>"
    "Help</A></td></tr></table></TH></TR>";
const std::string kNewForm =
    "<TR><TD WIDTH=\"98%\" VALIGN=top><TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 "
    "CELLSPACING=2 BGCOLOR=\"#c0c0c0\"><FORM method=\"post\" ACTION=\"_maincfgret.cgi\"> "
    "<input type=\"hidden\" name=\"page\" value=\"notify\"><input type=\"hidden\" "
    "name=\"action\" value=\"return\"> <input type=hidden name=type value=\"Syslog\"><input "
    "type=\"hidden\" name=\"origname\" ><tr><td>Instance Name:</td><td><input size=40 "
    "maxlength=512 name=instancename ></td></tr><TR><TD>Port:</TD>\t<TD><input size=10 "
    "maxlength=255 name=port></TD></TR><TR><TD>Address:</TD><TD><input size=40 maxlength=255 "
    "name=address></TD></TR><TR><TD>Message:</TD>\t<TD><INPUT  size=40 maxlength=255 "
    "name=message> </TD></TR><TR><TD></TD><TD></TD></TR></TABLE></TD></TR><tr><td ALIGN=right>"
    "<input type=hidden name=end value=end><input type=submit value=\"Submit\"></td></tr>"
    "</FORM></TABLE>";
const std::string kNewNavigation =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi> <input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n";
const std::string kEditHead =
    "<HTML><HEAD><TITLE>Sentrel</TITLE></HEAD><BODY bgcolor=\"#ffffff\"><FONT "
    "COLOR=\"#000000\"><TABLE BORDER=2 CELLPADDING=3 CELLSPACING=0 BGCOLOR=\"#c0c0c0\"><TR><TH "
    "COLSPAN=2 ALIGN=left BGCOLOR=\"#0080c0\"><table width=\"100%\" border=0><tr><td>Edit "
    "SysLog Notification</td><td align=right><a href=\"h_edtnotsyslog.htm\" target=\"_NEW\">"
    "Help</a></td></tr></table></TH></TR><TR><TD WIDTH=\"98%\" VALIGN=TOP>";
const std::string kEditFormStart =
    "<TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 CELLSPACING=2 BGCOLOR=\"#C0C0C0\"><FORM "
    "method=\"post\" ACTION=\"_maincfgret.cgi\"> <input type=\"hidden\" name=\"page\" "
    "value=\"notify\"><input type=\"hidden\" name=\"action\" value=\"return\"> <input "
    "type=hidden name=type value=\"Syslog\">";
const std::string kOldNameRow = "<input type=\"hidden\" name=\"origname\" value=\"%s\">\r\n";
const std::string kNameRow =
    "<tr><td>Instance Name:</td><td><input type=TEXT DISABLED size=40 maxlength=512 "
    "name=instancename value=\"%s\"></td></tr>\r\n";
const std::string kPortRow =
    "<tr><td>Port:</td><td><input type=TEXT size=15 maxlength=255 name=port value=\"%d\"></td>"
    "</tr>\r\n";
const std::string kAddressRow =
    "<tr><td>Address:</td><td><input type=TEXT size=40 maxlength=255 name=address value=\"%s\">"
    "</td></tr>\r\n";
const std::string kMessageRow =
    "<tr><td>Message:</td><td><textarea name=message cols=40 rows=3 >%s</textarea></td></tr>"
    "\r\n";
const std::string kEditFormEnd =
    "</table></td></tr><tr><td ALIGN=RIGHT><input type=hidden name=end value=end><input "
    "type=\"SUBMIT\" value=\"Submit\"></td></tr></form></table>\r\n";
const std::string kEditNavigation =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi><input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi><input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

constexpr char kType[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";

// A row with its one placeholder filled.
std::string Fill(const std::string& row, const std::string& value) {
    size_t at = row.find('%');
    return row.substr(0, at) + value + row.substr(at + 2);
}

std::string EditPage(const std::string& name, const std::string& port, const std::string& address,
                     const std::string& message) {
    return kEditHead + kEditFormStart + Fill(kOldNameRow, name) + Fill(kNameRow, name) +
           Fill(kPortRow, port) + Fill(kAddressRow, address) + Fill(kMessageRow, message) +
           kEditFormEnd + kEditNavigation + kHtmlPageFooter;
}

std::string SyslogFile(const std::string& name, const std::string& address,
                       const std::string& message, const std::string& port) {
    return "[Syslog\\" + name + "]\r\nCLSID=" + kType + "\r\nAddress=" + address +
           "\r\nMessage=" + message + "\r\nPort=" + port + "\r\n";
}

class SysLogWeb : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotificationWeb,
                                                   reinterpret_cast<void**>(web.Put())),
                  S_OK);
        fs::create_directory(notify);
    }
    void TearDown() override {
        if (web) {
            ComPtr<ISentrelNotification> alert;
            web->QueryInterface(IID_ISentrelNotification, alert.PutVoid());
            alert->UnInitialize();
        }
        web.Reset();
        EXPECT_EQ(host.References(), 0u);
        CoUninitialize();
    }
    // Gives the object a host, so that its log lines are recorded.
    void Init() {
        ComPtr<ISentrelNotification> alert;
        ASSERT_EQ(web->QueryInterface(IID_ISentrelNotification, alert.PutVoid()), S_OK);
        ASSERT_EQ(alert->Initialize(&host), S_OK);
    }
    std::string Dir() const { return testkit::ZPath(notify); }
    HRESULT Apply(const std::string& form) {
        Bstr dirText(testkit::Utf16(Dir()));
        Bstr formText(testkit::Utf16(form));
        return web->ApplyPostedForm(dirText.Get(), formText.Get());
    }
    HRESULT Edit(const std::string& name, std::string& page) {
        Bstr path(testkit::Utf16(Dir() + "\\" + name));
        Bstr html;
        HRESULT hr = web->GetEditPage(path.Get(), html.Put());
        page = testkit::Utf8(html.Str());
        return hr;
    }

    TempDir dir;
    fs::path notify = dir / "notify";
    RecordingHost host;
    ComPtr<ISentrelNotificationWeb> web;
};

TEST_F(SysLogWeb, NewPageIsTheFixedFormWithEmptyFields) {
    for (const char* directory : {"", "Z:\\nowhere"}) {
        Bstr dirText(testkit::Utf16(directory));
        Bstr html;
        ASSERT_EQ(web->GetNewPage(dirText.Get(), html.Put()), S_OK);
        EXPECT_EQ(testkit::Utf8(html.Str()),
                  kNewHead + kNewForm + kNewNavigation + kHtmlPageFooter);
    }
}

TEST_F(SysLogWeb, EditPageShowsTheStoredValues) {
    testkit::WriteFile(notify / "Router alarms",
                       SyslogFile("Router alarms", "10.0.0.5", "Alert on %H", "-70000"));
    std::string page;
    ASSERT_EQ(Edit("Router alarms", page), S_OK);
    EXPECT_EQ(page, EditPage("Router alarms", "-70000", "10.0.0.5", "Alert on %H"));
}

TEST_F(SysLogWeb, EditPageEscapesEveryStoredValue) {
    // A file name can hold all four markup characters; none may reach the page raw.
    std::string name = "R&D <\"lab\">";
    testkit::WriteFile(notify / name,
                       SyslogFile(name, "1.2.3.4\"><script>x</script>", "a \"b\" < c & d", "514"));
    std::string page;
    ASSERT_EQ(Edit(name, page), S_OK);
    EXPECT_EQ(page, EditPage("R&amp;D &lt;&quot;lab&quot;&gt;", "514",
                             "1.2.3.4&quot;&gt;&lt;script&gt;x&lt;/script&gt;",
                             "a &quot;b&quot; &lt; c &amp; d"));
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

TEST_F(SysLogWeb, EditPageOfAnUnreadableInstanceFailsWithoutAPage) {
    testkit::WriteFile(notify / "Other", "[Syslog\\Other]\r\nCLSID={00000000-0000-0000-0000-"
                                         "000000000000}\r\nPort=1\r\n");
    for (const char* name : {"missing", "Other"}) {
        std::string page = "untouched";
        Bstr path(testkit::Utf16(Dir() + "\\" + name));
        BSTR out = reinterpret_cast<BSTR>(0x1);
        EXPECT_EQ(web->GetEditPage(path.Get(), &out), E_FAIL) << name;
        EXPECT_EQ(out, reinterpret_cast<BSTR>(0x1)) << name;
    }
    EXPECT_TRUE(host.calls.empty()) << "no host, no log";

    Init();
    std::string page;
    EXPECT_EQ(Edit("missing", page), E_FAIL);
    EXPECT_EQ(host.calls,
              std::vector<std::string>{"Syslog::Notify:Failed to load instance data\r\n"});
}

TEST_F(SysLogWeb, EditPageOfAVersion6FileMigratesIt) {
    auto le32 = [](int32_t v) {
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
        return b;
    };
    std::string record = {'\x00', '\x7B', '\xDD', '\x69', '\x69', '\xB6', '\xD4', '\x11',
                          '\x80', '\x4A', '\x00', '\x01', '\x02', '\x5E', '\xB1', '\x76'};
    testkit::WriteFile(notify / "Old",
                       record + le32(1514) + le32(8) + "10.1.2.3" + le32(3) + "a<b");
    std::string page;
    ASSERT_EQ(Edit("Old", page), S_OK);
    EXPECT_EQ(page, EditPage("Old", "1514", "10.1.2.3", "a&lt;b"));
    EXPECT_EQ(testkit::ReadFile(notify / "Old"), SyslogFile("Old", "10.1.2.3", "a<b", "1514"));
    EXPECT_TRUE(fs::exists(notify / "V6" / "Old"));
}

TEST_F(SysLogWeb, NewPageFormWritesTheInstance) {
    ASSERT_EQ(Apply("page=notify&action=return&type=Syslog&origname=&instancename=Router&port=514"
                    "&address=10.0.0.5&message=Alert+on+%25H&end=end"),
              S_OK);
    // "+" is a blank; the percent escape stays as it came.
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "Alert on %25H", "514"));
}

TEST_F(SysLogWeb, FieldsAreWrittenAsPostedWithoutChecks) {
    struct Case {
        std::string form;
        std::string file;
    };
    const std::vector<Case> cases = {
        {"origname=&instancename=A&address=x&message=m", SyslogFile("A", "x", "m", "0")},
        {"origname=&instancename=B&port=&address=&message=", SyslogFile("B", "", "", "0")},
        {"origname=&instancename=C&port=12ab&message=one\r\ntwo&address=not+an+ip",
         SyslogFile("C", "not an ip", "one", "12")},
        {"instancename=D&message=a%0D%0Ab&port=70000", SyslogFile("D", "", "a%0D%0Ab", "70000")},
        {"instancename=Router|1&port=1", SyslogFile("Router|1", "", "", "1")},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Apply(c.form), S_OK) << c.form;
        std::string name = GetFormField(c.form, "instancename", "");
        EXPECT_EQ(testkit::ReadFile(notify / name), c.file) << c.form;
    }
}

TEST_F(SysLogWeb, EditFormRewritesTheInstanceUnderItsName) {
    testkit::WriteFile(notify / "Router",
                       SyslogFile("Router", "10.0.0.5", "old", "514") + "Extra=dropped\r\n");
    // The browser does not post the disabled name field; origname names the instance.
    ASSERT_EQ(Apply("page=notify&action=return&type=Syslog&origname=Router&port=1514"
                    "&address=10.0.0.6&message=new+text&end=end"),
              S_OK);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.6", "new text", "1514"));
    ASSERT_EQ(Apply("origname=Syslog/Router&instancename=Ignored&message=again"), S_OK);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), SyslogFile("Router", "", "again", "0"));
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{"Router"});
}

TEST_F(SysLogWeb, NameThatLeavesTheDirectoryWritesNothing) {
    Init();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"origname=&instancename=&port=1", ""},
        {"instancename=.&port=1", "."},
        {"instancename=..&port=1", ".."},
        {"instancename=..%2Fx&port=1", "..%2Fx"}, // not decoded: a plain name, see below
        {"instancename=../escaped&port=1", "../escaped"},
        {"instancename=..\\escaped&port=1", "..\\escaped"},
        {"origname=/&port=1", ""},
        {"origname=x/..&port=1", ".."},
    };
    for (const auto& [form, name] : cases) {
        host.calls.clear();
        HRESULT hr = Apply(form);
        if (name == "..%2Fx") {
            EXPECT_EQ(hr, S_OK); // stays inside the directory under that literal name
            continue;
        }
        EXPECT_EQ(hr, E_FAIL) << form;
        EXPECT_EQ(host.calls,
                  (std::vector<std::string>{Dir() + "\\" + name,
                                            " Syslog Notification - Failed saving file.", "\r\n"}))
            << form;
    }
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{"..%2Fx"});
    EXPECT_EQ(testkit::Listing(dir.path()), std::vector<std::string>{"notify"});
}

// What the file could not give back whole is refused and nothing is written: a name that
// no section header can carry, a value longer than a line of the file.
TEST_F(SysLogWeb, NamesAndValuesThatCannotBeReadBackAreRefused) {
    Init();
    const std::string kSaveFailed = " Syslog Notification - Failed saving file.";
    struct Case {
        std::string name;
        std::string message;
        std::string reason; // logged before the save failure; empty: none
    };
    const std::vector<Case> cases = {
        {"a]b", "m", ""},
        {"]", "m", ""},
        {"x]", "m", ""},
        {std::string(253, 'n'), "m", ""}, // "Syslog\\" and 253 bytes: over 259
        {"Big", std::string(2040, 'm'),
         " Notification - The value of Message is too long to save: 2040 bytes, at most 2039 fit "
         "in a line of the file."},
        {"Huge", std::string(900 * 1024, 'm'),
         " Notification - The value of Message is too long to save: 921600 bytes, at most 2039 "
         "fit in a line of the file."},
    };
    for (const Case& c : cases) {
        host.calls.clear();
        EXPECT_EQ(Apply("origname=&instancename=" + c.name + "&port=514&message=" + c.message),
                  E_FAIL)
            << c.name.substr(0, 20);
        const std::string path = Dir() + "\\" + c.name;
        std::vector<std::string> expected;
        if (!c.reason.empty())
            expected = {path, c.reason, "\r\n"};
        expected.insert(expected.end(), {path, kSaveFailed, "\r\n"});
        EXPECT_EQ(host.calls, expected) << c.name.substr(0, 20);
    }
    EXPECT_TRUE(testkit::Listing(notify).empty());

    // The limits themselves are saved and read back whole.
    const std::string longest(252, 'n');
    const std::string message(2039, 'm');
    ASSERT_EQ(Apply("origname=&instancename=" + longest + "&port=514&message=" + message), S_OK);
    EXPECT_TRUE(testkit::ReadFile(notify / longest) == SyslogFile(longest, "", message, "514"));

    // An edit that would lose part of a value leaves the file as it was.
    const std::string before = testkit::ReadFile(notify / longest);
    EXPECT_EQ(Apply("origname=" + longest + "&port=1&message=" + message + "m"), E_FAIL);
    EXPECT_TRUE(testkit::ReadFile(notify / longest) == before);
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{longest});
}

TEST_F(SysLogWeb, NewFormNeverReplacesAnExistingInstance) {
    Init();
    std::string original = SyslogFile("Router", "10.0.0.5", "keep me", "514");
    testkit::WriteFile(notify / "Router", original);
    EXPECT_EQ(Apply("origname=&instancename=Router&port=1&address=x&message=y"), E_FAIL);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), original);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{Dir() + "\\Router",
                                        " Syslog Notification - Instance name already exists.  "
                                        "Please choose another name.",
                                        "\r\n"}));
}

TEST_F(SysLogWeb, UnwritableDirectoryFailsWithTheSaveText) {
    Init();
    Bstr dirText(testkit::Utf16(Dir() + "\\absent"));
    Bstr formText(u"instancename=Router&port=1");
    EXPECT_EQ(web->ApplyPostedForm(dirText.Get(), formText.Get()), E_FAIL);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{Dir() + "\\absent\\Router",
                                        " Syslog Notification - Failed saving file.", "\r\n"}));
}

TEST_F(SysLogWeb, LongValuesAreWrittenAndShownWhole) {
    // Longer than any row a fixed 1024-byte buffer could hold, and short enough for a
    // file line (2047 bytes) to read back whole.
    std::string name(240, 'n');
    std::string address(1500, '1');
    std::string message(2030, 'm');
    message[1000] = '<';
    ASSERT_EQ(Apply("origname=&instancename=" + name + "&port=514&address=" + address +
                    "&message=" + message),
              S_OK);
    EXPECT_TRUE(testkit::ReadFile(notify / name) == SyslogFile(name, address, message, "514"));
    std::string page;
    ASSERT_EQ(Edit(name, page), S_OK);
    std::string shown = message;
    shown.replace(1000, 1, "&lt;");
    EXPECT_TRUE(page == EditPage(name, "514", address, shown)) << page.size();
}

} // namespace

TEST_F(SysLogWeb, AnEditThroughThePagesKeepsTheKeysTheyDoNotShow) {
    const std::string options = "Format=rfc3164\r\nFacility=local3\r\nSeverity=alert\r\n"
                                "Tag=alarms\r\nTransport=tls\r\nCAFile=Z:\\etc\\ca %25 & + "
                                "\"<\xE9.pem\r\nServerName=logs.example\r\nVerify=no\r\n";
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "old", "514") + options);
    // The page shows the four settings only, exactly as for any instance.
    std::string page;
    ASSERT_EQ(Edit("Router", page), S_OK);
    EXPECT_EQ(page, EditPage("Router", "514", "10.0.0.5", "old"));
    // Posted back (as the host hands a form over) with new values, twice: the other keys
    // stay as they were.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Apply("page=notify&action=return&type=Syslog&origname=Router&port=1514"
                        "&address=10.0.0.6&message=%H+is+\"down\"+<\xC3\xA9>&end=end"),
                  S_OK);
        EXPECT_EQ(testkit::ReadFile(notify / "Router"),
                  SyslogFile("Router", "10.0.0.6", "%H is \"down\" <\xE9>", "1514") + options);
    }
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{"Router"});
}
