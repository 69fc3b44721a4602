// The archives people meet today, on the direct road: comments, ZIP64 (70,000 entries, a
// 5 GiB archive with a header past 4 GiB), long names. Each is listed cell by cell against
// zipinfo, in as few requests as its directory allows, and one entry of each is saved and
// accepted by the archive testers.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"
#include "tests/remote/remote_support.h"

namespace fennic::test {
namespace {

const std::string kMaker = std::string(FENNIC_REMOTE_TEST_DIR) + "/../../bench/remote_archives.py";

struct Reach {
    const char* file;
    int requests;       // for the listing: 1 when the tail holds the directory
    const char* entry;  // saved and tested
};

const Reach kReach[] = {
    {"e200-50k.zip", 1, "dir3/f199.txt"},  {"e200-200m.zip", 1, "part100.bin"},
    {"e5000-long.zip", 2, "--index 4999"}, {"e65535.zip", 2, "--index 0"},
    {"e70000.zip", 2, "--index 69999"},    {"zip64-5g.zip", 1, "after-4GiB.txt"},
    {"comment60k.zip", 2, "c/f000.txt"},  // the comment leaves the tail no room for all of it
};

class ReachArchives : public ArchivesSuite<ReachArchives> {
public:
    static std::string MakeCommand(const std::string& dir) {
        return "/usr/bin/python3 " + Quote(kMaker) + " make " + Quote(dir);
    }

protected:
    CommandResult Fennic(const std::string& args, std::string* err = nullptr) {
        return RunFennic(home, args, err);
    }
    static uint64_t DirectorySize(const std::string& archive) {
        std::istringstream in(
            RunCommand("/usr/bin/python3 " + Quote(kMaker) + " directory " + Quote(archive))
                .output);
        uint64_t offset = 0, size = 0;
        in >> offset >> size;
        return size;
    }
};

TEST_F(ReachArchives, ListedCellByCellInOneRequestOrTwo) {
    NginxServer nginx(Archives().path());
    size_t logged = 0;
    for (const Reach& r : kReach) {
        SCOPED_TRACE(r.file);
        const std::string archive = Archives() / r.file;
        std::string err;
        const CommandResult listed =
            Fennic("list " + Quote(nginx.Url(std::string("/") + r.file)), &err);
        ASSERT_EQ(listed.status, 0) << err;
        WriteFile(home / "listing.txt", listed.output);
        EXPECT_EQ(RunCommand("/usr/bin/python3 " + Quote(kMaker) + " compare " +
                             Quote(home / "listing.txt") + " " + Quote(archive))
                      .output.compare(0, 3, "ok "),
                  0);
        // The local file reads the same through the same road.
        EXPECT_EQ(Fennic("list " + Quote(archive)).output, listed.output);

        const auto log = nginx.WaitForAccessLog(logged + r.requests);
        ASSERT_EQ(log.size(), logged + r.requests);
        uint64_t body = 0;
        for (size_t i = logged; i < log.size(); ++i) {
            EXPECT_EQ(log[i].status, 206);
            EXPECT_EQ(log[i].connection_requests, static_cast<int>(i - logged + 1))
                << "one connection";
            body += log[i].body_bytes_sent;
        }
        EXPECT_EQ(log[logged].range, "bytes=-65633");
        EXPECT_LE(body, DirectorySize(archive) + 65633);
        logged = log.size();
    }
    // Nothing else was asked for.
    EXPECT_EQ(nginx.WaitForAccessLog(logged + 1).size(), logged);
}

TEST_F(ReachArchives, JsonCarriesTheSixtyFourBitValues) {
    const CommandResult r = Fennic("list --json " + Quote(Archives() / "zip64-5g.zip"));
    ASSERT_EQ(r.status, 0);
    WriteFile(home / "big.json", r.output);
    const CommandResult check = RunCommand(
        "/usr/bin/python3 -c 'import json, sys\n"
        "e = {x[\"name\"]: x for x in json.load(open(sys.argv[1]))[\"entries\"]}\n"
        "assert e[\"zeros-4.5GiB.bin\"][\"uncompressed_size\"] == 4 * 2**30 + 512 * 2**20, e\n"
        "assert e[\"zeros-4.5GiB.bin\"][\"compressed_size\"] == 4 * 2**30 + 512 * 2**20, e\n"
        "assert e[\"after-4GiB.txt\"][\"local_header_offset\"] > 2**32, e\n"
        "print(\"ok\")' " +
        Quote(home / "big.json") + " 2>&1");
    EXPECT_EQ(check.output, "ok\n");
}

TEST_F(ReachArchives, OneEntryOfEachSavedAndAcceptedByTheTesters) {
    NginxServer nginx(Archives().path());
    for (const Reach& r : kReach) {
        SCOPED_TRACE(r.file);
        const std::string saved = home / "saved.zip";
        std::string entry = r.entry;
        if (entry.compare(0, 2, "--") != 0) entry = Quote(entry);
        std::string err;
        const CommandResult x = Fennic("extract " + Quote(nginx.Url(std::string("/") + r.file)) +
                                           " " + entry + " -o " + Quote(saved),
                                       &err);
        ASSERT_EQ(x.status, 0) << err;
        EXPECT_EQ(VerifySaved(saved, Archives() / r.file), "");
    }
}

TEST_F(ReachArchives, StreamedZip64EntryKeepsItsDescriptorAndNeedsNoOffset) {
    // Written to a pipe: 64-bit sizes in the local header's block and its descriptor, the
    // directory's offset only as the 64-bit marker, without ZIP64 end records.
    TempDir root;
    ASSERT_EQ(RunCommand("cd " + Quote(root.path()) +
                         " && printf 'streamed text\\n' | zip -q -fz - - | cat > stream.zip")
                  .status,
              0);
    NginxServer nginx(root.path());
    for (const std::string& where : {root / "stream.zip", nginx.Url("/stream.zip")}) {
        std::string err;
        const std::string saved = home / "stream-saved.zip";
        ASSERT_EQ(Fennic("extract " + Quote(where) + " --index 0 -o " + Quote(saved), &err).status,
                  0)
            << err;
        // The original's marker offset defeats a byte comparison through zipfile; the testers
        // and the content say enough.
        EXPECT_EQ(RunCommand("unzip -tq " + Quote(saved)).status, 0);
        EXPECT_EQ(RunCommand("7z t " + Quote(saved)).status, 0);
        EXPECT_EQ(RunCommand(
                      "/usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                      "sys.exit(z.testzip() is not None)' " +
                      Quote(saved))
                      .status,
                  0);
        EXPECT_EQ(RunCommand("unzip -p " + Quote(saved)).output, "streamed text\n");
        // The saved archive keeps the 24-byte descriptor after the data.
        EXPECT_NE(ReadFile(saved).find("PK\x07\x08"), std::string::npos);
    }
}

}  // namespace
}  // namespace fennic::test
