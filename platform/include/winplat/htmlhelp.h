// The HTML Help viewer.
//
// A help file here is a folder named like the compiled file ("Tellumo.chm") holding HTML
// pages, the contents page "index.htm" and "context.map", whose lines map a context
// number to a page ("999222 settings.htm"). See docs/help.md.
#pragma once

#include "winuser.h"

#define HH_DISPLAY_TOPIC 0x0000
#define HH_DISPLAY_TOC 0x0001
#define HH_HELP_CONTEXT 0x000F
#define HH_CLOSE_ALL 0x0012

// The class whose registration under HKEY_CLASSES_ROOT\CLSID tells that the viewer is
// installed.
#define HH_CONTROL_CLSID_TEXT "{adb880a6-d8ff-11cf-9377-00aa003b7a11}"

// Shows a topic of the help file: the page mapped to the context number (HH_HELP_CONTEXT,
// dwData the number), the contents (HH_DISPLAY_TOC) or a page named in dwData
// (HH_DISPLAY_TOPIC). Returns the viewer's window, or null when the file or topic is
// not there. HH_CLOSE_ALL closes the viewer's window.
WINPLAT_API HWND HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData);
