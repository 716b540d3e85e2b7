// Text at the interface boundary: BSTRs are UTF-16, the plug-ins work in the ANSI
// code page.
#pragma once

#include <string>

#include <sentrel/notification.h>
#include <winplat/objbase.h>

namespace sentrel {

// The BSTR's text in the ANSI code page (a null BSTR is empty).
std::string AnsiFromBstr(BSTR bstr);
std::string AnsiFromWide(const OLECHAR* pText, size_t cch);
// A newly allocated BSTR holding the ANSI text; the caller owns it.
BSTR BstrFromAnsi(const std::string& text);
// One WriteLog call at level 1 with the ANSI text; nothing when pHost is null.
void WriteLogText(ISentrelNotifyHost* pHost, const std::string& text);

} // namespace sentrel
