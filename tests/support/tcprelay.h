#pragma once
// A TCP relay between a client under test and a test server, keeping every
// byte that passed either way: proof of what travelled in clear text.
// Connections are relayed one after the other, on the relay's own thread.
// As a proxy, it first takes the client's CONNECT request and relays to the
// loopback port named there.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "testsocket.h"

namespace testsupport {

class TcpRelay {
public:
    enum Kind { Fixed, ConnectProxy };
    explicit TcpRelay(int targetPort, Kind kind = Fixed) : target_(targetPort), kind_(kind) {
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
            const int target = kind_ == ConnectProxy ? connectTarget(client) : target_;
            const sock::Socket server = sock::NewSocket();
            sockaddr_in to = sock::Loopback(target);
            if (target > 0 && ::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                (kind_ == Fixed || sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n")))
                pump(client, server);
            sock::Close(server);
            sock::Close(client);
        }
    }

    static bool sendAll(sock::Socket s, const std::string& text) {
        return ::send(s, text.data(), static_cast<int>(text.size()), sock::kSendFlags) == static_cast<int>(text.size());
    }

    // Reads the request head byte by byte (nothing of the tunnel after it);
    // the port of "CONNECT host:port", or 0.
    int connectTarget(sock::Socket client) {
        std::string head;
        char c = 0;
        while (head.size() < 4096 && head.find("\r\n\r\n") == std::string::npos) {
            if (sock::WaitFor(client, 5000) <= 0 || ::recv(client, &c, 1, 0) != 1) return 0;
            head += c;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_ += head;
        }
        if (head.rfind("CONNECT ", 0) != 0) return 0;
        const size_t colon = head.find(':'), end = head.find(' ', 8);
        return colon < end ? std::atoi(head.substr(colon + 1, end - colon - 1).c_str()) : 0;
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
    Kind kind_;
    sock::Socket listener_ = sock::NewSocket();
    int port_ = 0;
    std::string seen_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
