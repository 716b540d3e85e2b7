// Whole-file operations: copy, delete, move, folders, attributes, temporary names.
#include <atomic>
#include <dirent.h>
#include <map>
#include <mutex>
#include <string_view>
#include <sys/file.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <winplat/winbase.h>

#include "files_internal.h"

using namespace winplat::files;

namespace {

// Closes a descriptor on every path out of a function.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool Close() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyContents(int in, int out) {
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (!WriteAll(out, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// Copies src to dst; the new file gets the old one's permissions and write time. A
// failed copy leaves no partial file behind.
BOOL CopyPosix(const std::string& src, const std::string& dst, bool failIfExists) {
    Fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return FailFromErrno(src);
    struct stat from;
    if (::fstat(in.get(), &from) != 0)
        return FailFromErrno(src);
    if (S_ISDIR(from.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat to;
    if (::stat(dst.c_str(), &to) == 0) {
        if (failIfExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
            // Truncating the target would destroy the source.
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        if (S_ISDIR(to.st_mode) || IsReadOnlyMode(to.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    Fd out(::open(dst.c_str(), flags, 0666));
    if (out.get() < 0) {
        if (errno == EEXIST) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        return FailFromErrno(dst);
    }
    // Attributes and clean-up concern regular files only, never a device written to.
    struct stat written;
    bool regular = ::fstat(out.get(), &written) == 0 && S_ISREG(written.st_mode);
    bool ok = CopyContents(in.get(), out.get());
    int err = errno;
    if (ok && regular) {
        struct timespec times[2] = {from.st_atim, from.st_mtim};
        ::futimens(out.get(), times);
        ::fchmod(out.get(), from.st_mode & 0777);
    }
    if (ok) {
        ok = out.Close();
        err = errno;
    }
    if (!ok) {
        out.Close();
        if (regular)
            ::unlink(dst.c_str()); // no partial copy stays behind
        errno = err;
        return FailFromErrno(dst);
    }
    return TRUE;
}

bool SyncFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

void SyncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

std::atomic<unsigned> g_tempCounter{0};

// The temporary files this process made and has not moved or deleted yet. Each is held by
// an exclusive flock on a descriptor kept here, so that another process can tell a live
// temporary file from one left behind by a process that died (the lock dies with it).
class HeldTempFiles {
public:
    void Add(int fd) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return;
        }
        std::lock_guard lock(m_mutex);
        auto [it, added] = m_fds.emplace(std::pair(st.st_dev, st.st_ino), fd);
        if (!added) {
            ::close(it->second);
            it->second = fd;
        }
    }
    // The file has been moved or deleted: its lock is of no more use.
    void Release(const struct stat& st) {
        std::lock_guard lock(m_mutex);
        auto it = m_fds.find(std::pair(st.st_dev, st.st_ino));
        if (it == m_fds.end())
            return;
        ::close(it->second);
        m_fds.erase(it);
    }

private:
    std::mutex m_mutex;
    std::map<std::pair<dev_t, ino_t>, int> m_fds;
};

HeldTempFiles& Held() {
    static HeldTempFiles held;
    return held;
}

std::string FolderOfPosix(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
}

// Makes the file new and locked before it has its name, so that no other process ever
// sees it unlocked: an unnamed file, locked, then linked under the name. Where the file
// system has no unnamed files, the file is made and locked at once. Returns the locked
// descriptor, or -1 with errno (EEXIST when the name is taken).
int CreateLocked(const std::string& posix) {
    int fd = ::open(FolderOfPosix(posix).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::flock(fd, LOCK_EX | LOCK_NB); // nobody else can reach the file yet
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, posix.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return fd;
        int err = errno;
        ::close(fd);
        errno = err;
        if (err == EEXIST || err == ENOENT || err == ENOTDIR || err == ENOSPC || err == EDQUOT)
            return -1;
    } else if (errno == ENOENT || errno == ENOTDIR) {
        return -1;
    }
    fd = ::open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0)
        ::flock(fd, LOCK_EX | LOCK_NB);
    return fd;
}

// Whether name is the prefix, four upper-case hexadecimal digits and ".tmp".
bool IsTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + 8 || name.substr(0, prefix.size()) != prefix ||
        name.substr(prefix.size() + 4) != ".tmp")
        return false;
    return name.substr(prefix.size(), 4).find_first_not_of("0123456789ABCDEF") ==
           std::string_view::npos;
}

} // namespace

WINPLAT_API BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    std::string src, dst;
    if (!ToPosix(lpExistingFileName, src) || !ToPosix(lpNewFileName, dst))
        return FALSE;
    return CopyPosix(src, dst, bFailIfExists != FALSE);
}

WINPLAT_API BOOL DeleteFileA(LPCSTR lpFileName) {
    std::string path;
    if (!ToPosix(lpFileName, path))
        return FALSE;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return FailFromErrno(path);
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnlyMode(st.st_mode))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(path.c_str()) != 0)
        return FailFromErrno(path);
    Held().Release(st);
    return TRUE;
}

WINPLAT_API BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (!lpNewFileName ||
        (dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string src, dst;
    if (!ToPosix(lpExistingFileName, src) || !ToPosix(lpNewFileName, dst))
        return FALSE;
    struct stat from;
    if (::lstat(src.c_str(), &from) != 0)
        return FailFromErrno(src);
    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    struct stat to;
    if (::lstat(dst.c_str(), &to) == 0) {
        bool same = to.st_dev == from.st_dev && to.st_ino == from.st_ino;
        if (!replace && !same) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (!same && (S_ISDIR(to.st_mode) || S_ISDIR(from.st_mode) ||
                      (S_ISREG(to.st_mode) && IsReadOnlyMode(to.st_mode)))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if ((dwFlags & MOVEFILE_WRITE_THROUGH) && S_ISREG(from.st_mode) && !SyncFile(src))
        return FailFromErrno(src);

    int rc;
    if (replace) {
        rc = ::rename(src.c_str(), dst.c_str());
    } else {
        rc = ::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // The file system cannot refuse to replace; the check above must do.
            rc = ::rename(src.c_str(), dst.c_str());
        }
    }
    if (rc != 0) {
        if (errno == EEXIST) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (errno != EXDEV || !(dwFlags & MOVEFILE_COPY_ALLOWED) || !S_ISREG(from.st_mode))
            return FailFromErrno(errno == EXDEV ? dst : src);
        // To another file system: copy, then remove the original.
        if (!CopyPosix(src, dst, !replace))
            return FALSE;
        if ((dwFlags & MOVEFILE_WRITE_THROUGH) && !SyncFile(dst))
            return FailFromErrno(dst);
        if (::unlink(src.c_str()) != 0)
            return FailFromErrno(src);
    }
    if (dwFlags & MOVEFILE_WRITE_THROUGH)
        SyncFolderOf(dst);
    Held().Release(from);
    return TRUE;
}

WINPLAT_API BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

WINPLAT_API BOOL CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes) {
    std::string path;
    if (!ToPosix(lpPathName, path))
        return FALSE;
    if (::mkdir(path.c_str(), 0777) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            SetLastError(ERROR_PATH_NOT_FOUND); // the folder to hold it is missing
            return FALSE;
        }
        return FailFromErrno(path);
    }
    return TRUE;
}

WINPLAT_API BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    std::string path;
    if (!ToPosix(lpPathName, path))
        return FALSE;
    if (::rmdir(path.c_str()) != 0) {
        if (errno == ENOTDIR) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
        if (errno == EEXIST) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return FALSE;
        }
        return FailFromErrno(path);
    }
    return TRUE;
}

WINPLAT_API DWORD GetFileAttributesA(LPCSTR lpFileName) {
    std::string path;
    if (!ToPosix(lpFileName, path))
        return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        FailFromErrno(path);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnlyMode(st.st_mode))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

WINPLAT_API BOOL CloseHandle(HANDLE hObject) {
    // No kernel object of this platform is reached through a handle yet.
    if (!hObject || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

WINPLAT_API UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                                  LPSTR lpTempFileName) {
    if (!lpPathName || !lpTempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string base = lpPathName;
    if (!base.empty() && base.back() != '\\' && base.back() != '/')
        base += '\\';
    if (lpPrefixString)
        base.append(lpPrefixString, strnlen(lpPrefixString, 3));
    auto nameFor = [&](unsigned number) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", number & 0xFFFF);
        return base + digits + ".tmp";
    };
    if (nameFor(0).size() >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    if (uUnique != 0) {
        std::string name = nameFor(uUnique);
        std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
        return uUnique;
    }
    unsigned start = (static_cast<unsigned>(::getpid()) * 7919u + g_tempCounter.fetch_add(1) +
                      static_cast<unsigned>(::time(nullptr))) &
                     0xFFFF;
    for (unsigned i = 0; i < 0xFFFF; ++i) {
        unsigned number = (start + i) % 0xFFFF + 1; // 1 to 0xFFFF
        std::string name = nameFor(number);
        std::string posix;
        if (!ToPosix(name.c_str(), posix))
            return 0;
        int fd = CreateLocked(posix);
        if (fd >= 0) {
            Held().Add(fd);
            std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
            return number;
        }
        if (errno == EEXIST)
            continue;
        if (errno == ENOENT || errno == ENOTDIR)
            SetLastError(ERROR_DIRECTORY);
        else
            FailFromErrno(posix);
        return 0;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

WINPLAT_API UINT WinplatRemoveStaleTempFiles(LPCSTR lpPathName, LPCSTR lpPrefixString) {
    std::string folder, prefix;
    if (!lpPathName || !ToPosix(*lpPathName ? lpPathName : ".", folder) ||
        !Utf8FromAnsi(std::string_view(lpPrefixString ? lpPrefixString : "",
                                       lpPrefixString ? strnlen(lpPrefixString, 3) : 0),
                      prefix))
        return 0;
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        FailFromErrno(folder);
        return 0;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT removed = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name, prefix))
            continue;
        Fd file(::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held, named;
        if (file.get() < 0 || ::fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode))
            continue;
        // A live process keeps its temporary file locked; a lock to be had means its maker
        // is gone. No one can make a new file under this name while this one holds it.
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
            ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    SetLastError(ERROR_SUCCESS);
    return removed;
}

WINPLAT_API BOOL WinplatIsTempFileName(LPCSTR lpFileName, LPCSTR lpPrefixString) {
    if (!lpFileName)
        return FALSE;
    return IsTempName(lpFileName, std::string_view(lpPrefixString ? lpPrefixString : "",
                                                   lpPrefixString ? strnlen(lpPrefixString, 3) : 0))
               ? TRUE
               : FALSE;
}
