#include "dialog_host.h"

#include <sstream>

namespace testkit {

std::string DialogRun::Text() const {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text + err;
}

void DialogHostTest::SetUp() {
    notify = dir / "notify";
    std::filesystem::create_directories(notify);
    notifyZ = ZPath(notify);
    std::string host =
        HostPath().string() + " --registry " + ShellQuote((dir / "reg.reg").string());
    CommandResult init = RunCommand(host + " init");
    ASSERT_EQ(init.status, 0) << init.err;
    CommandResult reg = RunCommand(host + " register " + ShellQuote(PluginPath(m_module).string()));
    ASSERT_EQ(reg.status, 0) << reg.err;
}

DialogRun DialogHostTest::Dialog(const std::string& arguments,
                                 const std::vector<std::string>& script,
                                 const std::filesystem::path& folder) {
    std::string text;
    for (const std::string& line : script)
        text += line + "\n";
    WriteFile(dir / "script.txt", text);
    CommandResult run = RunCommand(
        HostPath().string() + " --registry " + ShellQuote((dir / "reg.reg").string()) + " dialog " +
        arguments + " --dir " + ShellQuote((folder.empty() ? notify : folder).string()) +
        " --script " + ShellQuote((dir / "script.txt").string()));
    DialogRun result;
    result.status = run.status;
    result.err = run.err;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        result.lines.push_back(line);
    return result;
}

} // namespace testkit
