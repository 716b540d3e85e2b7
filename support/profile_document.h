// The in-memory form of a small INI-style file: named sections, each an ordered list of
// key=value entries. Every notification instance file is read and written through it.
// All text is 8-bit text in the ANSI code page; section names and keys are matched
// ignoring the case of ASCII letters (and of the code page's double-byte letters).
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CProfileSection {
public:
    std::string name; // letter case as first read or set
    int number = -1;  // creation number within the document
    // Parallel lists: values[i] belongs to keys[i]. Keys need not be unique.
    std::vector<std::string> keys;
    std::vector<std::string> values;

    // The value of the first entry whose key matches, ignoring case; null when none does.
    const std::string* FindValue(const char* pszKey) const;
    // Replaces the value of the first matching entry, or appends the pair.
    void SetValue(const char* pszKey, const char* pszValue);
    // Removes the first entry whose value contains pszText (case-sensitive).
    bool RemoveEntryContaining(const char* pszText);
    // Writes "[name]" and then "key=value" lines; false on a write error.
    bool Write(FILE* pFile) const;
};

// What Load gives back whole: a line of at most 2047 bytes (a longer one arrives in pieces,
// each read as a line of its own), and a section name of at most 259 bytes.
inline constexpr size_t PROFILE_LINE_LIMIT = 2047;
inline constexpr size_t PROFILE_SECTION_NAME_LIMIT = 259;

// A save writes a new file "]pdXXXX.tmp" beside the old one (four hexadecimal digits)
// and renames it over the old one. "]" keeps these apart from instance files: no section
// name, so no instance name, can hold it. A save first removes such files that no live
// process holds, left behind by a save that was killed.
inline constexpr char PROFILE_TEMP_PREFIX[] = "]pd";
// Whether a file name is that of a save's temporary file, for directory listings to skip.
bool IsProfileTempFileName(std::string_view name);

// Something in a document that a save would write but Load would not read back as it is.
struct CProfileProblem {
    enum Kind {
        NONE,
        SECTION_NAME,   // holds "]" or a line break, or is longer than the section name limit
        KEY,            // empty, holds "=" or a line break, or would read as a comment or header
        LINE_BREAK,     // a value holding a line feed or ending in a carriage return
        VALUE_TOO_LONG, // key, "=" and value longer than a line
    };
    Kind kind = NONE;
    std::string section; // the section's name
    std::string key;     // the entry's key (KEY, LINE_BREAK, VALUE_TOO_LONG)
    size_t length = 0;   // VALUE_TOO_LONG: the value's length in bytes
    size_t limit = 0;    // VALUE_TOO_LONG: the most bytes the value may have
};

// The problem with one section name; kind NONE when Load reads it back.
CProfileProblem SectionNameProblem(std::string_view name);

class CProfileDocument {
public:
    CProfileDocument();
    CProfileDocument(const CProfileDocument&) = delete;
    CProfileDocument& operator=(const CProfileDocument&) = delete;

    // Removes the section and one index entry of its name.
    virtual void RemoveSection(const char* pszSection);
    // Removes the first entry whose value contains pszText from the section at nPosition
    // of the name index; false when there is no such section or entry.
    virtual bool RemoveEntryContaining(const char* pszText, int nPosition);
    virtual ~CProfileDocument();

    // Deletes all sections; the name index empties and section numbering restarts at 0.
    void Clear();

    enum LoadResult { LOADED = 0, CANNOT_OPEN = 1, NO_SECTION = 2 };
    // Replaces the contents with the file's: LOADED when it holds at least one section,
    // CANNOT_OPEN when it cannot be opened, NO_SECTION when it holds none.
    int Load(const char* pszPath);
    // Writes the document to pszPath (null: the remembered path). The file is replaced
    // as a whole or not at all; false when it could not be written. A document that Load
    // would not read back as it is (FindUnreadable) is refused with ERROR_INVALID_DATA and
    // nothing is written.
    bool Save(const char* pszPath = nullptr);
    // The first section name or entry that Load would not give back whole after a save.
    CProfileProblem FindUnreadable() const;

    // The value of the first matching key in the section; pszDefault and false when the
    // section or key is missing.
    bool GetValue(const char* pszSection, const char* pszKey, const char* pszDefault,
                  std::string& strValue) const;
    // Creates the section and the entry as needed, else replaces the first matching value.
    void SetValue(const char* pszSection, const char* pszKey, const char* pszValue);

    // The section of that name (matched as GetValue matches it); null when there is none.
    const CProfileSection* FindSection(const char* pszSection) const;

    // The section named at nPosition of the sorted name index; advances nPosition.
    bool GetSectionAt(int& nPosition, std::string& strName, CProfileSection*& pSection) const;

    // The path of the last load, or of the last save that named one.
    const std::string& GetPath() const { return m_strPath; }
    // The sections, by lower-cased name.
    const std::map<std::string, std::unique_ptr<CProfileSection>, std::less<>>& Sections() const {
        return m_sections;
    }

private:
    CProfileSection* Find(std::string_view lowerName) const;
    CProfileSection* CreateSection(std::string_view name);

    std::map<std::string, std::unique_ptr<CProfileSection>, std::less<>> m_sections;
    std::vector<std::string> m_index; // lower-cased names, ascending, duplicates kept
    std::string m_strPath;
    int m_nNextNumber = 0;
};

// The section name of an instance file: prefix + "\" + the instance name, which is the
// part of the path after its last "\" (after the first "/" has become "\").
std::string InstanceSectionName(const char* pszPrefix, const char* pszPath);

// Moves a file of the older binary format into the folder "V6" beside it, under its name
// without extension, replacing an earlier copy. True when the copy and the removal of the
// original both succeeded.
bool BackUpVersion6File(const char* pszPath);
// Where BackUpVersion6File puts the copy of pszPath: the folder "V6" and the file in it.
bool Version6BackupPath(const char* pszPath, std::string& strFolder, std::string& strBackup);
