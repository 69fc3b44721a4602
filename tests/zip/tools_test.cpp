// Archives made by zip, 7z and Python's zipfile, listed and compared with what zipinfo,
// `python3 -m zipfile -l` and zipfile itself read from them.

#include <ctime>
#include <map>
#include <regex>

#include "app/archive_view.h"
#include "tests/fixtures/archives_suite.h"
#include "zip_test_util.h"

namespace fennic {
namespace {

using test::FromHex;

using test::Split;

const std::string kScript = std::string(FENNIC_SOURCE_DIR) + "/tests/fixtures/make_archives.py";

class ToolArchivesTest : public test::ArchivesSuite<ToolArchivesTest> {
public:
    static std::string MakeCommand(const std::string& dir) {
        return std::string(FENNIC_PYTHON) + " " + kScript + " " + dir;
    }

protected:
    std::vector<EntryRow> List(const std::string& name) {
        m_view.SetArchivePath(Archive(name), false);
        EXPECT_TRUE(m_view.OpenArchive(m_fe)) << name;
        auto rows = m_view.FillEntryList();
        EXPECT_TRUE(m_view.CloseArchive(m_fe));
        EXPECT_TRUE(m_fe.boxes.empty());
        return rows;
    }

    // zipfile's reading: one map of fields per entry.
    std::vector<std::map<std::string, std::string>> Dump(const std::string& name) {
        const auto r = test::RunCommand(std::string(FENNIC_PYTHON) + " " + kScript + " dump " +
                                        Archive(name) + " 2>/dev/null");
        EXPECT_EQ(r.status, 0);
        static const char* kFields[] = {"name",   "flags", "method", "csize", "usize",
                                        "crc",    "time",  "ext",    "int",   "comment",
                                        "offset", "disk",  "made",   "needed"};
        std::vector<std::map<std::string, std::string>> entries;
        for (const std::string& line : Split(r.output, '\n')) {
            if (line.empty()) continue;
            const auto parts = Split(line, '\t');
            EXPECT_EQ(parts.size(), 14u);
            std::map<std::string, std::string> e;
            for (size_t i = 0; i < parts.size() && i < 14; ++i) e[kFields[i]] = parts[i];
            entries.push_back(e);
        }
        return entries;
    }

    CArchiveView m_view;
    test::RecordingFrontEnd m_fe;
};

std::string ExpectedName(const std::map<std::string, std::string>& e, const std::string& utf8) {
    std::string name = utf8;
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return (std::stoul(e.at("flags")) & 1 ? "(*) " : "") + name;
}

std::string ExpectedTime(const std::string& stamp) {
    int y, mo, d, h, mi, s;
    EXPECT_EQ(std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6);
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    const time_t when = mktime(&t);
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm back;
    localtime_r(&when, &back);
    char text[64];
    std::snprintf(text, sizeof text, "%02d %s %d, %02d:%02d:%02d", back.tm_mday,
                  kMonths[back.tm_mon], back.tm_year + 1900, back.tm_hour, back.tm_min,
                  back.tm_sec);
    return text;
}

// Each row against zipfile's fields: names decoded by Python (cp437 or UTF-8, bit 11).
void CompareWithZipfile(const std::vector<EntryRow>& rows,
                        const std::vector<std::map<std::string, std::string>>& dump,
                        const std::string& decodedNames) {
    ASSERT_EQ(rows.size(), dump.size());
    const auto names = Split(decodedNames, '\n');
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& e = dump[i];
        SCOPED_TRACE(names[i]);
        const uint32_t ext = uint32_t(std::stoul(e.at("ext")));
        const uint64_t csize = std::stoull(e.at("csize"));
        const uint64_t usize = std::stoull(e.at("usize"));
        char crc[16];
        std::snprintf(crc, sizeof crc, "%lX", std::stoul(e.at("crc")));
        std::string attr = "----";
        if (ext & 1) attr[0] = 'r';
        if (ext & 0x20) attr[1] = 'a';
        if (ext & 2) attr[2] = 'h';
        if (ext & 4) attr[3] = 's';
        EXPECT_EQ(rows[i][0], ExpectedName(e, names[i]));
        EXPECT_EQ(rows[i][1], ext & 0x10 ? "YES" : "NO");
        EXPECT_EQ(rows[i][2], e.at("usize"));
        EXPECT_EQ(rows[i][3], ExpectedTime(e.at("time")));
        EXPECT_EQ(rows[i][4], attr);
        EXPECT_EQ(rows[i][5], std::to_string(usize ? csize * 100 / usize : 0) + "%");
        EXPECT_EQ(rows[i][6], crc);
        const std::string comment = FromHex(e.at("comment"));
        EXPECT_EQ(rows[i][7], comment.size() > 1024 ? comment.substr(0, 1024) + "..." : comment);
    }
}

// The names as Python decodes them, one a line.
std::string DecodedNames(const std::string& archive) {
    const auto r =
        test::RunCommand(std::string(FENNIC_PYTHON) +
                         " -c \"import sys, zipfile\nfor i in zipfile.ZipFile(sys.argv[1])"
                         ".infolist(): print(i.orig_filename)\" " +
                         archive + " 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    return r.output;
}

// Name, size, compressed size, method and encryption from `zipinfo -l`.
struct ZipinfoLine {
    std::string name, type, method;
    uint64_t size, csize;
};
std::vector<ZipinfoLine> Zipinfo(const std::string& archive) {
    const auto r = test::RunCommand("zipinfo -l " + archive);
    std::vector<ZipinfoLine> lines;
    static const std::regex kLine(
        R"(^[-d?l][-rwxsStT?]{9}\s+\S+\s+\S+\s+(\d+)\s+(\S+)\s+(\d+)\s+(\S+)\s+\S+\s+\S+\s+(.*)$)");
    for (const std::string& line : Split(r.output, '\n')) {
        std::smatch m;
        if (std::regex_match(line, m, kLine)) {
            lines.push_back({m[5], m[2], m[4], std::stoull(m[1]), std::stoull(m[3])});
        }
    }
    return lines;
}

TEST_F(ToolArchivesTest, InfoZipArchive) {
    const auto rows = List("infozip.zip");
    CompareWithZipfile(rows, Dump("infozip.zip"), DecodedNames(Archive("infozip.zip")));
    const auto info = Zipinfo(Archive("infozip.zip"));
    ASSERT_EQ(info.size(), rows.size());
    bool sawDir = false, sawEncrypted = false, sawStored = false, sawDeflated = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool encrypted = std::isupper(static_cast<unsigned char>(info[i].type[0]));
        std::string name = info[i].name;
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
        EXPECT_EQ(rows[i][0], (encrypted ? "(*) " : "") + name);
        EXPECT_EQ(rows[i][2], std::to_string(info[i].size));
        const uint64_t ratio = info[i].size ? info[i].csize * 100 / info[i].size : 0;
        EXPECT_EQ(rows[i][5], std::to_string(ratio) + "%");
        sawDir |= rows[i][1] == "YES" && name.back() == '\\';
        sawEncrypted |= encrypted;
        sawStored |= info[i].method == "stor" && info[i].size > 0;
        sawDeflated |= info[i].method.rfind("def", 0) == 0;
    }
    EXPECT_TRUE(sawDir && sawEncrypted && sawStored && sawDeflated);
    // The archive comment from -z, and zip's extra fields kept with each entry.
    m_view.SetArchivePath(Archive("infozip.zip"), false);
    ASSERT_TRUE(m_view.OpenArchive(m_fe));
    EXPECT_EQ(m_view.Engine().GetDirectory().GetEndComment().ToString(),
              "Made by zip for the Fennic tests");
    CZipEntryHeader h;
    ASSERT_TRUE(m_view.Engine().GetEntryInfo(h, 1));
    EXPECT_FALSE(h.ExtraBytes().empty());
    EXPECT_EQ(std::string(h.ExtraBytes()).substr(0, 2), "UT");
    EXPECT_TRUE(m_view.CloseArchive(m_fe));
}

TEST_F(ToolArchivesTest, SevenZipArchive) {
    const auto rows = List("sevenzip.zip");
    CompareWithZipfile(rows, Dump("sevenzip.zip"), DecodedNames(Archive("sevenzip.zip")));
    const auto info = Zipinfo(Archive("sevenzip.zip"));
    ASSERT_EQ(info.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][2], std::to_string(info[i].size));
}

TEST_F(ToolArchivesTest, PythonArchives) {
    for (const char* name : {"py_utf8.zip", "py_cp437.zip", "py_comment65535.zip"}) {
        SCOPED_TRACE(name);
        CompareWithZipfile(List(name), Dump(name), DecodedNames(Archive(name)));
    }
    EXPECT_TRUE(List("py_empty.zip").empty());
}

TEST_F(ToolArchivesTest, PythonZipfileListingAgrees) {
    // `python3 -m zipfile -l`: name, then "YYYY-MM-DD hh:mm:ss", then the size.
    static const std::regex kLine(
        R"(^(.*\S)\s+(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\s+(\d+)$)");
    for (const char* name : {"infozip.zip", "sevenzip.zip", "py_utf8.zip", "py_cp437.zip"}) {
        SCOPED_TRACE(name);
        const auto rows = List(name);
        const auto r =
            test::RunCommand(std::string(FENNIC_PYTHON) + " -m zipfile -l " + Archive(name));
        ASSERT_EQ(r.status, 0);
        size_t i = 0;
        for (const std::string& line : Split(r.output, '\n')) {
            std::smatch m;
            if (!std::regex_match(line, m, kLine)) continue;
            ASSERT_LT(i, rows.size());
            std::string shown = m[1];
            for (char& c : shown) {
                if (c == '/') c = '\\';
            }
            const std::string& ours = rows[i][0];
            EXPECT_EQ(ours.rfind("(*) ", 0) == 0 ? ours.substr(4) : ours, shown);
            EXPECT_EQ(rows[i][2], m[8].str());
            const std::string stamp = m[2].str() + "-" + m[3].str() + "-" + m[4].str() + " " +
                                      m[5].str() + ":" + m[6].str() + ":" + m[7].str();
            EXPECT_EQ(rows[i][3], ExpectedTime(stamp));
            ++i;
        }
        EXPECT_EQ(i, rows.size());
    }
}

TEST_F(ToolArchivesTest, Cp437NameIsConvertedAndKeptRaw) {
    m_view.SetArchivePath(Archive("py_cp437.zip"), false);
    ASSERT_TRUE(m_view.OpenArchive(m_fe));
    CZipEntryHeader h;
    ASSERT_TRUE(m_view.Engine().GetEntryInfo(h, 0));
    EXPECT_EQ(h.GetRawFileName(),
              "\x81"
              "ber/\x84\x94.txt");
    EXPECT_EQ(h.GetFileName(),
              "\xFC"
              "ber\\\xE4\xF6.txt");
    EXPECT_TRUE(m_view.CloseArchive(m_fe));
}

}  // namespace
}  // namespace fennic
