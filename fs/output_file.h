#pragma once
// Every file the program writes for the user goes through OutputFile, so that an old file is
// only ever replaced whole and only when it is a plain file:
//   missing or a regular file  a new file beside it (exclusive, never through a link) is
//                              written, flushed to disk and renamed over it; a replaced file's
//                              permission bits are kept
//   a symbolic link            followed to its final target, which is treated as above (the
//                              link itself stays); refused when the options say so
//   character device, FIFO,    opened and written directly: never renamed over or removed
//   socket
//   directory, block device    refused
// Until Commit() succeeds the old file is untouched; a failed or abandoned output removes the
// new file.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "fs/unique_fd.h"

namespace fennic::fs {

// Ten random letters and digits for a name made beside another (O_EXCL makes it unique).
std::string RandomTag();

// Which step failed.
enum class OutputStep : uint8_t {
    kNone,     // no failure
    kResolve,  // following the path and its links
    kKind,     // the target is of a kind never written: EISDIR, ENOTSUP (block device), or
               // EAGAIN (it turned into a regular file or folder while being opened)
    kCreate,   // creating the new file beside the target
    kOpen,     // opening the device, FIFO or socket
    kWrite,
    kSync,
    kRename,
    kSource,  // reading what was to be copied
};

struct OutputStatus {
    OutputStep step = OutputStep::kNone;
    int error = 0;  // errno value
    bool ok() const { return step == OutputStep::kNone; }
};

// "PATH is a directory", "cannot write PATH: No space left on device", ...
std::string DescribeOutputFailure(const OutputStatus& status, const std::string& path);

// Where output goes: a path, or a descriptor the caller holds (standard output), which is
// written directly and never closed.
struct OutputTarget {
    static OutputTarget Path(std::string path) { return {std::move(path), -1}; }
    static OutputTarget Descriptor(int fd, std::string name) { return {std::move(name), fd}; }
    std::string path;  // for a descriptor, its name in messages
    int fd = -1;
};

struct OutputOptions {
    mode_t newMode = 0666;    // a file that did not exist (the umask applies)
    bool keepOldMode = true;  // false: a replaced file gets newMode too
    bool followLinks = true;  // false: a link at the path is refused (kKind, ELOOP)
};

// Follows symbolic links to the final target, which may be missing; 0 or the errno value.
int ResolveLinks(const std::string& path, std::string& resolved);

// A process-wide last word before a new file replaces its target: when the guard returns
// false, Commit() abandons the output instead (kRename, ECANCELED) and the target stays as it
// was. The command line answers whether a stop signal has come. Set before any output starts.
void SetCommitGuard(bool (*guard)());
// The guard's answer (true without one), for other writers that rename a new file into place.
bool CommitAllowed();

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    OutputStatus Open(const OutputTarget& target, const OutputOptions& options = {});
    OutputStatus Write(const void* data, size_t size);
    // Writes what fd holds from its position to its end.
    OutputStatus CopyFrom(int fd);
    // Makes the output final: for a new file flushes, closes and renames it over the target.
    OutputStatus Commit();
    // Drops the output: a new file is removed, the target stays as it was.
    void Abandon();

    // True while writing into a new file that Commit() renames over the target.
    bool ReplacesTarget() const { return !m_partPath.empty(); }
    // The path written in the end (links followed).
    const std::string& Target() const { return m_target; }

private:
    OutputStatus OpenBeside(const OutputOptions& options, const struct stat* old);
    OutputStatus OpenDirect();

    UniqueFd m_owned;
    int m_fd = -1;  // m_owned's, or the caller's descriptor
    std::string m_target;
    std::string m_partPath;
};

// Copies the file at sourcePath to target through an OutputFile and commits it.
OutputStatus CopyFileToOutput(const std::string& sourcePath, const OutputTarget& target,
                              const OutputOptions& options = {});

}  // namespace fennic::fs
