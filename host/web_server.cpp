// web: the host's web configuration. The notification list (with test and delete), the plug-ins'
// new and edit pages, and the forms posted back from them. Every plug-in call runs on one thread of
// its own (the plug-ins' apartment), one call at a time.
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <winplat/comptr.h>
#include <winplat/winbase.h>

#include <httplib.h>

#include <winplat/winnls.h>

#include "diagnose.h"
#include "host.h"
#include "html_page.h"
#include "profile_document.h"
#include "notify_host.h"
#include "web_access.h"
#include "web_form.h"
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

// An instance file in the directory, and the type its file names.
struct Instance {
    std::string name; // UTF-8, as on disk
    const NotificationType* pType = nullptr;
    bool bSpellable = true; // the code page has the name: the plug-ins can open it
};

// The plug-ins' help folders: a folder NAME.chm beside a registered plug-in's module holds
// its pages. Name and POSIX path (with a trailing slash) of each.
std::vector<std::pair<std::string, std::string>> HelpFolders() {
    std::vector<std::pair<std::string, std::string>> folders;
    for (const NotificationType& type : ListNotificationTypes()) {
        HINSTANCE hInstance = nullptr;
        try {
            winplat::ComPtr<ISentrelNotificationConfig> config;
            config.Attach(static_cast<ISentrelNotificationConfig*>(
                CreatePlugin(type, IID_ISentrelNotificationConfig)));
            unsigned int nIcon = 0;
            config->GetIcon(&hInstance, &nIcon);
        } catch (const UsageError&) {
            continue;
        }
        char module[PATH_MAX] = {};
        char posix[PATH_MAX] = {};
        if (!hInstance || !GetModuleFileNameA(hInstance, module, sizeof module) ||
            !WinplatToPosixPath(module, posix, sizeof posix))
            continue;
        std::string beside(posix);
        beside.resize(beside.find_last_of('/') + 1);
        DIR* dir = opendir(beside.c_str());
        if (!dir)
            continue;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            struct stat status;
            std::string path = beside + name;
            if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".chm") == 0 &&
                stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
                folders.emplace_back(name, path + "/");
        }
        closedir(dir);
    }
    return folders;
}

bool IsRegularFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A button back to the form the operator filled in: the browser's history keeps what
// was typed.
constexpr char kBackToForm[] =
    "<P><BUTTON type=\"button\" id=\"back\" onclick=\"history.back()\">Back to the form"
    "</BUTTON> (what you typed is still there)</P>\r\n";

class WebConfiguration {
public:
    WebConfiguration(const std::string& posixDir, const std::string& pluginDir,
                     const WebAccess& access)
        : m_posixDir(posixDir), m_pluginDir(pluginDir), m_access(access), m_hostObject(stdout) {}

    void Route(httplib::Server& server) {
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return m_access.Refuse(req, res) ? httplib::Server::HandlerResponse::Handled
                                             : httplib::Server::HandlerResponse::Unhandled;
        });
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
        server.Get("/_deletenotify.cgi",
                   [this](const httplib::Request& req, httplib::Response& res) {
                       DeleteConfirmPage(req, res);
                   });
        server.Get("/_testnotify.cgi", [this](const httplib::Request& req, httplib::Response& res) {
            TestPage(req, res);
        });
        server.Get(R"(/(h_[A-Za-z0-9_]+\.htm))",
                   [this](const httplib::Request& req, httplib::Response& res) {
                       HelpTopic(req.matches[1], res);
                   });
        server.Get(R"(/help/([A-Za-z0-9_.-]+\.chm)/([A-Za-z0-9_-][A-Za-z0-9_.-]*\.htm))",
                   [this](const httplib::Request& req, httplib::Response& res) {
                       HelpPage(req.matches[1], req.matches[2], res);
                   });
        server.Post("/_maincfgret.cgi",
                    [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Apply(req, res, reader); });
        server.Post("/_deletenotify.cgi",
                    [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Delete(req, res, reader); });
        server.Post("/_testnotify.cgi",
                    [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Test(req, res, reader); });
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
                      const std::string& detail, const std::string& log = {},
                      bool bBackToForm = false) {
        std::string body = "<P id=\"failure\">" + HtmlEscape(detail) + "</P>\r\n";
        if (!log.empty())
            body +=
                "<P>What the plug-in logged:</P><PRE id=\"log\">" + HtmlEscape(log) + "</PRE>\r\n";
        if (bBackToForm)
            body += kBackToForm;
        res.status = status;
        res.set_content(HostPage(title, body), "text/html; charset=utf-8");
    }

    // A page's help link: the help folder that holds the topic, else a plain 404. The
    // topic is shown from inside its folder, so that its own links work.
    void HelpTopic(const std::string& topic, httplib::Response& res) {
        std::string folder = m_apartment.Run([&] {
            for (const auto& [name, path] : HelpFolders())
                if (IsRegularFile(path + topic))
                    return name;
            return std::string();
        });
        if (folder.empty())
            return Error(res, 404, "No help page",
                         "The help page " + topic + " is not installed with the plug-ins.");
        res.status = 302;
        res.set_header("Location", "/help/" + UrlEncode(folder) + "/" + topic);
    }

    void HelpPage(const std::string& folder, const std::string& page, httplib::Response& res) {
        std::string path = m_apartment.Run([&] {
            for (const auto& [name, beside] : HelpFolders())
                if (name == folder && IsRegularFile(beside + page))
                    return beside + page;
            return std::string();
        });
        std::ifstream in(path, std::ios::binary);
        if (path.empty() || !in)
            return Error(res, 404, "No help page",
                         "The help page " + folder + "/" + page +
                             " is not installed with the plug-ins.");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.set_content(text, "text/html; charset=utf-8");
    }

    // The registered types and the instances in the directory, read anew for each page.
    std::vector<Instance> Instances(const std::vector<NotificationType>& types) {
        std::vector<Instance> instances;
        DIR* dir = opendir(m_posixDir.c_str());
        if (!dir)
            throw std::runtime_error("cannot read the notification directory " + m_posixDir);
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (IsInstanceFile(name))
                instances.push_back(
                    {name, TypeOfFile(m_posixDir + "/" + name, types), FitsCodePage(name)});
        }
        closedir(dir);
        std::sort(instances.begin(), instances.end(),
                  [](const Instance& a, const Instance& b) { return a.name < b.name; });
        return instances;
    }

    // A save's temporary file is no instance, even one a killed save left behind.
    bool IsInstanceFile(const std::string& name) const {
        return IsInstanceName(name) && !IsProfileTempFileName(name) &&
               IsRegularFile(m_posixDir + "/" + name);
    }

    void ListPage(httplib::Response& res) {
        std::string body = m_apartment.Run([this] {
            std::vector<NotificationType> types = ListNotificationTypes();
            std::vector<Instance> instances = Instances(types);
            std::string html = "<P>Directory: <CODE>" + HtmlEscape(m_posixDir) +
                               "</CODE></P>\r\n<TABLE BORDER=1 CELLPADDING=3 CELLSPACING=0 "
                               "id=\"instances\"><TR><TH>Instance</TH><TH>Type</TH><TH></TH></TR>"
                               "\r\n";
            for (const Instance& i : instances) {
                std::string type = i.pType ? i.pType->displayName : "unknown";
                // A name that is no UTF-8 shows with U+FFFD where its bad bytes are.
                std::string name = HtmlEscape(Utf8(Utf16(i.name)));
                std::string query = "?name=" + UrlEncode(i.name);
                if (!i.bSpellable)
                    name += " (this name cannot be written in code page " +
                            std::to_string(GetACP()) + ", so the plug-ins cannot open it)";
                else if (i.pType && HasWebConfiguration(*i.pType))
                    name = "<A href=\"/_editnotify.cgi" + query + "\">" + name + "</A>";
                if (i.name == "Default")
                    name += " <EM class=\"default\">(Default: presets new notifications)</EM>";
                std::string actions;
                if (i.pType && i.bSpellable)
                    actions = "<A href=\"/_testnotify.cgi" + query + "\">Test</A> ";
                actions += "<A href=\"/_deletenotify.cgi" + query + "\">Delete</A>";
                html += "<TR><TD>" + name + "</TD><TD>" + HtmlEscape(type) + "</TD><TD>" + actions +
                        "</TD></TR>\r\n";
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

    // A plug-in's answer, or the failure: the plug-in's answer and what it logged.
    struct PluginAnswer {
        HRESULT hr = E_FAIL;
        std::string text; // the page, or what the plug-in logged
        std::string failure;
        int status = 400; // of the failure
    };

    void SendAnswer(httplib::Response& res, const PluginAnswer& answer, const char* what) {
        if (!answer.failure.empty())
            return Error(res, answer.status, "The page cannot be shown", answer.failure);
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

    // The type of the instance file `name`, or the failure in a.
    const NotificationType* InstanceType(const std::string& name,
                                         const std::vector<NotificationType>& types,
                                         PluginAnswer& a) {
        if (!IsInstanceFile(name)) {
            a.failure = "There is no notification named \"" + name + "\".";
            a.status = 404;
            return nullptr;
        }
        if (!FitsCodePage(name)) {
            a.failure = "The name \"" + name + "\" cannot be written in code page " +
                        std::to_string(GetACP()) + ", so the plug-ins cannot open it.";
            return nullptr;
        }
        const NotificationType* pType = TypeOfFile(m_posixDir + "/" + name, types);
        if (!pType)
            a.failure = "The notification \"" + name + "\" is of no registered type.";
        return pType;
    }

    void EditPage(const httplib::Request& req, httplib::Response& res) {
        std::string name = req.get_param_value("name");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            std::vector<NotificationType> types = ListNotificationTypes();
            const NotificationType* pType = InstanceType(name, types, a);
            if (!pType)
                return a;
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

    // Reads a URL-encoded form body of at most 1 MiB into body; otherwise answers (415 for
    // another kind of body, 413 for a longer one) and returns false.
    static bool ReadForm(const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader, std::string& body,
                         const char* title) {
        std::string kind = req.get_header_value("Content-Type");
        kind = kind.substr(0, kind.find(';'));
        while (!kind.empty() && kind.back() == ' ')
            kind.pop_back();
        if (req.is_multipart_form_data() ||
            (!kind.empty() && strcasecmp(kind.c_str(), "application/x-www-form-urlencoded") != 0)) {
            res.set_header("Connection", "close");
            Error(res, 415, title,
                  "The form must be sent URL-encoded (application/x-www-form-urlencoded), as "
                  "the pages of this server send it; nothing was changed.");
            return false;
        }
        constexpr size_t kMaxForm = 1 << 20;
        bool bTooLong = false;
        reader([&](const char* data, size_t length) {
            if (body.size() + length > kMaxForm) {
                bTooLong = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        if (bTooLong) {
            Error(res, 413, title, "The posted form is longer than 1 MiB; nothing was changed.");
            return false;
        }
        return true;
    }

    // What the host refuses before the plug-in sees a form: a name that cannot be saved or
    // is taken, an edit of an instance that is gone or of another type.
    void CheckTarget(const std::string& body, const std::string& pluginForm,
                     const NotificationType& type, PluginAnswer& a) {
        FormTarget target = TargetOfForm(pluginForm);
        std::string path = m_posixDir + "/" + target.name;
        if (target.bEdit) {
            std::string meant = InstanceNameFromOrigName(DecodedField(body, "origname"));
            if (target.name != meant) {
                a.failure = "The notification \"" + meant +
                            "\" cannot be saved from the web: its name holds \"&\", \"+\" or a "
                            "line break, which a posted form cannot carry. Nothing was changed.";
                return;
            }
            if (!IsInstanceName(target.name)) {
                a.failure = "The form names no notification that can be saved.";
                return;
            }
            if (!IsInstanceFile(target.name)) {
                a.failure = "The notification \"" + target.name +
                            "\" no longer exists; it was not saved. Create it anew from the list.";
                a.status = 409;
                return;
            }
            try {
                RefuseOtherType(m_posixDir, target, type);
            } catch (const UsageError& e) {
                a.failure = std::string("Not saved: ") + e.what() + ".";
            }
            return;
        }
        if (!IsInstanceName(target.name) || target.name.find(']') != std::string::npos) {
            a.failure = target.name.empty()
                            ? "Give the new notification a name."
                            : "The name \"" + target.name +
                                  "\" cannot be used: a name must not be \".\" or \"..\" nor hold "
                                  "\"/\", \"\\\" or \"]\". Choose another name.";
            return;
        }
        struct stat status;
        if (lstat(path.c_str(), &status) == 0) {
            a.failure = "A notification named \"" + target.name +
                        "\" already exists. Choose another name, or edit that notification from "
                        "the list.";
            a.status = 409;
        }
    }

    void Apply(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader& reader) {
        std::string body;
        if (!ReadForm(req, res, reader, body, "The form was not saved"))
            return;
        std::string pluginForm = DecodeFormForPlugin(body);
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
            CheckTarget(body, pluginForm, type, a);
            if (!a.failure.empty())
                return a;
            a.hr = CallPlugin(type, a.text, [&](ISentrelNotificationWeb* web, BSTR*) {
                winplat::Bstr dir(Utf16(m_pluginDir));
                winplat::Bstr form(Utf16(pluginForm));
                return web->ApplyPostedForm(dir.Get(), form.Get());
            });
            if (a.hr == E_NOINTERFACE)
                a.failure = "notification type " + type.subkey + " has no web configuration";
            return a;
        });
        if (!answer.failure.empty())
            return Error(res, answer.status, "The form was not saved", answer.failure, {}, true);
        if (answer.hr != S_OK)
            return Error(res, 500, "The form was not saved",
                         "ApplyPostedForm of " + typeName + " returned " + HresultText(answer.hr) +
                             ".",
                         answer.text, true);
        res.status = 303;
        res.set_header("Location", "/_maincfgreg.cgi");
    }

    void DeleteConfirmPage(const httplib::Request& req, httplib::Response& res) {
        std::string name = req.get_param_value("name");
        bool bExists = m_apartment.Run([&] { return IsInstanceFile(name); });
        if (!bExists)
            return Error(res, 404, "Nothing to delete",
                         "There is no notification named \"" + name + "\".");
        std::string body = "<P id=\"question\">Delete the notification <B>" + HtmlEscape(name) +
                           "</B>? Its file is removed from the directory.</P>\r\n";
        if (name == "Default")
            body += "<P id=\"default\">This is the Default notification: new notifications take "
                    "their presets from it.</P>\r\n";
        body += "<FORM method=\"post\" action=\"/_deletenotify.cgi\"><INPUT type=\"hidden\" "
                "name=\"name\" value=\"" +
                HtmlEscape(name) +
                "\"><INPUT type=\"submit\" name=\"confirm\" value=\"Delete\"> <A "
                "href=\"/_maincfgreg.cgi\">Cancel</A></FORM>\r\n";
        res.set_content(HostPage("Delete notification", body), "text/html; charset=utf-8");
    }

    void Delete(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) {
        std::string body;
        if (!ReadForm(req, res, reader, body, "Nothing was deleted"))
            return;
        std::string name = DecodedField(body, "name");
        if (DecodedField(body, "confirm") != "Delete")
            return Error(res, 400, "Nothing was deleted",
                         "Deleting needs the confirmation of its page.");
        std::string failure = m_apartment.Run([&]() -> std::string {
            if (!IsInstanceFile(name))
                return "There is no notification named \"" + name + "\".";
            // One unlink: the file is there whole or gone, never half.
            if (unlink((m_posixDir + "/" + name).c_str()) != 0)
                return "The notification \"" + name +
                       "\" cannot be deleted: " + std::strerror(errno) + ".";
            std::printf("Deleted notification %s\n", name.c_str());
            std::fflush(stdout);
            return {};
        });
        if (!failure.empty())
            return Error(res, 404, "Nothing was deleted", failure);
        res.status = 303;
        res.set_header("Location", "/_maincfgreg.cgi");
    }

    void TestPage(const httplib::Request& req, httplib::Response& res) {
        std::string name = req.get_param_value("name");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            std::vector<NotificationType> types = ListNotificationTypes();
            InstanceType(name, types, a);
            return a;
        });
        if (!answer.failure.empty())
            return Error(res, answer.status, "Nothing to test", answer.failure);
        std::string body =
            "<P>Sends one alert through the notification <B>" + HtmlEscape(name) +
            "</B>, as the monitor would. Variables (one NAME=VALUE a line) replace %NAME in its "
            "texts.</P>\r\n<FORM method=\"post\" action=\"/_testnotify.cgi\"><INPUT "
            "type=\"hidden\" name=\"name\" value=\"" +
            HtmlEscape(name) +
            "\"><TEXTAREA name=\"vars\" cols=40 rows=6>H=router-7\r\n</TEXTAREA><BR><INPUT "
            "type=\"submit\" value=\"Send test alert\"></FORM>\r\n";
        res.set_content(HostPage("Test notification", body), "text/html; charset=utf-8");
    }

    void Test(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader) {
        std::string body;
        if (!ReadForm(req, res, reader, body, "No alert was sent"))
            return;
        std::string name = DecodedField(body, "name");
        std::string vars = DecodedField(body, "vars");
        PluginAnswer answer = m_apartment.Run([&] {
            PluginAnswer a;
            std::vector<NotificationType> types = ListNotificationTypes();
            const NotificationType* pType = InstanceType(name, types, a);
            if (!pType)
                return a;
            NotifyHost alertHost(stdout);
            for (size_t at = 0; at < vars.size();) {
                size_t end = vars.find('\n', at);
                std::string line = vars.substr(at, end == std::string::npos ? end : end - at);
                at = end == std::string::npos ? vars.size() : end + 1;
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                size_t eq = line.find('=');
                if (line.empty())
                    continue;
                if (eq == std::string::npos || eq == 0) {
                    a.failure = "Each variable needs the form NAME=VALUE, not \"" + line + "\".";
                    return a;
                }
                alertHost.AddVariable(Utf16(line.substr(0, eq)), Utf16(line.substr(eq + 1)));
            }
            alertHost.SetCapture(&a.text);
            try {
                // Speech is waited for, at most two minutes, so the page shows the outcome.
                a.hr = DeliverAlert(*pType, m_pluginDir + "\\" + name, alertHost, 120000);
            } catch (const UsageError& e) {
                a.failure = e.what();
            }
            std::fflush(stdout);
            return a;
        });
        if (!answer.failure.empty())
            return Error(res, answer.status, "No alert was sent", answer.failure, {}, true);
        std::string page =
            "<P id=\"result\">Notify returned " + HresultText(answer.hr) +
            (answer.hr == S_OK ? " (S_OK): the alert was delivered." : ": the alert failed.") +
            "</P>\r\n<P>What the plug-in logged:</P><PRE id=\"log\">" + HtmlEscape(answer.text) +
            "</PRE>\r\n<P><A href=\"/_testnotify.cgi?name=" + UrlEncode(name) +
            "\">Test again</A></P>\r\n";
        res.set_content(HostPage("Test of " + name, page), "text/html; charset=utf-8");
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
    const WebAccess& m_access;
    NotifyHost m_hostObject; // used on the apartment's thread only
    Apartment m_apartment;
};

} // namespace

int CommandWeb(const Args& args) {
    std::string dir;
    std::string listenText = "127.0.0.1:8080";
    std::string passwordFile, tlsCert, tlsKey;
    std::vector<std::string> serverNames;
    for (size_t i = 0; i < args.size(); ++i) {
        bool bValue = i + 1 < args.size();
        if (args[i] == "--dir" && bValue)
            dir = args[++i];
        else if (args[i] == "--listen" && bValue)
            listenText = args[++i];
        else if (args[i] == "--password-file" && bValue)
            passwordFile = args[++i];
        else if (args[i] == "--tls-cert" && bValue)
            tlsCert = args[++i];
        else if (args[i] == "--tls-key" && bValue)
            tlsKey = args[++i];
        else if (args[i] == "--server-name" && bValue)
            serverNames.push_back(args[++i]);
        else
            throw UsageError("web: unexpected argument " + args[i]);
    }
    if (dir.empty())
        throw UsageError("usage: web --dir DIR [--listen ADDR:PORT] [--password-file FILE] "
                         "[--tls-cert FILE --tls-key FILE] [--server-name NAME]...");
    WebListen listen = ParseListen(listenText);
    if (tlsCert.empty() != tlsKey.empty())
        throw UsageError("web: --tls-cert and --tls-key go together");
    bool bTls = !tlsCert.empty();
    WebAccess access(bTls, serverNames);
    if (!passwordFile.empty())
        access.LoadPasswordFile(passwordFile);
    if (!listen.bLoopback && (!bTls || !access.HasCredentials()))
        throw UsageError("web: listening on " + listen.address +
                         ", which is not loopback, needs --password-file and --tls-cert/--tls-key");
    if (listen.bAnyAddress && serverNames.empty())
        throw UsageError("web: listening on every address needs --server-name NAME, the name "
                         "browsers address the server by");
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
    // A browser that goes away mid-answer must not end the server (TLS writes raise it).
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<httplib::Server> server;
    if (bTls) {
        auto secure = std::make_unique<httplib::SSLServer>(tlsCert.c_str(), tlsKey.c_str());
        if (!secure->is_valid())
            throw UsageError("web: cannot use the certificate " + tlsCert + " with the key " +
                             tlsKey);
        server = std::move(secure);
    } else {
        server = std::make_unique<httplib::Server>();
    }
    WebConfiguration configuration(posix, pluginDir, access);
    configuration.Route(*server);
    int bound = listen.port == 0
                    ? server->bind_to_any_port(listen.address)
                    : (server->bind_to_port(listen.address, listen.port) ? listen.port : -1);
    if (bound < 0) {
        std::string why = ListenProblem(listen.address, listen.port);
        throw UsageError("web: cannot listen on " + listenText + (why.empty() ? "" : ": " + why) +
                         "; try --listen 127.0.0.1:0 for a free port");
    }
    access.SetListening(listen, bound);
    std::printf("Listening on %s/\n", access.Origin().c_str());
    std::fflush(stdout);

    std::atomic<bool> bListenerDone{false};
    std::thread listener([&] {
        server->listen_after_bind();
        bListenerDone = true;
    });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // stop() only takes effect once the server runs: a signal that comes very early waits
    // for the listener to start.
    while (!server->is_running() && !bListenerDone)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server->stop();
    listener.join();
    std::printf("Stopped (%s).\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stdout);
    return 0;
}

} // namespace host
