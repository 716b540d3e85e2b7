// The ANSI code page: 1252 and 932 conversions, UTF-8, lead bytes and the double-byte
// rules of the character and string functions.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

namespace {

class ScopedCodePage {
public:
    explicit ScopedCodePage(UINT cp) { WinplatSetACP(cp); }
    ~ScopedCodePage() { WinplatSetACP(1252); }
};

std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
    int n =
        MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    if (n > 0) {
        EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()),
                                      wide.data(), n),
                  n);
    }
    return wide;
}

std::string ToBytes(UINT cp, const std::u16string& wide, DWORD flags = 0,
                    const char* defaultChar = nullptr, BOOL* usedDefault = nullptr) {
    int n = WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                defaultChar, usedDefault);
    std::string bytes(static_cast<size_t>(n), '\0');
    if (n > 0) {
        EXPECT_EQ(WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()),
                                      bytes.data(), n, defaultChar, usedDefault),
                  n);
    }
    return bytes;
}

const unsigned char* U(const char* s) {
    return reinterpret_cast<const unsigned char*>(s);
}

TEST(CodePage, DefaultIsWesternAndOnlyTwoAreSelectable) {
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_FALSE(WinplatSetACP(437));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetACP(), 1252u);
    {
        ScopedCodePage cp(932);
        EXPECT_EQ(GetACP(), 932u);
    }
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(CodePage, EnvironmentSelectsAtFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process reads the variable
    ::setenv("SENTREL_CODEPAGE", "932", 1);
    EXPECT_EXIT(std::exit(GetACP() == 932 && IsDBCSLeadByte(0x82) ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    ::unsetenv("SENTREL_CODEPAGE");
}

// --- 1252 ----------------------------------------------------------------------------

TEST(Cp1252, EveryByteConvertsAndBack) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    std::u16string wide = ToWide(1252, all);
    ASSERT_EQ(wide.size(), all.size());
    struct {
        unsigned char byte;
        char16_t unit;
    } expected[] = {{'A', u'A'},    {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D},
                    {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}, {0x92, 0x2019},
                    {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
    for (auto e : expected)
        EXPECT_EQ(wide[e.byte - 1], e.unit) << int(e.byte);
    BOOL usedDefault = TRUE;
    EXPECT_EQ(ToBytes(1252, wide, 0, nullptr, &usedDefault), all);
    EXPECT_FALSE(usedDefault);
}

TEST(Cp1252, CharactersOutsideBecomeTheDefaultCharacter) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToBytes(CP_ACP, u"a\u0100b\u65E5", 0, nullptr, &usedDefault), "a?b?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ToBytes(CP_ACP, u"x\u0100", 0, "#"), "x#");
    // A character beyond the basic plane is one character, so one default character.
    EXPECT_EQ(ToBytes(1252, u"a\U0001F600b"), "a?b");
    EXPECT_EQ(ToBytes(1252, u"\u20AC\u201C\u201D"), "\x80\x93\x94");
}

TEST(Conversion, LengthsBuffersAndArguments) {
    char16_t wide[8];
    // -1: the text and its terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, bytes, 8, nullptr, nullptr), 4);
    EXPECT_STREQ(bytes, "abc");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", 3, bytes, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// --- 932 -----------------------------------------------------------------------------

TEST(Cp932, ConvertsBothWays) {
    struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"\x93\xFA\x96\x7B\x8C\xEA", u"\u65E5\u672C\u8A9E"}, // Japanese
        {"abc\\~", u"abc\\~"},                               // ASCII stays ASCII
        {"\xB1\xDF", u"\uFF71\uFF9F"},                       // half-width katakana
        {"\x82\x60\x82\x81", u"\uFF21\uFF41"},               // full-width A and a
        {"\x81\x5C\x81\x60", u"\u2015\uFF5E"},
        {"\x87\x40", u"\u2460"}, // vendor row 13
        {"\xF0\x40", u"\uE000"}, // user-defined area
        {"\x80\xA0\xFD\xFE\xFF", u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(932, c.bytes), c.text);
        EXPECT_EQ(ToBytes(932, c.text), c.bytes);
    }
    ScopedCodePage cp(932);
    EXPECT_EQ(ToWide(CP_ACP, "\x93\xFA"), u"\u65E5");
}

TEST(Cp932, InvalidSequences) {
    // An undefined pair, a lead byte before a byte that cannot follow it, a lead byte at
    // the end.
    EXPECT_EQ(ToWide(932, "\x85\x40"
                          "a"),
              u"\u30FB"
              "a");
    EXPECT_EQ(ToWide(932, "\x82\x20"
                          "a"),
              u"\u30FB a");
    EXPECT_EQ(ToWide(932, "a\x82"), u"a\u30FB");
    char16_t wide[8];
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Cp932, DefaultAndBestFit) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToBytes(932, u"\u00E9", 0, nullptr, &usedDefault), "?");
    EXPECT_TRUE(usedDefault);
    // The default character may itself be a double-byte character.
    EXPECT_EQ(ToBytes(932, u"x\u00E9", 0, "\x81\x48"), "x\x81\x48");
    // The yen sign has no code of its own: the backslash byte stands in, unless the
    // caller refuses such stand-ins.
    EXPECT_EQ(ToBytes(932, u"\u00A5"), "\\");
    EXPECT_EQ(ToBytes(932, u"\u00A5", WC_NO_BEST_FIT_CHARS), "?");
}

// --- UTF-8 ---------------------------------------------------------------------------

TEST(Utf8, ConvertsBothWays) {
    std::string bytes = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::u16string text = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(ToWide(CP_UTF8, bytes), text);
    EXPECT_EQ(ToBytes(CP_UTF8, text), bytes);
}

TEST(Utf8, InvalidInput) {
    struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"a\xFF"
         "b",
         u"a\uFFFD"
         "b"},
        {"\xC3", u"\uFFFD"},                     // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // an encoded surrogate
        {"\xE2\x82"
         "a",
         u"\uFFFD"
         "a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToWide(CP_UTF8, c.bytes), c.text);
    char16_t wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(ToBytes(CP_UTF8, std::u16string(lone, 3)), "a\xEF\xBF\xBD"
                                                         "b");
    BOOL used = FALSE;
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// --- lead bytes and characters -------------------------------------------------------

TEST(LeadBytes, Ranges) {
    for (int c = 0; c < 256; ++c) {
        bool lead932 = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        EXPECT_EQ(IsDBCSLeadByteEx(932, static_cast<BYTE>(c)) != FALSE, lead932) << c;
        EXPECT_FALSE(IsDBCSLeadByteEx(1252, static_cast<BYTE>(c)));
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c)));
    }
    ScopedCodePage cp(932);
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));
}

TEST(Characters, NextAndPrevious) {
    // x, then two double-byte characters whose trail bytes are in the lead range, then y.
    const char text[] = "x\x81\x81\x81\x81y";
    {
        ScopedCodePage cp(932);
        EXPECT_EQ(CharNextA(text), text + 1);
        EXPECT_EQ(CharNextA(text + 1), text + 3);
        EXPECT_EQ(CharNextA(text + 3), text + 5);
        EXPECT_EQ(CharNextA(text + 6), text + 6); // the terminator stays
        EXPECT_EQ(CharPrevA(text, text + 5), text + 3);
        EXPECT_EQ(CharPrevA(text, text + 3), text + 1);
        EXPECT_EQ(CharPrevA(text, text), text);
        const char lone[] = "\x81"; // a lead byte before the terminator stands alone
        EXPECT_EQ(CharNextA(lone), lone + 1);
    }
    EXPECT_EQ(CharNextA(text + 1), text + 2);
    EXPECT_EQ(CharPrevA(text, text + 5), text + 4);
}

// --- string functions ----------------------------------------------------------------

// Each search runs under both code pages; the expected offsets differ where a trail
// byte would match.
struct SearchCase {
    const char* name;
    const char* text;
    unsigned what;
    const char* sub; // for _mbsstr, else null
    bool last;       // _mbsrchr
    int offset932;   // -1: not found
    int offset1252;
};

class MbsSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(MbsSearch, NeverMatchesATrailByte) {
    const SearchCase& c = GetParam();
    for (UINT cp : {932u, 1252u}) {
        ScopedCodePage scoped(cp);
        const unsigned char* found =
            c.sub ? _mbsstr(U(c.text), U(c.sub))
                  : (c.last ? _mbsrchr(U(c.text), c.what) : _mbschr(U(c.text), c.what));
        int offset = found ? static_cast<int>(found - U(c.text)) : -1;
        EXPECT_EQ(offset, cp == 932 ? c.offset932 : c.offset1252) << c.name << " under " << cp;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MbsSearch,
    ::testing::Values(SearchCase{"chr", "\x83\x5C\\", '\\', nullptr, false, 2, 1},
                      SearchCase{"rchr", "a\\\x83\x5C", '\\', nullptr, true, 1, 3},
                      SearchCase{"str",
                                 "\x83\x41"
                                 "A",
                                 0, "A", false, 2, 1},
                      SearchCase{"str absent", "\x83\x41", 0, "A", false, -1, 1},
                      SearchCase{"chr double-byte", "a\x82\x60", 0x8260, nullptr, false, 1, -1},
                      SearchCase{"chr terminator", "ab", 0, nullptr, false, 2, 2},
                      SearchCase{"str empty", "ab", 0, "", false, 0, 0}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(MbsString, LowerCase) {
    char text[] = "ABC\x83\x41\x82\x60z";
    {
        ScopedCodePage cp(932);
        char copy[sizeof text];
        std::memcpy(copy, text, sizeof text);
        _mbslwr(reinterpret_cast<unsigned char*>(copy));
        // ASCII and the full-width A fold; the trail byte 0x41 does not.
        EXPECT_STREQ(copy, "abc\x83\x41\x82\x81z");
    }
    _mbslwr(reinterpret_cast<unsigned char*>(text));
    EXPECT_STREQ(text, "abc\x83"
                       "a\x82\x60z");
}

TEST(MbsString, Compare) {
    {
        ScopedCodePage cp(932);
        EXPECT_EQ(_mbsicmp(U("Router\x82\x60"), U("rOUTER\x82\x81")), 0);
        EXPECT_NE(_mbsicmp(U("\x83\x41"), U("\x83\x61")), 0);
        // A double-byte character orders by its whole value: above every single byte.
        EXPECT_LT(_mbscmp(U("\xA1"), U("\x81\x40")), 0);
        EXPECT_LT(_mbscmp(U("a"), U("b")), 0);
        EXPECT_EQ(_mbscmp(U("\x81\x40"), U("\x81\x40")), 0);
        const unsigned char* s = U("\x81\x40x");
        EXPECT_EQ(_mbsinc(s), s + 2);
    }
    EXPECT_EQ(_mbsicmp(U("\x83\x41"), U("\x83\x61")), 0);
    EXPECT_GT(_mbscmp(U("\xA1"), U("\x81\x40")), 0);
    EXPECT_NE(_mbsicmp(U("\xC9"), U("\xE9")), 0); // only ASCII folds
    EXPECT_LT(_mbsicmp(U("abc"), U("ABD")), 0);
}

} // namespace
