// Platform paths and POSIX paths: "\" and "/" both separate, drive Z: is the root of the
// file system, and a relative path stays relative. No other drive exists.
#include "files_internal.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

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

bool HasHighBytes(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return true;
    return false;
}

// Text from one code page to another through UTF-16, refusing bytes that are no character
// and characters the target writes only with a stand-in.
bool Recode(UINT from, UINT to, std::string_view text, std::string& out) {
    if (!HasHighBytes(text)) {
        out.assign(text); // ASCII reads the same in every code page and in UTF-8
        return true;
    }
    const int length = static_cast<int>(text.size());
    int units = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    std::u16string wide(static_cast<size_t>(units > 0 ? units : 0), u'\0');
    BOOL usedDefault = FALSE;
    const bool toUtf8 = to == CP_UTF8;
    int bytes =
        units <= 0 ? 0
                   : (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length,
                                          wide.data(), units),
                      WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), units,
                                          nullptr, 0, nullptr, toUtf8 ? nullptr : &usedDefault));
    if (bytes <= 0 || usedDefault) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    out.assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), units, out.data(),
                        bytes, nullptr, nullptr);
    return true;
}

bool Utf8FromAnsi(std::string_view ansi, std::string& utf8) {
    return Recode(CP_ACP, CP_UTF8, ansi, utf8);
}

bool AnsiFromUtf8(std::string_view utf8, std::string& ansi) {
    return Recode(CP_UTF8, CP_ACP, utf8, ansi);
}

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
    std::string platform(rest);
    // A trail byte 0x5C of code page 932 is no separator; after the conversion no byte of
    // UTF-8 can be mistaken for one.
    winplat::codepage::BackslashesToSlashes(platform.data(), platform.size());
    return Utf8FromAnsi(platform, posix);
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

using winplat::files::AnsiFromUtf8;
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
    std::string utf8 = lpPosix[0] == '/' ? std::string("Z:") + lpPosix : std::string(lpPosix);
    for (char& c : utf8)
        if (c == '/')
            c = '\\';
    std::string text;
    if (!AnsiFromUtf8(utf8, text))
        return FALSE;
    return CopyOut(text, lpBuffer, nSize);
}
