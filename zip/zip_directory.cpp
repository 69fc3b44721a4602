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
                                const uint8_t* directory, size_t size, const std::string& name) {
    TakeEndRecord(end);
    m_endComment.Assign(comment);
    m_bytesBeforeArchive = end.ExpectedDirStart() - m_centralDirOffset;
    if ((m_centralDirSize == 0) != (m_totalEntries == 0) || size != m_centralDirSize ||
        m_totalEntries > size / kCentralHeaderFixedSize) {
        CZipException::Throw(ZipCodeBadArchive, name);
    }
    m_headers.clear();
    m_headers.reserve(static_cast<size_t>(m_totalEntries));
    ParseHeaders(directory, size, name);
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
        AddHeader(std::move(header), used);
    }
}

void CZipDirectory::AddHeader(CZipEntryHeader&& header, uint64_t used) {
    if (used > m_centralDirSize) Throw(ZipCodeBadArchive);
    if (m_convertNames) header.ConvertFileName();
    m_headers.push_back(std::move(header));
}

void CZipDirectory::ParseHeaders(const uint8_t* data, size_t size, const std::string& path) {
    size_t used = 0;
    for (uint64_t i = 0; i < m_totalEntries; ++i) {
        CZipEntryHeader header;
        const size_t taken = header.ParseCentral(data + used, size - used, path);
        if (taken == 0) CZipException::Throw(ZipCodeBadArchive, path);
        used += taken;
        if (used > m_centralDirSize) CZipException::Throw(ZipCodeBadArchive, path);
        if (m_convertNames) header.ConvertFileName();
        m_headers.push_back(std::move(header));
    }
}

void CZipDirectory::ReadHeadersInOnePiece(uint64_t start, uint64_t length) {
    // The directory of a single-file archive, whose size the end record gives, is read in a
    // few large windows rather than record by record; records stay inside it by construction.
    // Bytes past the file's end are not asked for: a record reaching there fails like one
    // reaching past the directory.
    constexpr size_t kLargestRecord = kCentralHeaderFixedSize + 3 * size_t{0xFFFF};
    constexpr size_t kWindow = 2 * kLargestRecord;
    const uint64_t size = std::min<uint64_t>(m_centralDirSize, length - start);
    CZipBigFile* file = m_pVolume->GetFile();
    const std::string path = m_pVolume->GetFilePath();
    std::vector<uint8_t> window(static_cast<size_t>(std::min<uint64_t>(size, kWindow)));
    uint64_t consumed = 0;      // directory bytes taken by records so far
    uint64_t loaded = 0;        // directory bytes read from the file so far
    size_t begin = 0, end = 0;  // the unparsed bytes in window
    auto refill = [&] {
        std::memmove(window.data(), window.data() + begin, end - begin);
        end -= begin;
        begin = 0;
        const auto want =
            static_cast<uint32_t>(std::min<uint64_t>(window.size() - end, size - loaded));
        if (want != 0 && file->Read(window.data() + end, want) != want) Throw(ZipCodeBadArchive);
        end += want;
        loaded += want;
    };
    for (uint64_t i = 0; i < m_totalEntries; ++i) {
        // A whole record is in the window unless the file has fewer bytes left than it needs.
        if (end - begin < kLargestRecord && loaded < size) refill();
        CZipEntryHeader header;
        const size_t taken = header.ParseCentral(window.data() + begin, end - begin, path);
        if (taken == 0) Throw(ZipCodeBadArchive);
        begin += taken;
        consumed += taken;
        AddHeader(std::move(header), consumed);
    }
}

std::vector<uint64_t> CZipDirectory::LocalHeaderOffsets(uint64_t shift) const {
    std::vector<uint64_t> offsets;
    offsets.reserve(GetCount());
    for (size_t i = 0; i < GetCount(); ++i)
        offsets.push_back(GetHeader(i).LocalHeaderOffset() + shift);
    return offsets;
}

}  // namespace fennic
