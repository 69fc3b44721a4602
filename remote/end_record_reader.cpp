#include "remote/end_record_reader.h"

#include <string>

#include "zip/byte_reader.h"
#include "zip/zip_entry_header.h"
#include "zip/zip_file.h"

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
    CByteReader in(bytes, got);
    for (uint8_t& b : m_signature) b = in.U8();
    m_diskNumber = in.U16();
    m_centralDirDisk = in.U16();
    m_entriesOnDisk = in.U16();
    m_totalEntries = in.U16();
    m_centralDirSize = in.U32();
    m_centralDirOffset = in.U32();
    m_commentLength = in.U16();
}

bool CEndRecordReader::HasSignature() const {
    return m_signature[0] == 0x50 && m_signature[1] == 0x4B && m_signature[2] == 0x05 &&
           m_signature[3] == 0x06;
}

int32_t CEndRecordReader::GetCentralDirOffset() const {
    if (!HasSignature()) return -1;
    return static_cast<int32_t>(m_centralDirOffset);
}

}  // namespace fennic
