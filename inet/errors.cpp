#include "inet/errors.h"

#include <curl/curl.h>

#include <cerrno>

namespace fennic::inet {

namespace {

struct ErrorEntry {
    uint32_t code;
    const char* text;
};

constexpr ErrorEntry kErrors[] = {
    {kErrorConnectTimeout, "The connection was not made within the time limit"},
    {kErrorOutOfHandles, "No more handles could be made"},
    {kErrorTimeout, "The operation timed out"},
    {kErrorExtended, "The server refused the request"},
    {kErrorInternal, "An internal error occurred"},
    {kErrorInvalidUrl, "The address is invalid"},
    {kErrorUnrecognizedScheme, "The address uses an unsupported scheme"},
    {kErrorNameNotResolved, "The server name could not be resolved"},
    {kErrorInvalidOption, "An invalid setting was given"},
    {kErrorOperationCancelled, "The operation was cancelled"},
    {kErrorIncorrectHandleState, "The operation is not possible at this point"},
    {kErrorProxyNotSupported, "This request cannot go through a proxy"},
    {kErrorCannotConnect, "The connection to the server could not be made"},
    {kErrorConnectionAborted, "The server closed the connection"},
    {kErrorConnectionReset, "The connection to the server was reset"},
    {kErrorCertDateInvalid, "The server's certificate has expired or is not yet valid"},
    {kErrorCertNameInvalid, "The server's certificate does not name this server"},
    {kErrorInvalidCa, "The server's certificate is not trusted"},
    {kErrorFtpTransferInProgress, "A file transfer is already in progress"},
    {kErrorFtpDropped, "The FTP connection was lost"},
    {kErrorHeaderNotFound, "The header is not in the response"},
    {kErrorInvalidServerResponse, "The server's response could not be understood"},
    {kErrorRedirectFailed, "The redirect could not be followed"},
    {kErrorSecureChannel, "The secure connection to the server failed"},
};

// curl codes that have a closer meaning than the fallback.
constexpr struct {
    int curl;
    uint32_t error;
} kCurlErrors[] = {
    {CURLE_OK, kErrorNone},
    {CURLE_UNSUPPORTED_PROTOCOL, kErrorUnrecognizedScheme},
    {CURLE_FAILED_INIT, kErrorOutOfHandles},
    {CURLE_URL_MALFORMAT, kErrorInvalidUrl},
    {CURLE_COULDNT_RESOLVE_PROXY, kErrorNameNotResolved},
    {CURLE_COULDNT_RESOLVE_HOST, kErrorNameNotResolved},
    {CURLE_COULDNT_CONNECT, kErrorCannotConnect},
    {CURLE_WEIRD_SERVER_REPLY, kErrorInvalidServerResponse},
    {CURLE_HTTP2, kErrorInvalidServerResponse},
    {CURLE_PARTIAL_FILE, kErrorConnectionAborted},
    {CURLE_WRITE_ERROR, kErrorInternal},
    {CURLE_OUT_OF_MEMORY, kErrorOutOfHandles},
    {CURLE_OPERATION_TIMEDOUT, kErrorTimeout},
    {CURLE_RANGE_ERROR, kErrorInvalidServerResponse},
    {CURLE_SSL_CONNECT_ERROR, kErrorSecureChannel},
    {CURLE_TOO_MANY_REDIRECTS, kErrorRedirectFailed},
    {CURLE_GOT_NOTHING, kErrorConnectionAborted},
    {CURLE_SSL_ENGINE_NOTFOUND, kErrorSecureChannel},
    {CURLE_SEND_ERROR, kErrorConnectionReset},
    {CURLE_RECV_ERROR, kErrorConnectionReset},
    {CURLE_SSL_CERTPROBLEM, kErrorSecureChannel},
    {CURLE_SSL_CIPHER, kErrorSecureChannel},
    {CURLE_PEER_FAILED_VERIFICATION, kErrorInvalidCa},
    {CURLE_BAD_CONTENT_ENCODING, kErrorInvalidServerResponse},
    {CURLE_SSL_CACERT_BADFILE, kErrorSecureChannel},
    {CURLE_SSL_SHUTDOWN_FAILED, kErrorSecureChannel},
    {CURLE_SSL_CRL_BADFILE, kErrorSecureChannel},
    {CURLE_SSL_ISSUER_ERROR, kErrorInvalidCa},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, kErrorInvalidCa},
    {CURLE_SSL_INVALIDCERTSTATUS, kErrorInvalidCa},
    {CURLE_ABORTED_BY_CALLBACK, kErrorOperationCancelled},
};

}  // namespace

const char* ErrorText(uint32_t error) {
    for (const auto& e : kErrors) {
        if (e.code == error) return e.text;
    }
    return "Unknown network error";
}

std::string ErrorText(uint32_t error, const std::string& detail) {
    std::string text = ErrorText(error);
    if (!detail.empty()) text += ": " + detail;
    return text;
}

uint32_t ErrorFromCurlCode(int curl_code) {
    for (const auto& e : kCurlErrors) {
        if (e.curl == curl_code) return e.error;
    }
    return kErrorInternal;
}

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorNone;
        case ECONNREFUSED:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case EADDRNOTAVAIL:
        case ENETDOWN:
            return kErrorCannotConnect;
        case ETIMEDOUT:
            return kErrorTimeout;
        case ECONNRESET:
            return kErrorConnectionReset;
        case EPIPE:
        case ECONNABORTED:
            return kErrorConnectionAborted;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case EAGAIN:
            return kErrorOutOfHandles;
        default:
            return kErrorInternal;
    }
}

}  // namespace fennic::inet
