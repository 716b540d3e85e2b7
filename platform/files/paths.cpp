// Platform paths and POSIX paths: "\" and "/" both separate, drive Z: is the root of the
// file system, and a relative path stays relative. No other drive exists.
#include "files_internal.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <winplat/winbase.h>

#include "codepage/codepage_internal.h"

namespace winplat::files {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool ToPosix(const char* path, std::string& posix) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const char* rest = path;
    if (IsLetter(path[0]) && path[1] == ':') {
        if (path[0] != 'Z' && path[0] != 'z') {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        rest = path + 2;
        // "Z:name" is relative to the current folder, which is always on drive Z:.
        if (*rest == '\0')
            rest = ".";
    } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        SetLastError(ERROR_BAD_NETPATH); // \\server\share: no network drives here
        return false;
    }
    posix.assign(rest);
    winplat::codepage::BackslashesToSlashes(posix.data(), posix.size());
    return true;
}

DWORD ErrorFromErrno(int err, const std::string& posixPath) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT: {
        // Windows tells a missing file in an existing folder from a missing folder.
        std::string parent = posixPath;
        while (parent.size() > 1 && parent.back() == '/')
            parent.pop_back();
        size_t slash = parent.rfind('/');
        if (slash == std::string::npos)
            parent = ".";
        else
            parent.resize(slash == 0 ? 1 : slash);
        struct stat st;
        return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                     : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
        return ERROR_BUSY;
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EIO:
        return ERROR_WRITE_FAULT;
    case EAGAIN:
        return ERROR_LOCK_VIOLATION;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

BOOL FailFromErrno(const std::string& posixPath) {
    int err = errno;
    SetLastError(ErrorFromErrno(err, posixPath));
    errno = err;
    return FALSE;
}

bool IsReadOnlyMode(unsigned mode) {
    return (mode & S_IWUSR) == 0;
}

} // namespace winplat::files

using winplat::files::ToPosix;

namespace {

BOOL CopyOut(const std::string& text, LPSTR lpBuffer, DWORD nSize) {
    if (!lpBuffer || text.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
    return TRUE;
}

} // namespace

WINPLAT_API BOOL WinplatToPosixPath(LPCSTR lpPath, LPSTR lpBuffer, DWORD nSize) {
    std::string posix;
    if (!ToPosix(lpPath, posix))
        return FALSE;
    return CopyOut(posix, lpBuffer, nSize);
}

WINPLAT_API BOOL WinplatFromPosixPath(LPCSTR lpPosix, LPSTR lpBuffer, DWORD nSize) {
    if (!lpPosix) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text = lpPosix[0] == '/' ? std::string("Z:") + lpPosix : std::string(lpPosix);
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return CopyOut(text, lpBuffer, nSize);
}
