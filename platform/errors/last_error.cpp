#include <winplat/winbase.h>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

WINPLAT_API DWORD GetLastError(void) { return t_lastError; }

WINPLAT_API void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
