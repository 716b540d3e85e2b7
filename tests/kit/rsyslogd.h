// A real rsyslogd for tests: started in the foreground with its own work directory on
// loopback ephemeral ports, writing the fields it parsed from every message it receives as
// one line of a file; stopped when the object goes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testkit.h"

namespace testkit {

// What rsyslogd made of one message.
struct SyslogRecord {
    std::string facility; // "user", "local3", ...
    std::string severity; // "notice", "alert", ...
    std::string hostname;
    std::string appName;     // RFC 5424 APP-NAME, or the tag of other messages
    std::string programName; // the tag up to ":" or "["
    std::string procId;
    std::string msgId;
    std::string unixTime; // the time the message itself reports, in seconds since 1970
    std::string msg;
    std::string rawMsg; // the message as received, frame removed
};

class Rsyslogd {
public:
    // Plain: UDP and TCP inputs. Tls: one TCP input with TLS (the ossl driver, anonymous
    // clients), serving a certificate for IP 127.0.0.1 issued by caFile(); openssl makes
    // the keys and certificates when the daemon starts.
    enum class Mode { Plain, Tls };
    explicit Rsyslogd(Mode mode);
    ~Rsyslogd();
    Rsyslogd(const Rsyslogd&) = delete;
    Rsyslogd& operator=(const Rsyslogd&) = delete;

    int udpPort() const { return m_udpPort; } // Plain only
    int tcpPort() const { return m_tcpPort; } // the TLS port in Tls mode
    // The authority that issued the receiver's certificate, and one that did not.
    std::filesystem::path caFile() const { return m_dir / "ca.pem"; }
    std::filesystem::path otherCaFile() const { return m_dir / "other-ca.pem"; }

    // Every record so far, in arrival order.
    std::vector<SyslogRecord> Records() const;
    // The first record whose raw message contains the marker, waiting up to the time.
    std::optional<SyslogRecord> WaitFor(const std::string& marker, int timeoutMs = 5000) const;

private:
    bool Start();
    void Stop();
    void MakeCertificates();

    TempDir m_dir;
    Mode m_mode;
    int m_udpPort = 0;
    int m_tcpPort = 0;
    int m_pid = -1;
};

} // namespace testkit
