// What NewInstanceDialog and EditInstanceDialog of every notifier do around its settings
// dialog: run it modally with the module's resources selected, and hand the name it ends
// with to the host.
#pragma once

#include <string>

#include <winplat/afxdlg.h>
#include <winplat/oleauto.h>

#include "component.h"
#include "text.h"

namespace sentrel {

// makeDialog(strDirectory, pstrName) builds the dialog: pstrName is null for a new
// instance, else the name to edit. For an edit, a null name opens the dialog as for a new
// instance when bNullNameIsNew, otherwise as an edit of the empty name. OK: the host's
// BSTR (an edit's is freed first) receives the dialog's m_strName, S_OK. Cancel: E_FAIL,
// *pbstrName untouched.
template <class MakeDialog>
HRESULT RunSettingsDialog(BSTR bstrDirectory, BSTR* pbstrName, bool bEdit, bool bNullNameIsNew,
                          MakeDialog makeDialog) {
    if (!pbstrName)
        return E_FAIL;
    afx::CModuleState state(ComponentModule::GetModuleInstance());
    std::string strName = bEdit ? AnsiFromBstr(*pbstrName) : std::string();
    bool bEditName = bEdit && (*pbstrName || !bNullNameIsNew);
    auto dlg = makeDialog(AnsiFromBstr(bstrDirectory), bEditName ? &strName : nullptr);
    if (dlg.DoModal() != IDOK)
        return E_FAIL;
    if (bEdit)
        SysFreeString(*pbstrName);
    *pbstrName = BstrFromAnsi(dlg.m_strName);
    return S_OK;
}

} // namespace sentrel
