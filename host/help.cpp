// "sentrel COMMAND --help": the lines of the program's usage that describe COMMAND, so
// that one text says what every command takes.
#include <cstdio>
#include <sstream>

#include "host.h"

namespace host {

namespace {

// Options whose next word is their value, never a request for help.
bool TakesValue(const std::string& option) {
    for (const char* name :
         {"--var", "--dir", "--form", "--listen", "--install-dir", "--address", "--port", "--user",
          "--password-file", "--backend", "--simulation-file", "--registry", "--script", "--name",
          "--tls-cert", "--tls-key", "--server-name"})
        if (option == name)
            return true;
    return false;
}

} // namespace

bool WantsHelp(const Args& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h")
            return true;
        if (TakesValue(args[i]))
            ++i;
    }
    return false;
}

// A command's entry is the line "  COMMAND ..." with the lines indented deeper below it;
// its description stands from column 32 on.
void PrintCommandUsage(const char* usage, const std::string& command) {
    constexpr size_t kDescription = 32;
    std::istringstream in(usage);
    std::string line, text;
    bool inEntry = false;
    auto add = [&](const std::string& part) {
        size_t indent = part.find_first_not_of(' ');
        if (indent == std::string::npos)
            return;
        if (indent >= kDescription)
            text += "         " + part.substr(indent) + "\n";
        else if (inEntry && indent > 2)
            text += "           " + part.substr(indent) + "\n";
        else
            text += (text.empty() ? "usage: " : "       ") +
                    std::string("sentrel [--registry FILE] ") + part.substr(indent) + "\n";
    };
    while (std::getline(in, line)) {
        size_t indent = line.find_first_not_of(' ');
        if (indent == 2 && line.compare(2, command.size() + 1, command + " ") == 0) {
            inEntry = false;
            // The usage, then the description that shares its line.
            bool shared = line.size() > kDescription && line[kDescription - 1] == ' ' &&
                          line[kDescription - 2] == ' ';
            std::string spec = shared ? line.substr(0, kDescription) : line;
            while (!spec.empty() && spec.back() == ' ')
                spec.pop_back();
            add(spec);
            inEntry = true;
            if (shared)
                add(std::string(kDescription, ' ') + line.substr(kDescription));
        } else if (inEntry && indent != std::string::npos && indent > 2) {
            add(line);
        } else {
            inEntry = false;
        }
    }
    if (text.empty())
        text = usage;
    std::fputs(text.c_str(), stdout);
}

} // namespace host
