// WinplatGetServiceManagerInfo: where OpenSCManagerA would go for a machine name, read from
// the same registry values, and never the password itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <winplat/winbase.h>
#include <winplat/winsvc.h>

#include "supervisord.h"
#include "testkit.h"

namespace {

constexpr char kKey[] = "Software\\Calvaro\\Sentrel\\ServiceManager\\Machines\\";

WINPLAT_SERVICE_MANAGER_INFO Info(const char* machine) {
    WINPLAT_SERVICE_MANAGER_INFO info;
    EXPECT_TRUE(WinplatGetServiceManagerInfo(machine, &info)) << machine;
    return info;
}

TEST(ServiceManagerInfo, DefaultsNameTheKeyThatWouldConfigureTheMachine) {
    testkit::ScopedRegistry registry;
    for (const char* local :
         {static_cast<const char*>(nullptr), "", "localhost", "\\\\LOCALHOST"}) {
        WINPLAT_SERVICE_MANAGER_INFO info = Info(local);
        EXPECT_STREQ(info.szMachine, "localhost");
        EXPECT_STREQ(info.szBackend, "supervisord");
        EXPECT_STREQ(info.szLocation, "http://127.0.0.1:9001/RPC2");
        EXPECT_EQ(info.szKey, std::string(kKey) + "localhost");
        EXPECT_STREQ(info.szUserName, "");
        EXPECT_FALSE(info.bPassword);
    }
    WINPLAT_SERVICE_MANAGER_INFO remote = Info("\\\\PRN01");
    EXPECT_STREQ(remote.szMachine, "PRN01");
    EXPECT_STREQ(remote.szLocation, "http://PRN01:9001/RPC2");
    EXPECT_EQ(remote.szKey, std::string(kKey) + "PRN01");
}

TEST(ServiceManagerInfo, FollowsTheMachineKeyThenTheDefaultsAndHidesThePassword) {
    testkit::ScopedRegistry registry;
    testkit::SetServiceManagerNumber("", "Port", 9100);
    testkit::SetServiceManagerText("", "UserName", "everyone");
    testkit::SetServiceManagerText("PRN01", "Address", "::1");
    testkit::SetServiceManagerText("PRN01", "Password", "s3cret&<\"");
    testkit::SetServiceManagerText("SIM", "Backend", "simulated");
    testkit::SetServiceManagerText("SIM", "SimulationFile", "Z:\\var\\lib\\services.sim");

    WINPLAT_SERVICE_MANAGER_INFO prn = Info("PRN01");
    EXPECT_STREQ(prn.szLocation, "http://[::1]:9100/RPC2");
    EXPECT_STREQ(prn.szUserName, "everyone");
    EXPECT_TRUE(prn.bPassword);
    const char* bytes = reinterpret_cast<const char*>(&prn);
    EXPECT_EQ(std::string(bytes, sizeof prn).find("s3cret"), std::string::npos);

    WINPLAT_SERVICE_MANAGER_INFO sim = Info("sim");
    EXPECT_STREQ(sim.szBackend, "simulated");
    EXPECT_STREQ(sim.szLocation, "/var/lib/services.sim");
}

TEST(ServiceManagerInfo, RefusesWhatDoesNotFit) {
    testkit::ScopedRegistry registry;
    EXPECT_FALSE(WinplatGetServiceManagerInfo("PRN01", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    std::string longName(300, 'm');
    WINPLAT_SERVICE_MANAGER_INFO info;
    EXPECT_FALSE(WinplatGetServiceManagerInfo(longName.c_str(), &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(info.szMachine, "");
}

} // namespace
