// What Tellumo takes straight from the system instead of through Windows Sockets 1.1: the
// clock, host name and process for message headers, and the TCP and TLS connections
// (non-blocking connect, poll and OpenSSL need the POSIX socket itself). This header sees
// no socket declarations, so Winsock code can include it.
#pragma once

#include <cstdint>
#include <string>

#include "syslog_format.h"

// Connecting, the TLS handshake and sending share one deadline per alert.
inline constexpr int SYSLOG_STREAM_TIMEOUT_MS = 5000;

// This machine's host name and this process, for the headers of its alerts.
SyslogStamp SyslogOrigin();
// Sets the stamp's time to now, with the local time's offset from UTC.
void StampSyslogTime(SyslogStamp& stamp);

struct SyslogStreamTarget {
    uint32_t nAddress = 0; // IPv4, network byte order
    uint16_t nPort = 0;    // host byte order
    bool bTls = false;
    std::string strCAFile;     // POSIX path; empty: the system's trusted authorities
    std::string strServerName; // the certificate's name to check; empty: the address itself
    bool bVerify = true;
};

// Opens a connection, sends the bytes (already framed), closes it. False when the
// connection, the handshake (or the receiver's certificate) or the sending fails, or when
// the deadline passes first.
bool SendSyslogStream(const SyslogStreamTarget& target, const std::string& strBytes,
                      int nTimeoutMs = SYSLOG_STREAM_TIMEOUT_MS);
