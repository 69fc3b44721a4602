#pragma once
// Helpers for the ZIP tests: scratch folders, files, archives built byte by byte, a front end
// that records its message boxes, and running tools.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/frontend.h"

namespace fennic::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/fennic-zip-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        m_path = pattern;
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string U16(uint16_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
inline std::string U32(uint32_t v) {
    return U16(uint16_t(v & 0xFFFF)) + U16(uint16_t(v >> 16));
}

struct Entry {
    Entry() = default;
    explicit Entry(std::string n) : name(std::move(n)) {}
    std::string name;
    std::string extra;
    std::string comment;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0x3065;  // 5 Mar 2004
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    uint16_t diskStart = 0;
    uint16_t internal = 0;
    uint32_t external = 0x20;
    uint32_t localOffset = 0;
    uint32_t signature = 0x02014b50;
};

inline std::string CentralHeader(const Entry& e) {
    return U32(e.signature) + U16(20) + U16(10) + U16(e.flags) + U16(e.method) + U16(e.time) +
           U16(e.date) + U32(e.crc) + U32(e.compressed) + U32(e.uncompressed) +
           U16(uint16_t(e.name.size())) + U16(uint16_t(e.extra.size())) +
           U16(uint16_t(e.comment.size())) + U16(e.diskStart) + U16(e.internal) + U32(e.external) +
           U32(e.localOffset) + e.name + e.extra + e.comment;
}

struct End {
    uint16_t disk = 0;
    uint16_t cdDisk = 0;
    uint16_t onDisk = 0;
    uint16_t total = 0;
    uint32_t cdSize = 0;
    uint32_t cdOffset = 0;
    std::string comment;
    int commentLength = -1;  // the stored length; -1: the comment's own
};

inline std::string EndRecord(const End& e) {
    const uint16_t k = e.commentLength < 0 ? uint16_t(e.comment.size()) : uint16_t(e.commentLength);
    return "PK\x05\x06" + U16(e.disk) + U16(e.cdDisk) + U16(e.onDisk) + U16(e.total) +
           U32(e.cdSize) + U32(e.cdOffset) + U16(k) + e.comment;
}

// `before` bytes of filler standing for local headers and data, the central directory of
// `entries`, then the end record with `comment`.
inline std::string BuildArchive(const std::vector<Entry>& entries, const std::string& comment = "",
                                size_t before = 16) {
    std::string cd;
    for (const Entry& e : entries) cd += CentralHeader(e);
    End end;
    end.onDisk = end.total = uint16_t(entries.size());
    end.cdSize = uint32_t(cd.size());
    end.cdOffset = uint32_t(before);
    end.comment = comment;
    return std::string(before, 'L') + cd + EndRecord(end);
}

// Answers message boxes from a queue (IDNO once it is empty) and records each one.
class RecordingFrontEnd : public IFrontEnd {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        boxes.push_back({text, caption, style});
        if ((style & 0xF) != MB_YESNO) return IDOK;
        if (answers.empty()) return IDNO;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    std::vector<Box> boxes;
    std::deque<int> answers;
};

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs a shell command; stdout is captured, stderr goes to `errPath` when given.
inline RunResult RunShell(const std::string& command, const std::string& errPath = "/dev/null") {
    RunResult r;
    FILE* p = popen((command + " 2>'" + errPath + "' </dev/null").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep)
            parts.push_back(std::exchange(cur, {}));
        else
            cur += c;
    }
    parts.push_back(cur);
    return parts;
}

inline std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

}  // namespace fennic::test
