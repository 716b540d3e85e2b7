// What the notifiers share about instance files: the string loader their naming rules
// use, and the one frame in which each of them reads an instance, converting a file of
// the older binary format (version 6) in place on the way.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sentrel/notification.h>

#include "profile_document.h"

// Copies string resource id of this module into a buffer of size bytes; true when found.
// A missing string leaves "<id> DEBUG - Unable to load string" there instead, cut to fit.
// A size of 0 (or less) does nothing and gives false.
bool LoadResourceText(UINT id, char* buffer, int size);

namespace sentrel {

// The longest instance name a profile document reads back as part of its section name
// (prefix, backslash, name in 259 bytes with the terminator): 252 for "Syslog".
constexpr int MaxInstanceNameLength(const char* pszPrefix) {
    int n = 0;
    while (pszPrefix[n])
        ++n;
    return 258 - n;
}

// What an instance file of one notifier looks like.
struct InstanceFileType {
    const char* szPrefix; // section name prefix: "Syslog", "ServiceRestart", "TextSpeech"
    const char* szClsid;  // the CLSID value, matched exactly (letter case included)
    // A file is the notifier's only when at least one of these keys is present.
    std::vector<std::string> keys;
    // Logged after the path when a converted old file cannot be written anew; null for a
    // notifier without an older format.
    const char* szRewriteFailed;
};

// The notifier's part of a read.
struct InstanceReader {
    // Reads the notifier's values from the section, once the CLSID has matched. Runs
    // whether or not any of the keys is present: a present CLSID overwrites the values.
    std::function<void(const CProfileDocument& doc, const std::string& strSection)> readKeys;
    // Reads a file without a section as the older binary record; false when it is none.
    // Empty for a notifier without an older format.
    std::function<bool(const std::string& strPath)> readVersion6;
    // Writes the values read from an old file as a new instance file at the path.
    std::function<bool(const std::string& strPath)> writeInstance;
};

enum class InstanceRead {
    Failed,   // cannot open, another type, none of the keys, or not an old record either
    Read,     // a new-format file, read
    Migrated, // an old record, read; the file was moved to "V6" and written anew as far as
              // that went (failures are logged)
};

// Whether an instance file of this name can be written and read back: its section name
// (prefix, "\\", name) holds no "]" and no line break and fits the section name limit (252
// bytes of name for Tellumo, 244 for Revocet, 248 for Parlanza). The writers refuse any
// other name; the settings dialogs ask before they save.
bool IsReadableInstanceName(const char* szPrefix, std::string_view name);

// Writes an instance document to strPath: the one save of every notifier's writer. A
// document that could not be read back whole is refused and nothing is written; for a value
// that is too long or holds a line break, logLine first receives the text that names the
// key and the limit (" Notification - The value of Message is too long to save: ...", to
// follow the path). False when nothing was written; the writer then logs its save failure.
bool SaveInstanceDocument(CProfileDocument& doc, const std::string& strPath,
                          const std::function<void(const std::string& strText)>& logLine);

// Reads the instance file at strPath. Log lines go to pHost when it is not null.
InstanceRead ReadInstanceFile(const InstanceFileType& type, const std::string& strPath,
                              ISentrelNotifyHost* pHost, const InstanceReader& reader);

} // namespace sentrel
