// Private profile files of arbitrary bytes: reading any section and key must stay inside
// the buffer, and a value written into such a file must read back as written while every
// section that was there stays readable.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>

#include <winplat/winbase.h>

namespace {

std::string TempProfile() {
    char path[] = "/tmp/fuzz_private_profile_XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        close(fd);
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = TempProfile();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    // The first line names what to look up: "section\tkey".
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string first = text.substr(0, text.find('\n'));
    std::string section = first.substr(0, first.find('\t'));
    std::string key =
        first.find('\t') == std::string::npos ? "k" : first.substr(first.find('\t') + 1);
    section.erase(std::find(section.begin(), section.end(), '\0'), section.end());
    key.erase(std::find(key.begin(), key.end(), '\0'), key.end());

    char small[8];
    std::memset(small, '#', sizeof small);
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "d", small, 5, path.c_str());
    if (n > 4 || small[n] != '\0' || small[5] != '#')
        __builtin_trap();
    char list[64];
    n = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, path.c_str());
    if (n > sizeof list - 1 || list[n] != '\0')
        __builtin_trap();

    char before[4096];
    DWORD sections =
        GetPrivateProfileStringA(nullptr, nullptr, "", before, sizeof before, path.c_str());
    if (WritePrivateProfileStringA("Fuzz Section", "Value", "100% & <b> \xE9", path.c_str())) {
        char value[64];
        GetPrivateProfileStringA("fuzz section", "VALUE", "", value, sizeof value, path.c_str());
        if (std::strcmp(value, "100% & <b> \xE9") != 0)
            __builtin_trap();
        char after[4096];
        DWORD now =
            GetPrivateProfileStringA(nullptr, nullptr, "", after, sizeof after, path.c_str());
        // Every section that was there is still there, in the same order.
        if (sections < sizeof before - 2 && now < sizeof after - 2 &&
            (now < sections || std::memcmp(before, after, sections) != 0))
            __builtin_trap();
    }
    return 0;
}
