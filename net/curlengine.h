#pragma once
// The libcurl engine under the internet calls; private to net/inet*.cpp.
// These files are built with CURL_STRICTER, so libcurl's handle types are the
// named structs below and this header needs none of libcurl's own.
#include <QByteArray>
#include <functional>
#include <memory>
#include <vector>

#include "net/inet_internal.h"

struct Curl_easy;
struct Curl_multi;
struct curl_slist;

namespace net::detail {

void EnsureCurl();

// Owners of libcurl's objects: each is released once, by its owner.
struct EasyFree {
    void operator()(Curl_easy* easy) const;
};
struct MultiFree {
    void operator()(Curl_multi* multi) const;
};
struct ListFree {
    void operator()(curl_slist* list) const;
};

// Texts handed to libcurl as a list (commands, header lines). libcurl reads
// the list while a transfer runs, so it must outlive the transfer.
class TextList {
public:
    bool append(const QByteArray& text);  // false (list unchanged) when out of memory
    curl_slist* get() const { return head_.get(); }
    bool empty() const { return !head_; }
    void clear() { head_.reset(); }

private:
    std::unique_ptr<curl_slist, ListFree> head_;
};

// What a transfer delivers: the body, streamed to a reader with a bounded
// read-ahead or collected whole up to a limit, and the lines of the reply
// that the protocol reads (the control connection, the HTTP head).
class Sink {
public:
    enum class Take { Taken, Pause, Abort };

    explicit Sink(bool stream) : stream_(stream) {}
    virtual ~Sink() = default;

    // libcurl's side.
    Take receive(const char* data, size_t len);
    virtual void replyLine(const QByteArray& line, bool continuation) = 0;

    // The reader's side.
    size_t available() const { return data_.size() - head_; }
    void consume(char* out, size_t n);
    QByteArray whole() const;

    // Forgets everything received, ready for the next attempt.
    virtual void reset();

    QByteArray lastReplyLine;  // the server's last status or reply line, for the log
    size_t want = 0;       // the reader waits for this many bytes
    bool paused = false;   // libcurl holds back until resumed
    bool overflow = false; // a collected body passed its limit
    qint64 received = 0;

private:
    bool stream_;
    std::vector<char> data_;
    size_t head_ = 0;  // first byte not yet handed to the reader
};

// Room for libcurl's words on a failure (its CURL_ERROR_SIZE).
inline constexpr size_t kErrorTextSize = 256;

// One libcurl transfer handle on its own multi handle. The multi handle
// keeps the connection cache, so consecutive operations reuse one logged-in
// control connection.
class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool valid() const { return multi_ && easy_; }
    Curl_easy* easy() const { return easy_.get(); }
    Curl_multi* multi() const { return multi_.get(); }

    // Forgets the options of the last operation and points the callbacks at `sink`.
    void reset(Sink* sink);
    // The proxy choice of `root` for a transfer of `url`.
    void applyProxy(const Root& root, const QByteArray& url);
    // Whom the TLS connections of the next transfer trust. False (logged)
    // when the library cannot take a part of it: the caller must not run
    // the transfer then.
    bool applyTrust(const core::TlsTrust& trust);

    bool start();
    // Drives the transfer until `enough` holds or the transfer ends; true
    // when it ended (see result()).
    bool drive(const std::function<bool()>& enough);
    // Starts, runs to the end, and detaches; returns the CURLcode.
    int run();
    void resume();
    // Detaches the transfer (ending it if it still runs); the connection
    // stays in the cache unless libcurl judged it unusable.
    void stop();

    int result() const { return result_; }  // a CURLcode

private:
    // Logs a transfer that ended in failure: its URL, libcurl's code and
    // words, and the server's last reply line.
    void noteEnd() const;

    std::unique_ptr<Curl_multi, MultiFree> multi_;
    std::unique_ptr<Curl_easy, EasyFree> easy_;
    Sink* sink_ = nullptr;
    bool added_ = false;
    bool done_ = false;
    int result_ = 0;
    char errorText_[kErrorTextSize] = {};  // libcurl's detail of the last failure
};

// A body read block by block: an FTP file or an HTTP response.
class Stream : public Handle {
public:
    bool read(void* buffer, quint32 toRead, quint32* read);

protected:
    virtual Engine& engine() = 0;
    virtual Sink& sink() = 0;
    // Whether a transfer that ended with `rc` delivered the whole body.
    virtual bool checkComplete(int rc);
    virtual void released() {}

    // The transfer has ended: detach it and note whether it was whole.
    void complete();
    // Stops a transfer that still runs.
    void abandon();

    bool active_ = false;
    bool failed_ = false;
};

// Read-ahead of a streamed transfer: the transfer pauses once this much is
// waiting for the reader, so a large file never sits in memory.
inline constexpr size_t kReadAhead = size_t{1} << 20;

}  // namespace net::detail
