#pragma once
// A TCP relay between a client under test and a test server, keeping every
// byte that passed either way: proof of what travelled in clear text.
// Connections are relayed one after the other, on the relay's own thread.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class TcpRelay {
public:
    explicit TcpRelay(int targetPort) : target_(targetPort) {
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TcpRelay() {
        stop_ = true;
        thread_.join();
        closeSocket(listener_);
    }
    int port() const { return port_; }
    // Everything seen so far, both directions in arrival order.
    std::string seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    int connections() const { return connections_; }

private:
#ifdef _WIN32
    using Socket = SOCKET;
    using socklen_t = int;
    struct Winsock {
        Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
        ~Winsock() { WSACleanup(); }
    };
    static int waitFor(WSAPOLLFD* p, int n, int ms) { return WSAPoll(p, static_cast<ULONG>(n), ms); }
    using PollFd = WSAPOLLFD;
    static constexpr short kIn = POLLRDNORM;
    static void closeSocket(Socket s) { ::closesocket(s); }
    static constexpr int kSendFlags = 0;
    static Socket newSocket() { return ::socket(AF_INET, SOCK_STREAM, 0); }
    Winsock winsock_;
#else
    using Socket = int;
    using PollFd = pollfd;
    static constexpr short kIn = POLLIN;
    static int waitFor(pollfd* p, int n, int ms) { return ::poll(p, static_cast<nfds_t>(n), ms); }
    static void closeSocket(Socket s) { ::close(s); }
    static constexpr int kSendFlags = MSG_NOSIGNAL;
    static Socket newSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
#endif
    static sockaddr_in loopback(int port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<unsigned short>(port));
        return addr;
    }

    void serve() {
        while (!stop_) {
            PollFd l{listener_, kIn, 0};
            if (waitFor(&l, 1, 100) <= 0) continue;
            const Socket client = ::accept(listener_, nullptr, nullptr);
            if (client == Socket(-1)) return;
            const Socket server = newSocket();
            sockaddr_in to = loopback(target_);
            if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                closeSocket(server);
                closeSocket(client);
                continue;
            }
            ++connections_;
            pump(client, server);
            closeSocket(server);
            closeSocket(client);
        }
    }

    void pump(Socket client, Socket server) {
        char buf[16384];
        while (!stop_) {
            PollFd p[2] = {{client, kIn, 0}, {server, kIn, 0}};
            if (waitFor(p, 2, 100) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!p[i].revents) continue;
                const auto n = ::recv(p[i].fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.append(buf, static_cast<size_t>(n));
                }
                if (::send(i == 0 ? server : client, buf, static_cast<int>(n), kSendFlags) != n) return;
            }
        }
    }

    int target_;
    Socket listener_ = newSocket();
    int port_ = 0;
    std::string seen_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace testsupport
