// The entry list's cells, the code page conversions behind them, and the archive view.

#include "app/entry_columns.h"

#include "app/archive_view.h"
#include "app/text_convert.h"
#include "zip/code_page.h"
#include "zip/crc32.h"
#include "zip_test_util.h"

namespace fennic {
namespace {

using test::BuildArchive;
using test::Entry;
using test::TempDir;
using test::WriteFile;

TEST(EntryColumnsTest, Headers) {
    EXPECT_EQ(EntryColumnHeaders(), (std::vector<std::string>{"File Name", "Dir", "Size", "Time",
                                                              "Attr", "Ratio", "CRC", "Comment"}));
}

TEST(EntryColumnsTest, Ratio) {
    EXPECT_EQ(FormatRatio(0, 0), "0%");
    EXPECT_EQ(FormatRatio(5, 0), "0%");
    EXPECT_EQ(FormatRatio(31, 31), "100%");
    EXPECT_EQ(FormatRatio(9, 7), "128%");
    EXPECT_EQ(FormatRatio(1, 3), "33%");
    EXPECT_EQ(FormatRatio(2, 3), "66%");
    EXPECT_EQ(FormatRatio(0xFFFFFFFF, 0xFFFFFFFF), "100%");
    EXPECT_EQ(FormatRatio(0xFFFFFFFF, 1), "429496729500%");
    EXPECT_EQ(FormatRatio(50000000, 100000000), "50%");
}

TEST(EntryColumnsTest, AttributesCrcAndSize) {
    EXPECT_EQ(FormatAttributes(0x21), "ra--");
    EXPECT_EQ(FormatAttributes(0), "----");
    EXPECT_EQ(FormatAttributes(0x03), "r-h-");
    EXPECT_EQ(FormatAttributes(0x27), "rahs");
    EXPECT_EQ(FormatAttributes(0x81A40000), "----");
    EXPECT_EQ(FormatCrc(0xABCD), "ABCD");
    EXPECT_EQ(FormatCrc(0), "0");
    EXPECT_EQ(FormatCrc(0xFFFFFFFF), "FFFFFFFF");
    EXPECT_EQ(FormatSize(4294967295u), "4294967295");
}

TEST(EntryColumnsTest, TimeInTheCLocale) {
    const char* old = getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    CZipEntryHeader h;
    h.modDate = uint16_t(((2004 - 1980) << 9) | (3 << 5) | 5);
    h.modTime = uint16_t((14 << 11) | (3 << 5) | (9 / 2));
    EXPECT_EQ(FormatTime(h.GetModTime()), "05 Mar 2004, 14:03:08");
    h.modDate = uint16_t((30 << 9) | (12 << 5) | 31);
    h.modTime = uint16_t((23 << 11) | (59 << 5) | 29);
    EXPECT_EQ(FormatTime(h.GetModTime()), "31 Dec 2010, 23:59:58");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(EntryColumnsTest, NamesAndComments) {
    CZipEntryHeader h;
    h.SetRawFileName("dir/caf\x82");  // code page 437, as a DOS maker stores it
    EXPECT_EQ(FormatEntryName(h), "dir\\caf\xC3\xA9");
    h.flags = kFlagEncrypted;
    EXPECT_EQ(FormatEntryName(h), "(*) dir\\caf\xC3\xA9");
    h.flags = kFlagUtf8;
    h.SetRawFileName("\xE6\x97\xA5\xFF");  // valid, then a stray byte
    EXPECT_EQ(FormatEntryName(h), "\xE6\x97\xA5\xEF\xBF\xBD");

    h.flags = 0;
    h.SetComment(std::string(1024, 'c'));
    EXPECT_EQ(FormatComment(h), std::string(1024, 'c'));
    h.SetComment(std::string(1025, 'c'));
    EXPECT_EQ(FormatComment(h), std::string(1024, 'c') + "...");
    h.SetComment(std::string(1024, '\xDB'));  // a full block, three bytes in UTF-8
    EXPECT_EQ(FormatComment(h).size(), 3072u);
    h.flags = kFlagUtf8;
    std::string e;
    for (int i = 0; i < 1025; ++i) e += "\xC3\xA9";
    h.SetComment(e);
    EXPECT_EQ(FormatComment(h), e.substr(0, 2048) + "...");
    h.SetComment(e.substr(0, 2048));
    EXPECT_EQ(FormatComment(h), e.substr(0, 2048));
}

TEST(EntryColumnsTest, RowOfEightCells) {
    CZipEntryHeader h;
    h.SetRawFileName("a.txt");
    h.uncompressedSize = 10;
    h.compressedSize = 5;
    h.crc32 = 0x1F;
    h.externalAttributes = 0x10;
    const EntryRow row = FormatEntryColumns(h, true);
    ASSERT_EQ(row.size(), 8u);
    EXPECT_EQ(row[0], "a.txt");
    EXPECT_EQ(row[1], "YES");
    EXPECT_EQ(row[2], "10");
    EXPECT_EQ(row[4], "----");
    EXPECT_EQ(row[5], "50%");
    EXPECT_EQ(row[6], "1F");
    EXPECT_EQ(FormatEntryColumns(h, false)[1], "NO");
}

// An Info-ZIP style Unicode extra block: version 1, the stored bytes' CRC, the UTF-8 text.
std::string UnicodeBlock(uint16_t id, const std::string& stored, const std::string& utf8) {
    std::string block(1, '\x01');
    const uint32_t crc = Crc32(stored.data(), stored.size());
    for (int i = 0; i < 4; ++i) block += static_cast<char>(crc >> (8 * i));
    block += utf8;
    const uint16_t size = static_cast<uint16_t>(block.size());
    return std::string{char(id & 0xFF), char(id >> 8), char(size & 0xFF), char(size >> 8)} + block;
}

TEST(EntryColumnsTest, NamesAreDecodedAsTheirMakersWroteThem) {
    CZipEntryHeader h;
    const std::string cafeUtf8 = "caf\xC3\xA9.txt";
    h.SetRawFileName(cafeUtf8);
    // Made on Unix without the flag: the locale's UTF-8, shown as it is.
    h.versionMadeBy = 0x031E;
    EXPECT_EQ(EntryNameUtf8(h), cafeUtf8);
    // The same bytes from DOS, NTFS or VFAT makers are code page 437.
    for (uint16_t made : {0x0014, 0x0B14, 0x0E14}) {
        h.versionMadeBy = made;
        EXPECT_EQ(EntryNameUtf8(h), "caf\xE2\x94\x9C\xE2\x8C\x90.txt") << made;  // ├⌐
    }
    // Code page 437 exactly, also where code page 1252 has no such character.
    h.versionMadeBy = 0x031E;
    h.SetRawFileName("\xE0\xE1\xE4.txt");                         // not UTF-8
    EXPECT_EQ(EntryNameUtf8(h), "\xCE\xB1\xC3\x9F\xCE\xA3.txt");  // αßΣ
    h.SetRawFileName("box\xC9\xCD\xBB.txt");
    EXPECT_EQ(EntryNameUtf8(h), "box\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97.txt");  // ╔═╗
    h.SetRawFileName("box+-+.txt");
    EXPECT_EQ(EntryNameUtf8(h), "box+-+.txt");

    // A Unicode path block wins when its CRC names the stored bytes, and only then.
    h.versionMadeBy = 0x0014;
    h.SetRawFileName("caf\x82.txt");
    h.SetExtraField(UnicodeBlock(kUnicodePathExtraId, "caf\x82.txt", "caf\xC3\xA9!.txt"));
    EXPECT_EQ(EntryNameUtf8(h), "caf\xC3\xA9!.txt");
    h.SetExtraField(UnicodeBlock(kUnicodePathExtraId, "renamed.txt", "other.txt"));
    EXPECT_EQ(EntryNameUtf8(h), "caf\xC3\xA9.txt");
    // A block that runs past the field is no block.
    std::string cut = UnicodeBlock(kUnicodePathExtraId, "caf\x82.txt", "x.txt");
    h.SetExtraField(cut.substr(0, cut.size() - 1));
    EXPECT_EQ(EntryNameUtf8(h), "caf\xC3\xA9.txt");
}

TEST(EntryColumnsTest, CommentsFollowTheNameRule) {
    CZipEntryHeader h;
    h.versionMadeBy = 0x0014;
    const std::string stored = "\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F";  // ÄÖÜß in UTF-8, unflagged
    h.SetComment(stored);
    h.SetExtraField(UnicodeBlock(kUnicodeCommentExtraId, stored, stored));
    EXPECT_EQ(FormatComment(h), stored);
    EXPECT_EQ(EntryCommentUtf8(h), stored);
    h.SetExtraField(std::string());
    h.versionMadeBy = 0x031E;
    EXPECT_EQ(FormatComment(h), stored);
    h.versionMadeBy = 0x0014;
    EXPECT_NE(FormatComment(h), stored);  // code page 437 from a DOS maker
}

TEST(CodePageTest, OemToAnsi) {
    for (int c = 0; c < 0x80; ++c) EXPECT_EQ(Cp437ToCp1252(uint8_t(c)), c);
    const std::pair<uint8_t, uint8_t> spots[] = {
        {0x81, 0xFC}, {0x80, 0xC7}, {0x9F, 0x83}, {0xE1, 0xDF}, {0xC4, 0x2D},
        {0xB3, 0xA6}, {0xDA, 0x2B}, {0xFF, 0xA0}, {0xE0, 0x61}, {0x9E, 0x50},
    };
    for (auto [oem, ansi] : spots) EXPECT_EQ(Cp437ToCp1252(oem), ansi) << int(oem);
    char name[] =
        "\x81"
        "ber/\\x";
    OemToCharBuff(name, 7);
    EXPECT_EQ(std::string(name),
              "\xFC"
              "ber/\\x");
}

TEST(CodePageTest, ExactCharactersAgreeWithPython) {
    // Where code page 1252 has the character itself, that byte is the answer.
    const auto r = test::RunCommand(std::string(FENNIC_PYTHON) +
                                    " -c \"import sys\nfor b in range(128, 256):\n"
                                    "  c = bytes([b]).decode('cp437')\n"
                                    "  try: print(b, c.encode('cp1252')[0])\n"
                                    "  except UnicodeEncodeError: pass\" 2>/dev/null");
    ASSERT_EQ(r.status, 0);
    int checked = 0;
    for (const std::string& line : test::Split(r.output, '\n')) {
        if (line.empty()) continue;
        const auto parts = test::Split(line, ' ');
        EXPECT_EQ(Cp437ToCp1252(uint8_t(std::stoi(parts[0]))), std::stoi(parts[1])) << line;
        ++checked;
    }
    EXPECT_GE(checked, 54);
}

TEST(TextConvertTest, SanitizeUtf8) {
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(SanitizeUtf8("\xF0\x9F\x98\x80!"), "\xF0\x9F\x98\x80!");
    EXPECT_EQ(SanitizeUtf8("\xE6\x97"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

class ArchiveViewTest : public ::testing::Test {
protected:
    TempDir m_dir;
    CArchiveView m_view;
    test::RecordingFrontEnd m_fe;
};

TEST_F(ArchiveViewTest, NotAnArchiveAsksAndThenFails) {
    WriteFile(m_dir / "junk", std::string(100, 'j'));
    m_view.SetArchivePath(m_dir / "junk", false);
    m_fe.answers = {IDYES, IDYES, IDNO};
    EXPECT_FALSE(m_view.OpenArchive(m_fe));
    ASSERT_EQ(m_fe.boxes.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_fe.boxes[i].text, kDirNotFoundQuestion);
        EXPECT_EQ(m_fe.boxes[i].style, unsigned(MB_YESNO | MB_ICONSTOP));
    }
    EXPECT_EQ(m_fe.boxes[3].text, "Open failed");
    EXPECT_EQ(m_fe.boxes[3].style, unsigned(MB_OK | MB_ICONSTOP));
    EXPECT_TRUE(m_view.FillEntryList().empty());
    EXPECT_TRUE(m_view.CloseArchive(m_fe));
    EXPECT_TRUE(m_view.Engine().IsClosed(false));  // the file was released
}

TEST_F(ArchiveViewTest, RetrySucceedsOnceTheLastDiskIsThere) {
    struct Inserting : test::RecordingFrontEnd {
        std::string path;
        int MessageBox(const std::string& t, const std::string& c, unsigned s) override {
            RecordingFrontEnd::MessageBox(t, c, s);
            WriteFile(path, BuildArchive({Entry{"now/here"}}));
            return IDYES;
        }
    } fe;
    fe.path = m_dir / "disk";
    WriteFile(fe.path, "not yet");
    m_view.SetArchivePath(fe.path, false);
    EXPECT_TRUE(m_view.OpenArchive(fe));
    EXPECT_EQ(fe.boxes.size(), 1u);
    const auto rows = m_view.FillEntryList();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "now\\here");
}

TEST_F(ArchiveViewTest, OtherFailuresDoNotAsk) {
    m_view.SetArchivePath(m_dir / "missing.zip", false);
    EXPECT_FALSE(m_view.OpenArchive(m_fe));
    ASSERT_EQ(m_fe.boxes.size(), 1u);
    EXPECT_EQ(m_fe.boxes[0].text, "Open failed");

    std::string archive = BuildArchive({Entry{"a"}});
    archive[archive.size() - 7] = 0x7F;  // a directory size larger than the file
    WriteFile(m_dir / "beyond.zip", archive);
    m_view.SetArchivePath(m_dir / "beyond.zip", false);
    m_fe.boxes.clear();
    EXPECT_FALSE(m_view.OpenArchive(m_fe));
    ASSERT_EQ(m_fe.boxes.size(), 1u);
    EXPECT_EQ(m_fe.boxes[0].text, "Open failed");
    EXPECT_TRUE(m_view.CloseArchive(m_fe));
    EXPECT_TRUE(m_view.Engine().IsClosed(false));
}

TEST_F(ArchiveViewTest, RowsInEngineOrderAndTailFileDeletion) {
    Entry z{"z"};
    Entry a{"a"};
    a.flags = kFlagEncrypted;
    WriteFile(m_dir / "tail", BuildArchive({z, a}));
    m_view.SetArchivePath(m_dir / "tail", true);
    ASSERT_TRUE(m_view.OpenArchive(m_fe));
    const auto rows = m_view.FillEntryList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "z");
    EXPECT_EQ(rows[1][0], "(*) a");
    EXPECT_TRUE(m_view.CloseArchive(m_fe));
    EXPECT_TRUE(m_fe.boxes.empty());
    m_view.DeleteTailFile();
    EXPECT_NE(::access((m_dir / "tail").c_str(), F_OK), 0);
    EXPECT_EQ(m_view.GetArchivePath(), "");
    // A user's file is never deleted.
    WriteFile(m_dir / "mine", "x");
    m_view.SetArchivePath(m_dir / "mine", false);
    m_view.DeleteTailFile();
    EXPECT_EQ(::access((m_dir / "mine").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace fennic
