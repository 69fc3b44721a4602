#include "zip/zip_engine.h"

namespace fennic {

CZipEngine::CZipEngine() {
    m_centralDir.SetVolume(&m_storage);
}

CZipEngine::~CZipEngine() = default;

void CZipEngine::Throw(int code) const {
    CZipException::Throw(code, IsClosed() ? std::string() : m_storage.GetFilePath());
}

std::string CZipEngine::GetArchivePath() const {
    return IsClosed(false) ? std::string() : m_storage.GetFilePath();
}

bool CZipEngine::IsClosed(bool whole) const {
    if (whole) return m_storage.GetCurrentDisk() == -1;
    const CZipBigFile* file = m_storage.GetFile();
    return file == nullptr || !file->IsOpen();
}

void CZipEngine::Open(const std::string& path, int mode, int spanOption) {
    if (!IsClosed()) return;
    m_storage.Open(path, mode, spanOption);
    m_centralDir.Reset();
    m_centralDir.Read();
}

void CZipEngine::Close(bool afterError) {
    if (IsClosed()) {
        if (!afterError || IsClosed(false)) return;
    }
    m_centralDir.Clear(true);
    m_storage.Close(afterError);
}

int CZipEngine::GetEntryCount() const {
    return static_cast<int>(m_centralDir.GetCount());
}

bool CZipEngine::GetEntryInfo(CZipEntryHeader& header, size_t index) const {
    if (IsClosed() || !m_centralDir.IsValidIndex(index)) return false;
    header = m_centralDir.GetHeader(index);
    if (!m_centralDir.GetConvertNames()) header.ConvertFileName();
    return true;
}

bool CZipEngine::IsEntryDirectory(size_t index) const {
    if (IsClosed() || !m_centralDir.IsValidIndex(index)) return false;
    return m_centralDir.GetHeader(index).IsDirectory();
}

}  // namespace fennic
