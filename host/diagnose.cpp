// The host reads a file the plug-in refused and names the cause; the plug-ins themselves
// only log that loading failed.
#include "diagnose.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include <winplat/winnls.h>
#include <winplat/sapi.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>
#include <winplat/winsvc.h>

#include "html_page.h"
#include "notify_host.h"
#include "profile_document.h"

namespace host {

namespace {

// What the host knows of each notifier's instance files, by the class it registers.
struct InstanceKind {
    const char* szClassClsid;
    const char* szPrefix;
    const char* szInstanceClsid;
    std::vector<std::string> keys;     // besides CLSID
    std::vector<std::string> accepted; // the reader wants at least one of these
    bool bMessageLines;                // Message1..MessageN
    bool bOldFormat;                   // an older binary record may stand in the file
};

const std::vector<InstanceKind>& Kinds() {
    static const std::vector<InstanceKind> kinds = {
        {"{C89F80D2-B3F1-11D4-804A-0001025EB176}",
         "Syslog",
         "{69DD7B00-B669-11D4-804A-0001025EB176}",
         {"Address", "Message", "Port"},
         {"Address", "Message", "Port"},
         false,
         true},
        {"{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}",
         "ServiceRestart",
         "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}",
         {"Host", "Service", "Command"},
         {"Host", "Service", "Command"},
         false,
         false},
        {"{44440FAF-3359-11D5-8075-00E0295E9283}",
         "TextSpeech",
         "{44440FAF-3359-11D5-8075-00E0295E9283}",
         {"SpeakRate", "VolumnRate", "NO_OF_MESSAGE_LINES"},
         {"SpeakRate", "VolumnRate"},
         true,
         true},
    };
    return kinds;
}

const InstanceKind* KindOf(const NotificationType& type) {
    for (const InstanceKind& kind : Kinds())
        if (strcasecmp(kind.szClassClsid, type.clsid.c_str()) == 0)
            return &kind;
    return nullptr;
}

bool Same(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Read as the profile document reads it, with line numbers kept.
struct Entry {
    int line;
    std::string key;
    std::string value;
    std::string text; // the line without its end
};
struct Section {
    int line;
    std::string name;
    std::vector<Entry> entries;
};
struct InstanceText {
    std::string bytes;
    std::vector<Section> sections;
};

InstanceText Parse(const std::string& bytes) {
    InstanceText file{bytes, {}};
    std::istringstream in(bytes);
    std::string raw;
    int number = 0;
    Section* current = nullptr;
    while (std::getline(in, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        size_t start = 0;
        while (start < raw.size() && IsBlank(raw[start]))
            ++start;
        if (start == raw.size() || raw[start] == ';')
            continue;
        std::string line = raw.substr(start);
        if (line[0] == '[') {
            size_t nameStart = line.find_first_not_of(']', 1);
            std::string name;
            if (nameStart != std::string::npos)
                name = line.substr(nameStart, line.find(']', nameStart) - nameStart);
            if (!name.empty()) {
                file.sections.push_back({number, name, {}});
                current = &file.sections.back();
            }
            continue;
        }
        if (!current)
            continue;
        size_t keyStart = line.find_first_not_of('=');
        if (keyStart == std::string::npos)
            keyStart = line.size();
        size_t equals = line.find('=', keyStart);
        if (equals == std::string::npos)
            current->entries.push_back({number, line.substr(keyStart), "", raw});
        else
            current->entries.push_back(
                {number, line.substr(keyStart, equals - keyStart), line.substr(equals + 1), raw});
    }
    return file;
}

// The section the plug-in looks for; the last of that name wins, as in the document.
const Section* FindSection(const InstanceText& file, const std::string& name) {
    const Section* found = nullptr;
    for (const Section& section : file.sections)
        if (Same(section.name, name))
            found = &section;
    return found;
}

const Entry* FindEntry(const Section& section, const std::string& key) {
    for (const Entry& entry : section.entries)
        if (Same(entry.key, key))
            return &entry;
    return nullptr;
}

std::string LineOf(const Entry& entry) {
    return "line " + std::to_string(entry.line) + ": ";
}

// The plug-in path is UTF-8 (PluginPath); the platform's path functions take the code page.
std::string PosixPathOf(const std::string& pluginPath) {
    std::u16string wide = Utf16(pluginPath);
    std::string ansi(wide.size() * 2 + 1, '\0');
    int n = wide.empty()
                ? 0
                : WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(n > 0 ? static_cast<size_t>(n) : 0);
    char posix[4096];
    if (WinplatToPosixPath(ansi.c_str(), posix, sizeof posix))
        return posix;
    return pluginPath;
}

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "Message" and a number without leading zeros.
bool IsMessageLineKey(const std::string& key) {
    return key.size() > 7 && strncasecmp(key.c_str(), "Message", 7) == 0 && key[7] != '0' &&
           key.find_first_not_of("0123456789", 7) == std::string::npos;
}

bool IsKnownKey(const InstanceKind& kind, const std::string& key) {
    if (Same(key, "CLSID") || (kind.bMessageLines && IsMessageLineKey(key)))
        return true;
    return std::any_of(kind.keys.begin(), kind.keys.end(),
                       [&](const std::string& known) { return Same(known, key); });
}

// The known key that an unknown one was probably meant to be.
std::optional<std::string> CloseKey(const InstanceKind& kind, const std::string& key) {
    if (key.size() < 4)
        return std::nullopt;
    std::vector<std::string> candidates = kind.keys;
    candidates.push_back("CLSID");
    std::string digits;
    std::string stem = key;
    if (kind.bMessageLines) {
        size_t end = key.find_last_not_of("0123456789");
        if (end != std::string::npos && end + 1 < key.size()) {
            digits = key.substr(end + 1);
            stem = key.substr(0, end + 1);
        }
        candidates.push_back("Message");
    }
    for (const std::string& known : candidates) {
        const std::string& compared = known == "Message" ? stem : key;
        if (Distance(compared, known) <= 2)
            return known == "Message" ? known + (digits.empty() ? "1" : digits) : known;
    }
    return std::nullopt;
}

const unsigned char kBom[] = {0xEF, 0xBB, 0xBF};

bool StartsWithBom(const std::string& bytes) {
    return bytes.size() >= 3 && std::memcmp(bytes.data(), kBom, 3) == 0;
}

// The instance type identifier in its binary layout, as an old record begins.
bool StartsWithSignature(const std::string& bytes, const char* szClsid) {
    CLSID clsid{};
    if (bytes.size() < 16 || FAILED(CLSIDFromString(Utf16(szClsid).c_str(), &clsid)))
        return false;
    unsigned char expected[16];
    for (int i = 0; i < 4; ++i)
        expected[i] = static_cast<unsigned char>(clsid.Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        expected[4 + i] = static_cast<unsigned char>(clsid.Data2 >> (8 * i));
        expected[6 + i] = static_cast<unsigned char>(clsid.Data3 >> (8 * i));
    }
    std::memcpy(expected + 8, clsid.Data4, 8);
    return std::memcmp(bytes.data(), expected, 16) == 0;
}

// Keys written with blanks around "=", and unknown keys close to a known one.
std::vector<std::string> KeyProblems(const InstanceKind& kind, const Section& section) {
    std::vector<std::string> problems;
    for (const Entry& entry : section.entries) {
        std::string key = Trimmed(entry.key);
        bool known = IsKnownKey(kind, key);
        bool blankKey = !entry.key.empty() && IsBlank(entry.key.back());
        bool blankValue = !entry.value.empty() && IsBlank(entry.value.front()) &&
                          !(kind.bMessageLines && IsMessageLineKey(key)) && !Same(key, "Message");
        if (known && (blankKey || blankValue)) {
            problems.push_back(LineOf(entry) + "blanks around \"=\" in \"" + Trimmed(entry.text) +
                               "\": the key is read as \"" + entry.key + "\" and the value as \"" +
                               entry.value + "\"; write " + key + "=" + Trimmed(entry.value));
        } else if (!known) {
            if (auto meant = CloseKey(kind, key))
                problems.push_back(LineOf(entry) + "unknown key \"" + key + "\"; did you mean \"" +
                                   *meant + "\"?");
        }
    }
    return problems;
}

// What stands in the way of reading the file; stops at the first cause that keeps the
// plug-in from going further, as its reader stops.
std::vector<std::string> Causes(const InstanceKind& kind, const std::string& pluginPath) {
    std::vector<std::string> causes;
    std::string posix = PosixPathOf(pluginPath);
    struct stat st;
    if (stat(posix.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            causes.push_back(std::string("cannot be read: ") + std::strerror(errno));
            return causes;
        }
        std::string folder = posix.substr(0, posix.find_last_of('/') + 1);
        struct stat dir;
        if (!folder.empty() && stat(folder.c_str(), &dir) != 0)
            causes.push_back("no such file: the folder " + folder + " does not exist");
        else
            causes.push_back("no such file");
        return causes;
    }
    if (S_ISDIR(st.st_mode)) {
        causes.push_back("is a folder, not an instance file");
        return causes;
    }
    std::ifstream in(posix, std::ios::binary);
    if (!in) {
        causes.push_back(std::string("cannot be read: ") + std::strerror(errno));
        return causes;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    InstanceText file = Parse(bytes);
    std::string expected = InstanceSectionName(kind.szPrefix, pluginPath.c_str());

    if (StartsWithBom(bytes))
        causes.push_back("line 1: the file starts with a UTF-8 byte-order mark (EF BB BF), so "
                         "its first line is not read; save it without the mark");
    if (file.sections.empty()) {
        if (bytes.empty())
            causes.push_back("the file is empty: it needs the section [" + expected + "]");
        else if (kind.bOldFormat && StartsWithSignature(bytes, kind.szInstanceClsid))
            causes.push_back("an older binary record whose lengths do not hold");
        else if (causes.empty())
            causes.push_back("no section header: the file needs [" + expected +
                             "] before its keys");
        return causes;
    }
    const Section* section = FindSection(file, expected);
    if (!section) {
        std::string found;
        for (const Section& s : file.sections)
            found += (found.empty() ? "" : ", ") + ("[" + s.name + "] on line ") +
                     std::to_string(s.line);
        causes.push_back("section " + found + " found, expected [" + expected +
                         "]: the section carries the file's name (was the file renamed?)");
        return causes;
    }

    const Entry* clsid = FindEntry(*section, "CLSID");
    if (!clsid) {
        causes.push_back("no CLSID line in [" + section->name +
                         "]: expected CLSID=" + kind.szInstanceClsid);
    } else if (clsid->value != kind.szInstanceClsid) {
        if (Same(clsid->value, kind.szInstanceClsid)) {
            causes.push_back(LineOf(*clsid) +
                             "the CLSID must be in upper case: " + kind.szInstanceClsid);
        } else {
            std::string other;
            for (const InstanceKind& k : Kinds())
                if (Same(Trimmed(clsid->value), k.szInstanceClsid) && &k != &kind)
                    other = std::string(" (that of a ") + k.szPrefix + " instance)";
            causes.push_back(LineOf(*clsid) + "CLSID " + clsid->value + other +
                             " differs from this type's " + kind.szInstanceClsid);
        }
    }

    std::vector<std::string> keys = KeyProblems(kind, *section);
    causes.insert(causes.end(), keys.begin(), keys.end());
    bool anyAccepted = false;
    for (const Entry& entry : section->entries)
        anyAccepted =
            anyAccepted || std::any_of(kind.accepted.begin(), kind.accepted.end(),
                                       [&](const std::string& a) { return Same(a, entry.key); });
    if (!anyAccepted) {
        std::string list;
        for (const std::string& key : kind.accepted)
            list += (list.empty() ? "" : ", ") + key;
        causes.push_back("none of the keys " + list + " in [" + section->name + "]");
    }

    // Values that read but cannot work.
    if (std::string(kind.szPrefix) == "Syslog") {
        if (const Entry* address = FindEntry(*section, "Address");
            address && inet_addr(address->value.c_str()) == INADDR_NONE &&
            address->value != "255.255.255.255")
            causes.push_back(LineOf(*address) + "Address \"" + address->value +
                             "\" is not a dotted IPv4 address (host names are not looked up)");
        if (const Entry* port = FindEntry(*section, "Port")) {
            long value = std::strtol(port->value.c_str(), nullptr, 10);
            if (value <= 0 || value > 65535)
                causes.push_back(LineOf(*port) + "Port \"" + port->value +
                                 "\" is not a port number (1 to 65535)");
        }
    }
    if (std::string(kind.szPrefix) == "ServiceRestart")
        if (const Entry* service = FindEntry(*section, "Service");
            service && service->value.empty())
            causes.push_back(LineOf(*service) + "Service is empty");
    return causes;
}

// The section as the plug-in reads it, when the file reads at all.
std::optional<Section> ReadableSection(const InstanceKind& kind, const std::string& pluginPath) {
    std::ifstream in(PosixPathOf(pluginPath), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    InstanceText file = Parse(bytes);
    const Section* section =
        FindSection(file, InstanceSectionName(kind.szPrefix, pluginPath.c_str()));
    if (!section)
        return std::nullopt;
    return *section;
}

void Print(const std::string& pluginPath, const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    std::string posix = PosixPathOf(pluginPath);
    std::fprintf(stderr, "sentrel: instance file %s%s:\n", pluginPath.c_str(),
                 posix == pluginPath ? "" : (" (" + posix + ")").c_str());
    for (const std::string& line : lines)
        std::fprintf(stderr, "sentrel:   %s\n", line.c_str());
}

// The machine a Revocet instance addresses, expanded as the plug-in expands it.
std::optional<std::string> MachineOf(const InstanceKind& kind, const std::string& pluginPath,
                                     NotifyHost& hostObject) {
    std::optional<Section> section = ReadableSection(kind, pluginPath);
    if (!section)
        return std::nullopt;
    const Entry* hostEntry = FindEntry(*section, "Host");
    std::string machine = hostEntry ? hostEntry->value : "";
    if (Same(machine, "%H")) {
        BSTR text = SysAllocString(Utf16(machine).c_str());
        HRESULT hr = hostObject.ExpandVariables(&text);
        machine = Utf8(std::u16string(text ? text : u"", SysStringLen(text)));
        SysFreeString(text);
        if (FAILED(hr))
            return std::nullopt;
    }
    return machine;
}

void ReportServiceManager(const std::string& machine) {
    WINPLAT_SERVICE_MANAGER_INFO info;
    if (!WinplatGetServiceManagerInfo(machine.c_str(), &info))
        return;
    HKEY hKey = nullptr;
    bool configured =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, info.szKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (hKey)
        RegCloseKey(hKey);
    std::fprintf(stderr, "sentrel: service manager of machine \"%s\": %s %s\n",
                 machine.empty() ? "localhost" : machine.c_str(), info.szBackend, info.szLocation);
    std::fprintf(stderr, "sentrel:   configured by HKEY_LOCAL_MACHINE\\%s%s\n", info.szKey,
                 configured ? "" : " (no such key: built-in defaults)");
    std::fprintf(stderr, "sentrel:   check it with: sentrel machine test %s\n", info.szMachine);
}

std::string DirectoryProblem(const std::string& pluginDirectory) {
    std::string posix = PosixPathOf(pluginDirectory);
    struct stat st;
    if (stat(posix.c_str(), &st) != 0)
        return "no such folder " + posix;
    if (!S_ISDIR(st.st_mode))
        return posix + " is not a folder";
    if (access(posix.c_str(), W_OK) != 0)
        return "cannot write in " + posix + ": " + std::strerror(errno);
    return {};
}

} // namespace

std::vector<std::string> DiagnoseInstance(const NotificationType& type,
                                          const std::string& pluginPath) {
    const InstanceKind* kind = KindOf(type);
    return kind ? Causes(*kind, pluginPath) : std::vector<std::string>{};
}

std::vector<std::string> InstanceWarnings(const NotificationType& type,
                                          const std::string& pluginPath, bool bKeys) {
    std::vector<std::string> warnings;
    const InstanceKind* kind = KindOf(type);
    if (!kind)
        return warnings;
    std::optional<Section> section = ReadableSection(*kind, pluginPath);
    if (!section)
        return warnings;
    if (bKeys)
        warnings = KeyProblems(*kind, *section);
    if (kind->bMessageLines) {
        const Entry* volume = FindEntry(*section, "VolumnRate");
        if (!volume)
            warnings.push_back("warning: no VolumnRate: the alert will be silent");
        else if (std::strtol(volume->value.c_str(), nullptr, 10) <= 0)
            warnings.push_back(LineOf(*volume) + "warning: VolumnRate=" + volume->value +
                               ": the alert will be silent");
        const Entry* count = FindEntry(*section, "NO_OF_MESSAGE_LINES");
        long lines = count ? std::strtol(count->value.c_str(), nullptr, 10) : 0;
        bool spoken = false;
        for (const Entry& entry : section->entries)
            if (IsMessageLineKey(entry.key) &&
                std::strtol(entry.key.c_str() + 7, nullptr, 10) <= lines &&
                !Trimmed(entry.value).empty())
                spoken = true;
        if (!count)
            warnings.push_back("warning: no NO_OF_MESSAGE_LINES: nothing will be spoken");
        else if (!spoken)
            warnings.push_back(LineOf(*count) + "warning: NO_OF_MESSAGE_LINES=" + count->value +
                               " and no message line to go with it: nothing will be spoken");
    }
    if (std::string(kind->szPrefix) == "ServiceRestart")
        if (const Entry* command = FindEntry(*section, "Command");
            command && command->value != "Start" && command->value != "Stop")
            warnings.push_back(LineOf(*command) + "warning: Command=" + command->value +
                               " stops the service (only \"Start\", in that letter case, "
                               "starts it)");
    return warnings;
}

void ReportNotify(const NotificationType& type, const std::string& pluginPath, HRESULT hr,
                  NotifyHost& hostObject) {
    std::vector<std::string> lines;
    if (hr != S_OK)
        lines = DiagnoseInstance(type, pluginPath);
    std::vector<std::string> warnings = InstanceWarnings(type, pluginPath, hr == S_OK);
    lines.insert(lines.end(), warnings.begin(), warnings.end());
    Print(pluginPath, lines);
    const InstanceKind* kind = KindOf(type);
    if (hr != S_OK && kind && std::string(kind->szPrefix) == "ServiceRestart" &&
        DiagnoseInstance(type, pluginPath).empty())
        if (auto machine = MachineOf(*kind, pluginPath, hostObject))
            ReportServiceManager(*machine);
    char wav[4096] = {};
    DWORD length = WinplatGetLastSpeechFile(wav, sizeof wav);
    if (length > 0 && length < sizeof wav)
        std::fprintf(stderr, "sentrel: the alert was spoken into the WAV file %s\n", wav);
}

void ReportPage(const NotificationType& type, const std::string& pluginPath, HRESULT hr) {
    if (hr != S_OK)
        Print(pluginPath, DiagnoseInstance(type, pluginPath));
}

void ReportDirectory(const NotificationType& type, const std::string& pluginDirectory,
                     const std::string& form, HRESULT hr) {
    if (hr != S_OK) {
        std::string problem = DirectoryProblem(pluginDirectory);
        if (!problem.empty())
            std::fprintf(stderr, "sentrel: notification folder %s: %s\n", pluginDirectory.c_str(),
                         problem.c_str());
        if (!form.empty() && GetFormField(form, "instancename", "").empty())
            std::fprintf(stderr, "sentrel: the form names no instance (instancename is empty)\n");
        return;
    }
    if (form.empty())
        return;
    std::string name = GetFormField(form, "instancename", "");
    if (!name.empty()) {
        std::string path = pluginDirectory + "\\" + name;
        Print(path, InstanceWarnings(type, path, true));
    }
}

std::string ListenProblem(const std::string& address, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return "cannot resolve " + address;
    std::string problem;
    int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd < 0) {
        problem = std::strerror(errno);
    } else {
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 1) != 0) {
            if (errno == EADDRINUSE)
                problem = "address in use (another program listens there)";
            else if (errno == EACCES)
                problem = "permission denied (ports below 1024 need root)";
            else if (errno == EADDRNOTAVAIL)
                problem = "address not available on this machine";
            else
                problem = std::strerror(errno);
        }
        close(fd);
    }
    freeaddrinfo(found);
    return problem;
}

} // namespace host
