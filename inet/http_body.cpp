// The response's body: held for the reader up to a bound (curl is paused beyond it), read out
// incrementally, or counted into memory and replayed for a body without a length.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "inet/http_core.h"

namespace fennic::inet {

namespace {

// Body bytes held for the reader before curl is paused.
constexpr size_t kMaxBuffered = 64 * 1024;
// A body without a length is counted in memory up to this much; a longer one fails, so a server
// cannot make us read (or store) without end.
constexpr size_t kMaxUnsizedBody = 64 * 1024;

}  // namespace

size_t HttpRequest::State::OnBody(const char* data, size_t len) {
    progress = true;
    if (!final_headers) return len;  // the body of a redirect
    if (Buffered() >= kMaxBuffered) {
        paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (body_off > 0 && body_off == body.size()) {
        body.clear();
        body_off = 0;
    }
    body.append(data, len);
    return len;
}

bool HttpRequest::State::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (replay) {
        got = std::min(size, spool.size() - spool_off);
        std::memcpy(buffer, spool.data() + spool_off, got);
        spool_off += got;
        return true;
    }
    if (!sent || core->active != this) return Fail(kErrorIncorrectHandleState);
    if (size == 0) return true;
    while (true) {
        if (Buffered() > 0) {
            got = std::min(size, Buffered());
            std::memcpy(buffer, body.data() + body_off, got);
            body_off += got;
            body_read += got;
            if (paused && Buffered() < kMaxBuffered) {
                paused = false;
                curl_easy_pause(core->easy.get(), CURLPAUSE_CONT);
            }
            return true;
        }
        if (done) {
            if (TransferFailed()) return FailFromCurl(result);
            return true;
        }
        if (paused) {
            paused = false;
            curl_easy_pause(core->easy.get(), CURLPAUSE_CONT);
        }
        if (!Pump([](const State& r) { return r.Buffered() > 0; })) return false;
    }
}

bool HttpRequest::Read(void* buffer, size_t size, size_t& got) {
    return state_->Read(buffer, size, got);
}

bool HttpRequest::SeekToEnd(uint64_t& position) {
    State& s = *state_;
    if (!s.sent || s.body_read > 0 || s.replay) return s.Fail(kErrorIncorrectHandleState);
    char buf[16384];
    while (true) {
        // One byte past the limit tells a body of exactly the limit from a longer one.
        const size_t room = kMaxUnsizedBody + 1 - s.spool.size();
        size_t got = 0;
        if (!s.Read(buf, std::min(sizeof buf, room), got)) return false;
        if (got == 0) break;
        s.spool.append(buf, got);
        if (s.spool.size() > kMaxUnsizedBody) {
            s.spool.clear();
            s.Detach();
            return s.Fail(kErrorInvalidServerResponse, "body without length over 64 KiB");
        }
    }
    s.spooled = true;
    position = s.spool.size();
    return true;
}

bool HttpRequest::SeekToBegin() {
    State& s = *state_;
    if (!s.spooled) return s.Fail(kErrorIncorrectHandleState);
    s.spool_off = 0;
    s.replay = true;
    return true;
}

}  // namespace fennic::inet
