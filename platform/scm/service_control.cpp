// The Win32 surface of the service control manager: handles, rights, parameter checks
// and the packing of enumeration records. The back-ends behind it know only services.
#include <algorithm>
#include <cstring>
#include <strings.h>
#include <mutex>
#include <unordered_map>
#include <variant>

#include <winplat/winbase.h>
#include <winplat/winsvc.h>

#include "backend.h"
#include "system/handle_table.h"

namespace winplat::scm {
namespace {

struct ManagerObject {
    std::shared_ptr<Backend> backend;
    DWORD access = 0;
};

struct ServiceObject {
    std::shared_ptr<Backend> backend; // keeps the connection when the manager handle closes
    std::string name;
    DWORD access = 0;
};

using HandleObject = std::variant<ManagerObject, ServiceObject>;

using HandleTable = winplat::HandleTable<SC_HANDLE, HandleObject>;

HandleTable& Handles() {
    static HandleTable table(0x5C0008, 8);
    return table;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

SC_HANDLE FailHandle(DWORD error) {
    SetLastError(error);
    return nullptr;
}

DWORD MapManagerAccess(DWORD access) {
    DWORD mapped = access & (SC_MANAGER_ALL_ACCESS | MAXIMUM_ALLOWED);
    if (access & GENERIC_READ)
        mapped |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE)
        mapped |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE)
        mapped |= READ_CONTROL | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & GENERIC_ALL)
        mapped |= SC_MANAGER_ALL_ACCESS;
    // Opening the manager is connecting to it.
    return mapped | SC_MANAGER_CONNECT;
}

DWORD MapServiceAccess(DWORD access) {
    DWORD mapped = access & (SERVICE_ALL_ACCESS | MAXIMUM_ALLOWED);
    if (access & GENERIC_READ)
        mapped |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE)
        mapped |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        mapped |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    if (access & GENERIC_ALL)
        mapped |= SERVICE_ALL_ACCESS;
    return mapped;
}

// The right a control needs, or 0 for a control that cannot be sent.
DWORD RightForControl(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_PARAMCHANGE:
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
    }
}

ManagerObject* AsManager(const std::shared_ptr<HandleObject>& object) {
    return object ? std::get_if<ManagerObject>(object.get()) : nullptr;
}

ServiceObject* AsService(const std::shared_ptr<HandleObject>& object) {
    return object ? std::get_if<ServiceObject>(object.get()) : nullptr;
}

bool WantedState(DWORD currentState, DWORD wanted) {
    bool stopped = currentState == SERVICE_STOPPED;
    return (stopped && (wanted & SERVICE_INACTIVE)) || (!stopped && (wanted & SERVICE_ACTIVE));
}

// One record and its two names.
size_t RecordBytes(const ServiceInfo& info) {
    return sizeof(ENUM_SERVICE_STATUSA) + info.name.size() + 1 + info.displayName.size() + 1;
}

} // namespace

DWORD CheckControlAccepted(const SERVICE_STATUS& status, DWORD control) {
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SERVICE_NOT_ACTIVE;
    DWORD accept = 0;
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        return ERROR_SUCCESS;
    case SERVICE_CONTROL_STOP:
        accept = SERVICE_ACCEPT_STOP;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        accept = SERVICE_ACCEPT_PAUSE_CONTINUE;
        break;
    case SERVICE_CONTROL_PARAMCHANGE:
        accept = SERVICE_ACCEPT_PARAMCHANGE;
        break;
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        accept = SERVICE_ACCEPT_NETBINDCHANGE;
        break;
    default:
        break; // user-defined controls: no service here takes one
    }
    if (accept && (status.dwControlsAccepted & accept))
        return ERROR_SUCCESS;
    switch (status.dwCurrentState) {
    case SERVICE_START_PENDING:
    case SERVICE_STOP_PENDING:
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    default:
        return ERROR_INVALID_SERVICE_CONTROL;
    }
}

} // namespace winplat::scm

using namespace winplat::scm;

WINPLAT_API SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                     DWORD dwDesiredAccess) {
    if (lpDatabaseName && strcasecmp(lpDatabaseName, SERVICES_ACTIVE_DATABASEA) != 0)
        return FailHandle(ERROR_DATABASE_DOES_NOT_EXIST);
    MachineConfig config = ReadMachineConfig(CanonicalMachineName(lpMachineName));
    std::shared_ptr<Backend> backend = config.kind == MachineConfig::Kind::Simulated
                                           ? MakeSimulatedBackend(config)
                                           : MakeSupervisordBackend(config);
    DWORD access = MapManagerAccess(dwDesiredAccess);
    if (DWORD error = backend->Connect(access))
        return FailHandle(error);
    if (access & MAXIMUM_ALLOWED)
        access = (access & ~MAXIMUM_ALLOWED) | SC_MANAGER_ALL_ACCESS;
    SC_HANDLE handle = Handles().Add(ManagerObject{std::move(backend), access});
    SetLastError(ERROR_SUCCESS);
    return handle;
}

WINPLAT_API SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                   DWORD dwDesiredAccess) {
    auto object = Handles().Find(hSCManager);
    ManagerObject* manager = AsManager(object);
    if (!manager)
        return FailHandle(ERROR_INVALID_HANDLE);
    if (!lpServiceName)
        return FailHandle(ERROR_INVALID_ADDRESS);
    size_t length = strlen(lpServiceName);
    // Key names are at most 256 characters and never hold a slash or backslash.
    if (length == 0 || length > 256 || strpbrk(lpServiceName, "/\\"))
        return FailHandle(ERROR_INVALID_NAME);
    if (!(manager->access & SC_MANAGER_CONNECT))
        return FailHandle(ERROR_ACCESS_DENIED);
    DWORD access = MapServiceAccess(dwDesiredAccess);
    std::string keyName;
    if (DWORD error = manager->backend->OpenService(lpServiceName, access, keyName))
        return FailHandle(error);
    if (access & MAXIMUM_ALLOWED)
        access = (access & ~MAXIMUM_ALLOWED) | SERVICE_ALL_ACCESS;
    SC_HANDLE handle = Handles().Add(ServiceObject{manager->backend, std::move(keyName), access});
    SetLastError(ERROR_SUCCESS);
    return handle;
}

WINPLAT_API BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    auto object = Handles().Find(hService);
    ServiceObject* service = AsService(object);
    if (!service)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpServiceStatus)
        return Fail(ERROR_INVALID_ADDRESS);
    if (!(service->access & SERVICE_QUERY_STATUS))
        return Fail(ERROR_ACCESS_DENIED);
    SERVICE_STATUS status{};
    if (DWORD error = service->backend->Query(service->name, status))
        return Fail(error);
    *lpServiceStatus = status;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WINPLAT_API BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs,
                               LPCSTR* lpServiceArgVectors) {
    auto object = Handles().Find(hService);
    ServiceObject* service = AsService(object);
    if (!service)
        return Fail(ERROR_INVALID_HANDLE);
    if (dwNumServiceArgs && !lpServiceArgVectors)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(service->access & SERVICE_START))
        return Fail(ERROR_ACCESS_DENIED);
    // The managers behind this start programs as configured; arguments are not passed on.
    if (DWORD error = service->backend->Start(service->name))
        return Fail(error);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WINPLAT_API BOOL ControlService(SC_HANDLE hService, DWORD dwControl,
                                LPSERVICE_STATUS lpServiceStatus) {
    auto object = Handles().Find(hService);
    ServiceObject* service = AsService(object);
    if (!service)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpServiceStatus)
        return Fail(ERROR_INVALID_ADDRESS);
    DWORD right = RightForControl(dwControl);
    if (!right)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(service->access & right))
        return Fail(ERROR_ACCESS_DENIED);
    SERVICE_STATUS status{};
    bool statusValid = false;
    DWORD error = service->backend->Control(service->name, dwControl, status, statusValid);
    if (statusValid)
        *lpServiceStatus = status;
    if (error)
        return Fail(error);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WINPLAT_API BOOL EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType,
                                     DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                                     DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                     LPDWORD lpServicesReturned, LPDWORD lpResumeHandle) {
    auto object = Handles().Find(hSCManager);
    ManagerObject* manager = AsManager(object);
    if (!manager)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(manager->access & SC_MANAGER_ENUMERATE_SERVICE))
        return Fail(ERROR_ACCESS_DENIED);
    if (!(dwServiceType & (SERVICE_DRIVER | SERVICE_WIN32)) ||
        (dwServiceType & ~SERVICE_TYPE_ALL) || dwServiceState == 0 ||
        (dwServiceState & ~SERVICE_STATE_ALL))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!pcbBytesNeeded || !lpServicesReturned || (!lpServices && cbBufSize))
        return Fail(ERROR_INVALID_ADDRESS);
    *pcbBytesNeeded = 0;
    *lpServicesReturned = 0;

    DWORD resume = lpResumeHandle ? *lpResumeHandle : 0;
    std::vector<ServiceInfo> services;
    if (DWORD error = manager->backend->List(resume, services))
        return Fail(error);
    // Key-name order, so that a resume position means the same in the next call.
    std::stable_sort(services.begin(), services.end(),
                     [](const ServiceInfo& a, const ServiceInfo& b) {
                         return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
                     });

    // Records fill the buffer from its start, their names from its end downwards: the
    // service name first, then the display name below it.
    char* base = reinterpret_cast<char*>(lpServices);
    size_t recordsEnd = 0;
    size_t stringsStart = cbBufSize;
    DWORD returned = 0;
    size_t index = resume;
    for (; index < services.size(); ++index) {
        const ServiceInfo& info = services[index];
        if (!(info.status.dwServiceType & dwServiceType) ||
            !WantedState(info.status.dwCurrentState, dwServiceState))
            continue;
        if (recordsEnd + RecordBytes(info) > stringsStart)
            break;
        stringsStart -= info.name.size() + 1;
        char* name = base + stringsStart;
        memcpy(name, info.name.c_str(), info.name.size() + 1);
        stringsStart -= info.displayName.size() + 1;
        char* display = base + stringsStart;
        memcpy(display, info.displayName.c_str(), info.displayName.size() + 1);
        ENUM_SERVICE_STATUSA record{name, display, info.status};
        memcpy(base + recordsEnd, &record, sizeof record); // the caller's buffer may be unaligned
        recordsEnd += sizeof record;
        ++returned;
    }
    *lpServicesReturned = returned;
    if (index >= services.size()) {
        if (lpResumeHandle)
            *lpResumeHandle = 0;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    size_t needed = 0;
    for (size_t rest = index; rest < services.size(); ++rest)
        if ((services[rest].status.dwServiceType & dwServiceType) &&
            WantedState(services[rest].status.dwCurrentState, dwServiceState))
            needed += RecordBytes(services[rest]);
    *pcbBytesNeeded = static_cast<DWORD>(needed);
    if (lpResumeHandle)
        *lpResumeHandle = static_cast<DWORD>(index);
    return Fail(ERROR_MORE_DATA);
}

WINPLAT_API BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
    if (!hSCObject || !Handles().Remove(hSCObject))
        return Fail(ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
