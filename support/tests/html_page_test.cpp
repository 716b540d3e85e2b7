// The HTML page kit: escaping, posted form fields, the page text buffer, the origname rule
// and the common apply procedure on real files.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include <winplat/comptr.h>
#include <winplat/winnls.h>

#include "html_page.h"
#include "testkit.h"

using testkit::TempDir;

namespace {

struct Case {
    std::string input;
    std::string expected;
};

TEST(HtmlEscape, ReplacesTheFourMarkupCharactersAndNothingElse) {
    const std::vector<Case> cases = {
        {"a\"b&c<d>e", "a&quot;b&amp;c&lt;d&gt;e"},
        {"it's\there", "it's\there"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"&amp;", "&amp;amp;"},
        {"caf\xE9 \x01\x7F", "caf\xE9 \x01\x7F"},
        {"", ""},
        {std::string("ab\0<c", 5), "ab"}, // the text ends at its NUL
    };
    for (const Case& c : cases)
        EXPECT_EQ(HtmlEscape(c.input), c.expected) << c.input;
}

struct FieldCase {
    std::string form;
    const char* name;
    std::string expected;
};

TEST(GetFormField, ReadsTheValueOfAFieldWhereItBegins) {
    const std::vector<FieldCase> cases = {
        {"message=hello+world&port=514", "message", "hello world"},
        {"address=10.0.0.5&message=50%25+off", "message", "50%25 off"}, // escapes stay
        {"port=514&message=hello", "message", "hello"},
        {"message=", "message", ""},
        {"message=a\r\nb&x=1", "message", "a"}, // CR ends a text field
        {"message=a\nb", "message", "a"},
        {"message=a%0D%0Ab", "message", "a%0D%0Ab"}, // an encoded line break stays
        // A name matches only at the start of a field: not the end of a longer name...
        {"origname=&name=x", "name", "x"},
        {"xmessage=wrong&message=right", "message", "right"},
        // ...nor text inside another field's value.
        {"message=port=1&port=2", "port", "2"},
        {"type=Syslog&message=a&message=b", "message", "a"}, // the first one counts
        {std::string("message=ab\0cd", 13), "message", "ab"},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(GetFormField(c.form, c.name, "DEFAULT"), c.expected) << c.form;
}

TEST(GetFormField, AbsentFieldOrEmptyFormGivesTheDefault) {
    const std::vector<FieldCase> cases = {
        {"", "message", "DEFAULT"},
        {"port=514", "message", "DEFAULT"},
        {"xmessage=1", "message", "DEFAULT"},
        {"address=message=1", "message", "DEFAULT"},
        {"message", "message", "DEFAULT"}, // no "=": not a field of that name
        {std::string("\0message=1", 10), "message", "DEFAULT"},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(GetFormField(c.form, c.name, "DEFAULT"), c.expected) << c.form;
}

TEST(GetFormIntField, ReadsADecimalNumberThatOnlyNulOrAmpersandEnds) {
    struct IntCase {
        std::string form;
        int expected;
    };
    const std::vector<IntCase> cases = {
        {"port=514&address=x", 514},
        {"port=&address=x", 0}, // present but empty: 0, not the default
        {"port=abc", 0},
        {"port=+7", 7},       // "+" is a blank, and blanks lead
        {"port=-12abc", -12}, // stops at the first non-digit
        {"port=\r\n42", 42},  // CR and LF do not end a number field
        {"port=4\r\n2", 4},
        {"port=99999999999", INT_MAX}, // beyond the 32-bit range: its end
        {"port=-99999999999", INT_MIN},
        {"xport=1&port=2", 2},
        {"address=port=1", -1}, // inside another value: absent
        {"", -1},
    };
    for (const IntCase& c : cases)
        EXPECT_EQ(GetFormIntField(c.form, "port", -1), c.expected) << c.form;
}

TEST(OrigName, SecondPieceBetweenSlashesElseTheFirst) {
    const std::vector<Case> cases = {
        {"Syslog/Alpha", "Alpha"}, {"Alpha", "Alpha"},  {"/", ""}, {"x/Lobby/y", "Lobby"},
        {"//a//b//", "b"},         {"/Alpha", "Alpha"}, {"", ""},  {"Front desk", "Front desk"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstanceNameFromOrigName(c.input), c.expected) << c.input;
}

TEST(InstanceNameOfPath, TextAfterTheLastBackslash) {
    const std::vector<Case> cases = {
        {"Z:\\notify\\Front desk", "Front desk"},
        {"C:\\a\\b\\", ""},
        {"Router", ""}, // no backslash: no name
        {"\\x", "x"},
        {"Z:/notify/Front", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstanceNameOfPath(c.input), c.expected) << c.input;
    ASSERT_TRUE(WinplatSetACP(932));
    EXPECT_EQ(InstanceNameOfPath("Z:\\d\\\x95\x5C"), "\x95\x5C"); // a trail byte 0x5C
    WinplatSetACP(1252);
}

TEST(PlainInstanceName, RefusesNamesThatLeaveTheDirectory) {
    for (const char* name : {"", ".", "..", "a\\b", "..\\x", "a/b", "\\"})
        EXPECT_FALSE(IsPlainInstanceName(name)) << name;
    for (const char* name : {"Router", "Router alarms", "...", ".hidden", "a.b", "Router|1"})
        EXPECT_TRUE(IsPlainInstanceName(name)) << name;
}

TEST(PlainInstanceName, ADoubleByteTrailByteIsNoBackslash) {
    const std::string hyou = "\x95\x5C"; // one character in code page 932
    EXPECT_FALSE(IsPlainInstanceName(hyou)) << "code page 1252 reads a backslash";
    ASSERT_TRUE(WinplatSetACP(932));
    EXPECT_TRUE(IsPlainInstanceName(hyou));
    EXPECT_FALSE(IsPlainInstanceName(hyou + "\\x"));
    WinplatSetACP(1252);
}

TEST(HtmlPage, RowsGrowThePageWithoutCuttingAnyValue) {
    CHtmlPage page;
    page.Append(kHtmlPageHead);
    std::string big(100000, 'x');
    page.AppendFormat("<td>%s</td><td>%d</td>", big.c_str(), -42);
    page.AppendFormat("[%s]", "");
    page.Append(kHtmlPageFooter);
    std::string expected =
        std::string(kHtmlPageHead) + "<td>" + big + "</td><td>-42</td>[]" + kHtmlPageFooter;
    EXPECT_EQ(page.Text(), expected);

    BSTR bstr = nullptr;
    ASSERT_EQ(page.Detach(&bstr), S_OK);
    winplat::Bstr owned = winplat::Bstr::Adopt(bstr);
    EXPECT_EQ(owned.Length(), expected.size());
    EXPECT_EQ(page.Detach(nullptr), E_FAIL);
}

TEST(HtmlPage, FooterKeepsItsFixedEndsAndHasNoTimeOfItsOwn) {
    std::string footer = kHtmlPageFooter;
    EXPECT_EQ(footer.rfind("</tr></table><hr></BODY>\r\n<author><i>", 0), 0u);
    EXPECT_TRUE(footer.ends_with("</i></author>\r\n</HTML>"));
    EXPECT_NE(footer.find("<b>"), std::string::npos);
    EXPECT_EQ(footer.find('%'), std::string::npos);
}

// The apply procedure against a real directory; the save writes the file it is given.
class ApplyForm : public ::testing::Test {
protected:
    HRESULT Apply(const std::string& form) {
        PostedFormTarget target;
        target.log = [this](const std::string& text) { log += text; };
        target.pszSaveFailure = " Test - Failed saving file.";
        target.strNameExists = " Test - Name exists.";
        target.save = [this](const std::string& path) {
            saved.push_back(path);
            return S_OK;
        };
        return ApplyInstanceForm(dir.ZPath(), form, target);
    }
    TempDir dir;
    std::string log;
    std::vector<std::string> saved;
};

TEST_F(ApplyForm, NewInstanceIsWrittenUnderItsName) {
    EXPECT_EQ(Apply("origname=&instancename=Router+alarms&port=1"), S_OK);
    EXPECT_EQ(saved, std::vector<std::string>{dir.ZPath() + "\\Router alarms"});
    EXPECT_EQ(log, "");
}

TEST_F(ApplyForm, EditedInstanceIsRewrittenUnderItsOrigname) {
    testkit::WriteFile(dir / "Alpha", "old");
    for (const char* form : {"origname=Alpha&instancename=Beta", "origname=Syslog/Alpha"}) {
        saved.clear();
        EXPECT_EQ(Apply(form), S_OK) << form;
        EXPECT_EQ(saved, std::vector<std::string>{dir.ZPath() + "\\Alpha"}) << form;
    }
}

TEST_F(ApplyForm, NamesOutsideTheDirectoryWriteNothing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"origname=&instancename=", ""},
        {"instancename=..", ".."},
        {"instancename=.", "."},
        {"instancename=..\\escape", "..\\escape"},
        {"instancename=sub/escape", "sub/escape"},
        {"origname=/", ""},
        {"origname=Syslog/..", ".."},
        {"origname=a/..\\..\\x", "..\\..\\x"},
    };
    for (const auto& [form, name] : cases) {
        log.clear();
        EXPECT_EQ(Apply(form), E_FAIL) << form;
        EXPECT_EQ(log, dir.ZPath() + "\\" + name + " Test - Failed saving file.\r\n") << form;
    }
    EXPECT_TRUE(saved.empty());
}

TEST_F(ApplyForm, NewInstanceNeverReplacesAnExistingOne) {
    testkit::WriteFile(dir / "Router", "kept");
    EXPECT_EQ(Apply("origname=&instancename=Router&port=1"), E_FAIL);
    EXPECT_TRUE(saved.empty());
    EXPECT_EQ(log, dir.ZPath() + "\\Router Test - Name exists.\r\n");
    EXPECT_EQ(testkit::ReadFile(dir / "Router"), "kept");
}

} // namespace
