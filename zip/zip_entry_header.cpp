#include "zip/zip_entry_header.h"

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
    return mktime(&t);
}

uint32_t CZipEntryHeader::GetCentralSize() const {
    return kCentralHeaderFixedSize + fileName.GetSize() + extraField.GetSize() + comment.GetSize();
}

bool CZipEntryHeader::FindExtra(uint16_t id, std::string& data) const {
    if (extraField.GetSize() == 0) return false;
    const char* bytes = extraField.GetBuffer();
    CByteReader in(bytes, extraField.GetSize());
    while (in.Remaining() >= 4) {
        const uint16_t blockId = in.U16();
        const uint16_t size = in.U16();
        if (size > in.Remaining()) return false;
        if (blockId == id) {
            data.assign(bytes + in.Position(), size);
            return true;
        }
        in.Skip(size);
    }
    return false;
}

bool CZipEntryHeader::NeedsZip64() const {
    const bool marked = compressedSize == UINT32_MAX || uncompressedSize == UINT32_MAX ||
                        localHeaderOffset == UINT32_MAX || diskStart == UINT16_MAX;
    std::string block;
    return marked && FindExtra(kZip64ExtraId, block);
}

bool CZipEntryHeader::IsDirectory() const {
    constexpr uint32_t kTypeMask = 0170000, kTypeDirectory = 0040000;
    if ((externalAttributes & kAttrDirectory) != 0) return true;
    if (!m_rawFileName.empty() && m_rawFileName.back() == '/') return true;
    return HostSystem() == kHostUnix && ((externalAttributes >> 16) & kTypeMask) == kTypeDirectory;
}

bool CZipEntryHeader::ReadCentral(CZipVolume& volume) {
    uint8_t fixed[kCentralHeaderFixedSize];
    volume.Read(fixed, sizeof fixed, true);
    CByteReader in(fixed, sizeof fixed);
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
    const uint16_t nameLength = in.U16();
    const uint16_t extraLength = in.U16();
    const uint16_t commentLength = in.U16();
    diskStart = in.U16();
    internalAttributes = in.U16();
    externalAttributes = in.U32();
    localHeaderOffset = in.U32();
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
    return true;
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
