// The Reg*A functions: key handles with their access rights, over the shared store.
// Errors are returned, never put in the thread's last error, as the platform does.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include <winplat/winreg.h>

#include "ansi.h"
#include "store.h"

using namespace winplat::registry;

namespace {

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;

struct OpenKey {
    int root = 0;
    KeyPath path;
    REGSAM access = KEY_ALL_ACCESS;
    bool deleted = false;
};

int PredefinedRoot(HKEY hKey) {
    auto value = reinterpret_cast<uintptr_t>(hKey);
    uintptr_t high = value >> 32;
    auto low = static_cast<uint32_t>(value);
    if ((high == 0 || high == 0xFFFFFFFFu) && low >= 0x80000000u && low <= 0x80000003u)
        return static_cast<int>(low - 0x80000000u);
    return -1;
}

bool IsPrefix(const KeyPath& prefix, const KeyPath& path) {
    if (prefix.size() > path.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!FoldEqual(prefix[i], path[i]))
            return false;
    return true;
}

class HandleTable {
public:
    HKEY Add(OpenKey key) {
        std::lock_guard guard(m_mutex);
        uintptr_t id = m_next;
        m_next += 4;
        m_keys.emplace(id, std::move(key));
        return reinterpret_cast<HKEY>(id);
    }

    bool Get(HKEY hKey, OpenKey& out) {
        if (int root = PredefinedRoot(hKey); root >= 0) {
            out = OpenKey{root, {}, KEY_ALL_ACCESS, false};
            return true;
        }
        std::lock_guard guard(m_mutex);
        auto it = m_keys.find(reinterpret_cast<uintptr_t>(hKey));
        if (it == m_keys.end())
            return false;
        out = it->second;
        return true;
    }

    bool Close(HKEY hKey) {
        if (PredefinedRoot(hKey) >= 0)
            return true;
        std::lock_guard guard(m_mutex);
        return m_keys.erase(reinterpret_cast<uintptr_t>(hKey)) == 1;
    }

    void MarkDeleted(int root, const KeyPath& path, bool keepKeyItself) {
        std::lock_guard guard(m_mutex);
        for (auto& [id, key] : m_keys)
            if (key.root == root && IsPrefix(path, key.path) &&
                !(keepKeyItself && key.path.size() == path.size()))
                key.deleted = true;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<uintptr_t, OpenKey> m_keys;
    uintptr_t m_next = 0x1000;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

REGSAM MapAccess(REGSAM sam) {
    if (sam & (kMaximumAllowed | kGenericAll))
        return KEY_ALL_ACCESS;
    REGSAM access = sam & KEY_ALL_ACCESS;
    if (sam & (kGenericRead | kGenericExecute))
        access |= KEY_READ;
    if (sam & kGenericWrite)
        access |= KEY_WRITE;
    return access;
}

LONG ResolveHandle(HKEY hKey, OpenKey& key) {
    if (!Handles().Get(hKey, key))
        return ERROR_INVALID_HANDLE;
    return key.deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Splits a subkey path ("a\b\c", one trailing backslash allowed) into names.
LONG ParseSubKey(LPCSTR lpSubKey, KeyPath& out) {
    out.clear();
    if (!lpSubKey || !*lpSubKey)
        return ERROR_SUCCESS;
    std::string path = AnsiToUtf8(lpSubKey);
    if (path.front() == '\\')
        return ERROR_BAD_PATHNAME;
    if (path.back() == '\\')
        path.pop_back();
    for (size_t start = 0;;) {
        size_t slash = path.find('\\', start);
        std::string name =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        if (!IsValidKeyName(name))
            return ERROR_INVALID_PARAMETER;
        out.push_back(std::move(name));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return ERROR_SUCCESS;
}

LONG ParseValueName(LPCSTR lpValueName, std::string& out) {
    out = lpValueName ? AnsiToUtf8(lpValueName) : std::string();
    return IsValidValueName(out) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

KeyPath Join(const KeyPath& base, const KeyPath& sub) {
    KeyPath path = base;
    path.insert(path.end(), sub.begin(), sub.end());
    return path;
}

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Value data as the A functions hand it out: text in the ANSI code page.
std::string AnsiData(const Value& value) {
    if (IsTextType(value.type))
        return Utf16ToAnsi(BytesToUtf16(value.data));
    return std::string(value.data.begin(), value.data.end());
}

// Copies data out with the size rules of RegQueryValueExA.
LONG CopyData(const std::string& data, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpcbData)
        return ERROR_SUCCESS;
    auto needed = static_cast<DWORD>(data.size());
    if (lpData) {
        if (*lpcbData < needed) {
            *lpcbData = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, data.data(), data.size());
    }
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

// Copies a name into a buffer of *lpcch characters; *lpcch becomes its length.
LONG CopyName(const std::string& name, LPSTR lpName, LPDWORD lpcch) {
    if (*lpcch <= name.size())
        return ERROR_MORE_DATA;
    std::memcpy(lpName, name.data(), name.size());
    lpName[name.size()] = '\0';
    *lpcch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void ZeroFileTime(void* lpft) {
    if (lpft)
        std::memset(lpft, 0, 8); // no write times are kept
}

// The key of an open handle; it may have gone since (deleted by another process).
LONG KeyOf(const Tree& tree, const OpenKey& open, const Key*& key) {
    key = FindKey(tree, open.root, open.path);
    return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG OpenKeyEx(HKEY hKey, LPCSTR lpSubKey, REGSAM access, PHKEY phkResult) {
    OpenKey base;
    KeyPath sub;
    LONG rc = ResolveHandle(hKey, base);
    if (rc == ERROR_SUCCESS)
        rc = ParseSubKey(lpSubKey, sub);
    if (rc != ERROR_SUCCESS)
        return rc;
    KeyPath path = Join(base.path, sub);
    rc = ReadRegistry([&](const Tree& tree) {
        if (!FindKey(tree, base.root, base.path))
            return ERROR_KEY_DELETED;
        return FindKey(tree, base.root, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc == ERROR_SUCCESS)
        *phkResult = Handles().Add(OpenKey{base.root, std::move(path), access, false});
    return rc;
}

} // namespace

namespace winplat::registry {
void NoteKeyDeleted(int root, const KeyPath& path) {
    Handles().MarkDeleted(root, path, false);
}
} // namespace winplat::registry

WINPLAT_API LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                               PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return OpenKeyEx(hKey, lpSubKey, MapAccess(samDesired), phkResult);
}

WINPLAT_API LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    if (!lpSubKey || !*lpSubKey) {
        OpenKey base;
        if (LONG rc = ResolveHandle(hKey, base); rc != ERROR_SUCCESS)
            return rc;
        *phkResult = hKey; // the same handle, as the platform hands it back
        return ERROR_SUCCESS;
    }
    *phkResult = nullptr;
    return OpenKeyEx(hKey, lpSubKey, KEY_ALL_ACCESS, phkResult);
}

WINPLAT_API LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                 DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                                 PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey base;
    KeyPath sub;
    LONG rc = ResolveHandle(hKey, base);
    if (rc == ERROR_SUCCESS)
        rc = ParseSubKey(lpSubKey, sub);
    if (rc != ERROR_SUCCESS)
        return rc;
    KeyPath path = Join(base.path, sub);
    if (path.size() > kMaxKeyDepth)
        return ERROR_INVALID_PARAMETER;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    rc = WriteRegistry([&](Tree& tree, bool& changed) {
        disposition = REG_OPENED_EXISTING_KEY;
        Key* key = FindKey(tree, base.root, base.path);
        if (!key)
            return ERROR_KEY_DELETED;
        size_t existing = 0;
        for (; existing < sub.size(); ++existing) {
            Key* next = key->FindSubkey(sub[existing]);
            if (!next)
                break;
            key = next;
        }
        if (existing == sub.size())
            return ERROR_SUCCESS;
        if (!(base.access & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        for (size_t i = existing; i < sub.size(); ++i) {
            auto& slot = key->subkeys[sub[i]];
            slot = std::make_unique<Key>();
            key = slot.get();
        }
        changed = true;
        disposition = REG_CREATED_NEW_KEY;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    *phkResult = Handles().Add(OpenKey{base.root, std::move(path), MapAccess(samDesired), false});
    if (lpdwDisposition)
        *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

WINPLAT_API LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    if (!lpSubKey || !*lpSubKey)
        return RegOpenKeyA(hKey, lpSubKey, phkResult);
    return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, phkResult, nullptr);
}

WINPLAT_API LONG RegCloseKey(HKEY hKey) {
    return Handles().Close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

WINPLAT_API LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                const BYTE* lpData, DWORD cbData) {
    OpenKey open;
    std::string name;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData != 0)
        return ERROR_INVALID_PARAMETER;
    if (LONG rc = ParseValueName(lpValueName, name); rc != ERROR_SUCCESS)
        return rc;
    std::vector<BYTE> data;
    if (IsTextType(dwType))
        data = Utf16Bytes(AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(lpData),
                                                       lpData ? cbData : 0)),
                          false);
    else if (lpData)
        data.assign(lpData, lpData + cbData);
    return WriteRegistry([&](Tree& tree, bool& changed) {
        Key* key = FindKey(tree, open.root, open.path);
        if (!key)
            return ERROR_KEY_DELETED;
        changed = key->SetValue(name, dwType, data);
        return ERROR_SUCCESS;
    });
}

WINPLAT_API LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                  LPBYTE lpData, LPDWORD lpcbData) {
    OpenKey open;
    std::string name;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (LONG rc = ParseValueName(lpValueName, name); rc != ERROR_SUCCESS)
        return rc == ERROR_INVALID_PARAMETER ? ERROR_FILE_NOT_FOUND : rc;
    return ReadRegistry([&](const Tree& tree) {
        const Key* key;
        if (LONG rc = KeyOf(tree, open, key); rc != ERROR_SUCCESS)
            return rc;
        const Value* value = key->FindValue(name);
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        if (lpType)
            *lpType = value->type;
        return CopyData(AnsiData(*value), lpData, lpcbData);
    });
}

WINPLAT_API LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    OpenKey open;
    std::string name;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (ParseValueName(lpValueName, name) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    return WriteRegistry([&](Tree& tree, bool& changed) {
        Key* key = FindKey(tree, open.root, open.path);
        if (!key)
            return ERROR_KEY_DELETED;
        changed = key->DeleteValue(name);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

WINPLAT_API LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    OpenKey base;
    KeyPath sub;
    LONG rc = ResolveHandle(hKey, base);
    if (rc == ERROR_SUCCESS)
        rc = ParseSubKey(lpSubKey, sub);
    if (rc != ERROR_SUCCESS)
        return rc;
    KeyPath path = Join(base.path, sub);
    if (path.empty())
        return ERROR_ACCESS_DENIED; // a root key stays
    rc = WriteRegistry([&](Tree& tree, bool& changed) {
        if (!FindKey(tree, base.root, base.path))
            return ERROR_KEY_DELETED;
        KeyPath parentPath(path.begin(), path.end() - 1);
        Key* parent = FindKey(tree, base.root, parentPath);
        if (!parent)
            return ERROR_FILE_NOT_FOUND;
        auto it = parent->subkeys.find(path.back());
        if (it == parent->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        if (!it->second->subkeys.empty())
            return ERROR_ACCESS_DENIED;
        parent->subkeys.erase(it);
        changed = true;
        return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS)
        NoteKeyDeleted(base.root, path);
    return rc;
}

WINPLAT_API LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    OpenKey base;
    KeyPath sub;
    LONG rc = ResolveHandle(hKey, base);
    if (rc == ERROR_SUCCESS)
        rc = ParseSubKey(lpSubKey, sub);
    if (rc != ERROR_SUCCESS)
        return rc;
    KeyPath path = Join(base.path, sub);
    bool wholeKey = !sub.empty();
    rc = WriteRegistry([&](Tree& tree, bool& changed) {
        if (!FindKey(tree, base.root, base.path))
            return ERROR_KEY_DELETED;
        if (wholeKey) {
            KeyPath parentPath(path.begin(), path.end() - 1);
            Key* parent = FindKey(tree, base.root, parentPath);
            if (!parent || parent->subkeys.erase(path.back()) == 0)
                return ERROR_FILE_NOT_FOUND;
            changed = true;
            return ERROR_SUCCESS;
        }
        // The key's own contents: it must have been opened for that.
        Key* key = FindKey(tree, base.root, path);
        REGSAM needed = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
        if (!key->values.empty())
            needed |= KEY_SET_VALUE;
        if ((base.access & needed) != needed)
            return ERROR_ACCESS_DENIED;
        changed = !key->Empty();
        key->values.clear();
        key->subkeys.clear();
        return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS)
        Handles().MarkDeleted(base.root, path, !wholeKey);
    return rc;
}

WINPLAT_API LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                               LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                               void* lpftLastWriteTime) {
    OpenKey open;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return ReadRegistry([&](const Tree& tree) {
        const Key* key;
        if (LONG rc = KeyOf(tree, open, key); rc != ERROR_SUCCESS)
            return rc;
        if (dwIndex >= key->subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        auto it = std::next(key->subkeys.begin(), dwIndex);
        if (LONG rc = CopyName(Utf8ToAnsi(it->first), lpName, lpcchName); rc != ERROR_SUCCESS)
            return rc;
        if (lpClass) {
            if (*lpcchClass == 0)
                return ERROR_MORE_DATA;
            lpClass[0] = '\0';
            *lpcchClass = 0;
        }
        ZeroFileTime(lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

WINPLAT_API LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                               LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                               LPDWORD lpcbData) {
    OpenKey open;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return ReadRegistry([&](const Tree& tree) {
        const Key* key;
        if (LONG rc = KeyOf(tree, open, key); rc != ERROR_SUCCESS)
            return rc;
        if (dwIndex >= key->values.size())
            return ERROR_NO_MORE_ITEMS;
        const Value& value = key->values[dwIndex];
        if (LONG rc = CopyName(Utf8ToAnsi(value.name), lpValueName, lpcchValueName);
            rc != ERROR_SUCCESS)
            return rc;
        if (lpType)
            *lpType = value.type;
        return CopyData(AnsiData(value), lpData, lpcbData);
    });
}

WINPLAT_API LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                  LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                  LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                  LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                  LPDWORD lpcbSecurityDescriptor, void* lpftLastWriteTime) {
    OpenKey open;
    if (LONG rc = ResolveHandle(hKey, open); rc != ERROR_SUCCESS)
        return rc;
    if (!(open.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return ReadRegistry([&](const Tree& tree) {
        const Key* key;
        if (LONG rc = KeyOf(tree, open, key); rc != ERROR_SUCCESS)
            return rc;
        if (lpClass) {
            if (*lpcchClass == 0)
                return ERROR_MORE_DATA;
            lpClass[0] = '\0';
        }
        if (lpcchClass)
            *lpcchClass = 0;
        DWORD maxSubKey = 0, maxValueName = 0, maxValue = 0;
        for (const auto& [name, sub] : key->subkeys)
            maxSubKey = std::max<DWORD>(maxSubKey, Utf8ToAnsi(name).size());
        for (const Value& value : key->values) {
            maxValueName = std::max<DWORD>(maxValueName, Utf8ToAnsi(value.name).size());
            maxValue = std::max<DWORD>(maxValue, AnsiData(value).size());
        }
        if (lpcSubKeys)
            *lpcSubKeys = static_cast<DWORD>(key->subkeys.size());
        if (lpcbMaxSubKeyLen)
            *lpcbMaxSubKeyLen = maxSubKey;
        if (lpcbMaxClassLen)
            *lpcbMaxClassLen = 0;
        if (lpcValues)
            *lpcValues = static_cast<DWORD>(key->values.size());
        if (lpcbMaxValueNameLen)
            *lpcbMaxValueNameLen = maxValueName;
        if (lpcbMaxValueLen)
            *lpcbMaxValueLen = maxValue;
        if (lpcbSecurityDescriptor)
            *lpcbSecurityDescriptor = 0;
        ZeroFileTime(lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

namespace {
// Copies text like snprintf: as much as fits, always terminated; returns the full length.
DWORD CopyOut(const std::string& text, LPSTR lpBuffer, DWORD nSize) {
    if (lpBuffer && nSize > 0) {
        size_t n = std::min<size_t>(text.size(), nSize - 1);
        std::memcpy(lpBuffer, text.data(), n);
        lpBuffer[n] = '\0';
    }
    return static_cast<DWORD>(text.size());
}
} // namespace

WINPLAT_API void WinplatSetRegistryPath(LPCSTR lpPath) {
    SetRegistryPath(lpPath);
}

WINPLAT_API DWORD WinplatGetRegistryPath(LPSTR lpBuffer, DWORD nSize) {
    return CopyOut(RegistryPath(), lpBuffer, nSize);
}

WINPLAT_API DWORD WinplatGetRegistryError(LPSTR lpBuffer, DWORD nSize) {
    return CopyOut(RegistryError(), lpBuffer, nSize);
}
