#pragma once
// A scripted HTTP peer for what the update server of the test environment
// cannot show: the request as it arrived, a body cut short, a redirect.
// Answers one connection per scripted response, in order, on its own thread;
// with `dripMs` each response's body goes out one byte at a time, that far
// apart, after the head.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsocket.h"

namespace testinet {

class FakeHttp {
public:
    explicit FakeHttp(std::vector<std::string> responses, int dripMs = 0)
        : responses_(std::move(responses)), dripMs_(dripMs) {
        port_ = testsupport::sock::ListenOnLoopback(listener_);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHttp() {
        stop_ = true;  // the accept loop looks at it between short waits
        thread_.join();
        testsupport::sock::Close(listener_);
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    using Socket = testsupport::sock::Socket;
    static int waitFor(Socket s, int ms) { return testsupport::sock::WaitFor(s, ms); }
    static void closeSocket(Socket s) { testsupport::sock::Close(s); }
    static constexpr int kSendFlags = testsupport::sock::kSendFlags;
    testsupport::sock::Winsock winsock_;
    Socket listener_ = testsupport::sock::NewSocket();

    void serve() {
        for (const std::string& response : responses_) {
            while (!stop_ && waitFor(listener_, 100) == 0) {
            }
            if (stop_) return;
            const Socket client = ::accept(listener_, nullptr, nullptr);
            if (client == Socket(-1)) return;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos && waitFor(client, 5000) > 0) {
                const auto n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            const size_t head = dripMs_ > 0 ? response.find("\r\n\r\n") + 4 : response.size();
            ::send(client, response.data(), static_cast<int>(head), kSendFlags);
            for (size_t i = head; i < response.size() && !stop_; ++i) {
                if (::send(client, response.data() + i, 1, kSendFlags) != 1) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(dripMs_));
            }
            closeSocket(client);
        }
    }

    std::vector<std::string> responses_, requests_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    int dripMs_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace testinet
