// The direct road over HTTP(S): one connection for the run, each request a range, every
// answer checked against the first one's version of the archive.

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>

#include "app/settings.h"
#include "app/text_convert.h"
#include "fs/file_io.h"
#include "fs/unique_fd.h"
#include "inet/content_range.h"
#include "inet/errors.h"
#include "inet/http.h"
#include "inet/http_text.h"
#include "inet/resource_version.h"
#include "remote/direct/error_body.h"
#include "remote/direct/http_answers.h"
#include "remote/direct/source_kinds.h"
#include "remote/transfer_runs.h"

namespace fennic::remote {
namespace {

// The request's own headers: the answer must be the bytes as stored, never a compressed form.
constexpr char kIdentity[] = "Accept-Encoding: identity\r\n";

// The longest archive a server without ranges is read into the temp folder without a
// Content-Length to go by.
constexpr uint64_t kFullDownloadLimit = uint64_t{64} << 30;

// The longest wait a busy server's Retry-After is granted, and the first of the doubling waits
// without one.
constexpr uint64_t kLongestRetryWait = 30;
constexpr uint64_t kFirstRetryWait = 1;

class HttpSource : public IRangeSource {
public:
    HttpSource(const inet::UrlParts& parts, std::string name, const SourceOptions& options)
        : m_parts(parts), m_name(std::move(name)), m_options(options) {}

    bool Open(Error& error) {
        const bool named = !m_options.proxy.empty();
        const std::string agent = m_options.userAgent.empty() ? "fennic" : m_options.userAgent;
        if (!m_session.Open(agent, named ? inet::kAccessProxy : inet::kAccessPreconfig,
                            m_options.proxy)) {
            return NetFail(error, m_session.LastError(), m_session.LastErrorText());
        }
        if (!m_options.caFile.empty()) m_session.SetCaFile(m_options.caFile);
        if (m_options.netrc) m_session.SetNetrc(m_options.netrcFile);
        if (!m_options.awsSigV4.empty()) {
            m_session.SetAwsSigV4(m_options.awsSigV4, m_options.awsKey, m_options.awsSecret);
            // S3 wants the body's hash (a GET has none) signed with the request.
            m_signedHeaders =
                "x-amz-content-sha256: "
                "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\r\n";
            if (!m_options.awsToken.empty())
                m_signedHeaders += "x-amz-security-token: " + m_options.awsToken + "\r\n";
        }
        m_session.SetInsecure(m_options.insecure);
        const bool secure = m_parts.scheme == inet::Scheme::kHttps;
        std::string user = m_parts.user;
        std::string password = m_parts.password;
        if (m_options.useGivenCredentials) {
            user = m_options.user;
            password = m_options.password;
        }
        const uint16_t port = m_options.port ? m_options.port : m_parts.port;
        m_connection = m_session.Connect(m_parts.host, port, user, password);
        if (!m_connection) return NetFail(error, m_session.LastError(), m_session.LastErrorText());
        m_object = m_parts.path;
        if (m_options.expect) {
            m_version = *m_options.expect;
            m_pinned = m_sized = true;
        }
        m_secure = secure;
        m_user = user;
        m_password = password;
        return true;
    }

    bool ReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                  Error& error) override {
        if (m_local) return m_local->ReadTail(count, bytes, size, error);
        std::unique_ptr<inet::HttpRequest> request;
        uint32_t status = 0;
        if (!Send("Range: bytes=-" + std::to_string(count) + "\r\n", request, status, error))
            return false;
        inet::ContentRange range;
        uint64_t length = 0;
        const bool haveLength = request->QueryContentLength(length);
        if (status == 200) {
            // The whole archive in answer: as much as asked for is taken as it is; more is a
            // server that ignores ranges.
            if (haveLength && length <= count) {
                size = Sized(length);
                return ReadBody(*request, length, bytes, error);
            }
            if (!m_options.fullDownload) {
                // Some servers ignore only the suffix form: the headers gave the size, the
                // body is cut off, and the tail is asked for by its offsets.
                request->Close();
                if (haveLength) return ReadTailAt(length, count, bytes, size, error);
                return ProbeThenReadTail(count, bytes, size, error);
            }
            if (!Download(*request, haveLength ? length : 0, error)) return false;
            return m_local->ReadTail(count, bytes, size, error);
        }
        std::string text;
        const bool haveRange = request->QueryHeader("Content-Range", text);
        // 416 names the size when it is an empty file ("bytes */0") or a server that refuses
        // the suffix form.
        if (status == 416 && haveRange && inet::ParseUnsatisfiedRange(text, size)) {
            request->Close();
            if (size == 0)
                return Fail(error, ErrorCode::kNotArchive,
                            m_name + " is empty (0 bytes): not a ZIP archive");
            return ReadTailAt(size, count, bytes, size, error);
        }
        if (status == 400 || status == 416 || status == 501) {
            request->Close();
            return ProbeThenReadTail(count, bytes, size, error);
        }
        if (status != 206) return StatusFail(error, status, *request);
        if (!haveRange || !inet::ParseContentRange(text, range) || !range.totalKnown) {
            // Bytes of unknown place are no use; the offsets may still be answered right.
            request->Close();
            m_badRange = haveRange ? Quoted(text) : "none";
            return ProbeThenReadTail(count, bytes, size, error);
        }
        if (range.last + 1 != range.total || range.Length() > count) {
            // Other bytes than the suffix asked for (the first ones, say): the offsets ask.
            request->Close();
            return ReadTailAt(range.total, count, bytes, size, error);
        }
        if (const std::string mismatch = LengthMismatch(*request, range.Length());
            !mismatch.empty())
            return Fail(error, ErrorCode::kStatus, mismatch);
        size = Sized(range.total);
        return ReadBody(*request, range.Length(), bytes, error);
    }

    void Cancel() override {
        {
            std::lock_guard<std::mutex> lock(m_waitMutex);
            m_cancelled = true;
        }
        m_waitCv.notify_all();
        m_session.Cancel();
        if (m_local) m_local->Cancel();
    }

    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) override {
        if (m_local) return m_local->ReadRange(start, length, sink, error);
        return ReadResuming(
            start, length, sink, m_options,
            [this](uint64_t at, uint64_t n, const ByteSink& to, Error& e) {
                return ReadRangeOnce(at, n, to, e);
            },
            error);
    }

    std::string Name() const override { return m_name; }

private:
    bool ReadRangeOnce(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) {
        if (length == 0) return true;
        std::unique_ptr<inet::HttpRequest> request;
        uint32_t status = 0;
        const uint64_t last = start + length - 1;
        if (!Send("Range: bytes=" + std::to_string(start) + "-" + std::to_string(last) + "\r\n",
                  request, status, error)) {
            return false;
        }
        if (status != 206) {
            if (status != 200) return StatusFail(error, status, *request);
            request->Close();
            // The same version, whole: a server that holds its date too weak for If-Range.
            // Asked again without it; the answers' validators are still compared.
            if (SendsIfRange()) {
                m_noIfRange = true;
                if (m_options.log) m_options.log("  200 to If-Range: asked again without it");
                return ReadRangeOnce(start, length, sink, error);
            }
            return Fail(error, ErrorCode::kNoRanges,
                        "the server stopped sending byte ranges (200 instead of 206)");
        }
        std::string text;
        inet::ContentRange range;
        const bool parsed = request->QueryHeader("Content-Range", text) &&
                            inet::ParseContentRange(text, range) && range.totalKnown;
        if (parsed && m_sized && range.total != m_version.size) {
            request->Close();
            return Changed("its size is now " + std::to_string(range.total), error);
        }
        if (!parsed || range.first != start || range.last != last) {
            return Fail(error, ErrorCode::kStatus,
                        "the server's Content-Range is not the range asked for");
        }
        // Refused before any body byte, as the first request is.
        if (const std::string mismatch = LengthMismatch(*request, length); !mismatch.empty())
            return Fail(error, ErrorCode::kStatus, mismatch);
        return Stream(*request, length, sink, error);
    }

    // The last `count` bytes of an archive of `total` bytes, by an explicit range.
    bool ReadTailAt(uint64_t total, uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                    Error& error) {
        size = Sized(total);
        const uint64_t take = std::min(count, total);
        bytes.clear();
        bytes.reserve(static_cast<size_t>(take));
        const ByteSink keep = [&bytes](const uint8_t* data, size_t n) {
            bytes.insert(bytes.end(), data, data + n);
            return true;
        };
        if (ReadRange(total - take, take, keep, error)) return true;
        if (error.code == ErrorCode::kNoRanges)
            error.message =
                "the server does not send byte ranges (it answered 200 to a range "
                "by offsets too); --full-download fetches the whole archive instead";
        return false;
    }

    // The size from the answer for the first byte, then the tail by its offsets.
    bool ProbeThenReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                           Error& error) {
        std::unique_ptr<inet::HttpRequest> request;
        uint32_t status = 0;
        if (!Send("Range: bytes=0-0\r\n", request, status, error)) return false;
        std::string text;
        const bool haveRange = request->QueryHeader("Content-Range", text);
        uint64_t total = 0, length = 0;
        const bool haveLength = request->QueryContentLength(length);
        request->Close();
        inet::ContentRange range;
        // No first byte to send, or a whole answer of none: the file is empty.
        const bool empty =
            (status == 416 &&
             (!haveRange || !inet::ParseUnsatisfiedRange(text, total) || total == 0)) ||
            (status == 200 && haveLength && length == 0);
        if (empty)
            return Fail(error, ErrorCode::kNotArchive,
                        m_name + " is empty (0 bytes): not a ZIP archive");
        if (status == 200)
            return Fail(error, ErrorCode::kNoRanges,
                        "the server does not send byte ranges (it answered 200 to a range); "
                        "--full-download fetches the whole archive instead");
        if (status != 206 && status != 400 && status != 501)
            return StatusFail(error, status, *request);
        if (status != 206 || !haveRange || !inet::ParseContentRange(text, range) ||
            !range.totalKnown || range.first != 0 || range.last != 0) {
            Error probe;
            if (status != 206) {
                StatusFail(probe, status, *request);
            } else {
                std::string shown = "the server's Content-Range (" +
                                    (haveRange ? Quoted(text) : std::string("none")) +
                                    ") is not the range asked for";
                if (!m_badRange.empty())
                    shown += ", nor was its answer to the last bytes (" + m_badRange + ")";
                Fail(probe, ErrorCode::kStatus, shown);
            }
            return SizeWithoutRange(count, bytes, size, probe, error);
        }
        return ReadTailAt(range.total, count, bytes, size, error);
    }

    // The last resort where the ranges said nothing usable: the size from an answer without a
    // range, cut off after its headers (an empty file is said to be one, an archive no longer
    // than the first request is read whole), then the tail by its offsets. Without a size
    // there, the probe's failure stands.
    bool SizeWithoutRange(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                          const Error& probe, Error& error) {
        std::unique_ptr<inet::HttpRequest> request;
        uint32_t status = 0;
        if (!Send("", request, status, error)) return false;
        uint64_t length = 0;
        if (status != 200 || !request->QueryContentLength(length)) {
            request->Close();
            error = probe;
            return false;
        }
        if (length == 0) {
            request->Close();
            return Fail(error, ErrorCode::kNotArchive,
                        m_name + " is empty (0 bytes): not a ZIP archive");
        }
        if (length <= count) {
            size = Sized(length);
            return ReadBody(*request, length, bytes, error);
        }
        request->Close();
        return ReadTailAt(length, count, bytes, size, error);
    }

    // Sends the request, and again after a busy server's answer, as often as --retry says:
    // after the wait its Retry-After asks for, else 1, 2, 4... seconds.
    bool Send(const std::string& headers, std::unique_ptr<inet::HttpRequest>& request,
              uint32_t& status, Error& error) {
        for (int attempt = 0;; ++attempt) {
            if (!SendOnce(headers, request, status, error)) return false;
            if (!inet::IsTransientStatus(status) || attempt >= m_options.retries) return true;
            uint64_t wait =
                std::min<uint64_t>(kFirstRetryWait << std::min(attempt, 5), kLongestRetryWait);
            std::string asked;
            if (request->QueryHeader("Retry-After", asked) &&
                inet::RetryAfterSeconds(asked, static_cast<int64_t>(std::time(nullptr)), wait) &&
                wait > kLongestRetryWait) {
                // Longer than a run should sit idle: the answer stands.
                return true;
            }
            request->Close();
            if (m_options.log)
                m_options.log("  " + std::to_string(status) + ": asked again in " +
                              std::to_string(wait) + " s");
            std::unique_lock<std::mutex> lock(m_waitMutex);
            if (m_waitCv.wait_for(lock, std::chrono::seconds(wait), [this] { return m_cancelled; }))
                return Fail(error, ErrorCode::kCancelled, "stopped");
        }
    }

    bool SendOnce(const std::string& headers, std::unique_ptr<inet::HttpRequest>& request,
                  uint32_t& status, Error& error) {
        request = m_connection->OpenRequest(m_object, m_secure);
        if (!request)
            return NetFail(error, m_connection->LastError(), m_connection->LastErrorText());
        if (!m_options.proxyUser.empty())
            request->SetProxyCredentials(m_options.proxyUser, m_options.proxyPassword);
        request->SetDigest(m_digest);
        ++m_count.requests;
        m_asked = headers.substr(0, headers.find('\r'));
        m_started = std::chrono::steady_clock::now();
        std::string all = headers + kIdentity + Conditions() + m_signedHeaders;
        for (const std::string& extra : m_options.headers) all += extra + "\r\n";
        if (!request->Send(all))
            return NetFail(error, request->LastError(), request->LastErrorText());
        if (!request->QueryStatusCode(status))
            return NetFail(error, request->LastError(), request->LastErrorText());
        if (m_options.log)
            m_options.log("GET " + inet::WithoutSecretQuery(m_object) + " (" + m_asked +
                          "): " + std::to_string(status));
        std::string coding;
        if ((status == 200 || status == 206) && request->QueryHeader("Content-Encoding", coding) &&
            !inet::IsIdentityCoding(coding)) {
            request->Close();
            return Fail(error, ErrorCode::kStatus,
                        "the server compressed the answer (Content-Encoding: " + coding +
                            "): its bytes are not the archive's");
        }
        if (!SameVersion(*request, status, error)) return false;
        std::string challenge;
        // A server that wants Digest says so in its 401; the credentials go again that way.
        if (status == 401 && !m_digest && !m_user.empty() &&
            request->QueryHeader("WWW-Authenticate", challenge) &&
            challenge.find("Digest") != std::string::npos) {
            m_digest = true;
            request->Close();
            return SendOnce(headers, request, status, error);
        }
        return true;
    }

    // Once the first answer named the archive's version, each request asks for that version
    // only: by its strong ETag (412 otherwise), else by its date (200 with the new body).
    std::string Conditions() const {
        if (!m_pinned) return "";
        if (!m_version.etag.empty()) return "If-Match: " + m_version.etag + "\r\n";
        if (SendsIfRange()) return "If-Range: " + m_version.lastModified + "\r\n";
        return "";
    }
    bool SendsIfRange() const {
        return m_pinned && m_version.etag.empty() && !m_version.lastModified.empty() &&
               !m_noIfRange;
    }

    // The first answer with bytes names the version; every later one must show the same.
    bool SameVersion(inet::HttpRequest& request, uint32_t status, Error& error) {
        if (status == 412 && m_pinned && !m_version.etag.empty()) {
            request.Close();
            return Changed("412 to If-Match", error);
        }
        if (status != 200 && status != 206) return true;
        ArchiveVersion now;
        inet::ReadValidators(request, now);
        if (!m_pinned) {
            now.size = m_version.size;
            m_version = now;
            m_pinned = true;
            return true;
        }
        if (inet::SameVersion(m_version, now)) return true;
        request.Close();
        return Changed("ETag " + now.etag + ", Last-Modified " + now.lastModified, error);
    }

    // A header's text for a message: escaped, and no longer than a line.
    static std::string Quoted(const std::string& text) {
        bool cut = false;
        const std::string head = Utf8Prefix(SanitizeUtf8(text), 80, &cut);
        return "\"" + TerminalText(head) + (cut ? "..." : "") + "\"";
    }

    uint64_t Sized(uint64_t total) {
        m_version.size = total;
        m_sized = true;
        return total;
    }

    bool Changed(const std::string& how, Error& error) {
        if (m_options.log) m_options.log("  the archive changed: " + how);
        return Fail(error, ErrorCode::kChanged, kArchiveChanged);
    }

    bool ReadBody(inet::HttpRequest& request, uint64_t length, std::vector<uint8_t>& bytes,
                  Error& error) {
        bytes.clear();
        bytes.reserve(static_cast<size_t>(length));
        return Stream(
            request, length,
            [&bytes](const uint8_t* p, size_t n) {
                bytes.insert(bytes.end(), p, p + n);
                return true;
            },
            error);
    }

    // Exactly `length` body bytes to sink: a shorter body is a broken transfer and a longer one
    // is never read past.
    bool Stream(inet::HttpRequest& request, uint64_t length, const ByteSink& sink, Error& error) {
        const ChunkReader read = [&](uint8_t* to, size_t want, size_t& got, Error& e) {
            return request.Read(to, want, got) ||
                   NetFail(e, request.LastError(), request.LastErrorText());
        };
        if (!PumpExactly(length, read, sink, m_count.bytes, m_options.progress, error))
            return false;
        uint8_t extra = 0;
        size_t got = 0;
        if (request.Read(&extra, 1, got) && got != 0)
            return Fail(error, ErrorCode::kStatus, "the server sent more bytes than it announced");
        request.Close();
        if (m_options.log) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - m_started)
                                .count();
            m_options.log("  " + std::to_string(length) + " bytes in " + std::to_string(ms) +
                          " ms");
        }
        return true;
    }

    // The whole body into this run's temp folder, then read from there.
    bool Download(inet::HttpRequest& request, uint64_t length, Error& error) {
        const std::string dir = GetTempPath();
        if (dir.empty()) return Fail(error, ErrorCode::kLocal, TempPathProblem());
        const std::string path = dir + "full-download.zip";
        {
            fs::UniqueFd out = fs::Open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (!out)
                return FailErrno(error, ErrorCode::kLocal, path + ": " + std::strerror(errno),
                                 errno);
            std::vector<uint8_t> buffer(1 << 16);
            uint64_t done = 0;
            if (length > kFullDownloadLimit)
                return Fail(error, ErrorCode::kStatus,
                            "the archive is said to be " + std::to_string(length) +
                                " bytes, more than --full-download fetches");
            const uint64_t limit = length ? length : kFullDownloadLimit;
            while (true) {
                size_t got = 0;
                if (!request.Read(buffer.data(), buffer.size(), got))
                    return NetFail(error, request.LastError(), request.LastErrorText());
                if (got == 0) break;
                if (got > limit - done)
                    return Fail(error, ErrorCode::kStatus,
                                "the server sent more than " + std::to_string(limit) + " bytes");
                if (const int e = fs::WriteAll(out.Get(), buffer.data(), got); e != 0)
                    return FailErrno(error, ErrorCode::kLocal, path + ": " + std::strerror(e), e);
                done += got;
                m_count.bytes += got;
                if (m_options.progress) m_options.progress(done, length);
            }
            if (length && done != length)
                return Fail(error, ErrorCode::kConnection,
                            "the server ended the transfer after " + std::to_string(done) + " of " +
                                std::to_string(length) + " bytes");
        }
        request.Close();
        m_local = OpenLocal(path, error);
        return m_local != nullptr;
    }

    // The status, and what an object store's error body says of it.
    bool StatusFail(Error& error, uint32_t status, inet::HttpRequest& request) {
        const std::string cause = ReadErrorBodyCause(request);
        request.Close();
        Fail(error, ErrorCode::kStatus,
             inet::ServerAnswered(status) + (cause.empty() ? "" : ": " + cause));
        error.httpStatus = static_cast<int>(status);
        return false;
    }

    bool NetFail(Error& error, uint32_t code, const std::string& text) {
        const ErrorCode kind = code == inet::kErrorOperationCancelled ? ErrorCode::kCancelled
                               : code == inet::kErrorInvalidUrl ||
                                       code == inet::kErrorUnrecognizedScheme ||
                                       code == inet::kErrorInvalidOption
                                   ? ErrorCode::kAddress
                                   : ErrorCode::kConnection;
        Fail(error, kind, text + " (" + m_parts.host + ")");
        error.netCode = code;
        return false;
    }

    inet::UrlParts m_parts;
    std::string m_name;
    SourceOptions m_options;
    inet::HttpSession m_session;
    std::unique_ptr<inet::HttpConnection> m_connection;
    std::string m_object;
    bool m_secure = false;
    std::string m_user, m_password;
    bool m_digest = false;
    std::string m_signedHeaders;  // S3's own, when requests are signed
    std::string m_badRange;       // the tail's Content-Range, when it said nothing usable
    std::mutex m_waitMutex;       // a wait before asking again, which Cancel ends
    std::condition_variable m_waitCv;
    bool m_cancelled = false;
    bool m_pinned = false;     // m_version's validators are the run's
    bool m_noIfRange = false;  // the server answered If-Range with the whole, unchanged
    bool m_sized = false;      // and so is its size
    std::string m_asked;       // the last request's range, for the log
    std::chrono::steady_clock::time_point m_started;
    std::unique_ptr<IRangeSource> m_local;  // after a full download
};

}  // namespace

std::unique_ptr<IRangeSource> OpenHttpSource(const inet::UrlParts& parts, const std::string& name,
                                             const SourceOptions& options, Error& error) {
    auto source = std::make_unique<HttpSource>(parts, name, options);
    if (!source->Open(error)) return nullptr;
    return source;
}

}  // namespace fennic::remote
