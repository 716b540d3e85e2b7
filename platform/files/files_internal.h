// What the files facility shares with the rest of the platform library.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include <winplat/windef.h>

namespace winplat::files {

// The POSIX path of a platform path. False, with the last error set, for a path that
// names no file of this system (another drive, a network path).
bool ToPosix(const char* path, std::string& posix);

// The Win32 error code for a failed POSIX call on posixPath: a missing file is
// ERROR_FILE_NOT_FOUND when its folder exists and ERROR_PATH_NOT_FOUND when not.
DWORD ErrorFromErrno(int err, const std::string& posixPath);
// Sets the last error from errno and returns FALSE, for the common failure return.
BOOL FailFromErrno(const std::string& posixPath);

// Windows keeps a file with its read-only attribute from being replaced or deleted;
// here that attribute is the owner's missing write permission.
bool IsReadOnlyMode(unsigned mode);

// Replaces the file at posixPath with text: a temporary file in the same folder, synced
// and renamed over it, so that the file always holds either the old or the new text, even
// after a crash. mode: the permissions of the new file. False (errno set) on failure, and
// the old file stays as it was.
bool ReplaceFileAtomically(const std::string& posixPath, std::string_view text, mode_t mode);

} // namespace winplat::files
