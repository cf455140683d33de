#pragma once
// Plain TCP sockets for the tests' own little peers (a scripted HTTP server,
// a recording relay), the same on Linux and on Windows.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testsupport::sock {

#ifdef _WIN32
using Socket = SOCKET;
using socklen_t = int;
using PollFd = WSAPOLLFD;
inline constexpr short kIn = POLLRDNORM;
inline constexpr int kSendFlags = 0;
// Winsock is ready while one of these lives.
struct Winsock {
    Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
    ~Winsock() { WSACleanup(); }
};
inline int Poll(PollFd* p, int n, int ms) { return WSAPoll(p, static_cast<ULONG>(n), ms); }
inline void Close(Socket s) { ::closesocket(s); }
inline Socket NewSocket() { return ::socket(AF_INET, SOCK_STREAM, 0); }
#else
using Socket = int;
using socklen_t = ::socklen_t;
using PollFd = pollfd;
inline constexpr short kIn = POLLIN;
inline constexpr int kSendFlags = MSG_NOSIGNAL;
struct Winsock {};
inline int Poll(PollFd* p, int n, int ms) { return ::poll(p, static_cast<nfds_t>(n), ms); }
inline void Close(Socket s) { ::close(s); }
inline Socket NewSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
#endif

// Waits up to `ms` for `s` to have something to read (or a connection to accept).
inline int WaitFor(Socket s, int ms) {
    PollFd p{s, kIn, 0};
    return Poll(&p, 1, ms);
}

inline sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port));
    return addr;
}

// Makes `s` listen on 127.0.0.1 at a port of the system's choice; returns the port.
inline int ListenOnLoopback(Socket s) {
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
    ::listen(s, 8);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

}  // namespace testsupport::sock
