// syslog-receiver: listens on a loopback UDP port and prints every datagram exactly.
//
//   syslog-receiver [--port N] [--count N] [--timeout SECONDS] [--port-file FILE]
//
// Port 0 (the default) takes a free port; the port in use is printed first and, with
// --port-file, written to FILE so that a script can aim at it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kUsage[] =
    "usage: syslog-receiver [--port N] [--count N] [--timeout SECONDS] [--port-file FILE]\n"
    "Listens on the loopback UDP port N (0, the default: a free one) and prints each\n"
    "datagram on a line of its own, bytes outside printable ASCII as \\xNN. Stops after\n"
    "--count datagrams (default 1), or with exit 1 when none arrives for --timeout seconds\n"
    "(default 10). The port in use is printed first and, with --port-file, written to FILE.\n";

void Usage() {
    std::fputs(kUsage, stderr);
    std::exit(2);
}

// The payload with non-printable bytes shown as \xNN, so that what arrived is visible.
std::string Visible(const char* data, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c <= 0x7E && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    int port = 0, count = 1, timeout = 10;
    const char* portFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            Usage();
        if (a == "--port")
            port = std::atoi(argv[++i]);
        else if (a == "--count")
            count = std::atoi(argv[++i]);
        else if (a == "--timeout")
            timeout = std::atoi(argv[++i]);
        else if (a == "--port-file")
            portFile = argv[++i];
        else
            Usage();
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("syslog-receiver");
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    if (portFile) {
        FILE* f = std::fopen(portFile, "w");
        if (!f) {
            std::perror(portFile);
            return 1;
        }
        std::fprintf(f, "%d\n", ntohs(addr.sin_port));
        std::fclose(f);
    }
    for (int got = 0; got < count; ++got) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout * 1000) <= 0) {
            std::printf("no datagram within %d s\n", timeout);
            return 1;
        }
        char buffer[65536];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                             &fromLen);
        if (n < 0) {
            std::perror("recvfrom");
            return 1;
        }
        char source[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
        std::printf("received %zd bytes from %s:%d: \"%s\"\n", n, source, ntohs(from.sin_port),
                    Visible(buffer, static_cast<size_t>(n)).c_str());
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}
