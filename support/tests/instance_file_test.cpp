// The shared reading frame of instance files, with the conversion of old binary files,
// and the string loader of the naming rules.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <winplat/winbase.h>

#include "instance_file.h"
#include "recording_host.h"
#include "testkit.h"

namespace fs = std::filesystem;
using sentrel::InstanceRead;
using testkit::ReadFile;
using testkit::WriteFile;

namespace {

constexpr char kClsid[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";
constexpr char kSignature[] = "OLD!"; // the test notifier's old record starts with this

const sentrel::InstanceFileType kWithOldFormat{
    "Syslog",
    kClsid,
    {"Address", "Message", "Port"},
    " Notification - Failed saving file to new notification format."};
const sentrel::InstanceFileType kWithoutOldFormat{
    "ServiceRestart", kClsid, {"Host", "Service", "Command"}, nullptr};

// A notifier's side of the read: its values, an old-record reader that takes files
// starting with kSignature, and a writer through the profile document.
class TestNotifier {
public:
    std::string address = "preset", port = "preset";
    int keyReads = 0, oldReads = 0, writes = 0;
    bool writeWorks = true;

    sentrel::InstanceReader Reader(bool withOldFormat) {
        sentrel::InstanceReader reader;
        reader.readKeys = [this](const CProfileDocument& doc, const std::string& section) {
            ++keyReads;
            doc.GetValue(section.c_str(), "Address", "", address);
            doc.GetValue(section.c_str(), "Port", "", port);
        };
        if (withOldFormat) {
            reader.readVersion6 = [this](const std::string& path) {
                ++oldReads;
                std::string posixText = ReadPlatformFile(path);
                if (posixText.compare(0, 4, kSignature) != 0)
                    return false;
                address = posixText.substr(4);
                return true;
            };
        }
        reader.writeInstance = [this](const std::string& path) {
            ++writes;
            if (!writeWorks)
                return false;
            CProfileDocument doc;
            std::string section = InstanceSectionName("Syslog", path.c_str());
            doc.SetValue(section.c_str(), "CLSID", kClsid);
            doc.SetValue(section.c_str(), "Address", address.c_str());
            return doc.Save(path.c_str());
        };
        return reader;
    }

private:
    static std::string ReadPlatformFile(const std::string& path) {
        char posix[4096];
        if (!WinplatToPosixPath(path.c_str(), posix, sizeof posix))
            return {};
        return ReadFile(posix);
    }
};

class InstanceFileTest : public ::testing::Test {
protected:
    std::string Instance(const std::string& name, const std::string& bytes) {
        WriteFile(m_dir / name, bytes);
        return m_dir.ZPath() + "\\" + name;
    }
    InstanceRead Read(const std::string& path, bool withOldFormat = true,
                      ISentrelNotifyHost* pHost = nullptr) {
        return sentrel::ReadInstanceFile(withOldFormat ? kWithOldFormat : kWithoutOldFormat, path,
                                         pHost ? pHost : &m_host, m_notifier.Reader(withOldFormat));
    }
    testkit::TempDir m_dir;
    testkit::RecordingHost m_host;
    TestNotifier m_notifier;
};

TEST_F(InstanceFileTest, NewFormatFileIsRead) {
    std::string path = Instance("Router", std::string("[Syslog\\Router]\r\nCLSID=") + kClsid +
                                              "\r\nAddress=10.0.0.1\r\n");
    EXPECT_EQ(Read(path), InstanceRead::Read);
    EXPECT_EQ(m_notifier.address, "10.0.0.1");
    EXPECT_EQ(m_notifier.port, ""); // a present CLSID overwrites every value
    EXPECT_EQ(m_notifier.oldReads, 0);
    EXPECT_TRUE(m_host.calls.empty());
}

struct RefusedCase {
    const char* name;
    std::string text; // the file, for the instance named Router
};

class RefusedFiles : public InstanceFileTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFiles, FailWithoutConversion) {
    std::string path = Instance("Router", GetParam().text);
    EXPECT_EQ(Read(path), InstanceRead::Failed);
    EXPECT_EQ(ReadFile(m_dir / "Router"), GetParam().text); // left as it was
    EXPECT_FALSE(fs::exists(m_dir / "V6"));
    EXPECT_EQ(m_notifier.writes, 0);
    EXPECT_TRUE(m_host.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFiles,
    ::testing::Values(
        RefusedCase{
            "ClsidInLowerCase",
            "[Syslog\\Router]\r\nCLSID={69dd7b00-b669-11d4-804a-0001025eb176}\r\nPort=1\r\n"},
        RefusedCase{"NoneOfTheKeys", std::string("[Syslog\\Router]\r\nCLSID=") + kClsid + "\r\n"},
        RefusedCase{"SectionOfAnotherName",
                    std::string("[Syslog\\Renamed]\r\nCLSID=") + kClsid + "\r\nPort=1\r\n"},
        RefusedCase{"EmptyFile", ""}, RefusedCase{"NotAnOldRecord", "binary\x01\x02"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstanceFileTest, WrongClsidReadsNoValues) {
    std::string path = Instance("Router", "[Syslog\\Router]\r\nCLSID={x}\r\nAddress=a\r\n");
    EXPECT_EQ(Read(path), InstanceRead::Failed);
    EXPECT_EQ(m_notifier.keyReads, 0);
    EXPECT_EQ(m_notifier.address, "preset");
}

TEST_F(InstanceFileTest, MissingFileFails) {
    EXPECT_EQ(Read(m_dir.ZPath() + "\\Missing"), InstanceRead::Failed);
    EXPECT_EQ(m_notifier.oldReads, 0);
}

TEST_F(InstanceFileTest, NotifierWithoutOldFormatRefusesFileWithoutSection) {
    std::string path = Instance("Router", std::string(kSignature) + "10.0.0.9");
    EXPECT_EQ(Read(path, false), InstanceRead::Failed);
    EXPECT_EQ(ReadFile(m_dir / "Router"), std::string(kSignature) + "10.0.0.9");
    EXPECT_FALSE(fs::exists(m_dir / "V6"));
}

TEST_F(InstanceFileTest, OldRecordIsConvertedInPlace) {
    std::string path = Instance("Router.v6", std::string(kSignature) + "10.0.0.9");
    EXPECT_EQ(Read(path), InstanceRead::Migrated);
    EXPECT_EQ(m_notifier.address, "10.0.0.9");
    EXPECT_EQ(ReadFile(m_dir / "V6" / "Router"), std::string(kSignature) + "10.0.0.9");
    EXPECT_EQ(ReadFile(m_dir / "Router.v6"),
              std::string("[Syslog\\Router.v6]\r\nCLSID=") + kClsid + "\r\nAddress=10.0.0.9\r\n");
    EXPECT_TRUE(m_host.calls.empty());
    // From now on it reads as a new-format file.
    EXPECT_EQ(Read(path), InstanceRead::Read);
}

TEST_F(InstanceFileTest, FailedBackUpIsLoggedAndTheFileStillRewritten) {
    WriteFile(m_dir / "V6", "a file where the folder should be");
    std::string path = Instance("Router", std::string(kSignature) + "10.0.0.9");
    EXPECT_EQ(Read(path), InstanceRead::Migrated);
    EXPECT_EQ(
        m_host.calls,
        (std::vector<std::string>{
            path, " Notification - Failed to move Version 6 file to backup directory.", "\r\n"}));
    EXPECT_EQ(m_host.levels, (std::vector<LONG>{1, 1, 1}));
    EXPECT_EQ(m_notifier.writes, 1);
    EXPECT_NE(ReadFile(m_dir / "Router").find("Address=10.0.0.9"), std::string::npos);
}

TEST_F(InstanceFileTest, FailedRewriteIsLoggedAndTheValuesStillStand) {
    m_notifier.writeWorks = false;
    std::string path = Instance("Router", std::string(kSignature) + "10.0.0.9");
    EXPECT_EQ(Read(path), InstanceRead::Migrated);
    EXPECT_EQ(
        m_host.calls,
        (std::vector<std::string>{
            path, " Notification - Failed saving file to new notification format.", "\r\n", path,
            " Notification - The Version 6 file is kept as " + m_dir.ZPath() + "\\V6\\Router.",
            "\r\n"}));
    EXPECT_EQ(m_notifier.address, "10.0.0.9");
    EXPECT_FALSE(fs::exists(m_dir / "Router")); // moved away, not written anew
    EXPECT_TRUE(fs::exists(m_dir / "V6" / "Router"));
}

TEST_F(InstanceFileTest, NothingIsLoggedWithoutAHost) {
    m_notifier.writeWorks = false;
    WriteFile(m_dir / "V6", "in the way");
    std::string path = Instance("Router", std::string(kSignature) + "x");
    EXPECT_EQ(sentrel::ReadInstanceFile(kWithOldFormat, path, nullptr, m_notifier.Reader(true)),
              InstanceRead::Migrated);
    EXPECT_TRUE(m_host.calls.empty());
}

// --- string resources --------------------------------------------------------------

TEST(LoadResourceText, FoundString) {
    char buffer[63];
    ASSERT_TRUE(LoadResourceText(104, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "*:?<>\"|/\\[]");
}

TEST(LoadResourceText, MissingStringGivesTheFallbackCutToSize) {
    char buffer[64];
    EXPECT_FALSE(LoadResourceText(999, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "999 DEBUG - Unable to load string");
    char small[8];
    EXPECT_FALSE(LoadResourceText(104000, small, sizeof small));
    EXPECT_STREQ(small, "104000 ");
}

TEST(LoadResourceText, SmallBufferAndNoBuffer) {
    char buffer[6];
    std::memset(buffer, 'z', sizeof buffer);
    LoadResourceText(120, buffer, sizeof buffer);
    EXPECT_EQ(std::strlen(buffer), 5u); // terminated within the buffer
    EXPECT_EQ(std::string(buffer), std::string("Invalid value").substr(0, 5));
    char untouched[4] = "abc";
    EXPECT_FALSE(LoadResourceText(104, untouched, 0));
    EXPECT_STREQ(untouched, "abc");
}

} // namespace
