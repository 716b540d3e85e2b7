#include "syslog_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Waits until the socket is ready for events or the deadline passes.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0)
            return (p.revents & (events | POLLERR | POLLHUP)) != 0;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool Connect(int fd, const SyslogStreamTarget& target, Clock::time_point deadline) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.nPort);
    address.sin_addr.s_addr = target.nAddress;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    if (!WaitFor(fd, POLLOUT, deadline))
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// Sends everything before the deadline; a receiver that went away is a failure, never a
// SIGPIPE for the host.
long SendSome(int fd, const char* data, size_t size, Clock::time_point deadline) {
    for (;;) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<long>(sent);
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd, POLLOUT, deadline))
            return -1;
    }
}

long ReceiveSome(int fd, char* data, size_t size, Clock::time_point deadline) {
    for (;;) {
        ssize_t got = recv(fd, data, size, 0);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd, POLLIN, deadline))
            return -1;
    }
}

// A BIO over the non-blocking socket that waits for it up to the alert's deadline, so
// that OpenSSL runs as if blocking but never longer than allowed.
struct DeadlineStream {
    int fd;
    Clock::time_point deadline;
};

int BioWrite(BIO* pBio, const char* data, int size) {
    auto* stream = static_cast<DeadlineStream*>(BIO_get_data(pBio));
    long sent = SendSome(stream->fd, data, static_cast<size_t>(size), stream->deadline);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int BioRead(BIO* pBio, char* data, int size) {
    auto* stream = static_cast<DeadlineStream*>(BIO_get_data(pBio));
    long got = ReceiveSome(stream->fd, data, static_cast<size_t>(size), stream->deadline);
    return got < 0 ? -1 : static_cast<int>(got);
}

long BioCtrl(BIO*, int nCommand, long, void*) {
    return nCommand == BIO_CTRL_FLUSH ? 1 : 0;
}

const BIO_METHOD* DeadlineMethod() {
    static BIO_METHOD* pMethod = [] {
        BIO_METHOD* p =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "syslog deadline stream");
        if (p) {
            BIO_meth_set_write(p, BioWrite);
            BIO_meth_set_read(p, BioRead);
            BIO_meth_set_ctrl(p, BioCtrl);
        }
        return p;
    }();
    return pMethod;
}

struct SslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};

using SslContext = std::unique_ptr<SSL_CTX, SslCtxFree>;

// The client settings, made before connecting: a CA file that cannot be read costs the
// receiver no connection.
SslContext MakeContext(const SyslogStreamTarget& target) {
    SslContext ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || !SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION))
        return nullptr;
    if (target.bVerify) {
        bool bTrust =
            target.strCAFile.empty()
                ? SSL_CTX_set_default_verify_paths(ctx.get()) == 1
                : SSL_CTX_load_verify_locations(ctx.get(), target.strCAFile.c_str(), nullptr) == 1;
        if (!bTrust)
            return nullptr;
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    }
    return ctx;
}

bool SendTls(SSL_CTX* pCtx, int fd, const SyslogStreamTarget& target, const std::string& strBytes,
             Clock::time_point deadline) {
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(pCtx));
    if (!ssl)
        return false;
    if (!target.strServerName.empty()) {
        SSL_set_tlsext_host_name(ssl.get(), target.strServerName.c_str());
        if (target.bVerify && SSL_set1_host(ssl.get(), target.strServerName.c_str()) != 1)
            return false;
    } else if (target.bVerify) {
        // The certificate must name the address the alert goes to.
        char szAddress[INET_ADDRSTRLEN] = {};
        in_addr address{target.nAddress};
        if (!inet_ntop(AF_INET, &address, szAddress, sizeof szAddress) ||
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), szAddress) != 1)
            return false;
    }
    DeadlineStream stream{fd, deadline};
    BIO* pBio = BIO_new(DeadlineMethod());
    if (!pBio)
        return false;
    BIO_set_data(pBio, &stream);
    BIO_set_init(pBio, 1);
    SSL_set_bio(ssl.get(), pBio, pBio); // the SSL owns it from here
    if (SSL_connect(ssl.get()) != 1)
        return false;
    size_t written = 0;
    if (SSL_write_ex(ssl.get(), strBytes.data(), strBytes.size(), &written) != 1 ||
        written != strBytes.size())
        return false;
    SSL_shutdown(ssl.get()); // our close_notify; the receiver's answer is not awaited
    return true;
}

// Closes our side and reads what the receiver still sends (TLS 1.3 session tickets) until
// it closes too, for at most a second: a socket closed with unread bytes resets the
// connection, and a reset can make the receiver drop the message it has not read yet.
void Linger(int fd, Clock::time_point deadline) {
    shutdown(fd, SHUT_WR);
    deadline = std::min(deadline, Clock::now() + std::chrono::seconds(1));
    char buffer[4096];
    while (ReceiveSome(fd, buffer, sizeof buffer, deadline) > 0) {
    }
}

} // namespace

SyslogStamp SyslogOrigin() {
    SyslogStamp stamp;
    char szHost[256] = {};
    if (gethostname(szHost, sizeof szHost - 1) == 0)
        stamp.strHostName = szHost;
    stamp.nProcessId = static_cast<long>(getpid());
    return stamp;
}

void StampSyslogTime(SyslogStamp& stamp) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    stamp.nUnixSeconds = now.tv_sec;
    stamp.nMicroseconds = static_cast<int>(now.tv_nsec / 1000);
    tm local{};
    stamp.nUtcOffsetMinutes =
        localtime_r(&now.tv_sec, &local) ? static_cast<int>(local.tm_gmtoff / 60) : 0;
}

bool SendSyslogStream(const SyslogStreamTarget& target, const std::string& strBytes,
                      int nTimeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    SslContext ctx;
    if (target.bTls) {
        ctx = MakeContext(target);
        if (!ctx) {
            ERR_clear_error(); // nothing of this alert stays on the thread's error queue
            return false;
        }
    }
    Socket sock(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (sock.get() < 0 || !Connect(sock.get(), target, deadline))
        return false;
    bool bSent;
    if (target.bTls) {
        bSent = SendTls(ctx.get(), sock.get(), target, strBytes, deadline);
        ERR_clear_error();
        if (bSent)
            Linger(sock.get(), deadline);
    } else {
        size_t done = 0;
        bSent = true;
        while (bSent && done < strBytes.size()) {
            long sent =
                SendSome(sock.get(), strBytes.data() + done, strBytes.size() - done, deadline);
            bSent = sent > 0;
            if (bSent)
                done += static_cast<size_t>(sent);
        }
    }
    return bSent;
}
