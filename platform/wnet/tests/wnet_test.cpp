// The network enumeration: the configured machines of the context, the records packed
// into the caller's buffer, the count and size answers, and the simulated source's
// injected failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <winplat/winbase.h>
#include <winplat/winnetwk.h>
#include <winplat/winreg.h>

#include "network.h"
#include "supervisord.h"
#include "testkit.h"

namespace {

struct Delivered {
    DWORD result = 0;
    DWORD count = 0;
    DWORD size = 0;
    std::vector<NETRESOURCEA> records;
};

// One WNetEnumResourceA call into a buffer of its own.
Delivered Enum(HANDLE h, std::vector<char>& buffer, DWORD wanted = 0xFFFFFFFF) {
    Delivered d;
    d.count = wanted;
    d.size = static_cast<DWORD>(buffer.size());
    d.result = WNetEnumResourceA(h, &d.count, buffer.data(), &d.size);
    EXPECT_EQ(GetLastError(), d.result);
    if (d.result == NO_ERROR || d.result == ERROR_MORE_DATA)
        for (DWORD i = 0; i < d.count; ++i)
            d.records.push_back(reinterpret_cast<NETRESOURCEA*>(buffer.data())[i]);
    return d;
}

// Every remote name the context holds, read in calls of the given buffer size.
std::vector<std::string> AllNames(DWORD bufferSize = 4096) {
    HANDLE h = nullptr;
    EXPECT_EQ(
        WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER, nullptr, &h),
        NO_ERROR);
    std::vector<std::string> names;
    std::vector<char> buffer(bufferSize);
    for (int i = 0; i < 1000; ++i) {
        Delivered d = Enum(h, buffer);
        if (d.result != NO_ERROR && d.result != ERROR_MORE_DATA)
            break;
        for (const NETRESOURCEA& r : d.records)
            names.push_back(r.lpRemoteName ? r.lpRemoteName : "(null)");
        if (d.result == ERROR_MORE_DATA && d.count == 0)
            buffer.resize(d.size);
    }
    WNetCloseEnum(h);
    return names;
}

class Network : public ::testing::Test {
protected:
    void Simulate(const std::string& text) {
        testkit::WriteFile(m_dir / "network.sim", text);
        testkit::UseSimulatedNetwork(m_dir / "network.sim");
    }
    static std::string Self() {
        char name[256] = {};
        gethostname(name, sizeof name - 1);
        return name;
    }
    testkit::ScopedRegistry m_registry;
    testkit::TempDir m_dir;
};

TEST_F(Network, TheContextIsThisMachineAndTheConfiguredOnesEachOnce) {
    testkit::SetServiceManagerText("localhost", "Port", "9001");
    testkit::SetServiceManagerText("PRN01", "Backend", "simulated");
    testkit::SetServiceManagerText("web01", "Backend", "supervisord");
    testkit::SetServiceManagerText(Self(), "Backend", "supervisord"); // this machine again
    const char multi[] = "db02\0\\\\web01\0 spare \0";
    testkit::SetNetworkValue("Machines", REG_MULTI_SZ, std::string(multi, sizeof multi));
    std::vector<std::string> names = AllNames();
    EXPECT_EQ(names, (std::vector<std::string>{"\\\\" + Self(), "\\\\PRN01", "\\\\web01",
                                               "\\\\db02", "\\\\spare"}));
}

TEST_F(Network, TheMachinesValueMayBeATextSeparatedBySemicolons) {
    testkit::SetNetworkValue("Machines", REG_SZ, "alpha; beta;;localhost");
    EXPECT_EQ(AllNames(), (std::vector<std::string>{"\\\\" + Self(), "\\\\alpha", "\\\\beta"}));
}

TEST_F(Network, ARealRecordIsAServerContainerWithItsProvider) {
    HANDLE h = nullptr;
    ASSERT_EQ(
        WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER, nullptr, &h),
        NO_ERROR);
    std::vector<char> buffer(1600);
    Delivered d = Enum(h, buffer);
    ASSERT_EQ(d.result, NO_ERROR);
    ASSERT_EQ(d.count, 1u);
    const NETRESOURCEA& r = d.records[0];
    EXPECT_EQ(r.dwScope, static_cast<DWORD>(RESOURCE_GLOBALNET));
    EXPECT_EQ(r.dwType, static_cast<DWORD>(RESOURCETYPE_ANY));
    EXPECT_EQ(r.dwDisplayType, static_cast<DWORD>(RESOURCEDISPLAYTYPE_SERVER));
    EXPECT_EQ(r.dwUsage, static_cast<DWORD>(RESOURCEUSAGE_CONTAINER));
    EXPECT_EQ(r.lpLocalName, nullptr);
    EXPECT_STREQ(r.lpProvider, "Sentrel Network");
    EXPECT_EQ(Enum(h, buffer).result, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(WNetCloseEnum(h), NO_ERROR);
    // Inside a machine there is nothing to list; a share is no container.
    NETRESOURCEA server = r;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &server, &h), NO_ERROR);
    EXPECT_EQ(Enum(h, buffer).result, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    WNetCloseEnum(h);
    server.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &server, &h),
              static_cast<DWORD>(ERROR_NOT_CONTAINER));
}

TEST_F(Network, RecordsComeFirstAndTheirTextsBehindThemInsideTheBuffer) {
    Simulate("[\\\\ALPHA]\nComment=first machine\n[WORKGROUP]\nDisplayType=domain\n"
             "LocalName=W:\n[\\\\beta\\public]\nDisplayType=share\nType=disk\n"
             "Usage=connectable\nProvider=Other\n");
    HANDLE h = nullptr;
    ASSERT_EQ(
        WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER, nullptr, &h),
        NO_ERROR);
    std::vector<char> buffer(1600, '\x7f');
    Delivered d = Enum(h, buffer);
    ASSERT_EQ(d.result, NO_ERROR);
    ASSERT_EQ(d.count, 3u);
    const char* begin = buffer.data() + 3 * sizeof(NETRESOURCEA);
    const char* end = buffer.data() + buffer.size();
    for (const NETRESOURCEA& r : d.records)
        for (const char* text : {r.lpLocalName, r.lpRemoteName, r.lpComment, r.lpProvider})
            if (text) {
                EXPECT_GE(text, begin);
                EXPECT_LE(text + std::strlen(text) + 1, end);
            }
    EXPECT_STREQ(d.records[0].lpRemoteName, "\\\\ALPHA");
    EXPECT_STREQ(d.records[0].lpComment, "first machine");
    EXPECT_EQ(d.records[1].dwDisplayType, static_cast<DWORD>(RESOURCEDISPLAYTYPE_DOMAIN));
    EXPECT_STREQ(d.records[1].lpLocalName, "W:");
    EXPECT_EQ(d.records[2].dwType, static_cast<DWORD>(RESOURCETYPE_DISK));
    EXPECT_EQ(d.records[2].dwUsage, static_cast<DWORD>(RESOURCEUSAGE_CONNECTABLE));
    EXPECT_STREQ(d.records[2].lpProvider, "Other");
    EXPECT_EQ(Enum(h, buffer).result, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    WNetCloseEnum(h);
}

TEST_F(Network, CountAndSizeAnswersAcrossCalls) {
    // Each record: the record, "\\Mnn" + NUL, "" + NUL, "Sentrel Network" + NUL.
    std::string text;
    for (int i = 10; i < 70; ++i)
        text += "[\\\\M" + std::to_string(i) + "]\n";
    Simulate(text);
    const DWORD each = sizeof(NETRESOURCEA) + 6 + 1 + 16;
    struct Case {
        const char* what;
        DWORD wanted;
        DWORD size;
        DWORD result;
        DWORD count;
        DWORD sizeAfter;
    };
    const Case cases[] = {
        {"as many as fit", 0xFFFFFFFF, 3 * each + each - 1, NO_ERROR, 3, 3 * each + each - 1},
        {"fewer wanted than fit", 2, 10 * each, NO_ERROR, 2, 10 * each},
        {"exactly one", 0xFFFFFFFF, each, NO_ERROR, 1, each},
        {"not even one: the size it needs", 0xFFFFFFFF, each - 1, ERROR_MORE_DATA, 0, each},
        {"an empty buffer", 0xFFFFFFFF, 0, ERROR_MORE_DATA, 0, each},
        {"the rest", 0xFFFFFFFF, 100 * each, NO_ERROR, 60 - 6, 100 * each},
        {"the end", 0xFFFFFFFF, 100 * each, ERROR_NO_MORE_ITEMS, 0, 100 * each},
    };
    HANDLE h = nullptr;
    ASSERT_EQ(
        WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER, nullptr, &h),
        NO_ERROR);
    int next = 10;
    for (const Case& c : cases) {
        std::vector<char> buffer(c.size + 1, 'x');
        DWORD count = c.wanted, size = c.size;
        DWORD result = WNetEnumResourceA(h, &count, c.size ? buffer.data() : nullptr, &size);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(count, c.count) << c.what;
        EXPECT_EQ(size, c.sizeAfter) << c.what;
        EXPECT_EQ(buffer[c.size], 'x') << c.what << ": written past the size given";
        for (DWORD i = 0; i < count && result == NO_ERROR; ++i)
            EXPECT_EQ(reinterpret_cast<NETRESOURCEA*>(buffer.data())[i].lpRemoteName,
                      "\\\\M" + std::to_string(next++))
                << c.what;
    }
    EXPECT_EQ(next, 70);
    WNetCloseEnum(h);
}

TEST_F(Network, BadArgumentsAndHandles) {
    HANDLE h = nullptr;
    DWORD count = 1, size = 100;
    char buffer[100];
    struct Case {
        const char* what;
        DWORD result;
        DWORD expected;
    };
    const Case cases[] = {
        {"scope 4", WNetOpenEnumA(4, 0, 0, nullptr, &h), ERROR_INVALID_PARAMETER},
        {"type 4", WNetOpenEnumA(RESOURCE_CONTEXT, 4, 0, nullptr, &h), ERROR_INVALID_PARAMETER},
        {"usage 4", WNetOpenEnumA(RESOURCE_CONTEXT, 0, 4, nullptr, &h), ERROR_INVALID_PARAMETER},
        {"no handle pointer", WNetOpenEnumA(RESOURCE_CONTEXT, 0, 0, nullptr, nullptr),
         ERROR_INVALID_ADDRESS},
        {"made-up handle", WNetEnumResourceA(reinterpret_cast<HANDLE>(7), &count, buffer, &size),
         ERROR_INVALID_HANDLE},
        {"no count", WNetEnumResourceA(reinterpret_cast<HANDLE>(7), nullptr, buffer, &size),
         ERROR_INVALID_ADDRESS},
        {"no buffer with a size",
         WNetEnumResourceA(reinterpret_cast<HANDLE>(7), &count, nullptr, &size),
         ERROR_INVALID_ADDRESS},
        {"close a made-up handle", WNetCloseEnum(reinterpret_cast<HANDLE>(7)),
         ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_CONTEXT, 0, 0, nullptr, &h), NO_ERROR);
    count = 0;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buffer, &size),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WNetCloseEnum(h), NO_ERROR);
    count = 1;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buffer, &size),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WNetCloseEnum(h), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Network, TheSimulationInjectsEachFailure) {
    const std::string three = "[\\\\A]\n[\\\\B]\n[\\\\C]\n";
    struct Case {
        std::string file;
        DWORD open;
        std::vector<DWORD> calls; // results of calls of room for two records
    };
    const Case cases[] = {
        {"OpenError=1222\n" + three, ERROR_NO_NETWORK, {}},
        {"OpenError=1208\n", ERROR_EXTENDED_ERROR, {}},
        {"", NO_ERROR, {ERROR_NO_MORE_ITEMS}},
        {three, NO_ERROR, {NO_ERROR, NO_ERROR, ERROR_NO_MORE_ITEMS}},
        {"EnumError=1222\n" + three, NO_ERROR, {ERROR_NO_NETWORK, ERROR_NO_NETWORK}},
        {"EnumError=59\nEnumErrorAt=2\n" + three, NO_ERROR, {NO_ERROR, 59}},
        {"MoreData=yes\n" + three, NO_ERROR, {ERROR_MORE_DATA, NO_ERROR, ERROR_NO_MORE_ITEMS}},
    };
    for (const Case& c : cases) {
        Simulate(c.file);
        HANDLE h = nullptr;
        EXPECT_EQ(WNetOpenEnumA(RESOURCE_CONTEXT, 0, RESOURCEUSAGE_CONTAINER, nullptr, &h), c.open)
            << c.file;
        if (c.open != NO_ERROR) {
            EXPECT_EQ(h, nullptr);
            continue;
        }
        std::vector<char> buffer(2 * (sizeof(NETRESOURCEA) + 4 + 1 + 16));
        for (DWORD expected : c.calls)
            EXPECT_EQ(Enum(h, buffer).result, expected) << c.file;
        WNetCloseEnum(h);
    }
    // A file that cannot be read is a network that is not there.
    testkit::UseSimulatedNetwork(m_dir / "missing.sim");
    HANDLE h = nullptr;
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_CONTEXT, 0, 0, nullptr, &h),
              static_cast<DWORD>(ERROR_NO_NETWORK));
}

TEST_F(Network, ManyRecordsAreAllDeliveredInOrderAcrossSmallBuffers) {
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 250; ++i) {
        std::string name = "\\\\host-" + std::to_string(i) + std::string(i % 7, 'x');
        text += "[" + name + "]\n";
        expected.push_back(name);
    }
    Simulate(text);
    for (DWORD size : {100u, 1600u, 1u << 16})
        EXPECT_EQ(AllNames(size), expected) << size;
}

} // namespace
