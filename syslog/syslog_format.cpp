#include "syslog_format.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "profile_document.h"

namespace {

struct Name {
    const char* szName;
    int nValue;
};

// The names syslog.conf and the receivers use; numbers are taken as well.
constexpr Name kFacilities[] = {
    {"kern", 0},     {"user", 1},      {"mail", 2},    {"daemon", 3},  {"auth", 4},
    {"security", 4}, {"syslog", 5},    {"lpr", 6},     {"news", 7},    {"uucp", 8},
    {"cron", 9},     {"authpriv", 10}, {"ftp", 11},    {"ntp", 12},    {"audit", 13},
    {"alert", 14},   {"clock", 15},    {"local0", 16}, {"local1", 17}, {"local2", 18},
    {"local3", 19},  {"local4", 20},   {"local5", 21}, {"local6", 22}, {"local7", 23}};
constexpr Name kSeverities[] = {{"emerg", 0},  {"panic", 0}, {"alert", 1},   {"crit", 2},
                                {"err", 3},    {"error", 3}, {"warning", 4}, {"warn", 4},
                                {"notice", 5}, {"info", 6},  {"debug", 7}};
constexpr Name kFormats[] = {{"raw", static_cast<int>(SyslogFormat::Raw)},
                             {"rfc3164", static_cast<int>(SyslogFormat::Rfc3164)},
                             {"rfc5424", static_cast<int>(SyslogFormat::Rfc5424)}};
constexpr Name kTransports[] = {{"udp", static_cast<int>(SyslogTransport::Udp)},
                                {"tcp", static_cast<int>(SyslogTransport::Tcp)},
                                {"tls", static_cast<int>(SyslogTransport::Tls)}};
constexpr Name kSwitches[] = {{"yes", 1}, {"no", 0},  {"true", 1}, {"false", 0},
                              {"on", 1},  {"off", 0}, {"1", 1},    {"0", 0}};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal but for the case of ASCII letters.
bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

template <size_t N> bool Lookup(const Name (&names)[N], const std::string& text, int& nValue) {
    for (const Name& name : names) {
        if (SameLetters(text, name.szName)) {
            nValue = name.nValue;
            return true;
        }
    }
    return false;
}

// A name of the table, or a plain decimal number from 0 to nMax.
template <size_t N>
bool NameOrNumber(const Name (&names)[N], int nMax, const std::string& text, int& nValue) {
    if (Lookup(names, text, nValue))
        return true;
    if (text.empty() || text.size() > 2)
        return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n > nMax)
        return false;
    nValue = n;
    return true;
}

// A tag both formats carry unchanged: 1 to 32 printable ASCII characters, none of which
// ends the tag for a receiver's parser (blank, ":", "[", "]").
bool IsGoodTag(const std::string& text) {
    if (text.empty() || text.size() > SYSLOG_MAX_TAG)
        return false;
    for (char c : text) {
        if (c <= 0x20 || c > 0x7E || c == ':' || c == '[' || c == ']')
            return false;
    }
    return true;
}

// A host name as a header field: printable ASCII without blanks, "-" when there is none.
std::string HeaderHostName(std::string_view name, bool bWithoutDomain) {
    if (bWithoutDomain) {
        size_t dot = name.find('.');
        if (dot != std::string_view::npos)
            name = name.substr(0, dot);
    }
    if (name.size() > 255)
        name = name.substr(0, 255);
    std::string out(name);
    for (char& c : out)
        if (c <= 0x20 || c > 0x7E)
            c = '-';
    return out.empty() ? "-" : out;
}

struct LocalTime {
    int year, month, day, hour, minute, second;
};

LocalTime Civil(int64_t nLocalSeconds) {
    using namespace std::chrono;
    auto tp = sys_seconds(seconds(nLocalSeconds));
    auto days = floor<std::chrono::days>(tp);
    year_month_day ymd(days);
    hh_mm_ss hms(tp - days);
    return {static_cast<int>(ymd.year()),
            static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day())),
            static_cast<int>(hms.hours().count()),
            static_cast<int>(hms.minutes().count()),
            static_cast<int>(hms.seconds().count())};
}

} // namespace

bool ReadSyslogOptions(const CProfileDocument& doc, const std::string& strSection,
                       SyslogOptions& options, std::string* pstrBadKey) {
    // One pass over the section: the first entry of each key counts, as for GetValue.
    constexpr size_t nKeys = std::size(SYSLOG_OPTIONAL_KEYS);
    std::string found[nKeys];
    const CProfileSection* pSection = doc.FindSection(strSection.c_str());
    if (pSection) {
        bool seen[nKeys] = {};
        for (size_t i = 0; i < pSection->keys.size(); ++i) {
            for (size_t k = 0; k < nKeys; ++k) {
                if (!seen[k] && SameLetters(pSection->keys[i], SYSLOG_OPTIONAL_KEYS[k])) {
                    seen[k] = true;
                    found[k] = Trimmed(pSection->values[i]);
                }
            }
        }
    }
    auto bad = [&](size_t k) {
        if (pstrBadKey)
            *pstrBadKey = SYSLOG_OPTIONAL_KEYS[k];
        return false;
    };
    // An empty value is no value: the key keeps its default.
    int n = 0;
    if (!found[0].empty()) {
        if (!Lookup(kFormats, found[0], n))
            return bad(0);
        options.format = static_cast<SyslogFormat>(n);
    }
    if (!found[1].empty() && !NameOrNumber(kFacilities, 23, found[1], options.nFacility))
        return bad(1);
    if (!found[2].empty() && !NameOrNumber(kSeverities, 7, found[2], options.nSeverity))
        return bad(2);
    if (!found[3].empty()) {
        if (!IsGoodTag(found[3]))
            return bad(3);
        options.strTag = found[3];
    }
    if (!found[4].empty()) {
        if (!Lookup(kTransports, found[4], n))
            return bad(4);
        options.transport = static_cast<SyslogTransport>(n);
    }
    if (!found[5].empty())
        options.strCAFile = found[5];
    if (!found[6].empty())
        options.strServerName = found[6];
    if (!found[7].empty()) {
        if (!Lookup(kSwitches, found[7], n))
            return bad(7);
        options.bVerify = n != 0;
    }
    return true;
}

std::string FrameSyslogMessage(const SyslogOptions& options, const SyslogStamp& stamp,
                               const std::string& strCleaned) {
    if (options.format == SyslogFormat::Raw)
        return strCleaned;
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int nPri = options.nFacility * 8 + options.nSeverity;
    LocalTime t = Civil(stamp.nUnixSeconds + int64_t{stamp.nUtcOffsetMinutes} * 60);
    char head[128];
    std::string frame;
    if (options.format == SyslogFormat::Rfc3164) {
        std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", nPri, kMonths[t.month - 1],
                      t.day, t.hour, t.minute, t.second);
        frame = head + HeaderHostName(stamp.strHostName, true) + " " + options.strTag + ": ";
    } else {
        int nOffset = stamp.nUtcOffsetMinutes;
        char sign = nOffset < 0 ? '-' : '+';
        if (nOffset < 0)
            nOffset = -nOffset;
        std::snprintf(head, sizeof head, "<%d>1 %04d-%02d-%02dT%02d:%02d:%02d.%06d%c%02d:%02d ",
                      nPri, t.year, t.month, t.day, t.hour, t.minute, t.second, stamp.nMicroseconds,
                      sign, nOffset / 60, nOffset % 60);
        frame = head + HeaderHostName(stamp.strHostName, false) + " " + options.strTag + " " +
                std::to_string(stamp.nProcessId) + " - -";
        if (!strCleaned.empty())
            frame += ' '; // MSG is optional, and so is the blank before it
    }
    frame += strCleaned;
    return frame;
}

std::string OctetCounted(const std::string& strMessage) {
    return std::to_string(strMessage.size()) + " " + strMessage;
}
