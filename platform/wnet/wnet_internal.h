// The network enumeration's records before they are packed into a caller's buffer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <winplat/winnetwk.h>

namespace winplat::wnet {

struct Record {
    DWORD scope = RESOURCE_GLOBALNET;
    DWORD type = RESOURCETYPE_ANY;
    DWORD displayType = RESOURCEDISPLAYTYPE_SERVER;
    DWORD usage = RESOURCEUSAGE_CONTAINER;
    std::optional<std::string> localName;
    std::optional<std::string> remoteName;
    std::optional<std::string> comment;
    std::optional<std::string> provider;
};

// One open enumeration: its records, where the next call goes on, and the failures a
// simulation injects.
struct Enumeration {
    std::vector<Record> records;
    size_t next = 0;
    DWORD calls = 0;
    DWORD openError = 0;
    DWORD enumError = 0;
    DWORD enumErrorAt = 1;            // the call (counted from 1) from which enumError is given
    bool moreDataWithRecords = false; // a partial answer says ERROR_MORE_DATA, not NO_ERROR
};

// Fills out with the records of the context (or of the container); NO_ERROR or the
// error WNetOpenEnumA gives.
DWORD OpenSource(DWORD dwScope, const NETRESOURCEA* pContainer, Enumeration& out);

// The bytes a record takes in a buffer: the record and its texts with their terminators.
size_t PackedSize(const Record& record);

} // namespace winplat::wnet
