#pragma once
// Where the direct road gets an archive's bytes: a web server, an FTP server or a local file,
// read by byte ranges. Each source keeps one connection (one login) for the whole run.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "inet/resource_version.h"

namespace fennic::remote {

// What stopped a road; the command line words its message and exit status from the code.
using fennic::Error;
using fennic::ErrorCode;
using fennic::Fail;
using fennic::FailErrno;

// Bytes handed over as they arrive; false stops the transfer.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

// Reads up to `want` bytes into `to`, setting got (0 at the body's end); false when the read
// failed, with `error` filled.
using ChunkReader = std::function<bool(uint8_t* to, size_t want, size_t& got, Error& error)>;
// Exactly `length` bytes from read to sink, counting them in `bytes` and reporting each step
// to progress (may be empty): a body that ends early is a broken transfer, a sink that refuses
// stops it (kCancelled).
bool PumpExactly(uint64_t length, const ChunkReader& read, const ByteSink& sink, uint64_t& bytes,
                 const std::function<void(uint64_t, uint64_t)>& progress, Error& error);

// Exactly `length` bytes from `start` with `once`; a try that breaks off on the way
// (kConnection) is followed by one for the rest, options.retries times at most, each noted in
// options.log.
struct SourceOptions;
bool ReadResuming(uint64_t start, uint64_t length, const ByteSink& sink,
                  const SourceOptions& options,
                  const std::function<bool(uint64_t, uint64_t, const ByteSink&, Error&)>& once,
                  Error& error);

// The transfers of the direct road, counted for -v and the benchmark.
struct TransferCount {
    int requests = 0;
    uint64_t bytes = 0;
};

// One version of the archive: every answer of a run after the first must show the version the
// first one showed, or the run would mix two archives.
using ArchiveVersion = inet::ResourceVersion;

// What a run that met a second version of its archive says.
constexpr char kArchiveChanged[] = "the archive changed on the server during the run";

class IRangeSource {
public:
    virtual ~IRangeSource() = default;
    // The last `count` bytes (all of them when the archive is shorter) into `bytes`, and the
    // archive's size. One request.
    virtual bool ReadTail(uint64_t count, std::vector<uint8_t>& bytes, uint64_t& size,
                          Error& error) = 0;
    // Exactly `length` bytes from `start` into sink. One request.
    virtual bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& error) = 0;
    // What the archive is called in messages (never with a password).
    virtual std::string Name() const = 0;
    // Any thread: the pending and later transfers fail as cancelled.
    virtual void Cancel() {}
    const TransferCount& Count() const { return m_count; }
    // The version the answers so far showed, once ReadTail is done; CompleteVersion asks for
    // what the answers did not say (FTP's MDTM), before another connection is compared with it.
    const ArchiveVersion& Version() const { return m_version; }
    virtual bool CompleteVersion(Error&) { return true; }

protected:
    TransferCount m_count;
    ArchiveVersion m_version;
};

// Options of the direct road's network sources.
struct SourceOptions {
    std::string caFile;         // instead of the system's certificates
    bool insecure = false;      // no certificate checks
    bool ftpActive = false;     // PORT/EPRT instead of EPSV/PASV
    bool fullDownload = false;  // a server without ranges: fetch the whole archive
    // The proxy the settings name ("host[:port]"), with its credentials; empty: the
    // environment's http_proxy, https_proxy and no_proxy.
    std::string proxy, proxyUser, proxyPassword;
    // Credentials instead of the address's own (empty user: the address's).
    std::string user, password;
    bool useGivenCredentials = false;
    uint16_t port = 0;  // instead of the address's, when not 0
    // HTTP: the agent text (empty: the program's own) and headers sent with every request,
    // each "Name: value" as CheckRequestHeader accepts it.
    std::string userAgent;
    std::vector<std::string> headers;
    // HTTP: credentials from a .netrc file for a server the address gives none for ("": the
    // user's ~/.netrc).
    bool netrc = false;
    std::string netrcFile;
    // S3: requests signed with AWS Signature Version 4 ("aws:amz:REGION:s3"; empty: not
    // signed) by the key and secret, with the session token when there is one.
    std::string awsSigV4, awsKey, awsSecret, awsToken;
    std::string endpointUrl;  // --endpoint-url: instead of AWS_ENDPOINT_URL and the profile's
    // How many times a request is sent again after a 429, 502, 503 or 504, or a range cut off
    // before its end is asked again for the bytes it still owes.
    int retries = 3;
    // A later connection of a run: the version its answers must show (none: the first
    // connection, which takes the version from its first answer).
    std::optional<ArchiveVersion> expect;
    // Progress of a long transfer (done, total); total 0 when unknown.
    std::function<void(uint64_t, uint64_t)> progress;
    // One line per request made (what was asked, the answer, bytes, time), for -v.
    std::function<void(const std::string&)> log;
};

// Whether `line` may go out as a request header: "Name: value" on one line, the name a token
// and not one the program sets itself (Range, If-Range, Accept-Encoding, Content-Length,
// Transfer-Encoding); false with the reason.
bool CheckRequestHeader(const std::string& line, std::string& why);

// A source over bytes held in memory (tests, fuzzing); they must outlive it.
std::unique_ptr<IRangeSource> MemoryRangeSource(const uint8_t* data, size_t size,
                                                const std::string& name);

// A source for `location`: an http://, https://, ftp:// or s3:// address, or a local path.
std::unique_ptr<IRangeSource> OpenRangeSource(const std::string& location,
                                              const SourceOptions& options, Error& error);

}  // namespace fennic::remote
