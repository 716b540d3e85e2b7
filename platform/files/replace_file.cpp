// Replacing a whole file so that nobody ever sees half of it: the registry file, the
// simulated service manager's file and private profiles are all written this way.
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files_internal.h"

namespace winplat::files {

namespace {

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Whether name is that of a temporary file of ReplaceFileAtomically for the file named
// base: "." base "." and the six letters or digits that mkostemp chose.
bool IsReplacementName(std::string_view name, std::string_view base) {
    if (name.size() != base.size() + 8 || name[0] != '.' || name.substr(1, base.size()) != base ||
        name[base.size() + 1] != '.')
        return false;
    for (char c : name.substr(base.size() + 2))
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    return true;
}

void SplitPath(const std::string& posixPath, std::string& folder, std::string& name) {
    size_t slash = posixPath.rfind('/');
    folder = slash == std::string::npos ? "." : posixPath.substr(0, slash ? slash : 1);
    name = slash == std::string::npos ? posixPath : posixPath.substr(slash + 1);
}

} // namespace

void RemoveStaleReplacements(const std::string& posixPath) {
    std::string folder, name;
    SplitPath(posixPath, folder, name);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir))
        if (IsReplacementName(entry->d_name, name))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    ::closedir(dir);
}

bool ReplaceFileAtomically(const std::string& posixPath, std::string_view text, mode_t mode) {
    std::string folder, name;
    SplitPath(posixPath, folder, name);
    std::string temp = folder + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), posixPath.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = err;
        return false;
    }
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace winplat::files
