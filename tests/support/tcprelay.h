#pragma once
// A TCP relay between a client under test and a test server, keeping every
// byte that passed either way: proof of what travelled in clear text.
// Connections are relayed one after the other, on the relay's own thread.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "testsocket.h"

namespace testsupport {

class TcpRelay {
public:
    explicit TcpRelay(int targetPort) : target_(targetPort) {
        port_ = sock::ListenOnLoopback(listener_);
        thread_ = std::thread([this] { serve(); });
    }
    ~TcpRelay() {
        stop_ = true;
        thread_.join();
        sock::Close(listener_);
    }
    int port() const { return port_; }
    // Everything seen so far, both directions in arrival order.
    std::string seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void serve() {
        while (!stop_) {
            if (sock::WaitFor(listener_, 100) <= 0) continue;
            const sock::Socket client = ::accept(listener_, nullptr, nullptr);
            if (client == sock::Socket(-1)) return;
            const sock::Socket server = sock::NewSocket();
            sockaddr_in to = sock::Loopback(target_);
            if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) pump(client, server);
            sock::Close(server);
            sock::Close(client);
        }
    }

    void pump(sock::Socket client, sock::Socket server) {
        char buf[16384];
        while (!stop_) {
            sock::PollFd p[2] = {{client, sock::kIn, 0}, {server, sock::kIn, 0}};
            if (sock::Poll(p, 2, 100) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!p[i].revents) continue;
                const auto n = ::recv(p[i].fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.append(buf, static_cast<size_t>(n));
                }
                if (::send(i == 0 ? server : client, buf, static_cast<int>(n), sock::kSendFlags) != n) return;
            }
        }
    }

    sock::Winsock winsock_;
    int target_;
    sock::Socket listener_ = sock::NewSocket();
    int port_ = 0;
    std::string seen_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
