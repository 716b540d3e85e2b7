// The version 6 syslog record reader on arbitrary bytes.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "syslog.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/fuzz-syslog-v6-" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    static sentrel::ComObject<SysLog> object; // the reader keeps no state between inputs
    BSTR bstrPath = sentrel::BstrFromAnsi(path);
    LONG port = 514;
    std::string address, message;
    if (object.ReadVersion6SyslogInstance(bstrPath, port, address, message)) {
        if (address.size() > 127 || message.size() > 1023 ||
            address.find('\0') != std::string::npos || message.find('\0') != std::string::npos)
            __builtin_trap();
    }
    SysFreeString(bstrPath);
    return 0;
}
