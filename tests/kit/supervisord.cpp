#include "supervisord.h"

#include <arpa/inet.h>
#include <csignal>
#include <map>
#include <cstring>
#include <netinet/in.h>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <winplat/winreg.h>

namespace fs = std::filesystem;

namespace testkit {
namespace {

std::string Base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                     (unsigned char)bytes[i + 2];
        out += {digits[n >> 18], digits[(n >> 12) & 63], digits[(n >> 6) & 63], digits[n & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned n = (unsigned char)bytes[i] << 16;
        out += {digits[n >> 18], digits[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += {digits[n >> 18], digits[(n >> 12) & 63], digits[(n >> 6) & 63], '='};
    }
    return out;
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

// One HTTP exchange on loopback; empty when nothing answers.
std::string HttpPost(int port, const std::string& body, const std::string& auth) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = "POST /RPC2 HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                              "Content-Type: text/xml\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n";
        if (!auth.empty())
            request += "Authorization: Basic " + Base64(auth) + "\r\n";
        request += "\r\n" + body;
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t got;
            while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0)
                response.append(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    return response;
}

void SetValue(const std::string& machine, const std::string& name, DWORD type, const BYTE* data,
              DWORD size) {
    std::string path = "Software\\Calvaro\\Sentrel\\ServiceManager";
    if (!machine.empty())
        path += "\\Machines\\" + machine;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
    LONG result = RegSetValueExA(key, name.c_str(), 0, type, data, size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot set " + path + "\\" + name);
}

} // namespace

namespace {

int UnusedPortOfType(int type) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback port");
    close(fd);
    return ntohs(address.sin_port);
}

} // namespace

int UnusedPort() { return UnusedPortOfType(SOCK_STREAM); }

int UnusedUdpPort() { return UnusedPortOfType(SOCK_DGRAM); }

void SetServiceManagerText(const std::string& machine, const std::string& name,
                           const std::string& value) {
    SetValue(machine, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
             static_cast<DWORD>(value.size() + 1));
}

void SetServiceManagerNumber(const std::string& machine, const std::string& name, DWORD value) {
    SetValue(machine, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

Supervisord::Supervisord(std::vector<SupervisedProgram> programs, std::string userName,
                         std::string password)
    : m_programs(std::move(programs)), m_userName(std::move(userName)),
      m_password(std::move(password)) {
    // The port is free when chosen but another process may take it first: try again.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (Start())
            return;
    throw std::runtime_error("supervisord did not start; see " +
                             (m_dir / "supervisord.out").string());
}

Supervisord::~Supervisord() {
    Stop();
}

bool Supervisord::Start() {
    m_port = UnusedPort();
    std::string dir = m_dir.path().string();
    std::string config = "[supervisord]\nlogfile=" + dir + "/supervisord.log\npidfile=" + dir +
                         "/supervisord.pid\nchildlogdir=" + dir + "\n";
    if (getuid() == 0)
        config += "user=root\n"; // says so, instead of warning about it
    config += "[inet_http_server]\nport=127.0.0.1:" + std::to_string(m_port) + "\n";
    if (!m_userName.empty())
        config += "username=" + m_userName + "\npassword=" + m_password + "\n";
    config += "[rpcinterface:supervisor]\nsupervisor.rpcinterface_factory = "
              "supervisor.rpcinterface:make_main_rpcinterface\n";
    std::map<std::string, std::vector<std::string>> groups;
    for (const SupervisedProgram& program : m_programs) {
        config += "[program:" + program.name + "]\ncommand=" + program.command +
                  "\nautostart=" + (program.autostart ? "true" : "false") +
                  "\nautorestart=false\nstartsecs=" + std::to_string(program.startsecs) +
                  "\nstopwaitsecs=" + std::to_string(program.stopwaitsecs) + "\nstartretries=0\n";
        if (!program.group.empty())
            groups[program.group].push_back(program.name);
    }
    for (const auto& [group, names] : groups) {
        config += "[group:" + group + "]\nprograms=";
        for (size_t i = 0; i < names.size(); ++i)
            config += (i ? "," : "") + names[i];
        config += "\n";
    }
    WriteFile(m_dir / "supervisord.conf", config);

    std::string out = (m_dir / "supervisord.out").string();
    std::string confPath = (m_dir / "supervisord.conf").string();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        FILE* log = freopen(out.c_str(), "a", stdout);
        (void)log;
        dup2(fileno(stdout), fileno(stderr));
        execlp("supervisord", "supervisord", "-n", "-c", confPath.c_str(), (char*)nullptr);
        _exit(127);
    }
    m_pid = pid;
    // Ready when it answers a request; gone when its port was taken.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        std::string response =
            Post("<?xml version=\"1.0\"?><methodCall><methodName>supervisor.getState"
                 "</methodName><params></params></methodCall>");
        if (response.find("RUNNING") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

void Supervisord::Stop() {
    if (m_pid <= 0)
        return;
    // Programs that ignore SIGTERM would hold supervisord for their stopwaitsecs.
    std::string all =
        Post("<?xml version=\"1.0\"?><methodCall><methodName>"
             "supervisor.getAllProcessInfo</methodName><params></params></methodCall>");
    static const std::regex pidValue("<name>pid</name>\\s*<value>\\s*<int>(\\d+)");
    for (std::sregex_iterator it(all.begin(), all.end(), pidValue), end; it != end; ++it)
        if (int pid = std::stoi((*it)[1]); pid > 0)
            kill(pid, SIGKILL);
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::string Supervisord::Post(const std::string& body, bool withCredentials) const {
    return HttpPost(m_port, body,
                    withCredentials && !m_userName.empty() ? m_userName + ":" + m_password
                                                           : std::string());
}

std::string Supervisord::StateOf(const std::string& name) const {
    std::string response =
        Post("<?xml version=\"1.0\"?><methodCall><methodName>"
             "supervisor.getProcessInfo</methodName><params><param><value>"
             "<string>" +
             XmlEscape(name) + "</string></value></param></params></methodCall>");
    std::smatch match;
    static const std::regex stateName(
        "<name>statename</name>\\s*<value>\\s*(?:<string>)?([A-Z_]+)");
    if (std::regex_search(response, match, stateName))
        return match[1];
    if (response.find("BAD_NAME") != std::string::npos)
        return "BAD_NAME";
    return "NO_ANSWER";
}

bool Supervisord::WaitForState(const std::string& name, const std::string& state,
                               std::chrono::milliseconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (StateOf(name) != state) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string Supervisord::CtlCommand(const std::string& arguments) const {
    std::string command = "supervisorctl -s http://127.0.0.1:" + std::to_string(m_port);
    if (!m_userName.empty())
        command += " -u " + ShellQuote(m_userName) + " -p " + ShellQuote(m_password);
    return command + " " + arguments;
}

CommandResult Supervisord::Ctl(const std::string& arguments) const {
    return RunCommand(CtlCommand(arguments));
}

void Supervisord::Configure(const std::string& machine) const {
    SetServiceManagerText(machine, "Backend", "supervisord");
    SetServiceManagerText(machine, "Address", "127.0.0.1");
    SetServiceManagerNumber(machine, "Port", static_cast<DWORD>(m_port));
    SetServiceManagerText(machine, "UserName", m_userName);
    SetServiceManagerText(machine, "Password", m_password);
}

} // namespace testkit
