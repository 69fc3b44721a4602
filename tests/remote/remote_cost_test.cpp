// What listing a large remote archive and extracting one entry cost, as nginx logged it,
// against the archive's size and its central directory's size. Prints the numbers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "remote/classic/remote_host.h"
#include "tests/fixtures/fixtures.h"
#include "tests/remote/remote_support.h"
#include "tests/remote/test_host.h"
#include "zip/zip_engine.h"

namespace fennic::remote {
namespace {

TEST(RemoteCost, LargeArchiveListingAndOneEntry) {
    const test::MadeArchives made(
        [](const std::string& dir) { return test::RemoteArchivesCommand(dir, /*big=*/true); });
    ASSERT_EQ(made.made.status, 0) << made.made.output;
    const test::TempDir& dir = made.dir;
    const std::string archive = dir / "big.zip";
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    const uint64_t b = static_cast<uint64_t>(st.st_size);
    CZipEngine engine;
    engine.Open(archive);
    const uint64_t entries = static_cast<uint64_t>(engine.GetEntryCount());
    const uint64_t c = engine.GetDirectory().GetCentralDirOffset();
    const uint64_t cdSize = engine.GetDirectory().GetCentralDirSize();
    engine.Close();
    ASSERT_GE(b, 100u * 1000 * 1000);
    ASSERT_GE(entries, 5000u);

    test::DefaultSettings();
    test::NginxServer nginx(dir.path());
    test::TestHost host(nginx.Url("/big.zip"));
    bool complete = false;
    ASSERT_EQ(Get(host, &complete), 1);
    ASSERT_TRUE(complete);
    ASSERT_EQ(host.rows.size(), entries) << host.frontEnd.All();
    const auto listing = nginx.WaitForAccessLog(3);
    ASSERT_EQ(listing.size(), 3u);

    const int index = static_cast<int>(entries / 2);
    host.savePath = dir / "one.zip";
    OnExtractCommand(host, index, host.rows[index][0]);
    EXPECT_EQ(test::VerifySaved(host.savePath, archive), "");
    const auto log = nginx.WaitForAccessLog(4);
    ASSERT_EQ(log.size(), 4u);

    uint64_t listBytes = 0;
    for (size_t i = 0; i < 3; ++i) listBytes += log[i].body_bytes_sent;
    std::printf("archive: %llu bytes, %llu entries, central directory %llu bytes at %llu\n",
                static_cast<unsigned long long>(b), static_cast<unsigned long long>(entries),
                static_cast<unsigned long long>(cdSize), static_cast<unsigned long long>(c));
    for (const auto& r : log)
        std::printf("  %s  range %s  status %d  body %llu bytes  (request %d on its connection)\n",
                    r.request.c_str(), r.range.c_str(), r.status,
                    static_cast<unsigned long long>(r.body_bytes_sent), r.connection_requests);
    std::printf("listing: 3 requests, %llu body bytes (%.4f%% of the archive)\n",
                static_cast<unsigned long long>(listBytes), 100.0 * listBytes / b);
    std::printf("one entry: 1 request, %llu body bytes; saved file %llu bytes\n",
                static_cast<unsigned long long>(log[3].body_bytes_sent),
                static_cast<unsigned long long>(test::ReadFile(host.savePath).size()));

    // The ranged parts are exactly the end record and the tail.
    EXPECT_EQ(log[1].body_bytes_sent, 22u);
    EXPECT_EQ(log[2].body_bytes_sent, b - c);
    EXPECT_EQ(b - c, cdSize + 22);
    // The size query must not drag the archive's body along.
    EXPECT_EQ(log[0].request.rfind("HEAD ", 0), 0u) << log[0].request;
    EXPECT_EQ(log[0].body_bytes_sent, 0u);
}

}  // namespace
}  // namespace fennic::remote
