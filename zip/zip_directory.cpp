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

uint32_t CZipDirectory::LocateEndRecord() {
    CZipBigFile* file = m_pVolume->GetFile();
    const uint64_t length = file->GetLength();
    if (length < 4) Throw(ZipCodeDirNotFound);
    const uint64_t maxBack = std::min<uint64_t>(kMaxEndRecordReach, length);
    const uint64_t chunk = static_cast<uint64_t>(m_searchBufferSize);
    std::vector<uint8_t> buffer(chunk);
    uint64_t done = 0;
    uint64_t reach = 0;
    do {
        reach = std::min(done + chunk, maxBack);
        const uint32_t size = static_cast<uint32_t>(reach - done);
        file->Seek(-static_cast<int64_t>(reach), CFile::end);
        if (file->Read(buffer.data(), size) != size) Throw(ZipCodeBadArchive);
        for (uint32_t i = size >= 4 ? size - 4 + 1 : 0; i-- > 0;) {
            CByteReader in(buffer.data() + i, 4);
            if (in.U32() == kEndRecordSignature) {
                const uint64_t position = length - reach + i;
                // Offsets are 32-bit: an end record beyond 4 GiB cannot be addressed.
                if (position > UINT32_MAX) Throw(ZipCodeBadArchive);
                return static_cast<uint32_t>(position);
            }
        }
        // Overlap the next chunk by three bytes so that a straddling signature is found.
        done = reach - 3;
    } while (reach < maxBack);
    Throw(ZipCodeDirNotFound);
}

void CZipDirectory::Read() {
    CZipBigFile* file = m_pVolume->GetFile();
    m_endRecordPosition = LocateEndRecord();

    uint8_t record[kEndRecordFixedSize];
    file->Seek(m_endRecordPosition, CFile::begin);
    if (file->Read(record, sizeof record) != sizeof record) Throw(ZipCodeBadArchive);
    CByteReader in(record, sizeof record);
    m_endSignature = in.U32();
    m_diskNumber = in.U16();
    m_centralDirDisk = in.U16();
    m_entriesOnDisk = in.U16();
    m_totalEntries = in.U16();
    m_centralDirSize = in.U32();
    m_centralDirOffset = in.U32();
    const uint16_t commentLength = in.U16();

    // A 64-bit locator right in front of the end record: the real numbers are elsewhere.
    if (m_endRecordPosition >= kZip64LocatorSize) {
        uint8_t locator[4];
        file->Seek(m_endRecordPosition - kZip64LocatorSize, CFile::begin);
        if (file->Read(locator, sizeof locator) == sizeof locator &&
            CByteReader(locator, sizeof locator).U32() == kZip64LocatorSignature) {
            Throw(ZipCodeZip64);
        }
        file->Seek(m_endRecordPosition + kEndRecordFixedSize, CFile::begin);
    }

    m_pVolume->SetCurrentDisk(m_diskNumber);

    if (commentLength != 0) {
        m_endComment.Allocate(commentLength);
        if (file->Read(m_endComment.GetBuffer(), commentLength) != commentLength) {
            Throw(ZipCodeBadArchive);
        }
    }

    m_bytesBeforeArchive = m_pVolume->GetSpanState() != 0
                               ? 0
                               : m_endRecordPosition - m_centralDirSize - m_centralDirOffset;

    if ((m_centralDirSize == 0) != (m_totalEntries == 0)) Throw(ZipCodeBadArchive);
    m_onDisk = true;

    m_pVolume->ChangeDisk(m_centralDirDisk);
    if (m_centralDirSize != 0) ReadHeaders();
}

void CZipDirectory::ReadHeaders() {
    CZipBigFile* file = m_pVolume->GetFile();
    const uint32_t start = m_centralDirOffset + m_bytesBeforeArchive;  // wraps by design
    const uint64_t length = file->GetLength();
    if (start > length) Throw(ZipCodeBadArchive);
    // Every record takes at least 46 bytes; a count that cannot fit in what is left of a
    // single file is a damaged end record, not a reason to allocate.
    if (m_pVolume->GetSpanState() == 0 &&
        (length - start) / kCentralHeaderFixedSize < m_totalEntries) {
        Throw(ZipCodeBadArchive);
    }
    file->Seek(start, CFile::begin);
    m_headers.clear();
    m_headers.reserve(m_totalEntries);
    if (m_pVolume->GetSpanState() == 0) return ReadHeadersInOnePiece(start, length);
    uint64_t used = 0;
    for (uint32_t i = 0; i < m_totalEntries; ++i) {
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
    if (header.NeedsZip64()) Throw(ZipCodeZip64);
    if (m_convertNames) header.ConvertFileName();
    m_headers.push_back(std::move(header));
}

void CZipDirectory::ReadHeadersInOnePiece(uint32_t start, uint64_t length) {
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
    uint64_t consumed = 0;  // directory bytes taken by records so far
    uint64_t loaded = 0;    // directory bytes read from the file so far
    size_t begin = 0, end = 0;  // the unparsed bytes in window
    auto refill = [&] {
        std::memmove(window.data(), window.data() + begin, end - begin);
        end -= begin;
        begin = 0;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(window.size() - end, size - loaded));
        if (want != 0 && file->Read(window.data() + end, want) != want) Throw(ZipCodeBadArchive);
        end += want;
        loaded += want;
    };
    for (uint32_t i = 0; i < m_totalEntries; ++i) {
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

void CZipDirectory::Write() {
    if (m_onDisk) return;
    // Only a newly created archive gets here: it has no entries, so it is one end record.
    uint8_t record[kEndRecordFixedSize] = {0x50, 0x4B, 0x05, 0x06};
    m_pVolume->Write(record, sizeof record);
    m_onDisk = true;
}

}  // namespace fennic
