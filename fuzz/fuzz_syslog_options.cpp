// The optional keys of a syslog instance on arbitrary section text: what is taken frames a
// message a receiver can parse, and a save carries the keys over unchanged.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "profile_document.h"
#include "syslog.h"
#include "syslog_format.h"
#include "text.h"

namespace {

bool Same(const SyslogOptions& a, const SyslogOptions& b) {
    return a.format == b.format && a.nFacility == b.nFacility && a.nSeverity == b.nSeverity &&
           a.strTag == b.strTag && a.transport == b.transport && a.strCAFile == b.strCAFile &&
           a.strServerName == b.strServerName && a.bVerify == b.bVerify;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                             ("fuzz-syslog-options-" + std::to_string(getpid()));
    static const std::string path = (dir / "R").string();
    static const std::string zpath = [] { // the platform's form, whose last "\" names R
        std::string z = "Z:" + path;
        for (char& c : z)
            if (c == '/')
                c = '\\';
        return z;
    }();
    std::filesystem::create_directories(dir);
    std::string text = "[Syslog\\R]\nCLSID={69DD7B00-B669-11D4-804A-0001025EB176}\nAddress=x\n";
    text.append(reinterpret_cast<const char*>(data), size);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);

    CProfileDocument doc;
    if (doc.Load(zpath.c_str()) != CProfileDocument::LOADED)
        return 0;
    SyslogOptions options;
    bool good = ReadSyslogOptions(doc, "Syslog\\R", options);
    if (good) {
        if (options.nFacility < 0 || options.nFacility > 23 || options.nSeverity < 0 ||
            options.nSeverity > 7 || options.strTag.empty() || options.strTag.size() > 32)
            __builtin_trap();
        for (char c : options.strTag)
            if (c <= ' ' || c > '~' || c == ':' || c == '[' || c == ']')
                __builtin_trap();
        SyslogStamp stamp;
        stamp.strHostName = "host";
        std::string frame = FrameSyslogMessage(options, stamp, "msg");
        if (frame.size() < 3 || frame.compare(frame.size() - 3, 3, "msg") != 0)
            __builtin_trap();
    }

    // Saved over, a syslog instance keeps what its keys said. (The input may have replaced
    // the section by one without the CLSID: then it is no syslog instance to keep.)
    std::string clsid;
    doc.GetValue("Syslog\\R", "CLSID", "", clsid);
    bool instance = clsid == SYSLOG_INSTANCE_TYPE_TEXT;
    static sentrel::ComObject<SysLog> object;
    BSTR bstrPath = sentrel::BstrFromAnsi(zpath);
    if (SUCCEEDED(object.SaveSyslogInstance(bstrPath, 514, "x", "m")) && instance) {
        CProfileDocument saved;
        SyslogOptions again;
        if (saved.Load(zpath.c_str()) != CProfileDocument::LOADED ||
            ReadSyslogOptions(saved, "Syslog\\R", again) != good || (good && !Same(options, again)))
            __builtin_trap();
    }
    SysFreeString(bstrPath);
    return 0;
}
