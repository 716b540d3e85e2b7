// winplat_rc: compiles a resource script into a C++ source.
//
// The accepted script is a subset of the Windows resource-script syntax:
//   STRINGTABLE BEGIN <id> "<text>" ... END
//   <id> ICON "<file>"              an icon group
//   <id> <TYPE> "<file>"            a file's bytes under a named type (REGISTRY, TYPELIB, ...)
//   <id> VERSIONINFO BEGIN VALUE "<name>", "<text>" ... END
//   <id> DIALOG[EX] x, y, cx, cy  STYLE ... EXSTYLE ... CAPTION "..." FONT n, "face"
//        BEGIN <control statements> END     (LTEXT, RTEXT, CTEXT, EDITTEXT, PUSHBUTTON,
//        DEFPUSHBUTTON, AUTOCHECKBOX, CHECKBOX, GROUPBOX, LISTBOX, COMBOBOX, CONTROL);
//        styles are the usual names joined by "|", with "NOT" to remove a default.
// Texts take C escapes (\n \t \\ \") and "" for a quote. Comments are // and /* */.
// Usage: winplat_rc <script.rc> <out.cpp> <out.d>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Resource {
    std::string type; // numeric "6" or a name
    bool typeIsNumber = false;
    unsigned id = 0;
    std::string data;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    std::cerr << where << ": error: " << what << "\n";
    std::exit(1);
}

class Lexer {
public:
    Lexer(std::string text, std::string file) : m_text(std::move(text)), m_file(std::move(file)) {}

    // Returns the next token; quoted strings come back with their quotes removed and
    // isString set. Empty at the end.
    std::string Next(bool* isString = nullptr) {
        SkipBlanks();
        if (isString)
            *isString = false;
        if (m_pos >= m_text.size())
            return {};
        char c = m_text[m_pos];
        if (c == '"') {
            if (isString)
                *isString = true;
            return ReadString();
        }
        if (c == ',' || c == '{' || c == '}' || c == '|') {
            ++m_pos;
            return std::string(1, c);
        }
        size_t start = m_pos;
        while (m_pos < m_text.size() && !std::isspace((unsigned char)m_text[m_pos]) &&
               m_text[m_pos] != ',' && m_text[m_pos] != '"' && m_text[m_pos] != '|')
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    std::string Where() const { return m_file + ":" + std::to_string(m_line); }

    // The next token, left where it is.
    std::string Peek() {
        size_t pos = m_pos;
        int line = m_line;
        std::string t = Next();
        m_pos = pos;
        m_line = line;
        return t;
    }

private:
    void SkipBlanks() {
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
            } else if (std::isspace((unsigned char)c)) {
                ++m_pos;
            } else if (m_text.compare(m_pos, 2, "//") == 0) {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n')
                    ++m_pos;
            } else if (m_text.compare(m_pos, 2, "/*") == 0) {
                size_t end = m_text.find("*/", m_pos + 2);
                if (end == std::string::npos)
                    Fail(Where(), "unterminated comment");
                for (size_t i = m_pos; i < end; ++i)
                    m_line += m_text[i] == '\n';
                m_pos = end + 2;
            } else {
                return;
            }
        }
    }

    std::string ReadString() {
        std::string out;
        ++m_pos; // opening quote
        for (;;) {
            if (m_pos >= m_text.size() || m_text[m_pos] == '\n')
                Fail(Where(), "unterminated string");
            char c = m_text[m_pos++];
            if (c == '"') {
                if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                    out += '"';
                    ++m_pos;
                    continue;
                }
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size())
                Fail(Where(), "unterminated string");
            char e = m_text[m_pos++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case '0':
                out += '\0';
                break;
            case 'x': {
                std::string hex;
                while (m_pos < m_text.size() && hex.size() < 2 &&
                       std::isxdigit((unsigned char)m_text[m_pos]))
                    hex += m_text[m_pos++];
                if (hex.empty())
                    Fail(Where(), "bad \\x escape");
                out += static_cast<char>(std::stoi(hex, nullptr, 16));
                break;
            }
            default:
                Fail(Where(), std::string("unknown escape \\") + e);
            }
        }
    }

    std::string m_text;
    std::string m_file;
    size_t m_pos = 0;
    int m_line = 1;
};

bool IsBegin(const std::string& t) {
    return t == "BEGIN" || t == "{";
}
bool IsEnd(const std::string& t) {
    return t == "END" || t == "}";
}

unsigned ParseId(const Lexer& lex, const std::string& token) {
    char* end = nullptr;
    unsigned long id = std::strtoul(token.c_str(), &end, 0);
    if (token.empty() || *end != '\0' || id > 0xFFFF)
        Fail(lex.Where(), "expected a numeric resource id, found '" + token + "'");
    return static_cast<unsigned>(id);
}

// Style names a script may use, with their values.
const std::map<std::string, uint32_t>& StyleNames() {
    static const std::map<std::string, uint32_t> names = {
        {"WS_OVERLAPPED", 0x00000000},
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_EX_DLGMODALFRAME", 0x00000001},
        {"WS_EX_TRANSPARENT", 0x00000020},
        {"WS_EX_TOOLWINDOW", 0x00000080},
        {"WS_EX_CLIENTEDGE", 0x00000200},
        {"WS_EX_CONTROLPARENT", 0x00010000},
        {"WS_EX_APPWINDOW", 0x00040000},
        {"DS_3DLOOK", 0x0004},
        {"DS_SETFONT", 0x0040},
        {"DS_MODALFRAME", 0x0080},
        {"DS_CONTROL", 0x0400},
        {"DS_CENTER", 0x0800},
        {"ES_LEFT", 0x0000},
        {"ES_MULTILINE", 0x0004},
        {"ES_PASSWORD", 0x0020},
        {"ES_AUTOVSCROLL", 0x0040},
        {"ES_AUTOHSCROLL", 0x0080},
        {"ES_READONLY", 0x0800},
        {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        {"BS_PUSHBUTTON", 0x0000},
        {"BS_DEFPUSHBUTTON", 0x0001},
        {"BS_CHECKBOX", 0x0002},
        {"BS_AUTOCHECKBOX", 0x0003},
        {"BS_GROUPBOX", 0x0007},
        {"SS_LEFT", 0x0000},
        {"SS_CENTER", 0x0001},
        {"SS_RIGHT", 0x0002},
        {"SS_NOPREFIX", 0x0080},
        {"LBS_NOTIFY", 0x0001},
        {"LBS_SORT", 0x0002},
        {"LBS_NOINTEGRALHEIGHT", 0x0100},
        {"CBS_SIMPLE", 0x0001},
        {"CBS_DROPDOWN", 0x0002},
        {"CBS_DROPDOWNLIST", 0x0003},
        {"CBS_AUTOHSCROLL", 0x0040},
        {"CBS_SORT", 0x0100},
        {"LVS_REPORT", 0x0001},
        {"LVS_SINGLESEL", 0x0004},
        {"LVS_SHOWSELALWAYS", 0x0008},
        {"LVS_SORTASCENDING", 0x0010},
        {"LVS_SORTDESCENDING", 0x0020},
        {"LVS_NOSORTHEADER", 0x8000},
        {"TBS_AUTOTICKS", 0x0001},
        {"TBS_VERT", 0x0002},
        {"TBS_HORZ", 0x0000},
        {"TBS_TOP", 0x0004},
        {"TBS_BOTTOM", 0x0000},
        {"TBS_BOTH", 0x0008},
        {"TBS_NOTICKS", 0x0010},
    };
    return names;
}

// Numbers and names that stand for control ids.
int ParseControlId(const Lexer& lex, const std::string& token) {
    if (token == "IDC_STATIC")
        return -1;
    static const std::map<std::string, int> ids = {
        {"IDOK", 1}, {"IDCANCEL", 2}, {"IDHELP", 9}, {"IDYES", 6}, {"IDNO", 7}};
    if (auto it = ids.find(token); it != ids.end())
        return it->second;
    char* end = nullptr;
    long id = std::strtol(token.c_str(), &end, 0);
    if (token.empty() || *end != '\0')
        Fail(lex.Where(), "expected a control id, found '" + token + "'");
    return static_cast<int>(id);
}

int ParseNumber(Lexer& lex) {
    std::string t = lex.Next();
    char* end = nullptr;
    long n = std::strtol(t.c_str(), &end, 0);
    if (t.empty() || *end != '\0' || n < -32768 || n > 32767)
        Fail(lex.Where(), "expected a number, found '" + t + "'");
    return static_cast<int>(n);
}

void ExpectComma(Lexer& lex) {
    if (lex.Next() != ",")
        Fail(lex.Where(), "expected ','");
}

// A style expression: names or numbers joined by "|", "NOT name" clearing a bit. The
// defaults come in as the starting value.
uint32_t ParseStyle(Lexer& lex, uint32_t value) {
    for (;;) {
        std::string t = lex.Next();
        bool clear = false;
        if (t == "NOT") {
            clear = true;
            t = lex.Next();
        }
        uint32_t bits = 0;
        if (auto it = StyleNames().find(t); it != StyleNames().end()) {
            bits = it->second;
        } else {
            char* end = nullptr;
            unsigned long n = std::strtoul(t.c_str(), &end, 0);
            if (t.empty() || *end != '\0')
                Fail(lex.Where(), "unknown style '" + t + "'");
            bits = static_cast<uint32_t>(n);
        }
        value = clear ? value & ~bits : value | bits;
        if (lex.Peek() != "|")
            return value;
        lex.Next();
    }
}

struct DialogControl {
    int id = 0;
    uint32_t style = 0, exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string className, text;
};

void Put16(std::string& out, int v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutText(std::string& out, const std::string& text) {
    if (text.size() > 0xFFFF)
        Fail("dialog", "text too long");
    Put16(out, static_cast<int>(text.size()));
    out += text;
}

// Reads a DIALOG or DIALOGEX statement after its id and keyword into the template form
// the platform's dialog manager reads.
std::string ParseDialog(Lexer& lex) {
    int x = ParseNumber(lex);
    ExpectComma(lex);
    int y = ParseNumber(lex);
    ExpectComma(lex);
    int cx = ParseNumber(lex);
    ExpectComma(lex);
    int cy = ParseNumber(lex);
    uint32_t style = 0x80000000 | 0x00C00000 | 0x00080000; // WS_POPUP | WS_CAPTION | WS_SYSMENU
    uint32_t exStyle = 0;
    std::string caption, font = "MS Sans Serif";
    int pointSize = 8;
    for (;;) {
        std::string t = lex.Next();
        if (t == "STYLE") {
            style = ParseStyle(lex, 0);
        } else if (t == "EXSTYLE") {
            exStyle = ParseStyle(lex, 0);
        } else if (t == "CAPTION") {
            bool isString = false;
            caption = lex.Next(&isString);
            if (!isString)
                Fail(lex.Where(), "CAPTION needs a quoted text");
        } else if (t == "FONT") {
            pointSize = ParseNumber(lex);
            ExpectComma(lex);
            bool isString = false;
            font = lex.Next(&isString);
            if (!isString)
                Fail(lex.Where(), "FONT needs a quoted face name");
            while (lex.Peek() == ",") { // weight, italic, charset
                lex.Next();
                lex.Next();
            }
        } else if (IsBegin(t)) {
            break;
        } else {
            Fail(lex.Where(), "unexpected '" + t + "' in a dialog header");
        }
    }

    std::vector<DialogControl> controls;
    for (std::string kw = lex.Next(); !IsEnd(kw); kw = lex.Next()) {
        if (kw.empty())
            Fail(lex.Where(), "dialog without END");
        DialogControl c;
        constexpr uint32_t kTab = 0x00010000, kGroup = 0x00020000, kBorder = 0x00800000;
        static const std::map<std::string, std::pair<std::string, uint32_t>> statements = {
            {"LTEXT", {"Static", 0x0000 | kGroup}},
            {"RTEXT", {"Static", 0x0002 | kGroup}},
            {"CTEXT", {"Static", 0x0001 | kGroup}},
            {"PUSHBUTTON", {"Button", 0x0000 | kTab}},
            {"DEFPUSHBUTTON", {"Button", 0x0001 | kTab}},
            {"CHECKBOX", {"Button", 0x0002 | kTab}},
            {"AUTOCHECKBOX", {"Button", 0x0003 | kTab}},
            {"GROUPBOX", {"Button", 0x0007}},
            {"EDITTEXT", {"Edit", kBorder | kTab}},
            {"LISTBOX", {"ListBox", 0x0001 | kBorder | kTab}},
            {"COMBOBOX", {"ComboBox", 0x0001 | kTab}},
            {"CONTROL", {"", 0}},
        };
        auto statement = statements.find(kw);
        if (statement == statements.end())
            Fail(lex.Where(), "unknown dialog control '" + kw + "'");
        bool hasText = kw != "EDITTEXT" && kw != "LISTBOX" && kw != "COMBOBOX";
        if (hasText) {
            bool isString = false;
            c.text = lex.Next(&isString);
            if (!isString)
                Fail(lex.Where(), kw + " needs a quoted text");
            ExpectComma(lex);
        }
        c.id = ParseControlId(lex, lex.Next());
        ExpectComma(lex);
        c.style = statement->second.second;
        if (kw == "CONTROL") {
            bool isString = false;
            c.className = lex.Next(&isString);
            if (!isString)
                Fail(lex.Where(), "CONTROL needs a quoted class name");
            ExpectComma(lex);
            c.style = ParseStyle(lex, 0);
            ExpectComma(lex);
        } else {
            c.className = statement->second.first;
        }
        c.x = ParseNumber(lex);
        ExpectComma(lex);
        c.y = ParseNumber(lex);
        ExpectComma(lex);
        c.cx = ParseNumber(lex);
        ExpectComma(lex);
        c.cy = ParseNumber(lex);
        if (lex.Peek() == ",") {
            lex.Next();
            if (kw == "CONTROL")
                c.exStyle = ParseStyle(lex, 0);
            else
                c.style = ParseStyle(lex, c.style);
            if (lex.Peek() == ",") {
                lex.Next();
                c.exStyle = ParseStyle(lex, 0);
            }
        }
        c.style |= 0x40000000 | 0x10000000; // WS_CHILD | WS_VISIBLE
        controls.push_back(c);
    }
    if (controls.size() > 0xFFFF)
        Fail(lex.Where(), "too many controls");

    std::string out = "DLGT";
    Put32(out, style);
    Put32(out, exStyle);
    for (int v : {x, y, cx, cy})
        Put16(out, v);
    Put16(out, pointSize);
    Put16(out, static_cast<int>(controls.size()));
    PutText(out, font);
    PutText(out, caption);
    for (const DialogControl& c : controls) {
        Put32(out, static_cast<uint32_t>(c.id));
        Put32(out, c.style);
        Put32(out, c.exStyle);
        for (int v : {c.x, c.y, c.cx, c.cy})
            Put16(out, v);
        PutText(out, c.className);
        PutText(out, c.text);
    }
    return out;
}

std::string ReadWhole(const fs::path& path, const std::string& where) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(where, "cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string CArray(const std::string& bytes) {
    std::ostringstream out;
    out << "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0)
            out << "\n    ";
        out << static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << ",";
    }
    out << "0}"; // every blob ends in a NUL so that texts can be used in place
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: winplat_rc SCRIPT.rc OUT.cpp OUT.d\n";
        return 2;
    }
    fs::path script = argv[1];
    Lexer lex(ReadWhole(script, argv[1]), script.string());
    std::vector<Resource> resources;
    std::vector<std::string> inputs{script.string()};

    for (std::string tok = lex.Next(); !tok.empty(); tok = lex.Next()) {
        if (tok == "STRINGTABLE") {
            if (!IsBegin(lex.Next()))
                Fail(lex.Where(), "STRINGTABLE needs BEGIN");
            for (std::string t = lex.Next(); !IsEnd(t); t = lex.Next()) {
                if (t.empty())
                    Fail(lex.Where(), "STRINGTABLE without END");
                Resource r{"6", true, ParseId(lex, t), {}};
                std::string comma_or_text;
                bool isString = false;
                comma_or_text = lex.Next(&isString);
                if (!isString && comma_or_text == ",")
                    comma_or_text = lex.Next(&isString);
                if (!isString)
                    Fail(lex.Where(), "expected a quoted string");
                r.data = comma_or_text;
                resources.push_back(r);
            }
            continue;
        }
        unsigned id = ParseId(lex, tok);
        std::string type = lex.Next();
        if (type == "DIALOG" || type == "DIALOGEX") {
            resources.push_back(Resource{"5", true, id, ParseDialog(lex)});
            continue;
        }
        if (type == "VERSIONINFO") {
            // Kept as "Name=Text" lines; VerQueryValue-style lookups read them.
            Resource r{"16", true, id, {}};
            std::string t;
            while (!IsBegin(t = lex.Next()))
                if (t.empty())
                    Fail(lex.Where(), "VERSIONINFO needs BEGIN");
            int depth = 1;
            while (depth > 0) {
                t = lex.Next();
                if (t.empty())
                    Fail(lex.Where(), "VERSIONINFO without END");
                if (IsBegin(t))
                    ++depth;
                else if (IsEnd(t))
                    --depth;
                else if (t == "VALUE") {
                    bool isString = false;
                    std::string name = lex.Next(&isString);
                    if (!isString || lex.Next() != ",")
                        Fail(lex.Where(), "VALUE needs \"name\", \"text\"");
                    std::string value = lex.Next(&isString);
                    if (!isString)
                        Fail(lex.Where(), "VALUE needs \"name\", \"text\"");
                    r.data += name + "=" + value + "\n";
                }
            }
            resources.push_back(r);
            continue;
        }
        bool isString = false;
        std::string file = lex.Next(&isString);
        if (!isString)
            Fail(lex.Where(), "expected a quoted file name after " + type);
        fs::path path = script.parent_path() / file;
        inputs.push_back(fs::absolute(path).string());
        Resource r;
        r.id = id;
        if (type == "ICON") {
            r.type = "14"; // the icon group a module's icon is loaded by
            r.typeIsNumber = true;
        } else {
            r.type = type;
        }
        r.data = ReadWhole(path, lex.Where());
        resources.push_back(r);
    }

    std::ostringstream out;
    out << "// Generated by winplat_rc from " << script.filename().string()
        << ". Do not edit.\n#include <winplat/resource.h>\n\nnamespace {\n";
    for (size_t i = 0; i < resources.size(); ++i)
        out << "const unsigned char kData" << i << "[] = " << CArray(resources[i].data) << ";\n";
    out << "const WINPLAT_RESOURCE kEntries[] = {\n";
    for (size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        std::string type =
            r.typeIsNumber ? "MAKEINTRESOURCEA(" + r.type + ")" : "\"" + r.type + "\"";
        out << "    {" << type << ", MAKEINTRESOURCEA(" << r.id << "), kData" << i << ", "
            << r.data.size() << "},\n";
    }
    if (resources.empty())
        out << "    {nullptr, nullptr, nullptr, 0},\n";
    out << "};\nconst WINPLAT_RESOURCE_DIRECTORY kDirectory = {kEntries, " << resources.size()
        << "};\n"
        << "struct Attachment {\n"
        << "    Attachment() { WinplatAttachResources(&kDirectory); }\n"
        << "    ~Attachment() { WinplatDetachResources(&kDirectory); }\n"
        << "} const kAttachment;\n} // namespace\n";

    std::ofstream cpp(argv[2], std::ios::binary | std::ios::trunc);
    cpp << out.str();
    std::ofstream dep(argv[3], std::ios::binary | std::ios::trunc);
    dep << argv[2] << ":";
    for (const std::string& input : inputs)
        dep << " " << input;
    dep << "\n";
    return cpp && dep ? 0 : 1;
}
