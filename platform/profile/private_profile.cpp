// Private profile (INI) files: GetPrivateProfileStringA, GetPrivateProfileIntA,
// WritePrivateProfileStringA.
//
// Reading: lines are trimmed; "[name]" opens a section; "key=value" has the blanks around
// "=" dropped; a line without "=" is a key without a value; a line starting with ";" is a
// comment. Section and key names match without regard to case (as registry names do). One
// pair of matching quotes around the whole value is removed. The first section and the
// first key of a name count.
//
// Writing changes one line and keeps every other line as it was, under a lock on the
// file's folder, and replaces the file atomically (a temporary file renamed over it), so
// that a reader or a crash never sees half a file. New lines take the line ends the file
// already uses (CR LF for a new file).
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <winplat/winbase.h>

#include "codepage/codepage_internal.h"
#include "files/files_internal.h"
#include "registry/ansi.h"
#include "registry/tree.h"

namespace {

using winplat::files::ToPosix;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A name as it is compared: trimmed, in UTF-8 for the registry's case folding.
struct Name {
    explicit Name(std::string_view ansi) : utf8(winplat::registry::AnsiToUtf8(Trim(ansi))) {}
    bool Matches(std::string_view ansi) const {
        return winplat::registry::FoldEqual(utf8, winplat::registry::AnsiToUtf8(ansi));
    }
    std::string utf8;
};

struct Line {
    enum Kind { kOther, kSection, kKey };
    Kind kind = kOther;
    std::string_view name;  // trimmed section or key name
    std::string_view value; // trimmed value of a key
};

Line Classify(std::string_view raw) {
    std::string_view text = Trim(raw);
    Line line;
    if (text.empty() || text.front() == ';')
        return line;
    if (text.front() == '[') {
        size_t close = text.rfind(']');
        line.kind = Line::kSection;
        line.name = Trim(
            text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return line;
    }
    line.kind = Line::kKey;
    size_t equals = text.find('=');
    line.name = Trim(text.substr(0, equals));
    if (equals != std::string_view::npos)
        line.value = Trim(text.substr(equals + 1));
    return line;
}

// The file as lines (without their line ends), with what each line is.
class ProfileFile {
public:
    // False when the file cannot be read (missing included), with errno set.
    bool Load(const std::string& posixPath) {
        int fd = ::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return false;
        }
        m_mode = st.st_mode & 07777;
        char buffer[16384];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                int err = errno;
                ::close(fd);
                errno = err;
                return false;
            }
            m_text.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        Split();
        return true;
    }

    size_t Count() const { return m_lines.size(); }
    const std::string& Raw(size_t i) const { return m_lines[i]; }
    Line At(size_t i) const { return Classify(m_lines[i]); }

    // The index of the first section header of that name, or npos.
    size_t FindSection(const Name& section) const {
        for (size_t i = 0; i < m_lines.size(); ++i) {
            Line line = At(i);
            if (line.kind == Line::kSection && section.Matches(line.name))
                return i;
        }
        return npos;
    }

    // One past the last line of the section that starts at header.
    size_t SectionEnd(size_t header) const {
        size_t i = header + 1;
        while (i < m_lines.size() && At(i).kind != Line::kSection)
            ++i;
        return i;
    }

    size_t FindKey(size_t header, const Name& key) const {
        for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
            Line line = At(i);
            if (line.kind == Line::kKey && key.Matches(line.name))
                return i;
        }
        return npos;
    }

    // Where a new key of the section goes: after its last key line, before the blank lines
    // and comments that lead into the next section.
    size_t InsertionPoint(size_t header) const {
        size_t at = header + 1;
        for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
            if (At(i).kind == Line::kKey)
                at = i + 1;
        return at;
    }

    void Set(size_t i, std::string text) { m_lines[i] = std::move(text); }
    void Insert(size_t i, std::string text) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(i), std::move(text));
    }
    void Erase(size_t from, size_t to) {
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(from),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(to));
    }
    void Append(std::string text) { m_lines.push_back(std::move(text)); }

    std::string Text() const {
        std::string text;
        for (const std::string& line : m_lines)
            text += line + m_eol;
        return text;
    }
    const std::string& Original() const { return m_text; }
    mode_t Mode() const { return m_mode; }

    static constexpr size_t npos = static_cast<size_t>(-1);

private:
    void Split() {
        size_t crlf = 0, lf = 0;
        size_t start = 0;
        while (start < m_text.size()) {
            size_t end = m_text.find('\n', start);
            if (end == std::string::npos) {
                m_lines.push_back(m_text.substr(start));
                break;
            }
            size_t cut = end;
            if (cut > start && m_text[cut - 1] == '\r') {
                --cut;
                ++crlf;
            } else {
                ++lf;
            }
            m_lines.push_back(m_text.substr(start, cut - start));
            start = end + 1;
        }
        if (lf > crlf)
            m_eol = "\n";
    }

    std::string m_text;
    std::vector<std::string> m_lines;
    std::string m_eol = "\r\n";
    mode_t m_mode = 0644;
};

// Removes one pair of matching quotes around the whole value.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// How many bytes of text fit in room bytes without splitting a double-byte character.
size_t FitLength(std::string_view text, size_t room) {
    if (text.size() <= room)
        return text.size();
    bool dbcs = winplat::codepage::Current() == 932;
    size_t at = 0;
    while (at < room) {
        size_t step = winplat::codepage::CharLength(
            reinterpret_cast<const unsigned char*>(text.data() + at), dbcs);
        if (at + step > room)
            break;
        at += step;
    }
    return at;
}

// Copies a value: cut to the buffer, always terminated; returns the bytes copied.
DWORD CopyValue(std::string_view value, LPSTR lpBuffer, DWORD nSize) {
    size_t n = FitLength(value, nSize - 1);
    if (n) // an empty view may have no data at all
        std::memcpy(lpBuffer, value.data(), n);
    lpBuffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies a list of names, each zero-terminated, with one more zero at the end. A list that
// does not fit is cut and still ends in two zeros; the result is then nSize - 2.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR lpBuffer, DWORD nSize) {
    std::string list;
    for (std::string_view name : names) {
        list.append(name);
        list.push_back('\0');
    }
    if (list.size() + 1 <= nSize) {
        std::memcpy(lpBuffer, list.data(), list.size());
        lpBuffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (nSize < 2) {
        lpBuffer[0] = '\0';
        return 0;
    }
    std::memcpy(lpBuffer, list.data(), nSize - 2);
    lpBuffer[nSize - 2] = '\0';
    lpBuffer[nSize - 1] = '\0';
    return nSize - 2;
}

// Serialises writers of the files of one folder, across processes. The folder's own
// descriptor carries the lock, so nothing is left beside the profile.
class FolderLock {
public:
    explicit FolderLock(const std::string& posixPath) {
        size_t slash = posixPath.rfind('/');
        std::string folder =
            slash == std::string::npos ? "." : posixPath.substr(0, slash ? slash : 1);
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

WINPLAT_API DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                           LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString || nSize == 0)
        return 0;
    ProfileFile file;
    std::string posix;
    bool loaded = lpFileName && ToPosix(lpFileName, posix) && file.Load(posix);

    if (!lpAppName) {
        std::vector<std::string_view> names;
        for (size_t i = 0; i < file.Count(); ++i)
            if (Line line = file.At(i); line.kind == Line::kSection)
                names.push_back(line.name);
        return CopyList(names, lpReturnedString, nSize);
    }
    size_t header = loaded ? file.FindSection(Name(lpAppName)) : ProfileFile::npos;
    if (!lpKeyName) {
        std::vector<std::string_view> names;
        if (header != ProfileFile::npos)
            for (size_t i = header + 1, end = file.SectionEnd(header); i < end; ++i)
                if (Line line = file.At(i); line.kind == Line::kKey)
                    names.push_back(line.name);
        return CopyList(names, lpReturnedString, nSize);
    }
    size_t key =
        header != ProfileFile::npos ? file.FindKey(header, Name(lpKeyName)) : ProfileFile::npos;
    if (key == ProfileFile::npos) {
        std::string_view fallback = lpDefault ? lpDefault : "";
        while (!fallback.empty() && IsBlank(fallback.back()))
            fallback.remove_suffix(1);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyValue(fallback, lpReturnedString, nSize);
    }
    return CopyValue(Unquote(file.At(key).value), lpReturnedString, nSize);
}

WINPLAT_API UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                       LPCSTR lpFileName) {
    char text[64];
    if (!lpAppName || !lpKeyName ||
        GetPrivateProfileStringA(lpAppName, lpKeyName, "", text, sizeof text, lpFileName) == 0)
        return static_cast<UINT>(nDefault);
    // A sign, then decimal digits, or 0x/0o/0b and digits of that base, up to the first
    // character that is none: "12abc" is 12, "abc" is 0.
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        base = 16, p += 2;
    else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O'))
        base = 8, p += 2;
    else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B'))
        base = 2, p += 2;
    UINT value = 0;
    for (;; ++p) {
        unsigned digit;
        if (*p >= '0' && *p <= '9')
            digit = static_cast<unsigned>(*p - '0');
        else if (*p >= 'a' && *p <= 'f')
            digit = static_cast<unsigned>(*p - 'a' + 10);
        else if (*p >= 'A' && *p <= 'F')
            digit = static_cast<unsigned>(*p - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        value = value * base + digit; // wraps as a 32-bit number does
    }
    return negative ? 0u - value : value;
}

WINPLAT_API BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                            LPCSTR lpFileName) {
    if (!lpAppName || !lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    std::string_view section = Trim(lpAppName);
    std::string_view keyName = lpKeyName ? Trim(lpKeyName) : std::string_view();
    // What could not be read back as written is refused: a line break would start new
    // lines (another section, other keys), "]" would end the section name early, "=" the
    // key name, and a key starting with ";" or "[" would read as a comment or a section.
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos ||
        (lpKeyName &&
         (keyName.empty() || HasLineBreak(keyName) || keyName.find('=') != std::string_view::npos ||
          keyName.front() == ';' || keyName.front() == '[')) ||
        (lpString && HasLineBreak(lpString)))
        return Fail(ERROR_INVALID_PARAMETER);

    std::string posix;
    if (!ToPosix(lpFileName, posix))
        return FALSE;
    FolderLock lock(posix);
    if (!lock.Held())
        return Fail(winplat::files::ErrorFromErrno(errno, posix));
    ProfileFile file;
    if (file.Load(posix)) {
        if (winplat::files::IsReadOnlyMode(file.Mode()))
            return Fail(ERROR_ACCESS_DENIED);
    } else if (errno != ENOENT) {
        return Fail(winplat::files::ErrorFromErrno(errno, posix));
    }

    Name sectionName(section);
    size_t header = file.FindSection(sectionName);
    if (!lpKeyName) {
        if (header == ProfileFile::npos)
            return TRUE; // nothing to delete
        file.Erase(header, file.SectionEnd(header));
    } else if (!lpString) {
        size_t key =
            header == ProfileFile::npos ? ProfileFile::npos : file.FindKey(header, Name(keyName));
        if (key == ProfileFile::npos)
            return TRUE;
        file.Erase(key, key + 1);
    } else {
        std::string line = std::string(keyName) + "=" + lpString;
        if (header == ProfileFile::npos) {
            if (file.Count() > 0 && !Trim(file.Raw(file.Count() - 1)).empty())
                file.Append("");
            file.Append("[" + std::string(section) + "]");
            file.Append(std::move(line));
        } else if (size_t key = file.FindKey(header, Name(keyName)); key != ProfileFile::npos) {
            // The key keeps the spelling it has in the file.
            file.Set(key, std::string(file.At(key).name) + "=" + lpString);
        } else {
            file.Insert(file.InsertionPoint(header), std::move(line));
        }
    }
    std::string text = file.Text();
    if (text == file.Original())
        return TRUE;
    if (!winplat::files::ReplaceFileAtomically(posix, text, file.Mode()))
        return Fail(winplat::files::ErrorFromErrno(errno, posix));
    return TRUE;
}
