#include "zip/zip_exception.h"

#include <utility>

namespace fennic {

CZipException::CZipException(int cause, std::string path)
    : m_szFileName(std::move(path)), m_iCause(cause) {
    m_what = "ZIP error " + std::to_string(m_iCause);
    if (!m_szFileName.empty()) m_what += " in " + m_szFileName;
}

const char* CZipException::what() const noexcept {
    return m_what.c_str();
}

int CZipException::CauseFromCode(int internalCode) {
    switch (internalCode) {
        case 1:
            return ZipErrStreamEnd;
        case 2:
            return ZipErrNeedDict;
        case -1:
            return ZipErrErrno;
        case -2:
            return ZipErrStream;
        case -3:
            return ZipErrData;
        case -4:
            return ZipErrMemory;
        case -5:
            return ZipErrBuffer;
        case -6:
            return ZipErrVersion;
        case ZipCodeBadArchive:
            return ZipErrBadArchive;
        case ZipCodeBadCrc:
            return ZipErrBadCrc;
        case ZipCodeNoCallback:
            return ZipErrNoCallback;
        case ZipCodeAborted:
            return ZipErrAborted;
        case ZipCodeNotRemovable:
            return ZipErrNotRemovable;
        case ZipCodeTooManyVolumes:
            return ZipErrTooManyVolumes;
        case ZipCode107:
            return ZipErrCause16;
        case ZipCode108:
            return ZipErrCause17;
        case ZipCodeDirNotFound:
            return ZipErrDirNotFound;
        case ZipCodeZip64:
            return ZipErrZip64;
        default:
            return ZipErrGeneric;
    }
}

void CZipException::Throw(int internalCode, const std::string& path) {
    throw CZipException(CauseFromCode(internalCode), path);
}

void CZipException::CheckZlib(int code, const std::string& path) {
    if (code == 0 || code == 2) return;
    Throw(code, path);
}

}  // namespace fennic
