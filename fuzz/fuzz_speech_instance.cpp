// Parlanza's instance reader on arbitrary bytes: the version 6 record reader directly, then
// the whole load (INI text, or an old record converted in place).
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "text.h"
#include "tts_notification.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fuzz-speech-" + std::to_string(getpid()));
    static const std::string path = (dir / "Alert").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    static sentrel::ComObject<TTSNotification> object; // keeps no state between inputs
    BSTR bstrPath = sentrel::BstrFromAnsi(path);
    int rate = 0;
    int volume = 0;
    std::string message;
    if (SUCCEEDED(object.ReadVersion6SpeechInstance(bstrPath, &rate, &volume, message))) {
        // The message comes from what follows the 28-byte head; a NUL ends its piece.
        if (message.size() > (size > 28 ? size - 28 : 0) || message.find('\0') != std::string::npos)
            __builtin_trap();
    } else if (!message.empty()) {
        __builtin_trap(); // a refused record keeps nothing of its message
    }
    rate = 0;
    volume = 0;
    message.clear();
    object.LoadSpeechInstance(bstrPath, &rate, &volume, message);
    SysFreeString(bstrPath);
    return 0;
}
