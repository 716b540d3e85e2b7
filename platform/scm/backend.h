// What the service control manager asks of the manager that serves a machine. The
// Win32 surface (handles, rights, parameters, record packing) is the same for every
// back-end; a back-end only knows its services and their states.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <winplat/winsvc.h>

namespace winplat::scm {

struct ServiceInfo {
    std::string name;        // key name
    std::string displayName; // what a list shows
    SERVICE_STATUS status{};
};

// Every operation returns ERROR_SUCCESS or the Win32 error the caller sees.
class Backend {
public:
    virtual ~Backend() = default;
    // Reaches the machine's manager and asks for the (already mapped) rights.
    virtual DWORD Connect(DWORD access) = 0;
    // Checks that the service exists and grants the rights; gives its key name as the
    // manager spells it.
    virtual DWORD OpenService(const std::string& name, DWORD access, std::string& keyName) = 0;
    virtual DWORD Query(const std::string& name, SERVICE_STATUS& status) = 0;
    virtual DWORD Start(const std::string& name) = 0;
    // Sends a control. statusValid tells whether status holds the service's status (on
    // success and for the errors after which the caller gets it).
    virtual DWORD Control(const std::string& name, DWORD control, SERVICE_STATUS& status,
                          bool& statusValid) = 0;
    // All services, in the order the enumeration resumes in. resumeIndex tells where the
    // caller goes on, for a manager that fails part-way.
    virtual DWORD List(DWORD resumeIndex, std::vector<ServiceInfo>& services) = 0;
};

// Whether a service in this status takes the control: ERROR_SUCCESS, or
// ERROR_SERVICE_NOT_ACTIVE (stopped), ERROR_SERVICE_CANNOT_ACCEPT_CTRL (pending and not
// accepting it) or ERROR_INVALID_SERVICE_CONTROL (not a control it accepts).
DWORD CheckControlAccepted(const SERVICE_STATUS& status, DWORD control);

// Which manager serves a machine and how to reach it (read from the registry).
struct MachineConfig {
    enum class Kind { Supervisord, Simulated };
    Kind kind = Kind::Supervisord;
    std::string machine; // canonical name: "localhost" for this machine
    std::string address; // host to connect to
    DWORD port = 9001;
    std::string userName;
    std::string password;
    DWORD timeoutMs = 10000;
    std::string simulationFile; // POSIX path
};

// Strips leading backslashes and names this machine "localhost".
std::string CanonicalMachineName(const char* machineName);
MachineConfig ReadMachineConfig(const std::string& canonicalMachine);
// Where a supervisord machine is asked: http://ADDRESS:PORT/RPC2.
std::string SupervisordUrl(const MachineConfig& config);

std::unique_ptr<Backend> MakeSupervisordBackend(const MachineConfig& config);
std::unique_ptr<Backend> MakeSimulatedBackend(const MachineConfig& config);

} // namespace winplat::scm
