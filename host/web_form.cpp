#include "web_form.h"

#include <strings.h>
#include <sys/stat.h>

#include <fstream>

#include "html_page.h"

namespace host {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The byte of the escape at text[at] ("%XX"), or -1 when there is none there.
int EscapedByte(std::string_view text, size_t at) {
    if (at + 2 >= text.size() || text[at] != '%')
        return -1;
    int high = HexDigit(text[at + 1]);
    int low = HexDigit(text[at + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool IsKitSyntax(int byte) {
    return byte == '&' || byte == '+' || byte == '\r' || byte == '\n' || byte == 0;
}

// The length of the UTF-8 sequence that the escapes at text[at] spell, 0 when they spell
// none (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8SequenceAt(std::string_view text, size_t at, unsigned char* bytes) {
    int lead = EscapedByte(text, at);
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0)
        return 0;
    bytes[0] = static_cast<unsigned char>(lead);
    for (size_t i = 1; i < length; ++i) {
        int next = EscapedByte(text, at + 3 * i);
        int low = 0x80, high = 0xBF;
        if (i == 1 && lead == 0xE0)
            low = 0xA0;
        else if (i == 1 && lead == 0xED)
            high = 0x9F;
        else if (i == 1 && lead == 0xF0)
            low = 0x90;
        else if (i == 1 && lead == 0xF4)
            high = 0x8F;
        if (next < low || next > high)
            return 0;
        bytes[i] = static_cast<unsigned char>(next);
    }
    return length;
}

} // namespace

std::string DecodeFormForPlugin(std::string_view body) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(body.size());
    for (size_t at = 0; at < body.size();) {
        int byte = EscapedByte(body, at);
        if (byte < 0) {
            out += body[at++];
        } else if (IsKitSyntax(byte)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
            at += 3;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            at += 3;
        } else {
            unsigned char bytes[4];
            size_t length = Utf8SequenceAt(body, at, bytes);
            if (length == 0) {
                out.append(body.substr(at, 3)); // not UTF-8: left as it came
                at += 3;
            } else {
                out.append(reinterpret_cast<const char*>(bytes), length);
                at += 3 * length;
            }
        }
    }
    return out;
}

std::string DecodedField(std::string_view form, std::string_view name) {
    size_t at = FindFormFieldValue(form, std::string(name).c_str());
    if (at == std::string_view::npos)
        return {};
    size_t end = form.find('&', at);
    std::string_view value = form.substr(at, end == std::string_view::npos ? end : end - at);
    std::string out;
    for (size_t i = 0; i < value.size();) {
        int byte = EscapedByte(value, i);
        if (byte >= 0) {
            out += static_cast<char>(byte);
            i += 3;
        } else {
            out += value[i] == '+' ? ' ' : value[i];
            ++i;
        }
    }
    return out;
}

FormTarget TargetOfForm(std::string_view pluginForm) {
    FormTarget target;
    std::string origName = GetFormField(pluginForm, "origname", "");
    target.bEdit = !origName.empty();
    target.name = target.bEdit ? InstanceNameFromOrigName(origName)
                               : GetFormField(pluginForm, "instancename", "");
    return target;
}

bool IsInstanceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

const NotificationType* TypeOfFile(const std::string& path,
                                   const std::vector<NotificationType>& types) {
    std::ifstream in(path, std::ios::binary);
    std::string line, prefix, clsid;
    for (int count = 0; count < 64 && std::getline(in, line); ++count) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        line.erase(0, start);
        if (line[0] == '[' && prefix.empty()) {
            size_t cut = line.find_first_of("\\]", 1);
            prefix = line.substr(1, cut == std::string::npos ? std::string::npos : cut - 1);
        } else if (strncasecmp(line.c_str(), "CLSID=", 6) == 0 && clsid.empty()) {
            clsid = line.substr(6);
        }
    }
    for (const NotificationType& t : types)
        if (!prefix.empty() && strcasecmp(t.subkey.c_str(), prefix.c_str()) == 0)
            return &t;
    for (const NotificationType& t : types)
        if (!clsid.empty() && strcasecmp(t.clsid.c_str(), clsid.c_str()) == 0)
            return &t;
    return nullptr;
}

void RefuseOtherType(const std::string& posixDir, const FormTarget& target,
                     const NotificationType& type) {
    if (!target.bEdit || !IsInstanceName(target.name))
        return; // a new instance never replaces a file; the plug-in refuses such names
    std::string path = posixDir + "/" + target.name;
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    std::vector<NotificationType> types = ListNotificationTypes();
    const NotificationType* pType = TypeOfFile(path, types);
    if (pType && strcasecmp(pType->subkey.c_str(), type.subkey.c_str()) == 0)
        return;
    throw UsageError("the notification \"" + target.name + "\" is " +
                     (pType ? "a " + pType->displayName + " notification"
                            : "not a notification of a registered type") +
                     "; a " + type.displayName + " form cannot replace it");
}

} // namespace host
