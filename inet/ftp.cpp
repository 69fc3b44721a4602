// The FTP login's calls: file lookup, reads from an offset, raw commands, and its end.
#include "inet/ftp.h"

#include <cctype>
#include <vector>

#include "inet/ftp_core.h"
#include "inet/text_lines.h"

namespace fennic::inet {

namespace {

std::string Verb(const std::string& line) {
    size_t end = line.find_first_of(" \r\n");
    std::string v = line.substr(0, end);
    for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return v;
}

bool IsTransferVerb(const std::string& v) {
    return v == "RETR" || v == "LIST" || v == "NLST" || v == "MLSD" || v == "STOR" || v == "APPE" ||
           v == "STOU";
}

// Splits a command text into lines that keep their bytes; each gets its CR LF.
std::vector<std::string> CommandLines(const std::string& text) {
    std::vector<std::string> lines = CrLfLines(text);
    for (std::string& line : lines) line += "\r\n";
    return lines;
}

}  // namespace

FtpConnection::FtpConnection() : state_(std::make_shared<State>()) {}
FtpConnection::~FtpConnection() {
    Close();
}

std::string FtpConnection::LastResponse() const {
    return state_->last_response;
}
std::vector<int> FtpConnection::LastReplyCodes() const {
    return state_->last_codes;
}
std::string FtpConnection::LastReply() const {
    return state_->last_reply;
}
uint32_t FtpConnection::LastError() const {
    return state_->error;
}
std::string FtpConnection::LastErrorText() const {
    return state_->error_text;
}

bool FtpConnection::FindFile(const std::string& path, FtpFileInfo& info) {
    State& st = *state_;
    if (!st.BeginCall()) return false;
    if (!SafeArgument(path)) return st.Fail(kErrorInvalidOption, "path");
    FtpReply reply;
    if (!st.Simple("SIZE " + path + "\r\n", reply)) return false;
    if (reply.code == 213) {
        if (!ParseSizeReply(reply, info.size)) return st.Fail(kErrorInvalidServerResponse);
        return true;
    }
    if (reply.code != 500 && reply.code != 502 && reply.code != 504) {
        return st.Fail(kErrorExtended);
    }
    // No SIZE here: list the path and take the size from its line.
    std::unique_ptr<FtpFile> listing;
    if (!Command("LIST " + path + "\r\n", true, &listing)) return false;
    std::string text;
    char buf[4096];
    size_t got = 0;
    while (listing->Read(buf, sizeof buf, got) && got > 0 && text.size() < (1u << 20)) {
        text.append(buf, got);
    }
    uint32_t read_error = listing->LastError();
    listing->Close();
    if (read_error) return st.Fail(read_error);
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line(text.data() + pos,
                              (nl == std::string::npos ? text.size() : nl) - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        FtpListEntry entry;
        if (ParseListLine(line, entry) && !entry.is_dir &&
            (entry.name == base || entry.name == path)) {
            info.size = entry.size;
            return true;
        }
    }
    return st.Fail(kErrorExtended);
}

bool FtpConnection::ModifiedTime(const std::string& path, std::string& time) {
    State& st = *state_;
    time.clear();
    if (!st.BeginCall()) return false;
    if (!SafeArgument(path)) return st.Fail(kErrorInvalidOption, "path");
    FtpReply reply;
    if (!st.Simple("MDTM " + path + "\r\n", reply)) return false;
    if (reply.code == 500 || reply.code == 502 || reply.code == 504) return true;
    if (reply.code != 213) return st.Fail(kErrorExtended);
    if (!ParseMdtmReply(reply, time)) return st.Fail(kErrorInvalidServerResponse);
    return true;
}

std::unique_ptr<FtpFile> FtpConnection::OpenFile(const std::string& path) {
    return OpenFileAt(path, 0);
}

std::unique_ptr<FtpFile> FtpConnection::OpenFileAt(const std::string& path, uint64_t offset) {
    State& st = *state_;
    if (!st.BeginCall()) return nullptr;
    if (!SafeArgument(path)) {
        st.Fail(kErrorInvalidOption, "path");
        return nullptr;
    }
    if (!st.EnsureBinary()) return nullptr;
    fs::UniqueFd listener, conn;
    if (!st.PrepareData(listener, conn)) return nullptr;
    if (offset > 0) {
        FtpReply reply;
        if (!st.Simple("REST " + std::to_string(offset) + "\r\n", reply)) return nullptr;
        if (reply.code != 350) {
            st.Fail(kErrorExtended);
            return nullptr;
        }
    }
    if (!st.SendLine("RETR " + path + "\r\n", st.IoDeadline())) return nullptr;
    bool final_due = true;
    if (!st.AwaitData(listener, conn, final_due)) return nullptr;
    st.BeginTransfer(std::move(conn), final_due ? 1 : 0, final_due);
    st.error = 0;
    return NewFile();
}

std::unique_ptr<FtpFile> FtpConnection::NewFile() {
    std::unique_ptr<FtpFile> file(new FtpFile());
    file->conn_ = state_;
    file->serial_ = ++state_->file_serial;
    return file;
}

bool FtpConnection::Command(const std::string& text, bool expect_data,
                            std::unique_ptr<FtpFile>* data) {
    State& st = *state_;
    if (data) data->reset();
    if (!st.BeginCall()) return false;
    std::vector<std::string> lines = CommandLines(text);
    if (lines.empty()) return st.Fail(kErrorInvalidOption);
    for (const std::string& line : lines) {
        if (!SafeArgument(line.substr(0, line.size() - 2))) {
            return st.Fail(kErrorInvalidOption, "command");
        }
    }
    size_t transfer = lines.size(), port_at = lines.size();
    if (expect_data) {
        for (size_t i = 0; i < lines.size() && transfer == lines.size(); ++i) {
            if (IsTransferVerb(Verb(lines[i]))) transfer = i;
        }
        if (transfer == lines.size() || !data) return st.Fail(kErrorInvalidOption);
        port_at = (transfer > 0 && Verb(lines[transfer - 1]) == "REST") ? transfer - 1 : transfer;
    }
    FtpReply reply;
    fs::UniqueFd listener, conn;
    bool refused = false;  // the data connection could not be set up; keep replies in step
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == port_at && !refused && !st.PrepareData(listener, conn)) {
            if (st.broken || st.error != kErrorExtended) return false;
            refused = true;
        }
        if (i == transfer && !refused) {
            if (!st.SendLine(lines[i], st.IoDeadline())) return false;
            bool final_due = true;
            if (!st.AwaitData(listener, conn, final_due)) {
                if (st.broken || st.error != kErrorExtended) return false;
                refused = true;
                continue;
            }
            // Later commands go out now; the server answers them once the transfer is over.
            size_t after = lines.size() - i - 1;
            for (size_t k = i + 1; k < lines.size(); ++k) {
                if (!st.SendLine(lines[k], st.IoDeadline())) return false;
            }
            st.BeginTransfer(std::move(conn), after + (final_due ? 1 : 0), final_due);
            *data = NewFile();
            return true;
        }
        if (!st.Simple(lines[i], reply)) return false;
    }
    if (refused) return st.Fail(kErrorExtended);
    if (reply.code >= 400) return st.Fail(kErrorExtended);
    st.error = 0;
    return true;
}

void FtpConnection::Close() {
    State& st = *state_;
    st.CloseData();
    if (!st.ctrl) return;
    if (!st.broken && !st.core->aborted && !st.file_open) {
        FtpReply reply;
        Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(std::min<uint32_t>(st.core->io_ms, 2000));
        if (st.SendLine("QUIT\r\n", deadline)) st.ReadFinal(reply, deadline);
    }
    st.ctrl.Reset();
    st.broken = true;
}

}  // namespace fennic::inet
