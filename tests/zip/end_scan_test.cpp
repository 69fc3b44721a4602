#include <gtest/gtest.h>

#include <string>

#include "zip/zip_records.h"

namespace fennic {
namespace {

EndRecordScan Scan(const std::string& bytes) {
    return ScanForEndRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const std::string kSig = "PK\x05\x06";

TEST(EndRecordScan, TellsTheNearestSignatureFromTheNearestWholeRecord) {
    const std::string record = kSig + std::string(18, '\0');
    // One whole record at the end: both agree.
    EndRecordScan s = Scan("stub" + record);
    EXPECT_EQ(s.nearest, 4u);
    EXPECT_EQ(s.whole, 4u);
    // A signature in the last 21 bytes is nearest, but the record before it is the whole one.
    s = Scan("ab" + record + kSig + std::string(17, 'c'));
    EXPECT_EQ(s.nearest, 2u + record.size());
    EXPECT_EQ(s.whole, 2u);
    // Only a cut-short one: nothing whole.
    s = Scan(std::string(9, 'x') + kSig + "tail");
    EXPECT_EQ(s.nearest, 9u);
    EXPECT_EQ(s.whole, std::string::npos);
    s = Scan(kSig);
    EXPECT_EQ(s.nearest, 0u);
    EXPECT_EQ(s.whole, std::string::npos);
}

TEST(EndRecordScan, LooksNoFurtherThanTheLongestComment) {
    const std::string record = kSig + std::string(18, '\0');
    const std::string within = record + std::string(kLongestComment, 'c');
    EXPECT_EQ(Scan(within).whole, 0u);
    // One byte more and the record cannot be the end record of these bytes.
    const EndRecordScan beyond = Scan(record + std::string(kLongestComment + 1, 'c'));
    EXPECT_EQ(beyond.nearest, std::string::npos);
    EXPECT_EQ(beyond.whole, std::string::npos);
    EXPECT_EQ(Scan("").nearest, std::string::npos);
    EXPECT_EQ(Scan("PK\x05").whole, std::string::npos);
}

}  // namespace
}  // namespace fennic
