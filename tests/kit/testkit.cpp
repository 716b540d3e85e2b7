#include "testkit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <winplat/winreg.h>

namespace fs = std::filesystem;

namespace testkit {

fs::path BuildDir() { return SENTREL_BUILD_DIR; }
fs::path SourceDir() { return SENTREL_SOURCE_DIR; }
fs::path PluginPath(const std::string& name) { return BuildDir() / "plugins" / (name + ".so"); }
fs::path HostPath() { return BuildDir() / "bin" / "sentrel"; }

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "sentrel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string TempDir::ZPath() const { return testkit::ZPath(m_path); }

std::string ZPath(const fs::path& posix) {
    std::string text = "Z:" + posix.string();
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

ScopedRegistry::ScopedRegistry() : m_file(m_dir / "registry.reg") {
    WinplatSetRegistryPath(m_file.c_str());
}

ScopedRegistry::~ScopedRegistry() { WinplatSetRegistryPath(nullptr); }

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult RunCommand(const std::string& commandLine) {
    TempDir dir;
    std::string full = "( " + commandLine + " ) >" + ShellQuote((dir / "out").string()) + " 2>" +
                       ShellQuote((dir / "err").string()) + " </dev/null";
    CommandResult result;
    int raw = std::system(full.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir / "out");
    result.err = ReadFile(dir / "err");
    return result;
}

std::string ParamName(size_t index, const std::string& text) {
    std::string name;
    for (char c : text) {
        if (name.size() >= 40)
            break;
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    if (!name.empty() && name.back() != '_')
        name += '_';
    return name + std::to_string(index);
}

} // namespace testkit
