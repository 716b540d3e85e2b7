#include "profile_document.h"

#include <algorithm>
#include <cstring>

#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

namespace {

const unsigned char* U(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

// Section names are keyed in lower case: ASCII letters, and the code page's own
// double-byte letters, folded; a double-byte character is never split.
std::string LowerName(std::string_view name) {
    std::string lower(name);
    _mbslwr(reinterpret_cast<unsigned char*>(lower.data()));
    return lower;
}

// Only the first "/" becomes "\"; later ones are left as they are.
std::string FixPath(const char* pszPath) {
    std::string path = pszPath ? pszPath : "";
    size_t slash = path.find('/');
    if (slash != std::string::npos)
        path[slash] = '\\';
    return path;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The first c in text that is a character of its own, not the trail byte of a
// double-byte character; null when there is none.
char* FindChar(char* text, char c) {
    return reinterpret_cast<char*>(
        _mbschr(reinterpret_cast<unsigned char*>(text), static_cast<unsigned char>(c)));
}

// The folder that holds path, in a form that names it when a file name is appended
// after a separator ("." for a bare file name, "Z:." for a drive-relative one).
std::string FolderOf(const std::string& path) {
    const char* start = path.c_str();
    const char* last = nullptr;
    for (const char* p = start; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/')
            last = p;
    if (last)
        return std::string(start, last == start ? 1 : static_cast<size_t>(last - start));
    if (path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2) + ".";
    return ".";
}

// Writes a run of bytes; false when the stream fails.
bool Put(FILE* pFile, std::string_view text) {
    return text.empty() || std::fwrite(text.data(), 1, text.size(), pFile) == text.size();
}

} // namespace

// CProfileSection

const std::string* CProfileSection::FindValue(const char* pszKey) const {
    for (size_t i = 0; i < keys.size(); ++i)
        if (_mbsicmp(U(keys[i].c_str()), U(pszKey)) == 0)
            return &values[i];
    return nullptr;
}

void CProfileSection::SetValue(const char* pszKey, const char* pszValue) {
    for (size_t i = 0; i < keys.size(); ++i) {
        if (_mbsicmp(U(keys[i].c_str()), U(pszKey)) == 0) {
            values[i] = pszValue;
            return;
        }
    }
    keys.emplace_back(pszKey);
    values.emplace_back(pszValue);
}

bool CProfileSection::RemoveEntryContaining(const char* pszText) {
    for (size_t i = 0; i < values.size(); ++i) {
        if (_mbsstr(U(values[i].c_str()), U(pszText))) {
            keys.erase(keys.begin() + static_cast<ptrdiff_t>(i));
            values.erase(values.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

bool CProfileSection::Write(FILE* pFile) const {
    bool ok = Put(pFile, "[") && Put(pFile, name) && Put(pFile, "]\n");
    for (size_t i = 0; ok && i < keys.size(); ++i)
        ok = Put(pFile, keys[i]) && Put(pFile, "=") && Put(pFile, values[i]) && Put(pFile, "\n");
    return ok;
}

bool IsProfileTempFileName(std::string_view name) {
    return WinplatIsTempFileName(std::string(name).c_str(), PROFILE_TEMP_PREFIX) != FALSE;
}

CProfileProblem SectionNameProblem(std::string_view name) {
    CProfileProblem problem;
    // A header ends at the first "]" (or at "]"s right after "["), and a line break ends
    // the line; an empty name is no header at all.
    if (name.empty() || name.size() > PROFILE_SECTION_NAME_LIMIT ||
        name.find_first_of("]\r\n") != std::string_view::npos) {
        problem.kind = CProfileProblem::SECTION_NAME;
        problem.section.assign(name);
    }
    return problem;
}

// CProfileDocument

CProfileProblem CProfileDocument::FindUnreadable() const {
    for (const auto& [lower, section] : m_sections) {
        CProfileProblem problem = SectionNameProblem(section->name);
        if (problem.kind != CProfileProblem::NONE)
            return problem;
        problem.section = section->name;
        for (size_t i = 0; i < section->keys.size(); ++i) {
            const std::string& key = section->keys[i];
            const std::string& value = section->values[i];
            problem.key = key;
            // Load skips leading blanks, comments and headers, and splits at the first "=".
            if (key.empty() || IsBlank(key[0]) || key[0] == ';' || key[0] == '[' ||
                key.find_first_of("=\r\n") != std::string::npos) {
                problem.kind = CProfileProblem::KEY;
                return problem;
            }
            // A line feed ends the line; a carriage return at its end is taken off.
            if (value.find('\n') != std::string::npos || (!value.empty() && value.back() == '\r')) {
                problem.kind = CProfileProblem::LINE_BREAK;
                return problem;
            }
            if (key.size() + 1 + value.size() > PROFILE_LINE_LIMIT) {
                problem.kind = CProfileProblem::VALUE_TOO_LONG;
                problem.length = value.size();
                problem.limit =
                    key.size() + 1 < PROFILE_LINE_LIMIT ? PROFILE_LINE_LIMIT - key.size() - 1 : 0;
                return problem;
            }
        }
    }
    return {};
}

CProfileDocument::CProfileDocument() = default;

CProfileDocument::~CProfileDocument() = default;

void CProfileDocument::Clear() {
    m_sections.clear();
    m_index.clear();
    m_nNextNumber = 0;
}

CProfileSection* CProfileDocument::Find(std::string_view lowerName) const {
    auto it = m_sections.find(lowerName);
    return it == m_sections.end() ? nullptr : it->second.get();
}

CProfileSection* CProfileDocument::CreateSection(std::string_view name) {
    auto section = std::make_unique<CProfileSection>();
    section->name.assign(name);
    section->number = m_nNextNumber++;
    std::string lower = LowerName(name);
    CProfileSection* pSection = section.get();
    // A section already entered under this name drops out with its entries.
    m_sections.insert_or_assign(lower, std::move(section));
    auto before = std::lower_bound(m_index.begin(), m_index.end(), lower,
                                   [](const std::string& a, const std::string& b) {
                                       return _mbscmp(U(a.c_str()), U(b.c_str())) < 0;
                                   });
    m_index.insert(before, std::move(lower));
    return pSection;
}

int CProfileDocument::Load(const char* pszPath) {
    std::string path = FixPath(pszPath);
    Clear();
    m_strPath = path;
    FILE* pFile = _fsopen(path.c_str(), "r", _SH_DENYNO);
    if (!pFile)
        return CANNOT_OPEN;

    // A line longer than the buffer arrives in pieces, each read as a line of its own.
    char buffer[2048];
    CProfileSection* pCurrent = nullptr;
    while (std::fgets(buffer, sizeof buffer, pFile)) {
        char* line = buffer;
        if (*line == ';')
            continue;
        while (*line && IsBlank(*line))
            ++line;
        if (*line == '\0' || *line == ';')
            continue;
        size_t length = std::strlen(line);
        if (line[length - 1] == '\n')
            line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\r')
            line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\n')
            line[--length] = '\0';

        if (*line == '[') {
            char* name = line + 1;
            while (*name == ']')
                ++name;
            char* close = FindChar(name, ']');
            size_t nameLength = close ? static_cast<size_t>(close - name) : std::strlen(name);
            if (nameLength > 0)
                pCurrent = CreateSection(std::string_view(name, nameLength));
            continue;
        }
        if (!pCurrent)
            continue;
        char* key = line;
        while (*key == '=')
            ++key;
        char* equals = std::strchr(key, '='); // "=" is never the trail of a double-byte character
        if (equals) {
            pCurrent->keys.emplace_back(key, static_cast<size_t>(equals - key));
            pCurrent->values.emplace_back(equals + 1);
        } else {
            pCurrent->keys.emplace_back(key);
            pCurrent->values.emplace_back();
        }
    }
    std::fclose(pFile);
    return m_sections.empty() ? NO_SECTION : LOADED;
}

bool CProfileDocument::Save(const char* pszPath) {
    if (pszPath)
        m_strPath = FixPath(pszPath);
    if (m_strPath.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // What Load would not give back whole is not written at all.
    if (FindUnreadable().kind != CProfileProblem::NONE) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    // The text goes to a new file beside the old one, which replaces it only when complete:
    // a failed save leaves the previous file as it was.
    const std::string folder = FolderOf(m_strPath);
    // What a save that died left behind goes first; a live save's file is held, and stays.
    WinplatRemoveStaleTempFiles(folder.c_str(), PROFILE_TEMP_PREFIX);
    char szTemp[MAX_PATH];
    if (!GetTempFileNameA(folder.c_str(), PROFILE_TEMP_PREFIX, 0, szTemp))
        return false;
    FILE* pFile = _fsopen(szTemp, "w", _SH_DENYWR);
    bool ok = pFile != nullptr;
    if (pFile) {
        for (const auto& [lower, section] : m_sections)
            ok = ok && section->Write(pFile);
        ok = std::fflush(pFile) == 0 && !std::ferror(pFile) && ok;
        ok = std::fclose(pFile) == 0 && ok;
    }
    if (ok)
        ok = MoveFileExA(szTemp, m_strPath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        DWORD dwError = GetLastError();
        DeleteFileA(szTemp);
        SetLastError(dwError);
    }
    return ok;
}

bool CProfileDocument::GetValue(const char* pszSection, const char* pszKey, const char* pszDefault,
                                std::string& strValue) const {
    const CProfileSection* pSection = Find(LowerName(pszSection));
    const std::string* pValue = pSection ? pSection->FindValue(pszKey) : nullptr;
    if (pValue) {
        strValue = *pValue;
        return true;
    }
    strValue = pszDefault ? pszDefault : "";
    return false;
}

const CProfileSection* CProfileDocument::FindSection(const char* pszSection) const {
    return Find(LowerName(pszSection ? pszSection : ""));
}

void CProfileDocument::SetValue(const char* pszSection, const char* pszKey, const char* pszValue) {
    CProfileSection* pSection = Find(LowerName(pszSection));
    if (!pSection)
        pSection = CreateSection(pszSection);
    pSection->SetValue(pszKey, pszValue);
}

bool CProfileDocument::GetSectionAt(int& nPosition, std::string& strName,
                                    CProfileSection*& pSection) const {
    if (nPosition < 0 || static_cast<size_t>(nPosition) >= m_index.size() ||
        m_index[static_cast<size_t>(nPosition)].empty())
        return false;
    strName = m_index[static_cast<size_t>(nPosition)];
    CProfileSection* pFound = Find(strName);
    if (!pFound)
        return false;
    if (!pFound->name.empty())
        strName = pFound->name;
    pSection = pFound;
    ++nPosition;
    return true;
}

void CProfileDocument::RemoveSection(const char* pszSection) {
    std::string lower = LowerName(pszSection);
    auto it = m_sections.find(lower);
    if (it != m_sections.end())
        m_sections.erase(it);
    auto entry = std::find_if(m_index.begin(), m_index.end(), [&](const std::string& name) {
        return _mbsicmp(U(name.c_str()), U(lower.c_str())) == 0;
    });
    if (entry != m_index.end())
        m_index.erase(entry);
}

bool CProfileDocument::RemoveEntryContaining(const char* pszText, int nPosition) {
    std::string strName;
    CProfileSection* pSection = nullptr;
    if (!GetSectionAt(nPosition, strName, pSection))
        return false;
    return pSection->RemoveEntryContaining(pszText);
}

std::string InstanceSectionName(const char* pszPrefix, const char* pszPath) {
    std::string name = pszPrefix ? pszPrefix : "";
    name += '\\';
    std::string path = FixPath(pszPath);
    const unsigned char* last = _mbsrchr(U(path.c_str()), '\\');
    name += last ? reinterpret_cast<const char*>(last) + 1 : path.c_str();
    return name;
}

bool Version6BackupPath(const char* pszPath, std::string& strFolder, std::string& strBackup) {
    if (!pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    char szDrive[_MAX_DRIVE], szDir[_MAX_DIR], szName[_MAX_FNAME], szExt[_MAX_EXT];
    _splitpath(pszPath, szDrive, szDir, szName, szExt);
    // A part that did not fit its buffer would send the copy to another folder.
    if (std::strlen(szDrive) + std::strlen(szDir) + std::strlen(szName) + std::strlen(szExt) !=
        std::strlen(pszPath)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    strFolder = std::string(szDrive) + szDir;
    // A bare file name keeps its backup beside it, not in the root folder.
    if (szDir[0] != '\0' && strFolder.back() != '\\')
        strFolder += '\\';
    strFolder += "V6";
    strBackup = strFolder + "\\" + szName;
    return true;
}

bool BackUpVersion6File(const char* pszPath) {
    std::string folder, backup;
    if (!Version6BackupPath(pszPath, folder, backup))
        return false;
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    if (!CopyFileA(pszPath, backup.c_str(), FALSE))
        return false;
    return DeleteFileA(pszPath) != FALSE;
}
