#pragma once
// A scripted HTTP peer for what the update server of the test environment
// cannot show: the request as it arrived, a body cut short, a redirect.
// Answers one connection per scripted response, in order, on its own thread.
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
        stop_ = true;  // the accept loop looks at it between short waits
        thread_.join();
        closeSocket(listener_);
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
#ifdef _WIN32
    using Socket = SOCKET;
    using socklen_t = int;
    struct Winsock {
        Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
        ~Winsock() { WSACleanup(); }
    };
    static int waitFor(Socket s, int ms) {
        WSAPOLLFD p{s, POLLRDNORM, 0};
        return WSAPoll(&p, 1, ms);
    }
    static void closeSocket(Socket s) { ::closesocket(s); }
    static constexpr int kSendFlags = 0;
    Winsock winsock_;
    Socket listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
#else
    using Socket = int;
    static int waitFor(Socket s, int ms) {
        pollfd p{s, POLLIN, 0};
        return ::poll(&p, 1, ms);
    }
    static void closeSocket(Socket s) { ::close(s); }
    static constexpr int kSendFlags = MSG_NOSIGNAL;
    Socket listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif

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
            ::send(client, response.data(), static_cast<int>(response.size()), kSendFlags);
            closeSocket(client);
        }
    }

    std::vector<std::string> responses_, requests_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    int port_ = 0;
    std::thread thread_;
};

}  // namespace testinet
