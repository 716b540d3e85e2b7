// The registry in memory: four separate root trees of keys and values, and the
// text form in which they are kept on disk.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <winplat/winreg.h>

namespace winplat::registry {

enum RootIndex : int { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kRootCount };

// "HKEY_CLASSES_ROOT", ... indexed by RootIndex.
extern const char* const kRootNames[kRootCount];

// Names compare without regard to case (ASCII, Latin-1, Greek, Cyrillic and full-width
// Latin letters fold); the first spelling is kept.
int FoldCompare(std::string_view a, std::string_view b);
inline bool FoldEqual(std::string_view a, std::string_view b) {
    return FoldCompare(a, b) == 0;
}
struct FoldLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return FoldCompare(a, b) < 0; }
};

// Names are UTF-8; string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is UTF-16LE with
// whatever terminators the writer gave it, as the platform stores them.
struct Value {
    std::string name; // empty: the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::vector<Value> values; // in the order they were first set
    std::map<std::string, std::unique_ptr<Key>, FoldLess> subkeys;

    Value* FindValue(std::string_view name);
    const Value* FindValue(std::string_view name) const;
    Key* FindSubkey(std::string_view name);
    const Key* FindSubkey(std::string_view name) const;
    // Sets (or replaces in place) a value; false when it already held exactly this.
    bool SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(std::string_view name);
    bool Empty() const { return values.empty() && subkeys.empty(); }
};

struct Tree {
    Key roots[kRootCount];
};

using KeyPath = std::vector<std::string>;

// Limits the platform puts on names, in UTF-16 units.
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr size_t kMaxKeyDepth = 512;

// A name is storable when it is valid UTF-8 without control characters and within the
// limit; a key name must also be non-empty and hold no backslash.
bool IsValidKeyName(std::string_view name);
bool IsValidValueName(std::string_view name);

const Key* FindKey(const Tree& tree, int root, const KeyPath& path);
Key* FindKey(Tree& tree, int root, const KeyPath& path);
// Opens the key at path, creating it and the keys above it as needed (changed is set then).
Key* CreateKey(Tree& tree, int root, const KeyPath& path, bool& changed);
// Removes the key at path with its subtree; false when it did not exist.
bool EraseKey(Tree& tree, int root, const KeyPath& path);

// The registry file's text form. Parsing replaces the tree's contents.
struct ParseError {
    size_t line = 0;
    std::string what;
};
bool ParseRegistryText(std::string_view text, Tree& tree, ParseError& error);
std::string FormatRegistryText(const Tree& tree);
inline constexpr char kRegistryHeader[] = "Windows Registry Editor Version 5.00";

// UTF-8 and UTF-16 conversions. Decoding fails on malformed input.
bool Utf8ToUtf16(std::string_view utf8, std::u16string& out);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Text data as stored: UTF-16LE bytes, and back.
std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool withTerminator);
std::u16string BytesToUtf16(const std::vector<BYTE>& data);

// The value of a hexadecimal digit, or -1.
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace winplat::registry
