// The host's web configuration as a user runs it: `page` and `apply` from the command line,
// and `sentrel web` serving a fresh registry and notification directory on loopback.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>

#include "testkit.h"
#include "udp_receiver.h"
#include "wav.h"

namespace fs = std::filesystem;
using testkit::CommandResult;
using testkit::ShellQuote;

namespace {

constexpr char kType[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";
constexpr char kHead[] = "<HTML><HEAD><TITLE>Sentrel</TITLE></HEAD>";
constexpr char kEnd[] = "</i></author>\r\n</HTML>";

std::string SyslogFile(const std::string& name, const std::string& address,
                       const std::string& message, const std::string& port) {
    return "[Syslog\\" + name + "]\r\nCLSID=" + kType + "\r\nAddress=" + address +
           "\r\nMessage=" + message + "\r\nPort=" + port + "\r\n";
}

class WebHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Run("init").status, 0);
        CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("tellumo").string()));
        ASSERT_EQ(reg.status, 0) << reg.err;
        fs::create_directory(notify);
    }
    std::string Registry() const { return (dir / "registry.reg").string(); }
    CommandResult Run(const std::string& args) {
        return testkit::RunCommand(testkit::HostPath().string() + " --registry " +
                                   ShellQuote(Registry()) + " " + args);
    }

    testkit::TempDir dir;
    fs::path notify = dir / "notify";
};

TEST_F(WebHost, PagePrintsNothingButThePage) {
    CommandResult r = Run("page new SysLog --dir " + ShellQuote(notify.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(kHead, 0), 0u);
    EXPECT_TRUE(r.out.ends_with(kEnd));
    EXPECT_NE(r.out.find("New SysLog Notification"), std::string::npos);
    EXPECT_EQ(r.err, "");

    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "up", "514"));
    r = Run("page edit syslog " + ShellQuote((notify / "Router").string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(kHead, 0), 0u);
    EXPECT_TRUE(r.out.ends_with(kEnd));
    EXPECT_NE(r.out.find("name=\"origname\" value=\"Router\""), std::string::npos);
}

TEST_F(WebHost, PageIsUtf8OfTheCodePageText) {
    // The stored text is in code page 1252: 0xE9 is e acute, 0x80 the euro sign.
    testkit::WriteFile(notify / "Caf", SyslogFile("Caf", "10.0.0.5", "caf\xE9 \x80 5", "514"));
    CommandResult r = Run("page edit SysLog " + ShellQuote((notify / "Caf").string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(">caf\xC3\xA9 \xE2\x82\xAC 5</textarea>"), std::string::npos);
}

TEST_F(WebHost, SpeechPagesLogToStandardError) {
    CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("parlanza").string()));
    ASSERT_EQ(reg.status, 0) << reg.err;
    CommandResult r = Run("page new TextSpeech --dir " + ShellQuote(notify.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(kHead, 0), 0u);
    EXPECT_TRUE(r.out.ends_with(kEnd));
    EXPECT_NE(r.out.find("name=speakrate value=\"\">"), std::string::npos);
    EXPECT_EQ(r.err, "Default TextSpeech - Failed to load notification from disk.\r\n");

    r = Run("apply textspeech --dir " + ShellQuote(notify.string()) +
            " --form 'origname=&instancename=Default&speakrate=4&volumerate=90&message=Hi'");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run("page new TextSpeech --dir " + ShellQuote(notify.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("name=speakrate value=\"4\">"), std::string::npos);
    EXPECT_NE(r.out.find(">Hi</textarea>"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(WebHost, PageFailureLeavesStandardOutputEmpty) {
    CommandResult r = Run("page edit SysLog " + ShellQuote((notify / "missing").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Syslog::Notify:Failed to load instance data\r\n0x80004005\n", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
}

TEST_F(WebHost, ApplyWritesTheFormAsItIsInTheDirectory) {
    // A relative directory reaches the plug-in absolute, in its Z:\ form.
    CommandResult r = testkit::RunCommand(
        "cd " + ShellQuote(dir.path().string()) + " && " + testkit::HostPath().string() +
        " --registry " + ShellQuote(Registry()) +
        " apply SysLog --dir notify --form 'origname=&instancename=Router+alarms&port=514"
        "&address=10.0.0.5&message=Alert+on+%25H'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testkit::ReadFile(notify / "Router alarms"),
              SyslogFile("Router alarms", "10.0.0.5", "Alert on %25H", "514"));

    r = Run("apply SysLog --dir " + ShellQuote(notify.string()) +
            " --form 'instancename=Router+alarms&port=1'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, testkit::ZPath(notify) +
                         "\\Router alarms Syslog Notification - Instance name already exists.  "
                         "Please choose another name.\r\n0x80004005\n");
    EXPECT_EQ(testkit::ReadFile(notify / "Router alarms"),
              SyslogFile("Router alarms", "10.0.0.5", "Alert on %25H", "514"));
}

TEST_F(WebHost, UsageErrorsExitTwo) {
    std::string d = ShellQuote(notify.string());
    const std::string cases[] = {"page",
                                 "page new SysLog",
                                 "page edit SysLog",
                                 "page new SysLog --dir " + d + " extra",
                                 "page new NoSuchType --dir " + d,
                                 "page new SysLog --dir " + ShellQuote((notify / "none").string()),
                                 "apply SysLog --dir " + d,
                                 "apply SysLog --form x",
                                 "apply SysLog --dir " + d + " --form x --bogus",
                                 "web",
                                 "web --dir " + d + " --listen 10.1.2.3:80",
                                 "web --dir " + d + " --listen 127.0.0.1:99999",
                                 "web --dir " + ShellQuote((notify / "none").string())};
    for (const std::string& args : cases) {
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("sentrel: ", 0), 0u) << args << ": " << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
    CommandResult help = Run("--help");
    for (const char* command : {"web --dir", "page new", "page edit", "apply TYPE"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
}

// `sentrel web` in a process of its own, its standard output on a pipe.
class WebServer {
public:
    WebServer(const std::string& registry, const fs::path& directory,
              std::vector<std::string> extra = {}) {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe");
        std::string host = testkit::HostPath().string();
        std::vector<std::string> args = {host,    "--registry", registry,   "web",
                                         "--dir", directory,    "--listen", "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(host.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_out = fdopen(fds[0], "r");
        char line[256] = {};
        if (std::fgets(line, sizeof line, m_out))
            m_first = line;
        unsigned port = 0;
        if (std::sscanf(line, "Listening on http://127.0.0.1:%u/", &port) == 1 ||
            std::sscanf(line, "Listening on https://127.0.0.1:%u/", &port) == 1)
            m_port = static_cast<int>(port);
    }
    ~WebServer() {
        if (m_pid > 0)
            Stop(SIGKILL);
    }
    int port() const { return m_port; }
    const std::string& FirstLine() const { return m_first; }

    // Sends the signal, reads the rest of standard output, and returns the exit status
    // (-1 when the process did not exit normally).
    int Stop(int signal) {
        kill(m_pid, signal);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_out)) > 0)
            rest.append(buffer, n);
        std::fclose(m_out);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string rest; // standard output after the first line, once stopped

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
    int m_port = 0;
    std::string m_first;
};

class WebServerTest : public WebHost {
protected:
    void SetUp() override {
        WebHost::SetUp();
        server = std::make_unique<WebServer>(Registry(), notify);
        ASSERT_NE(server->port(), 0) << server->FirstLine();
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        // What a browser sends with a form from the server's own page.
        client->set_default_headers({{"Origin", Origin()}});
    }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(server->port()); }
    httplib::Result Post(const std::string& form, const std::string& path = "/_maincfgret.cgi") {
        return client->Post(path.c_str(), form, "application/x-www-form-urlencoded");
    }
    std::unique_ptr<WebServer> server;
    std::unique_ptr<httplib::Client> client;
};

TEST_F(WebServerTest, ListsInstancesByTheTypeTheirFileNames) {
    testkit::WriteFile(notify / "Router alarms", SyslogFile("Router alarms", "1.2.3.4", "m", "1"));
    // Told by the CLSID when the section prefix names no type.
    testkit::WriteFile(notify / "By id", "[Other\\By id]\r\nCLSID={C89F80D2-B3F1-11D4-804A-"
                                         "0001025EB176}\r\n");
    testkit::WriteFile(notify / "a<b>", "not an instance");
    fs::create_directory(notify / "V6");
    for (const char* path : {"/", "/_maincfgreg.cgi", "/_maincfgreg.cgi?action=Notifications"}) {
        auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 200);
        const std::string& page = res->body;
        EXPECT_NE(
            page.find("<TR><TD><A href=\"/_editnotify.cgi?name=Router%20alarms\">Router "
                      "alarms</A></TD><TD>Syslog</TD><TD><A "
                      "href=\"/_testnotify.cgi?name=Router%20alarms\">Test</A> <A "
                      "href=\"/_deletenotify.cgi?name=Router%20alarms\">Delete</A></TD></TR>"),
            std::string::npos)
            << page;
        EXPECT_NE(page.find("<TR><TD><A href=\"/_editnotify.cgi?name=By%20id\">By "
                            "id</A></TD><TD>Syslog</TD>"),
                  std::string::npos);
        EXPECT_NE(page.find("<TR><TD>a&lt;b&gt;</TD><TD>unknown</TD><TD><A "
                            "href=\"/_deletenotify.cgi?name=a%3Cb%3E\">Delete</A></TD></TR>"),
                  std::string::npos);
        EXPECT_EQ(page.find("V6"), std::string::npos);
        EXPECT_NE(page.find("<A href=\"/_newnotify.cgi?type=SysLog\">New Syslog notification</A>"),
                  std::string::npos);
    }
    auto top = client->Get("/_top.cgi");
    ASSERT_TRUE(top);
    EXPECT_NE(top->body.find("3 notification(s)"), std::string::npos) << top->body;
}

TEST_F(WebServerTest, ServesThePlugInsPagesAsTheyAre) {
    CommandResult cli = Run("page new SysLog --dir " + ShellQuote(notify.string()));
    auto res = client->Get("/_newnotify.cgi?type=syslog");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, cli.out);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");

    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "a<b", "514"));
    cli = Run("page edit SysLog " + ShellQuote((notify / "Router").string()));
    res = client->Get("/_editnotify.cgi?name=Router");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, cli.out);
}

TEST_F(WebServerTest, PostedFormIsAppliedAndReturnsToTheList) {
    auto res = Post("page=notify&action=return&type=Syslog&origname=&instancename=Router&port=514"
                    "&address=10.0.0.5&message=Alert+on+%25H&end=end");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(res->get_header_value("Location"), "/_maincfgreg.cgi");
    // Decoded by the host: the variable is stored as typed.
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "Alert on %H", "514"));

    // A form longer than cpp-httplib's default limit for form bodies.
    std::string message(2000, 'x');
    res = Post("type=Syslog&origname=Router&port=1&address=1.1.1.1&message=" + message +
               std::string(7000, '&'));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), SyslogFile("Router", "1.1.1.1", message, "1"));
}

TEST_F(WebServerTest, FailureShowsAnErrorPageNamingIt) {
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "keep", "514"));
    auto res = Post("type=NoSuch&instancename=x");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_NE(res->body.find("unknown notification type NoSuch"), std::string::npos);
    EXPECT_FALSE(fs::exists(notify / "x"));

    for (const char* path : {"/_editnotify.cgi?name=missing", "/_editnotify.cgi?name=..",
                             "/_editnotify.cgi?name=..%2Fnotify%2FRouter"}) {
        res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_NE(res->body.find("There is no notification named"), std::string::npos);
    }
    testkit::WriteFile(notify / "Broken", "[Syslog\\Broken]\r\nCLSID=wrong\r\n");
    res = client->Get("/_editnotify.cgi?name=Broken");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    EXPECT_NE(res->body.find("GetEditPage returned 0x80004005."), std::string::npos);
    EXPECT_NE(res->body.find("Syslog::Notify:Failed to load instance data"), std::string::npos);
}

// The list, its links and the edit pages work for names outside ASCII: written by the form
// or by a shell, under code page 1252 and 932; a name the code page lacks is shown as such.
TEST_F(WebHost, NonAsciiNamesAreListedLinkedAndEdited) {
    const struct {
        const char* codePage;
        std::string name;    // UTF-8
        std::string section; // the code page's bytes, as the file's text holds them
        std::string link;
        std::string other; // a name the code page lacks
        std::string otherLink;
    } cases[] = {
        {"1252", "Caf\xC3\xA9 Raw", "Caf\xE9 Raw", "Caf%C3%A9%20Raw", "\xE8\xA1\xA8", "%E8%A1%A8"},
        {"932", "\xE8\xA1\xA8\xE7\xA4\xBA", "\x95\x5C\x8E\xA6", "%E8%A1%A8%E7%A4%BA", "Caf\xC3\xA9",
         "Caf%C3%A9"},
    };
    for (const auto& c : cases) {
        fs::remove_all(notify);
        fs::create_directory(notify);
        testkit::ScopedEnv codePage("SENTREL_CODEPAGE", c.codePage);
        CommandResult r = Run("apply SysLog --dir " + ShellQuote(notify.string()) + " --form " +
                              ShellQuote("origname=&instancename=" + c.name +
                                         "&address=10.0.0.5&message=m&port=514"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(testkit::ReadFile(notify / c.name),
                  SyslogFile(c.section, "10.0.0.5", "m", "514"));
        // Made by a shell: the same name with another letter, the file's text in the code page.
        testkit::WriteFile(notify / (c.name + "2"),
                           SyslogFile(c.section + "2", "10.0.0.6", "s", "1"));
        testkit::WriteFile(notify / c.other, "[Syslog\\x]\r\nCLSID=" + std::string(kType) + "\r\n");
        testkit::WriteFile(notify / "]pd0ABC.tmp", "left by a killed save");

        WebServer server(Registry(), notify);
        ASSERT_NE(server.port(), 0) << server.FirstLine();
        httplib::Client client("127.0.0.1", server.port());
        auto list = client.Get("/_maincfgreg.cgi");
        ASSERT_TRUE(list);
        const std::string& page = list->body;
        EXPECT_NE(page.find("<A href=\"/_editnotify.cgi?name=" + c.link + "\">" + c.name + "</A>"),
                  std::string::npos)
            << page;
        EXPECT_NE(page.find("<A href=\"/_editnotify.cgi?name=" + c.link + "2\">"),
                  std::string::npos);
        EXPECT_NE(page.find("<TD>" + c.other + " (this name cannot be written in code page " +
                            c.codePage + ", so the plug-ins cannot open it)</TD>"),
                  std::string::npos)
            << page;
        EXPECT_EQ(page.find("]pd"), std::string::npos);
        auto top = client.Get("/_top.cgi");
        ASSERT_TRUE(top);
        EXPECT_NE(top->body.find("3 notification(s)"), std::string::npos) << top->body;

        for (const std::string& suffix : {std::string(), std::string("2")}) {
            auto edit = client.Get("/_editnotify.cgi?name=" + c.link + suffix);
            ASSERT_TRUE(edit);
            EXPECT_EQ(edit->status, 200) << edit->body;
            EXPECT_NE(edit->body.find("name=\"origname\" value=\"" + c.name + suffix + "\""),
                      std::string::npos);
        }
        auto refused = client.Get("/_editnotify.cgi?name=" + c.otherLink);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 400);
        EXPECT_NE(refused->body.find("cannot be written in code page"), std::string::npos);
        EXPECT_EQ(client.Get("/_editnotify.cgi?name=%5Dpd0ABC.tmp")->status, 404);

        server.Stop(SIGTERM);
    }
}

// Refused forms answer with a status and words for the browser, offer the way back to
// the filled form, and write nothing.
TEST_F(WebServerTest, RefusedFormsSayWhyInWordsForABrowser) {
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "keep", "514"));
    struct Case {
        std::string form;
        int status;
        std::string says;
    } cases[] = {
        {"type=Syslog&origname=&instancename=Router&port=1", 409,
         "A notification named &quot;Router&quot; already exists. Choose another name"},
        {"type=Syslog&origname=&instancename=..&port=1", 400,
         "The name &quot;..&quot; cannot be used"},
        {"type=Syslog&origname=&instancename=a%5Db&port=1", 400,
         "The name &quot;a]b&quot; cannot be used"},
        {"type=Syslog&origname=&instancename=a%2Fb&port=1", 400,
         "The name &quot;a/b&quot; cannot be used"},
        {"type=Syslog&origname=&instancename=&port=1", 400, "Give the new notification a name."},
        {"type=Syslog&origname=Gone&port=1", 409,
         "The notification &quot;Gone&quot; no longer exists"},
        // The page kit cannot read "&" or "+" back out of a posted name.
        {"type=Syslog&origname=A%26B&port=1", 400,
         "The notification &quot;A&amp;B&quot; cannot be saved from the web"},
    };
    for (const Case& c : cases) {
        auto res = Post(c.form);
        ASSERT_TRUE(res) << c.form;
        EXPECT_EQ(res->status, c.status) << c.form;
        EXPECT_NE(res->body.find(c.says), std::string::npos) << c.form << "\n" << res->body;
        EXPECT_NE(res->body.find("onclick=\"history.back()\">Back to the form"), std::string::npos);
        EXPECT_EQ(res->body.find("Please choose"), std::string::npos) << c.form;
    }
    EXPECT_EQ(testkit::Listing(notify), std::vector<std::string>{"Router"});
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "keep", "514"));

    // A multipart body is refused plainly, not taken apart.
    httplib::MultipartFormDataItems items = {
        {"type", "Syslog", "", ""}, {"origname", "Router", "", ""}, {"address", "6.6.6.6", "", ""}};
    auto res = client->Post("/_maincfgret.cgi", items);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 415);
    EXPECT_NE(res->body.find("must be sent URL-encoded"), std::string::npos) << res->body;
    res = client->Post("/_maincfgret.cgi", "{\"type\":\"Syslog\"}", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 415);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "keep", "514"));
}

// The form reaches the plug-in decoded, except the bytes that the page kit reads as syntax.
TEST_F(WebServerTest, PostedFormIsDecodedButForThePageKitsSyntax) {
    struct Case {
        std::string posted;
        std::string stored;
    } cases[] = {
        {"Disk+90%25+full+on+%25H+%26+%3Chot%3E", "Disk 90% full on %H %26 <hot>"},
        {"%22quoted%22+it%27s", "\"quoted\" it's"},
        {"caf%C3%A9+%E2%82%AC", "caf\xE9 \x80"}, // UTF-8 in, code page 1252 in the file
        {"a%0D%0Ab%0a", "a%0D%0Ab%0A"},
        {"1%2B1%2b2", "1%2B1%2B2"},
        {"nul%00end", "nul%00end"},
        {"%E9t%C3%A", "%E9t%C3%A"}, // not UTF-8: kept as it came
        {"%ED%A0%80", "%ED%A0%80"}, // a surrogate is not UTF-8 either
        {"100%25%2525", "100%%25"},
    };
    for (const Case& c : cases) {
        auto res = Post("type=Syslog&origname=&instancename=Decoded&port=514&address=10.0.0.5"
                        "&message=" +
                        c.posted);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 303) << c.posted << "\n" << res->body;
        EXPECT_EQ(testkit::ReadFile(notify / "Decoded"),
                  SyslogFile("Decoded", "10.0.0.5", c.stored, "514"))
            << c.posted;
        fs::remove(notify / "Decoded");
    }
    // Names too: "50% off" is stored as it was typed.
    auto res = Post("type=Syslog&origname=&instancename=50%25+off%3C%3E&port=1");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303) << res->body;
    EXPECT_TRUE(fs::exists(notify / "50% off<>"));
}

// An edit may not turn an instance into one of another type: 400, and `apply` refuses it.
TEST_F(WebServerTest, FormOfAnotherTypeDoesNotReplaceTheFile) {
    CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("parlanza").string()));
    ASSERT_EQ(reg.status, 0) << reg.err;
    const std::string router = SyslogFile("Router", "10.0.0.5", "keep", "514");
    testkit::WriteFile(notify / "Router", router);
    auto res = Post("type=TextSpeech&origname=Router&speakrate=1&volumerate=50&message=hi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_NE(res->body.find("&quot;Router&quot; is a Syslog notification; a TextSpeech form "
                             "cannot replace it"),
              std::string::npos)
        << res->body;
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), router);

    CommandResult r = Run("apply TextSpeech --dir " + ShellQuote(notify.string()) +
                          " --form 'origname=Syslog/Router&speakrate=1&volumerate=50&message=hi'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is a Syslog notification"), std::string::npos) << r.err;
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), router);
    // The same type is applied as before.
    r = Run("apply SysLog --dir " + ShellQuote(notify.string()) +
            " --form 'origname=Router&port=1&address=1.1.1.1&message=m'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), SyslogFile("Router", "1.1.1.1", "m", "1"));
}

TEST_F(WebServerTest, LogsToStandardOutputAndStopsCleanlyOnSignals) {
    testkit::WriteFile(notify / "Broken", "[Syslog\\Broken]\r\nCLSID=wrong\r\n");
    client->Get("/_editnotify.cgi?name=Broken");
    EXPECT_EQ(server->Stop(SIGTERM), 0);
    EXPECT_EQ(server->rest, "Syslog::Notify:Failed to load instance data\r\n"
                            "Stopped (SIGTERM).\n");

    WebServer second(Registry(), notify);
    ASSERT_NE(second.port(), 0);
    EXPECT_EQ(second.Stop(SIGINT), 0);
    EXPECT_EQ(second.rest, "Stopped (SIGINT).\n");
}

// DNS rebinding and cross-site forms: a request addressed to another host name is refused,
// and so is a form whose Origin (or, without one, Referer) is not the server's own.
TEST_F(WebServerTest, RefusesOtherHostsAndOtherOrigins) {
    const std::string router = SyslogFile("Router", "10.0.0.5", "keep", "514");
    testkit::WriteFile(notify / "Router", router);
    const std::string form = "type=Syslog&origname=Router&port=1&address=6.6.6.6&message=evil";

    httplib::Client bare("127.0.0.1", server->port());
    auto res = bare.Get("/_maincfgreg.cgi", {{"Host", "evil.example"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    EXPECT_EQ(res->body.find("Router"), std::string::npos);
    res = bare.Get("/_maincfgreg.cgi", {{"Host", "127.0.0.1:1"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    res = bare.Get("/_maincfgreg.cgi", {{"Host", "LOCALHOST:" + std::to_string(server->port())}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);

    struct Case {
        httplib::Headers headers;
        int status;
    } cases[] = {
        {{{"Origin", "http://evil.example"}}, 403},
        {{{"Origin", "null"}}, 403},
        {{{"Origin", "http://127.0.0.1:1"}}, 403},
        {{{"Origin", "https://127.0.0.1:" + std::to_string(server->port())}}, 403},
        {{{"Origin", "http://evil.example"}, {"Referer", Origin() + "/_editnotify.cgi"}}, 403},
        {{{"Referer", "http://evil.example/form"}}, 403},
        {{{"Referer", Origin() + ".evil.example/"}}, 403},
        {{}, 403}, // neither: not from a page of this server
        {{{"Host", "evil.example"}, {"Origin", "http://evil.example"}}, 403},
    };
    for (const Case& c : cases) {
        res = bare.Post("/_maincfgret.cgi", c.headers, form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << res->body;
        EXPECT_EQ(testkit::ReadFile(notify / "Router"), router);
        res = bare.Post("/_deletenotify.cgi", c.headers, "name=Router&confirm=Delete",
                        "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 403);
        EXPECT_TRUE(fs::exists(notify / "Router"));
    }
    // The server's own page as Referer (a browser that sends no Origin) is taken.
    res = bare.Post("/_maincfgret.cgi", {{"Referer", Origin() + "/_editnotify.cgi?name=Router"}},
                    form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), SyslogFile("Router", "6.6.6.6", "evil", "1"));
}

TEST_F(WebHost, ListeningBeyondLoopbackNeedsCredentialsAndTls) {
    std::string d = ShellQuote(notify.string());
    testkit::WriteFile(dir / "users", "# operators\nadmin:s3cret\n");
    std::string users = ShellQuote((dir / "users").string());
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"--listen 10.1.2.3:80", "needs --password-file and --tls-cert/--tls-key"},
        {"--listen 0.0.0.0:80 --password-file " + users, "needs --password-file and --tls-cert"},
        {"--listen [::]:80 --tls-cert a --tls-key b", "needs --password-file and --tls-cert"},
        {"--tls-cert a", "--tls-cert and --tls-key go together"},
        {"--password-file " + ShellQuote((dir / "none").string()), "cannot read"},
        {"--tls-cert " + users + " --tls-key " + users, "cannot use the certificate"},
        {"--listen evil.example:80", "numeric address or localhost"},
    };
    for (const Case& c : cases) {
        CommandResult r = Run("web --dir " + d + " " + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

// On loopback too the server can ask for credentials and speak TLS.
TEST_F(WebHost, ServesTlsWithBasicAuthentication) {
    signal(SIGPIPE, SIG_IGN); // a TLS write to a closed connection fails, not kills
    fs::path cert = dir / "cert.pem", key = dir / "key.pem";
    CommandResult made = testkit::RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
        ShellQuote(key.string()) + " -out " + ShellQuote(cert.string()));
    ASSERT_EQ(made.status, 0) << made.err;
    testkit::WriteFile(dir / "users", "admin:s3cret\n");
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "keep", "514"));
    WebServer server(Registry(), notify,
                     {"--password-file", (dir / "users").string(), "--tls-cert", cert.string(),
                      "--tls-key", key.string(), "--server-name", "monitor.test"});
    ASSERT_NE(server.port(), 0) << server.FirstLine();
    EXPECT_EQ(server.FirstLine(),
              "Listening on https://127.0.0.1:" + std::to_string(server.port()) + "/\n");
    std::string origin = "https://127.0.0.1:" + std::to_string(server.port());

    httplib::SSLClient client("127.0.0.1", server.port());
    client.enable_server_certificate_verification(false);
    auto res = client.Get("/_maincfgreg.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    EXPECT_EQ(res->get_header_value("WWW-Authenticate").rfind("Basic realm=\"Sentrel\"", 0), 0u);
    client.set_basic_auth("admin", "wrong");
    res = client.Get("/_maincfgreg.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    res = client.Post("/_maincfgret.cgi", {{"Origin", origin}},
                      "type=Syslog&origname=Router&port=2", "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);

    client.set_basic_auth("admin", "s3cret");
    res = client.Get("/_maincfgreg.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find(">Router</A>"), std::string::npos);
    res = client.Post("/_maincfgret.cgi", {{"Origin", origin}},
                      "type=Syslog&origname=Router&port=2&address=10.0.0.5&message=keep",
                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(testkit::ReadFile(notify / "Router"), SyslogFile("Router", "10.0.0.5", "keep", "2"));
    // --server-name: the name browsers use is answered too, and is an origin of its own.
    std::string named = "monitor.test:" + std::to_string(server.port());
    res = client.Get("/_maincfgreg.cgi", {{"Host", named}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    res = client.Post("/_maincfgret.cgi", {{"Host", named}, {"Origin", "https://" + named}},
                      "type=Syslog&origname=Router&port=3&address=10.0.0.5&message=keep",
                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    res = client.Get("/_maincfgreg.cgi", {{"Host", "other.test:" + std::to_string(server.port())}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);

    // Plain HTTP gets no page from it.
    httplib::Client plain("127.0.0.1", server.port());
    res = plain.Get("/_maincfgreg.cgi");
    EXPECT_TRUE(!res || res->status != 200);
}

TEST_F(WebServerTest, DeleteAsksFirstThenRemovesTheFile) {
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "10.0.0.5", "m", "514"));
    testkit::WriteFile(notify / "Default", SyslogFile("Default", "10.0.0.1", "d", "514"));
    auto list = client->Get("/_maincfgreg.cgi");
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find(">Default</A> <EM class=\"default\">(Default: presets new "
                              "notifications)</EM>"),
              std::string::npos)
        << list->body;

    auto res = client->Get("/_deletenotify.cgi?name=Default");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("Delete the notification <B>Default</B>?"), std::string::npos);
    EXPECT_NE(res->body.find("This is the Default notification"), std::string::npos);
    res = client->Get("/_deletenotify.cgi?name=Router");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.find("This is the Default notification"), std::string::npos);
    EXPECT_NE(res->body.find("<INPUT type=\"submit\" name=\"confirm\" value=\"Delete\">"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(notify / "Router")); // asking deletes nothing

    // Without the confirmation, or for what is no instance, nothing is deleted.
    for (const char* form : {"name=Router", "name=Router&confirm=Yes", "name=..&confirm=Delete",
                             "name=V6&confirm=Delete", "name=missing&confirm=Delete"}) {
        fs::create_directory(notify / "V6");
        res = Post(form, "/_deletenotify.cgi");
        ASSERT_TRUE(res);
        EXPECT_GE(res->status, 400) << form;
        EXPECT_TRUE(fs::exists(notify / "Router")) << form;
        EXPECT_TRUE(fs::is_directory(notify / "V6")) << form;
    }
    res = Post("name=Router&confirm=Delete", "/_deletenotify.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(testkit::Listing(notify), (std::vector<std::string>{"Default", "V6"}));
    EXPECT_EQ(server->Stop(SIGTERM), 0);
    EXPECT_EQ(server->rest, "Deleted notification Router\nStopped (SIGTERM).\n");
}

// The Test action sends one alert through the instance, with the variables typed, and
// shows what the plug-in logged and its result.
TEST_F(WebServerTest, TestSendsOneAlertAndShowsTheLog) {
    testkit::UdpReceiver receiver;
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "127.0.0.1", "%H is down at 50%",
                                                     std::to_string(receiver.port())));
    auto page = client->Get("/_testnotify.cgi?name=Router");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<TEXTAREA name=\"vars\""), std::string::npos);

    auto res = Post("name=Router&vars=H%3Drouter-7%0D%0AX%3Dunused%0D%0A", "/_testnotify.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(receiver.Receive(), "router-7 is down at 50%");
    EXPECT_NE(res->body.find("<P id=\"result\">Notify returned 0x00000000 (S_OK)"),
              std::string::npos)
        << res->body;
    EXPECT_NE(res->body.find("<PRE id=\"log\">SysLog::Notify Processing...\r\nSysLog::Notify "
                             "Processing... Complete.\r\n</PRE>"),
              std::string::npos)
        << res->body;

    // A send that fails: the failure and its log lines.
    testkit::WriteFile(notify / "Router", SyslogFile("Router", "127.0.0.1", "m", "0"));
    res = Post("name=Router&vars=", "/_testnotify.cgi");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("Notify returned 0x80004005: the alert failed."), std::string::npos)
        << res->body;
    EXPECT_NE(res->body.find("Syslog::SendTo failed"), std::string::npos);
    EXPECT_FALSE(receiver.Receive(200).has_value());

    res = Post("name=Router&vars=novalue", "/_testnotify.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_NE(res->body.find("NAME=VALUE"), std::string::npos);
    res = Post("name=missing&vars=", "/_testnotify.cgi");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
}

// A speech alert is waited for: when the page answers, the voice has spoken it whole.
TEST_F(WebHost, TestOfASpeechInstanceWaitsForTheVoice) {
    testkit::SpeechSpool spool; // the server inherits the spool settings
    CommandResult reg = Run("register " + ShellQuote(testkit::PluginPath("parlanza").string()));
    ASSERT_EQ(reg.status, 0) << reg.err;
    testkit::WriteFile(notify / "Hall", "[TextSpeech\\Hall]\r\nCLSID={44440FAF-3359-11D5-8075-"
                                        "00E0295E9283}\r\nSpeakRate=0\r\nVolumnRate=100\r\n"
                                        "Message1=%H is down\r\nNO_OF_MESSAGE_LINES=1\r\n");
    WebServer server(Registry(), notify);
    ASSERT_NE(server.port(), 0);
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(150));
    auto res = client.Post(
        "/_testnotify.cgi", {{"Origin", "http://127.0.0.1:" + std::to_string(server.port())}},
        "name=Hall&vars=H%3Dthe+front+door+router", "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("Notify returned 0x00000000 (S_OK)"), std::string::npos) << res->body;
    std::vector<fs::path> files = spool.Files();
    ASSERT_EQ(files.size(), 1u);
    testkit::Wav wav = testkit::ReadWav(files[0]);
    EXPECT_GT(wav.Seconds(), 1.0); // "the front door router is down", not a cut-off start
    EXPECT_GT(wav.Peak(), 1000);
}

// Help links: a page of the plug-ins' help folders when one is installed, else a plain 404.
TEST_F(WebHost, HelpPagesComeFromThePlugInsHelpFolders) {
    fs::path modules = dir / "modules";
    fs::create_directories(modules / "Tellumo.chm");
    fs::copy_file(testkit::PluginPath("tellumo"), modules / "tellumo.so");
    testkit::WriteFile(modules / "Tellumo.chm" / "h_edtnotsyslog.htm", "<P>Syslog help</P>");
    testkit::WriteFile(modules / "Tellumo.chm" / "index.htm", "<P>Contents</P>");
    testkit::WriteFile(modules / "secret.htm", "not help");
    CommandResult reg = Run("register " + ShellQuote((modules / "tellumo.so").string()));
    ASSERT_EQ(reg.status, 0) << reg.err;
    WebServer server(Registry(), notify);
    ASSERT_NE(server.port(), 0);
    httplib::Client client("127.0.0.1", server.port());
    // Shown from inside its folder, so that the page's own links (index.htm) work.
    auto res = client.Get("/h_edtnotsyslog.htm");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 302);
    EXPECT_EQ(res->get_header_value("Location"), "/help/Tellumo.chm/h_edtnotsyslog.htm");
    client.set_follow_location(true);
    res = client.Get("/h_edtnotsyslog.htm");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "<P>Syslog help</P>");
    res = client.Get("/help/Tellumo.chm/index.htm");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "<P>Contents</P>");
    for (const char* path : {"/h_edtnotTTS.htm", "/h_nothing.htm", "/help/Tellumo.chm/missing.htm",
                             "/help/Tellumo.chm/..%2Fsecret.htm", "/help/Tellumo.chm/../secret.htm",
                             "/help/Other.chm/index.htm"}) {
        res = client.Get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->body.find("not help"), std::string::npos) << path;
    }
    res = client.Get("/h_edtnotTTS.htm");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("The help page h_edtnotTTS.htm is not installed with the plug-ins."),
              std::string::npos);
}

} // namespace
