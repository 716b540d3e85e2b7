// The profile document on arbitrary bytes: Load must accept anything, and what it read
// must come back unchanged from Save and a second Load wherever the format can hold it.
// The first byte picks the code page (odd: 932), the rest is the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

#include "profile_document.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using Contents = std::vector<std::pair<std::string, Entries>>;

Contents ContentsOf(const CProfileDocument& doc) {
    Contents contents;
    for (const auto& [lower, section] : doc.Sections()) {
        if (section->keys.size() != section->values.size())
            __builtin_trap();
        Entries entries;
        for (size_t i = 0; i < section->keys.size(); ++i)
            entries.emplace_back(section->keys[i], section->values[i]);
        contents.emplace_back(section->name, std::move(entries));
    }
    return contents;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A line, with its line feed, must fit one read of 2047 bytes.
constexpr size_t kLongestLine = 2047;

// True when the name ends in a lead byte with nothing after it to pair with.
bool EndsInLoneLeadByte(const std::string& text) {
    const char* p = text.c_str();
    const char* last = nullptr;
    for (; *p; p = CharNextA(p))
        last = p;
    return last && IsDBCSLeadByte(static_cast<BYTE>(*last)) && last[1] == '\0';
}

// Whether Save writes the document in lines that Load reads back as the same entries.
bool Representable(const Contents& contents) {
    for (const auto& [name, entries] : contents) {
        if (name.empty() || name.size() + 3 > kLongestLine || EndsInLoneLeadByte(name))
            return false;
        for (const auto& [key, value] : entries) {
            if (key.size() + value.size() + 2 > kLongestLine)
                return false;
            if (!key.empty() && (key[0] == ';' || key[0] == '[' || IsBlank(key[0])))
                return false;
            if (key.empty() && !value.empty())
                return false;
            if (!value.empty() && value.back() == '\r')
                return false;
        }
    }
    return true;
}

// Every save is flushed to disk; a memory file system keeps that from setting the pace.
std::string Folder() {
    char pattern[] = "/dev/shm/fuzz-profile-XXXXXX";
    char fallback[] = "/tmp/fuzz-profile-XXXXXX";
    char* made = mkdtemp(pattern);
    if (!made)
        made = mkdtemp(fallback);
    if (!made)
        std::abort();
    static std::string posix = made;
    std::atexit([] { std::filesystem::remove_all(posix); });
    char platform[MAX_PATH];
    if (!WinplatFromPosixPath(made, platform, sizeof platform))
        std::abort();
    return platform;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = Folder();
    static const std::string input = folder + "\\input";
    static const std::string saved = folder + "\\saved";
    if (size == 0)
        return 0;
    WinplatSetACP(data[0] & 1 ? 932 : 1252);

    FILE* file = _fsopen(input.c_str(), "wb", _SH_DENYNO);
    if (!file)
        std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    CProfileDocument first;
    int result = first.Load(input.c_str());
    Contents read = ContentsOf(first);
    if (result != (read.empty() ? 2 : 0))
        __builtin_trap();

    // A document is saved exactly when Load would give all of it back; else nothing is
    // written.
    if (first.Save(saved.c_str()) != (first.FindUnreadable().kind == CProfileProblem::NONE))
        __builtin_trap();
    if (first.FindUnreadable().kind != CProfileProblem::NONE)
        return 0;
    CProfileDocument second;
    int again = second.Load(saved.c_str());
    Contents reread = ContentsOf(second);
    if (again != (reread.empty() ? 2 : 0))
        __builtin_trap();
    if (Representable(read) && reread != read)
        __builtin_trap();

    // What the first save made of the rest comes back the same from a second round.
    if (second.Save(saved.c_str()) != (second.FindUnreadable().kind == CProfileProblem::NONE))
        __builtin_trap();
    if (second.FindUnreadable().kind != CProfileProblem::NONE)
        return 0;
    CProfileDocument third;
    third.Load(saved.c_str());
    if (Representable(reread) && ContentsOf(third) != reread)
        __builtin_trap();
    return 0;
}
