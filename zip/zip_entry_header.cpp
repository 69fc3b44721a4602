#include "zip/zip_entry_header.h"

#include <cstring>
#include <utility>

#include "zip/byte_reader.h"
#include "zip/code_page.h"
#include "zip/zip_exception.h"
#include "zip/zip_volume.h"

namespace fennic {

namespace {

// The fields of the fixed part, which copies and moves take alike.
void CopyFixed(CZipEntryHeader& to, const CZipEntryHeader& from) {
    to.signature = from.signature;
    to.versionMadeBy = from.versionMadeBy;
    to.versionNeeded = from.versionNeeded;
    to.flags = from.flags;
    to.method = from.method;
    to.modTime = from.modTime;
    to.modDate = from.modDate;
    to.crc32 = from.crc32;
    to.compressedSize = from.compressedSize;
    to.uncompressedSize = from.uncompressedSize;
    to.diskStart = from.diskStart;
    to.internalAttributes = from.internalAttributes;
    to.externalAttributes = from.externalAttributes;
    to.localHeaderOffset = from.localHeaderOffset;
}

}  // namespace

CZipEntryHeader::CZipEntryHeader(const CZipEntryHeader& other) {
    *this = other;
}

CZipEntryHeader& CZipEntryHeader::operator=(const CZipEntryHeader& other) {
    if (this == &other) return *this;
    CopyFixed(*this, other);
    SetParts(other.RawName(), other.ExtraBytes(), other.CommentBytes());
    m_64 = other.m_64 ? std::make_unique<Zip64Values>(*other.m_64) : nullptr;
    m_nameForm = static_cast<uint8_t>((other.m_nameForm & ~kOwnsParts) | (m_nameForm & kOwnsParts));
    return *this;
}

CZipEntryHeader& CZipEntryHeader::operator=(CZipEntryHeader&& other) noexcept {
    if (this == &other) return *this;
    ReleaseParts();
    CopyFixed(*this, other);
    m_var = other.m_var;
    m_64 = std::move(other.m_64);
    m_nameLength = other.m_nameLength;
    m_extraLength = other.m_extraLength;
    m_commentLength = other.m_commentLength;
    m_nameForm = other.m_nameForm;
    // The block, owned or borrowed, is this header's now.
    other.m_var = nullptr;
    other.m_nameForm = 0;
    other.m_nameLength = other.m_extraLength = other.m_commentLength = 0;
    return *this;
}

void CZipEntryHeader::ReleaseParts() {
    if (m_nameForm & kOwnsParts) delete[] m_var;
    m_var = nullptr;
    m_nameForm = static_cast<uint8_t>(m_nameForm & ~kOwnsParts);
}

void CZipEntryHeader::SetParts(std::string_view name, std::string_view extra,
                               std::string_view comment) {
    auto fit = [](std::string_view part) { return part.substr(0, 0xFFFF); };
    name = fit(name);
    extra = fit(extra);
    comment = fit(comment);
    const size_t total = name.size() + extra.size() + comment.size();
    // The parts may lie in the block being replaced: copied out before it goes.
    std::unique_ptr<uint8_t[]> block(total ? new uint8_t[total] : nullptr);
    uint8_t* p = block.get();
    for (std::string_view part : {name, extra, comment}) {
        if (!part.empty()) std::memcpy(p, part.data(), part.size());
        p += part.size();
    }
    ReleaseParts();
    m_var = block.release();
    m_nameForm |= kOwnsParts;
    m_nameLength = static_cast<uint16_t>(name.size());
    m_extraLength = static_cast<uint16_t>(extra.size());
    m_commentLength = static_cast<uint16_t>(comment.size());
}

std::string CZipEntryHeader::GetFileName() const {
    std::string name(RawName());
    if (m_nameForm & kCodePageDone) OemToCharBuff(name.data(), name.size());
    if (m_nameForm & kSlashesDone) {
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
    }
    return name;
}

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
    return kCentralHeaderFixedSize + uint32_t{m_nameLength} + m_extraLength + m_commentLength;
}

std::optional<ExtraBlock> CZipEntryHeader::Extra(uint16_t id) const {
    if (m_extraLength == 0) return std::nullopt;
    return FindExtraBlock(m_var + m_nameLength, m_extraLength, id);
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
    m_64.reset();
    const bool marked = compressedSize == kMarker32 || uncompressedSize == kMarker32 ||
                        localHeaderOffset == kMarker32 || diskStart == kMarker16;
    std::string block;
    // A marker without the block is a value that happens to be all ones.
    if (!marked || !FindExtra(kZip64ExtraId, block)) return true;
    Zip64Values values;
    if (!ReadZip64Extra(block, uncompressedSize, compressedSize, localHeaderOffset, diskStart,
                        values)) {
        return false;
    }
    m_64 = std::make_unique<Zip64Values>(values);
    return true;
}

bool CZipEntryHeader::IsDirectory() const {
    constexpr uint32_t kTypeMask = 0170000, kTypeDirectory = 0040000;
    if ((externalAttributes & kAttrDirectory) != 0) return true;
    if (m_nameLength != 0 && RawName().back() == '/') return true;
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
    std::string parts(static_cast<size_t>(variable), '\0');
    if (variable != 0 && file->Read(parts.data(), static_cast<uint32_t>(variable)) != variable) {
        CZipException::Throw(ZipCodeBadArchive, file->GetFilePath());
    }
    const std::string_view all(parts);
    SetParts(all.substr(0, nameLength), all.substr(nameLength, extraLength),
             all.substr(size_t{nameLength} + extraLength));
    m_nameForm &= kOwnsParts;
    if (!ResolveZip64()) CZipException::Throw(ZipCodeBadArchive, file->GetFilePath());
    return true;
}

size_t CZipEntryHeader::ParseCentral(const uint8_t* data, size_t size, const std::string& path,
                                     bool borrow) {
    if (size < kCentralHeaderFixedSize) CZipException::Throw(ZipCodeBadArchive, path);
    uint16_t nameLength = 0, extraLength = 0, commentLength = 0;
    DecodeFixed(data, nameLength, extraLength, commentLength);
    if (signature != kCentralHeaderSignature) return 0;
    // The lengths are untrusted: the parts must lie within the bytes given.
    const size_t variable = size_t{nameLength} + extraLength + commentLength;
    if (size - kCentralHeaderFixedSize < variable) CZipException::Throw(ZipCodeBadArchive, path);
    const uint8_t* p = data + kCentralHeaderFixedSize;
    if (borrow) {
        ReleaseParts();
        m_var = p;
        m_nameLength = nameLength;
        m_extraLength = extraLength;
        m_commentLength = commentLength;
    } else {
        const std::string_view all(reinterpret_cast<const char*>(p), variable);
        SetParts(all.substr(0, nameLength), all.substr(nameLength, extraLength),
                 all.substr(size_t{nameLength} + extraLength));
    }
    m_nameForm &= kOwnsParts;
    if (!ResolveZip64()) CZipException::Throw(ZipCodeBadArchive, path);
    return kCentralHeaderFixedSize + variable;
}

void CZipEntryHeader::ConvertFileName() {
    if (!IsUtf8()) ConvertCodePage();
    ChangeSlashes();
}

}  // namespace fennic
