// What the files facility shares with the rest of the platform library.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include <winplat/windef.h>

namespace winplat::files {

// The POSIX path of a platform path: names in the ANSI code page become UTF-8, as names
// on disk are. False, with the last error set, for a path that names no file of this
// system (another drive, a network path: ERROR_PATH_NOT_FOUND, ERROR_BAD_NETPATH) and for
// bytes that are no character of the code page (ERROR_NO_UNICODE_TRANSLATION).
bool ToPosix(const char* path, std::string& posix);

// Text between the ANSI code page and UTF-8. False with ERROR_NO_UNICODE_TRANSLATION when
// the text holds bytes that are no character, or (to the code page) a character the code
// page lacks: a name is refused, never changed into another name.
bool Utf8FromAnsi(std::string_view ansi, std::string& utf8);
bool AnsiFromUtf8(std::string_view utf8, std::string& ansi);

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
// Removes the temporary files that writers killed in the middle of ReplaceFileAtomically
// left beside posixPath. Only for a caller that holds the lock every writer of the file
// takes around its replacement, so that no live writer's file is there.
void RemoveStaleReplacements(const std::string& posixPath);

} // namespace winplat::files
