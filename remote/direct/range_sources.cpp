// The direct road's sources: a local file read in place, and a web server asked for ranges on
// one connection.

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/settings.h"
#include "fs/file_io.h"
#include "fs/unique_fd.h"
#include "inet/content_range.h"
#include "inet/errors.h"
#include "inet/http.h"
#include "inet/http_text.h"
#include "inet/url.h"
#include "remote/direct/error_body.h"
#include "remote/direct/http_answers.h"
#include "remote/direct/range_source.h"
#include "remote/transfer_runs.h"

namespace fennic::remote {

bool PumpExactly(uint64_t length, const ChunkReader& read, const ByteSink& sink, uint64_t& bytes,
                 const std::function<void(uint64_t, uint64_t)>& progress, Error& error) {
    std::vector<uint8_t> buffer(1 << 16);
    uint64_t done = 0;
    while (done < length) {
        size_t got = 0;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - done));
        if (!read(buffer.data(), want, got, error)) return false;
        if (got == 0)
            return Fail(error, ErrorCode::kConnection,
                        "the server ended the transfer after " + std::to_string(done) + " of " +
                            std::to_string(length) + " bytes");
        bytes += got;
        done += got;
        if (!sink(buffer.data(), got)) return Fail(error, ErrorCode::kCancelled, "stopped");
        if (progress) progress(done, length);
    }
    return true;
}

std::unique_ptr<IRangeSource> OpenFtpSource(const inet::UrlParts& parts, const std::string& name,
                                            const SourceOptions& options, Error& error);

namespace {

class LocalSource : public IRangeSource {
public:
    LocalSource(fs::UniqueFd fd, uint64_t size, std::string name)
        : m_fd(std::move(fd)), m_size(size), m_name(std::move(name)) {}

    bool ReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                  Error& error) override {
        size = m_size;
        const uint64_t n = std::min(count, m_size);
        bytes.resize(static_cast<size_t>(n));
        return ReadAt(m_size - n, bytes.data(), bytes.size(), error);
    }
    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) override {
        if (start > m_size || length > m_size - start)
            return Fail(error, ErrorCode::kDamaged, "a range past the end of " + m_name);
        std::vector<uint8_t> buffer(1 << 16);
        for (uint64_t done = 0; done < length;) {
            if (m_cancelled) return Fail(error, ErrorCode::kCancelled, "stopped");
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - done));
            if (!ReadAt(start + done, buffer.data(), want, error)) return false;
            if (!sink(buffer.data(), want)) return Fail(error, ErrorCode::kCancelled, "stopped");
            done += want;
        }
        return true;
    }
    std::string Name() const override { return m_name; }
    void Cancel() override { m_cancelled = true; }

private:
    bool ReadAt(uint64_t at, uint8_t* to, size_t size, Error& error) {
        ++m_count.requests;
        const ssize_t got = fs::ReadFullAt(m_fd.Get(), to, size, at);
        if (got < 0)
            return FailErrno(error, ErrorCode::kLocal, m_name + ": " + std::strerror(errno), errno);
        if (static_cast<size_t>(got) != size)
            return Fail(error, ErrorCode::kDamaged, m_name + " became shorter while it was read");
        m_count.bytes += size;
        return true;
    }

    fs::UniqueFd m_fd;
    uint64_t m_size;
    std::string m_name;
    std::atomic<bool> m_cancelled{false};
};

// A missing file whose name reads like a mistyped address ("http//host/a.zip",
// "https:/host/a.zip") gets a word on what an address looks like.
std::string AddressHint(const std::string& path, int err) {
    if (err != ENOENT) return "";
    size_t i = 0;
    while (i < path.size() && (std::isalnum(static_cast<unsigned char>(path[i])) ||
                               path[i] == '+' || path[i] == '-' || path[i] == '.'))
        ++i;
    const std::string scheme = path.substr(0, i);
    static const char* const kSchemes[] = {"http", "https", "ftp"};
    bool known = false;
    for (const char* k : kSchemes) known = known || strcasecmp(scheme.c_str(), k) == 0;
    const std::string rest = path.substr(i);
    if (!known || (rest.compare(0, 2, "//") != 0 && rest.compare(0, 2, ":/") != 0)) return "";
    return " (an address is written " + scheme + "://host/path)";
}

std::unique_ptr<IRangeSource> OpenLocal(const std::string& path, Error& error) {
    if (path.empty()) {
        FailErrno(error, ErrorCode::kLocal, "no file name given", ENOENT);
        return nullptr;
    }
    // Without O_NONBLOCK a FIFO would hold the open until a writer came; it is refused below.
    fs::UniqueFd fd = fs::Open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!fd) {
        const int err = errno;
        const std::string hint = AddressHint(path, err);
        // Text meant as an address may carry a password.
        FailErrno(
            error, ErrorCode::kLocal,
            (hint.empty() ? path : inet::WithoutSecrets(path)) + ": " + std::strerror(err) + hint,
            err);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        FailErrno(error, ErrorCode::kLocal, path + ": " + std::strerror(errno), errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        FailErrno(error, ErrorCode::kLocal, path + ": " + std::strerror(EISDIR), EISDIR);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        FailErrno(error, ErrorCode::kLocal, path + ": not a regular file", EINVAL);
        return nullptr;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd.Get(), 0, SEEK_END);
        size = end < 0 ? 0 : static_cast<uint64_t>(end);
    }
    return std::make_unique<LocalSource>(std::move(fd), size, path);
}

class MemorySource : public IRangeSource {
public:
    MemorySource(const uint8_t* data, size_t size, std::string name)
        : m_data(data), m_size(size), m_name(std::move(name)) {}
    bool ReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size, Error&) override {
        ++m_count.requests;
        size = m_size;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_size));
        bytes.assign(m_data + (m_size - n), m_data + m_size);
        return true;
    }
    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) override {
        ++m_count.requests;
        if (start > m_size || length > m_size - start)
            return Fail(error, ErrorCode::kDamaged, "a range past the end of " + m_name);
        return length == 0 || sink(m_data + start, static_cast<size_t>(length)) ||
               Fail(error, ErrorCode::kCancelled, "stopped");
    }
    std::string Name() const override { return m_name; }

private:
    const uint8_t* m_data;
    size_t m_size;
    std::string m_name;
};

// The request's own headers: the answer must be the bytes as stored, never a compressed form.
constexpr char kIdentity[] = "Accept-Encoding: identity\r\n";

// The longest archive a server without ranges is read into the temp folder without a
// Content-Length to go by.
constexpr uint64_t kFullDownloadLimit = uint64_t{64} << 30;

class HttpSource : public IRangeSource {
public:
    HttpSource(const inet::UrlParts& parts, std::string url, std::string name,
               const SourceOptions& options)
        : m_parts(parts), m_url(std::move(url)), m_name(std::move(name)), m_options(options) {}

    bool Open(Error& error) {
        const bool named = !m_options.proxy.empty();
        const std::string agent = m_options.userAgent.empty() ? "fennic" : m_options.userAgent;
        if (!m_session.Open(agent, named ? inet::kAccessProxy : inet::kAccessPreconfig,
                            m_options.proxy)) {
            return NetFail(error, m_session.LastError(), m_session.LastErrorText());
        }
        if (!m_options.caFile.empty()) m_session.SetCaFile(m_options.caFile);
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
                size = length;
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
            return Fail(error, ErrorCode::kStatus,
                        "the server's Content-Range does not describe the archive's last bytes");
        }
        if (range.last + 1 != range.total || range.Length() > count) {
            // Other bytes than the suffix asked for (the first ones, say): the offsets ask.
            request->Close();
            return ReadTailAt(range.total, count, bytes, size, error);
        }
        if (const std::string mismatch = LengthMismatch(*request, range.Length());
            !mismatch.empty())
            return Fail(error, ErrorCode::kStatus, mismatch);
        size = range.total;
        return ReadBody(*request, range.Length(), bytes, error);
    }

    void Cancel() override {
        m_session.Cancel();
        if (m_local) m_local->Cancel();
    }

    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) override {
        if (m_local) return m_local->ReadRange(start, length, sink, error);
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
            return Fail(error, ErrorCode::kNoRanges,
                        "the server stopped sending byte ranges (200 instead of 206)");
        }
        std::string text;
        inet::ContentRange range;
        if (!request->QueryHeader("Content-Range", text) || !inet::ParseContentRange(text, range) ||
            !range.totalKnown || range.first != start || range.last != last) {
            return Fail(error, ErrorCode::kStatus,
                        "the server's Content-Range is not the range asked for");
        }
        // Refused before any body byte, as the first request is.
        if (const std::string mismatch = LengthMismatch(*request, length); !mismatch.empty())
            return Fail(error, ErrorCode::kStatus, mismatch);
        return Stream(*request, length, sink, error);
    }

    std::string Name() const override { return m_name; }

private:
    // The last `count` bytes of an archive of `total` bytes, by an explicit range.
    bool ReadTailAt(uint64_t total, uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                    Error& error) {
        size = total;
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
        request->Close();
        inet::ContentRange range;
        uint64_t total = 0;
        if (status == 416 && haveRange && inet::ParseUnsatisfiedRange(text, total) && total == 0)
            return Fail(error, ErrorCode::kNotArchive,
                        m_name + " is empty (0 bytes): not a ZIP archive");
        if (status == 200)
            return Fail(error, ErrorCode::kNoRanges,
                        "the server does not send byte ranges (it answered 200 to a range); "
                        "--full-download fetches the whole archive instead");
        if (status != 206) return StatusFail(error, status, *request);
        if (!haveRange || !inet::ParseContentRange(text, range) || !range.totalKnown ||
            range.first != 0 || range.last != 0)
            return Fail(error, ErrorCode::kStatus,
                        "the server's Content-Range is not the range asked for");
        return ReadTailAt(range.total, count, bytes, size, error);
    }

    bool Send(const std::string& headers, std::unique_ptr<inet::HttpRequest>& request,
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
        std::string all = headers + kIdentity;
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
        std::string challenge;
        // A server that wants Digest says so in its 401; the credentials go again that way.
        if (status == 401 && !m_digest && !m_user.empty() &&
            request->QueryHeader("WWW-Authenticate", challenge) &&
            challenge.find("Digest") != std::string::npos) {
            m_digest = true;
            request->Close();
            return Send(headers, request, status, error);
        }
        return true;
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
    std::string m_url, m_name;
    SourceOptions m_options;
    inet::HttpSession m_session;
    std::unique_ptr<inet::HttpConnection> m_connection;
    std::string m_object;
    bool m_secure = false;
    std::string m_user, m_password;
    bool m_digest = false;
    std::string m_asked;  // the last request's range, for the log
    std::chrono::steady_clock::time_point m_started;
    std::unique_ptr<IRangeSource> m_local;  // after a full download
};

}  // namespace

std::unique_ptr<IRangeSource> MemoryRangeSource(const uint8_t* data, size_t size,
                                                const std::string& name) {
    return std::make_unique<MemorySource>(data, size, name);
}

std::unique_ptr<IRangeSource> OpenRangeSource(const std::string& location,
                                              const SourceOptions& options, Error& error) {
    const size_t scheme = location.find("://");
    if (scheme == std::string::npos) return OpenLocal(location, error);
    const std::string name = inet::WithoutSecrets(location);
    inet::UrlParts parts;
    if (!inet::SplitUrl(location, parts)) {
        Fail(error, ErrorCode::kAddress, "'" + name + "' is not a usable address");
        return nullptr;
    }
    if (inet::HasLineBreak(parts) ||
        (options.useGivenCredentials &&
         (inet::HasLineBreak(options.user) || inet::HasLineBreak(options.password)))) {
        Fail(error, ErrorCode::kAddress,
             "the address or its user name or password holds a line break or NUL character; "
             "nothing was sent");
        return nullptr;
    }
    if (parts.scheme == inet::Scheme::kHttp || parts.scheme == inet::Scheme::kHttps) {
        auto source = std::make_unique<HttpSource>(parts, location, name, options);
        if (!source->Open(error)) return nullptr;
        return source;
    }
    if (parts.scheme == inet::Scheme::kFtp) return OpenFtpSource(parts, name, options, error);
    Fail(error, ErrorCode::kAddress,
         "'" + parts.scheme_name + "://' addresses are not supported (http, https and ftp are)");
    return nullptr;
}

}  // namespace fennic::remote
