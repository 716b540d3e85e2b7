// One service-restart round (an alert that starts a program, then one that stops it) through
// Revocet's Notify, against the same two requests made with supervisorctl, both against the
// same local supervisord. supervisorctl waits until the program runs and has stopped; Notify
// returns once supervisord has accepted each request, so after each Notify round the
// benchmark waits, untimed, until the program has stopped before the next round.
#include <winplat/comptr.h>

#include "quiet_host.h"
#include "ratio.h"
#include "recording_host.h"
#include "supervisord.h"
#include "svc_restart.h"
#include "testkit.h"

namespace {

struct Server {
    Server() : supervisord(Programs()) { supervisord.Configure("localhost"); }
    static std::vector<testkit::SupervisedProgram> Programs() {
        std::vector<testkit::SupervisedProgram> programs(1);
        programs[0].name = "worker";
        return programs;
    }
    testkit::ScopedRegistry registry;
    testkit::Supervisord supervisord;
};

Server& TheServer() {
    static Server server;
    return server;
}

std::string InstanceFile(const testkit::TempDir& dir, const std::string& name,
                         const char* command) {
    testkit::WriteFile(dir / name,
                       "[ServiceRestart\\" + name +
                           "]\r\nCLSID={F28C09E9-D135-4E93-AD37-73CCA41E8D2A}\r\nHost=\r\n"
                           "Service=worker\r\nCommand=" +
                           command + "\r\n");
    return testkit::ZPath(dir / name);
}

void BM_NotifyStartStop(benchmark::State& state) {
    Server& server = TheServer();
    CoInitialize(nullptr);
    testkit::TempDir dir;
    winplat::Bstr start(testkit::Utf16(InstanceFile(dir, "Start worker", "Start")));
    winplat::Bstr stop(testkit::Utf16(InstanceFile(dir, "Stop worker", "Stop")));
    bench::QuietHost host;
    winplat::ComPtr<ISentrelNotification> plugin;
    sentrel::CreateComponent<SvcRestart>(nullptr, IID_ISentrelNotification, plugin.PutVoid());
    plugin->Initialize(&host);
    for (auto _ : state) {
        if (plugin->Notify(start.Get()) != S_OK || plugin->Notify(stop.Get()) != S_OK) {
            state.SkipWithError("Notify failed");
            break;
        }
        state.PauseTiming();
        server.supervisord.WaitForState("worker", "STOPPED");
        state.ResumeTiming();
    }
    plugin->UnInitialize();
    plugin.Reset();
    CoUninitialize();
}
BENCHMARK(BM_NotifyStartStop)->Unit(benchmark::kMillisecond);

void BM_SupervisorctlStartStop(benchmark::State& state) {
    Server& server = TheServer();
    std::string start = server.supervisord.CtlCommand("start worker") + " >/dev/null";
    std::string stop = server.supervisord.CtlCommand("stop worker") + " >/dev/null";
    for (auto _ : state) {
        if (std::system(start.c_str()) != 0 || std::system(stop.c_str()) != 0) {
            state.SkipWithError("supervisorctl failed");
            break;
        }
    }
}
BENCHMARK(BM_SupervisorctlStartStop)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"BM_NotifyStartStop", "BM_SupervisorctlStartStop", "< 0.1"}});
}
