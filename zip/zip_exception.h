#pragma once
// Exceptions of the ZIP engine and the base they share with the file layer.

#include <exception>
#include <string>

namespace fennic {

// Base of every exception the engine and its file layer raise; catch this to catch them all.
class CException : public std::exception {
public:
    const char* what() const noexcept override { return "fennic exception"; }
};

// Why the engine gave up. Values 16 and 17 are mapped but never raised.
enum ZipErrorCause : int {
    ZipErrGeneric = 1,
    ZipErrStreamEnd = 2,
    ZipErrNeedDict = 3,
    ZipErrErrno = 4,
    ZipErrStream = 5,
    ZipErrData = 6,
    ZipErrMemory = 7,
    ZipErrBuffer = 8,
    ZipErrVersion = 9,
    ZipErrBadArchive = 10,
    ZipErrBadCrc = 11,
    ZipErrNoCallback = 12,
    ZipErrAborted = 13,
    ZipErrNotRemovable = 14,
    ZipErrTooManyVolumes = 15,
    ZipErrCause16 = 16,
    ZipErrCause17 = 17,
    ZipErrDirNotFound = 18,
    ZipErrZip64 = 19,  // the archive needs the 64-bit extensions, which are not read
};

// Internal codes: zlib's results (1 .. -6) and the engine's own (-101 .. -109).
enum ZipInternalCode : int {
    ZipCodeBadArchive = -101,
    ZipCodeBadCrc = -102,
    ZipCodeNoCallback = -103,
    ZipCodeAborted = -104,
    ZipCodeNotRemovable = -105,
    ZipCodeTooManyVolumes = -106,
    ZipCode107 = -107,
    ZipCode108 = -108,
    ZipCodeDirNotFound = -109,
    ZipCodeZip64 = -110,
};

class CZipException : public CException {
public:
    CZipException(int cause, std::string path);

    const char* what() const noexcept override;

    // The cause an internal code maps to; any code without an entry maps to ZipErrGeneric.
    static int CauseFromCode(int internalCode);
    // Makes the exception for an internal code and raises it.
    [[noreturn]] static void Throw(int internalCode, const std::string& path);
    // The error test on zlib results: 0 (Z_OK) and 2 (Z_NEED_DICT) pass, anything else raises.
    static void CheckZlib(int code, const std::string& path);

    std::string m_szFileName;  // archive or volume file in use; empty when the archive was closed
    int m_iCause;              // a ZipErrorCause value

private:
    std::string m_what;
};

}  // namespace fennic
