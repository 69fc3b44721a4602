#include "zip/zip_entry_header.h"

#include <cstring>
#include <utility>

#include "zip/byte_reader.h"
#include "zip/code_page.h"
#include "zip/zip_exception.h"
#include "zip/zip_volume.h"

namespace fennic {

time_t CZipEntryHeader::GetModTime() const {
    struct tm t = {};
    t.tm_year = (modDate >> 9) + 80;
    t.tm_mon = ((modDate >> 5) & 0x0F) - 1;
    t.tm_mday = modDate & 0x1F;
    t.tm_hour = modTime >> 11;
    t.tm_min = (modTime >> 5) & 0x3F;
    t.tm_sec = (modTime & 0x1F) * 2;
    t.tm_isdst = -1;
    // mktime consults the time zone file on every call; entries of one archive share a few
    // hours, so the start of each hour is asked once and minutes and seconds are added. Fields
    // out of their ranges (minute 63, second 62) are left to mktime as they are.
    const bool plain = t.tm_min < 60 && t.tm_sec < 60;
    if (!plain) return mktime(&t);
    struct HourStart {
        uint32_t key = UINT32_MAX;
        time_t start = 0;
    };
    thread_local HourStart cache[64];
    const uint32_t key = (uint32_t{modDate} << 5) | (modTime >> 11);
    HourStart& slot = cache[key % 64];
    if (slot.key != key) {
        struct tm h = t;
        h.tm_min = 0;
        h.tm_sec = 0;
        const time_t start = mktime(&h);
        // An hour that a clock change cuts (or a failed conversion) goes to mktime whole.
        if (start == time_t(-1) || h.tm_hour != t.tm_hour || h.tm_min != 0) return mktime(&t);
        slot.key = key;
        slot.start = start;
    }
    return slot.start + t.tm_min * 60 + t.tm_sec;
}

uint32_t CZipEntryHeader::GetCentralSize() const {
    return kCentralHeaderFixedSize + fileName.GetSize() + extraField.GetSize() + comment.GetSize();
}

std::optional<ExtraBlock> CZipEntryHeader::Extra(uint16_t id) const {
    if (extraField.GetSize() == 0) return std::nullopt;
    return FindExtraBlock(extraField.GetBuffer(), extraField.GetSize(), id);
}

bool CZipEntryHeader::FindExtra(uint16_t id, std::string& data) const {
    const auto block = Extra(id);
    if (!block) return false;
    data.assign(reinterpret_cast<const char*>(block->data), block->size);
    return true;
}

bool CZipEntryHeader::NeedsZip64() const {
    const bool marked = compressedSize == kMarker32 || uncompressedSize == kMarker32 ||
                        localHeaderOffset == kMarker32 || diskStart == kMarker16;
    std::string block;
    return marked && FindExtra(kZip64ExtraId, block);
}

bool CZipEntryHeader::ResolveZip64() {
    m_has64 = false;
    const bool marked = compressedSize == kMarker32 || uncompressedSize == kMarker32 ||
                        localHeaderOffset == kMarker32 || diskStart == kMarker16;
    std::string block;
    // A marker without the block is a value that happens to be all ones.
    if (!marked || !FindExtra(kZip64ExtraId, block)) return true;
    if (!ReadZip64Extra(block, uncompressedSize, compressedSize, localHeaderOffset, diskStart,
                        m_64)) {
        return false;
    }
    m_has64 = true;
    return true;
}

bool CZipEntryHeader::IsDirectory() const {
    constexpr uint32_t kTypeMask = 0170000, kTypeDirectory = 0040000;
    if ((externalAttributes & kAttrDirectory) != 0) return true;
    if (!m_rawFileName.empty() && m_rawFileName.back() == '/') return true;
    return HostSystem() == kHostUnix && ((externalAttributes >> 16) & kTypeMask) == kTypeDirectory;
}

void CZipEntryHeader::DecodeFixed(const uint8_t* fixed, uint16_t& nameLength, uint16_t& extraLength,
                                  uint16_t& commentLength) {
    CByteReader in(fixed, kCentralHeaderFixedSize);
    signature = in.U32();
    versionMadeBy = in.U16();
    versionNeeded = in.U16();
    flags = in.U16();
    method = in.U16();
    modTime = in.U16();
    modDate = in.U16();
    crc32 = in.U32();
    compressedSize = in.U32();
    uncompressedSize = in.U32();
    nameLength = in.U16();
    extraLength = in.U16();
    commentLength = in.U16();
    diskStart = in.U16();
    internalAttributes = in.U16();
    externalAttributes = in.U32();
    localHeaderOffset = in.U32();
}

bool CZipEntryHeader::ReadCentral(CZipVolume& volume) {
    uint8_t fixed[kCentralHeaderFixedSize];
    volume.Read(fixed, sizeof fixed, true);
    uint16_t nameLength = 0, extraLength = 0, commentLength = 0;
    DecodeFixed(fixed, nameLength, extraLength, commentLength);
    if (signature != kCentralHeaderSignature) return false;

    // The lengths are untrusted: the three parts must lie within the file before anything is
    // allocated for them.
    CZipBigFile* file = volume.GetFile();
    const uint64_t variable = uint64_t{nameLength} + extraLength + commentLength;
    const uint64_t position = file->GetPosition();
    const uint64_t length = file->GetLength();
    if (position > length || length - position < variable) {
        CZipException::Throw(ZipCodeBadArchive, file->GetFilePath());
    }
    auto readPart = [&](CZipBuffer& part, uint16_t size) {
        part.Allocate(size);
        if (size != 0 && file->Read(part.GetBuffer(), size) != size) {
            CZipException::Throw(ZipCodeBadArchive, file->GetFilePath());
        }
    };
    readPart(fileName, nameLength);
    readPart(extraField, extraLength);
    readPart(comment, commentLength);
    m_rawFileName = fileName.ToString();
    if (!ResolveZip64()) CZipException::Throw(ZipCodeBadArchive, file->GetFilePath());
    return true;
}

size_t CZipEntryHeader::ParseCentral(const uint8_t* data, size_t size, const std::string& path) {
    if (size < kCentralHeaderFixedSize) CZipException::Throw(ZipCodeBadArchive, path);
    uint16_t nameLength = 0, extraLength = 0, commentLength = 0;
    DecodeFixed(data, nameLength, extraLength, commentLength);
    if (signature != kCentralHeaderSignature) return 0;
    // The lengths are untrusted: the parts must lie within the bytes given.
    const size_t variable = size_t{nameLength} + extraLength + commentLength;
    if (size - kCentralHeaderFixedSize < variable) CZipException::Throw(ZipCodeBadArchive, path);
    const uint8_t* p = data + kCentralHeaderFixedSize;
    for (auto [part, length] : {std::pair<CZipBuffer*, uint16_t>{&fileName, nameLength},
                                {&extraField, extraLength},
                                {&comment, commentLength}}) {
        part->Allocate(length);
        if (length != 0) std::memcpy(part->GetBuffer(), p, length);
        p += length;
    }
    m_rawFileName.assign(reinterpret_cast<const char*>(data) + kCentralHeaderFixedSize, nameLength);
    if (!ResolveZip64()) CZipException::Throw(ZipCodeBadArchive, path);
    return kCentralHeaderFixedSize + variable;
}

void CZipEntryHeader::ConvertCodePage() {
    OemToCharBuff(fileName.GetBuffer(), fileName.GetSize());
}

void CZipEntryHeader::ChangeSlashes() {
    char* name = fileName.GetBuffer();
    for (uint32_t i = 0; i < fileName.GetSize(); ++i) {
        if (name[i] == '/') name[i] = '\\';
    }
}

void CZipEntryHeader::ConvertFileName() {
    if (!IsUtf8()) ConvertCodePage();
    ChangeSlashes();
}

}  // namespace fennic
