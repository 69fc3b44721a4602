#pragma once
// Helpers of the remote tests: running the real tools, the test archives, file bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace fennic::remote::test {

struct CommandResult {
    int status = -1;     // exit status, -1 when the command did not exit normally
    std::string output;  // standard output and standard error together
};

// Runs a shell command line.
CommandResult Run(const std::string& commandLine);
// Quotes one argument for the shell.
std::string Quote(const std::string& arg);

// A fresh folder removed with its content.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the fennic program with `args` (already quoted), a settings folder `home` of its own
// and no terminal; output holds stdout alone, err (when given) receives stderr. env: shell
// assignments (already quoted) for its environment, e.g. "http_proxy=...".
CommandResult RunFennic(const Scratch& home, const std::string& args, std::string* err = nullptr,
                        const std::string& env = "");

// The small set of test archives (see make_remote_archives.py) in dir; false on failure.
bool MakeArchives(const std::string& dir, bool big = false);

std::string ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Names in a folder, without "." and "..".
std::vector<std::string> ListDir(const std::string& dir);

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

}  // namespace fennic::remote::test
