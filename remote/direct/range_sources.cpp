// The direct road's sources: a local file read in place, bytes in memory, and the choice of a
// source by the address.

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "fs/file_io.h"
#include "fs/unique_fd.h"
#include "inet/url.h"
#include "remote/direct/range_source.h"
#include "remote/direct/s3_address.h"
#include "remote/direct/source_kinds.h"

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

bool ReadResuming(uint64_t start, uint64_t length, const ByteSink& sink,
                  const SourceOptions& options,
                  const std::function<bool(uint64_t, uint64_t, const ByteSink&, Error&)>& once,
                  Error& error) {
    uint64_t done = 0;
    bool refused = false;
    const ByteSink counted = [&](const uint8_t* p, size_t n) {
        refused = !sink(p, n);
        if (!refused) done += n;
        return !refused;
    };
    for (int cuts = 0;; ++cuts) {
        if (once(start + done, length - done, counted, error)) return true;
        // A reset may come before the first byte is read: the bytes that came are lost then.
        if (refused || error.code != ErrorCode::kConnection || cuts >= options.retries)
            return false;
        if (options.log)
            options.log("  cut off after " + std::to_string(done) +
                        " bytes: asked again for the rest");
    }
}

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

}  // namespace

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

namespace {

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

}  // namespace

std::unique_ptr<IRangeSource> MemoryRangeSource(const uint8_t* data, size_t size,
                                                const std::string& name) {
    return std::make_unique<MemorySource>(data, size, name);
}

std::unique_ptr<IRangeSource> OpenRangeSource(const std::string& location,
                                              const SourceOptions& options, Error& error) {
    const size_t scheme = location.find("://");
    if (scheme == std::string::npos) return OpenLocal(location, error);
    if (IsS3Address(location)) {
        S3Settings settings;
        std::string why;
        if (!ReadS3Settings(settings, why)) {
            Fail(error, ErrorCode::kAddress, why);
            return nullptr;
        }
        if (!options.endpointUrl.empty()) settings.endpoint = options.endpointUrl;
        SourceOptions signedOptions = options;
        std::string url;
        if (!ResolveS3Address(location, settings, url, signedOptions, error)) return nullptr;
        inet::UrlParts parts;
        if (!inet::SplitUrl(url, parts) ||
            (parts.scheme != inet::Scheme::kHttp && parts.scheme != inet::Scheme::kHttps)) {
            Fail(error, ErrorCode::kAddress,
                 "the S3 endpoint '" + inet::WithoutSecrets(settings.endpoint) +
                     "' is not an http:// or https:// address");
            return nullptr;
        }
        return OpenHttpSource(parts, location, signedOptions, error);
    }
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
    if (parts.scheme == inet::Scheme::kHttp || parts.scheme == inet::Scheme::kHttps)
        return OpenHttpSource(parts, name, options, error);
    if (parts.scheme == inet::Scheme::kFtp) return OpenFtpSource(parts, name, options, error);
    Fail(
        error, ErrorCode::kAddress,
        "'" + parts.scheme_name + "://' addresses are not supported (http, https, ftp and s3 are)");
    return nullptr;
}

}  // namespace fennic::remote
