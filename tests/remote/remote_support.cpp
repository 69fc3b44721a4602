#include "tests/remote/remote_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fennic::remote::test {

CommandResult Run(const std::string& commandLine) {
    CommandResult r;
    FILE* p = ::popen((commandLine + " 2>&1").c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Scratch::Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/fennic-remote-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

Scratch::~Scratch() {
    Run("rm -rf " + Quote(path_));
}

bool MakeArchives(const std::string& dir, bool big) {
    const std::string script = std::string(FENNIC_REMOTE_TEST_DIR) + "/make_remote_archives.py";
    CommandResult r =
        Run("/usr/bin/python3 " + Quote(script) + (big ? " --big " : " ") + Quote(dir));
    if (r.status != 0) std::fprintf(stderr, "%s\n", r.output.c_str());
    return r.status == 0;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

CommandResult RunFennic(const Scratch& home, const std::string& args, std::string* err,
                        const std::string& env) {
    const std::string errFile = home / "stderr";
    const std::string prefix = env.empty() ? "" : env + " ";
    CommandResult r =
        Run("{ " + prefix + "XDG_CONFIG_HOME=" + Quote(home.path()) + " " + Quote(FENNIC_CLI_PATH) +
            " " + args + " </dev/null 2>" + Quote(errFile) + "; }");
    if (err) *err = ReadBytes(errFile);
    return r;
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
        CommandResult r = Run(cmd);
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
    std::istringstream in(Run("zipinfo -v " + Quote(archive)).output);
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

}  // namespace fennic::remote::test
