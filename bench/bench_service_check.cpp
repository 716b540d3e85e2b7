// One service check of a running program through Prowlet's Check, against
// "supervisorctl status" of the same program, both against the same local supervisord.
// Goal: the check at least 20 times faster (ratio below 0.05).
#include <cstdlib>

#include <sentrel/service_check.h>
#include <winplat/comptr.h>

#include <winplat/utf.h>

#include "module.h"
#include "plugin.h"
#include "ratio.h"
#include "supervisord.h"
#include "testkit.h"

namespace {

struct Server {
    Server() : supervisord(Programs()) {
        supervisord.Configure("localhost");
        supervisord.WaitForState("web", "RUNNING");
        testkit::WriteFile(dir / "host.ini", "[Router\\web]\r\nSERVICENAME=web\r\n");
    }
    static std::vector<testkit::SupervisedProgram> Programs() {
        std::vector<testkit::SupervisedProgram> programs(1);
        programs[0].name = "web";
        programs[0].autostart = true;
        return programs;
    }
    testkit::ScopedRegistry registry;
    testkit::TempDir dir;
    testkit::Supervisord supervisord;
};

Server& TheServer() {
    static Server server;
    return server;
}

// The host's object for the machine: only the result matters here.
class Target final : public ISentrelCheckTarget {
public:
    const char* GetDeviceName() override { return "localhost"; }
    DWORD GetDeviceId() override { return 1; }
    BOOL IsMonitored() override { return TRUE; }
    DWORD GetTimeout() override { return 0; }
    const char* GetAddress() override { return "localhost"; }
    void SetResult(LONG lResult) override { result = lResult; }
    void SetElapsedTime(DWORD) override {}
    LONG result = -1;
};

void BM_Check(benchmark::State& state) {
    Server& server = TheServer();
    winplat::ComPtr<IClassFactory> factory;
    prowlet::GetClassObject(prowlet::CLSID_Prowlet, IID_IClassFactory, factory.PutVoid());
    winplat::ComPtr<ISentrelSvcObj> plugin;
    factory->CreateInstance(nullptr, IID_ISentrelSvcObj, plugin.PutVoid());
    winplat::Bstr section(winplat::Utf16FromUtf8("Router\\web"));
    winplat::Bstr profile(winplat::Utf16FromUtf8(testkit::ZPath(server.dir / "host.ini")));
    plugin->SetInstanceName(section.Get());
    plugin->LoadConfig(profile.Get());
    Target target;
    for (auto _ : state) {
        LONG result = -1;
        if (plugin->Check(&target, &result) != S_OK || result != 0) {
            state.SkipWithError("the check failed");
            break;
        }
    }
}
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond);

void BM_SupervisorctlStatus(benchmark::State& state) {
    Server& server = TheServer();
    std::string status = server.supervisord.CtlCommand("status web") + " >/dev/null";
    for (auto _ : state) {
        if (std::system(status.c_str()) != 0) {
            state.SkipWithError("supervisorctl failed");
            break;
        }
    }
}
BENCHMARK(BM_SupervisorctlStatus)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv, {{"BM_Check", "BM_SupervisorctlStatus", "< 0.05"}});
}
