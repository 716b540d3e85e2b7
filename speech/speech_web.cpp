// TTSNotification's web configuration: the page for a new instance (preset from the
// Default instance), the page for editing one, and the form posted from either.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <winplat/comptr.h>

#include "html_page.h"
#include "instance_file.h"
#include "text.h"
#include "tts_notification.h"

namespace {

constexpr UINT IDS_NEW_PAGE_TITLE = 101;
constexpr UINT IDS_EDIT_PAGE_TITLE = 102;

constexpr char kRateRow[] =
    "<TR><TD>Speak Rate</TD><TD><input size=10 maxlength=10\tname=speakrate value=\"%s\">  "
    "%s</TD></TR>";

constexpr char kVolumeRow[] =
    "<TR><TD>Volume </TD><TD><input size=10 maxlength=10\t\t\t\tname=volumerate   value=\"%s\">"
    "  %s</TD></TR>";

constexpr char kMessageRow[] =
    "<tr><td>Speech Message:</td><td><textarea name=message cols=40 rows=8 >%s</textarea></td>"
    "</tr>\r\n";

constexpr char kNewTitleEnd[] =
    "</td><td align=right><A href=\"h_edtnotTTS.htm\" target=_NEW>Help</A></td></tr></table>"
    "</TH></TR>";

constexpr char kNewFormStart[] =
    "<TR><TD WIDTH=\"98%\" VALIGN=top><TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=0 "
    "CELLSPACING=2 BGCOLOR=\"#c0c0c0\"><FORM method=\"post\" ACTION=\"_maincfgret.cgi\"> "
    "<input type=\"hidden\" name=\"page\" value=\"notify\"><input type=\"hidden\" "
    "name=\"origname\" ><input type=\"hidden\" name=\"action\" value=\"return\"> <input "
    "type=hidden name=type value=\"TextSpeech\"><tr><td>Instance Name:</td><td><input size=40 "
    "maxlength=512\tname=instancename ></td></tr>";

constexpr char kNewFormEnd[] =
    "<TR><TD></TD><TD></TD></TR></TABLE></TD></TR><tr><td ALIGN=right><input type=hidden "
    "name=end value=end><input type=submit value=\"Submit\"></td></tr></FORM></TABLE>";

constexpr char kNewNavigation[] =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi> <input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi> <input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

constexpr char kEditTitleEnd[] =
    "</td><td align=right><a href=\"h_edtnotTTS.htm\" target=\"_NEW\">Help</a></td></tr>"
    "</table></TH></TR><TR><TD WIDTH=\"98%\" VALIGN=TOP><TABLE WIDTH=\"100%\" BORDER=0 "
    "CELLPADDING=0 CELLSPACING=2 BGCOLOR=\"#C0C0C0\"><FORM method=\"POST\" "
    "ACTION=\"_maincfgret.cgi\"> <input type=\"hidden\" name=\"page\" value=\"notify\">";

constexpr char kEditOrigNameRow[] =
    "<input type=\"hidden\" name=\"origname\" value=\"%s\"><input type=\"hidden\" "
    "name=\"action\" value=\"return\">\r\n<input type=hidden name=type value=\"TextSpeech\">"
    "\r\n";

constexpr char kEditNameRow[] =
    "<tr><td>Instance Name:</td><td><input type=TEXT DISABLED size=40 maxlength=512 "
    "name=instancename value=\"%s\"></td></tr>\r\n";

constexpr char kEditFormEnd[] =
    "</table></td></tr><tr><td ALIGN=RIGHT><input type=hidden name=end value=end><input "
    "type=SUBMIT value=\"Submit\"></td></tr></form></table>\r\n";

constexpr char kEditNavigation[] =
    "<TABLE BORDER=0 CELLPADDING=0 CELLSPACING=0><tr><td><form method=\"GET\" "
    "action=/_maincfgreg.cgi><input type=\"submit\" name=\"action\" value=\"Notifications\">"
    "</form></td>\r\n<td><form method=\"GET\" action=/_top.cgi><input type=\"submit\" "
    "name=\"action\" value=\"Top view\"></form></td>\r\n";

constexpr char kRateHint[] = "Range is between -10 & 10";
constexpr char kVolumeHint[] = "Range is between 0 & 100";
constexpr char kLoadFailure[] = " - Failed to load notification from disk.";
constexpr char kSaveFailure[] = " Text To Speach Notification - Failed saving file.";
constexpr char kNameExists[] = " Text To Speach Notification - Instance name already exists.  "
                               "Please choose another name";

std::string Title(UINT id) {
    char szTitle[512];
    LoadResourceText(id, szTitle, sizeof szTitle);
    return szTitle;
}

// A number field's value: leading blanks and a sign allowed, stops at the first
// non-digit, no digits gives 0; beyond the 32-bit range it stops at the range's ends.
int NumberOf(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

} // namespace

HRESULT TTSNotification::GetNewPage(BSTR bstrDirectory, BSTR* pbstrHtml) {
    std::string strPath = sentrel::AnsiFromBstr(bstrDirectory) + "\\Default";
    winplat::Bstr bstrPath = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
    int nRate = 0;
    int nVolume = 0;
    std::string strMessage;
    std::string strRate;
    std::string strVolume;
    if (FAILED(LoadSpeechInstance(bstrPath.Get(), &nRate, &nVolume, strMessage))) {
        winplat::Bstr bstrName(u"Default TextSpeech"); // logged in place of the path
        LogLine(bstrName.Get(), kLoadFailure);
    } else {
        strRate = std::to_string(nRate);
        strVolume = std::to_string(nVolume);
    }

    CHtmlPage page;
    page.Append(kHtmlPageHead);
    page.Append(Title(IDS_NEW_PAGE_TITLE));
    page.Append(kNewTitleEnd);
    page.Append(kNewFormStart);
    page.AppendFormat(kRateRow, strRate.c_str(), kRateHint);
    page.AppendFormat(kVolumeRow, strVolume.c_str(), kVolumeHint);
    // The Default instance's message is escaped too: no stored text may put markup into
    // the page.
    page.AppendFormat(kMessageRow, HtmlEscape(strMessage).c_str());
    page.Append(kNewFormEnd);
    page.Append(kNewNavigation);
    page.Append(kHtmlPageFooter);
    return page.Detach(pbstrHtml);
}

HRESULT TTSNotification::GetEditPage(BSTR bstrInstancePath, BSTR* pbstrHtml) {
    int nRate = 0;
    int nVolume = 0;
    std::string strMessage;
    if (FAILED(LoadSpeechInstance(bstrInstancePath, &nRate, &nVolume, strMessage))) {
        LogLine(bstrInstancePath, kLoadFailure);
        return E_FAIL;
    }
    std::string strName = HtmlEscape(InstanceNameOfPath(sentrel::AnsiFromBstr(bstrInstancePath)));

    CHtmlPage page;
    page.Append(kHtmlPageHead);
    page.Append(Title(IDS_EDIT_PAGE_TITLE));
    page.Append(kEditTitleEnd);
    page.AppendFormat(kEditOrigNameRow, strName.c_str());
    page.AppendFormat(kEditNameRow, strName.c_str());
    page.AppendFormat(kRateRow, HtmlEscape(std::to_string(nRate)).c_str(), kRateHint);
    page.AppendFormat(kVolumeRow, HtmlEscape(std::to_string(nVolume)).c_str(), kVolumeHint);
    page.AppendFormat(kMessageRow, HtmlEscape(strMessage).c_str());
    page.Append(kEditFormEnd);
    page.Append(kEditNavigation);
    page.Append(kHtmlPageFooter);
    return page.Detach(pbstrHtml);
}

HRESULT TTSNotification::ApplyPostedForm(BSTR bstrDirectory, BSTR bstrFormData) {
    std::string strForm = sentrel::AnsiFromBstr(bstrFormData);
    int nRate = NumberOf(GetFormField(strForm, "speakrate", ""));
    int nVolume = NumberOf(GetFormField(strForm, "volumerate", ""));
    std::string strMessage = GetFormField(strForm, "message", "");

    PostedFormTarget target;
    target.log = [this](const std::string& strText) {
        winplat::Bstr text = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strText));
        Log(text.Str());
    };
    target.pszSaveFailure = kSaveFailure;
    target.strNameExists = kNameExists;
    target.save = [&](const std::string& strPath) {
        winplat::Bstr bstrPath = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strPath));
        return SaveSpeechInstance(bstrPath.Get(), nRate, nVolume, strMessage);
    };
    return ApplyInstanceForm(sentrel::AnsiFromBstr(bstrDirectory), strForm, target);
}
