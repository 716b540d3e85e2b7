// What a module's compiled resource script hands the platform: a table of typed,
// named blobs. The resource compiler (tools/rc) emits one such table per module,
// and the module attaches it when it is loaded, as a DLL's resources come with it.
#pragma once

#include "windef.h"

struct WINPLAT_RESOURCE {
    LPCSTR lpType; // MAKEINTRESOURCEA(n) or a type name such as "REGISTRY"
    LPCSTR lpName; // MAKEINTRESOURCEA(n) or a name
    LPCVOID pData;
    DWORD cbData;
};

struct WINPLAT_RESOURCE_DIRECTORY {
    const WINPLAT_RESOURCE* pEntries;
    DWORD nEntries;
};

// The module that contains the given address (its HINSTANCE), or null.
WINPLAT_API HMODULE WinplatModuleFromAddress(LPCVOID pAddress);
WINPLAT_API void WinplatAttachResources(const WINPLAT_RESOURCE_DIRECTORY* pDirectory);
WINPLAT_API void WinplatDetachResources(const WINPLAT_RESOURCE_DIRECTORY* pDirectory);
