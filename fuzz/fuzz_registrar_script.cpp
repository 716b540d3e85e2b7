// The registrar on arbitrary scripts, carried out and undone on a scratch registry file
// (in /dev/shm when there is one, so that syncing the file costs nothing). Whatever the
// script, the registry file must stay readable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <winplat/winreg.h>

#include "../platform/registry/registry_internal.h"

namespace {

std::string g_dir;
std::string g_file;

void RemoveScratch() {
    unlink(g_file.c_str());
    unlink((g_file + ".lock").c_str());
    rmdir(g_dir.c_str());
}

void CheckFile() {
    char error[512];
    if (WinplatGetRegistryError(error, sizeof error) != 0)
        __builtin_trap();
    HKEY hKey = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &hKey);
    if (rc != ERROR_SUCCESS)
        __builtin_trap();
    RegCloseKey(hKey);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_dir = base + "/fuzz-registrar-XXXXXX";
    if (!mkdtemp(g_dir.data()))
        std::abort();
    g_file = g_dir + "/registry.reg";
    std::atexit(RemoveScratch);
    WinplatSetRegistryPath(g_file.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unlink(g_file.c_str()); // each script starts from an empty registry
    std::string script(reinterpret_cast<const char*>(data), size);
    const WINPLAT_REGMAP_ENTRY map[] = {{"MODULE", "Z:\\opt\\it's {odd}\\100%.so"},
                                        {"Name", "Value"}};
    HRESULT registered = WinplatRegistrarScriptRegister(script.c_str(), TRUE, map, 2);
    CheckFile();
    HRESULT removed = WinplatRegistrarScriptRegister(script.c_str(), FALSE, map, 2);
    CheckFile();
    // A script that registers also parses for removal.
    if (SUCCEEDED(registered) && FAILED(removed))
        __builtin_trap();
    return 0;
}
