// Fixtures shared by the test suites.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testkit {

// The build and source trees, for tests that run the built programs.
std::filesystem::path BuildDir();
std::filesystem::path SourceDir();
std::filesystem::path PluginPath(const std::string& name); // build/plugins/<name>.so
std::filesystem::path HostPath();                          // build/bin/sentrel

// A fresh directory under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    // The directory in the platform's Z:\ form.
    std::string ZPath() const;

private:
    std::filesystem::path m_path;
};

// The platform (Z:\...) form of an absolute POSIX path.
std::string ZPath(const std::filesystem::path& posix);

std::string ReadFile(const std::filesystem::path& path);
// The names in a directory, sorted.
std::vector<std::string> Listing(const std::filesystem::path& dir);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Points the platform at a registry file of its own for the life of the object.
class ScopedRegistry {
public:
    ScopedRegistry();
    ~ScopedRegistry();
    const std::filesystem::path& path() const { return m_file; }

private:
    TempDir m_dir;
    std::filesystem::path m_file;
};

// Runs a command line through the shell; returns the exit status and captures the output.
struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};
CommandResult RunCommand(const std::string& commandLine);
// Single-quotes a word for the shell.
std::string ShellQuote(const std::string& word);

// A readable, unique name for the index-th case of a parameterised test: the letters and
// digits of text, each run of anything else as one "_", cut near 40 characters, then the
// index (gtest names take only letters, digits and "_").
std::string ParamName(size_t index, const std::string& text);

} // namespace testkit
