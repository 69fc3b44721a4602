#include "remote/classic/end_record_reader.h"

#include <cstring>
#include <string>

#include "zip/byte_reader.h"
#include "zip/zip_file.h"
#include "zip/zip_records.h"

namespace fennic {

CEndRecordReader::CEndRecordReader(const std::string& path, IFrontEnd& frontEnd) {
    CFile file;
    CFileException error(CFileException::none, 0, path);
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite, &error)) {
        frontEnd.MessageBox(std::to_string(error.m_lOsError), "", MB_OK);
        return;
    }
    // Asking for more than 22 bytes is how a file longer than one end record is told apart.
    uint8_t bytes[24];
    uint32_t got = 0;
    try {
        got = file.Read(bytes, sizeof bytes);
    } catch (const CFileException&) {
        got = 0;
    }
    file.Abort();
    if (got != kEndRecordFixedSize) return;
    // The values are kept whatever the signature says: they are only trusted when it fits.
    m_signature = CByteReader(bytes, 4).U32();
    std::memcpy(bytes, "PK\x05\x06", 4);
    ParseEndRecord(bytes, got, m_end);
}

bool CEndRecordReader::HasSignature() const {
    return m_signature == kEndRecordSignature;
}

int32_t CEndRecordReader::GetCentralDirOffset() const {
    if (!HasSignature()) return -1;
    return static_cast<int32_t>(GetRawCentralDirOffset());
}

}  // namespace fennic
