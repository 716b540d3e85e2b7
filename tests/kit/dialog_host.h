// Runs a plug-in's settings dialog through "sentrel dialog", headless, with an operator
// script, in a registry and notification folder of the test's own.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testkit.h"

namespace testkit {

struct DialogRun {
    int status = -1;
    std::vector<std::string> lines; // the transcript
    std::string err;
    // The transcript joined by line breaks, for failure messages.
    std::string Text() const;
};

class DialogHostTest : public ::testing::Test {
protected:
    // Registers the plug-in build/plugins/<module>.so in a fresh registry.
    explicit DialogHostTest(std::string module) : m_module(std::move(module)) {}
    void SetUp() override;

    // "new TYPE" or "edit TYPE --name NAME", played with the script's lines, on the
    // notification folder or on folder when one is given.
    DialogRun Dialog(const std::string& arguments, const std::vector<std::string>& script,
                     const std::filesystem::path& folder = {});
    // A file of the notification folder.
    std::string File(const std::string& name) const { return ReadFile(notify / name); }

    TempDir dir;
    std::filesystem::path notify;
    std::string notifyZ; // the folder in the form the plug-in receives it

private:
    std::string m_module;
};

} // namespace testkit
