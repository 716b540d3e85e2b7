// The registry file parser on arbitrary bytes: it must accept or reject anything without
// harm, and the text the registry writes back for a file it accepted must read back the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../platform/registry/registry_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string canonical, again, error;
    if (!WinplatCanonicalRegistryText(reinterpret_cast<const char*>(data), size, &canonical,
                                      &error))
        return 0;
    if (!WinplatCanonicalRegistryText(canonical.data(), canonical.size(), &again, &error) ||
        again != canonical)
        __builtin_trap();
    return 0;
}
