#include "rsyslogd.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "supervisord.h" // UnusedPort, UnusedUdpPort

namespace fs = std::filesystem;

namespace testkit {
namespace {

// The fields of a record, "|" between them; the tests' messages hold no "|".
constexpr char kTemplate[] =
    "template(name=\"fields\" type=\"string\" string=\"%syslogfacility-text%|"
    "%syslogseverity-text%|%hostname%|%app-name%|%programname%|%procid%|%msgid%|"
    "%timereported:::date-unixtimestamp%|%msg%|%rawmsg%\\n\")\n";

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

void SendUdp(int port, const std::string& text) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
}

void Run(const std::string& commandLine) {
    CommandResult result = RunCommand(commandLine);
    if (result.status != 0)
        throw std::runtime_error("failed: " + commandLine + "\n" + result.err);
}

} // namespace

Rsyslogd::Rsyslogd(Mode mode) : m_mode(mode) {
    if (m_mode == Mode::Tls)
        MakeCertificates();
    // A port free when chosen may be taken by another process first: try again.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (Start())
            return;
    throw std::runtime_error("rsyslogd did not start; see " + (m_dir / "rsyslogd.out").string());
}

Rsyslogd::~Rsyslogd() {
    Stop();
}

void Rsyslogd::MakeCertificates() {
    std::string dir = ShellQuote(m_dir.path().string());
    // P-256 keys: made in milliseconds, unlike RSA ones.
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    for (const char* ca : {"ca", "other-ca"})
        Run("cd " + dir + " && openssl req -x509 " + key + " -keyout " + ca + ".key -out " + ca +
            ".pem -days 2 -subj '/CN=Sentrel test " + ca +
            "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign");
    WriteFile(m_dir / "server.ext", "basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\n"
                                    "extendedKeyUsage=serverAuth\n");
    Run("cd " + dir + " && openssl req " + key +
        " -keyout server.key -out server.csr -subj /CN=127.0.0.1 && openssl x509 -req -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext -out "
        "server.pem");
}

bool Rsyslogd::Start() {
    std::string dir = m_dir.path().string();
    std::string config = "global(workDirectory=\"" + dir + "\"";
    m_tcpPort = UnusedPort();
    if (m_mode == Mode::Tls) {
        config += " DefaultNetstreamDriverCAFile=\"" + dir +
                  "/ca.pem\" "
                  "DefaultNetstreamDriverCertFile=\"" +
                  dir +
                  "/server.pem\" "
                  "DefaultNetstreamDriverKeyFile=\"" +
                  dir +
                  "/server.key\")\n"
                  "module(load=\"imtcp\" StreamDriver.Name=\"ossl\" StreamDriver.Mode=\"1\" "
                  "StreamDriver.AuthMode=\"anon\")\n";
    } else {
        m_udpPort = UnusedUdpPort();
        config += ")\nmodule(load=\"imudp\")\ninput(type=\"imudp\" address=\"127.0.0.1\" "
                  "port=\"" +
                  std::to_string(m_udpPort) + "\")\nmodule(load=\"imtcp\")\n";
    }
    config +=
        "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" + std::to_string(m_tcpPort) + "\")\n";
    config += kTemplate;
    config += "if $inputname != \"rsyslogd\" then action(type=\"omfile\" file=\"" + dir +
              "/records\" template=\"fields\")\n";
    WriteFile(m_dir / "rsyslog.conf", config);
    fs::remove(m_dir / "records");

    std::string out = (m_dir / "rsyslogd.out").string();
    std::string confPath = (m_dir / "rsyslog.conf").string();
    std::string pidPath = (m_dir / "rsyslogd.pid").string();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        FILE* log = freopen(out.c_str(), "a", stdout);
        (void)log;
        dup2(fileno(stdout), fileno(stderr));
        execlp("rsyslogd", "rsyslogd", "-n", "-f", confPath.c_str(), "-i", pidPath.c_str(),
               (char*)nullptr);
        _exit(127);
    }
    m_pid = pid;
    // Ready when the TCP input accepts and, with UDP, a datagram comes through.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    bool tcpReady = false;
    for (int probe = 0; std::chrono::steady_clock::now() < deadline; ++probe) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        tcpReady = tcpReady || Accepts(m_tcpPort);
        if (tcpReady && m_mode == Mode::Tls)
            return true;
        if (tcpReady) {
            std::string marker = "rsyslogd-ready-" + std::to_string(probe);
            SendUdp(m_udpPort, "<13>" + marker);
            if (WaitFor(marker, 200))
                return true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    Stop();
    return false;
}

void Rsyslogd::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::vector<SyslogRecord> Rsyslogd::Records() const {
    std::vector<SyslogRecord> records;
    std::string text = ReadFile(m_dir / "records");
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::istringstream lines(text); // whole lines only: the last may be half written
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 9; ++i) {
            size_t bar = line.find('|', start);
            if (bar == std::string::npos)
                break;
            fields.push_back(line.substr(start, bar - start));
            start = bar + 1;
        }
        if (fields.size() != 9)
            continue; // a line still being written
        fields.push_back(line.substr(start));
        records.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5],
                           fields[6], fields[7], fields[8], fields[9]});
    }
    return records;
}

std::optional<SyslogRecord> Rsyslogd::WaitFor(const std::string& marker, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (const SyslogRecord& record : Records())
            if (record.rawMsg.find(marker) != std::string::npos)
                return record;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testkit
