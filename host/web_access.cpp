#include "web_access.h"

#include <arpa/inet.h>
#include <strings.h>

#include <fstream>

#include "host.h"
#include "html_page.h"

namespace host {

namespace {

// Compares without leaking where the texts differ through the time taken.
bool SameText(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

void Deny(httplib::Response& res, int status, const std::string& title, const std::string& why) {
    res.status = status;
    res.set_header("Connection", "close");
    res.set_content(HostPage(title, "<P id=\"failure\">" + HtmlEscape(why) + "</P>\r\n"),
                    "text/html; charset=utf-8");
}

} // namespace

WebListen ParseListen(const std::string& text) {
    WebListen listen;
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size())
        throw UsageError("--listen needs ADDR:PORT, got " + text);
    listen.address = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5 ||
        std::stoi(portText) > 65535)
        throw UsageError("--listen: bad port " + portText);
    listen.port = std::stoi(portText);
    std::string& address = listen.address;
    bool bBracketed = address.size() > 2 && address.front() == '[' && address.back() == ']';
    if (bBracketed)
        address = address.substr(1, address.size() - 2);
    if (address == "localhost")
        address = "127.0.0.1";
    in_addr v4;
    in6_addr v6;
    if (!bBracketed && inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        listen.bLoopback = (ntohl(v4.s_addr) >> 24) == 127;
        listen.bAnyAddress = v4.s_addr == INADDR_ANY;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        listen.bLoopback = IN6_IS_ADDR_LOOPBACK(&v6);
        listen.bAnyAddress = IN6_IS_ADDR_UNSPECIFIED(&v6);
    } else {
        throw UsageError("--listen needs a numeric address or localhost, not " + address);
    }
    return listen;
}

void WebAccess::LoadPasswordFile(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw UsageError("--password-file: cannot read " + path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == line.size())
            throw UsageError("--password-file: " + path +
                             " holds a line that is not USER:PASSWORD");
        m_authorizations.push_back(
            httplib::make_basic_authentication_header(line.substr(0, colon), line.substr(colon + 1))
                .second);
    }
    if (m_authorizations.empty())
        throw UsageError("--password-file: " + path + " holds no USER:PASSWORD line");
}

void WebAccess::SetListening(const WebListen& listen, int port) {
    std::string scheme = m_bTls ? "https://" : "http://";
    bool bDefaultPort = port == (m_bTls ? 443 : 80);
    auto add = [&](const std::string& host) {
        m_hosts.push_back(host + ":" + std::to_string(port));
        m_origins.push_back(scheme + m_hosts.back());
        if (bDefaultPort) {
            m_hosts.push_back(host);
            m_origins.push_back(scheme + host);
        }
    };
    if (!listen.bAnyAddress)
        add(listen.address.find(':') != std::string::npos ? "[" + listen.address + "]"
                                                          : listen.address);
    if (listen.address == "127.0.0.1")
        add("localhost");
    for (const std::string& name : m_serverNames)
        add(name);
}

bool WebAccess::HostAllowed(const std::string& host) const {
    for (const std::string& allowed : m_hosts)
        if (strcasecmp(allowed.c_str(), host.c_str()) == 0)
            return true;
    return false;
}

bool WebAccess::SameOrigin(const httplib::Request& req) const {
    if (req.has_header("Origin")) {
        std::string origin = req.get_header_value("Origin");
        for (const std::string& own : m_origins)
            if (strcasecmp(own.c_str(), origin.c_str()) == 0)
                return true;
        return false;
    }
    std::string referer = req.get_header_value("Referer");
    for (const std::string& own : m_origins)
        if (referer.size() > own.size() &&
            strncasecmp(own.c_str(), referer.c_str(), own.size()) == 0 &&
            referer[own.size()] == '/')
            return true;
    return false;
}

bool WebAccess::Refuse(const httplib::Request& req, httplib::Response& res) const {
    if (!HostAllowed(req.get_header_value("Host"))) {
        Deny(res, 403, "Wrong address",
             "This server answers only requests addressed to " + Origin() + "/.");
        return true;
    }
    if (!m_authorizations.empty()) {
        std::string given = req.get_header_value("Authorization");
        bool bKnown = false;
        for (const std::string& accepted : m_authorizations)
            bKnown = SameText(accepted, given) || bKnown;
        if (!bKnown) {
            Deny(res, 401, "Sign in", "This server needs a user name and password.");
            res.set_header("WWW-Authenticate", "Basic realm=\"Sentrel\", charset=\"UTF-8\"");
            return true;
        }
    }
    if (req.method != "GET" && req.method != "HEAD" && !SameOrigin(req)) {
        Deny(res, 403, "Not saved",
             "Forms are taken only from this server's own pages (" + Origin() +
                 "/); nothing was changed.");
        return true;
    }
    return false;
}

std::string HostPage(const std::string& title, const std::string& body) {
    return "<HTML><HEAD><TITLE>Sentrel</TITLE><META charset=\"utf-8\"></HEAD><BODY "
           "bgcolor=\"#ffffff\"><H2>" +
           HtmlEscape(title) + "</H2>\r\n" + body +
           "<HR><A href=\"/_maincfgreg.cgi\">Notifications</A> | <A href=\"/_top.cgi\">Top "
           "view</A>\r\n</BODY></HTML>\r\n";
}

} // namespace host
