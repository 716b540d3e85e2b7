// winplat_rc: compiles a resource script into a C++ source.
//
// The accepted script is a subset of the Windows resource-script syntax:
//   STRINGTABLE BEGIN <id> "<text>" ... END
//   <id> ICON "<file>"              an icon group
//   <id> <TYPE> "<file>"            a file's bytes under a named type (REGISTRY, TYPELIB, ...)
//   <id> VERSIONINFO BEGIN VALUE "<name>", "<text>" ... END
// Texts take C escapes (\n \t \\ \") and "" for a quote. Comments are // and /* */.
// Usage: winplat_rc <script.rc> <out.cpp> <out.d>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
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
        if (c == ',' || c == '{' || c == '}') {
            ++m_pos;
            return std::string(1, c);
        }
        size_t start = m_pos;
        while (m_pos < m_text.size() && !std::isspace((unsigned char)m_text[m_pos]) &&
               m_text[m_pos] != ',' && m_text[m_pos] != '"')
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    std::string Where() const { return m_file + ":" + std::to_string(m_line); }

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
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case '0': out += '\0'; break;
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
            default: Fail(Where(), std::string("unknown escape \\") + e);
            }
        }
    }

    std::string m_text;
    std::string m_file;
    size_t m_pos = 0;
    int m_line = 1;
};

bool IsBegin(const std::string& t) { return t == "BEGIN" || t == "{"; }
bool IsEnd(const std::string& t) { return t == "END" || t == "}"; }

unsigned ParseId(const Lexer& lex, const std::string& token) {
    char* end = nullptr;
    unsigned long id = std::strtoul(token.c_str(), &end, 0);
    if (token.empty() || *end != '\0' || id > 0xFFFF)
        Fail(lex.Where(), "expected a numeric resource id, found '" + token + "'");
    return static_cast<unsigned>(id);
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
        std::string type = r.typeIsNumber ? "MAKEINTRESOURCEA(" + r.type + ")" : "\"" + r.type + "\"";
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
