#pragma once
// A scripted HTTP peer for what the update server of the test environment
// cannot show: the request as it arrived, a response cut short, a redirect.
// Serves one scripted response per connection, in order, on its own thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testinet {

class FakeHttp {
public:
    explicit FakeHttp(std::vector<std::string> responses) : responses_(std::move(responses)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 8);
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHttp() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    FakeHttp(const FakeHttp&) = delete;
    FakeHttp& operator=(const FakeHttp&) = delete;

    int port() const { return port_; }
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        for (const std::string& response : responses_) {
            int client = -1;
            while (!stop_ && client < 0) {
                pollfd p{listener_, POLLIN, 0};
                if (::poll(&p, 1, 100) > 0) client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            }
            if (client < 0) return;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd p{client, POLLIN, 0};
                if (::poll(&p, 1, 5000) <= 0) break;
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
            ::shutdown(client, SHUT_RDWR);
            ::close(client);
        }
    }

    std::vector<std::string> responses_;
    std::vector<std::string> requests_;
    mutable std::mutex mutex_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testinet
