// The registry file: where it is, how it is locked, and the parsed copy kept between calls.
//
// Writers hold an exclusive flock on "<file>.lock", re-read the file when someone else
// changed it, write the new text to a temporary file in the same folder, fsync it and
// rename it over the old one. Readers hold a shared lock. The lock file also carries a
// generation number that each writer raises, so a cached copy is never mistaken for
// current when a new file happens to reuse the old inode, size and time stamp.

#include "store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <winplat/winbase.h>

#include "files/files_internal.h"
#include "system/system_internal.h"

namespace winplat::registry {

namespace {

struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    uint64_t generation = 0;
    ino_t lockIno = 0;

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec &&
               generation == o.generation && lockIno == o.lockIno;
    }
};

void FillStamp(FileStamp& stamp, const struct stat& st) {
    stamp.exists = true;
    stamp.dev = st.st_dev;
    stamp.ino = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime = st.st_mtim;
    stamp.ctime = st.st_ctim;
}

// The side lock file. Closing it releases the lock.
class LockFile {
public:
    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() {
        if (m_fd >= 0)
            close(m_fd);
    }

    // Exclusive: the lock file must be made and locked. Shared: best effort, since a
    // reader sees whole files anyway (they are renamed into place).
    bool Acquire(const std::string& path, bool exclusive) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (m_fd < 0 && !exclusive)
                m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (m_fd < 0)
                return !exclusive;
            int rc;
            do
                rc = flock(m_fd, exclusive ? LOCK_EX : LOCK_SH);
            while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                close(m_fd);
                m_fd = -1;
                return !exclusive;
            }
            // A lock on a lock file that was removed meanwhile excludes nobody: take the new one.
            struct stat held, named;
            if (fstat(m_fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
                held.st_ino == named.st_ino && held.st_dev == named.st_dev)
                return true;
            close(m_fd);
            m_fd = -1;
        }
        return !exclusive;
    }

    uint64_t Generation() const {
        uint64_t generation = 0;
        if (m_fd < 0 || pread(m_fd, &generation, sizeof generation, 0) != sizeof generation)
            return 0;
        return generation;
    }

    bool SetGeneration(uint64_t generation) {
        return m_fd >= 0 && pwrite(m_fd, &generation, sizeof generation, 0) == sizeof generation;
    }

    ino_t Inode() const {
        struct stat st;
        return (m_fd >= 0 && fstat(m_fd, &st) == 0) ? st.st_ino : 0;
    }

private:
    int m_fd = -1;
};

std::string PosixPath(const std::string& path) {
    std::string posix = path;
    if (path.size() >= 2 && path[1] == ':') {
        char buffer[4096];
        if (WinplatToPosixPath(path.c_str(), buffer, sizeof buffer))
            posix = buffer;
    }
    if (!posix.empty() && posix.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            posix = std::string(cwd) + "/" + posix;
    }
    return posix;
}

std::string DefaultPath() {
    std::string folder = UserDataFolder();
    return folder.empty() ? folder : folder + "/registry.reg";
}

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (folder.size() > 1 && !MakeFolders(Folder(folder)))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

class Store {
public:
    LONG Read(const std::function<LONG(const Tree&)>& fn) {
        std::lock_guard guard(m_mutex);
        try {
            std::string path = ResolvePath();
            if (path.empty())
                return ERROR_CANTREAD;
            LockFile lock;
            lock.Acquire(path + ".lock", false);
            if (LONG rc = Load(path, lock); rc != ERROR_SUCCESS)
                return rc;
            return fn(m_tree);
        } catch (const std::bad_alloc&) {
            m_valid = false;
            return ERROR_OUTOFMEMORY;
        }
    }

    LONG Write(const std::function<LONG(Tree&, bool&)>& fn) {
        std::lock_guard guard(m_mutex);
        try {
            std::string path = ResolvePath();
            if (path.empty())
                return ERROR_CANTWRITE;
            LockFile lock;
            if (!lock.Acquire(path + ".lock", true)) {
                struct stat st;
                if (stat(Folder(path).c_str(), &st) == 0)
                    return ERROR_CANTWRITE;
                // No registry yet: only a change that does something makes its folder. The
                // change is then made again on what is there once the lock is held.
                Tree empty;
                bool changed = false;
                LONG rc = fn(empty, changed);
                if (rc != ERROR_SUCCESS || !changed)
                    return rc;
                if (!MakeFolders(Folder(path)) || !lock.Acquire(path + ".lock", true))
                    return ERROR_CANTWRITE;
            }
            if (LONG rc = Load(path, lock); rc != ERROR_SUCCESS)
                return rc;
            bool changed = false;
            LONG rc = fn(m_tree, changed);
            if (rc != ERROR_SUCCESS || !changed) {
                if (changed)
                    m_valid = false; // drop the half-made change; the next call re-reads
                return rc;
            }
            // Every writer makes its temporary file under the exclusive lock held now: any
            // one there is a killed writer's.
            files::RemoveStaleReplacements(path);
            if (!files::ReplaceFileAtomically(path, FormatRegistryText(m_tree), m_mode)) {
                m_valid = false;
                return ERROR_CANTWRITE;
            }
            FileStamp stamp;
            struct stat st;
            if (!lock.SetGeneration(m_stamp.generation + 1) || stat(path.c_str(), &st) != 0) {
                m_valid = false;
                return ERROR_SUCCESS;
            }
            FillStamp(stamp, st);
            stamp.generation = m_stamp.generation + 1;
            stamp.lockIno = m_stamp.lockIno;
            m_stamp = stamp;
            m_mode = st.st_mode & 07777;
            return ERROR_SUCCESS;
        } catch (const std::bad_alloc&) {
            m_valid = false;
            return ERROR_OUTOFMEMORY;
        }
    }

    void SetPath(const char* path) {
        std::lock_guard guard(m_mutex);
        if (path && *path)
            m_override = PosixPath(path);
        else
            m_override.reset();
    }

    std::string Path() {
        std::lock_guard guard(m_mutex);
        return ResolvePath();
    }

    std::string Error() {
        Read([](const Tree&) { return ERROR_SUCCESS; });
        std::lock_guard guard(m_mutex);
        return m_path == ResolvePath() ? m_error : std::string();
    }

private:
    std::string ResolvePath() const {
        if (m_override)
            return *m_override;
        if (const char* env = std::getenv("SENTREL_REGISTRY"); env && *env)
            return PosixPath(env);
        return DefaultPath();
    }

    // Brings m_tree up to date with the file, parsing it only when it changed.
    LONG Load(const std::string& path, const LockFile& lock) {
        FileStamp stamp;
        stamp.generation = lock.Generation();
        stamp.lockIno = lock.Inode();
        struct stat st;
        if (m_valid && path == m_path) {
            // The usual case, the file unchanged, costs one stat.
            FileStamp now = stamp;
            int rc = stat(path.c_str(), &st);
            bool known = rc == 0 ? S_ISREG(st.st_mode) : (errno == ENOENT || errno == ENOTDIR);
            if (rc == 0 && known)
                FillStamp(now, st);
            if (known && now == m_stamp)
                return m_error.empty() ? ERROR_SUCCESS : m_errorCode;
        }
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                return Unreadable(path, stamp, std::strerror(errno));
        } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return Unreadable(path, stamp, "not a regular file");
        } else {
            FillStamp(stamp, st);
        }
        if (m_valid && path == m_path && stamp == m_stamp) {
            if (fd >= 0)
                close(fd);
            return m_error.empty() ? ERROR_SUCCESS : m_errorCode;
        }
        m_valid = false;
        m_tree = Tree{};
        m_error.clear();
        m_mode = 0600; // a new registry may come to hold passwords
        if (fd >= 0) {
            std::string text;
            text.resize(static_cast<size_t>(st.st_size));
            size_t done = 0;
            while (true) {
                if (done == text.size())
                    text.resize(text.size() + 4096);
                ssize_t n = read(fd, text.data() + done, text.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    int err = errno;
                    close(fd);
                    return Unreadable(path, stamp, std::strerror(err));
                }
                if (n == 0)
                    break;
                done += static_cast<size_t>(n);
            }
            close(fd);
            text.resize(done);
            m_mode = st.st_mode & 07777;
            ParseError error;
            if (!ParseRegistryText(text, m_tree, error)) {
                m_tree = Tree{};
                m_error = path + ":" + std::to_string(error.line) + ": " + error.what;
                m_errorCode = ERROR_BADDB;
            }
        }
        m_path = path;
        m_stamp = stamp;
        m_valid = true;
        return m_error.empty() ? ERROR_SUCCESS : m_errorCode;
    }

    LONG Unreadable(const std::string& path, const FileStamp& stamp, const char* why) {
        m_tree = Tree{};
        m_error = path + ":0: cannot read: " + why;
        m_errorCode = ERROR_CANTREAD;
        m_path = path;
        m_stamp = stamp;
        // Not cached: a file that could not be opened has no stamp to compare with.
        m_valid = false;
        return ERROR_CANTREAD;
    }

    std::mutex m_mutex;
    std::optional<std::string> m_override;
    bool m_valid = false;
    std::string m_path;
    FileStamp m_stamp;
    mode_t m_mode = 0600;
    Tree m_tree;
    std::string m_error;
    LONG m_errorCode = ERROR_SUCCESS;
};

Store& TheStore() {
    static Store store;
    return store;
}

} // namespace

LONG ReadRegistry(const std::function<LONG(const Tree&)>& fn) {
    return TheStore().Read(fn);
}

LONG WriteRegistry(const std::function<LONG(Tree&, bool& changed)>& fn) {
    return TheStore().Write(fn);
}

void SetRegistryPath(const char* path) {
    TheStore().SetPath(path);
}

std::string RegistryPath() {
    return TheStore().Path();
}

std::string RegistryError() {
    return TheStore().Error();
}

} // namespace winplat::registry
