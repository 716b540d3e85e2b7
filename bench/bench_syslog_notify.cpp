// One syslog alert (load the instance file, expand, clean, frame, send) against the same
// work done with plain system calls: read the same file, send bytes of the same length.
// Raw and RFC 5424 over UDP; a TCP alert against a plain connect-send-close.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <winplat/comptr.h>

#include "quiet_host.h"
#include "ratio.h"
#include "recording_host.h"
#include "syslog.h"
#include "testkit.h"

namespace {

// An instance sending to a loopback receiver; extraKeys go into its file.
struct Fixture {
    explicit Fixture(const std::string& extraKeys = "", int type = SOCK_DGRAM) {
        receiver = socket(AF_INET, type, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(receiver, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&addr), &len);
        if (type == SOCK_STREAM)
            listen(receiver, 64);
        port = ntohs(addr.sin_port);
        destination = addr;
        path = dir / "Router alarms";
        testkit::WriteFile(path, "[Syslog\\Router alarms]\r\nCLSID={69DD7B00-B669-11D4-804A-"
                                 "0001025EB176}\r\nAddress=127.0.0.1\r\nMessage=%H reports link "
                                 "down on port 7 (alarm)\r\nPort=" +
                                     std::to_string(port) + "\r\n" + extraKeys);
        payload = "router-7 reports link down on port 7 (alarm)";
    }
    ~Fixture() { close(receiver); }
    // Takes the next connection and reads it to its end.
    void AcceptAndDrain() {
        int fd = accept(receiver, nullptr, nullptr);
        char buffer[2048];
        while (recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        close(fd);
    }
    void Drain() {
        char buffer[2048];
        while (recv(receiver, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }

    testkit::TempDir dir;
    std::filesystem::path path;
    int receiver = -1;
    int port = 0;
    sockaddr_in destination{};
    std::string payload;
};

// Notify in a loop; after each alert the receiver takes what came.
template <typename Receive> void RunNotify(benchmark::State& state, Fixture& f, Receive receive) {
    CoInitialize(nullptr);
    bench::QuietHost host(u"H", u"router-7");
    winplat::ComPtr<ISentrelNotification> plugin;
    sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotification, plugin.PutVoid());
    plugin->Initialize(&host);
    winplat::Bstr path(testkit::Utf16(testkit::ZPath(f.path)));
    for (auto _ : state) {
        if (plugin->Notify(path.Get()) != S_OK)
            state.SkipWithError("Notify failed");
        receive();
    }
    plugin->UnInitialize();
}

// Reads the instance file and sends bytes of the given length.
void RunRawSyscalls(benchmark::State& state, Fixture& f, size_t length) {
    int sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    std::string posix = f.path.string();
    std::string bytes(length, 'x');
    for (auto _ : state) {
        char buffer[4096];
        int fd = open(posix.c_str(), O_RDONLY);
        ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
        benchmark::DoNotOptimize(n);
        sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&f.destination),
               sizeof f.destination);
        f.Drain();
    }
    close(sender);
}

void BM_Notify(benchmark::State& state) {
    Fixture f;
    RunNotify(state, f, [&] { f.Drain(); });
}
BENCHMARK(BM_Notify);

void BM_RawSyscalls(benchmark::State& state) {
    Fixture f;
    RunRawSyscalls(state, f, f.payload.size());
}
BENCHMARK(BM_RawSyscalls);

const char kRfc5424[] = "Format=rfc5424\r\nFacility=local3\r\nSeverity=alert\r\n";

void BM_NotifyRfc5424(benchmark::State& state) {
    Fixture f(kRfc5424);
    RunNotify(state, f, [&] { f.Drain(); });
}
BENCHMARK(BM_NotifyRfc5424);

// The same work for a datagram as long as the framed one.
void BM_RawSyscallsRfc5424(benchmark::State& state) {
    Fixture f(kRfc5424);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string frame = "<153>1 2026-03-05T07:08:09.012345+00:00 " + std::string(host) +
                        " Sentrel 12345 - - " + f.payload;
    RunRawSyscalls(state, f, frame.size());
}
BENCHMARK(BM_RawSyscallsRfc5424);

void BM_NotifyTcp(benchmark::State& state) {
    Fixture f("Transport=tcp\r\n", SOCK_STREAM);
    RunNotify(state, f, [&] { f.AcceptAndDrain(); });
}
BENCHMARK(BM_NotifyTcp);

// A plain blocking connect, send, close of the same octet-counted bytes.
void BM_ConnectSendClose(benchmark::State& state) {
    Fixture f("Transport=tcp\r\n", SOCK_STREAM);
    std::string bytes = std::to_string(f.payload.size()) + " " + f.payload;
    for (auto _ : state) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&f.destination), sizeof f.destination) != 0 ||
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(bytes.size()))
            state.SkipWithError("connect-send failed");
        close(fd);
        f.AcceptAndDrain();
    }
}
BENCHMARK(BM_ConnectSendClose);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"BM_Notify", "BM_RawSyscalls", "< 2"},
                                 {"BM_NotifyRfc5424", "BM_RawSyscallsRfc5424", "< 2"},
                                 {"BM_NotifyTcp", "BM_ConnectSendClose", "none, printed"}});
}
