// Which manager serves a machine name, read from
// HKLM\Software\Calvaro\Sentrel\ServiceManager: values of Machines\<name> first, then
// those of the ServiceManager key itself, then the built-in defaults.
#include <cctype>
#include <cstring>
#include <optional>
#include <strings.h>
#include <unistd.h>

#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "backend.h"

namespace winplat::scm {
namespace {

constexpr const char* kManagerKey = "Software\\Calvaro\\Sentrel\\ServiceManager";
constexpr const char* kLocalName = "localhost";

class RegKey {
public:
    explicit RegKey(const std::string& path) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~RegKey() {
        if (m_key)
            RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    std::optional<std::string> Text(const char* name) const {
        DWORD type = 0, size = 0;
        if (!m_key || RegQueryValueExA(m_key, name, nullptr, &type, nullptr, &size) != 0 ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        std::string value(size, '\0');
        if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                             &size) != 0)
            return std::nullopt;
        value.resize(size);
        while (!value.empty() && value.back() == '\0')
            value.pop_back();
        return value;
    }
    std::optional<DWORD> Number(const char* name) const {
        DWORD type = 0, value = 0, size = sizeof value;
        if (!m_key ||
            RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                0 ||
            type != REG_DWORD)
            return std::nullopt;
        return value;
    }

private:
    HKEY m_key = nullptr;
};

// A machine key's value, else the manager key's.
struct Settings {
    RegKey machine;
    RegKey defaults;
    std::optional<std::string> Text(const char* name) const {
        auto value = machine.Text(name);
        return value ? value : defaults.Text(name);
    }
    std::optional<DWORD> Number(const char* name) const {
        auto value = machine.Number(name);
        return value ? value : defaults.Number(name);
    }
};

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

// A platform path (Z:\...) or a POSIX path, as a POSIX path.
std::string PosixPath(const std::string& path) {
    char posix[4096];
    if (path.find('\\') != std::string::npos || (path.size() >= 2 && path[1] == ':')) {
        if (WinplatToPosixPath(path.c_str(), posix, sizeof posix))
            return posix;
    }
    return path;
}

} // namespace

std::string CanonicalMachineName(const char* machineName) {
    std::string name = machineName ? machineName : "";
    size_t start = name.find_first_not_of('\\');
    name = start == std::string::npos ? std::string() : name.substr(start);
    if (name.empty() || strcasecmp(name.c_str(), kLocalName) == 0)
        return kLocalName;
    std::string self = HostName();
    std::string shortSelf = self.substr(0, self.find('.'));
    if (!self.empty() && (strcasecmp(name.c_str(), self.c_str()) == 0 ||
                          strcasecmp(name.c_str(), shortSelf.c_str()) == 0))
        return kLocalName;
    return name;
}

MachineConfig ReadMachineConfig(const std::string& canonicalMachine) {
    Settings settings{RegKey(std::string(kManagerKey) + "\\Machines\\" + canonicalMachine),
                      RegKey(kManagerKey)};
    MachineConfig config;
    config.machine = canonicalMachine;
    if (auto backend = settings.Text("Backend");
        backend && strcasecmp(backend->c_str(), "simulated") == 0)
        config.kind = MachineConfig::Kind::Simulated;
    config.address = canonicalMachine == kLocalName ? "127.0.0.1" : canonicalMachine;
    // An address given for one machine is that machine's; the manager key gives none.
    if (auto address = settings.machine.Text("Address"); address && !address->empty())
        config.address = *address;
    if (auto port = settings.Number("Port"))
        config.port = *port;
    config.userName = settings.Text("UserName").value_or("");
    config.password = settings.Text("Password").value_or("");
    if (auto timeout = settings.Number("Timeout"); timeout && *timeout > 0)
        config.timeoutMs = *timeout;
    config.simulationFile = PosixPath(settings.Text("SimulationFile").value_or(""));
    return config;
}

std::string SupervisordUrl(const MachineConfig& config) {
    // An IPv6 address goes in brackets.
    std::string host =
        config.address.find(':') != std::string::npos ? "[" + config.address + "]" : config.address;
    return "http://" + host + ":" + std::to_string(config.port) + "/RPC2";
}

} // namespace winplat::scm

namespace {

bool CopyText(const std::string& text, CHAR* buffer, size_t size) {
    if (text.size() >= size)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

WINPLAT_API BOOL WinplatGetServiceManagerInfo(LPCSTR lpMachineName,
                                              WINPLAT_SERVICE_MANAGER_INFO* pInfo) {
    using namespace winplat::scm;
    if (!pInfo) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    *pInfo = {};
    MachineConfig config = ReadMachineConfig(CanonicalMachineName(lpMachineName));
    bool simulated = config.kind == MachineConfig::Kind::Simulated;
    bool fits = CopyText(config.machine, pInfo->szMachine, sizeof pInfo->szMachine) &&
                CopyText(simulated ? "simulated" : "supervisord", pInfo->szBackend,
                         sizeof pInfo->szBackend) &&
                CopyText(simulated ? config.simulationFile : SupervisordUrl(config),
                         pInfo->szLocation, sizeof pInfo->szLocation) &&
                CopyText(std::string(kManagerKey) + "\\Machines\\" + config.machine, pInfo->szKey,
                         sizeof pInfo->szKey) &&
                CopyText(config.userName, pInfo->szUserName, sizeof pInfo->szUserName);
    pInfo->bPassword = !config.password.empty();
    if (!fits) {
        *pInfo = {};
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
