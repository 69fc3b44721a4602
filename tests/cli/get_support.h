#pragma once
// Shared by the tests of `fennic cat` and `fennic get`: their archives (made by
// make_get_archives.py) and a server's answer to one range.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"
#include "tests/remote/remote_support.h"

namespace fennic::test {

// The length of the first request of a run: the archive's tail.
constexpr uint64_t kTail = 65633;
using Strings = std::vector<std::string>;

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A 206 answer to "bytes=A-B" or "bytes=-N" over body: its head and its part; false for any
// other range.
bool RangeAnswer(const std::string& body, const std::string& range, std::string& head,
                 std::string& part);

class GetTest : public ArchivesSuite<GetTest> {
public:
    static std::string MakeCommand(const std::string& dir);

protected:
    static std::string Original(const std::string& name) {
        return ReadFile(Archive("src/" + name));
    }
    CommandResult Fennic(const std::string& args, std::string* err) {
        return RunFennic(home, args, err);
    }
    // `fennic get` of `what` from `from` into `dir`.
    CommandResult Get(const std::string& from, const std::string& what, const std::string& dir,
                      std::string* err) {
        return Fennic("get " + Quote(from) + " " + what + " -d " + Quote(dir), err);
    }
    static std::string Unzipped(const std::string& archive, const std::string& entry) {
        return RunCommand("unzip -p " + Quote(archive) + " " + Quote(entry)).output;
    }
};

}  // namespace fennic::test
