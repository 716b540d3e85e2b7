// What the host reads in a posted form before a plug-in applies it: the form decoded for
// the plug-in, the instance it will write, and the type of the file it edits.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host.h"

namespace host {

// A browser's form as the plug-ins take it: percent escapes decoded as UTF-8, except the
// bytes that the page kit reads as syntax ("&", "+", CR, LF, NUL), which stay escaped as
// %26, %2B, %0D, %0A and %00. An escape that does not start valid UTF-8 stays as it came.
std::string DecodeFormForPlugin(std::string_view body);

// The value of a field of a URL-encoded form, fully decoded ("+" is a blank); empty when
// absent. Only where a field begins, the first of that name.
std::string DecodedField(std::string_view form, std::string_view name);

// The instance a form makes the plug-in write, read with the page kit's own rules: the
// instance named by "origname" (an edit) or, without it, "instancename" (a new one).
struct FormTarget {
    bool bEdit = false;
    std::string name;
};
FormTarget TargetOfForm(std::string_view pluginForm);

// Whether a name is a plain file name in the directory (not empty, ".", "..", no "/" or
// "\").
bool IsInstanceName(const std::string& name);

// The type an instance file names: its section prefix (Syslog\Router is a SysLog
// instance), else its CLSID value; null when neither names a type of the list.
const NotificationType* TypeOfFile(const std::string& path,
                                   const std::vector<NotificationType>& types);

// UsageError when the file that a form for `type` would replace in the notification
// directory posixDir is an instance of another type.
void RefuseOtherType(const std::string& posixDir, const FormTarget& target,
                     const NotificationType& type);

} // namespace host
