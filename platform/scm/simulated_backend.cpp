// The simulated manager: machines and services described in a text file, with errors
// injected per call, for the cases a real manager cannot be made to produce. Every
// call reads the file afresh and a start or stop writes the new state back into it (under
// a lock, through a temporary file renamed into place), so the next process sees it.
// Format: docs/service-manager.md.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <winplat/winsvc.h>

#include "backend.h"
#include "files/files_internal.h"

namespace winplat::scm {
namespace {

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

struct Line {
    std::string raw;
    std::string key; // empty for comments, blanks and section headers
    std::string value;
};

struct Section {
    std::string name;
    size_t header = 0; // line index of "[name]"
    std::vector<size_t> lines;
};

// The file as lines, so that a change rewrites one value and keeps everything else.
class SimulationFile {
public:
    bool Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        std::string raw;
        while (std::getline(in, raw)) {
            if (!raw.empty() && raw.back() == '\r')
                raw.pop_back();
            Add(raw);
        }
        return true;
    }

    const Section* Find(const std::string& name) const {
        for (const Section& section : m_sections)
            if (SameText(section.name, name))
                return &section;
        return nullptr;
    }

    std::optional<std::string> Value(const Section& section, const char* key) const {
        for (size_t index : section.lines)
            if (SameText(m_lines[index].key, key))
                return m_lines[index].value;
        return std::nullopt;
    }

    void SetValue(const Section& section, const char* key, const std::string& value) {
        for (size_t index : section.lines)
            if (SameText(m_lines[index].key, key)) {
                m_lines[index] = Line{std::string(key) + "=" + value, key, value};
                return;
            }
        m_lines.insert(m_lines.begin() + section.header + 1,
                       Line{std::string(key) + "=" + value, key, value});
        Reindex();
    }

    bool MachineExists(const std::string& machine) const {
        std::string prefix = machine + "\\";
        for (const Section& section : m_sections)
            if (SameText(section.name, machine) ||
                (section.name.size() > prefix.size() &&
                 SameText(section.name.substr(0, prefix.size()), prefix)))
                return true;
        return false;
    }

    // The sections "[machine\service]", as service names.
    std::vector<const Section*> Services(const std::string& machine) const {
        std::string prefix = machine + "\\";
        std::vector<const Section*> services;
        for (const Section& section : m_sections)
            if (section.name.size() > prefix.size() &&
                SameText(section.name.substr(0, prefix.size()), prefix))
                services.push_back(&section);
        return services;
    }

    bool Save(const std::string& path) const {
        std::string text;
        for (const Line& line : m_lines)
            text += line.raw + "\n";
        struct stat st;
        mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
        return files::ReplaceFileAtomically(path, text, mode);
    }

private:
    void Add(const std::string& raw) {
        Line line{raw, {}, {}};
        std::string text = Trim(raw);
        size_t equals = text.find('=');
        if (!text.empty() && text[0] != '#' && text[0] != ';' && text[0] != '[' &&
            equals != std::string::npos) {
            line.key = Trim(text.substr(0, equals));
            line.value = Trim(text.substr(equals + 1));
        }
        m_lines.push_back(line);
        Reindex();
    }

    void Reindex() {
        m_sections.clear();
        for (size_t index = 0; index < m_lines.size(); ++index) {
            std::string text = Trim(m_lines[index].raw);
            if (!text.empty() && text[0] == '[' && text.find(']') != std::string::npos) {
                m_sections.push_back(Section{Trim(text.substr(1, text.find(']') - 1)), index, {}});
            } else if (!m_sections.empty() && !m_lines[index].key.empty()) {
                m_sections.back().lines.push_back(index);
            }
        }
    }

    std::vector<Line> m_lines;
    std::vector<Section> m_sections;
};

struct Word {
    const char* text;
    DWORD value;
};

constexpr Word kStates[] = {
    {"stopped", SERVICE_STOPPED},
    {"start_pending", SERVICE_START_PENDING},
    {"stop_pending", SERVICE_STOP_PENDING},
    {"running", SERVICE_RUNNING},
    {"continue_pending", SERVICE_CONTINUE_PENDING},
    {"pause_pending", SERVICE_PAUSE_PENDING},
    {"paused", SERVICE_PAUSED},
};

constexpr Word kTypes[] = {
    {"own", SERVICE_WIN32_OWN_PROCESS}, {"shared", SERVICE_WIN32_SHARE_PROCESS},
    {"kernel", SERVICE_KERNEL_DRIVER},  {"filesystem", SERVICE_FILE_SYSTEM_DRIVER},
    {"adapter", SERVICE_ADAPTER},       {"recognizer", SERVICE_RECOGNIZER_DRIVER},
};

constexpr Word kAccepts[] = {
    {"none", 0},
    {"stop", SERVICE_ACCEPT_STOP},
    {"pause", SERVICE_ACCEPT_PAUSE_CONTINUE},
    {"shutdown", SERVICE_ACCEPT_SHUTDOWN},
    {"paramchange", SERVICE_ACCEPT_PARAMCHANGE},
    {"netbind", SERVICE_ACCEPT_NETBINDCHANGE},
};

constexpr Word kAccess[] = {{"all", 0xFFFFFFFF}, {"none", 0}};

// A word of the table or a number (decimal or 0x hexadecimal); words may be joined by
// "," or "|" where flags combine.
template <size_t N>
std::optional<DWORD> Parse(const std::string& text, const Word (&words)[N], bool flags) {
    DWORD result = 0;
    std::string rest = text;
    bool any = false;
    while (!rest.empty()) {
        size_t cut = flags ? rest.find_first_of(",|") : std::string::npos;
        std::string token = Trim(rest.substr(0, cut));
        rest = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
        if (token.empty())
            continue;
        auto word = std::find_if(std::begin(words), std::end(words),
                                 [&](const Word& w) { return SameText(token, w.text); });
        if (word != std::end(words)) {
            result |= word->value;
        } else {
            char* end = nullptr;
            unsigned long number = strtoul(token.c_str(), &end, 0);
            if (!end || *end)
                return std::nullopt;
            result |= static_cast<DWORD>(number);
        }
        any = true;
    }
    return any ? std::optional<DWORD>(result) : std::nullopt;
}

template <size_t N> std::string WordFor(DWORD value, const Word (&words)[N]) {
    for (const Word& word : words)
        if (word.value == value)
            return word.text;
    return std::to_string(value);
}

// Exclusive lock on "<file>.lock" for a read-modify-write.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~FileLock() {
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

class SimulatedBackend final : public Backend {
public:
    explicit SimulatedBackend(const MachineConfig& config)
        : m_path(config.simulationFile), m_machine(config.machine) {}

    DWORD Connect(DWORD access) override {
        SimulationFile file;
        if (m_path.empty() || !file.Load(m_path) || !file.MachineExists(m_machine))
            return RPC_S_SERVER_UNAVAILABLE; // no such machine
        if (const Section* machine = file.Find(m_machine)) {
            auto reachable = file.Value(*machine, "Reachable");
            if (reachable &&
                (SameText(*reachable, "no") || SameText(*reachable, "false") || *reachable == "0"))
                return RPC_S_SERVER_UNAVAILABLE;
            if (DWORD error = Number(file, *machine, "ConnectError", 0))
                return error;
            if (!Granted(file, *machine, access))
                return ERROR_ACCESS_DENIED;
        }
        return ERROR_SUCCESS;
    }

    DWORD OpenService(const std::string& name, DWORD access, std::string& keyName) override {
        SimulationFile file;
        const Section* service = nullptr;
        if (DWORD error = Load(file, name, service))
            return error;
        if (DWORD error = Number(file, *service, "OpenError", 0))
            return error;
        if (!Granted(file, *service, access))
            return ERROR_ACCESS_DENIED;
        keyName = service->name.substr(m_machine.size() + 1);
        return ERROR_SUCCESS;
    }

    DWORD Query(const std::string& name, SERVICE_STATUS& status) override {
        SimulationFile file;
        const Section* service = nullptr;
        if (DWORD error = Load(file, name, service))
            return error;
        if (DWORD error = Number(file, *service, "QueryError", 0))
            return error;
        status = Status(file, *service);
        return ERROR_SUCCESS;
    }

    DWORD Start(const std::string& name) override {
        FileLock lock(m_path);
        SimulationFile file;
        const Section* service = nullptr;
        if (DWORD error = Load(file, name, service))
            return error;
        if (DWORD error = Number(file, *service, "StartError", 0))
            return error;
        if (Status(file, *service).dwCurrentState != SERVICE_STOPPED)
            return ERROR_SERVICE_ALREADY_RUNNING;
        return Move(file, *service, State(file, *service, "StartTo", SERVICE_RUNNING));
    }

    DWORD Control(const std::string& name, DWORD control, SERVICE_STATUS& status,
                  bool& statusValid) override {
        FileLock lock(m_path);
        SimulationFile file;
        const Section* service = nullptr;
        if (DWORD error = Load(file, name, service))
            return error;
        status = Status(file, *service);
        statusValid = true;
        if (control == SERVICE_CONTROL_STOP)
            if (DWORD error = Number(file, *service, "StopError", 0))
                return error;
        if (DWORD error = CheckControlAccepted(status, control))
            return error;
        DWORD next = status.dwCurrentState;
        if (control == SERVICE_CONTROL_STOP)
            next = State(file, *service, "StopTo", SERVICE_STOPPED);
        else if (control == SERVICE_CONTROL_PAUSE)
            next = SERVICE_PAUSED;
        else if (control == SERVICE_CONTROL_CONTINUE)
            next = SERVICE_RUNNING;
        if (next == status.dwCurrentState)
            return ERROR_SUCCESS;
        std::string sectionName = service->name; // the move re-reads the sections
        if (DWORD error = Move(file, *service, next))
            return error;
        status = Status(file, *file.Find(sectionName));
        return ERROR_SUCCESS;
    }

    DWORD List(DWORD resumeIndex, std::vector<ServiceInfo>& services) override {
        SimulationFile file;
        if (m_path.empty() || !file.Load(m_path) || !file.MachineExists(m_machine))
            return RPC_S_SERVER_UNAVAILABLE;
        if (const Section* machine = file.Find(m_machine)) {
            DWORD error = Number(file, *machine, "EnumError", 0);
            if (error && resumeIndex >= Number(file, *machine, "EnumErrorAt", 0))
                return error;
        }
        for (const Section* section : file.Services(m_machine)) {
            ServiceInfo info;
            info.name = section->name.substr(m_machine.size() + 1);
            info.displayName = file.Value(*section, "DisplayName").value_or(info.name);
            info.status = Status(file, *section);
            services.push_back(std::move(info));
        }
        return ERROR_SUCCESS;
    }

private:
    DWORD Load(SimulationFile& file, const std::string& name, const Section*& service) const {
        if (m_path.empty() || !file.Load(m_path) || !file.MachineExists(m_machine))
            return RPC_S_SERVER_UNAVAILABLE; // the file or the machine went away
        service = file.Find(m_machine + "\\" + name);
        return service ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST;
    }

    static DWORD Number(const SimulationFile& file, const Section& section, const char* key,
                        DWORD fallback) {
        auto text = file.Value(section, key);
        if (!text)
            return fallback;
        char* end = nullptr;
        unsigned long number = strtoul(text->c_str(), &end, 0);
        return end && !*end ? static_cast<DWORD>(number) : fallback;
    }

    static DWORD State(const SimulationFile& file, const Section& section, const char* key,
                       DWORD fallback) {
        auto text = file.Value(section, key);
        auto state = text ? Parse(*text, kStates, false) : std::nullopt;
        return state && *state >= SERVICE_STOPPED && *state <= SERVICE_PAUSED ? *state : fallback;
    }

    static bool Granted(const SimulationFile& file, const Section& section, DWORD access) {
        auto text = file.Value(section, "Access");
        DWORD granted = 0xFFFFFFFF;
        if (text)
            granted = Parse(*text, kAccess, true).value_or(0);
        return (access & ~MAXIMUM_ALLOWED & ~granted) == 0;
    }

    static SERVICE_STATUS Status(const SimulationFile& file, const Section& section) {
        SERVICE_STATUS status{};
        auto type = file.Value(section, "Type");
        status.dwServiceType = type ? Parse(*type, kTypes, true).value_or(SERVICE_WIN32_OWN_PROCESS)
                                    : SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = State(file, section, "State", SERVICE_STOPPED);
        if (auto accept = file.Value(section, "Accept"))
            status.dwControlsAccepted = Parse(*accept, kAccepts, true).value_or(0);
        else if (status.dwCurrentState == SERVICE_RUNNING)
            status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        else if (status.dwCurrentState == SERVICE_PAUSED)
            status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
        status.dwWin32ExitCode = Number(file, section, "ExitCode", 0);
        status.dwServiceSpecificExitCode = Number(file, section, "SpecificExitCode", 0);
        status.dwCheckPoint = Number(file, section, "CheckPoint", 0);
        status.dwWaitHint = Number(file, section, "WaitHint", 0);
        return status;
    }

    DWORD Move(SimulationFile& file, const Section& service, DWORD state) const {
        file.SetValue(service, "State", WordFor(state, kStates));
        return file.Save(m_path) ? ERROR_SUCCESS : ERROR_SERVICE_DATABASE_LOCKED;
    }

    std::string m_path;
    std::string m_machine;
};

} // namespace

std::unique_ptr<Backend> MakeSimulatedBackend(const MachineConfig& config) {
    return std::make_unique<SimulatedBackend>(config);
}

} // namespace winplat::scm
