#include "network.h"

#include <stdexcept>

#include <winplat/winreg.h>

namespace testkit {

void SetNetworkValue(const std::string& name, DWORD type, const std::string& data) {
    const char* path = "Software\\Calvaro\\Sentrel\\Network";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the Network key");
    std::string value = data;
    if (type == REG_SZ)
        value.push_back('\0');
    LONG result =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.data()),
                       static_cast<DWORD>(value.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot set Network\\" + name);
}

void UseSimulatedNetwork(const std::filesystem::path& file) {
    SetNetworkValue("Backend", REG_SZ, "simulated");
    SetNetworkValue("SimulationFile", REG_SZ, file.string());
}

} // namespace testkit
