// Kernel services: last error and system message texts, modules and their
// resources, files and paths, local memory and the millisecond counter.
#pragma once

#include "windef.h"
#include "winerror.h"

// Last error (per thread).
WINPLAT_API DWORD GetLastError(void);
WINPLAT_API void SetLastError(DWORD dwErrCode);

// System message texts, from the platform's own message table. Texts end in CR LF.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
WINPLAT_API DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                 DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, void* Arguments);

// Local memory, as FormatMessageA allocates it.
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
WINPLAT_API HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
WINPLAT_API HLOCAL LocalFree(HLOCAL hMem);

// Reference counts: atomic, returning the new value.
inline LONG InterlockedIncrement(LONG volatile* lpAddend) {
    return __atomic_add_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* lpAddend) {
    return __atomic_sub_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}

// Milliseconds since an arbitrary start, wrapping after about 49.7 days.
WINPLAT_API DWORD GetTickCount(void);
WINPLAT_API void Sleep(DWORD dwMilliseconds);

// Computer name: the host name of this machine.
#define MAX_COMPUTERNAME_LENGTH 15
WINPLAT_API BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);

// Modules. A module's HINSTANCE is the address at which it is loaded.
WINPLAT_API HMODULE LoadLibraryA(LPCSTR lpLibFileName);
WINPLAT_API BOOL FreeLibrary(HMODULE hLibModule);
WINPLAT_API void* GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
WINPLAT_API HMODULE GetModuleHandleA(LPCSTR lpModuleName);
// Why the last LoadLibraryA on this thread failed, in the loader's words.
WINPLAT_API DWORD WinplatGetLoaderError(LPSTR lpBuffer, DWORD nSize);
// Writes the module's path in the platform's form (Z:\...). A buffer too small for it
// receives the path cut to fit; the result is then nSize, with ERROR_INSUFFICIENT_BUFFER.
WINPLAT_API DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// Resources compiled into a module.
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_DIALOG MAKEINTRESOURCEA(5)
WINPLAT_API HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
WINPLAT_API HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
WINPLAT_API LPVOID LockResource(HGLOBAL hResData);
WINPLAT_API DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
WINPLAT_API int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);

// Files. Paths take "\" or "/" as separators; drive Z: is the root of the file system.
#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
WINPLAT_API BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
WINPLAT_API BOOL DeleteFileA(LPCSTR lpFileName);
WINPLAT_API BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
WINPLAT_API BOOL CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes);
WINPLAT_API BOOL RemoveDirectoryA(LPCSTR lpPathName);
WINPLAT_API DWORD GetFileAttributesA(LPCSTR lpFileName);
WINPLAT_API BOOL CloseHandle(HANDLE hObject);
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
// MOVEFILE_WRITE_THROUGH: the file's data and the move are on disk before this returns.
WINPLAT_API BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
// A temporary file name "<path>\<pre>XXXX.tmp" (the first three characters of the prefix,
// four hexadecimal digits). uUnique 0: the platform picks an unused number and creates the
// file empty; otherwise uUnique is used and nothing is created. Returns the number used,
// or 0 with the last error set (the name must fit MAX_PATH).
WINPLAT_API UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                                  LPSTR lpTempFileName);
// A file that GetTempFileNameA made stays held by this process (an exclusive flock) until
// it is moved or deleted through MoveFileExA or DeleteFileA, or the process ends. This
// removes the files "<pre>XXXX.tmp" in the folder that no live process holds: those left
// behind by a process that died. Returns how many were removed.
WINPLAT_API UINT WinplatRemoveStaleTempFiles(LPCSTR lpPathName, LPCSTR lpPrefixString);
// Whether a file name (no folder) has the form GetTempFileNameA gives with this prefix.
WINPLAT_API BOOL WinplatIsTempFileName(LPCSTR lpFileName, LPCSTR lpPrefixString);

// Turns a platform path (Z:\var\x, or a relative path with either separator) into the
// POSIX path of the same file. Returns false for a drive other than Z:
// (ERROR_PATH_NOT_FOUND) and for a network path (ERROR_BAD_NETPATH).
WINPLAT_API BOOL WinplatToPosixPath(LPCSTR lpPath, LPSTR lpBuffer, DWORD nSize);
// Turns an absolute POSIX path into its Z:\ form; a relative one only gets "\" separators.
WINPLAT_API BOOL WinplatFromPosixPath(LPCSTR lpPosix, LPSTR lpBuffer, DWORD nSize);

// Private profile (INI) files. Section and key names match without regard to case and
// without their surrounding blanks; a value loses the blanks around it and one pair of
// matching quotes. A missing file, section or key gives the default (without its trailing
// blanks). A value longer than the buffer is cut to nSize - 1 bytes (at a character
// boundary) and that length returned. A null lpAppName lists the section names, a null
// lpKeyName the keys of the section, each zero-terminated, with a final zero.
WINPLAT_API DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                           LPSTR lpReturnedString, DWORD nSize,
                                           LPCSTR lpFileName);
// The value as a number: optional sign, decimal digits (or 0x, 0o, 0b and digits of that
// base) up to the first other character; no digits give 0; a missing or empty value
// gives nDefault.
WINPLAT_API UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                       LPCSTR lpFileName);
// Sets the key, creating file, section and key as needed; a null lpString deletes the key,
// a null lpKeyName the whole section. Every other line of the file stays as it was; the
// file is replaced atomically. Names or values that would not read back as written (line
// breaks, "]" in a section name, "=" in a key name) fail with ERROR_INVALID_PARAMETER.
WINPLAT_API BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                            LPCSTR lpFileName);

#ifdef __cplusplus
#include <string>

namespace winplat {

// The module's whole path, however long (a folder may take it past MAX_PATH): asks
// GetModuleFileNameA with a buffer that grows until the path fits. Empty, with the last
// error set, when the module has no path.
inline std::string ModuleFileName(HMODULE hModule) {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(hModule, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace winplat
#endif
