// Who may use the web configuration: requests must be addressed to the server itself
// (no DNS rebinding), forms must come from its own pages (no cross-site posts), and an
// address other than loopback needs HTTP Basic credentials and TLS.
#pragma once

#include <string>
#include <vector>

#include <httplib.h>

namespace host {

struct WebListen {
    std::string address; // numeric, without brackets
    int port = 0;
    bool bLoopback = true;
    bool bAnyAddress = false; // 0.0.0.0 or ::
};

// ADDR:PORT: an IPv4 address, [IPv6] or localhost (127.0.0.1). UsageError when malformed.
WebListen ParseListen(const std::string& text);

class WebAccess {
public:
    // serverNames: further host names that requests may be addressed to.
    WebAccess(bool bTls, std::vector<std::string> serverNames)
        : m_bTls(bTls), m_serverNames(std::move(serverNames)) {}

    // Reads USER:PASSWORD lines (blank lines and lines starting with "#" skipped);
    // UsageError when the file cannot be read or holds no credentials.
    void LoadPasswordFile(const std::string& path);
    bool HasCredentials() const { return !m_authorizations.empty(); }

    // Call once the port is known.
    void SetListening(const WebListen& listen, int port);

    // Answers a request that may not go on (403, or 401 asking for credentials) and
    // returns true; false when it may.
    bool Refuse(const httplib::Request& req, httplib::Response& res) const;

    // The origin of this server's pages, as the URL it prints ("http://127.0.0.1:8080").
    const std::string& Origin() const { return m_origins.front(); }

private:
    bool HostAllowed(const std::string& host) const;
    bool SameOrigin(const httplib::Request& req) const;

    bool m_bTls;
    std::vector<std::string> m_serverNames;
    std::vector<std::string> m_hosts;          // Host header values answered
    std::vector<std::string> m_origins;        // scheme://host for each of them
    std::vector<std::string> m_authorizations; // "Basic ..." header values accepted
};

// The host's own pages: a title, a body (HTML) and the navigation links.
std::string HostPage(const std::string& title, const std::string& body);

} // namespace host
