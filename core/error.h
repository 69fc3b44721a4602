#pragma once
// The one error shape at the boundaries between layers: what kind of failure (the caller's
// decisions follow it), the numbers behind it kept apart (a system errno, an HTTP status, the
// transfer layer's own error number), and the message in words. Result<T> is a value or one.

#include <string>
#include <utility>
#include <variant>

namespace fennic {

enum class ErrorCode {
    kNone,
    kAddress,     // the address cannot be used (scheme, syntax, line breaks)
    kConnection,  // name lookup, connect, TLS, time limits, a broken transfer
    kStatus,      // the server refused (an HTTP status, an FTP reply)
    kNoRanges,    // the server sends whole files only
    kNotArchive,  // no end record: not a ZIP archive (an empty file, too)
    kDamaged,     // records that contradict themselves or the file
    kZip64,       // a ZIP64 record that is not where its locator says
    kLocal,       // a local file or folder
    kOutput,      // the destination could not be written
    kNoEntry,     // no such entry, or a name that names several
    kChanged,     // the archive on the server is no longer the one the run began with
    kCancelled,
};

struct Error {
    ErrorCode code = ErrorCode::kNone;
    int sysErrno = 0;      // errno, where the system said no
    int httpStatus = 0;    // the server's status, where it was the cause
    unsigned netCode = 0;  // the transfer layer's error number (inet/errors.h)
    std::string message;   // what went wrong, in words, for the user

    explicit operator bool() const { return code != ErrorCode::kNone; }
};

// Fills error and returns false, for `return Fail(...)`.
inline bool Fail(Error& error, ErrorCode code, std::string message) {
    error = Error{};
    error.code = code;
    error.message = std::move(message);
    return false;
}
inline bool FailErrno(Error& error, ErrorCode code, std::string message, int sysErrno) {
    Fail(error, code, std::move(message));
    error.sysErrno = sysErrno;
    return false;
}

template <typename T>
class Result {
public:
    Result(T value) : m_v(std::move(value)) {}      // NOLINT: a value converts
    Result(Error error) : m_v(std::move(error)) {}  // NOLINT: so does an error
    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<0>(m_v); }
    T& value() { return std::get<0>(m_v); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

}  // namespace fennic
