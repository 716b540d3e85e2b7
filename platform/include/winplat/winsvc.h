// The service control manager. A machine's services are the programs of the
// supervisord on that machine, or, for fault injection, the services of a simulated
// manager kept in a file; the registry decides which serves which machine name
// (docs/service-manager.md). Failures return null or FALSE with the reason in the
// last error.
#pragma once

#include "windef.h"
#include "winerror.h"

struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
typedef SC_HANDLE* LPSC_HANDLE;

// The one database a manager has.
#define SERVICES_ACTIVE_DATABASEA "ServicesActive"

// Rights on a manager handle.
#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SC_MANAGER_LOCK 0x0008
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020
#define SC_MANAGER_ALL_ACCESS 0xF003F

// Rights on a service handle.
#define SERVICE_QUERY_CONFIG 0x0001
#define SERVICE_CHANGE_CONFIG 0x0002
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008
#define SERVICE_START 0x0010
#define SERVICE_STOP 0x0020
#define SERVICE_PAUSE_CONTINUE 0x0040
#define SERVICE_INTERROGATE 0x0080
#define SERVICE_USER_DEFINED_CONTROL 0x0100
#define SERVICE_ALL_ACCESS 0xF01FF

// Standard and generic rights, mapped onto the specific ones above.
#ifndef DELETE
#define DELETE 0x00010000
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000
#endif
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#define MAXIMUM_ALLOWED 0x02000000
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000
#endif
#define GENERIC_EXECUTE 0x20000000
#define GENERIC_ALL 0x10000000

// Service types.
#define SERVICE_KERNEL_DRIVER 0x00000001
#define SERVICE_FILE_SYSTEM_DRIVER 0x00000002
#define SERVICE_ADAPTER 0x00000004
#define SERVICE_RECOGNIZER_DRIVER 0x00000008
#define SERVICE_DRIVER                                                                             \
    (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER | SERVICE_RECOGNIZER_DRIVER)
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020
#define SERVICE_WIN32 (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)
#define SERVICE_INTERACTIVE_PROCESS 0x00000100
#define SERVICE_TYPE_ALL                                                                           \
    (SERVICE_WIN32 | SERVICE_ADAPTER | SERVICE_DRIVER | SERVICE_INTERACTIVE_PROCESS)

// Current states.
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_CONTINUE_PENDING 0x00000005
#define SERVICE_PAUSE_PENDING 0x00000006
#define SERVICE_PAUSED 0x00000007

// States asked for by EnumServicesStatusA.
#define SERVICE_ACTIVE 0x00000001
#define SERVICE_INACTIVE 0x00000002
#define SERVICE_STATE_ALL (SERVICE_ACTIVE | SERVICE_INACTIVE)

// Controls.
#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_PAUSE 0x00000002
#define SERVICE_CONTROL_CONTINUE 0x00000003
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_CONTROL_SHUTDOWN 0x00000005
#define SERVICE_CONTROL_PARAMCHANGE 0x00000006
#define SERVICE_CONTROL_NETBINDADD 0x00000007
#define SERVICE_CONTROL_NETBINDREMOVE 0x00000008
#define SERVICE_CONTROL_NETBINDENABLE 0x00000009
#define SERVICE_CONTROL_NETBINDDISABLE 0x0000000A

// Controls a service accepts.
#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004
#define SERVICE_ACCEPT_PARAMCHANGE 0x00000008
#define SERVICE_ACCEPT_NETBINDCHANGE 0x00000010

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

// One record of EnumServicesStatusA. The names point into the caller's buffer.
struct ENUM_SERVICE_STATUSA {
    LPSTR lpServiceName;
    LPSTR lpDisplayName;
    SERVICE_STATUS ServiceStatus;
};
typedef ENUM_SERVICE_STATUSA* LPENUM_SERVICE_STATUSA;

static_assert(sizeof(SERVICE_STATUS) == 28);

// lpMachineName: null, "", "localhost" or this machine's name (leading backslashes
// allowed) address the local machine. lpDatabaseName: null or "ServicesActive".
WINPLAT_API SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                     DWORD dwDesiredAccess);
// lpServiceName is the service's key name, not its display name.
WINPLAT_API SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                   DWORD dwDesiredAccess);
WINPLAT_API BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
// Returns once the manager has accepted the start; the service may still be starting.
WINPLAT_API BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs,
                               LPCSTR* lpServiceArgVectors);
// On success, and on failure with ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ERROR_SERVICE_NOT_ACTIVE
// or ERROR_INVALID_SERVICE_CONTROL, *lpServiceStatus receives the service's current status.
WINPLAT_API BOOL ControlService(SC_HANDLE hService, DWORD dwControl,
                                LPSERVICE_STATUS lpServiceStatus);
// Records at the start of lpServices, their names packed from the end of the buffer.
// A buffer too small for the rest: FALSE with ERROR_MORE_DATA, the records that fit,
// *pcbBytesNeeded for the rest and *lpResumeHandle where the next call goes on.
WINPLAT_API BOOL EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType,
                                     DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                                     DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                     LPDWORD lpServicesReturned, LPDWORD lpResumeHandle);
WINPLAT_API BOOL CloseServiceHandle(SC_HANDLE hSCObject);

// How OpenSCManagerA would reach a machine's manager now, for messages and tools. Never
// carries the password, only whether one is configured.
struct WINPLAT_SERVICE_MANAGER_INFO {
    CHAR szMachine[256];   // the canonical name: "localhost" for this machine
    CHAR szBackend[16];    // "supervisord" or "simulated"
    CHAR szLocation[1024]; // "http://ADDRESS:PORT/RPC2", or the simulation file
    CHAR szKey[512];       // the key under HKEY_LOCAL_MACHINE that configures the machine
    CHAR szUserName[256];  // empty: no credentials sent
    BOOL bPassword;        // a password is configured
};
// FALSE with ERROR_INSUFFICIENT_BUFFER when a text does not fit, ERROR_INVALID_ADDRESS
// for a null pInfo.
WINPLAT_API BOOL WinplatGetServiceManagerInfo(LPCSTR lpMachineName,
                                              WINPLAT_SERVICE_MANAGER_INFO* pInfo);
