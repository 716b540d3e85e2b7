// Entry points into the registry's parsers for the fuzz targets and tests; modules do
// not use them.
#pragma once

#include <cstddef>
#include <string>

#include <winplat/windef.h>

// Parses the text of a registry file. On success stores the text the registry would write
// back for it and returns TRUE; otherwise stores "LINE: what" in *pError.
WINPLAT_API BOOL WinplatCanonicalRegistryText(const char* pText, size_t cbText,
                                              std::string* pCanonical, std::string* pError);
