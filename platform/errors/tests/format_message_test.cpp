#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <winplat/winbase.h>

namespace {

std::string SystemText(DWORD code, DWORD language = 0x400) {
    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, language, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = buffer ? std::string(buffer, n) : "<none>";
    LocalFree(buffer);
    return text;
}

TEST(FormatMessage, SystemTextsEndInCrLf) {
    struct Case {
        DWORD code;
        const char* text;
    };
    const Case cases[] = {
        {2, "The system cannot find the file specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {1056, "An instance of the service is already running.\r\n"},
        {1060, "The specified service does not exist as an installed service.\r\n"},
        {1061, "The service cannot accept control messages at this time.\r\n"},
        {1062, "The service has not been started.\r\n"},
        {1722, "The RPC server is unavailable.\r\n"},
        {0x80070005, "Access is denied.\r\n"},
        {0x80004005, "Unspecified error\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SystemText(c.code), c.text) << c.code;
    EXPECT_EQ(SystemText(5, 0), "Access is denied.\r\n");
}

TEST(FormatMessage, UnknownCodeGivesNoBuffer) {
    SetLastError(0);
    EXPECT_EQ(SystemText(0x12345), "<none>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(FormatMessage, CallerBufferMustHoldTheWholeText) {
    char small[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0,
                             small, sizeof small, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char big[64];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0,
                             big, sizeof big, nullptr),
              19u);
    EXPECT_STREQ(big, "Access is denied.\r\n");
}

TEST(FormatMessage, InsertsFromAnArgumentArray) {
    const char* args[] = {"alpha", "beta"};
    char out[64];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             "%2 then %1!s!%n100%%", 0, 0, out, sizeof out,
                             const_cast<char**>(args));
    EXPECT_EQ(std::string(out, n), "beta then alpha\r\n100%");
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD seen = 0;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

} // namespace
