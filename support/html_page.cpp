#include "html_page.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <winplat/crt.h>
#include <winplat/winnls.h>

#include "text.h"

namespace {

// The value from `at` up to the first of the stop bytes, "+" read as a blank.
std::string CollectValue(std::string_view form, size_t at, bool bStopAtLineEnd) {
    std::string value;
    for (; at < form.size(); ++at) {
        char c = form[at];
        if (c == '\0' || c == '&' || (bStopAtLineEnd && (c == '\r' || c == '\n')))
            break;
        value += c == '+' ? ' ' : c;
    }
    return value;
}

// The form as the plug-in sees it: up to its first NUL.
std::string_view UpToNul(std::string_view text) {
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

} // namespace

// The key "name=" counts only at the start of the form or right after "&", so neither a
// longer name ending in the same letters nor text inside another field's value is taken
// for the field.
size_t FindFormFieldValue(std::string_view form, const char* pszName) {
    std::string_view name(pszName ? pszName : "");
    for (size_t at = 0; at < form.size();) {
        if (form.compare(at, name.size(), name) == 0 && at + name.size() < form.size() &&
            form[at + name.size()] == '=')
            return at + name.size() + 1;
        size_t amp = form.find('&', at);
        if (amp == std::string_view::npos)
            break;
        at = amp + 1;
    }
    return std::string_view::npos;
}

std::string HtmlEscape(std::string_view text) {
    text = UpToNul(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string GetFormField(std::string_view form, const char* pszName, const char* pszDefault) {
    form = UpToNul(form);
    size_t at = form.empty() ? std::string_view::npos : FindFormFieldValue(form, pszName);
    if (at == std::string_view::npos)
        return pszDefault ? pszDefault : "";
    return CollectValue(form, at, true);
}

int GetFormIntField(std::string_view form, const char* pszName, int nDefault) {
    form = UpToNul(form);
    size_t at = form.empty() ? std::string_view::npos : FindFormFieldValue(form, pszName);
    if (at == std::string_view::npos)
        return nDefault;
    std::string text = CollectValue(form, at, false);
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(value);
}

CHtmlPage::CHtmlPage() {
    m_text.reserve(4096);
}

void CHtmlPage::Append(std::string_view text) {
    m_text.append(text);
}

void CHtmlPage::AppendFormat(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list again;
    va_copy(again, args);
    size_t old = m_text.size();
    size_t room = std::max<size_t>(m_text.capacity() - old, 256);
    m_text.resize(old + room);
    // vsnprintf's terminating NUL lands on the string's own terminator at most.
    int n = std::vsnprintf(m_text.data() + old, room + 1, pszFormat, args);
    if (n < 0) {
        m_text.resize(old);
    } else if (static_cast<size_t>(n) > room) {
        m_text.resize(old + static_cast<size_t>(n));
        std::vsnprintf(m_text.data() + old, static_cast<size_t>(n) + 1, pszFormat, again);
    } else {
        m_text.resize(old + static_cast<size_t>(n));
    }
    va_end(again);
    va_end(args);
}

HRESULT CHtmlPage::Detach(BSTR* pbstrHtml) {
    if (!pbstrHtml)
        return E_FAIL;
    BSTR bstr = sentrel::BstrFromAnsi(m_text);
    if (!bstr)
        return E_FAIL;
    *pbstrHtml = bstr;
    return S_OK;
}

std::string InstanceNameFromOrigName(std::string_view origName) {
    origName = UpToNul(origName);
    std::string_view pieces[2];
    int count = 0;
    for (size_t at = 0; at < origName.size() && count < 2;) {
        size_t start = origName.find_first_not_of('/', at);
        if (start == std::string_view::npos)
            break;
        size_t end = origName.find('/', start);
        if (end == std::string_view::npos)
            end = origName.size();
        pieces[count++] = origName.substr(start, end - start);
        at = end;
    }
    return std::string(count == 2 ? pieces[1] : pieces[0]);
}

std::string InstanceNameOfPath(std::string_view path) {
    size_t after = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        auto c = static_cast<unsigned char>(path[i]);
        if (c == '\\')
            after = i + 1;
        else if (IsDBCSLeadByte(c) && i + 1 < path.size())
            ++i;
    }
    return after == std::string_view::npos ? std::string() : std::string(path.substr(after));
}

bool IsPlainInstanceName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (c == '\0' || c == '\\' || c == '/')
            return false;
        if (IsDBCSLeadByte(c) && i + 1 < name.size())
            ++i; // the trail byte may be 0x5C without being a backslash
    }
    return true;
}

HRESULT ApplyInstanceForm(const std::string& strDirectory, std::string_view form,
                          const PostedFormTarget& target) {
    std::string strOrigName = GetFormField(form, "origname", "");
    bool bNew = strOrigName.empty();
    std::string strName =
        bNew ? GetFormField(form, "instancename", "") : InstanceNameFromOrigName(strOrigName);
    std::string strPath = strDirectory + "\\" + strName;

    if (!IsPlainInstanceName(strName)) {
        target.log(strPath);
        target.log(target.pszSaveFailure);
        target.log("\r\n");
        return E_FAIL;
    }
    // A new instance never replaces one that exists under the same name.
    struct _stat status;
    if (bNew && _stat(strPath.c_str(), &status) == 0) {
        target.log(strPath);
        target.log(target.strNameExists);
        target.log("\r\n");
        return E_FAIL;
    }
    return target.save(strPath);
}
