// Several processes change the registry at once: no update may be lost and the file must
// parse at every moment.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/winreg.h>

#include "../registry_internal.h"
#include "reg_helpers.h"
#include "testkit.h"

namespace {

constexpr int kWriters = 6;
constexpr int kKeysPerWriter = 20;
constexpr char kChildVariable[] = "SENTREL_REGISTRY_TEST_CHILD";

// Blocks until the parent closes its end of the start pipe.
void AwaitStart(int fd) {
    char c;
    while (read(fd, &c, 1) > 0) {
    }
    close(fd);
}

std::string KeyName(int writer, int key) {
    return "Stress\\Writer" + std::to_string(writer) + "\\Key" + std::to_string(key);
}

std::string SharedName(int writer, int key) {
    return "w" + std::to_string(writer) + "k" + std::to_string(key);
}

// Each writer makes its own keys, each with two values, and adds one value per key to a key
// that every writer shares.
int RunWriter(int writer, int startFd) {
    AwaitStart(startFd);
    int failures = 0;
    for (int k = 0; k < kKeysPerWriter; ++k) {
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyName(writer, k).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        DWORD index = static_cast<DWORD>(k);
        std::string text = "writer " + std::to_string(writer) + " key " + std::to_string(k);
        failures += RegSetValueExA(hKey, "Index", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&index), 4) != ERROR_SUCCESS;
        failures +=
            RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS;
        RegCloseKey(hKey);
        HKEY hShared = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Stress\\Shared", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &hShared, nullptr) != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        failures += RegSetValueExA(hShared, SharedName(writer, k).c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&index), 4) != ERROR_SUCCESS;
        RegCloseKey(hShared);
    }
    return failures == 0 ? 0 : 1;
}

// Parses the file as it stands, again and again, until the parent closes the stop pipe.
int RunReader(const char* file, int startFd, int stopFd) {
    AwaitStart(startFd);
    int parsed = 0;
    pollfd stop{stopFd, POLLIN, 0};
    while (poll(&stop, 1, 1) == 0) {
        std::string text = testkit::ReadFile(file);
        if (!text.empty()) {
            std::string canonical, error;
            if (!WinplatCanonicalRegistryText(text.data(), text.size(), &canonical, &error))
                return 2;
            ++parsed;
        }
        // And through the API, which must never find the file bad.
        HKEY hKey = nullptr;
        LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "Stress", 0, KEY_READ, &hKey);
        if (rc != ERROR_SUCCESS)
            return 2;
        RegCloseKey(hKey);
    }
    return parsed > 0 ? 0 : 3;
}

// The test program doubles as the child processes: started with the variable set, it does
// the child's work and exits before any test runs.
[[maybe_unused]] const int kChild = [] {
    const char* role = std::getenv(kChildVariable);
    if (!role)
        return 0;
    int kind = 0, writer = 0, startFd = -1, stopFd = -1;
    if (std::sscanf(role, "%d:%d:%d:%d", &kind, &writer, &startFd, &stopFd) != 4)
        _exit(100);
    const char* file = std::getenv("SENTREL_REGISTRY");
    _exit(kind == 0 ? RunWriter(writer, startFd) : RunReader(file, startFd, stopFd));
}();

// Starts a child that keeps only the read ends of both pipes.
pid_t Spawn(const std::string& file, int kind, int writer, int startFds[2], int stopFds[2]) {
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    close(startFds[1]);
    close(stopFds[1]);
    std::string role = std::to_string(kind) + ":" + std::to_string(writer) + ":" +
                       std::to_string(startFds[0]) + ":" + std::to_string(stopFds[0]);
    setenv(kChildVariable, role.c_str(), 1);
    setenv("SENTREL_REGISTRY", file.c_str(), 1);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    execv(self, argv);
    _exit(101);
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(RegistryConcurrency, WritersInSeveralProcessesLoseNothing) {
    testkit::ScopedRegistry registry;
    regtest::SetText(HKEY_CURRENT_USER, "Stress", nullptr, "start");
    int startFds[2], stopFds[2];
    ASSERT_EQ(pipe(startFds), 0);
    ASSERT_EQ(pipe(stopFds), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.push_back(Spawn(registry.path().string(), 0, w, startFds, stopFds));
    pid_t reader = Spawn(registry.path().string(), 1, 0, startFds, stopFds);
    close(startFds[0]);
    close(stopFds[0]);
    close(startFds[1]); // all start together

    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(ExitCode(writers[w]), 0) << "writer " << w << " saw a call fail";
    close(stopFds[1]);
    EXPECT_EQ(ExitCode(reader), 0) << "2: the file did not parse; 3: never read";

    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeysPerWriter; ++k) {
            std::string key = KeyName(w, k);
            EXPECT_EQ(regtest::Text(HKEY_CURRENT_USER, key, nullptr),
                      "writer " + std::to_string(w) + " key " + std::to_string(k));
            EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, key),
                      (std::vector<std::string>{key + "|Index=dword:" + std::to_string(k),
                                                key + "|@=sz:writer " + std::to_string(w) +
                                                    " key " + std::to_string(k)}));
        }
    }
    std::vector<std::string> shared = regtest::Dump(HKEY_CURRENT_USER, "Stress\\Shared");
    EXPECT_EQ(shared.size(), static_cast<size_t>(kWriters * kKeysPerWriter));
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeysPerWriter; ++k)
            EXPECT_NE(
                std::find(shared.begin(), shared.end(),
                          "Stress\\Shared|" + SharedName(w, k) + "=dword:" + std::to_string(k)),
                shared.end())
                << SharedName(w, k);
    char error[256] = {};
    EXPECT_EQ(WinplatGetRegistryError(error, sizeof error), 0u) << error;
}

TEST(RegistryConcurrency, ThreadsOfOneProcessLoseNothing) {
    testkit::ScopedRegistry registry;
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            for (int k = 0; k < kKeysPerWriter; ++k) {
                HKEY hKey = nullptr;
                DWORD value = static_cast<DWORD>(t * 1000 + k);
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Threads", 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &hKey, nullptr) != ERROR_SUCCESS ||
                    RegSetValueExA(hKey, SharedName(t, k).c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), 4) != ERROR_SUCCESS)
                    ++failures;
                RegCloseKey(hKey);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    std::vector<std::string> values = regtest::Dump(HKEY_LOCAL_MACHINE, "Threads");
    EXPECT_EQ(values.size(), static_cast<size_t>(kThreads * kKeysPerWriter));
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeysPerWriter; ++k)
            EXPECT_NE(
                std::find(values.begin(), values.end(),
                          "Threads|" + SharedName(t, k) + "=dword:" + std::to_string(t * 1000 + k)),
                values.end());
}

} // namespace
