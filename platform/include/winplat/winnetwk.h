// Network-resource enumeration: the machines of the caller's network context, as records
// packed into the caller's buffer. Sources and settings: docs/network.md.
#pragma once

#include "windef.h"
#include "winerror.h"

typedef HANDLE* LPHANDLE;

#define RESOURCE_CONNECTED 0x00000001
#define RESOURCE_GLOBALNET 0x00000002
#define RESOURCE_REMEMBERED 0x00000003
#define RESOURCE_CONTEXT 0x00000005

#define RESOURCETYPE_ANY 0x00000000
#define RESOURCETYPE_DISK 0x00000001
#define RESOURCETYPE_PRINT 0x00000002

#define RESOURCEUSAGE_CONNECTABLE 0x00000001
#define RESOURCEUSAGE_CONTAINER 0x00000002

#define RESOURCEDISPLAYTYPE_GENERIC 0x00000000
#define RESOURCEDISPLAYTYPE_DOMAIN 0x00000001
#define RESOURCEDISPLAYTYPE_SERVER 0x00000002
#define RESOURCEDISPLAYTYPE_SHARE 0x00000003
#define RESOURCEDISPLAYTYPE_FILE 0x00000004
#define RESOURCEDISPLAYTYPE_GROUP 0x00000005
#define RESOURCEDISPLAYTYPE_NETWORK 0x00000006

// One record; the texts it points to lie in the same buffer, behind the records.
typedef struct _NETRESOURCEA {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPSTR lpLocalName;
    LPSTR lpRemoteName;
    LPSTR lpComment;
    LPSTR lpProvider;
} NETRESOURCEA, *LPNETRESOURCEA;

// Each returns NO_ERROR or a Win32 error code, which is also the thread's last error.
WINPLAT_API DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage,
                                LPNETRESOURCEA lpNetResource, LPHANDLE lphEnum);
// *lpcCount: in, the records wanted (0xFFFFFFFF: as many as fit); out, the records
// delivered. *lpBufferSize: in, the buffer's size; out, after ERROR_MORE_DATA, the size
// the next record needs. ERROR_NO_MORE_ITEMS once every record has been delivered.
WINPLAT_API DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer,
                                    LPDWORD lpBufferSize);
WINPLAT_API DWORD WNetCloseEnum(HANDLE hEnum);
