#include "transfer/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fennic {
namespace {

TEST(ProgressTexts, SizeAtItsBorders) {
    EXPECT_EQ(SizeText(0, kHttpTexts), "0 Bytes");
    EXPECT_EQ(SizeText(1023, kHttpTexts), "1023 Bytes");
    EXPECT_EQ(SizeText(1024, kHttpTexts), "1.0 KB");
    EXPECT_EQ(SizeText(1536, kFtpTexts), "1.5 KB");
    EXPECT_EQ(SizeText(1048575, kHttpTexts), "1024.0 KB");
    EXPECT_EQ(SizeText(1048576, kFtpTexts), "1.00 MB");
    EXPECT_EQ(SizeText(UINT32_MAX, kHttpTexts), "4096.00 MB");
}

TEST(ProgressTexts, TimeAtItsBorders) {
    EXPECT_EQ(TimeText(0, kHttpTexts), "0 sec");
    EXPECT_EQ(TimeText(59, kHttpTexts), "59 sec");
    EXPECT_EQ(TimeText(60, kFtpTexts), "1 min");
    EXPECT_EQ(TimeText(61, kHttpTexts), "1 min 1 sec");
    EXPECT_EQ(TimeText(3600, kFtpTexts), "60 min");
    EXPECT_EQ(TimeText(3661, kHttpTexts), "61 min 1 sec");
}

TEST(ProgressTexts, RateAtItsBorders) {
    EXPECT_EQ(RateText(0, kHttpTexts), "0 Bytes/Sec");
    EXPECT_EQ(RateText(0.5, kHttpTexts), "512 Bytes/Sec");
    EXPECT_EQ(RateText(0.999, kFtpTexts), "1023 Bytes/Sec");
    EXPECT_EQ(RateText(1, kHttpTexts), "1.00 KB/Sec");
    EXPECT_EQ(RateText(2.5, kFtpTexts), "2.50 KB/Sec");
    EXPECT_EQ(RateText(9.994, kHttpTexts), "9.99 KB/Sec");
    EXPECT_EQ(RateText(10, kHttpTexts), "10 KB/Sec");
    EXPECT_EQ(RateText(25, kFtpTexts), "25 KB/Sec");
}

TEST(ProgressTexts, TimeLeftAndCaption) {
    EXPECT_EQ(TimeLeftText(61, 1024, 2097152, kHttpTexts),
              "1 min 1 sec (1.0 KB of 2.00 MB copied)");
    EXPECT_EQ(TimeLeftText(0, 5, 22, kFtpTexts), "0 sec (5 Bytes of 22 Bytes copied)");
    EXPECT_EQ(PercentCaption(37, "archive.zip", kHttpTexts), "37% of archive.zip Completed");
    EXPECT_EQ(PercentCaption(100, "/pub/a b.zip", kFtpTexts), "100% of /pub/a b.zip Completed");
}

TEST(ProgressBar, HttpRangeInKibRoundsAndClampsTo16Bits) {
    EXPECT_EQ(HttpProgressUpper(0), 0);
    EXPECT_EQ(HttpProgressUpper(511), 0);
    EXPECT_EQ(HttpProgressUpper(512), 1);
    EXPECT_EQ(HttpProgressUpper(1535), 1);
    EXPECT_EQ(HttpProgressUpper(1536), 2);
    EXPECT_EQ(HttpProgressUpper(65535u * 1024 + 511), 65535);
    EXPECT_EQ(HttpProgressUpper(65536u * 1024), 65535);  // would wrap to 0 in 16 bits
    EXPECT_EQ(HttpProgressUpper(UINT32_MAX), 65535);     // and total + 512 must not wrap
    EXPECT_EQ(HttpProgressPos(1023), 0);
    EXPECT_EQ(HttpProgressPos(1024), 1);
    EXPECT_EQ(HttpProgressPos(UINT32_MAX), 65535);
}

struct Call {
    std::string what;
    double a = 0;
    uint32_t b = 0, c = 0;
    bool operator==(const Call& o) const {
        return what == o.what && a == o.a && b == o.b && c == o.c;
    }
};

std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << c.what << "(" << c.a << "," << c.b << "," << c.c << ")";
}

class Recorder : public IProgressSink {
public:
    void ShowPercent(int p) override { calls.push_back({"percent", double(p)}); }
    void ShowProgressPos(uint32_t done) override { calls.push_back({"pos", double(done)}); }
    void ShowRate(double r) override { calls.push_back({"rate", r}); }
    void ShowTimeLeft(uint32_t s, uint32_t d, uint32_t t) override {
        calls.push_back({"left", double(s), d, t});
    }
    std::vector<Call> calls;
};

class UpdateProgressTest : public ::testing::Test {
protected:
    void Update(uint32_t done, bool known, uint32_t total, bool bar = true) {
        UpdateProgress(sink, clock, start, lastTick, done, lastBytes, lastPercent, known, total,
                       bar);
    }
    uint32_t now = 5000, start = 5000, lastTick = 5000, lastBytes = 0;
    int lastPercent = 0;
    TickClock clock = [this] { return now; };
    Recorder sink;
};

TEST_F(UpdateProgressTest, NoRateOrTimeWithinTheFirstSecond) {
    now += 1000;  // exactly one second is still "within"
    Update(500, true, 1000);
    ASSERT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(sink.calls[0], (Call{"percent", 50}));
    EXPECT_EQ(sink.calls[1], (Call{"pos", 500}));
    EXPECT_EQ(lastTick, 5000u);
    EXPECT_EQ(lastBytes, 0u);
}

TEST_F(UpdateProgressTest, RateAndTimeLeftOncePastASecond) {
    now += 1001;
    Update(2002, true, 20020);
    ASSERT_EQ(sink.calls.size(), 4u);
    EXPECT_EQ(sink.calls[0], (Call{"percent", 10}));
    EXPECT_EQ(sink.calls[2], (Call{"rate", 2.0}));
    // 1001 ms for 2002 bytes; 18018 bytes to go: 9.009 s, truncated.
    EXPECT_EQ(sink.calls[3], (Call{"left", 9, 2002, 20020}));
    EXPECT_EQ(lastTick, 6001u);
    EXPECT_EQ(lastBytes, 2002u);

    sink.calls.clear();
    now += 500;  // the next interval starts at the last update, not at the start
    Update(3000, true, 20020);
    ASSERT_EQ(sink.calls.size(), 2u);  // percent 14 and the bar, nothing else
    now += 600;
    Update(4100, true, 20020);
    ASSERT_EQ(sink.calls.size(), 6u);
    EXPECT_EQ(sink.calls[4], (Call{"rate", (4100.0 - 2002.0) / 1100.0}));
    EXPECT_EQ(sink.calls[5].what, "left");
}

TEST_F(UpdateProgressTest, PercentOnlyWhenItsIntegerChanges) {
    for (uint32_t done = 0; done <= 1000; done += 3) Update(done, true, 1000);
    std::vector<double> percents;
    for (const Call& c : sink.calls)
        if (c.what == "percent") percents.push_back(c.a);
    ASSERT_EQ(percents.size(), 99u);  // 1 .. 99 (done stops at 999); 0 never shown
    for (size_t i = 0; i < percents.size(); ++i) EXPECT_EQ(percents[i], double(i + 1));
    EXPECT_EQ(lastPercent, 99);
}

TEST_F(UpdateProgressTest, FtpBarIsNotMovedByBytes) {
    Update(600, true, 1000, false);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].what, "percent");
}

TEST_F(UpdateProgressTest, UnknownSizeShowsOnlyTheRate) {
    Update(100, false, 0);
    EXPECT_TRUE(sink.calls.empty());
    now += 2000;
    Update(4000, false, 0);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0], (Call{"rate", 2.0}));
}

TEST_F(UpdateProgressTest, KnownSizeZeroComputesNoPercent) {
    Update(0, true, 0);
    now += 1500;
    Update(0, true, 0);
    ASSERT_EQ(sink.calls.size(), 1u);  // a rate of 0, and no time left without bytes
    EXPECT_EQ(sink.calls[0], (Call{"rate", 0.0}));
}

TEST_F(UpdateProgressTest, MoreBytesThanTheSizeLeaveNoTime) {
    now += 2000;
    Update(3000, true, 1000);
    ASSERT_EQ(sink.calls.size(), 4u);
    EXPECT_EQ(sink.calls[0], (Call{"percent", 300}));
    EXPECT_EQ(sink.calls[3], (Call{"left", 0, 3000, 1000}));
}

TEST_F(UpdateProgressTest, ClockWrapAt32Bits) {
    now = start = lastTick = UINT32_MAX - 100;
    now += 1200;  // wraps to 1099
    Update(1200, true, 2400);
    ASSERT_EQ(sink.calls.size(), 4u);
    EXPECT_EQ(sink.calls[2], (Call{"rate", 1.0}));
    EXPECT_EQ(sink.calls[3], (Call{"left", 1, 1200, 2400}));
}

TEST_F(UpdateProgressTest, HugeTimeLeftIsClampedNotUndefined) {
    now += 4000000000u;  // a very slow start on a 4 GiB file
    Update(1, true, UINT32_MAX);
    ASSERT_FALSE(sink.calls.empty());
    EXPECT_EQ(sink.calls.back(), (Call{"left", double(UINT32_MAX), 1, UINT32_MAX}));
}

}  // namespace
}  // namespace fennic
