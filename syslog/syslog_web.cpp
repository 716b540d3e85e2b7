// SysLog's web configuration: the page for a new instance, the page for editing one, and
// the form posted from either.
#include <cstdio>

#include <winplat/comptr.h>
#include <winplat/winbase.h>

#include "html_page.h"
#include "syslog.h"
#include "text.h"

namespace {

// After the common head: the title, the help link.
constexpr char kNewPageTitle[] =
    "New SysLog Notification</td><td align=right><A href=\"h_edtnotsyslog.htm\" target=_NEW>"
    "Help</A></td></tr></table></TH></TR>";

constexpr char kNewPageForm[] =
    "<TR><TD WIDTH=\"98%\" VALIGN=top><TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 "
    "CELLSPACING=2 BGCOLOR=\"#c0c0c0\"><FORM method=\"post\" ACTION=\"_maincfgret.cgi\"> "
    "<input type=\"hidden\" name=\"page\" value=\"notify\"><input type=\"hidden\" "
    "name=\"action\" value=\"return\"> <input type=hidden name=type value=\"Syslog\"><input "
    "type=\"hidden\" name=\"origname\" ><tr><td>Instance Name:</td><td><input size=40 "
    "maxlength=512 name=instancename ></td></tr><TR><TD>Port:</TD>\t<TD><input size=10 "
    "maxlength=255 name=port></TD></TR><TR><TD>Address:</TD><TD><input size=40 maxlength=255 "
    "name=address></TD></TR><TR><TD>Message:</TD>\t<TD><INPUT  size=40 maxlength=255 "
    "name=message> </TD></TR><TR><TD></TD><TD></TD></TR></TABLE></TD></TR><tr><td ALIGN=right>"
    "<input type=hidden name=end value=end><input type=submit value=\"Submit\"></td></tr>"
    "</FORM></TABLE>";

constexpr char kNewPageNavigation[] =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi> <input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n";

// After the common head: the title, the help link and the start of the form cell.
constexpr char kEditPageTitle[] =
    "Edit SysLog Notification</td><td align=right><a href=\"h_edtnotsyslog.htm\" "
    "target=\"_NEW\">Help</a></td></tr></table></TH></TR><TR><TD WIDTH=\"98%\" VALIGN=TOP>";

constexpr char kEditPageFormStart[] =
    "<TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 CELLSPACING=2 BGCOLOR=\"#C0C0C0\"><FORM "
    "method=\"post\" ACTION=\"_maincfgret.cgi\"> <input type=\"hidden\" name=\"page\" "
    "value=\"notify\"><input type=\"hidden\" name=\"action\" value=\"return\"> <input "
    "type=hidden name=type value=\"Syslog\">";

constexpr char kOldNameRow[] = "<input type=\"hidden\" name=\"origname\" value=\"%s\">\r\n";

constexpr char kInstanceNameRow[] =
    "<tr><td>Instance Name:</td><td><input type=TEXT DISABLED size=40 maxlength=512 "
    "name=instancename value=\"%s\"></td></tr>\r\n";

constexpr char kPortRow[] =
    "<tr><td>Port:</td><td><input type=TEXT size=15 maxlength=255 name=port value=\"%d\"></td>"
    "</tr>\r\n";

constexpr char kAddressRow[] =
    "<tr><td>Address:</td><td><input type=TEXT size=40 maxlength=255 name=address value=\"%s\">"
    "</td></tr>\r\n";

constexpr char kMessageRow[] =
    "<tr><td>Message:</td><td><textarea name=message cols=40 rows=3 >%s</textarea></td></tr>"
    "\r\n";

constexpr char kEditPageFormEnd[] =
    "</table></td></tr><tr><td ALIGN=RIGHT><input type=hidden name=end value=end><input "
    "type=\"SUBMIT\" value=\"Submit\"></td></tr></form></table>\r\n";

constexpr char kEditPageNavigation[] =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi><input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi><input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

constexpr char kSaveFailure[] = " Syslog Notification - Failed saving file.";
constexpr UINT IDS_NAME_EXISTS = 106;

} // namespace

HRESULT SysLog::GetNewPage(BSTR /*bstrDirectory*/, BSTR* pbstrHtml) {
    CHtmlPage page;
    page.Append(kHtmlPageHead);
    page.Append(kNewPageTitle);
    page.Append(kNewPageForm);
    page.Append(kNewPageNavigation);
    page.Append(kHtmlPageFooter);
    return page.Detach(pbstrHtml);
}

HRESULT SysLog::GetEditPage(BSTR bstrInstancePath, BSTR* pbstrHtml) {
    LONG nPort = SYSLOG_DEFAULT_PORT;
    std::string strAddress;
    std::string strMessage;
    if (FAILED(LoadSyslogInstance(bstrInstancePath, nPort, strAddress, strMessage))) {
        Log("Syslog::Notify:Failed to load instance data\r\n");
        return E_FAIL;
    }
    // Every stored value is escaped, so none can put markup into the page; a browser
    // shows and posts back the original text.
    std::string strName = HtmlEscape(InstanceNameOfPath(sentrel::AnsiFromBstr(bstrInstancePath)));

    CHtmlPage page;
    page.Append(kHtmlPageHead);
    page.Append(kEditPageTitle);
    page.Append(kEditPageFormStart);
    page.AppendFormat(kOldNameRow, strName.c_str());
    page.AppendFormat(kInstanceNameRow, strName.c_str());
    page.AppendFormat(kPortRow, static_cast<int>(nPort));
    page.AppendFormat(kAddressRow, HtmlEscape(strAddress).c_str());
    page.AppendFormat(kMessageRow, HtmlEscape(strMessage).c_str());
    page.Append(kEditPageFormEnd);
    page.Append(kEditPageNavigation);
    page.Append(kHtmlPageFooter);
    return page.Detach(pbstrHtml);
}

HRESULT SysLog::ApplyPostedForm(BSTR bstrDirectory, BSTR bstrFormData) {
    std::string strForm = sentrel::AnsiFromBstr(bstrFormData);
    LONG nPort = GetFormIntField(strForm, "port", 0);
    std::string strAddress = GetFormField(strForm, "address", "");
    std::string strMessage = GetFormField(strForm, "message", "");

    char szNameExists[256] = {};
    LoadStringA(sentrel::ComponentModule::GetModuleInstance(), IDS_NAME_EXISTS, szNameExists,
                sizeof szNameExists);
    PostedFormTarget target;
    target.log = [this](const std::string& strText) { Log(strText); };
    target.pszSaveFailure = kSaveFailure;
    target.strNameExists = std::string(" Syslog Notification - ") + szNameExists;
    target.save = [&](const std::string& strPath) {
        winplat::Bstr bstrPath = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
        return SaveSyslogInstance(bstrPath.Get(), nPort, strAddress, strMessage);
    };
    return ApplyInstanceForm(sentrel::AnsiFromBstr(bstrDirectory), strForm, target);
}
