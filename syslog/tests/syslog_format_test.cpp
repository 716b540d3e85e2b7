// The optional keys of a syslog instance and the framing of a message, on fixed moments.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "profile_document.h"
#include "syslog_format.h"
#include "testkit.h"

namespace {

constexpr char kSection[] = "Syslog\\R";

// Options read from a section holding the given lines.
bool Read(const std::string& lines, SyslogOptions& options, std::string* pBadKey = nullptr) {
    testkit::TempDir dir;
    testkit::WriteFile(dir / "R", "[Syslog\\R]\nCLSID=x\n" + lines);
    CProfileDocument doc;
    EXPECT_EQ(doc.Load(testkit::ZPath(dir / "R").c_str()), CProfileDocument::LOADED);
    return ReadSyslogOptions(doc, kSection, options, pBadKey);
}

TEST(SyslogOptionsTest, MissingOrEmptyKeysKeepTheDefaults) {
    for (const std::string lines : {"", "Format=\nFacility=\nSeverity= \nTag=\nTransport=\n"
                                        "CAFile=\nServerName=\nVerify=\n"}) {
        SyslogOptions options;
        ASSERT_TRUE(Read(lines, options)) << lines;
        EXPECT_EQ(options.format, SyslogFormat::Raw);
        EXPECT_EQ(options.nFacility, 1); // user
        EXPECT_EQ(options.nSeverity, 5); // notice
        EXPECT_EQ(options.strTag, "Sentrel");
        EXPECT_EQ(options.transport, SyslogTransport::Udp);
        EXPECT_EQ(options.strCAFile, "");
        EXPECT_EQ(options.strServerName, "");
        EXPECT_TRUE(options.bVerify);
    }
}

TEST(SyslogOptionsTest, NamesNumbersAndLetterCase) {
    SyslogOptions options;
    ASSERT_TRUE(Read("format=RFC5424\nFACILITY= Local3 \nSeverity=Alert\nTag=router.alarms-7\n"
                     "Transport=TLS\nCAFile=Z:\\etc\\ca one.pem\nServerName=logs.example\n"
                     "Verify=No\n",
                     options));
    EXPECT_EQ(options.format, SyslogFormat::Rfc5424);
    EXPECT_EQ(options.nFacility, 19);
    EXPECT_EQ(options.nSeverity, 1);
    EXPECT_EQ(options.strTag, "router.alarms-7");
    EXPECT_EQ(options.transport, SyslogTransport::Tls);
    EXPECT_EQ(options.strCAFile, "Z:\\etc\\ca one.pem");
    EXPECT_EQ(options.strServerName, "logs.example");
    EXPECT_FALSE(options.bVerify);

    struct Case {
        std::string lines;
        int facility, severity;
    };
    for (const Case& c : std::vector<Case>{{"Facility=0\nSeverity=0", 0, 0},
                                           {"Facility=23\nSeverity=7", 23, 7},
                                           {"Facility=kern\nSeverity=emerg", 0, 0},
                                           {"Facility=authpriv\nSeverity=warn", 10, 4},
                                           {"Facility=local7\nSeverity=error", 23, 3},
                                           {"Facility=daemon\nSeverity=debug", 3, 7}}) {
        SyslogOptions read;
        ASSERT_TRUE(Read(c.lines + "\n", read)) << c.lines;
        EXPECT_EQ(read.nFacility, c.facility) << c.lines;
        EXPECT_EQ(read.nSeverity, c.severity) << c.lines;
    }
    SyslogOptions format;
    ASSERT_TRUE(Read("Format=rfc3164\nTransport=tcp\n", format));
    EXPECT_EQ(format.format, SyslogFormat::Rfc3164);
    EXPECT_EQ(format.transport, SyslogTransport::Tcp);
}

TEST(SyslogOptionsTest, AValueAKeyDoesNotTakeIsNamed) {
    struct Case {
        std::string line, key;
    };
    const std::string longTag(33, 'a');
    for (const Case& c : std::vector<Case>{{"Format=rfc3339", "Format"},
                                           {"Format=5424", "Format"},
                                           {"Facility=24", "Facility"},
                                           {"Facility=-1", "Facility"},
                                           {"Facility=local8", "Facility"},
                                           {"Facility=1x", "Facility"},
                                           {"Facility=001", "Facility"},
                                           {"Severity=8", "Severity"},
                                           {"Severity=warning!", "Severity"},
                                           {"Tag=two words", "Tag"},
                                           {"Tag=app:x", "Tag"},
                                           {"Tag=app[1]", "Tag"},
                                           {"Tag=caf\xE9", "Tag"},
                                           {"Tag=" + longTag, "Tag"},
                                           {"Transport=udp6", "Transport"},
                                           {"Transport=ssl", "Transport"},
                                           {"Verify=maybe", "Verify"}}) {
        SyslogOptions options;
        std::string bad;
        EXPECT_FALSE(Read(c.line + "\n", options, &bad)) << c.line;
        EXPECT_EQ(bad, c.key) << c.line;
    }
    SyslogOptions options;
    EXPECT_TRUE(Read("Tag=" + std::string(32, 'a') + "\n", options));
}

// 2026-03-05 07:08:09.012345 UTC
constexpr int64_t kMoment = 1772694489;

SyslogStamp Stamp(int offsetMinutes, const std::string& host = "mon1.example.net") {
    SyslogStamp stamp;
    stamp.nUnixSeconds = kMoment;
    stamp.nMicroseconds = 12345;
    stamp.nUtcOffsetMinutes = offsetMinutes;
    stamp.strHostName = host;
    stamp.nProcessId = 4242;
    return stamp;
}

TEST(SyslogFrameTest, RawIsTheCleanedTextItself) {
    SyslogOptions options;
    options.nFacility = 19;
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(0), "router-7 is down"), "router-7 is down");
}

TEST(SyslogFrameTest, Rfc3164HeaderInLocalTimeWithoutDomain) {
    SyslogOptions options;
    options.format = SyslogFormat::Rfc3164;
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(0), "router-7 is down"),
              "<13>Mar  5 07:08:09 mon1 Sentrel: router-7 is down");
    options.nFacility = 19; // local3
    options.nSeverity = 1;  // alert
    options.strTag = "alarms";
    // 23:30 the day before, at UTC-07:38.
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(-(7 * 60 + 38)), "x"),
              "<153>Mar  4 23:30:09 mon1 alarms: x");
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(24 * 60 * 30, ""), "x"),
              "<153>Apr  4 07:08:09 - alarms: x");
}

TEST(SyslogFrameTest, Rfc5424HeaderWithZoneAndProcess) {
    SyslogOptions options;
    options.format = SyslogFormat::Rfc5424;
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(0), "router-7 is down"),
              "<13>1 2026-03-05T07:08:09.012345+00:00 mon1.example.net Sentrel 4242 - - "
              "router-7 is down");
    options.nFacility = 23;
    options.nSeverity = 7;
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(5 * 60 + 30), "a"),
              "<191>1 2026-03-05T12:38:09.012345+05:30 mon1.example.net Sentrel 4242 - - a");
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(-3 * 60, "my host\x01"), "a"),
              "<191>1 2026-03-05T04:08:09.012345-03:00 my-host- Sentrel 4242 - - a");
    // No message: the header ends with the structured data.
    EXPECT_EQ(FrameSyslogMessage(options, Stamp(0), ""),
              "<191>1 2026-03-05T07:08:09.012345+00:00 mon1.example.net Sentrel 4242 - -");
}

TEST(SyslogFrameTest, OctetCountingCountsBytes) {
    EXPECT_EQ(OctetCounted("router-7 is down"), "16 router-7 is down");
    EXPECT_EQ(OctetCounted(std::string(959, 'x')), "959 " + std::string(959, 'x'));
    EXPECT_EQ(OctetCounted(""), "0 ");
}

} // namespace
