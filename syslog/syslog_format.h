// How an alert goes out: the optional keys of a syslog instance (format, facility,
// severity, tag, transport, TLS settings) and the framing of the cleaned message.
#pragma once

#include <cstdint>
#include <string>

class CProfileDocument;

enum class SyslogFormat { Raw, Rfc3164, Rfc5424 };
enum class SyslogTransport { Udp, Tcp, Tls };

// Facility user and severity notice: what a receiver files a message without a priority
// under, so choosing a format alone does not move the alerts elsewhere.
inline constexpr int SYSLOG_DEFAULT_FACILITY = 1;
inline constexpr int SYSLOG_DEFAULT_SEVERITY = 5;
inline constexpr char SYSLOG_DEFAULT_TAG[] = "Sentrel";
inline constexpr size_t SYSLOG_MAX_TAG = 32;

struct SyslogOptions {
    SyslogFormat format = SyslogFormat::Raw;
    int nFacility = SYSLOG_DEFAULT_FACILITY;
    int nSeverity = SYSLOG_DEFAULT_SEVERITY;
    std::string strTag = SYSLOG_DEFAULT_TAG;
    SyslogTransport transport = SyslogTransport::Udp;
    std::string strCAFile;     // PEM file of the authorities to trust; empty: the system's
    std::string strServerName; // the name the receiver's certificate must carry; empty: Address
    bool bVerify = true;
};

// The optional keys, in the order the writer keeps them.
inline constexpr const char* SYSLOG_OPTIONAL_KEYS[] = {
    "Format", "Facility", "Severity", "Tag", "Transport", "CAFile", "ServerName", "Verify"};

// Reads the optional keys of the section into options. A key that is missing or empty keeps
// its default; false (with the offending key in strBadKey) when a value is not one the key
// takes.
bool ReadSyslogOptions(const CProfileDocument& doc, const std::string& strSection,
                       SyslogOptions& options, std::string* pstrBadKey = nullptr);

// The moment and origin that a header names.
struct SyslogStamp {
    int64_t nUnixSeconds = 0;
    int nMicroseconds = 0;
    int nUtcOffsetMinutes = 0; // local time minus UTC
    std::string strHostName;   // as the system knows it, possibly with its domain
    long nProcessId = 0;
};

// The message as it goes on the wire for the format: the cleaned text itself (raw),
// "<PRI>Mmm dd hh:mm:ss HOST TAG: MSG" (RFC 3164, local time, host without domain) or
// "<PRI>1 TIMESTAMP HOST APP-NAME PROCID - - MSG" (RFC 5424, RFC 3339 time with zone).
std::string FrameSyslogMessage(const SyslogOptions& options, const SyslogStamp& stamp,
                               const std::string& strCleaned);

// RFC 6587 octet counting, used on TCP and TLS: "LEN SP MESSAGE".
std::string OctetCounted(const std::string& strMessage);
