// Posted form text: the field readers, and SysLog's ApplyPostedForm writing into a scratch
// notification directory that nothing may leave.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "html_page.h"
#include "syslog.h"
#include "text.h"

namespace {

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string form(reinterpret_cast<const char*>(data), size);

    for (const char* name : {"origname", "instancename", "port", "address", "message", ""}) {
        std::string value = GetFormField(form, name, "\x01");
        // A text value ends at &, CR, LF or NUL, "+" is a blank, and it lies in the form.
        if (value != "\x01" &&
            (value.find_first_of(std::string("&\r\n+\0", 5)) != std::string::npos ||
             value.size() > form.size()))
            __builtin_trap();
        GetFormIntField(form, name, -7);
    }
    std::string shown = HtmlEscape(form);
    if (shown.find_first_of("<>\"") != std::string::npos)
        __builtin_trap();

    static const std::string scratch = "/tmp/fuzz-web-form-" + std::to_string(getpid());
    static const std::string notify = scratch + "/notify";
    static bool made = mkdir(scratch.c_str(), 0700) == 0 && mkdir(notify.c_str(), 0700) == 0;
    if (!made)
        return 0;
    static sentrel::ComObject<SysLog> object; // keeps no state between calls
    BSTR bstrDir = sentrel::BstrFromAnsi("Z:" + notify);
    BSTR bstrForm = sentrel::BstrFromAnsi(form);
    object.ApplyPostedForm(bstrDir, bstrForm);
    SysFreeString(bstrForm);
    SysFreeString(bstrDir);

    // Whatever the form said, the only thing beside the directory is the directory, and it
    // holds at most the one instance written.
    if (Listing(scratch) != std::vector<std::string>{"notify"})
        __builtin_trap();
    std::vector<std::string> written = Listing(notify);
    if (written.size() > 1)
        __builtin_trap();
    for (const std::string& name : written)
        std::remove((notify + "/" + name).c_str());
    return 0;
}
