// machine add|list|remove|test: the service manager of each machine name, kept under
// HKLM\Software\Calvaro\Sentrel\ServiceManager\Machines\<name>. Passwords go into the
// registry from a file and are never printed.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include <winplat/winbase.h>
#include <winplat/winreg.h>
#include <winplat/winsvc.h>

#include "host.h"

namespace host {

namespace {

constexpr char kMachinesKey[] = "Software\\Calvaro\\Sentrel\\ServiceManager\\Machines";

WINPLAT_SERVICE_MANAGER_INFO InfoOf(const std::string& machine) {
    // Leading backslashes are the platform's \\NAME form; any other would nest keys.
    size_t start = machine.find_first_not_of('\\');
    if (start != std::string::npos &&
        machine.find_first_of("\\/\t\r\n", start) != std::string::npos)
        throw UsageError("a machine name holds no \\, / or line break: " + machine);
    WINPLAT_SERVICE_MANAGER_INFO info;
    if (!WinplatGetServiceManagerInfo(machine.c_str(), &info))
        throw UsageError("machine name too long: " + machine);
    return info;
}

// One line per machine: name, manager, where it is asked, user, whether a password is set.
void PrintMachine(const WINPLAT_SERVICE_MANAGER_INFO& info) {
    std::printf("%s\t%s\t%s\t%s\t%s\n", info.szMachine, info.szBackend, info.szLocation,
                info.szUserName[0] ? info.szUserName : "-",
                info.bPassword ? "password set" : "no password");
}

// The first line of the file ("-": standard input), without its line end.
std::string ReadPassword(const std::string& file) {
    std::string password;
    if (file == "-") {
        std::getline(std::cin, password);
    } else {
        std::ifstream in(file);
        if (!in)
            throw UsageError("machine add: cannot read the password file " + file);
        std::getline(in, password);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        throw UsageError("machine add: the password file " + file + " holds no password");
    return password;
}

// A registry file that holds a password is for its owner's eyes only.
void MakePrivate() {
    char path[PATH_MAX] = {};
    WinplatGetRegistryPath(path, sizeof path);
    struct stat st;
    if (stat(path, &st) != 0 || (st.st_mode & 077) == 0)
        return;
    if (chmod(path, st.st_mode & 0700) == 0)
        std::fprintf(stderr,
                     "sentrel: %s was readable by others; it now is by its owner only (%04o)\n",
                     path, st.st_mode & 0700);
}

void Check(LONG rc) {
    if (rc != ERROR_SUCCESS)
        throw UsageError(RegistryProblem(rc));
}

int Add(const Args& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        throw UsageError("machine add needs NAME");
    std::string name = args[0];
    std::map<std::string, std::string> options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option != "--address" && option != "--port" && option != "--user" &&
            option != "--password-file" && option != "--backend" && option != "--simulation-file")
            throw UsageError("machine add: unexpected argument " + option);
        if (i + 1 >= args.size())
            throw UsageError("machine add: " + option + " needs a value");
        options[option] = args[++i];
    }
    DWORD port = 0;
    if (auto it = options.find("--port"); it != options.end()) {
        char* end = nullptr;
        long value = std::strtol(it->second.c_str(), &end, 10);
        if (it->second.empty() || *end || value < 1 || value > 65535)
            throw UsageError("machine add: --port takes a number from 1 to 65535, not " +
                             it->second);
        port = static_cast<DWORD>(value);
    }
    if (auto it = options.find("--backend");
        it != options.end() && it->second != "supervisord" && it->second != "simulated")
        throw UsageError("machine add: --backend is supervisord or simulated, not " + it->second);
    std::string simulationFile;
    if (auto it = options.find("--simulation-file"); it != options.end()) {
        simulationFile = it->second;
        if (!simulationFile.empty() && simulationFile.front() != '/' &&
            simulationFile.find('\\') == std::string::npos) {
            char cwd[PATH_MAX];
            if (getcwd(cwd, sizeof cwd))
                simulationFile = std::string(cwd) + "/" + simulationFile;
        }
    }
    std::string password;
    if (auto it = options.find("--password-file"); it != options.end())
        password = ReadPassword(it->second);

    WINPLAT_SERVICE_MANAGER_INFO before = InfoOf(name);
    if (std::string(before.szMachine) == "localhost" &&
        strcasecmp(name.c_str() + std::min(name.find_first_not_of('\\'), name.size()),
                   "localhost") != 0)
        std::fprintf(stderr, "sentrel: \"%s\" is this machine: kept as %s\n", name.c_str(),
                     before.szMachine);
    HKEY hKey = nullptr;
    Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, before.szKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &hKey, nullptr));
    auto setText = [&](const char* value, const std::string& text) {
        LONG rc =
            RegSetValueExA(hKey, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(hKey);
            Check(rc);
        }
    };
    if (options.count("--backend"))
        setText("Backend", options["--backend"]);
    if (options.count("--address"))
        setText("Address", options["--address"]);
    if (options.count("--user"))
        setText("UserName", options["--user"]);
    if (options.count("--simulation-file"))
        setText("SimulationFile", simulationFile);
    if (!password.empty())
        setText("Password", password);
    if (port) {
        LONG rc = RegSetValueExA(hKey, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port),
                                 sizeof port);
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(hKey);
            Check(rc);
        }
    }
    RegCloseKey(hKey);
    if (!password.empty())
        MakePrivate();
    WINPLAT_SERVICE_MANAGER_INFO after = InfoOf(name);
    if (std::string(after.szBackend) == "simulated" && after.szLocation[0] &&
        access(after.szLocation, R_OK) != 0)
        std::fprintf(stderr, "sentrel: warning: the simulation file %s cannot be read\n",
                     after.szLocation);
    PrintMachine(after);
    return 0;
}

std::vector<std::string> MachineNames() {
    std::vector<std::string> names;
    HKEY hMachines = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachinesKey, 0, KEY_READ, &hMachines);
    if (rc == ERROR_FILE_NOT_FOUND)
        return names;
    Check(rc);
    names = SubkeyNames(hMachines);
    RegCloseKey(hMachines);
    return names;
}

int List(const Args& args) {
    if (!args.empty())
        throw UsageError("machine list takes no arguments");
    std::vector<std::string> names = MachineNames();
    for (const std::string& name : names)
        PrintMachine(InfoOf(name));
    if (names.empty())
        std::fprintf(stderr,
                     "sentrel: no machine is configured (sentrel machine add NAME ...); a machine "
                     "name reaches the supervisord at http://NAME:9001/RPC2\n");
    return 0;
}

int Remove(const Args& args) {
    if (args.size() != 1)
        throw UsageError("machine remove needs NAME");
    WINPLAT_SERVICE_MANAGER_INFO info = InfoOf(args[0]);
    LONG rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, info.szKey);
    if (rc == ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "sentrel: no machine %s is configured (see sentrel machine list)\n",
                     info.szMachine);
        return 1;
    }
    Check(rc);
    std::fprintf(stderr, "sentrel: removed machine %s\n", info.szMachine);
    return 0;
}

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "start pending";
    case SERVICE_STOP_PENDING:
        return "stop pending";
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_CONTINUE_PENDING:
        return "continue pending";
    case SERVICE_PAUSE_PENDING:
        return "pause pending";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return "unknown";
    }
}

// What to look at for the errors an operator can mend.
const char* Hint(DWORD error, const WINPLAT_SERVICE_MANAGER_INFO& info) {
    bool simulated = std::string(info.szBackend) == "simulated";
    switch (error) {
    case RPC_S_SERVER_UNAVAILABLE:
        return simulated ? "the simulation file cannot be read or has no such machine"
                         : "nothing answers there: is supervisord running with an "
                           "[inet_http_server] on that address and port (--address, --port)?";
    case ERROR_ACCESS_DENIED:
        return "supervisord refused the credentials: check --user and --password-file";
    case RPC_S_CALL_FAILED:
        return "something answers there, but not as supervisord does";
    default:
        return nullptr;
    }
}

int Test(const Args& args) {
    if (args.size() != 1)
        throw UsageError("machine test needs NAME");
    WINPLAT_SERVICE_MANAGER_INFO info = InfoOf(args[0]);
    SC_HANDLE hManager =
        OpenSCManagerA(args[0].c_str(), nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    DWORD error = hManager ? ERROR_SUCCESS : GetLastError();
    std::vector<std::pair<std::string, DWORD>> services;
    while (hManager) {
        DWORD needed = 0, returned = 0, resume = 0;
        std::vector<BYTE> buffer(64 * 1024);
        bool done = false;
        while (!done) {
            BOOL ok =
                EnumServicesStatusA(hManager, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                                    reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed, &returned, &resume);
            if (!ok && GetLastError() != ERROR_MORE_DATA) {
                error = GetLastError();
                break;
            }
            auto* records = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
            for (DWORD i = 0; i < returned; ++i)
                services.emplace_back(records[i].lpServiceName,
                                      records[i].ServiceStatus.dwCurrentState);
            done = ok;
            if (!ok && returned == 0)
                buffer.resize(needed + buffer.size());
        }
        break;
    }
    if (hManager)
        CloseServiceHandle(hManager);
    if (error != ERROR_SUCCESS) {
        std::fprintf(stderr, "sentrel: cannot reach the service manager of %s: %s %s: %s (%u)\n",
                     info.szMachine, info.szBackend, info.szLocation,
                     SystemErrorText(error).c_str(), static_cast<unsigned>(error));
        if (const char* hint = Hint(error, info))
            std::fprintf(stderr, "sentrel:   %s\n", hint);
        std::fprintf(stderr,
                     "sentrel:   configured by HKEY_LOCAL_MACHINE\\%s (sentrel machine add "
                     "%s ...)\n",
                     info.szKey, info.szMachine);
        return 1;
    }
    for (const auto& [name, state] : services)
        std::printf("%s\t%s\n", name.c_str(), StateName(state));
    std::fprintf(stderr, "sentrel: %s %s answers: %zu service%s\n", info.szBackend, info.szLocation,
                 services.size(), services.size() == 1 ? "" : "s");
    return 0;
}

} // namespace

int CommandMachine(const Args& args) {
    if (args.empty())
        throw UsageError("machine needs add, list, remove or test (see sentrel machine --help)");
    Args rest(args.begin() + 1, args.end());
    if (args[0] == "add")
        return Add(rest);
    if (args[0] == "list")
        return List(rest);
    if (args[0] == "remove")
        return Remove(rest);
    if (args[0] == "test")
        return Test(rest);
    throw UsageError("machine: unknown subcommand " + args[0] + " (add, list, remove, test)");
}

} // namespace host
