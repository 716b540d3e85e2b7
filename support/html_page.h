// The HTML page kit of the web configuration: escaping, reading posted form fields, the
// frame every configuration page shares, and the common way a posted form becomes an
// instance file. All text is 8-bit text in the ANSI code page.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <winplat/objbase.h>

// The text with every double quote, ampersand, less-than and greater-than replaced by its
// entity; every other byte is copied. The text ends at its first NUL.
std::string HtmlEscape(std::string_view text);

// The value of the field pszName in a posted form ("name=value" pairs joined by "&"), or
// the default when the form is empty or has no such field. A name matches only where a
// field begins: at the start of the form or right after "&". The value ends at NUL, CR, LF
// or "&"; each "+" becomes a blank and nothing else is decoded ("%" escapes stay).
std::string GetFormField(std::string_view form, const char* pszName, const char* pszDefault);
// Where the value of the field pszName begins in a posted form (just after "name="), or
// npos; a name matches only where a field begins.
size_t FindFormFieldValue(std::string_view form, const char* pszName);
// As GetFormField, except that the value ends only at NUL or "&", and is read as a decimal
// number (leading blanks and a sign allowed, stops at the first non-digit, no digits: 0;
// values beyond the 32-bit range stop at its ends).
int GetFormIntField(std::string_view form, const char* pszName, int nDefault);

// The fixed beginning of every page's head, up to the cell that holds the page title.
inline constexpr char kHtmlPageHead[] =
    "<HTML><HEAD><TITLE>Sentrel</TITLE></HEAD><BODY bgcolor=\"#ffffff\"><FONT "
    "COLOR=\"#000000\"><TABLE BORDER=2 CELLPADDING=3 CELLSPACING=0 BGCOLOR=\"#c0c0c0\"><TR><TH "
    "COLSPAN=2 ALIGN=left BGCOLOR=\"#0080c0\"><table width=\"100%\" border=0><tr><td>";

// The footer that closes every page: product link, the maker's rights notice with a link
// to its site, and the date stamp of this release. Fixed text: no time of day goes in.
inline constexpr char kHtmlPageFooter[] =
    "</tr></table><hr></BODY>\r\n<author><i><a "
    "href=\"https://www.calvaro.example/sentrel/\">Sentrel</a> Copyright &copy; 2001 <a "
    "href=\"https://www.calvaro.example/\">Calvaro, Inc.</a> All rights reserved.  "
    "<b>2001-06-18 12:00</b></i></author>\r\n</HTML>";

// A page under construction: pieces are appended in order; rows are formatted straight
// into the page, which grows as needed, so no value is ever cut.
class CHtmlPage {
public:
    CHtmlPage();
    void Append(std::string_view text);
    // Appends a row formatted as printf does.
    void AppendFormat(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    const std::string& Text() const { return m_text; }
    // Hands the page out as a newly allocated BSTR (the caller owns it). S_OK, or E_FAIL
    // when the string cannot be allocated or the pointer is null.
    HRESULT Detach(BSTR* pbstrHtml);

private:
    std::string m_text;
};

// The instance that an "origname" value names: the value split at "/" as the C library's
// tokenizer does (runs of "/" separate, empty pieces are skipped); the second piece when
// there is one, otherwise the first; empty when the value holds only slashes.
std::string InstanceNameFromOrigName(std::string_view origName);

// The instance name of a path: the text after its last backslash (never inside a
// double-byte character); empty when there is none.
std::string InstanceNameOfPath(std::string_view path);

// Whether a posted instance name stays a file in the notification directory: not empty,
// not "." or "..", and without "\" or "/" (a double-byte character's trail byte is not a
// separator).
bool IsPlainInstanceName(std::string_view name);

// What a plug-in gives the common apply procedure.
struct PostedFormTarget {
    // One WriteLog call, made only while the plug-in holds a host interface.
    std::function<void(const std::string&)> log;
    // The plug-in's save-failure text, logged after the path (" Syslog Notification -
    // Failed saving file.").
    const char* pszSaveFailure;
    // Logged after the path when a new instance's name is taken.
    std::string strNameExists;
    // Writes the instance at the path (ANSI); its result is the procedure's.
    std::function<HRESULT(const std::string& strPath)> save;
};

// Applies a posted form: a form with "origname" rewrites that instance, one without it
// creates the instance "instancename". The path is the directory, "\" and the name. A name
// that would leave the directory writes nothing (path and save-failure text logged); a new
// instance whose name is taken leaves the existing file alone (path and name-exists text
// logged). Both return E_FAIL; otherwise the result of save.
HRESULT ApplyInstanceForm(const std::string& strDirectory, std::string_view form,
                          const PostedFormTarget& target);
