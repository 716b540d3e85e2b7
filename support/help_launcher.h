// The one operation behind every Help button of the notifiers' dialogs: opens a topic of
// the plug-in's help file, looking for a bare file name in the host's installation
// folder, and tells the operator when nothing could be shown.
#pragma once

#include <winplat/winuser.h>

// hWndOwner owns the message boxes (null: none); nHelpId 0 asks for the contents.
void LaunchHelp(HWND hWndOwner, const char* pszHelpFile, UINT nHelpId);
