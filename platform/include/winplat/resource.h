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

// A dialog template (resource type RT_DIALOG, 5) as the resource compiler stores it, all
// numbers little-endian, texts as a 16-bit byte count and UTF-8 bytes:
//   "DLGT", style u32, exStyle u32, x y cx cy i16 (dialog units), point size u16,
//   control count u16, font text, caption text; then per control: id i32, style u32,
//   exStyle u32, x y cx cy i16, class text, window text.
#define WINPLAT_DIALOG_MAGIC "DLGT"
