// Code page 932 (Shift-JIS with the vendor extensions): tables built once from the C
// library's converter, with the single bytes the converter leaves out added as the
// platform maps them.
#include "codepage_internal.h"

#include <array>
#include <bitset>
#include <iconv.h>
#include <memory>
#include <mutex>

namespace winplat::codepage {

namespace {

struct Tables {
    std::array<char16_t, 0x10000> toUnicode;   // by code
    std::array<uint16_t, 0x10000> fromUnicode; // by unit; 0xFFFF: none
    std::bitset<0x10000> bestFitOnly;          // the code does not convert back to the unit
};

// Bytes that are characters of their own and map into the private use area.
constexpr std::pair<unsigned, char16_t> kExtraSingles[] = {
    {0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}};

bool Convert(iconv_t cd, const char* in, size_t inLength, char* out, size_t& outLength) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in);
    char* op = out;
    size_t left = outLength;
    if (iconv(cd, &ip, &inLength, &op, &left) == static_cast<size_t>(-1) || inLength != 0)
        return false;
    outLength = outLength - left;
    return true;
}

std::unique_ptr<Tables> Build() {
    auto t = std::make_unique<Tables>();
    t->toUnicode.fill(kNoUnit);
    t->fromUnicode.fill(0xFFFF);

    iconv_t toU = iconv_open("UTF-16LE", "CP932");
    iconv_t fromU = iconv_open("CP932", "UTF-16LE");
    if (toU == reinterpret_cast<iconv_t>(-1) || fromU == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter only the single-byte part is known.
        for (unsigned c = 0; c < 0x80; ++c)
            t->toUnicode[c] = static_cast<char16_t>(c);
        for (unsigned c = 0xA1; c <= 0xDF; ++c)
            t->toUnicode[c] = static_cast<char16_t>(0xFF61 + (c - 0xA1));
    } else {
        auto forward = [&](unsigned code) {
            char bytes[2] = {static_cast<char>(code > 0xFF ? code >> 8 : code),
                             static_cast<char>(code & 0xFF)};
            char16_t unit = 0;
            size_t outLength = sizeof unit;
            if (Convert(toU, bytes, code > 0xFF ? 2 : 1, reinterpret_cast<char*>(&unit),
                        outLength) &&
                outLength == sizeof unit)
                t->toUnicode[code] = unit;
        };
        for (unsigned c = 0; c < 0x100; ++c)
            if (!IsLead932(static_cast<unsigned char>(c)))
                forward(c);
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLead932(static_cast<unsigned char>(lead)))
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail)
                if (trail != 0x7F)
                    forward(lead << 8 | trail);
        }
        for (unsigned u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u < 0xE000)
                continue;
            char16_t unit = static_cast<char16_t>(u);
            char bytes[4];
            size_t outLength = sizeof bytes;
            if (!Convert(fromU, reinterpret_cast<const char*>(&unit), sizeof unit, bytes,
                         outLength) ||
                outLength == 0 || outLength > 2)
                continue;
            unsigned code = outLength == 1 ? static_cast<unsigned char>(bytes[0])
                                           : (static_cast<unsigned char>(bytes[0]) << 8 |
                                              static_cast<unsigned char>(bytes[1]));
            t->fromUnicode[u] = static_cast<uint16_t>(code);
            t->bestFitOnly[u] = t->toUnicode[code] != unit;
        }
    }
    if (toU != reinterpret_cast<iconv_t>(-1))
        iconv_close(toU);
    if (fromU != reinterpret_cast<iconv_t>(-1))
        iconv_close(fromU);

    for (auto [code, unit] : kExtraSingles) {
        t->toUnicode[code] = unit;
        t->fromUnicode[unit] = static_cast<uint16_t>(code);
        t->bestFitOnly[unit] = false;
    }
    return t;
}

const Tables& Get() {
    static std::once_flag once;
    static std::unique_ptr<Tables> tables;
    std::call_once(once, [] { tables = Build(); });
    return *tables;
}

} // namespace

char16_t Cp932ToUnicode(unsigned code) {
    return code < 0x10000 ? Get().toUnicode[code] : kNoUnit;
}

unsigned UnicodeToCp932(char16_t unit, bool bestFit) {
    const Tables& t = Get();
    uint16_t code = t.fromUnicode[unit];
    if (code == 0xFFFF || (!bestFit && t.bestFitOnly[unit]))
        return kNoCode;
    return code;
}

} // namespace winplat::codepage
