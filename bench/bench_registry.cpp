// The registry on a file of the size registering many classes gives (500 class keys):
// - a query that finds the parsed file unchanged, against reading the file's bytes alone;
// - a query after the file changed (parsed again), against the same baseline;
// - one change (a whole transaction: lock, write, fsync, rename), against writing the same
//   bytes to a temporary file, syncing it and renaming it into place by hand.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <winplat/winreg.h>

#include "ratio.h"
#include "testkit.h"

namespace {

struct Registries {
    testkit::TempDir dir;
    std::string first, second;
    Registries() : first((dir / "first.reg").string()), second((dir / "second.reg").string()) {
        // One registration script makes all keys in one transaction.
        std::string script = "HKCR { NoRemove CLSID {\n";
        for (int i = 0; i < 500; ++i) {
            char entry[256];
            std::snprintf(entry, sizeof entry,
                          "{%08X-B3F1-11D4-804A-0001025EB176} = s 'Class %d' { InprocServer32 = "
                          "s 'Z:\\usr\\lib\\sentrel\\plugins\\tellumo.so' { val "
                          "ThreadingModel = s 'Apartment' } }\n",
                          i, i);
            script += entry;
        }
        script += "} }\n";
        WinplatSetRegistryPath(first.c_str());
        if (FAILED(WinplatRegistrarScriptRegister(script.c_str(), TRUE, nullptr, 0)))
            std::abort();
        testkit::WriteFile(second, testkit::ReadFile(first));
    }
};

Registries& TheRegistries() {
    static Registries registries;
    return registries;
}

const char kQueried[] = "CLSID\\{000000FA-B3F1-11D4-804A-0001025EB176}\\InprocServer32";

void Query(benchmark::State& state) {
    HKEY hKey = nullptr;
    char value[256];
    DWORD cb = sizeof value;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kQueried, 0, KEY_READ, &hKey) != ERROR_SUCCESS ||
        RegQueryValueExA(hKey, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &cb) !=
            ERROR_SUCCESS)
        state.SkipWithError("query failed");
    RegCloseKey(hKey);
    benchmark::DoNotOptimize(value);
}

void BM_ReadFileBytes(benchmark::State& state) {
    const std::string& file = TheRegistries().first;
    for (auto _ : state) {
        std::string text = testkit::ReadFile(file);
        benchmark::DoNotOptimize(text.data());
    }
}

void BM_QueryUnchangedFile(benchmark::State& state) {
    WinplatSetRegistryPath(TheRegistries().first.c_str());
    for (auto _ : state)
        Query(state);
}

// Switching between two files makes every query read and parse its file.
void BM_QueryChangedFile(benchmark::State& state) {
    bool flip = false;
    for (auto _ : state) {
        WinplatSetRegistryPath(flip ? TheRegistries().first.c_str()
                                    : TheRegistries().second.c_str());
        flip = !flip;
        Query(state);
    }
}

void BM_SetValue(benchmark::State& state) {
    WinplatSetRegistryPath(TheRegistries().first.c_str());
    HKEY hKey = nullptr;
    RegOpenKeyExA(HKEY_CLASSES_ROOT, kQueried, 0, KEY_ALL_ACCESS, &hKey);
    DWORD n = 0;
    for (auto _ : state) {
        ++n;
        if (RegSetValueExA(hKey, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4) !=
            ERROR_SUCCESS)
            state.SkipWithError("set failed");
    }
    RegCloseKey(hKey);
}

void BM_WriteSyncRename(benchmark::State& state) {
    std::string text = testkit::ReadFile(TheRegistries().first);
    std::string target = (TheRegistries().dir / "plain.reg").string();
    std::string temp = target + ".tmp";
    for (auto _ : state) {
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            fsync(fd) != 0 || close(fd) != 0 || rename(temp.c_str(), target.c_str()) != 0)
            state.SkipWithError("write failed");
    }
}

BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryUnchangedFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryChangedFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteSyncRename)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetValue)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"BM_QueryUnchangedFile", "BM_ReadFileBytes", "< 1"},
                                 {"BM_QueryChangedFile", "BM_ReadFileBytes", "< 30"},
                                 {"BM_SetValue", "BM_WriteSyncRename", "< 2"}});
}
