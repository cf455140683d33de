#pragma once
// A scripted HTTP peer for what the update server of the test environment
// cannot show: the request as it arrived, a body cut short, a redirect.
// Answers one connection per scripted response, in order, on its own thread.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testinet {

class FakeHttp {
public:
    explicit FakeHttp(std::vector<std::string> responses) : responses_(std::move(responses)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHttp() {
        ::shutdown(listener_, SHUT_RDWR);  // ends a pending wait for a client
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        for (const std::string& response : responses_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            std::string request;
            char buf[4096];
            pollfd p{client, POLLIN, 0};
            while (request.find("\r\n\r\n") == std::string::npos && ::poll(&p, 1, 5000) > 0) {
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::vector<std::string> responses_, requests_;
    std::mutex mutex_;
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
    std::thread thread_;
};

}  // namespace testinet
