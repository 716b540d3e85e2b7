// A real supervisord for tests and benchmarks: started on a loopback ephemeral port with
// the programs asked for, stopped (with its programs) when the object goes.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <winplat/windef.h>

#include "testkit.h"

namespace testkit {

struct SupervisedProgram {
    std::string name;
    std::string command = "/bin/sleep 1000";
    std::string group; // another group's name makes the program "group:name"
    int startsecs = 0; // seconds in STARTING before RUNNING
    int stopwaitsecs = 2;
    bool autostart = false;
};

class Supervisord {
public:
    explicit Supervisord(std::vector<SupervisedProgram> programs, std::string userName = "user",
                         std::string password = "123");
    ~Supervisord();
    Supervisord(const Supervisord&) = delete;
    Supervisord& operator=(const Supervisord&) = delete;

    int port() const { return m_port; }
    const std::string& userName() const { return m_userName; }
    const std::string& password() const { return m_password; }
    const std::filesystem::path& dir() const { return m_dir.path(); }

    // supervisord's state name of a program ("RUNNING", "STOPPED", ...), asked over
    // XML-RPC by the fixture itself; "BAD_NAME" for a program it does not know.
    std::string StateOf(const std::string& name) const;
    // Waits (bounded) until the program is in the state; false if it never gets there.
    bool WaitForState(const std::string& name, const std::string& state,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // supervisorctl against this server, e.g. Ctl("start x").
    CommandResult Ctl(const std::string& arguments) const;
    // The command line that Ctl runs, for benchmarks.
    std::string CtlCommand(const std::string& arguments) const;

    // Sends one XML-RPC request body; returns the HTTP response (status line to body).
    std::string Post(const std::string& body, bool withCredentials = true) const;

    // Makes this server the one the service manager uses for a machine name ("localhost" is
    // the local machine): HKLM\Software\Calvaro\Sentrel\ServiceManager\Machines\<machine>.
    void Configure(const std::string& machine = "localhost") const;

private:
    bool Start();
    void Stop();

    TempDir m_dir;
    std::vector<SupervisedProgram> m_programs;
    std::string m_userName;
    std::string m_password;
    int m_port = 0;
    int m_pid = -1;
};

// A loopback port on which nothing listens (at the moment it is returned).
int UnusedPort();
// The same for UDP: a loopback port no datagram socket is bound to.
int UnusedUdpPort();

// Writes the service manager's settings for a machine name into the registry (values of
// HKLM\Software\Calvaro\Sentrel\ServiceManager\Machines\<machine>, or of the
// ServiceManager key itself when machine is empty).
void SetServiceManagerText(const std::string& machine, const std::string& name,
                           const std::string& value);
void SetServiceManagerNumber(const std::string& machine, const std::string& name, DWORD value);

} // namespace testkit
