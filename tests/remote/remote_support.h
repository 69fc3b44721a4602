#pragma once
// Shared by the remote tests and the command line's: archives made by real tools once per
// suite, the testers that judge a saved archive, and zipinfo's view of an archive.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fixtures/archives_suite.h"

namespace fennic::test {

// The command line that makes the small set of test archives (see make_remote_archives.py) in
// dir; big adds one archive of >= 100 MB with >= 5000 entries.
std::string RemoteArchivesCommand(const std::string& dir, bool big = false);

// The three archive testers and the byte comparison with the original; empty when all pass,
// else what failed with the tool's output.
std::string VerifySaved(const std::string& saved, const std::string& original);

// One entry of `zipinfo -v`: the fields our list shows.
struct ZipinfoEntry {
    std::string name;  // as zipinfo prints it
    uint64_t offset = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
};
std::vector<ZipinfoEntry> Zipinfo(const std::string& archive);

}  // namespace fennic::test
