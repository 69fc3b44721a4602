#include "remote/entry_archive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <vector>

#include "zip/zip_entry_header.h"

namespace fennic::remote {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Close() {
        int rc = 0;
        if (m_fd >= 0) rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

// Reads up to n bytes at pos; returns the count read or -1.
ssize_t ReadAt(int fd, uint64_t pos, uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, buf + got, n - got, static_cast<off_t>(pos + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// A new file beside dest, created exclusively with the usual permissions (umask applies).
int CreateBeside(const std::string& dest, std::string& path) {
    const size_t slash = dest.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : dest.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? dest : dest.substr(slash + 1);
    std::mt19937_64 rng(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = dir + "." + base + "." + std::to_string(rng() % 1000000000) + ".part";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

SaveResult Fail(const std::string& why, int error = 0) {
    SaveResult r;
    r.why = why;
    r.error = error;
    return r;
}

std::vector<uint8_t> BytesOf(const CZipBuffer& b) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.GetBuffer());
    return p ? std::vector<uint8_t>(p, p + b.GetSize()) : std::vector<uint8_t>();
}

}  // namespace

EntryRecord EntryRecordFrom(const CZipEntryHeader& h) {
    EntryRecord e;
    e.versionMadeBy = h.versionMadeBy;
    e.versionNeeded = h.versionNeeded;
    e.flags = h.flags;
    e.method = h.method;
    e.modTime = h.modTime;
    e.modDate = h.modDate;
    e.crc32 = h.crc32;
    e.compressedSize = h.compressedSize;
    e.uncompressedSize = h.uncompressedSize;
    e.diskStart = h.diskStart;
    e.internalAttributes = h.internalAttributes;
    e.externalAttributes = h.externalAttributes;
    e.localHeaderOffset = h.localHeaderOffset;
    const std::string& raw = h.GetRawFileName();
    e.storedName.assign(raw.begin(), raw.end());
    e.extraField = BytesOf(h.extraField);
    e.comment = BytesOf(h.comment);
    return e;
}

SaveResult SaveEntryArchive(const std::string& fetchedPath, const EntryRecord& entry,
                            uint16_t diskNumber, uint16_t centralDirDisk,
                            const std::string& destPath) {
    Fd in(::open(fetchedPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.Valid()) return Fail("cannot open the fetched bytes", errno);
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) return Fail("cannot read the fetched bytes", errno);
    const uint64_t fetched = static_cast<uint64_t>(st.st_size);

    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(fetched, kLocalHeaderProbe)));
    if (ReadAt(in.Get(), 0, head.data(), head.size()) != static_cast<ssize_t>(head.size()))
        return Fail("cannot read the fetched bytes", errno);
    std::string why;
    const auto headerLen = LocalHeaderLength(head.data(), head.size(), fetched, &why);
    if (!headerLen) return Fail(why);

    const uint64_t dataEnd = uint64_t{*headerLen} + entry.compressedSize;
    if (dataEnd > fetched) return Fail("the entry's data runs past the fetched bytes");
    uint64_t keep = dataEnd;
    if (entry.HasDataDescriptor()) {
        uint8_t tail[16];
        const ssize_t n = ReadAt(in.Get(), dataEnd, tail, sizeof tail);
        if (n < 0) return Fail("cannot read the fetched bytes", errno);
        const auto descLen = DataDescriptorLength(tail, static_cast<size_t>(n), entry.crc32);
        if (!descLen) return Fail("no data descriptor after the entry's data");
        keep += *descLen;
    }

    const std::vector<uint8_t> central = BuildCentralRecord(entry);
    if (keep + central.size() + kEndRecordSize + kEntryArchiveCommentSize > 0xFFFFFFFFull)
        return Fail("the entry is too large for an archive");
    const std::vector<uint8_t> end =
        BuildEndRecord(diskNumber, centralDirDisk, static_cast<uint32_t>(central.size()),
                       static_cast<uint32_t>(keep));

    std::string partPath;
    Fd out(CreateBeside(destPath, partPath));
    if (!out.Valid()) return Fail("cannot create the new file beside the destination", errno);
    auto abandon = [&](const std::string& text, int error) {
        out.Close();
        ::unlink(partPath.c_str());
        return Fail(text, error);
    };

    std::vector<uint8_t> buf(1 << 16);
    for (uint64_t pos = 0; pos < keep;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), keep - pos));
        const ssize_t got = ReadAt(in.Get(), pos, buf.data(), want);
        if (got != static_cast<ssize_t>(want))
            return abandon("cannot read the fetched bytes", errno);
        if (!WriteAll(out.Get(), buf.data(), want))
            return abandon("cannot write the new file", errno);
        pos += want;
    }
    if (!WriteAll(out.Get(), central.data(), central.size()) ||
        !WriteAll(out.Get(), end.data(), end.size()))
        return abandon("cannot write the new file", errno);
    if (::fsync(out.Get()) != 0) return abandon("cannot write the new file", errno);
    if (out.Close() != 0) return abandon("cannot write the new file", errno);
    if (::rename(partPath.c_str(), destPath.c_str()) != 0)
        return abandon("cannot rename the new file over the destination", errno);

    SaveResult ok;
    ok.ok = true;
    ok.kept = static_cast<uint32_t>(keep);
    return ok;
}

}  // namespace fennic::remote
