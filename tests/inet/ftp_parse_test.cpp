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
    ASSERT_TRUE(ParseSizeReply(FtpReply{213, "213 18446744073709551615\r\n"}, size));
    EXPECT_EQ(size, UINT64_MAX);
    for (const char* bad : {"213 18446744073709551616\r\n", "213 -1\r\n", "213 +1\r\n",
                            "213 000000000000000000001\r\n", "213 \r\n"}) {
        EXPECT_FALSE(ParseSizeReply(FtpReply{213, bad}, size)) << bad;
    }
}

TEST(FtpPassive, PortOf227And229) {
    uint16_t port = 0;
    ASSERT_TRUE(ParseEpsvReply({229, "229 Extended Passive Mode (|||50123|)\r\n"}, port));
    EXPECT_EQ(port, 50123);
    ASSERT_TRUE(ParseEpsvReply({229, "229 Ok (!!!65535!) now\r\n"}, port));
    EXPECT_EQ(port, 65535);
    ASSERT_TRUE(ParsePasvReply({227, "227 Passive Mode (10,1,2,3,195,80).\r\n"}, port));
    EXPECT_EQ(port, 195 * 256 + 80);
    for (const char* bad :
         {"229 (|||0|)", "229 (|||65536|)", "229 (|||-1|)", "229 (|1|2|3|)", "229 (||50|)",
          "229 (5554)", "229 (|||50|", "229 |||50|)", "229 (|||5 0|)"}) {
        EXPECT_FALSE(ParseEpsvReply({229, std::string(bad) + "\r\n"}, port)) << bad;
    }
    for (const char* bad :
         {"227 (256,0,0,1,4,5)", "227 (1,0,0,1,4,256)", "227 (1,0,0,1,0,0)", "227 (1,0,0,1,4)",
          "227 (1,0,0,1,4,5,6)", "227 1,0,0,1,4,5", "227 (1,0,0,1,4,5", "227 (1,,0,1,4,5)",
          "227 (-1,0,0,1,4,5)", "227 (1,0,0,1,4,0005)", "227 ( 1,0,0,1,4,5)"}) {
        EXPECT_FALSE(ParsePasvReply({227, std::string(bad) + "\r\n"}, port)) << bad;
    }
    EXPECT_FALSE(ParsePasvReply({229, "229 (1,0,0,1,4,5)\r\n"}, port));
    EXPECT_FALSE(ParseEpsvReply({227, "227 (|||50|)\r\n"}, port));
}

}  // namespace
}  // namespace fennic::inet
