// web: the host's web configuration on loopback. The notification list, the plug-ins' new
// and edit pages, and the forms posted back from them. Every plug-in call runs on one
// thread of its own (the plug-ins' apartment), one call at a time.
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <httplib.h>

#include <winplat/winnls.h>

#include "diagnose.h"
#include "host.h"
#include "html_page.h"
#include "profile_document.h"
#include "notify_host.h"
#include "web_plugin.h"

namespace host {

namespace {

// The thread on which every plug-in object is created and called.
class Apartment {
public:
    Apartment() : m_thread([this] { Loop(); }) {}
    ~Apartment() {
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    // Runs fn on the apartment's thread and waits for it; its exception comes back here.
    template <class F> auto Run(F fn) -> decltype(fn()) {
        std::packaged_task<decltype(fn())()> task(std::move(fn));
        auto result = task.get_future();
        {
            std::lock_guard lock(m_mutex);
            m_tasks.emplace_back([&task] { task(); });
        }
        m_wake.notify_one();
        return result.get();
    }

private:
    void Loop() {
        CoInitialize(nullptr);
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_bStop || !m_tasks.empty(); });
                if (m_tasks.empty())
                    break;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
        CoUninitialize();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_bStop = false;
    std::thread m_thread;
};

std::string UrlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The value of a field of a URL-encoded form, decoded; empty when absent.
std::string DecodedField(const std::string& form, const std::string& name) {
    for (size_t at = 0; at <= form.size();) {
        size_t end = form.find('&', at);
        if (end == std::string::npos)
            end = form.size();
        std::string field = form.substr(at, end - at);
        if (field.rfind(name + "=", 0) == 0)
            return httplib::detail::decode_url(field.substr(name.size() + 1), true);
        at = end + 1;
    }
    return {};
}

std::string HostPage(const std::string& title, const std::string& body) {
    return "<HTML><HEAD><TITLE>Sentrel</TITLE><META charset=\"utf-8\"></HEAD><BODY "
           "bgcolor=\"#ffffff\"><H2>" +
           HtmlEscape(title) + "</H2>\r\n" + body +
           "<HR><A href=\"/_maincfgreg.cgi\">Notifications</A> | <A href=\"/_top.cgi\">Top "
           "view</A>\r\n</BODY></HTML>\r\n";
}

// A notification instance in the directory, and the type its file names.
struct Instance {
    std::string name; // UTF-8, as on disk
    const NotificationType* pType = nullptr;
    bool bSpellable = true; // the code page has the name: the plug-ins can open it
};

// The instance's type: the section prefix of its file (Syslog\Router alarms is a SysLog
// instance), else its CLSID value; null when neither names a registered type.
const NotificationType* TypeOfFile(const std::string& path,
                                   const std::vector<NotificationType>& types) {
    std::ifstream in(path, std::ios::binary);
    std::string line, prefix, clsid;
    for (int count = 0; count < 64 && std::getline(in, line); ++count) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        line.erase(0, start);
        if (line[0] == '[' && prefix.empty()) {
            size_t cut = line.find_first_of("\\]", 1);
            prefix = line.substr(1, cut == std::string::npos ? std::string::npos : cut - 1);
        } else if (strncasecmp(line.c_str(), "CLSID=", 6) == 0 && clsid.empty()) {
            clsid = line.substr(6);
        }
    }
    for (const NotificationType& t : types)
        if (!prefix.empty() && strcasecmp(t.subkey.c_str(), prefix.c_str()) == 0)
            return &t;
    for (const NotificationType& t : types)
        if (!clsid.empty() && strcasecmp(t.clsid.c_str(), clsid.c_str()) == 0)
            return &t;
    return nullptr;
}

// Whether a requested name is a plain file name in the directory.
bool IsInstanceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

class WebConfiguration {
public:
    WebConfiguration(const std::string& posixDir, const std::string& pluginDir)
        : m_posixDir(posixDir), m_pluginDir(pluginDir), m_hostObject(stdout) {}

    void Route(httplib::Server& server) {
        auto list = [this](const httplib::Request&, httplib::Response& res) { ListPage(res); };
        server.Get("/", list);
        server.Get("/_maincfgreg.cgi", list);
        server.Get("/_top.cgi",
                   [this](const httplib::Request&, httplib::Response& res) { TopPage(res); });
        server.Get("/_newnotify.cgi", [this](const httplib::Request& req, httplib::Response& res) {
            NewPage(req, res);
        });
        server.Get("/_editnotify.cgi", [this](const httplib::Request& req, httplib::Response& res) {
            EditPage(req, res);
        });
        server.Get(R"(/(h_[A-Za-z0-9_]+\.htm))",
                   [](const httplib::Request&, httplib::Response& res) { HelpPage(res); });
        server.Post("/_maincfgret.cgi",
                    [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Apply(req, res, reader); });
        server.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
                std::string why = "unknown failure";
                try {
                    std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    why = e.what();
                } catch (...) {
                }
                Error(res, 500, "The host failed", why);
            });
    }

private:
    static void Error(httplib::Response& res, int status, const std::string& title,
                      const std::string& detail, const std::string& log = {}) {
        std::string body = "<P id=\"failure\">" + HtmlEscape(detail) + "</P>\r\n";
        if (!log.empty())
            body +=
                "<P>What the plug-in logged:</P><PRE id=\"log\">" + HtmlEscape(log) + "</PRE>\r\n";
        res.status = status;
        res.set_content(HostPage(title, body), "text/html; charset=utf-8");
    }

    static void HelpPage(httplib::Response& res) {
        res.set_content(HostPage("Help",
                                 "<P>Each notification is one instance file in the host's "
                                 "notification directory. Fill in the fields and press Submit "
                                 "to save it; the instance name of an existing notification "
                                 "cannot be changed here.</P>\r\n"),
                        "text/html; charset=utf-8");
    }

    // The registered types and the instances in the directory, read anew for each page.
    std::vector<Instance> Instances(const std::vector<NotificationType>& types) {
        std::vector<Instance> instances;
        DIR* dir = opendir(m_posixDir.c_str());
        if (!dir)
            throw std::runtime_error("cannot read the notification directory " + m_posixDir);
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            std::string path = m_posixDir + "/" + name;
            struct stat status;
            // A save's temporary file is no instance, even one a killed save left behind.
            if (!IsInstanceName(name) || IsProfileTempFileName(name) ||
                stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
                continue;
            instances.push_back({name, TypeOfFile(path, types), FitsCodePage(name)});
        }
        closedir(dir);
        std::sort(instances.begin(), instances.end(),
                  [](const Instance& a, const Instance& b) { return a.name < b.name; });
        return instances;
    }

    void ListPage(httplib::Response& res) {
        std::string body = m_apartment.Run([this] {
            std::vector<NotificationType> types = ListNotificationTypes();
            std::vector<Instance> instances = Instances(types);
            std::string html = "<P>Directory: <CODE>" + HtmlEscape(m_posixDir) +
                               "</CODE></P>\r\n<TABLE BORDER=1 CELLPADDING=3 CELLSPACING=0 "
                               "id=\"instances\"><TR><TH>Instance</TH><TH>Type</TH></TR>\r\n";
            for (const Instance& i : instances) {
                std::string type = i.pType ? i.pType->displayName : "unknown";
                // A name that is no UTF-8 shows with U+FFFD where its bad bytes are.
                std::string name = HtmlEscape(Utf8(Utf16(i.name)));
                if (!i.bSpellable)
                    name += " (this name cannot be written in code page " +
                            std::to_string(GetACP()) + ", so the plug-ins cannot open it)";
                else if (i.pType && HasWebConfiguration(*i.pType))
                    name = "<A href=\"/_editnotify.cgi?name=" + UrlEncode(i.name) + "\">" + name +
                           "</A>";
                html += "<TR><TD>" + name + "</TD><TD>" + HtmlEscape(type) + "</TD></TR>\r\n";
            }
            html += "</TABLE>\r\n<H3>New notification</H3>\r\n<UL id=\"new\">\r\n";
            for (const NotificationType& t : types)
                if (HasWebConfiguration(t))
                    html += "<LI><A href=\"/_newnotify.cgi?type=" + UrlEncode(t.subkey) +
                            "\">New " + HtmlEscape(t.displayName) + " notification</A></LI>\r\n";
            return html + "</UL>\r\n";
        });
        res.set_content(HostPage("Notifications", body), "text/html; charset=utf-8");
    }

    void TopPage(httplib::Response& res) {
        size_t count = m_apartment.Run([this] {
            std::vector<NotificationType> types = ListNotificationTypes();
            return Instances(types).size();
        });
        res.set_content(HostPage("Sentrel", "<P>Notification directory <CODE>" +
                                                HtmlEscape(m_posixDir) +
                                                "</CODE>: " + std::to_string(count) +
                                                " notification(s).</P>\r\n"),
                        "text/html; charset=utf-8");
    }

    // A plug-in's page, or the failure: the plug-in's answer and what it logged.
    struct PluginAnswer {
        HRESULT hr = E_FAIL;
        std::string text; // the page, or what the plug-in logged
        std::string failure;
    };

    void SendAnswer(httplib::Response& res, const PluginAnswer& answer, const char* what) {
        if (!answer.failure.empty())
            return Error(res, 400, "The page cannot be shown", answer.failure);
        if (answer.hr != S_OK)
            return Error(res, 500, "The page cannot be shown",
                         std::string(what) + " returned " + HresultText(answer.hr) + ".",
                         answer.text);
        res.set_content(answer.text, "text/html; charset=utf-8");
    }

    void NewPage(const httplib::Request& req, httplib::Response& res) {
        std::string typeName = req.get_param_value("type");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            NotificationType type;
            try {
                type = FindNotificationType(typeName);
            } catch (const UsageError& e) {
                a.failure = e.what();
                return a;
            }
            a.hr = CallPlugin(type, a.text, [&](ISentrelNotificationWeb* web, BSTR* out) {
                winplat::Bstr dir(Utf16(m_pluginDir));
                return web->GetNewPage(dir.Get(), out);
            });
            if (a.hr == E_NOINTERFACE)
                a.failure = "notification type " + type.subkey + " has no web configuration";
            return a;
        });
        SendAnswer(res, answer, "GetNewPage");
    }

    void EditPage(const httplib::Request& req, httplib::Response& res) {
        std::string name = req.get_param_value("name");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            std::vector<NotificationType> types = ListNotificationTypes();
            std::string path = m_posixDir + "/" + name;
            struct stat status;
            if (!IsInstanceName(name) || IsProfileTempFileName(name) ||
                stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
                a.failure = "there is no notification named \"" + name + "\"";
                return a;
            }
            if (!FitsCodePage(name)) {
                a.failure = "the name \"" + name + "\" cannot be written in code page " +
                            std::to_string(GetACP()) + ", so the plug-ins cannot open it";
                return a;
            }
            const NotificationType* pType = TypeOfFile(path, types);
            if (!pType) {
                a.failure = "the notification \"" + name + "\" is of no registered type";
                return a;
            }
            a.hr = CallPlugin(*pType, a.text, [&](ISentrelNotificationWeb* web, BSTR* out) {
                winplat::Bstr instance(Utf16(m_pluginDir + "\\" + name));
                return web->GetEditPage(instance.Get(), out);
            });
            if (a.hr == E_NOINTERFACE)
                a.failure = "notification type " + pType->subkey + " has no web configuration";
            return a;
        });
        SendAnswer(res, answer, "GetEditPage");
    }

    void Apply(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader& reader) {
        constexpr size_t kMaxForm = 1 << 20;
        std::string body;
        bool bTooLong = false;
        reader([&](const char* data, size_t length) {
            if (body.size() + length > kMaxForm) {
                bTooLong = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        if (bTooLong)
            return Error(res, 413, "The form was not saved", "the posted form is too long");

        std::string typeName = DecodedField(body, "type");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            NotificationType type;
            try {
                type = FindNotificationType(typeName);
            } catch (const UsageError& e) {
                a.failure = e.what();
                return a;
            }
            a.hr = CallPlugin(type, a.text, [&](ISentrelNotificationWeb* web, BSTR*) {
                // The plug-in gets the body as it came, undecoded.
                winplat::Bstr dir(Utf16(m_pluginDir));
                winplat::Bstr form(Utf16(body));
                return web->ApplyPostedForm(dir.Get(), form.Get());
            });
            if (a.hr == E_NOINTERFACE)
                a.failure = "notification type " + type.subkey + " has no web configuration";
            return a;
        });
        if (!answer.failure.empty())
            return Error(res, 400, "The form was not saved", answer.failure);
        if (answer.hr != S_OK)
            return Error(res, 500, "The form was not saved",
                         "ApplyPostedForm of " + typeName + " returned " + HresultText(answer.hr) +
                             ".",
                         answer.text);
        res.status = 303;
        res.set_header("Location", "/_maincfgreg.cgi");
    }

    // Creates the plug-in on the apartment's thread, calls it and releases it. On success
    // a page the call returned is in text; on failure text holds what the plug-in logged.
    // E_NOINTERFACE when the type has no web configuration.
    HRESULT CallPlugin(const NotificationType& type, std::string& text,
                       const std::function<HRESULT(ISentrelNotificationWeb*, BSTR*)>& call) {
        std::string log;
        m_hostObject.SetCapture(&log);
        HRESULT hr;
        winplat::Bstr html;
        {
            WebPlugin plugin(type, &m_hostObject);
            hr = plugin.Web() ? call(plugin.Web(), html.Put()) : E_NOINTERFACE;
        }
        m_hostObject.SetCapture(nullptr);
        std::fflush(stdout);
        text = hr == S_OK ? Utf8FromBstr(html.Get()) : log;
        return hr;
    }

    std::string m_posixDir;
    std::string m_pluginDir;
    NotifyHost m_hostObject; // used on the apartment's thread only
    Apartment m_apartment;
};

// ADDR:PORT on loopback: 127.x.x.x, localhost or [::1].
void ParseListen(const std::string& text, std::string& address, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size())
        throw UsageError("--listen needs ADDR:PORT, got " + text);
    address = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5 ||
        std::stoi(portText) > 65535)
        throw UsageError("--listen: bad port " + portText);
    port = std::stoi(portText);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (address == "localhost")
        address = "127.0.0.1";
    if (address.rfind("127.", 0) != 0 && address != "::1")
        throw UsageError("web listens on loopback only (127.0.0.1, localhost or [::1]), not " +
                         address);
}

} // namespace

int CommandWeb(const Args& args) {
    std::string dir;
    std::string listen = "127.0.0.1:8080";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size())
            dir = args[++i];
        else if (args[i] == "--listen" && i + 1 < args.size())
            listen = args[++i];
        else
            throw UsageError("web: unexpected argument " + args[i]);
    }
    if (dir.empty())
        throw UsageError("usage: web --dir DIR [--listen ADDR:PORT]");
    std::string address;
    int port = 0;
    ParseListen(listen, address, port);
    std::string pluginDir = PluginDirectory(dir);
    char posix[PATH_MAX];
    if (!realpath(dir.c_str(), posix))
        throw UsageError("not a directory: " + dir);
    ListNotificationTypes(); // the host's keys must be there before anything is served

    // SIGINT and SIGTERM are taken by sigwait below, never by a handler, so every thread
    // started from here on leaves them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    WebConfiguration configuration(posix, pluginDir);
    httplib::Server server;
    configuration.Route(server);
    int bound = port == 0 ? server.bind_to_any_port(address)
                          : (server.bind_to_port(address, port) ? port : -1);
    if (bound < 0) {
        std::string why = ListenProblem(address, port);
        throw UsageError("web: cannot listen on " + listen + (why.empty() ? "" : ": " + why) +
                         "; try --listen 127.0.0.1:0 for a free port");
    }
    std::string shown = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::printf("Listening on http://%s:%d/\n", shown.c_str(), bound);
    std::fflush(stdout);

    std::atomic<bool> bListenerDone{false};
    std::thread listener([&] {
        server.listen_after_bind();
        bListenerDone = true;
    });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // stop() only takes effect once the server runs: a signal that comes very early waits
    // for the listener to start.
    while (!server.is_running() && !bListenerDone)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.stop();
    listener.join();
    std::printf("Stopped (%s).\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stdout);
    return 0;
}

} // namespace host
