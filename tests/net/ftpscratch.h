#pragma once
// A file of a test's own on an FTP server, put there, looked for and taken
// away over FTP under the raw bytes of its name. A server's disk is out of
// reach of a Windows test, and names in code page 949 could not be written
// from there anyway.

#include <QByteArray>
#include <algorithm>
#include <string>
#include <utility>

#include <curl/curl.h>

namespace testsupport {

// One libcurl transfer of the test's own, past the program's calls.
template <class Setup>
CURLcode CurlFtp(const std::string& url, const std::string& user, const std::string& password, Setup setup) {
    CURL* c = curl_easy_init();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
    setup(c);
    const CURLcode rc = curl_easy_perform(c);
    curl_easy_cleanup(c);
    return rc;
}

class FtpScratchFile {
public:
    // folderUrl ends in '/'.
    FtpScratchFile(std::string folderUrl, std::string user, std::string password, QByteArray wireName,
                   std::string body = "scratch")
        : dir_(std::move(folderUrl)), user_(std::move(user)), password_(std::move(password)),
          name_(std::move(wireName)) {
        put_ = transfer(url(), [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(c, CURLOPT_READDATA, &body);
            curl_easy_setopt(c, CURLOPT_READFUNCTION, &readOut);
        });
    }
    ~FtpScratchFile() {
        // '*': a file the test already deleted is no failure.
        curl_slist* dele = curl_slist_append(nullptr, ("*DELE " + name_.toStdString()).c_str());
        transfer(dir_, [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(c, CURLOPT_POSTQUOTE, dele);
        });
        curl_slist_free_all(dele);
    }
    FtpScratchFile(const FtpScratchFile&) = delete;
    FtpScratchFile& operator=(const FtpScratchFile&) = delete;

    bool put() const { return put_ == CURLE_OK; }
    // The server answers SIZE for it.
    bool exists() const {
        return transfer(url(), [](CURL* c) {
                   curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
                   curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
               }) == CURLE_OK;
    }

private:
    static size_t readOut(char* buf, size_t size, size_t n, void* data) {
        auto& rest = *static_cast<std::string*>(data);
        const size_t k = std::min(size * n, rest.size());
        std::copy_n(rest.data(), k, buf);
        rest.erase(0, k);
        return k;
    }
    template <class Setup>
    CURLcode transfer(const std::string& target, Setup setup) const {
        return CurlFtp(target, user_, password_, setup);
    }
    std::string url() const { return dir_ + name_.toPercentEncoding().toStdString(); }

    std::string dir_, user_, password_;
    QByteArray name_;
    CURLcode put_ = CURLE_FAILED_INIT;
};

}  // namespace testsupport
