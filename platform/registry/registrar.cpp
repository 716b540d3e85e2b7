// The registrar: carries out a module's registration script.
//
//   HKCR
//   {
//       Tellumo.SysLog.1 = s 'SysLog Class'
//       {
//           CLSID = s '{C89F80D2-B3F1-11D4-804A-0001025EB176}'
//       }
//       NoRemove CLSID
//       {
//           ForceRemove {C89F80D2-B3F1-11D4-804A-0001025EB176} = s 'SysLog Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// The whole script is parsed before anything is touched, and carried out as one registry
// transaction: a registration that fails leaves the registry exactly as it was.
// Replacements (%NAME%) are made inside each name and value after it has been read, so
// that a module path holding a quote or a brace cannot change the script's structure.

#include <algorithm>
#include <cstring>
#include <optional>

#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "ansi.h"
#include "store.h"

using namespace winplat::registry;

namespace {

thread_local std::string t_lastError;

using ReplacementMap = std::vector<std::pair<std::string, std::string>>;

enum class Flag { None, NoRemove, ForceRemove, Delete, Val };

struct Entry {
    Flag flag = Flag::None;
    std::string name; // ANSI, replacements made
    bool hasValue = false;
    DWORD type = REG_SZ;
    std::string text;       // s: ANSI text
    std::vector<BYTE> data; // d, b: the bytes stored
    std::vector<Entry> children;
};

struct RootBlock {
    int root = 0;
    std::vector<Entry> entries;
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x -= 32;
        if (y >= 'a' && y <= 'z')
            y -= 32;
        if (x != y)
            return false;
    }
    return true;
}

struct Token {
    std::string text;
    bool quoted = false;
    size_t line = 1;
    bool Is(const char* word) const { return !quoted && EqualNoCase(text, word); }
    bool Structural() const { return !quoted && (text == "{" || text == "}" || text == "="); }
};

class ScriptParser {
public:
    ScriptParser(std::string_view script, const ReplacementMap& map) : m_text(script), m_map(map) {}

    bool Parse(std::vector<RootBlock>& blocks) {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_text.remove_prefix(3);
        Token tok;
        while (Next(tok)) {
            if (tok.Is("NoRemove") && !Next(tok))
                return Fail("expected a root key after NoRemove");
            RootBlock block;
            block.root = RootOf(tok);
            if (block.root < 0)
                return Fail("expected a root key (HKCR, HKCU, HKLM, HKU), found \"" +
                            tok.text.substr(0, 40) + "\"");
            if (!Expect("{") || !Entries(block.entries, 0))
                return false;
            blocks.push_back(std::move(block));
        }
        return m_error.empty();
    }

    const std::string& Error() const { return m_error; }

private:
    static int RootOf(const Token& tok) {
        static const char* const names[][2] = {{"HKCR", "HKEY_CLASSES_ROOT"},
                                               {"HKCU", "HKEY_CURRENT_USER"},
                                               {"HKLM", "HKEY_LOCAL_MACHINE"},
                                               {"HKU", "HKEY_USERS"}};
        const int roots[] = {kClassesRoot, kCurrentUser, kLocalMachine, kUsers};
        for (int i = 0; i < 4; ++i)
            if (tok.Is(names[i][0]) || tok.Is(names[i][1]))
                return roots[i];
        return -1;
    }

    bool Fail(const std::string& what) {
        if (m_error.empty())
            m_error = "line " + std::to_string(m_line) + ": " + what;
        return false;
    }

    // Reads the next token; false at the end of the script or on a lexical error.
    bool Next(Token& tok) {
        if (m_peeked) {
            tok = std::move(*m_peeked);
            m_peeked.reset();
            return true;
        }
        if (!m_error.empty())
            return false;
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) {
            if (m_text[m_pos] == '\n')
                ++m_line;
            ++m_pos;
        }
        if (m_pos >= m_text.size())
            return false;
        tok = Token{};
        tok.line = m_line;
        if (m_text[m_pos] == '\'') {
            tok.quoted = true;
            ++m_pos;
            while (true) {
                if (m_pos >= m_text.size())
                    return Fail("missing closing quote");
                char c = m_text[m_pos++];
                if (c == '\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                        ++m_pos;
                    } else {
                        break;
                    }
                }
                if (c == '\n')
                    ++m_line;
                tok.text.push_back(c);
            }
            return true;
        }
        // A word runs to the next white space, so "{GUID}" is a name and "{" followed by
        // white space opens a block.
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]))
            tok.text.push_back(m_text[m_pos++]);
        if (tok.text.find('\0') != std::string::npos)
            return Fail("a zero byte in the script");
        return true;
    }

    bool Peek(const Token*& tok) {
        if (!m_peeked) {
            Token t;
            if (!Next(t))
                return false;
            m_peeked = std::move(t);
        }
        tok = &*m_peeked;
        return true;
    }

    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    bool Expect(const char* what) {
        Token tok;
        if (!Next(tok))
            return Fail(std::string("expected \"") + what + "\" at the end of the script");
        if (tok.quoted || tok.text != what)
            return Fail(std::string("expected \"") + what + "\", found \"" +
                        tok.text.substr(0, 40) + "\"");
        return true;
    }

    // Makes the %NAME% replacements; %% is a percent sign.
    bool Replace(const std::string& in, std::string& out) {
        out.clear();
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] != '%') {
                out.push_back(in[i]);
                continue;
            }
            size_t end = in.find('%', i + 1);
            if (end == std::string::npos)
                return Fail("a % without its closing %");
            std::string_view name(in.data() + i + 1, end - i - 1);
            if (name.empty()) {
                out.push_back('%');
            } else {
                const std::string* found = nullptr;
                for (const auto& [key, value] : m_map)
                    if (EqualNoCase(key, name)) {
                        found = &value;
                        break;
                    }
                if (!found)
                    return Fail("no replacement for %" + std::string(name.substr(0, 40)) + "%");
                out += *found;
            }
            i = end;
        }
        return true;
    }

    bool Entries(std::vector<Entry>& entries, int depth) {
        if (depth > static_cast<int>(kMaxKeyDepth))
            return Fail("blocks nested too deeply");
        while (true) {
            Token tok;
            if (!Next(tok))
                return Fail("missing \"}\" at the end of the script");
            if (!tok.quoted && tok.text == "}")
                return true;
            Entry entry;
            if (tok.Is("NoRemove"))
                entry.flag = Flag::NoRemove;
            else if (tok.Is("ForceRemove"))
                entry.flag = Flag::ForceRemove;
            else if (tok.Is("Delete"))
                entry.flag = Flag::Delete;
            else if (tok.Is("val"))
                entry.flag = Flag::Val;
            if (entry.flag != Flag::None && !Next(tok))
                return Fail("expected a name at the end of the script");
            if (tok.Structural())
                return Fail("expected a name, found \"" + tok.text + "\"");
            if (!Replace(tok.text, entry.name))
                return false;
            const Token* next;
            if (Peek(next) && !next->quoted && next->text == "=") {
                Next(tok);
                if (!Value(entry))
                    return false;
            }
            if (!m_error.empty())
                return false;
            if (entry.flag == Flag::Val && !entry.hasValue)
                return Fail("val " + entry.name.substr(0, 40) + " needs \"= type value\"");
            if (Peek(next) && !next->quoted && next->text == "{") {
                if (entry.flag == Flag::Val)
                    return Fail("a value cannot open a block");
                Next(tok);
                if (!Entries(entry.children, depth + 1))
                    return false;
            }
            if (!m_error.empty())
                return false;
            entries.push_back(std::move(entry));
        }
    }

    bool Value(Entry& entry) {
        Token type, value;
        if (!Next(type) || !Next(value))
            return Fail("expected a type and a value after \"=\"");
        if (type.quoted || value.Structural())
            return Fail("expected a type (s, d or b) and a value after \"=\"");
        std::string text;
        if (!Replace(value.text, text))
            return false;
        entry.hasValue = true;
        if (type.Is("s")) {
            entry.type = REG_SZ;
            entry.text = std::move(text);
        } else if (type.Is("d")) {
            entry.type = REG_DWORD;
            DWORD number;
            if (!ParseNumber(text, number))
                return Fail("d takes a number from 0 to 4294967295, found \"" + text.substr(0, 40) +
                            "\"");
            entry.data = {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)};
        } else if (type.Is("b")) {
            entry.type = REG_BINARY;
            if (text.size() % 2 != 0)
                return Fail("b takes pairs of hex digits");
            for (size_t i = 0; i < text.size(); i += 2) {
                int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
                if (hi < 0 || lo < 0)
                    return Fail("b takes pairs of hex digits");
                entry.data.push_back(static_cast<BYTE>(hi << 4 | lo));
            }
        } else {
            return Fail("unknown value type \"" + type.text.substr(0, 40) +
                        "\" (expected s, d or b)");
        }
        return true;
    }

    // Decimal, or hexadecimal after 0x.
    static bool ParseNumber(const std::string& text, DWORD& out) {
        uint64_t value = 0;
        size_t i = 0;
        int base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
            base = 16, i = 2;
        if (i >= text.size())
            return false;
        for (; i < text.size(); ++i) {
            int d = HexDigit(text[i]);
            if (d < 0 || d >= base)
                return false;
            value = value * base + d;
            if (value > 0xFFFFFFFFu)
                return false;
        }
        out = static_cast<DWORD>(value);
        return true;
    }

    std::string_view m_text;
    const ReplacementMap& m_map;
    size_t m_pos = 0;
    size_t m_line = 1;
    std::optional<Token> m_peeked;
    std::string m_error;
};

bool ContainsNoRemove(const std::vector<Entry>& entries) {
    for (const Entry& e : entries)
        if (e.flag == Flag::NoRemove || ContainsNoRemove(e.children))
            return true;
    return false;
}

class Executor {
public:
    Executor(Tree& tree, bool& changed) : m_tree(tree), m_changed(changed) {}

    LONG Register(int root, const KeyPath& at, const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            if (e.flag == Flag::Val) {
                std::string name = AnsiToUtf8(e.name);
                if (!IsValidValueName(name))
                    return ERROR_INVALID_PARAMETER;
                SetValue(root, at, name, e);
                continue;
            }
            KeyPath path;
            if (LONG rc = PathOf(at, e.name, path); rc != ERROR_SUCCESS)
                return rc;
            if (e.flag == Flag::Delete) {
                Erase(root, path);
                continue;
            }
            if (e.flag == Flag::ForceRemove)
                Erase(root, path);
            Create(root, path);
            if (e.hasValue)
                SetValue(root, path, std::string(), e);
            if (LONG rc = Register(root, path, e.children); rc != ERROR_SUCCESS)
                return rc;
        }
        return ERROR_SUCCESS;
    }

    void Unregister(int root, const KeyPath& at, const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            if (e.flag == Flag::Val) {
                if (Key* key = FindKey(m_tree, root, at);
                    key && key->DeleteValue(AnsiToUtf8(e.name)))
                    m_changed = true;
                continue;
            }
            KeyPath path;
            if (e.flag == Flag::Delete || PathOf(at, e.name, path) != ERROR_SUCCESS)
                continue; // a name that cannot be stored was never registered
            Key* key = FindKey(m_tree, root, path);
            if (!key)
                continue;
            if (e.flag == Flag::NoRemove) {
                Unregister(root, path, e.children);
            } else if (e.flag == Flag::None && ContainsNoRemove(e.children)) {
                // Keep what the script says must stay; the key goes once nothing is left.
                Unregister(root, path, e.children);
                if (key->subkeys.empty())
                    Erase(root, path);
            } else {
                Erase(root, path);
            }
        }
    }

    const std::vector<std::pair<int, KeyPath>>& Deleted() const { return m_deleted; }

private:
    static LONG PathOf(const KeyPath& at, const std::string& name, KeyPath& path) {
        path = at;
        std::string utf8 = AnsiToUtf8(name);
        for (size_t start = 0;;) {
            size_t slash = utf8.find('\\', start);
            std::string part =
                utf8.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (!IsValidKeyName(part))
                return ERROR_INVALID_PARAMETER;
            path.push_back(std::move(part));
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return path.size() > kMaxKeyDepth ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }

    void Create(int root, const KeyPath& path) { CreateKey(m_tree, root, path, m_changed); }

    void Erase(int root, const KeyPath& path) {
        if (EraseKey(m_tree, root, path)) {
            m_changed = true;
            m_deleted.emplace_back(root, path);
        }
    }

    void SetValue(int root, const KeyPath& path, const std::string& name, const Entry& e) {
        Key* key = FindKey(m_tree, root, path);
        std::vector<BYTE> data = e.type == REG_SZ ? Utf16Bytes(AnsiToUtf16(e.text), true) : e.data;
        if (key->SetValue(name, e.type, std::move(data)))
            m_changed = true;
    }

    Tree& m_tree;
    bool& m_changed;
    std::vector<std::pair<int, KeyPath>> m_deleted;
};

HRESULT RunScript(std::string_view script, bool bRegister, const ReplacementMap& map) {
    t_lastError.clear();
    std::vector<RootBlock> blocks;
    ScriptParser parser(script, map);
    if (!parser.Parse(blocks)) {
        t_lastError = parser.Error();
        return DISP_E_EXCEPTION;
    }
    std::vector<std::pair<int, KeyPath>> deleted;
    LONG rc = WriteRegistry([&](Tree& tree, bool& changed) {
        Executor executor(tree, changed);
        for (const RootBlock& block : blocks) {
            if (bRegister) {
                if (LONG rc = executor.Register(block.root, {}, block.entries); rc != ERROR_SUCCESS)
                    return rc;
            } else {
                executor.Unregister(block.root, {}, block.entries);
            }
        }
        deleted = executor.Deleted();
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) {
        t_lastError = rc == ERROR_INVALID_PARAMETER
                          ? "a key or value name that the registry cannot hold"
                          : "the registry could not be changed (error " + std::to_string(rc) + ")";
        return HRESULT_FROM_WIN32(rc);
    }
    for (const auto& [root, path] : deleted)
        NoteKeyDeleted(root, path);
    return S_OK;
}

ReplacementMap MapOf(const WINPLAT_REGMAP_ENTRY* pMap, UINT nMap) {
    ReplacementMap map;
    for (UINT i = 0; pMap && i < nMap; ++i)
        if (pMap[i].szKey)
            map.emplace_back(pMap[i].szKey, pMap[i].szData ? pMap[i].szData : "");
    return map;
}

} // namespace

WINPLAT_API HRESULT WinplatRegistrarScriptRegister(LPCSTR szScript, BOOL bRegister,
                                                   const WINPLAT_REGMAP_ENTRY* pMap, UINT nMap) {
    if (!szScript)
        return E_INVALIDARG;
    return RunScript(szScript, bRegister != FALSE, MapOf(pMap, nMap));
}

WINPLAT_API HRESULT WinplatRegistrarResourceRegister(HMODULE hModule, UINT nResID, BOOL bRegister,
                                                     const WINPLAT_REGMAP_ENTRY* pMap, UINT nMap) {
    t_lastError.clear();
    HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(nResID), "REGISTRY");
    if (!hResource) {
        DWORD err = GetLastError();
        t_lastError = "no REGISTRY resource " + std::to_string(nResID) + " in the module";
        return HRESULT_FROM_WIN32(err ? err : ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    const void* pData = LockResource(LoadResource(hModule, hResource));
    DWORD cbData = SizeofResource(hModule, hResource);
    if (!pData)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    std::string_view script(static_cast<const char*>(pData), cbData);
    while (!script.empty() && script.back() == '\0')
        script.remove_suffix(1);

    std::string module = winplat::ModuleFileName(hModule);
    if (module.empty())
        return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_MOD_NOT_FOUND);
    ReplacementMap map = MapOf(pMap, nMap);
    map.emplace_back("MODULE", module); // the caller's own entries come first
    return RunScript(script, bRegister != FALSE, map);
}

WINPLAT_API DWORD WinplatGetRegistrarError(LPSTR lpBuffer, DWORD nSize) {
    if (lpBuffer && nSize > 0) {
        size_t n = std::min<size_t>(t_lastError.size(), nSize - 1);
        std::memcpy(lpBuffer, t_lastError.data(), n);
        lpBuffer[n] = '\0';
    }
    return static_cast<DWORD>(t_lastError.size());
}
