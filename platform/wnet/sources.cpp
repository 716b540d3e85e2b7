// Where the network context's records come from: the machines the operator configured
// (this machine, the service manager's Machines, the Network key's Machines), or a
// simulation file for the cases a real network cannot be made to produce.
// Settings and file format: docs/network.md.
#include <fstream>
#include <strings.h>
#include <unistd.h>

#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "scm/backend.h"
#include "wnet_internal.h"

namespace winplat::wnet {
namespace {

constexpr const char* kNetworkKey = "Software\\Calvaro\\Sentrel\\Network";
constexpr const char* kMachinesKey = "Software\\Calvaro\\Sentrel\\ServiceManager\\Machines";
constexpr const char* kProvider = "Sentrel Network";

bool SameText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// A text value (REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ) with its terminators.
bool ReadText(HKEY key, const char* name, std::string& value, DWORD& type) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return false;
    value.assign(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    value.resize(size);
    return true;
}

class Key {
public:
    explicit Key(const char* path) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~Key() {
        if (m_key)
            RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY Get() const { return m_key; }

    std::string Text(const char* name) const {
        std::string value;
        DWORD type = 0;
        if (!m_key || !ReadText(m_key, name, value, type) || type == REG_MULTI_SZ)
            return {};
        return value.substr(0, value.find('\0'));
    }

private:
    HKEY m_key = nullptr;
};

// The names of a REG_MULTI_SZ, or of a text separated by ";".
std::vector<std::string> NameList(const Key& key, const char* name) {
    std::vector<std::string> names;
    std::string value;
    DWORD type = 0;
    if (!key.Get() || !ReadText(key.Get(), name, value, type))
        return names;
    char separator = type == REG_MULTI_SZ ? '\0' : ';';
    if (type != REG_MULTI_SZ)
        value = value.substr(0, value.find('\0'));
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(separator, start);
        if (end == std::string::npos)
            end = value.size();
        std::string item = Trim(value.substr(start, end - start));
        if (!item.empty())
            names.push_back(item);
        start = end + 1;
    }
    return names;
}

std::string LocalName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "localhost";
    return name;
}

Record Server(const std::string& name) {
    Record record;
    record.scope = RESOURCE_GLOBALNET;
    record.type = RESOURCETYPE_ANY;
    record.displayType = RESOURCEDISPLAYTYPE_SERVER;
    record.usage = RESOURCEUSAGE_CONTAINER;
    record.remoteName = "\\\\" + name;
    record.comment = "";
    record.provider = kProvider;
    return record;
}

// The machines the operator configured, each once, this machine first.
DWORD ContextRecords(const Key& network, std::vector<Record>& records) {
    std::vector<std::string> seen; // canonical names
    auto add = [&](const std::string& raw) {
        std::string name = raw.substr(std::min(raw.find_first_not_of('\\'), raw.size()));
        if (name.empty())
            return;
        std::string canonical = scm::CanonicalMachineName(name.c_str());
        for (const std::string& s : seen)
            if (SameText(s, canonical))
                return;
        seen.push_back(canonical);
        records.push_back(Server(canonical == "localhost" ? LocalName() : name));
    };
    add(LocalName());
    Key machines(kMachinesKey);
    if (machines.Get()) {
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD cch = sizeof name;
            if (RegEnumKeyExA(machines.Get(), index, name, &cch, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            add(name);
        }
    }
    for (const std::string& name : NameList(network, "Machines"))
        add(name);
    return NO_ERROR;
}

DWORD Number(const std::string& text) {
    return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 0));
}

DWORD Word(const std::string& text, std::initializer_list<std::pair<const char*, DWORD>> words) {
    for (const auto& [word, value] : words)
        if (SameText(text, word))
            return value;
    return Number(text);
}

// The simulation file: settings before the first section, then one section per record
// in delivery order.
bool LoadSimulation(const std::string& path, Enumeration& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    Record* record = nullptr;
    for (std::string raw; std::getline(in, raw);) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            out.records.push_back(Record{});
            record = &out.records.back();
            record->scope = RESOURCE_GLOBALNET;
            record->type = RESOURCETYPE_ANY;
            record->displayType = RESOURCEDISPLAYTYPE_SERVER;
            record->usage = RESOURCEUSAGE_CONTAINER;
            record->remoteName = line.substr(1, line.size() - 2);
            record->comment = "";
            record->provider = kProvider;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        if (!record) {
            if (SameText(key, "OpenError"))
                out.openError = Number(value);
            else if (SameText(key, "EnumError"))
                out.enumError = Number(value);
            else if (SameText(key, "EnumErrorAt"))
                out.enumErrorAt = Number(value);
            else if (SameText(key, "MoreData"))
                out.moreDataWithRecords =
                    SameText(value, "yes") || SameText(value, "true") || value == "1";
            continue;
        }
        if (SameText(key, "DisplayType"))
            record->displayType = Word(value, {{"generic", RESOURCEDISPLAYTYPE_GENERIC},
                                               {"domain", RESOURCEDISPLAYTYPE_DOMAIN},
                                               {"server", RESOURCEDISPLAYTYPE_SERVER},
                                               {"share", RESOURCEDISPLAYTYPE_SHARE},
                                               {"file", RESOURCEDISPLAYTYPE_FILE},
                                               {"group", RESOURCEDISPLAYTYPE_GROUP},
                                               {"network", RESOURCEDISPLAYTYPE_NETWORK}});
        else if (SameText(key, "Type"))
            record->type = Word(value, {{"any", RESOURCETYPE_ANY},
                                        {"disk", RESOURCETYPE_DISK},
                                        {"print", RESOURCETYPE_PRINT}});
        else if (SameText(key, "Usage"))
            record->usage = Word(value, {{"connectable", RESOURCEUSAGE_CONNECTABLE},
                                         {"container", RESOURCEUSAGE_CONTAINER}});
        else if (SameText(key, "Scope"))
            record->scope = Word(value, {{"connected", RESOURCE_CONNECTED},
                                         {"globalnet", RESOURCE_GLOBALNET},
                                         {"remembered", RESOURCE_REMEMBERED},
                                         {"context", RESOURCE_CONTEXT}});
        else if (SameText(key, "LocalName"))
            record->localName = value;
        else if (SameText(key, "Comment"))
            record->comment = value;
        else if (SameText(key, "Provider"))
            record->provider = value;
    }
    return true;
}

std::string PosixPath(const std::string& path) {
    char posix[4096];
    if ((path.find('\\') != std::string::npos || (path.size() >= 2 && path[1] == ':')) &&
        WinplatToPosixPath(path.c_str(), posix, sizeof posix))
        return posix;
    return path;
}

} // namespace

DWORD OpenSource(DWORD dwScope, const NETRESOURCEA* pContainer, Enumeration& out) {
    Key network(kNetworkKey);
    if (SameText(network.Text("Backend"), "simulated")) {
        // The file says exactly what is delivered, so that tests get every kind of record.
        if (!LoadSimulation(PosixPath(network.Text("SimulationFile")), out))
            return ERROR_NO_NETWORK;
        if (out.openError)
            return out.openError;
        return NO_ERROR;
    }
    // No connections are made or remembered here, and a machine holds nothing that can
    // be enumerated: only the context (and the whole network, the same machines) lists.
    if (pContainer || dwScope == RESOURCE_CONNECTED || dwScope == RESOURCE_REMEMBERED)
        return NO_ERROR;
    return ContextRecords(network, out.records);
}

} // namespace winplat::wnet
