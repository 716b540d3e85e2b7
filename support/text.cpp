#include "text.h"

#include <winplat/comptr.h>
#include <winplat/winnls.h>

namespace sentrel {

std::string AnsiFromWide(const OLECHAR* pText, size_t cch) {
    if (!pText || cch == 0)
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, pText, static_cast<int>(cch), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, pText, static_cast<int>(cch), out.data(), n, nullptr,
                            nullptr);
    return out;
}

std::string AnsiFromBstr(BSTR bstr) { return AnsiFromWide(bstr, SysStringLen(bstr)); }

BSTR BstrFromAnsi(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (bstr && n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bstr, n);
    return bstr;
}

void WriteLogText(ISentrelNotifyHost* pHost, const std::string& text) {
    if (!pHost)
        return;
    winplat::Bstr bstr = winplat::Bstr::Adopt(BstrFromAnsi(text));
    pHost->WriteLog(1, bstr.Get());
}

} // namespace sentrel
