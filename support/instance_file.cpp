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
        if (!BackUpVersion6File(strPath.c_str()))
            LogFailure(pHost, strPath, kBackUpFailed);
        if (!reader.writeInstance || !reader.writeInstance(strPath))
            LogFailure(pHost, strPath, type.szRewriteFailed ? type.szRewriteFailed : "");
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
