#pragma once
// Error numbers of the network layer, and their texts.
//
// The transfer messages print these numbers ("Error:%1"), so they keep the values that users
// and support notes know from the 12000 range. Every failure of url.h, http.h and ftp.h ends up
// as exactly one of them; errors.cpp holds the one table that maps curl codes and socket errno
// values onto them, with a short text for each.

#include <cstdint>
#include <string>

namespace fennic::inet {

enum Error : uint32_t {
    kErrorNone = 0,
    // The connection was not made within the caller's time limit (connect and greeting).
    kErrorConnectTimeout = 1460,
    kErrorOutOfHandles = 12001,           // socket, pipe, thread or curl handle could not be made
    kErrorTimeout = 12002,                // no progress within the idle time limit
    kErrorExtended = 12003,               // the server refused; its reply text is attached
    kErrorInternal = 12004,               // unexpected local failure (e.g. spool file)
    kErrorInvalidUrl = 12005,             // malformed address or field too long
    kErrorUnrecognizedScheme = 12006,     // scheme not usable for this operation
    kErrorNameNotResolved = 12007,        // host name lookup failed
    kErrorInvalidOption = 12009,          // bad argument: access type, proxy text, header text
    kErrorOperationCancelled = 12017,     // Cancel()/Abort() from another thread
    kErrorIncorrectHandleState = 12019,   // call out of order (read before send, ...)
    kErrorProxyNotSupported = 12020,      // a proxy was asked for where none can be used (FTP)
    kErrorCannotConnect = 12029,          // TCP connect refused or unreachable
    kErrorConnectionAborted = 12030,      // the peer closed the connection early
    kErrorConnectionReset = 12031,        // the peer reset the connection
    kErrorCertDateInvalid = 12037,        // server certificate expired or not yet valid
    kErrorCertNameInvalid = 12038,        // server certificate does not name this host
    kErrorInvalidCa = 12045,              // server certificate not signed by a trusted authority
    kErrorFtpTransferInProgress = 12110,  // a data transfer is already open on the connection
    kErrorFtpDropped = 12111,             // the control connection is gone
    kErrorHeaderNotFound = 12150,         // the asked-for header is not in the response
    kErrorInvalidServerResponse = 12152,  // reply or response could not be parsed
    kErrorRedirectFailed = 12156,         // a redirect could not be followed
    kErrorSecureChannel = 12157,          // TLS handshake or other TLS failure
};

// Rate floor of every transfer: one whose rate stays under 1 KiB/s for a whole minute fails
// with kErrorTimeout. Idle limits alone never cut a server that sends a byte now and then; a
// minute leaves room for slow links and stalls, and any real transfer beats 1 KiB/s.
constexpr uint32_t kRateFloorBytesPerSecond = 1024;
constexpr uint32_t kRateFloorSeconds = 60;

// Short English text of an error number; "Unknown network error" for numbers not in the table.
const char* ErrorText(uint32_t error);
// The same text, followed by ": detail" when detail is not empty.
std::string ErrorText(uint32_t error, const std::string& detail);

// The error number and text of the last failed call of an object of the network layer.
struct FailureRecord {
    uint32_t error = 0;
    std::string error_text;

    // Records the failure; false, so that a call can end in "return Fail(...)".
    bool Fail(uint32_t code, const std::string& detail = "") {
        error = code;
        error_text = ErrorText(code, detail);
        return false;
    }
};

// The table's mapping of a CURLcode and of a socket errno value.
uint32_t ErrorFromCurlCode(int curl_code);
uint32_t ErrorFromErrno(int err);

}  // namespace fennic::inet
