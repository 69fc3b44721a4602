#include "zip/zip_directory.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "zip/byte_reader.h"
#include "zip/zip_exception.h"
#include "zip/zip_volume.h"

namespace fennic {

void CZipDirectory::Throw(int code) const {
    CZipException::Throw(code, m_pVolume ? m_pVolume->GetFilePath() : std::string());
}

void CZipDirectory::Reset() {
    m_onDisk = false;
    m_endRecordPosition = 0;
    m_bytesBeforeArchive = 0;
    m_pOpenedHeader = nullptr;
    m_endComment.Release();
    m_endSignature = 0;
    m_diskNumber = m_centralDirDisk = m_entriesOnDisk = m_totalEntries = 0;
    m_centralDirSize = m_centralDirOffset = 0;
}

void CZipDirectory::Clear(bool removeHeaders) {
    m_pOpenedHeader = nullptr;
    m_localExtra.Release();
    if (removeHeaders) {
        m_headers.clear();
        m_headers.shrink_to_fit();
        m_bytes.clear();
        m_bytes.shrink_to_fit();
        m_endComment.Release();
    }
}

uint64_t CZipDirectory::LocateEndRecord() {
    CZipBigFile* file = m_pVolume->GetFile();
    const uint64_t length = file->GetLength();
    if (length < 4) Throw(ZipCodeDirNotFound);
    // The record's whole reach in one read: at most 64 KiB and 22 bytes.
    const uint32_t reach = static_cast<uint32_t>(std::min<uint64_t>(kMaxEndRecordReach, length));
    std::vector<uint8_t> buffer(reach);
    file->Seek(-static_cast<int64_t>(reach), CFile::end);
    if (file->Read(buffer.data(), reach) != reach) Throw(ZipCodeBadArchive);
    // The nearest signature even when no whole record fits after it: such an archive is
    // damaged rather than not one.
    const size_t found = ScanForEndRecord(buffer.data(), reach).nearest;
    if (found == std::string::npos) Throw(ZipCodeDirNotFound);
    return length - reach + found;
}

void CZipDirectory::TakeEndRecord(const EndRecord& end) {
    m_endSignature = kEndRecordSignature;
    m_endRecordPosition = end.position;
    m_diskNumber = end.diskNumber;
    m_centralDirDisk = end.centralDirDisk;
    m_entriesOnDisk = end.entriesOnDisk;
    m_totalEntries = end.totalEntries;
    m_centralDirSize = end.centralDirSize;
    m_centralDirOffset = end.centralDirOffset;
    m_zip64 = end.zip64;
}

void CZipDirectory::Read() {
    CZipBigFile* file = m_pVolume->GetFile();
    const uint64_t position = LocateEndRecord();
    const uint64_t length = file->GetLength();
    const ArchiveReadAt readAt = [file](uint64_t offset, void* buffer, size_t size) {
        file->Seek(static_cast<int64_t>(offset), CFile::begin);
        return file->Read(buffer, static_cast<uint32_t>(size)) == size;
    };
    EndRecord end;
    const EndRead status = ReadEndRecords(position, length, readAt, end);
    if (status == EndRead::kBad) Throw(ZipCodeBadArchive);
    if (status == EndRead::kZip64Broken) Throw(ZipCodeZip64);
    TakeEndRecord(end);
    file->Seek(static_cast<int64_t>(position + kEndRecordFixedSize), CFile::begin);

    m_pVolume->SetCurrentDisk(static_cast<int>(m_diskNumber));
    // The ZIP64 records of a multi-disk archive may lie on another disk: not read.
    if (end.zip64 && m_pVolume->GetSpanState() != 0) Throw(ZipCodeZip64);

    if (end.commentLength != 0) {
        m_endComment.Allocate(end.commentLength);
        if (file->Read(m_endComment.GetBuffer(), end.commentLength) != end.commentLength) {
            Throw(ZipCodeBadArchive);
        }
    }

    m_bytesBeforeArchive =
        m_pVolume->GetSpanState() != 0 ? 0 : end.ExpectedDirStart() - m_centralDirOffset;

    if ((m_centralDirSize == 0) != (m_totalEntries == 0)) Throw(ZipCodeBadArchive);
    m_onDisk = true;

    m_pVolume->ChangeDisk(static_cast<int>(m_centralDirDisk));
    if (m_centralDirSize != 0) ReadHeaders();
}

void CZipDirectory::LoadFetched(const EndRecord& end, const std::string& comment,
                                std::vector<uint8_t> directory, const std::string& name) {
    const size_t size = directory.size();
    TakeEndRecord(end);
    m_endComment.Assign(comment);
    m_bytesBeforeArchive = end.ExpectedDirStart() - m_centralDirOffset;
    if ((m_centralDirSize == 0) != (m_totalEntries == 0) || size != m_centralDirSize ||
        m_totalEntries > size / kCentralHeaderFixedSize) {
        CZipException::Throw(ZipCodeBadArchive, name);
    }
    m_headers.clear();
    m_headers.reserve(static_cast<size_t>(m_totalEntries));
    m_bytes = std::move(directory);
    ParseHeaders(name);
    m_onDisk = true;
}

void CZipDirectory::ReadHeaders() {
    CZipBigFile* file = m_pVolume->GetFile();
    const uint64_t start = m_centralDirOffset + m_bytesBeforeArchive;  // wraps by design
    const uint64_t length = file->GetLength();
    if (start > length) Throw(ZipCodeBadArchive);
    // Every record takes at least 46 bytes; a count that cannot fit in what is left of a
    // single file is a damaged end record, not a reason to allocate.
    if (m_pVolume->GetSpanState() == 0 &&
        (length - start) / kCentralHeaderFixedSize < m_totalEntries) {
        Throw(ZipCodeBadArchive);
    }
    file->Seek(static_cast<int64_t>(start), CFile::begin);
    m_headers.clear();
    if (m_pVolume->GetSpanState() == 0) {
        m_headers.reserve(static_cast<size_t>(m_totalEntries));
        return ReadHeadersInOnePiece(start, length);
    }
    // A spanned directory's count is bounded only by its 16-bit field (ZIP64 is refused).
    m_headers.reserve(static_cast<size_t>(std::min<uint64_t>(m_totalEntries, kMarker16)));
    uint64_t used = 0;
    for (uint64_t i = 0; i < m_totalEntries; ++i) {
        CZipEntryHeader header;
        // A record that could not be read in full never joins the table.
        if (!header.ReadCentral(*m_pVolume)) Throw(ZipCodeBadArchive);
        // Nor one that reaches past the directory into the records behind it.
        used += header.GetCentralSize();
        AddHeader(std::move(header), used, m_pVolume->GetFilePath());
    }
}

void CZipDirectory::AddHeader(CZipEntryHeader&& header, uint64_t used, const std::string& path) {
    if (used > m_centralDirSize) CZipException::Throw(ZipCodeBadArchive, path);
    if (m_convertNames) header.ConvertFileName();
    m_headers.push_back(std::move(header));
}

void CZipDirectory::ParseHeaders(const std::string& path) {
    // The headers point into m_bytes, which is neither resized nor freed while they live.
    const uint8_t* data = m_bytes.data();
    const size_t size = m_bytes.size();
    size_t used = 0;
    for (uint64_t i = 0; i < m_totalEntries; ++i) {
        CZipEntryHeader header;
        const size_t taken = header.ParseCentral(data + used, size - used, path, true);
        if (taken == 0) CZipException::Throw(ZipCodeBadArchive, path);
        used += taken;
        AddHeader(std::move(header), used, path);
    }
}

void CZipDirectory::ReadHeadersInOnePiece(uint64_t start, uint64_t length) {
    // The directory of a single-file archive, whose size the end record gives, is read whole
    // in a few large reads and parsed in place. Bytes past the file's end are not asked for: a
    // record reaching there fails like one reaching past the directory.
    constexpr uint64_t kRead = 64 << 20;
    const uint64_t size = std::min<uint64_t>(m_centralDirSize, length - start);
    CZipBigFile* file = m_pVolume->GetFile();
    m_bytes.assign(static_cast<size_t>(size), 0);
    for (uint64_t at = 0; at < size;) {
        const auto want = static_cast<uint32_t>(std::min(kRead, size - at));
        if (file->Read(m_bytes.data() + at, want) != want) Throw(ZipCodeBadArchive);
        at += want;
    }
    ParseHeaders(m_pVolume->GetFilePath());
}

std::vector<uint64_t> CZipDirectory::LocalHeaderOffsets(uint64_t shift) const {
    std::vector<uint64_t> offsets;
    offsets.reserve(GetCount());
    for (size_t i = 0; i < GetCount(); ++i)
        offsets.push_back(GetHeader(i).LocalHeaderOffset() + shift);
    return offsets;
}

}  // namespace fennic
