// The registry, kept as a text file in .reg syntax (path from SENTREL_REGISTRY).
// Every change is made under a file lock and written to a temporary file that is
// renamed into place, so concurrent processes never lose an update.
#pragma once

#include "windef.h"
#include "winerror.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define READ_CONTROL 0x00020000
#define DELETE 0x00010000
#define KEY_READ (READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY)
#define KEY_WRITE (READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY)
#define KEY_ALL_ACCESS 0xF003F
typedef DWORD REGSAM;

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

WINPLAT_API LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                               PHKEY phkResult);
WINPLAT_API LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINPLAT_API LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                 DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                                 PHKEY phkResult, LPDWORD lpdwDisposition);
WINPLAT_API LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINPLAT_API LONG RegCloseKey(HKEY hKey);
WINPLAT_API LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                const BYTE* lpData, DWORD cbData);
WINPLAT_API LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINPLAT_API LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
// Deletes a key that has no subkeys.
WINPLAT_API LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
// Deletes a key with its whole subtree (lpSubKey null or empty: the subtree of hKey).
WINPLAT_API LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
WINPLAT_API LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                               LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                               void* lpftLastWriteTime);
WINPLAT_API LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                               LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                               LPBYTE lpData, LPDWORD lpcbData);
WINPLAT_API LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                  LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                  LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                  LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                  LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                  void* lpftLastWriteTime);

// Points this process at another registry file (tests; the host's --registry option).
// Null returns to SENTREL_REGISTRY, or $XDG_DATA_HOME/sentrel/registry.reg
// (~/.local/share/sentrel/registry.reg).
WINPLAT_API void WinplatSetRegistryPath(LPCSTR lpPath);
// The file in use (a POSIX path), for messages.
// Both copy what fits, always terminated, and return the full length.
WINPLAT_API DWORD WinplatGetRegistryPath(LPSTR lpBuffer, DWORD nSize);
// When the registry file cannot be read, the reason ("FILE:LINE: what"), for the host to
// show; 0 when it can. Meanwhile every Reg function fails with ERROR_BADDB (ERROR_CANTREAD
// when the file cannot be opened) and the file is left alone.
WINPLAT_API DWORD WinplatGetRegistryError(LPSTR lpBuffer, DWORD nSize);

// The registrar: carries out a registration script (resource of type "REGISTRY") of a module,
// replacing %MODULE% by the module's path and each %NAME% given in the table.
struct WINPLAT_REGMAP_ENTRY {
    LPCSTR szKey;
    LPCSTR szData;
};
WINPLAT_API HRESULT WinplatRegistrarResourceRegister(HMODULE hModule, UINT nResID, BOOL bRegister,
                                                     const WINPLAT_REGMAP_ENTRY* pMap,
                                                     UINT nMap);
// The same for a script held as text (fuzzing, tests).
WINPLAT_API HRESULT WinplatRegistrarScriptRegister(LPCSTR szScript, BOOL bRegister,
                                                   const WINPLAT_REGMAP_ENTRY* pMap, UINT nMap);
// Why the calling thread's last registrar call failed ("line 3: expected ..."), for messages.
// Copies what fits, always terminated, and returns the full length (0: no failure).
WINPLAT_API DWORD WinplatGetRegistrarError(LPSTR lpBuffer, DWORD nSize);
