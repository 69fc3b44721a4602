#pragma once
// RAII owners of curl handles and a typed, checked front for curl_easy_setopt.

#include <curl/curl.h>

#include <atomic>
#include <string>

#include "inet/socket_util.h"

namespace fennic::inet {

class CurlEasy {
public:
    CurlEasy() = default;
    ~CurlEasy() {
        if (h_) curl_easy_cleanup(h_);
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    bool Init() {
        if (!h_) h_ = curl_easy_init();
        return h_ != nullptr;
    }
    CURL* get() const { return h_; }

private:
    CURL* h_ = nullptr;
};

// Wakeup() comes from the window thread while the worker may be in Init(): the handle is
// published only once it is whole.
class CurlMulti {
public:
    CurlMulti() = default;
    ~CurlMulti() {
        if (CURLM* h = h_.load()) curl_multi_cleanup(h);
    }
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;
    bool Init() {
        if (!h_.load()) h_.store(curl_multi_init());
        return h_.load() != nullptr;
    }
    CURLM* get() const { return h_.load(); }
    void Wakeup() {  // thread safe
        if (CURLM* h = h_.load()) curl_multi_wakeup(h);
    }

private:
    std::atomic<CURLM*> h_{nullptr};
};

class CurlHeaders {
public:
    CurlHeaders() = default;
    ~CurlHeaders() { curl_slist_free_all(list_); }
    CurlHeaders(CurlHeaders&& o) noexcept : list_(o.list_) { o.list_ = nullptr; }
    CurlHeaders& operator=(CurlHeaders&& o) noexcept {
        if (this != &o) {
            curl_slist_free_all(list_);
            list_ = o.list_;
            o.list_ = nullptr;
        }
        return *this;
    }
    bool Append(const std::string& line) {
        curl_slist* l = curl_slist_append(list_, line.c_str());
        if (!l) return false;
        list_ = l;
        return true;
    }
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

class CurlUrl {
public:
    CurlUrl() : h_(curl_url()) {}
    ~CurlUrl() {
        if (h_) curl_url_cleanup(h_);
    }
    CurlUrl(const CurlUrl&) = delete;
    CurlUrl& operator=(const CurlUrl&) = delete;
    explicit operator bool() const { return h_ != nullptr; }
    CURLU* get() const { return h_; }

private:
    CURLU* h_;
};

// Each Set checks curl's answer; the first failure is kept for the caller to report.
class CurlOptions {
public:
    explicit CurlOptions(CURL* easy) : easy_(easy) {}
    void Set(CURLoption opt, long value) { Check(opt, curl_easy_setopt(easy_, opt, value)); }
    void Set(CURLoption opt, const std::string& value) {
        Check(opt, curl_easy_setopt(easy_, opt, value.c_str()));
    }
    void Set(CURLoption opt, char* buffer) { Check(opt, curl_easy_setopt(easy_, opt, buffer)); }
    void Set(CURLoption opt, void* data) { Check(opt, curl_easy_setopt(easy_, opt, data)); }
    void Set(CURLoption opt, curl_slist* list) { Check(opt, curl_easy_setopt(easy_, opt, list)); }
    template <typename R, typename... A>
    void Set(CURLoption opt, R (*fn)(A...)) {
        Check(opt, curl_easy_setopt(easy_, opt, fn));
    }
    void SetNull(CURLoption opt) {
        Check(opt, curl_easy_setopt(easy_, opt, static_cast<char*>(nullptr)));
    }
    bool ok() const { return failed_ == CURLE_OK; }
    std::string failed_option() const {
        return "option " + std::to_string(static_cast<int>(failed_opt_)) + ": " +
               curl_easy_strerror(failed_);
    }

private:
    void Check(CURLoption opt, CURLcode rc) {
        if (rc != CURLE_OK && failed_ == CURLE_OK) {
            failed_ = rc;
            failed_opt_ = opt;
        }
    }
    CURL* easy_;
    CURLcode failed_ = CURLE_OK;
    CURLoption failed_opt_{};
};

inline std::string AddressTextOf(const sockaddr* addr) {
    return AddressText(addr);
}

}  // namespace fennic::inet
