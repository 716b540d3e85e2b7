// Alerts as a real rsyslogd files them: every format over UDP, TCP and TLS, and a TLS
// receiver whose certificate does not verify. Each test starts its daemon once and sends
// all its cases to it.
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/comptr.h>

#include "recording_host.h"
#include "rsyslogd.h"
#include "syslog.h"
#include "testkit.h"

using testkit::RecordingHost;
using testkit::Rsyslogd;
using testkit::SyslogRecord;
using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr char kType[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";

// What the host expands the message into: blanks, quotes, markup and an accented letter
// (a blank on the wire); the marker makes each alert findable.
std::u16string Alert(const std::string& marker) {
    return u"router-7 is down <50%> & \"all\" +1 caf\u00E9 " + testkit::Utf16(marker);
}
std::string Cleaned(const std::string& marker) {
    return "router-7 is down <50%> & \"all\" +1 caf  " + marker;
}

std::string HostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

class SysLogToRsyslog : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(
            sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotification, plugin.PutVoid()),
            S_OK);
        ASSERT_EQ(plugin->Initialize(&host), S_OK);
    }
    void TearDown() override {
        plugin->UnInitialize();
        plugin.Reset();
        CoUninitialize();
    }
    // Sends one alert through an instance with the given port and optional keys.
    HRESULT Send(int port, const std::string& keys, const std::string& marker) {
        testkit::WriteFile(dir / "R", std::string("[Syslog\\R]\r\nCLSID=") + kType +
                                          "\r\nAddress=127.0.0.1\r\nMessage=%M\r\nPort=" +
                                          std::to_string(port) + "\r\n" + keys);
        host.expand = [marker](std::u16string& text) {
            text = Alert(marker);
            return S_OK;
        };
        host.calls.clear();
        Bstr path(testkit::Utf16(testkit::ZPath(dir / "R")));
        return plugin->Notify(path.Get());
    }
    // The record rsyslogd made of the alert, checked field by field for the format.
    void ExpectFiled(const Rsyslogd& daemon, const std::string& format, const std::string& marker) {
        std::optional<SyslogRecord> record = daemon.WaitFor(marker);
        ASSERT_TRUE(record) << marker << " never arrived";
        std::string cleaned = Cleaned(marker);
        if (format == "raw") {
            // Today's bytes exactly, parsed the way rsyslogd parses any line without a header.
            EXPECT_EQ(record->rawMsg, cleaned) << marker;
            EXPECT_EQ(record->facility, "user") << marker;
            EXPECT_EQ(record->severity, "notice") << marker;
            EXPECT_EQ(record->hostname, "router-7") << marker;
            EXPECT_EQ(record->appName, "is") << marker;
            return;
        }
        EXPECT_EQ(record->facility, "local3") << marker;
        EXPECT_EQ(record->severity, "alert") << marker;
        EXPECT_EQ(record->appName, "alarms") << marker;
        EXPECT_EQ(record->programName, "alarms") << marker;
        long reported = std::strtol(record->unixTime.c_str(), nullptr, 10);
        EXPECT_LT(std::labs(reported - static_cast<long>(std::time(nullptr))), 300)
            << "time stamp read as " << record->unixTime << " for " << marker;
        if (format == "rfc3164") {
            EXPECT_EQ(record->hostname, HostName().substr(0, HostName().find('.'))) << marker;
            EXPECT_EQ(record->msg, " " + cleaned) << marker; // rsyslogd keeps the blank after ":"
        } else {
            EXPECT_EQ(record->hostname, HostName()) << marker;
            EXPECT_EQ(record->procId, std::to_string(getpid())) << marker;
            EXPECT_EQ(record->msgId, "-") << marker;
            EXPECT_EQ(record->msg, cleaned) << marker;
        }
    }

    testkit::TempDir dir;
    RecordingHost host;
    ComPtr<ISentrelNotification> plugin;
};

const std::vector<std::string> kFormats = {"raw", "rfc3164", "rfc5424"};
const std::string kFiling = "Facility=local3\r\nSeverity=alert\r\nTag=alarms\r\n";

TEST_F(SysLogToRsyslog, EveryFormatOverUdpAndTcpIsParsedAsMeant) {
    Rsyslogd daemon(Rsyslogd::Mode::Plain);
    for (const std::string transport : {"udp", "tcp"}) {
        for (const std::string& format : kFormats) {
            std::string marker = "mk-" + transport + "-" + format;
            int port = transport == "udp" ? daemon.udpPort() : daemon.tcpPort();
            ASSERT_EQ(Send(port,
                           "Format=" + format + "\r\nTransport=" + transport + "\r\n" + kFiling,
                           marker),
                      S_OK)
                << marker;
            ExpectFiled(daemon, format, marker);
        }
    }
    // No keys at all: the same bytes as before there were any.
    ASSERT_EQ(Send(daemon.udpPort(), "", "mk-default"), S_OK);
    ExpectFiled(daemon, "raw", "mk-default");

    // An over-long message keeps its 959-byte cut inside the frame.
    ASSERT_EQ(Send(daemon.tcpPort(), "Format=rfc5424\r\nTransport=tcp\r\n",
                   "mk-long" + std::string(1000, 'y')),
              S_OK);
    std::optional<SyslogRecord> record = daemon.WaitFor("mk-long");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->msg, Cleaned("mk-long" + std::string(1000, 'y')).substr(0, 959));
}

TEST_F(SysLogToRsyslog, TlsDeliversOnlyToAReceiverWhoseCertificateVerifies) {
    Rsyslogd daemon(Rsyslogd::Mode::Tls);
    const std::string trust = "Transport=tls\r\nCAFile=" + testkit::ZPath(daemon.caFile()) + "\r\n";
    for (const std::string& format : kFormats) {
        std::string marker = "mk-tls-" + format;
        ASSERT_EQ(Send(daemon.tcpPort(), "Format=" + format + "\r\n" + trust + kFiling, marker),
                  S_OK)
            << marker << "\n"
            << host.Log();
        ExpectFiled(daemon, format, marker);
    }

    struct Refused {
        std::string marker;
        std::string keys;
    };
    const std::vector<Refused> refused = {
        {"mk-other-ca", "Transport=tls\r\nCAFile=" + testkit::ZPath(daemon.otherCaFile()) + "\r\n"},
        {"mk-system-trust", "Transport=tls\r\n"},
        {"mk-wrong-name", trust + "ServerName=logs.example\r\n"},
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(Send(daemon.tcpPort(), r.keys, r.marker), E_FAIL) << r.marker;
        EXPECT_EQ(host.calls, (std::vector<std::string>{"SysLog::Notify Processing...\r\n",
                                                        "Syslog::SendTo failed\r\n"}))
            << r.marker;
    }
    // Verification turned off: the same receiver is taken as it is.
    ASSERT_EQ(Send(daemon.tcpPort(),
                   "Transport=tls\r\nVerify=no\r\nCAFile=" + testkit::ZPath(daemon.otherCaFile()) +
                       "\r\n",
                   "mk-unverified"),
              S_OK);
    ExpectFiled(daemon, "raw", "mk-unverified");
    for (const SyslogRecord& record : daemon.Records())
        for (const Refused& r : refused)
            EXPECT_EQ(record.rawMsg.find(r.marker), std::string::npos) << r.marker;
}

} // namespace
