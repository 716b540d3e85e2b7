#include "tree.h"

#include <algorithm>

namespace winplat::registry {

const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                            "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

namespace {

constexpr char32_t kBad = 0xFFFFFFFF;

// Decodes one code point at pos and advances; kBad for malformed input (overlong forms,
// surrogates and values past U+10FFFF included).
char32_t DecodeUtf8(std::string_view s, size_t& pos) {
    auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return kBad;
    }
    if (pos + extra >= s.size())
        return kBad;
    for (int i = 1; i <= extra; ++i) {
        auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80)
            return kBad;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return kBad;
    pos += extra + 1;
    return cp;
}

// Upper-case partner of a letter, for the scripts names are likely to use.
char32_t Fold(char32_t c) {
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        // Latin Extended-A pairs letters as even upper, odd lower, except in the two runs
        // 0x139..0x148 and 0x179..0x17E where the upper-case letter is the odd one.
        bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper)
            return (c & 1) ? c : c - 1;
        return (c & 1) ? c - 1 : c;
    }
    return c;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto b = static_cast<unsigned char>(utf8[i]);
        if ((b & 0xC0) != 0x80)
            units += (b >= 0xF0) ? 2 : 1;
    }
    return units;
}

bool IsValidName(std::string_view name, size_t maxChars, bool isKey) {
    bool ascii = true;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || (isKey && b == '\\'))
            return false;
        ascii = ascii && b < 0x80;
    }
    if (ascii)
        return name.size() <= maxChars;
    for (size_t pos = 0; pos < name.size();) {
        char32_t c = DecodeUtf8(name, pos);
        if (c == kBad || c < 0x20 || c == 0x7F || (isKey && c == '\\'))
            return false;
    }
    return Utf16Length(name) <= maxChars;
}

} // namespace

int FoldCompare(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[j]);
        char32_t fa, fb;
        if (ca < 0x80 && cb < 0x80) {
            fa = (ca >= 'a' && ca <= 'z') ? ca - 0x20 : ca;
            fb = (cb >= 'a' && cb <= 'z') ? cb - 0x20 : cb;
            ++i, ++j;
        } else {
            size_t pi = i, pj = j;
            char32_t da = DecodeUtf8(a, i);
            char32_t db = DecodeUtf8(b, j);
            if (da == kBad)
                da = ca, i = pi + 1;
            if (db == kBad)
                db = cb, j = pj + 1;
            fa = Fold(da), fb = Fold(db);
        }
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

Value* Key::FindValue(std::string_view name) {
    for (Value& v : values)
        if (FoldEqual(v.name, name))
            return &v;
    return nullptr;
}

const Value* Key::FindValue(std::string_view name) const {
    return const_cast<Key*>(this)->FindValue(name);
}

Key* Key::FindSubkey(std::string_view name) {
    auto it = subkeys.find(name);
    return it == subkeys.end() ? nullptr : it->second.get();
}

const Key* Key::FindSubkey(std::string_view name) const {
    return const_cast<Key*>(this)->FindSubkey(name);
}

bool Key::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data) {
    if (Value* v = FindValue(name)) {
        if (v->type == type && v->data == data)
            return false;
        v->type = type;
        v->data = std::move(data);
        return true;
    }
    values.push_back(Value{std::string(name), type, std::move(data)});
    return true;
}

bool Key::DeleteValue(std::string_view name) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const Value& v) { return FoldEqual(v.name, name); });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

bool IsValidKeyName(std::string_view name) {
    return !name.empty() && IsValidName(name, kMaxKeyNameChars, true);
}

bool IsValidValueName(std::string_view name) {
    return IsValidName(name, kMaxValueNameChars, false);
}

Key* FindKey(Tree& tree, int root, const KeyPath& path) {
    Key* key = &tree.roots[root];
    for (const std::string& name : path) {
        key = key->FindSubkey(name);
        if (!key)
            return nullptr;
    }
    return key;
}

const Key* FindKey(const Tree& tree, int root, const KeyPath& path) {
    return FindKey(const_cast<Tree&>(tree), root, path);
}

Key* CreateKey(Tree& tree, int root, const KeyPath& path, bool& changed) {
    Key* key = &tree.roots[root];
    for (const std::string& name : path) {
        auto& slot = key->subkeys[name];
        if (!slot) {
            slot = std::make_unique<Key>();
            changed = true;
        }
        key = slot.get();
    }
    return key;
}

bool EraseKey(Tree& tree, int root, const KeyPath& path) {
    if (path.empty())
        return false;
    Key* parent = FindKey(tree, root, KeyPath(path.begin(), path.end() - 1));
    return parent && parent->subkeys.erase(path.back()) == 1;
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
    out.clear();
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t c = DecodeUtf8(utf8, pos);
        if (c == kBad)
            return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool withTerminator) {
    std::vector<BYTE> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    if (withTerminator) {
        data.push_back(0);
        data.push_back(0);
    }
    return data;
}

std::u16string BytesToUtf16(const std::vector<BYTE>& data) {
    std::u16string text(data.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return text;
}

} // namespace winplat::registry
