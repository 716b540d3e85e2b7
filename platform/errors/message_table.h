#pragma once

#include <winplat/windef.h>

namespace winplat {
// The system's text for an error code, or null when the table has none.
const char* SystemMessageText(DWORD code);
} // namespace winplat
