// Helpers the registry tests share: reading keys back through the API.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <winplat/winreg.h>

// Every key and value below root\path, one line each, in enumeration order:
//   "Key\Sub"                     for a key
//   "Key\Sub|Name=sz:text"        for a value (@ for the default value; dword:, hex(N):)
// Text(): a REG_SZ value's text without its terminator, or "<missing>".
// SetText(): creates the key and sets a REG_SZ value (name null: the default value).
namespace regtest {

namespace detail {

inline std::string Describe(DWORD type, const std::string& data) {
    char buf[16];
    if (type == REG_SZ) {
        std::string text = data;
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        return "sz:" + text;
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = static_cast<unsigned char>(data[0]) | static_cast<unsigned char>(data[1]) << 8 |
                  static_cast<unsigned char>(data[2]) << 16 |
                  static_cast<DWORD>(static_cast<unsigned char>(data[3])) << 24;
        return "dword:" + std::to_string(v);
    }
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    std::string out = buf;
    for (char c : data) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

inline void Walk(HKEY hKey, const std::string& path, std::vector<std::string>& out) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD cch = sizeof name;
        DWORD type = 0;
        DWORD cb = 0;
        if (RegEnumValueA(hKey, i, name, &cch, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS)
            break;
        std::string data(cb, '\0');
        cch = sizeof name;
        RegEnumValueA(hKey, i, name, &cch, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                      &cb);
        out.push_back(path + "|" + (cch ? std::string(name, cch) : "@") + "=" +
                      Describe(type, data));
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cch = sizeof name;
        if (RegEnumKeyExA(hKey, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string sub = path.empty() ? name : path + "\\" + name;
        out.push_back(sub);
        HKEY hSub = nullptr;
        if (RegOpenKeyExA(hKey, name, 0, KEY_READ, &hSub) == ERROR_SUCCESS) {
            Walk(hSub, sub, out);
            RegCloseKey(hSub);
        }
    }
}

} // namespace detail

inline std::vector<std::string> Dump(HKEY root, const std::string& path) {
    std::vector<std::string> out;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return out;
    detail::Walk(hKey, path, out);
    RegCloseKey(hKey);
    return out;
}

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

inline std::string Text(HKEY root, const std::string& path, const char* name) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return "<missing>";
    DWORD type = 0, cb = 0;
    std::string data;
    LONG rc = RegQueryValueExA(hKey, name, nullptr, &type, nullptr, &cb);
    if (rc == ERROR_SUCCESS) {
        data.resize(cb);
        rc = RegQueryValueExA(hKey, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                              &cb);
    }
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return "<missing>";
    if (!data.empty() && data.back() == '\0')
        data.pop_back();
    return data;
}

inline void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(hKey);
}

} // namespace regtest
