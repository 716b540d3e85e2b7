// The C run-time's Windows-only parts: files opened by platform path, with text mode
// (CR LF read as LF, LF written as CR LF) unless the mode holds "b"; path splitting;
// multi-byte string functions that honour the ANSI code page's double-byte characters.
#pragma once

#include <cstdio>

#include "windef.h"

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

// Opens a file by platform path. Mode: "r", "w" or "a", then any of "+", "b" (binary),
// "t" (text, the default), "x" (fail if it exists). Sharing flags are accepted and not
// enforced. Sets errno and the last error on failure.
WINPLAT_API FILE* _fsopen(const char* filename, const char* mode, int shflag);

// File status. The mode holds the type and the owner's read, write and execute bits,
// repeated for group and others as the platform reports them.
#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFREG 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#define _S_IEXEC 0x0040
struct _stat {
    unsigned short st_mode;
    LONGLONG st_size;
    // The POSIX header names its time fields through st_mtim; this keeps st_mtime
    // usable whichever of the two headers comes first.
    struct {
        LONGLONG tv_sec;
    } st_mtim;
};
#ifndef st_mtime
#define st_mtime st_mtim.tv_sec
#endif
WINPLAT_API int _stat(const char* path, struct _stat* buffer);
WINPLAT_API int _mkdir(const char* dirname);
WINPLAT_API int _unlink(const char* filename);
// Splits a path into drive ("Z:"), folder (with its trailing separator), file name and
// extension (from the last "." of the last component). Any output may be null; each is
// cut to its _MAX_* size.
WINPLAT_API void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

// Multi-byte string functions over the ANSI code page. A double-byte character is one
// unit: searches never match a trail byte, and comparisons order such a character by
// its lead byte << 8 | trail byte. _mbslwr and _mbsicmp fold the ASCII letters and,
// under code page 932, the full-width Latin letters.
WINPLAT_API unsigned char* _mbsinc(const unsigned char* current);
WINPLAT_API unsigned char* _mbschr(const unsigned char* str, unsigned int c);
WINPLAT_API unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);
WINPLAT_API unsigned char* _mbsstr(const unsigned char* str, const unsigned char* strSearch);
WINPLAT_API unsigned char* _mbslwr(unsigned char* str);
WINPLAT_API int _mbsicmp(const unsigned char* a, const unsigned char* b);
WINPLAT_API int _mbscmp(const unsigned char* a, const unsigned char* b);
