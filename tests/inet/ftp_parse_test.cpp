#include "inet/ftp_parse.h"

#include <gtest/gtest.h>

namespace fennic::inet {
namespace {

TEST(FtpReply, SingleAndMultiLine) {
    FtpReply r;
    size_t used = 0;
    std::string in = "220 Welcome\r\n331 next";
    ASSERT_EQ(ParseFtpReply(in, r, used), ReplyParse::kComplete);
    EXPECT_EQ(r.code, 220);
    EXPECT_EQ(r.text, "220 Welcome\r\n");
    EXPECT_EQ(used, 13u);
    EXPECT_EQ(ParseFtpReply(in.substr(used), r, used), ReplyParse::kIncomplete);

    std::string multi = "230-Hello\r\n 230 inner line\r\n230-still\r\n230 Done\nrest";
    ASSERT_EQ(ParseFtpReply(multi, r, used), ReplyParse::kComplete);
    EXPECT_EQ(r.code, 230);
    EXPECT_EQ(r.text, "230-Hello\r\n 230 inner line\r\n230-still\r\n230 Done\r\n");
    EXPECT_EQ(multi.substr(used), "rest");

    EXPECT_EQ(ParseFtpReply("211-a\r\n212 other code\r\n", r, used), ReplyParse::kIncomplete);
    EXPECT_EQ(ParseFtpReply("200\r\n", r, used), ReplyParse::kComplete);
}

TEST(FtpReply, RejectsGarbageAndHugeReplies) {
    FtpReply r;
    size_t used = 0;
    EXPECT_EQ(ParseFtpReply("hello\r\n", r, used), ReplyParse::kMalformed);
    EXPECT_EQ(ParseFtpReply("099 low\r\n", r, used), ReplyParse::kMalformed);
    EXPECT_EQ(ParseFtpReply("600 high\r\n", r, used), ReplyParse::kMalformed);
    EXPECT_EQ(ParseFtpReply("200x\r\n", r, used), ReplyParse::kMalformed);
    std::string endless = "220-" + std::string(kMaxReplyBytes, 'a');
    EXPECT_EQ(ParseFtpReply(endless, r, used), ReplyParse::kMalformed);
    std::string many = "220-x\r\n";
    while (many.size() <= kMaxReplyBytes) many += "more\r\n";
    EXPECT_EQ(ParseFtpReply(many, r, used), ReplyParse::kMalformed);
}

TEST(FtpList, UnixAndDosLines) {
    FtpListEntry e;
    ASSERT_TRUE(ParseListLine(
        "-rw-r--r--    1 0        0          1048576 Jan 01 12:00 big file.zip\r\n", e));
    EXPECT_EQ(e.name, "big file.zip");
    EXPECT_EQ(e.size, 1048576u);
    EXPECT_FALSE(e.is_dir);

    ASSERT_TRUE(ParseListLine("drwxr-xr-x 2 ftp ftp 4096 Mar  3  2021 pub", e));
    EXPECT_TRUE(e.is_dir);
    EXPECT_EQ(e.name, "pub");

    ASSERT_TRUE(ParseListLine("lrwxrwxrwx 1 u g 7 Jan 1 2020 link -> target", e));
    EXPECT_EQ(e.name, "link");

    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 owner 5000000000 Jan 01 12:00 huge.zip", e));
    EXPECT_EQ(e.size, 5000000000u);
    EXPECT_EQ(e.name, "huge.zip");

    ASSERT_TRUE(ParseListLine("01-31-20  09:15AM              4242 Setup Files.zip", e));
    EXPECT_EQ(e.name, "Setup Files.zip");
    EXPECT_EQ(e.size, 4242u);

    ASSERT_TRUE(ParseListLine("12-01-19  01:00PM       <DIR>          Old", e));
    EXPECT_TRUE(e.is_dir);

    for (const char* bad : {"", "total 12", "-rw-r--r-- 1 u g size Jan 1 2020 x",
                            "-rw-r--r-- 1 u g 99999999999999999999999 Jan 1 2020 x",
                            "01-31-20 09:15AM 12", "garbage line here with enough fields ok"}) {
        EXPECT_FALSE(ParseListLine(bad, e)) << bad;
    }
}

TEST(FtpSize, ParsesOnly213) {
    uint64_t size = 0;
    FtpReply r{213, "213 4294967296\r\n"};
    ASSERT_TRUE(ParseSizeReply(r, size));
    EXPECT_EQ(size, 4294967296u);
    EXPECT_FALSE(ParseSizeReply(FtpReply{550, "550 nope\r\n"}, size));
    EXPECT_FALSE(ParseSizeReply(FtpReply{213, "213 12a\r\n"}, size));
    EXPECT_FALSE(ParseSizeReply(FtpReply{213, "213-\r\n"}, size));
}

}  // namespace
}  // namespace fennic::inet
