// C run-time files by platform path: _fsopen with text mode, _stat, _mkdir, _unlink.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <winplat/crt.h>
#include <winplat/winbase.h>

#include "files_internal.h"

using namespace winplat::files;

namespace {

// A file in text mode: a carriage return directly before a line feed is dropped on
// reading, and every line feed written goes out as carriage return and line feed.
// A lone carriage return is read and written as it is.
class TextFile {
public:
    // knownEnd: the size of a regular file opened only for reading, else -1. Reading
    // stops there once without asking the system, which saves a call per small file.
    TextFile(int fd, off64_t knownEnd)
        : m_fd(fd), m_knownEnd(knownEnd),
          m_capacity(knownEnd >= 0 ? std::clamp<size_t>(static_cast<size_t>(knownEnd) + 1,
                                                        kMinBuffer, kMaxBuffer)
                                   : kMaxBuffer) {}
    ~TextFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    ssize_t Read(char* buffer, size_t size) {
        size_t produced = 0;
        while (produced < size) {
            if (m_pos == m_end) {
                if (produced > 0)
                    break; // hand out what there is before waiting for more
                ssize_t n = Fill(0);
                if (n < 0)
                    return -1;
                if (n == 0)
                    break;
            }
            const char* start = m_in.get() + m_pos;
            size_t available = m_end - m_pos;
            size_t want = std::min(available, size - produced);
            const char* cr = static_cast<const char*>(std::memchr(start, '\r', want));
            if (!cr) {
                std::memcpy(buffer + produced, start, want);
                produced += want;
                m_pos += want;
                continue;
            }
            size_t run = static_cast<size_t>(cr - start);
            std::memcpy(buffer + produced, start, run);
            produced += run;
            m_pos += run;
            if (m_pos + 1 == m_end) {
                // The carriage return is the last byte read: look at the next one first.
                m_in[0] = '\r';
                m_pos = 0;
                m_end = 1;
                ssize_t n = Fill(1);
                if (n < 0)
                    return produced > 0 ? static_cast<ssize_t>(produced) : -1;
                if (n == 0) {
                    buffer[produced++] = '\r';
                    m_pos = m_end;
                }
                continue;
            }
            if (m_in[m_pos + 1] == '\n') {
                buffer[produced++] = '\n';
                m_pos += 2;
            } else {
                buffer[produced++] = '\r';
                m_pos += 1;
            }
        }
        return static_cast<ssize_t>(produced);
    }

    ssize_t Write(const char* buffer, size_t size) {
        m_out.clear();
        m_out.reserve(size + size / 16 + 2);
        for (size_t i = 0; i < size;) {
            const char* lf = static_cast<const char*>(std::memchr(buffer + i, '\n', size - i));
            size_t run = lf ? static_cast<size_t>(lf - (buffer + i)) : size - i;
            m_out.insert(m_out.end(), buffer + i, buffer + i + run);
            i += run;
            if (lf) {
                m_out.push_back('\r');
                m_out.push_back('\n');
                ++i;
            }
        }
        const char* p = m_out.data();
        size_t left = m_out.size();
        while (left > 0) {
            ssize_t n = ::write(m_fd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return 0; // the stream marks the error
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    int Seek(off64_t* offset, int whence) {
        off64_t target = *offset;
        if (whence == SEEK_CUR)
            target -= static_cast<off64_t>(m_end - m_pos); // read ahead, not yet handed out
        off64_t result = ::lseek64(m_fd, target, whence);
        if (result < 0)
            return -1;
        m_pos = m_end = 0;
        m_offset = result;
        m_endSeen = false;
        *offset = result;
        return 0;
    }

    int Close() {
        int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    // Reads more raw bytes after the first `keep` bytes of the buffer.
    ssize_t Fill(size_t keep) {
        if (!m_in)
            m_in = std::make_unique_for_overwrite<char[]>(m_capacity); // no need to clear it
        if (m_knownEnd >= 0 && m_offset >= m_knownEnd && !m_endSeen) {
            // The end as the file was at opening; a later read asks again.
            m_endSeen = true;
            m_pos = 0;
            m_end = keep;
            return 0;
        }
        for (;;) {
            ssize_t n = ::read(m_fd, m_in.get() + keep, m_capacity - keep);
            if (n < 0 && errno == EINTR)
                continue;
            if (n >= 0) {
                m_pos = 0;
                m_end = keep + static_cast<size_t>(n);
                m_offset += n;
            }
            return n;
        }
    }

    static constexpr size_t kMinBuffer = 64;
    static constexpr size_t kMaxBuffer = 16 * 1024;
    int m_fd;
    off64_t m_knownEnd;
    off64_t m_offset = 0;
    bool m_endSeen = false;
    size_t m_capacity;
    std::unique_ptr<char[]> m_in;
    size_t m_pos = 0;
    size_t m_end = 0;
    std::vector<char> m_out;
};

ssize_t TextRead(void* cookie, char* buffer, size_t size) {
    return static_cast<TextFile*>(cookie)->Read(buffer, size);
}
ssize_t TextWrite(void* cookie, const char* buffer, size_t size) {
    return static_cast<TextFile*>(cookie)->Write(buffer, size);
}
int TextSeek(void* cookie, off64_t* offset, int whence) {
    return static_cast<TextFile*>(cookie)->Seek(offset, whence);
}
int TextClose(void* cookie) {
    std::unique_ptr<TextFile> file(static_cast<TextFile*>(cookie));
    return file->Close();
}

struct OpenMode {
    int flags = 0;
    bool text = true;
    const char* stdioMode = nullptr; // the same access for the C library's streams
};

bool ParseMode(const char* mode, OpenMode& parsed) {
    if (!mode)
        return false;
    bool plus = false, exclusive = false, seenB = false, seenT = false;
    for (const char* p = mode + 1; *p; ++p) {
        switch (*p) {
        case '+':
            plus = true;
            break;
        case 'b':
            seenB = true;
            break;
        case 't':
            seenT = true;
            break;
        case 'x':
            exclusive = true;
            break;
        case 'N': // not inherited: every descriptor here closes on exec anyway
            break;
        default:
            return false;
        }
    }
    if (seenB && seenT)
        return false;
    parsed.text = !seenB;
    switch (mode[0]) {
    case 'r':
        parsed.flags = plus ? O_RDWR : O_RDONLY;
        parsed.stdioMode = plus ? "r+" : "r";
        break;
    case 'w':
        parsed.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
        parsed.stdioMode = plus ? "w+" : "w";
        break;
    case 'a':
        parsed.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        parsed.stdioMode = plus ? "a+" : "a";
        break;
    default:
        return false;
    }
    if (exclusive) {
        if (mode[0] == 'r')
            return false;
        parsed.flags |= O_EXCL;
    }
    parsed.flags |= O_CLOEXEC;
    return true;
}

} // namespace

WINPLAT_API FILE* _fsopen(const char* filename, const char* mode, int shflag) {
    OpenMode parsed;
    if (!filename || !ParseMode(mode, parsed)) {
        errno = EINVAL;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path;
    if (!ToPosix(filename, path)) {
        errno = ENOENT;
        return nullptr;
    }
    int fd = ::open(path.c_str(), parsed.flags, 0666);
    if (fd < 0) {
        FailFromErrno(path);
        if (errno == EEXIST)
            SetLastError(ERROR_FILE_EXISTS); // "x" asks for a new file, as CREATE_NEW does
        return nullptr;
    }
    struct stat st;
    bool known = ::fstat(fd, &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EACCES; // a folder is not a file to read
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    FILE* file = nullptr;
    if (!parsed.text) {
        file = ::fdopen(fd, parsed.stdioMode);
        if (!file)
            ::close(fd);
    } else {
        bool readOnly = (parsed.flags & O_ACCMODE) == O_RDONLY;
        auto text = std::make_unique<TextFile>(
            fd, known && readOnly && S_ISREG(st.st_mode) ? static_cast<off64_t>(st.st_size) : -1);
        file = ::fopencookie(text.get(), parsed.stdioMode,
                             cookie_io_functions_t{TextRead, TextWrite, TextSeek, TextClose});
        if (file)
            text.release();
    }
    if (!file) {
        int err = errno;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        errno = err;
    }
    return file;
}

WINPLAT_API int _stat(const char* path, struct _stat* buffer) {
    std::string posix;
    if (!buffer || !ToPosix(path, posix)) {
        errno = buffer ? ENOENT : EINVAL;
        return -1;
    }
    struct stat st;
    if (::stat(posix.c_str(), &st) != 0) {
        FailFromErrno(posix);
        return -1;
    }
    unsigned mode = S_ISDIR(st.st_mode) ? _S_IFDIR : _S_IFREG;
    unsigned owner = _S_IREAD;
    if (!IsReadOnlyMode(st.st_mode))
        owner |= _S_IWRITE;
    if (S_ISDIR(st.st_mode) || (st.st_mode & S_IXUSR))
        owner |= _S_IEXEC;
    mode |= owner | owner >> 3 | owner >> 6;
    buffer->st_mode = static_cast<unsigned short>(mode);
    buffer->st_size = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
    buffer->st_mtime = static_cast<LONGLONG>(st.st_mtime);
    return 0;
}

namespace {

// The C run-time's errno for the last error of a failed platform call.
int ErrnoFromLastError() {
    switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return errno ? errno : EINVAL;
    }
}

} // namespace

WINPLAT_API int _mkdir(const char* dirname) {
    if (!CreateDirectoryA(dirname, nullptr)) {
        errno = ErrnoFromLastError();
        return -1;
    }
    return 0;
}

WINPLAT_API int _unlink(const char* filename) {
    if (!DeleteFileA(filename)) {
        errno = ErrnoFromLastError();
        return -1;
    }
    return 0;
}
