#include "inet/content_range.h"

#include <gtest/gtest.h>

namespace fennic::inet {
namespace {

TEST(ContentRange, ReadsRangesWithKnownAndUnknownTotals) {
    ContentRange r;
    ASSERT_TRUE(ParseContentRange("bytes 0-9/10", r));
    EXPECT_EQ(r.first, 0u);
    EXPECT_EQ(r.last, 9u);
    EXPECT_EQ(r.total, 10u);
    EXPECT_TRUE(r.totalKnown);
    EXPECT_EQ(r.Length(), 10u);

    ASSERT_TRUE(ParseContentRange("bytes 5-6/*", r));
    EXPECT_FALSE(r.totalKnown);
    EXPECT_EQ(r.Length(), 2u);

    ASSERT_TRUE(ParseContentRange("bytes 0-18446744073709551614/18446744073709551615", r));
    EXPECT_EQ(r.last, UINT64_MAX - 1);
}

TEST(ContentRange, RefusesWhatDoesNotDescribeARange) {
    ContentRange r;
    for (const char* text :
         {"", "bytes", "bytes 0-9", "bytes 0-9/", "bytes 9-0/10", "bytes 0-10/10", "bytes -5/10",
          "bytes 0-9/10 ", "items 0-9/10", "bytes 0-9/1x", "bytes 0-9/*x", "bytes */10",
          "bytes 0-9/18446744073709551616", "bytes -59159-6473/6474", "Bytes 0-9/10"}) {
        EXPECT_FALSE(ParseContentRange(text, r)) << text;
    }
}

TEST(ContentRange, ReadsTheSizeOfAnUnsatisfiedRange) {
    uint64_t total = 1;
    ASSERT_TRUE(ParseUnsatisfiedRange("bytes */0", total));
    EXPECT_EQ(total, 0u);
    ASSERT_TRUE(ParseUnsatisfiedRange("bytes */6474", total));
    EXPECT_EQ(total, 6474u);
    for (const char* text : {"bytes */", "bytes *", "bytes 0-1/2", "bytes */12a", "*/12"})
        EXPECT_FALSE(ParseUnsatisfiedRange(text, total)) << text;
}

}  // namespace
}  // namespace fennic::inet
