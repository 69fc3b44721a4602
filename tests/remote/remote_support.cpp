#include "tests/remote/remote_support.h"

#include <cstdlib>
#include <sstream>

namespace fennic::test {

std::string RemoteArchivesCommand(const std::string& dir, bool big) {
    return "/usr/bin/python3 " +
           Quote(std::string(FENNIC_REMOTE_TEST_DIR) + "/make_remote_archives.py") +
           (big ? " --big " : " ") + Quote(dir);
}

std::string VerifySaved(const std::string& saved, const std::string& original) {
    const std::string checker = std::string(FENNIC_REMOTE_TEST_DIR) + "/check_saved.py";
    const std::pair<const char*, std::string> checks[] = {
        {"unzip -t", "unzip -tq " + Quote(saved)},
        {"7z t", "7z t -bd " + Quote(saved)},
        {"python3 -m zipfile -t", "/usr/bin/python3 -m zipfile -t " + Quote(saved)},
        {"byte comparison",
         "/usr/bin/python3 " + Quote(checker) + " " + Quote(saved) + " " + Quote(original)},
    };
    std::string faults;
    for (const auto& [name, cmd] : checks) {
        CommandResult r = RunCommand(cmd);
        if (r.status != 0) faults += std::string(name) + " failed:\n" + r.output + "\n";
    }
    return faults;
}

namespace {
uint64_t NumberAfterColon(const std::string& line, int base = 10) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? 0 : std::strtoull(line.c_str() + colon + 1, nullptr, base);
}
}  // namespace

std::vector<ZipinfoEntry> Zipinfo(const std::string& archive) {
    std::vector<ZipinfoEntry> entries;
    std::istringstream in(RunCommand("zipinfo -v " + Quote(archive)).output);
    std::string line;
    bool wantName = false;
    while (std::getline(in, line)) {
        if (line.rfind("Central directory entry #", 0) == 0) {
            entries.emplace_back();
            wantName = true;
            continue;
        }
        if (entries.empty()) continue;
        ZipinfoEntry& e = entries.back();
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[0] == '-') continue;
        const std::string text = line.substr(first);
        if (wantName) {
            // The name follows the dashes under the heading, indented by two blanks, after a
            // note about bytes in front of the entry when there are any.
            if (text.rfind("There are an extra", 0) == 0) continue;
            e.name = line.substr(2);
            wantName = false;
        } else if (text.rfind("offset of local header from start of archive:", 0) == 0) {
            e.offset = NumberAfterColon(text);
        } else if (text.rfind("32-bit CRC value (hex):", 0) == 0) {
            e.crc = static_cast<uint32_t>(NumberAfterColon(text, 16));
        } else if (text.rfind("compressed size:", 0) == 0) {
            e.compressed = NumberAfterColon(text);
        } else if (text.rfind("uncompressed size:", 0) == 0) {
            e.uncompressed = NumberAfterColon(text);
        }
    }
    return entries;
}

}  // namespace fennic::test
