// _splitpath: drive, folder, file name and extension of a platform path.
#include <cstring>
#include <string_view>

#include <winplat/crt.h>

#include "codepage/codepage_internal.h"

namespace {

// Copies part into out (room for max bytes with the terminator), cut at a character
// boundary when it does not fit.
void CopyPart(std::string_view part, char* out, size_t max, bool dbcs) {
    if (!out)
        return;
    size_t n = 0;
    while (n < part.size()) {
        size_t len = dbcs && winplat::codepage::IsLead932(static_cast<unsigned char>(part[n])) &&
                             n + 1 < part.size()
                         ? 2
                         : 1;
        if (n + len > max - 1)
            break;
        n += len;
    }
    if (n > 0) // an empty part may have no data at all
        std::memcpy(out, part.data(), n);
    out[n] = '\0';
}

} // namespace

WINPLAT_API void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    std::string_view rest = path ? std::string_view(path) : std::string_view();
    const bool dbcs = winplat::codepage::Current() == 932;

    std::string_view drivePart;
    if (rest.size() >= 2 && rest[1] == ':') {
        drivePart = rest.substr(0, 2);
        rest.remove_prefix(2);
    }
    size_t afterSeparator = 0; // start of the last component
    size_t lastDot = std::string_view::npos;
    for (size_t i = 0; i < rest.size();) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (dbcs && winplat::codepage::IsLead932(c) && i + 1 < rest.size()) {
            i += 2;
            continue;
        }
        if (c == '\\' || c == '/') {
            afterSeparator = i + 1;
            lastDot = std::string_view::npos;
        } else if (c == '.') {
            lastDot = i;
        }
        ++i;
    }
    std::string_view dirPart = rest.substr(0, afterSeparator);
    std::string_view last = rest.substr(afterSeparator);
    std::string_view namePart = last, extPart;
    if (lastDot != std::string_view::npos) {
        namePart = rest.substr(afterSeparator, lastDot - afterSeparator);
        extPart = rest.substr(lastDot);
    }
    CopyPart(drivePart, drive, _MAX_DRIVE, dbcs);
    CopyPart(dirPart, dir, _MAX_DIR, dbcs);
    CopyPart(namePart, fname, _MAX_FNAME, dbcs);
    CopyPart(extPart, ext, _MAX_EXT, dbcs);
}
