// The direct road over FTP: one login for the run, SIZE for the archive's size, and each range
// as REST and RETR, aborted (ABOR) once its bytes are in.

#include <algorithm>
#include <chrono>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp.h"
#include "inet/http_text.h"
#include "inet/url.h"
#include "remote/direct/source_kinds.h"
#include "remote/transfer_runs.h"

namespace fennic::remote {
namespace {

class FtpSource : public IRangeSource {
public:
    FtpSource(const inet::UrlParts& parts, std::string name, const SourceOptions& options)
        : m_parts(parts), m_name(std::move(name)), m_options(options) {}

    // Logs in and asks for the size; done by the first transfer, so that a stop signal can
    // cancel the login too.
    bool Open(Error& error) {
        if (m_open) return true;
        if (!m_session.Open(inet::kUserAgent, "")) return SessionFail(error);
        m_session.SetPassive(!m_options.ftpActive);
        const std::string user = m_options.useGivenCredentials ? m_options.user : m_parts.user;
        const std::string password =
            m_options.useGivenCredentials ? m_options.password : m_parts.password;
        const uint16_t port = m_options.port ? m_options.port : m_parts.port;
        std::unique_ptr<inet::FtpConnection> connection =
            m_session.Connect(m_parts.host, port, user, password);
        if (!connection) return SessionFail(error);
        m_connection = std::move(connection);
        // FTP names files by their own bytes, not by URL escapes.
        m_path = inet::PercentDecode(m_parts.path);
        inet::FtpFileInfo info;
        ++m_count.requests;
        if (!m_connection->FindFile(m_path, info)) return ConnectionFail(error);
        m_size = info.size;
        m_version.size = m_size;
        m_open = true;
        if (!m_options.expect) return true;
        // A later login must find the file the first one found, or the run would mix two.
        if (!CompleteVersion(error)) return false;
        if (m_options.expect->size == m_size &&
            m_options.expect->lastModified == m_version.lastModified)
            return true;
        if (m_options.log)
            m_options.log("the archive changed: SIZE " + std::to_string(m_size) + ", MDTM " +
                          m_version.lastModified);
        return Fail(error, ErrorCode::kChanged, kArchiveChanged);
    }

    // The time costs a round trip, asked only when another login will be compared with it.
    bool CompleteVersion(Error& error) override {
        if (!Open(error)) return false;
        if (!m_timeAsked) {
            m_timeAsked = true;
            if (!m_connection->ModifiedTime(m_path, m_version.lastModified))
                ConnectionFail(m_timeError);
        }
        if (m_timeError) return error = m_timeError, false;
        return true;
    }

    bool ReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                  Error& error) override {
        if (!Open(error)) return false;
        size = m_size;
        const uint64_t n = std::min(count, m_size);
        bytes.clear();
        bytes.reserve(static_cast<size_t>(n));
        if (n == 0) return true;
        return Read(
            m_size - n, n,
            [&bytes](const uint8_t* p, size_t k) {
                bytes.insert(bytes.end(), p, p + k);
                return true;
            },
            error);
    }

    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) override {
        if (!Open(error)) return false;
        if (start > m_size || length > m_size - start)
            return Fail(error, ErrorCode::kDamaged, "a range past the end of " + m_name);
        if (length == 0) return true;
        return ReadResuming(
            start, length, sink, m_options,
            [this](uint64_t at, uint64_t n, const ByteSink& to, Error& e) {
                return Read(at, n, to, e);
            },
            error);
    }

    std::string Name() const override { return m_name; }
    void Cancel() override { m_session.Abort(); }

private:
    bool Read(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) {
        ++m_count.requests;
        const auto started = std::chrono::steady_clock::now();
        std::unique_ptr<inet::FtpFile> file = m_connection->OpenFileAt(m_path, start);
        if (!file) return ConnectionFail(error);
        const ChunkReader read = [&](uint8_t* to, size_t want, size_t& got, Error& e) {
            return file->Read(to, want, got) || FileFail(*file, e);
        };
        bool refused = false;
        const ByteSink take = [&](const uint8_t* data, size_t size) {
            refused = !sink(data, size);
            return !refused;
        };
        if (!PumpExactly(length, read, take, m_count.bytes, m_options.progress, error)) {
            if (refused) file->Abort();
            return false;
        }
        // The range ends at the file's end only for the tail; anything short of it is aborted.
        const bool ok = start + length == m_size ? file->Close() : file->Abort();
        if (!ok) return FileFail(*file, error);
        if (m_options.log) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
            m_options.log("REST " + std::to_string(start) + ", RETR: " + std::to_string(length) +
                          " bytes in " + std::to_string(ms) + " ms" +
                          (start + length == m_size ? "" : ", then ABOR"));
        }
        return true;
    }

    bool SessionFail(Error& error) {
        return Failure(error, m_session.LastError(), m_session.LastErrorText(),
                       m_session.LastReply());
    }
    bool ConnectionFail(Error& error) {
        return Failure(error, m_connection->LastError(), m_connection->LastErrorText(),
                       m_connection->LastReply());
    }
    bool FileFail(inet::FtpFile& file, Error& error) {
        return Failure(error, file.LastError(), file.LastErrorText(), file.LastReply());
    }
    // The message quotes the first line of the reply that refused, not of the call's first.
    bool Failure(Error& error, uint32_t code, const std::string& text, const std::string& reply) {
        ErrorCode kind = ErrorCode::kConnection;
        if (code == inet::kErrorExtended) kind = ErrorCode::kStatus;
        if (code == inet::kErrorOperationCancelled) kind = ErrorCode::kCancelled;
        if (code == inet::kErrorInvalidOption || code == inet::kErrorInvalidUrl)
            kind = ErrorCode::kAddress;
        std::string line = reply.substr(0, reply.find('\r'));
        line = line.substr(0, 200);
        Fail(error, kind,
             text + " (" + m_parts.host + ")" +
                 (kind == ErrorCode::kStatus && !line.empty() ? ": " + line : ""));
        error.netCode = code;
        return false;
    }

    inet::UrlParts m_parts;
    std::string m_name;
    SourceOptions m_options;
    inet::FtpSession m_session;
    std::unique_ptr<inet::FtpConnection> m_connection;
    std::string m_path;
    uint64_t m_size = 0;
    bool m_open = false;
    bool m_timeAsked = false;
    Error m_timeError;  // a refused MDTM: no login can be compared with this one
};

}  // namespace

std::unique_ptr<IRangeSource> OpenFtpSource(const inet::UrlParts& parts, const std::string& name,
                                            const SourceOptions& options, Error& error) {
    auto source = std::make_unique<FtpSource>(parts, name, options);
    // A later connection logs in at once: a login that finds another version must stop the
    // run before any of its entries is written.
    if (options.expect && !source->Open(error)) return nullptr;
    return source;
}

}  // namespace fennic::remote
