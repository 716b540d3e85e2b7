// The registry file: regedit's version 5 export syntax, in UTF-8.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Calvaro]
//   @="default value"
//   "Name"="text with \\ and \" escaped"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,ff
//   "Other"=hex(2):25,00,00,00        REG_EXPAND_SZ; hex(7) REG_MULTI_SZ, hex(b) qword
//
// A text value that is not plain printable ASCII with one terminating zero is written as
// hex(1) with its UTF-16LE bytes, so that every value survives the round trip exactly.

#include <cstdio>

#include "registry_internal.h"
#include "tree.h"

namespace winplat::registry {

namespace {

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        if (c != prefix[i])
            return false;
    }
    return true;
}

// 1 to 8 hex digits, nothing else.
bool ParseHex32(std::string_view s, DWORD& out) {
    if (s.empty() || s.size() > 8)
        return false;
    out = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0)
            return false;
        out = (out << 4) | static_cast<DWORD>(d);
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view text, Tree& tree, ParseError& error)
        : m_text(text), m_tree(tree), m_error(error) {}

    bool Run() {
        m_tree = Tree{};
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_text.remove_prefix(3);
        std::string_view line;
        if (!NextLine(line) || line != kRegistryHeader) {
            m_line = 1;
            return Fail(std::string("not a registry file: the first line must be \"") +
                        kRegistryHeader + "\"");
        }
        while (NextLine(line)) {
            line = Trim(line);
            if (line.empty() || line.front() == ';')
                continue;
            if (line.front() == '[') {
                if (!Section(line))
                    return false;
            } else if (!ValueLine(line)) {
                return false;
            }
        }
        return true;
    }

private:
    bool NextLine(std::string_view& line) {
        if (m_pos >= m_text.size())
            return false;
        size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++m_line;
        return true;
    }

    bool Fail(std::string what) {
        m_error.line = m_line;
        m_error.what = std::move(what);
        return false;
    }

    bool Section(std::string_view line) {
        if (line.back() != ']' || line.size() < 2)
            return Fail("a key line must end with \"]\"");
        std::string_view inner = line.substr(1, line.size() - 2);
        bool remove = !inner.empty() && inner.front() == '-';
        if (remove)
            inner.remove_prefix(1);
        std::vector<std::string_view> parts;
        for (size_t start = 0;;) {
            size_t slash = inner.find('\\', start);
            parts.push_back(inner.substr(
                start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
            if (slash == std::string_view::npos)
                break;
            start = slash + 1;
        }
        int root = -1;
        for (int r = 0; r < kRootCount; ++r)
            if (FoldEqual(parts[0], kRootNames[r]))
                root = r;
        if (root < 0)
            return Fail("unknown root key \"" + std::string(parts[0].substr(0, 40)) + "\"");
        if (parts.size() - 1 > kMaxKeyDepth)
            return Fail("keys nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
        // Sections come mostly in tree order: start below the part shared with the last one.
        size_t shared = 0;
        if (!remove && root == m_lastRoot)
            while (shared < m_lastPath.size() && shared + 1 < parts.size() &&
                   m_lastPath[shared].first == parts[shared + 1])
                ++shared;
        for (size_t i = shared + 1; i < parts.size(); ++i)
            if (!IsValidKeyName(parts[i]))
                return Fail(parts[i].empty() ? "empty key name"
                                             : "invalid key name (control character, bad UTF-8 "
                                               "or longer than 255 characters)");
        Key* key = &m_tree.roots[root];
        if (remove) {
            m_lastRoot = -1; // the keys remembered may be gone
            m_lastPath.clear();
            if (parts.size() == 1)
                return Fail("a root key cannot be deleted");
            for (size_t i = 1; key && i + 1 < parts.size(); ++i)
                key = key->FindSubkey(parts[i]);
            if (key) {
                auto it = key->subkeys.find(parts.back());
                if (it != key->subkeys.end())
                    key->subkeys.erase(it);
            }
            m_current = nullptr;
            m_afterDelete = true;
            return true;
        }
        if (shared > 0)
            key = m_lastPath[shared - 1].second;
        m_lastRoot = root;
        m_lastPath.resize(shared);
        for (size_t i = shared + 1; i < parts.size(); ++i) {
            auto& slot = key->subkeys[std::string(parts[i])];
            if (!slot)
                slot = std::make_unique<Key>();
            key = slot.get();
            m_lastPath.emplace_back(parts[i], key);
        }
        m_current = key;
        m_afterDelete = false;
        return true;
    }

    // A quoted text at s[pos] with \\ and \" escapes; pos ends after the closing quote.
    bool Quoted(std::string_view s, size_t& pos, std::string& out) {
        out.clear();
        ++pos;
        while (pos < s.size()) {
            char c = s[pos++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (pos >= s.size() || (s[pos] != '\\' && s[pos] != '"'))
                    return Fail("a backslash in quotes must be written \\\\ (or \\\" for a quote)");
                c = s[pos++];
            }
            out.push_back(c);
        }
        return Fail("missing closing quote");
    }

    bool ValueLine(std::string_view line) {
        if (m_afterDelete)
            return Fail("values cannot follow a key deletion");
        if (!m_current)
            return Fail("a value outside of a key section");
        std::string name;
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() == '"') {
            if (!Quoted(line, pos, name))
                return false;
            if (!IsValidValueName(name))
                return Fail("invalid value name (control character, bad UTF-8 or longer than "
                            "16383 characters)");
        } else {
            return Fail("a value line must start with \"name\" or @");
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=')
            return Fail("expected \"=\" after the value name");
        rest = TrimLeft(rest.substr(1));
        if (rest == "-") {
            m_current->DeleteValue(name);
            return true;
        }
        if (!rest.empty() && rest.front() == '"')
            return StringData(name, rest);
        if (StartsWithNoCase(rest, "dword:")) {
            DWORD v;
            if (!ParseHex32(rest.substr(6), v))
                return Fail("dword: takes 1 to 8 hex digits");
            m_current->SetValue(name, REG_DWORD,
                                {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)});
            return true;
        }
        if (StartsWithNoCase(rest, "hex"))
            return HexData(name, rest.substr(3));
        return Fail("unrecognised value data (expected \"text\", dword:, hex: or -)");
    }

    bool StringData(const std::string& name, std::string_view rest) {
        size_t pos = 0;
        std::string text;
        if (!Quoted(rest, pos, text))
            return false;
        if (!Trim(rest.substr(pos)).empty())
            return Fail("unexpected text after the closing quote");
        std::u16string wide;
        if (!Utf8ToUtf16(text, wide))
            return Fail("text is not valid UTF-8");
        for (char16_t c : wide)
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                return Fail("control character in text (write it as hex(1):)");
        m_current->SetValue(name, REG_SZ, Utf16Bytes(wide, true));
        return true;
    }

    bool HexData(const std::string& name, std::string_view rest) {
        DWORD type = REG_BINARY;
        if (!rest.empty() && rest.front() == '(') {
            size_t close = rest.find(')');
            if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), type))
                return Fail("hex(N): takes a type of 1 to 8 hex digits");
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':')
            return Fail("expected \":\" after hex");
        std::string bytes(Trim(rest.substr(1)));
        // A trailing backslash continues the list on the next line.
        while (!bytes.empty() && bytes.back() == '\\') {
            bytes.pop_back();
            std::string_view next;
            if (!NextLine(next))
                return Fail("the value continues past the end of the file");
            bytes = std::string(Trim(bytes)) + std::string(Trim(next));
        }
        std::vector<BYTE> data;
        std::string_view list = Trim(bytes);
        if (!list.empty()) {
            for (size_t start = 0;;) {
                size_t comma = list.find(',', start);
                std::string_view item =
                    Trim(list.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                            : comma - start));
                DWORD b;
                if (item.size() > 2 || !ParseHex32(item, b))
                    return Fail("hex data must be bytes of 1 or 2 hex digits separated by "
                                "commas");
                data.push_back(static_cast<BYTE>(b));
                if (comma == std::string_view::npos)
                    break;
                start = comma + 1;
            }
        }
        m_current->SetValue(name, type, std::move(data));
        return true;
    }

    std::string_view m_text;
    Tree& m_tree;
    ParseError& m_error;
    size_t m_pos = 0;
    size_t m_line = 0;
    Key* m_current = nullptr;
    bool m_afterDelete = false;
    int m_lastRoot = -1;
    std::vector<std::pair<std::string_view, Key*>> m_lastPath; // the last section's keys
};

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// Printable ASCII with exactly one terminating zero: the form "..." gives back unchanged.
bool IsPlainText(const Value& v) {
    if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0)
        return false;
    size_t units = v.data.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        unsigned c = v.data[2 * i] | (v.data[2 * i + 1] << 8);
        if (i + 1 == units)
            return c == 0;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return false;
}

void AppendValue(std::string& out, const Value& v) {
    size_t lineStart = out.size();
    if (v.name.empty())
        out.push_back('@');
    else
        AppendQuoted(out, v.name);
    out.push_back('=');
    char buf[32];
    if (IsPlainText(v)) {
        std::string text;
        for (size_t i = 0; i + 2 < v.data.size(); i += 2)
            text.push_back(static_cast<char>(v.data[i]));
        AppendQuoted(out, text);
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (DWORD(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        out += buf;
    } else {
        if (v.type == REG_BINARY)
            out += "hex:";
        else {
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            out += buf;
        }
        // Lines of at most 80 columns, continued with a backslash as regedit does.
        size_t column = out.size() - lineStart;
        for (size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, i + 1 < v.data.size() ? "%02x," : "%02x", v.data[i]);
            if (column + 3 > 77 && column > 2) {
                out += "\\\n  ";
                column = 2;
            }
            out += buf;
            column += std::char_traits<char>::length(buf);
        }
    }
    out.push_back('\n');
}

void AppendKey(std::string& out, std::string& path, const Key& key, bool writeSection) {
    if (writeSection) {
        out += '[';
        out += path;
        out += "]\n";
        for (const Value& v : key.values)
            AppendValue(out, v);
        out += '\n';
    }
    for (const auto& [name, sub] : key.subkeys) {
        size_t mark = path.size();
        path += '\\';
        path += name;
        AppendKey(out, path, *sub, true);
        path.resize(mark);
    }
}

} // namespace

bool ParseRegistryText(std::string_view text, Tree& tree, ParseError& error) {
    return Parser(text, tree, error).Run();
}

std::string FormatRegistryText(const Tree& tree) {
    std::string out = kRegistryHeader;
    out += "\n\n";
    for (int r = 0; r < kRootCount; ++r) {
        std::string path = kRootNames[r];
        AppendKey(out, path, tree.roots[r], !tree.roots[r].values.empty());
    }
    return out;
}

} // namespace winplat::registry

WINPLAT_API BOOL WinplatCanonicalRegistryText(const char* pText, size_t cbText,
                                              std::string* pCanonical, std::string* pError) {
    using namespace winplat::registry;
    Tree tree;
    ParseError error;
    if (!ParseRegistryText(std::string_view(pText, cbText), tree, error)) {
        if (pError)
            *pError = std::to_string(error.line) + ": " + error.what;
        return FALSE;
    }
    if (pCanonical)
        *pCanonical = FormatRegistryText(tree);
    return TRUE;
}
