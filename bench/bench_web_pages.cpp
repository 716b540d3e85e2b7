// SysLog's web configuration per call: the edit page of an instance and a posted form
// applied to it, each against a baseline that does the same work with plain calls in the
// same run: read the same file, format the same bytes with one snprintf per row (and hand
// the page out as a BSTR), or write the same file bytes and put them durably in place.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <winplat/comptr.h>

#include "html_page.h"
#include "ratio.h"
#include "recording_host.h"
#include "syslog.h"
#include "testkit.h"
#include "text.h"

namespace {

constexpr char kName[] = "Router alarms";
constexpr char kAddress[] = "10.0.0.5";
constexpr char kMessage[] = "%H reports link down on port 7 (alarm level <high>)";

struct Fixture {
    Fixture() {
        path = dir / kName;
        testkit::WriteFile(
            path, std::string("[Syslog\\") + kName + "]\r\nCLSID=" + SYSLOG_INSTANCE_TYPE_TEXT +
                      "\r\nAddress=" + kAddress + "\r\nMessage=" + kMessage + "\r\nPort=514\r\n");
        CoInitialize(nullptr);
        sentrel::CreateComponent<SysLog>(nullptr, IID_ISentrelNotificationWeb, web.PutVoid());
    }
    ~Fixture() {
        web.Reset();
        CoUninitialize();
    }
    testkit::TempDir dir;
    std::filesystem::path path;
    winplat::ComPtr<ISentrelNotificationWeb> web;
};

void BM_GetEditPage(benchmark::State& state) {
    Fixture f;
    winplat::Bstr path(testkit::Utf16(testkit::ZPath(f.path)));
    for (auto _ : state) {
        BSTR html = nullptr;
        if (f.web->GetEditPage(path.Get(), &html) != S_OK)
            state.SkipWithError("GetEditPage failed");
        SysFreeString(html);
    }
}
BENCHMARK(BM_GetEditPage);

void BM_EditPageSnprintf(benchmark::State& state) {
    Fixture f;
    std::string posix = f.path.string();
    // The page the plug-in makes, cut into the pieces around its rows.
    winplat::Bstr path(testkit::Utf16(testkit::ZPath(f.path)));
    winplat::Bstr html;
    f.web->GetEditPage(path.Get(), html.Put());
    std::string page = sentrel::AnsiFromBstr(html.Get());
    std::string head = page.substr(0, page.find("<input type=\"hidden\" name=\"origname\""));
    std::string tail = page.substr(page.find("</table></td></tr><tr><td ALIGN=RIGHT>"));
    std::string message = HtmlEscape(kMessage);
    auto format = [&] {
        std::string out = head;
        char row[1024];
        std::snprintf(row, sizeof row, "<input type=\"hidden\" name=\"origname\" value=\"%s\">\r\n",
                      kName);
        out += row;
        std::snprintf(row, sizeof row,
                      "<tr><td>Instance Name:</td><td><input type=TEXT DISABLED size=40 "
                      "maxlength=512 name=instancename value=\"%s\"></td></tr>\r\n",
                      kName);
        out += row;
        std::snprintf(row, sizeof row,
                      "<tr><td>Port:</td><td><input type=TEXT size=15 maxlength=255 name=port "
                      "value=\"%d\"></td></tr>\r\n",
                      514);
        out += row;
        std::snprintf(row, sizeof row,
                      "<tr><td>Address:</td><td><input type=TEXT size=40 maxlength=255 "
                      "name=address value=\"%s\"></td></tr>\r\n",
                      kAddress);
        out += row;
        std::snprintf(row, sizeof row,
                      "<tr><td>Message:</td><td><textarea name=message cols=40 rows=3 "
                      ">%s</textarea></td></tr>\r\n",
                      message.c_str());
        out += row;
        return out + tail;
    };
    if (format() != page)
        state.SkipWithError("the baseline formats other bytes");
    for (auto _ : state) {
        char file[4096];
        int fd = open(posix.c_str(), O_RDONLY);
        ssize_t n = read(fd, file, sizeof file);
        close(fd);
        benchmark::DoNotOptimize(n);
        BSTR bstr = sentrel::BstrFromAnsi(format());
        SysFreeString(bstr);
    }
}
BENCHMARK(BM_EditPageSnprintf);

constexpr char kForm[] = "page=notify&action=return&type=Syslog&origname=Router+alarms&port=514"
                         "&address=10.0.0.5&message=%25H+reports+link+down+on+port+7&end=end";

void BM_ApplyPostedForm(benchmark::State& state) {
    Fixture f;
    winplat::Bstr dirText(testkit::Utf16(testkit::ZPath(f.dir.path())));
    winplat::Bstr form(testkit::Utf16(kForm));
    for (auto _ : state) {
        if (f.web->ApplyPostedForm(dirText.Get(), form.Get()) != S_OK)
            state.SkipWithError("ApplyPostedForm failed");
    }
}
BENCHMARK(BM_ApplyPostedForm);

void BM_ApplySnprintf(benchmark::State& state) {
    Fixture f;
    std::string posix = f.path.string();
    std::string temp = (f.dir / ".apply.tmp").string();
    std::string expected;
    {
        winplat::Bstr dirText(testkit::Utf16(testkit::ZPath(f.dir.path())));
        winplat::Bstr form(testkit::Utf16(kForm));
        f.web->ApplyPostedForm(dirText.Get(), form.Get());
        expected = testkit::ReadFile(f.path);
    }
    auto format = [] {
        std::string out;
        char row[1024];
        std::snprintf(row, sizeof row, "[Syslog\\%s]\r\n", kName);
        out += row;
        std::snprintf(row, sizeof row, "CLSID=%s\r\n", SYSLOG_INSTANCE_TYPE_TEXT);
        out += row;
        std::snprintf(row, sizeof row, "Address=%s\r\n", kAddress);
        out += row;
        std::snprintf(row, sizeof row, "Message=%s\r\n", "%25H reports link down on port 7");
        out += row;
        std::snprintf(row, sizeof row, "Port=%d\r\n", 514);
        out += row;
        return out;
    };
    if (format() != expected)
        state.SkipWithError("the baseline writes other bytes");
    for (auto _ : state) {
        std::string out = format();
        // A durable replace, as every instance save is: the new file synced, renamed over
        // the old one, and the folder synced.
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ssize_t n = write(fd, out.data(), out.size());
        fsync(fd);
        close(fd);
        rename(temp.c_str(), posix.c_str());
        int folder = open(f.dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        fsync(folder);
        close(folder);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_ApplySnprintf);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"BM_GetEditPage", "BM_EditPageSnprintf", "< 3"},
                                 {"BM_ApplyPostedForm", "BM_ApplySnprintf", "< 3"}});
}
