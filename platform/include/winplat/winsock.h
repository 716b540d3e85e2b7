// Windows Sockets 1.1 over POSIX sockets. The functions carry their Winsock names in
// source but bind to platform symbols, so they never replace the C library's own.
#pragma once

#include "windef.h"

typedef unsigned short u_short; // the same type the C library's headers give the name
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
#define INADDR_NONE 0xffffffffu

#define AF_INET 2
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_UDP 17
#define IPPROTO_TCP 6

#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAENOTSOCK 10038
#define WSAEMSGSIZE 10040
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRNOTAVAIL 10049
#define WSAENETUNREACH 10051
#define WSAENOBUFS 10055
#define WSAEHOSTUNREACH 10065
#define WSAECONNREFUSED 10061
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

struct in_addr {
    uint32_t s_addr;
};
struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};

WINPLAT_API int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
WINPLAT_API int WSACleanup(void);
WINPLAT_API int WSAGetLastError(void);
WINPLAT_API void WSASetLastError(int iError);

extern "C" SOCKET socket(int af, int type, int protocol) __asm__("winplat_ws_socket");
extern "C" int closesocket(SOCKET s) __asm__("winplat_ws_closesocket");
extern "C" int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to,
                      int tolen) __asm__("winplat_ws_sendto");
extern "C" int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from,
                        int* fromlen) __asm__("winplat_ws_recvfrom");
extern "C" int bind(SOCKET s, const struct sockaddr* name, int namelen) __asm__("winplat_ws_bind");
extern "C" uint32_t inet_addr(const char* cp) __asm__("winplat_ws_inet_addr");
extern "C" u_short htons(u_short hostshort) __asm__("winplat_ws_htons");
extern "C" u_short ntohs(u_short netshort) __asm__("winplat_ws_ntohs");
extern "C" uint32_t htonl(uint32_t hostlong) __asm__("winplat_ws_htonl");
