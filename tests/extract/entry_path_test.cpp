// Entry names to relative paths: decoding, separators and the names that are refused.

#include "extract/entry_path.h"

#include <gtest/gtest.h>

#include <string>

#include "zip/zip_entry_header.h"

namespace fennic::extract {
namespace {

EntryTarget Named(const std::string& stored, uint8_t host = kHostUnix, bool utf8 = false) {
    EntryTarget e;
    e.storedName = stored;
    e.hostSystem = host;
    e.utf8 = utf8;
    return e;
}

std::string PathOf(const EntryTarget& e) {
    std::vector<std::string> parts;
    std::string why;
    if (!SplitEntryPath(e, parts, why)) return "refused";
    std::string path;
    for (const auto& p : parts) path += (path.empty() ? "" : "/") + p;
    return path;
}

TEST(EntryPathTest, NamesDecodeToUtf8AndSplitAtBothSeparators) {
    EXPECT_EQ(PathOf(Named("dir\\sub\\f.txt", kHostMsDos)), "dir/sub/f.txt");
    EXPECT_EQ(PathOf(Named("a\\b", kHostUnix)), "a/b");
    EXPECT_EQ(PathOf(Named("./a//b/./c/")), "a/b/c");
    EXPECT_EQ(PathOf(Named("a/\\./")), "a");
    // 0x82 is e-acute in code page 437: from a DOS maker, and from a Unix maker when the
    // bytes are not UTF-8.
    EXPECT_EQ(PathOf(Named("caf\x82.txt", kHostMsDos)), "caf\xC3\xA9.txt");
    EXPECT_EQ(PathOf(Named("caf\x82.txt", kHostUnix)), "caf\xC3\xA9.txt");
    // Valid UTF-8 is taken as such from a Unix maker but read as code page 437 from DOS,
    // unless flag bit 11 says UTF-8.
    EXPECT_EQ(PathOf(Named("na\xC3\xAFve", kHostUnix)), "na\xC3\xAFve");
    EXPECT_EQ(PathOf(Named("na\xC3\xAFve", kHostNtfs)), "na\xE2\x94\x9C\xC2\xBBve");
    EXPECT_EQ(PathOf(Named("na\xC3\xAFve", kHostNtfs, true)), "na\xC3\xAFve");
    // A checked Unicode path field names the file; a flagged name needs none.
    EntryTarget withField = Named("x\x82", kHostMsDos);
    withField.unicodeName = "d/\xC3\xA9";
    EXPECT_EQ(PathOf(withField), "d/\xC3\xA9");
    // An overlong ".." in flagged UTF-8 is not "..": each byte becomes U+FFFD.
    EXPECT_EQ(PathOf(Named("\xC0\xAE\xC0\xAE/x", kHostUnix, true)),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/x");
    EXPECT_EQ(PathOf(Named(std::string(255, 'n'))), std::string(255, 'n'));
}

TEST(EntryPathTest, EscapingAndMalformedNamesAreRefusedByName) {
    const struct {
        std::string name;
        uint8_t host;
        const char* reason;
    } kCases[] = {
        {"../evil", kHostUnix, "\"..\""},
        {"a/../../b", kHostUnix, "\"..\""},
        {"a/b/..", kHostUnix, "\"..\""},
        {"..\\..\\evil", kHostMsDos, "\"..\""},
        {"a\\..\\..\\evil", kHostUnix, "\"..\""},
        {"/abs", kHostUnix, "absolute"},
        {"\\abs", kHostMsDos, "absolute"},
        {"\\\\server\\share\\x", kHostNtfs, "absolute"},
        {"C:\\x", kHostMsDos, "drive letter"},
        {"C:x", kHostMsDos, "drive letter"},
        {"z:", kHostUnix, "drive letter"},
        {"", kHostUnix, "empty"},
        {"./", kHostUnix, "empty"},
        {std::string("a\0/../x", 7), kHostUnix, "NUL"},
        {std::string(256, 'n'), kHostUnix, "255 bytes"},
        // 100 bytes of 0xB0, each three bytes of UTF-8 once decoded from code page 437.
        {std::string(100, '\xB0'), kHostMsDos, "255 bytes"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> parts;
        std::string why;
        EXPECT_FALSE(SplitEntryPath(Named(c.name, c.host), parts, why)) << c.name;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(why.rfind(ShownName(Named(c.name, c.host)) + ": refused: ", 0), 0u) << why;
    }
    // The message names the entry without letting its bytes drive the terminal.
    std::vector<std::string> parts;
    std::string why;
    EXPECT_FALSE(SplitEntryPath(Named("../\x1B[2Jx"), parts, why));
    EXPECT_EQ(why.find('\x1B'), std::string::npos) << why;
    EXPECT_NE(why.find("../\\x1B[2Jx"), std::string::npos) << why;
}

TEST(EntryPathTest, LinkTargetsStayInsideLexically) {
    std::string why;
    EXPECT_TRUE(CheckLinkTarget("b", 0, why));
    EXPECT_TRUE(CheckLinkTarget("./d/e", 0, why));
    EXPECT_TRUE(CheckLinkTarget("../../x", 2, why));
    EXPECT_FALSE(CheckLinkTarget("../../x", 1, why));
    EXPECT_NE(why.find("leads out"), std::string::npos) << why;
    EXPECT_FALSE(CheckLinkTarget("..", 0, why));
    EXPECT_FALSE(CheckLinkTarget("/tmp/outside", 3, why));
    EXPECT_NE(why.find("absolute"), std::string::npos) << why;
    // Inside on paper, but "d" may be a link: ".." after a name is refused.
    EXPECT_FALSE(CheckLinkTarget("d/../x", 0, why));
    EXPECT_FALSE(CheckLinkTarget("", 0, why));
    EXPECT_FALSE(CheckLinkTarget(std::string("a\0b", 3), 0, why));
    EXPECT_FALSE(CheckLinkTarget(std::string(kMaxLinkTarget + 1, 'a'), 0, why));
}

TEST(EntryPathTest, AModeCountsOnlyFromAUnixMaker) {
    EntryTarget e = Named("f", kHostNtfs);
    e.externalAttributes = (0120700u << 16) | kAttrReadOnly;
    EXPECT_EQ(PermissionBits(e), 0644u);
    EXPECT_FALSE(IsSymlink(e));
    e.hostSystem = kHostUnix;
    EXPECT_EQ(PermissionBits(e), 0700u);
    EXPECT_TRUE(IsSymlink(e));
    e.isDirectory = true;
    e.externalAttributes = 040555u << 16;
    EXPECT_EQ(PermissionBits(e), 0755u);  // a folder's owner always keeps rwx
    e.externalAttributes = 0;             // a Unix maker that left the mode out
    EXPECT_EQ(PermissionBits(e), 0755u);
}

TEST(EntryPathTest, TargetOfTakesTheUnicodePathFieldOnlyWhenItsCrcMatches) {
    CZipEntryHeader h;
    h.versionMadeBy = kHostMsDos << 8;
    h.SetRawFileName("old.txt");
    // Unicode path field: id 0x7075, 10 bytes: version 1, CRC-32 of "old.txt", the name.
    h.SetExtraField(std::string("\x75\x70\x0A\x00\x01\x84\xA3\x8D\x50", 9) + "new\xC3\xA9");
    EXPECT_EQ(DecodeEntryName(TargetOf(h, false)), "new\xC3\xA9");
    h.SetRawFileName("renamed.txt");
    EXPECT_EQ(DecodeEntryName(TargetOf(h, false)), "renamed.txt");
}

}  // namespace
}  // namespace fennic::extract
