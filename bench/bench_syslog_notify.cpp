// One syslog alert (load the instance file, expand, clean, send) against the same work
// done with plain system calls: read the same file, send the same bytes.
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

struct Fixture {
    Fixture() {
        receiver = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(receiver, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        destination = addr;
        path = dir / "Router alarms";
        testkit::WriteFile(path, "[Syslog\\Router alarms]\r\nCLSID={69DD7B00-B669-11D4-804A-"
                                 "0001025EB176}\r\nAddress=127.0.0.1\r\nMessage=%H reports link "
                                 "down on port 7 (alarm)\r\nPort=" +
                                     std::to_string(port) + "\r\n");
        payload = "router-7 reports link down on port 7 (alarm)";
    }
    ~Fixture() { close(receiver); }
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

void BM_Notify(benchmark::State& state) {
    CoInitialize(nullptr);
    Fixture f;
    bench::QuietHost host(u"H", u"router-7");
    winplat::ComPtr<ISentrelNotification> plugin;
    sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotification, plugin.PutVoid());
    plugin->Initialize(&host);
    winplat::Bstr path(testkit::Utf16(testkit::ZPath(f.path)));
    for (auto _ : state) {
        if (plugin->Notify(path.Get()) != S_OK)
            state.SkipWithError("Notify failed");
        f.Drain();
    }
    plugin->UnInitialize();
}
BENCHMARK(BM_Notify);

void BM_RawSyscalls(benchmark::State& state) {
    Fixture f;
    int sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    std::string posix = f.path.string();
    for (auto _ : state) {
        char buffer[4096];
        int fd = open(posix.c_str(), O_RDONLY);
        ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
        benchmark::DoNotOptimize(n);
        sendto(sender, f.payload.data(), f.payload.size(), 0,
               reinterpret_cast<sockaddr*>(&f.destination), sizeof f.destination);
        f.Drain();
    }
    close(sender);
}
BENCHMARK(BM_RawSyscalls);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv, {{"BM_Notify", "BM_RawSyscalls", "< 2"}});
}
