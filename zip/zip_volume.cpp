#include "zip/zip_volume.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "zip/zip_exception.h"

namespace fennic {

CZipVolume::CZipVolume() : m_removableProbe(&CZipVolume::IsOnRemovableDrive) {}

void CZipVolume::Throw(int code) const {
    CZipException::Throw(code, GetFilePath());
}

bool CZipVolume::OpenFile(const std::string& path, unsigned flags, bool raise) {
    CFileException error(CFileException::none, 0, path);
    if (m_file->Open(path, flags | CFile::shareDenyWrite, &error)) return true;
    if (raise) throw error;
    return false;
}

void CZipVolume::Open(const std::string& path, int mode, int spanOption) {
    m_file = &m_ownFile;
    switch (mode) {
        case ZipOpenExisting:
        case ZipOpenReadOnly: {
            unsigned access = mode == ZipOpenExisting ? CFile::modeReadWrite : CFile::modeRead;
            OpenFile(path, access | CFile::modeNoTruncate, true);
            m_spanMode = spanOption == 0 ? SpanDetect : SpanAssumeSplit;
            break;
        }
        default:
            CZipException::Throw(1, path);
    }
}

int CZipVolume::GetSpanState() const {
    return m_spanMode == SpanNone ? 0 : -1;
}

uint32_t CZipVolume::Read(void* buffer, uint32_t size, bool atOnce) {
    if (size == 0) return 0;
    if (!m_file || !m_file->IsOpen()) Throw(ZipCodeBadArchive);
    char* out = static_cast<char*>(buffer);
    const bool spanned = GetSpanState() != 0 && m_currentDisk >= 0;
    // Reading never goes past the last disk that the end record names.
    auto nextDisk = [&] {
        if (m_currentDisk < 0 || static_cast<uint32_t>(m_currentDisk) >= m_lastDisk) {
            Throw(ZipCodeBadArchive);
        }
        ChangeDisk(m_currentDisk + 1);
    };
    uint32_t got = m_file->Read(out, size);
    while (got == 0) {
        if (!spanned) Throw(ZipCodeBadArchive);
        nextDisk();
        got = m_file->Read(out, size);
    }
    if (got == size) return got;
    if (atOnce || !spanned) Throw(ZipCodeBadArchive);
    while (got < size) {
        nextDisk();
        uint32_t n = m_file->Read(out + got, size - got);
        if (n == 0) Throw(ZipCodeBadArchive);
        got += n;
    }
    return got;
}

void CZipVolume::SetCurrentDisk(int disk) {
    m_currentDisk = disk;
    if (disk == 0) {
        m_spanMode = SpanNone;
        return;
    }
    if (m_spanMode == SpanDetect) {
        m_spanMode = m_removableProbe(GetFilePath()) ? SpanRemovable : SpanSplit;
    } else {
        m_spanMode = SpanSplit;
    }
    if (m_spanMode == SpanRemovable && !m_callback) Throw(ZipCodeNoCallback);
    // Kept for removable disks too: it bounds how far a read may go.
    m_lastDisk = static_cast<uint32_t>(disk);
}

void CZipVolume::ChangeDisk(int disk) {
    if (disk == m_currentDisk) return;
    m_currentDisk = disk;
    const std::string path = GetFilePath();
    std::string next;
    if (m_spanMode == SpanRemovable) {
        m_file->Close();
        if (!m_callback || !m_callback(static_cast<uint32_t>(disk) + 1, -1, m_callbackData)) {
            throw CZipException(ZipErrAborted, path);
        }
        next = path;
    } else {
        next = GetSplitVolumeName(static_cast<uint32_t>(disk) == m_lastDisk, path);
        m_file->Close();
    }
    OpenFile(next, CFile::modeRead | CFile::modeNoTruncate, true);
}

std::string CZipVolume::GetSplitVolumeName(bool last, const std::string& path) const {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) dot = path.size();
    std::string ext = "zip";
    if (!last) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%.3d", m_currentDisk);
        ext = digits;
    }
    return path.substr(0, dot) + "." + ext;
}

void CZipVolume::Close(bool afterError) {
    CZipBigFile* file = m_file;
    m_currentDisk = -1;
    m_spanMode = SpanNone;
    m_file = nullptr;
    if (!file) return;
    if (afterError)
        file->Abort();
    else
        file->Close();
}

bool CZipVolume::IsOnRemovableDrive(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    const std::string link = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                             std::to_string(minor(st.st_dev));
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(link.c_str(), nullptr), &std::free);
    if (!real) return false;
    std::string device = real.get();
    // A partition's flag lives with the whole disk, one folder up.
    struct stat partition;
    if (::stat((device + "/partition").c_str(), &partition) == 0) {
        device = device.substr(0, device.rfind('/'));
    }
    std::ifstream flag(device + "/removable");
    char c = '0';
    return flag.get(c) && c == '1';
}

}  // namespace fennic
