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

WINPLAT_API FILE* _fsopen(const char* filename, const char* mode, int shflag);

struct _stat64i32 {
    DWORD st_mode;
    LONGLONG st_size;
    LONGLONG st_mtime;
};
WINPLAT_API int _stat_platform(const char* path, struct _stat64i32* buffer);
#define _stat(path, buf) _stat_platform(path, buf)
WINPLAT_API int _mkdir(const char* dirname);
WINPLAT_API int _unlink(const char* filename);
WINPLAT_API void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

// Multi-byte string functions over the ANSI code page.
WINPLAT_API unsigned char* _mbsinc(const unsigned char* current);
WINPLAT_API unsigned char* _mbschr(const unsigned char* str, unsigned int c);
WINPLAT_API unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);
WINPLAT_API unsigned char* _mbsstr(const unsigned char* str, const unsigned char* strSearch);
WINPLAT_API unsigned char* _mbslwr(unsigned char* str);
WINPLAT_API int _mbsicmp(const unsigned char* a, const unsigned char* b);
WINPLAT_API int _mbscmp(const unsigned char* a, const unsigned char* b);
