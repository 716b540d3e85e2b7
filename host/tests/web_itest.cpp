// The host's web configuration as a user runs it: `page` and `apply` from the command line,
// and `sentrel web` serving a fresh registry and notification directory on loopback.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>

#include "testkit.h"
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
    WebServer(const std::string& registry, const fs::path& directory) {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::string host = testkit::HostPath().string();
            execl(host.c_str(), host.c_str(), "--registry", registry.c_str(), "web", "--dir",
                  directory.c_str(), "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        m_out = fdopen(fds[0], "r");
        char line[256] = {};
        if (std::fgets(line, sizeof line, m_out))
            m_first = line;
        unsigned port = 0;
        if (std::sscanf(line, "Listening on http://127.0.0.1:%u/", &port) == 1)
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
    }
    httplib::Result Post(const std::string& form) {
        return client->Post("/_maincfgret.cgi", form, "application/x-www-form-urlencoded");
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
        EXPECT_NE(page.find("<TR><TD><A href=\"/_editnotify.cgi?name=Router%20alarms\">Router "
                            "alarms</A></TD><TD>Syslog</TD></TR>"),
                  std::string::npos)
            << page;
        EXPECT_NE(page.find("<TR><TD><A href=\"/_editnotify.cgi?name=By%20id\">By "
                            "id</A></TD><TD>Syslog</TD></TR>"),
                  std::string::npos);
        EXPECT_NE(page.find("<TR><TD>a&lt;b&gt;</TD><TD>unknown</TD></TR>"), std::string::npos);
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
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "Alert on %25H", "514"));

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
    auto res = Post("type=Syslog&origname=&instancename=Router&port=1");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    EXPECT_NE(res->body.find("ApplyPostedForm of Syslog returned 0x80004005."), std::string::npos);
    EXPECT_NE(res->body.find(testkit::ZPath(notify) +
                             "\\Router Syslog Notification - Instance name already exists."),
              std::string::npos)
        << res->body;
    EXPECT_EQ(testkit::ReadFile(notify / "Router"),
              SyslogFile("Router", "10.0.0.5", "keep", "514"));

    res = Post("type=NoSuch&instancename=x");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_NE(res->body.find("unknown notification type NoSuch"), std::string::npos);
    EXPECT_FALSE(fs::exists(notify / "x"));

    for (const char* path : {"/_editnotify.cgi?name=missing", "/_editnotify.cgi?name=..",
                             "/_editnotify.cgi?name=..%2Fnotify%2FRouter"}) {
        res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 400) << path;
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
        EXPECT_EQ(client.Get("/_editnotify.cgi?name=%5Dpd0ABC.tmp")->status, 400);

        server.Stop(SIGTERM);
    }
}

TEST_F(WebServerTest, LogsToStandardOutputAndStopsCleanlyOnSignals) {
    Post("type=Syslog&instancename=..&port=1");
    EXPECT_EQ(server->Stop(SIGTERM), 0);
    EXPECT_EQ(server->rest, testkit::ZPath(notify) +
                                "\\.. Syslog Notification - Failed saving file.\r\n"
                                "Stopped (SIGTERM).\n");

    WebServer second(Registry(), notify);
    ASSERT_NE(second.port(), 0);
    EXPECT_EQ(second.Stop(SIGINT), 0);
    EXPECT_EQ(second.rest, "Stopped (SIGINT).\n");
}

} // namespace
