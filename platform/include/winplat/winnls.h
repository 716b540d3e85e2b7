// The system ANSI code page (1252 by default, 932 selectable with SENTREL_CODEPAGE)
// and conversions between it and UTF-16.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400

WINPLAT_API UINT GetACP(void);
// Selects the process's ANSI code page (1252 or 932); false for any other.
WINPLAT_API BOOL WinplatSetACP(UINT uCodePage);
WINPLAT_API BOOL IsDBCSLeadByte(BYTE TestChar);
WINPLAT_API BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);
WINPLAT_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                    int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
WINPLAT_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                    int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                    LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
WINPLAT_API LPSTR CharNextA(LPCSTR lpsz);
WINPLAT_API LPSTR CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent);
