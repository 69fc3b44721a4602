// Runs a fuzz target once over each file named on the command line, or each file in each
// folder named there, for builds without libFuzzer.

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (::stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "no such input %s\n", argv[i]);
            ++failures;
        } else if (S_ISDIR(st.st_mode)) {
            DIR* dir = ::opendir(argv[i]);
            while (dirent* e = dir ? ::readdir(dir) : nullptr) {
                if (e->d_name[0] == '.') continue;
                failures += RunFile(std::string(argv[i]) + "/" + e->d_name);
                ++runs;
            }
            if (dir) ::closedir(dir);
        } else {
            failures += RunFile(argv[i]);
            ++runs;
        }
    }
    std::printf("%d inputs run, %d unreadable\n", runs, failures);
    return failures == 0 && runs > 0 ? 0 : 1;
}
