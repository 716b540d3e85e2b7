// Windows Sockets 1.1 over POSIX sockets. This file sees the POSIX declarations, so
// it defines the Winsock entry points under the platform symbols that winsock.h
// binds their names to.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <winplat/windef.h>

namespace {

constexpr SOCKET kInvalidSocket = ~SOCKET(0);
constexpr int kSocketError = -1;
constexpr int WSAEFAULT_ = 10014, WSAEADDRNOTAVAIL_ = 10049, WSANOTINITIALISED_ = 10093,
              WSAVERNOTSUPPORTED_ = 10092;

std::atomic<int> g_startups{0};
thread_local int t_lastError = 0;

// The Winsock code for an errno: Winsock numbers the BSD errors from 10000.
int FromErrno(int e) {
    switch (e) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case ENOTSOCK:
        return 10038;
    case EMSGSIZE:
        return 10040;
    case EPROTONOSUPPORT:
        return 10043;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case ECONNREFUSED:
        return 10061;
    case EHOSTUNREACH:
        return 10065;
    default:
        return 10022;
    }
}

int Fail(int code) {
    t_lastError = code;
    return kSocketError;
}

bool Started() {
    if (g_startups.load() > 0)
        return true;
    t_lastError = WSANOTINITIALISED_;
    return false;
}

// Winsock's sockaddr_in and the system's agree on the layout of family, port and
// address; copying the fields keeps that an explicit fact rather than an accident.
bool ToPosix(const void* pName, int nameLen, sockaddr_in* out) {
    struct WinsockSockaddrIn {
        short sin_family;
        unsigned short sin_port;
        uint32_t s_addr;
        char sin_zero[8];
    };
    if (!pName || nameLen < static_cast<int>(sizeof(WinsockSockaddrIn)))
        return false;
    WinsockSockaddrIn in;
    std::memcpy(&in, pName, sizeof in);
    std::memset(out, 0, sizeof *out);
    out->sin_family = static_cast<sa_family_t>(in.sin_family);
    out->sin_port = in.sin_port;
    out->sin_addr.s_addr = in.s_addr;
    return true;
}

} // namespace

struct WSADATA_ {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

WINPLAT_API int WSAStartup(WORD wVersionRequested, WSADATA_* lpWSAData) {
    if (!lpWSAData)
        return WSAEFAULT_;
    BYTE major = LOBYTE(wVersionRequested);
    BYTE minor = HIBYTE(wVersionRequested);
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED_;
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    // Version 1.1 is what this layer offers; a higher request is granted 1.1.
    lpWSAData->wVersion = MAKEWORD(1, 1);
    lpWSAData->wHighVersion = MAKEWORD(1, 1);
    std::strcpy(lpWSAData->szDescription, "Sentrel platform sockets 1.1");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    lpWSAData->iMaxSockets = 32767;
    lpWSAData->iMaxUdpDg = 65467;
    ++g_startups;
    return 0;
}

WINPLAT_API int WSACleanup(void) {
    int count = g_startups.load();
    while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0)
        return Fail(WSANOTINITIALISED_);
    return 0;
}

WINPLAT_API int WSAGetLastError(void) {
    return t_lastError;
}
WINPLAT_API void WSASetLastError(int iError) {
    t_lastError = iError;
}

WINPLAT_API SOCKET winplat_ws_socket(int af, int type, int protocol) {
    if (!Started())
        return kInvalidSocket;
    int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        t_lastError = FromErrno(errno);
        return kInvalidSocket;
    }
    return static_cast<SOCKET>(fd);
}

WINPLAT_API int winplat_ws_closesocket(SOCKET s) {
    if (!Started())
        return kSocketError;
    if (s == kInvalidSocket || ::close(static_cast<int>(s)) != 0)
        return Fail(10038); // WSAENOTSOCK
    return 0;
}

WINPLAT_API int winplat_ws_sendto(SOCKET s, const char* buf, int len, int flags, const void* to,
                                  int tolen) {
    if (!Started())
        return kSocketError;
    if (len < 0 || (len > 0 && !buf))
        return Fail(WSAEFAULT_);
    sockaddr_in dest{};
    if (!ToPosix(to, tolen, &dest))
        return Fail(WSAEFAULT_);
    // Linux takes 0.0.0.0 for the local host and refuses port 0 as invalid; Winsock refuses
    // both as destinations that name no remote peer.
    if (dest.sin_family == AF_INET &&
        (dest.sin_addr.s_addr == htonl(INADDR_ANY) || dest.sin_port == 0))
        return Fail(WSAEADDRNOTAVAIL_);
    ssize_t sent = ::sendto(static_cast<int>(s), buf, static_cast<size_t>(len),
                            flags | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    if (sent < 0)
        return Fail(FromErrno(errno));
    return static_cast<int>(sent);
}

WINPLAT_API int winplat_ws_recvfrom(SOCKET s, char* buf, int len, int flags, void* from,
                                    int* fromlen) {
    if (!Started())
        return kSocketError;
    sockaddr_in source{};
    socklen_t sourceLen = sizeof source;
    ssize_t got = ::recvfrom(static_cast<int>(s), buf, static_cast<size_t>(len), flags,
                             reinterpret_cast<sockaddr*>(&source), &sourceLen);
    if (got < 0)
        return Fail(FromErrno(errno));
    if (from && fromlen && *fromlen >= 16) {
        unsigned char out[16] = {};
        short family = static_cast<short>(source.sin_family);
        std::memcpy(out, &family, 2);
        std::memcpy(out + 2, &source.sin_port, 2);
        std::memcpy(out + 4, &source.sin_addr.s_addr, 4);
        std::memcpy(from, out, sizeof out);
        *fromlen = 16;
    }
    return static_cast<int>(got);
}

WINPLAT_API int winplat_ws_bind(SOCKET s, const void* name, int namelen) {
    if (!Started())
        return kSocketError;
    sockaddr_in local{};
    if (!ToPosix(name, namelen, &local))
        return Fail(WSAEFAULT_);
    if (::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return Fail(FromErrno(errno));
    return 0;
}

// Dotted notation in all its classic forms (a.b.c.d, a.b.c, a.b, a; octal and hex parts);
// anything else is INADDR_NONE. Never resolves names.
WINPLAT_API uint32_t winplat_ws_inet_addr(const char* cp) {
    in_addr addr{};
    if (!cp || !inet_aton(cp, &addr))
        return INADDR_NONE;
    return addr.s_addr;
}

WINPLAT_API unsigned short winplat_ws_htons(unsigned short v) {
    return htons(v);
}
WINPLAT_API unsigned short winplat_ws_ntohs(unsigned short v) {
    return ntohs(v);
}
WINPLAT_API uint32_t winplat_ws_htonl(uint32_t v) {
    return htonl(v);
}
