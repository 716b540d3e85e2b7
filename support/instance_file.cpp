#include "instance_file.h"

#include <cstdio>

#include <winplat/comptr.h>
#include <winplat/winbase.h>

#include "component.h"
#include "text.h"

bool LoadResourceText(UINT id, char* buffer, int size) {
    if (!buffer || size <= 0)
        return false;
    if (LoadStringA(sentrel::ComponentModule::GetModuleInstance(), id, buffer, size) > 0)
        return true;
    std::snprintf(buffer, static_cast<size_t>(size), "%u DEBUG - Unable to load string", id);
    return false;
}

namespace sentrel {

namespace {

constexpr char kBackUpFailed[] =
    " Notification - Failed to move Version 6 file to backup directory.";

// One log line in three pieces: the path, the text, the line end.
void LogFailure(ISentrelNotifyHost* pHost, const std::string& strPath, const char* szText) {
    for (const std::string& piece : {strPath, std::string(szText), std::string("\r\n")})
        WriteLogText(pHost, piece);
}

} // namespace

bool IsReadableInstanceName(const char* szPrefix, std::string_view name) {
    std::string section = std::string(szPrefix ? szPrefix : "") + "\\";
    section.append(name);
    return !name.empty() && SectionNameProblem(section).kind == CProfileProblem::NONE;
}

bool SaveInstanceDocument(CProfileDocument& doc, const std::string& strPath,
                          const std::function<void(const std::string& strText)>& logLine) {
    const CProfileProblem problem = doc.FindUnreadable();
    if (problem.kind == CProfileProblem::VALUE_TOO_LONG) {
        logLine(" Notification - The value of " + problem.key +
                " is too long to save: " + std::to_string(problem.length) + " bytes, at most " +
                std::to_string(problem.limit) + " fit in a line of the file.");
        return false;
    }
    if (problem.kind == CProfileProblem::LINE_BREAK) {
        logLine(" Notification - The value of " + problem.key +
                " holds a line break, which a line of the file cannot hold.");
        return false;
    }
    return doc.Save(strPath.c_str()); // refuses the other problems too: a name, a key
}

InstanceRead ReadInstanceFile(const InstanceFileType& type, const std::string& strPath,
                              ISentrelNotifyHost* pHost, const InstanceReader& reader) {
    CProfileDocument doc;
    int nLoad = doc.Load(strPath.c_str());
    if (nLoad == CProfileDocument::CANNOT_OPEN)
        return InstanceRead::Failed;

    if (nLoad == CProfileDocument::NO_SECTION) {
        // The older binary format: read it, keep a copy in "V6", write it anew in place.
        // The values read stand whatever the backup and the rewrite gave.
        if (!reader.readVersion6 || !reader.readVersion6(strPath))
            return InstanceRead::Failed;
        const bool bBackedUp = BackUpVersion6File(strPath.c_str());
        if (!bBackedUp)
            LogFailure(pHost, strPath, kBackUpFailed);
        if (!reader.writeInstance || !reader.writeInstance(strPath)) {
            LogFailure(pHost, strPath, type.szRewriteFailed ? type.szRewriteFailed : "");
            // The copy in "V6" is then the only one on disk: the operator must know where.
            std::string strFolder, strBackup;
            if (bBackedUp && Version6BackupPath(strPath.c_str(), strFolder, strBackup))
                LogFailure(
                    pHost, strPath,
                    (" Notification - The Version 6 file is kept as " + strBackup + ".").c_str());
        }
        return InstanceRead::Migrated;
    }

    std::string strSection = InstanceSectionName(type.szPrefix, strPath.c_str());
    std::string strClsid;
    doc.GetValue(strSection.c_str(), "CLSID", "", strClsid);
    if (strClsid != type.szClsid)
        return InstanceRead::Failed;
    if (reader.readKeys)
        reader.readKeys(doc, strSection);
    std::string strValue;
    for (const std::string& key : type.keys)
        if (doc.GetValue(strSection.c_str(), key.c_str(), "", strValue))
            return InstanceRead::Read;
    return InstanceRead::Failed;
}

} // namespace sentrel
