// WNetOpenEnumA, WNetEnumResourceA, WNetCloseEnum: records packed into the caller's
// buffer, from its start, with the texts they point to packed from its end downwards.
#include <cstring>
#include <map>
#include <mutex>

#include <winplat/winbase.h>
#include <winplat/winnetwk.h>

#include "wnet_internal.h"

namespace winplat::wnet {
namespace {

std::mutex g_mutex;
std::map<uintptr_t, Enumeration> g_open;
uintptr_t g_nextHandle = 0x4E00; // handles are never reused

DWORD Fail(DWORD error) {
    SetLastError(error);
    return error;
}

size_t TextSize(const std::optional<std::string>& text) {
    return text ? text->size() + 1 : 0;
}

} // namespace

size_t PackedSize(const Record& record) {
    return sizeof(NETRESOURCEA) + TextSize(record.localName) + TextSize(record.remoteName) +
           TextSize(record.comment) + TextSize(record.provider);
}

} // namespace winplat::wnet

using namespace winplat::wnet;

DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource,
                    LPHANDLE lphEnum) {
    if (!lphEnum)
        return Fail(ERROR_INVALID_ADDRESS);
    *lphEnum = nullptr;
    if (dwScope != RESOURCE_CONNECTED && dwScope != RESOURCE_GLOBALNET &&
        dwScope != RESOURCE_REMEMBERED && dwScope != RESOURCE_CONTEXT)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwType & ~static_cast<DWORD>(RESOURCETYPE_DISK | RESOURCETYPE_PRINT))
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwUsage & ~static_cast<DWORD>(RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER))
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpNetResource && !(lpNetResource->dwUsage & RESOURCEUSAGE_CONTAINER))
        return Fail(ERROR_NOT_CONTAINER);
    Enumeration enumeration;
    DWORD error = OpenSource(dwScope, lpNetResource, enumeration);
    if (error != NO_ERROR)
        return Fail(error);
    std::lock_guard<std::mutex> lock(g_mutex);
    uintptr_t handle = ++g_nextHandle;
    g_open.emplace(handle, std::move(enumeration));
    *lphEnum = reinterpret_cast<HANDLE>(handle);
    return Fail(NO_ERROR);
}

DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize) {
    if (!lpcCount || !lpBufferSize || (!lpBuffer && *lpBufferSize))
        return Fail(ERROR_INVALID_ADDRESS);
    if (*lpcCount == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_open.find(reinterpret_cast<uintptr_t>(hEnum));
    if (it == g_open.end())
        return Fail(ERROR_INVALID_HANDLE);
    Enumeration& e = it->second;
    ++e.calls;
    if (e.enumError && e.calls >= e.enumErrorAt) {
        *lpcCount = 0;
        return Fail(e.enumError);
    }
    if (e.next >= e.records.size()) {
        *lpcCount = 0;
        return Fail(ERROR_NO_MORE_ITEMS);
    }

    // How many of the remaining records fit, texts included.
    size_t room = *lpBufferSize, used = 0, count = 0;
    while (e.next + count < e.records.size() && count < *lpcCount) {
        size_t size = PackedSize(e.records[e.next + count]);
        if (used + size > room)
            break;
        used += size;
        ++count;
    }
    if (count == 0) {
        // Not even one: the caller learns the size the next record needs.
        *lpcCount = 0;
        *lpBufferSize = static_cast<DWORD>(PackedSize(e.records[e.next]));
        return Fail(ERROR_MORE_DATA);
    }

    auto* records = static_cast<NETRESOURCEA*>(lpBuffer);
    char* textEnd = static_cast<char*>(lpBuffer) + room;
    auto place = [&](const std::optional<std::string>& text) -> LPSTR {
        if (!text)
            return nullptr;
        textEnd -= text->size() + 1;
        std::memcpy(textEnd, text->c_str(), text->size() + 1);
        return textEnd;
    };
    for (size_t i = 0; i < count; ++i) {
        const Record& r = e.records[e.next + i];
        NETRESOURCEA& out = records[i];
        out.dwScope = r.scope;
        out.dwType = r.type;
        out.dwDisplayType = r.displayType;
        out.dwUsage = r.usage;
        out.lpLocalName = place(r.localName);
        out.lpRemoteName = place(r.remoteName);
        out.lpComment = place(r.comment);
        out.lpProvider = place(r.provider);
    }
    e.next += count;
    *lpcCount = static_cast<DWORD>(count);
    if (e.moreDataWithRecords && e.next < e.records.size())
        return Fail(ERROR_MORE_DATA);
    return Fail(NO_ERROR);
}

DWORD WNetCloseEnum(HANDLE hEnum) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_open.erase(reinterpret_cast<uintptr_t>(hEnum)) == 0)
        return Fail(ERROR_INVALID_HANDLE);
    return Fail(NO_ERROR);
}
