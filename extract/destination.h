#pragma once
// The folder entries are extracted into, made so that no entry can write outside it.
//
// Every entry's path is checked by SplitEntryPath (entry_path.h) and then walked from a
// descriptor of the folder, one component at a time, with openat(O_DIRECTORY | O_NOFOLLOW);
// missing folders are made with mkdirat, files with openat(O_CREAT | O_EXCL | O_NOFOLLOW) and
// renameat, links with symlinkat, each relative to its parent's descriptor. A symbolic link
// on the way (planted by an earlier entry or already there) is refused rather than followed,
// and a link swapped in between two steps cannot redirect a write. The destination folder
// itself, named by the user, may be a link.
//
// An existing entry at the final name:
//   a folder where a file or link goes, a file or link where a folder goes: refused
//   a file, link, FIFO, socket or device where a file or link goes: the Existing policy
//     decides; replacing renames the new file over the old name, so an old link is replaced,
//     never written through
//   a folder where a folder goes: used as it is (its permission bits are the user's); the
//     entry's time is set
// Messages start with the entry's name escaped for a terminal: "NAME: refused: ...",
// "NAME: skipped: exists", "NAME: cannot create a/b: No space left on device".

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "extract/entry_path.h"
#include "fs/unique_fd.h"

namespace fennic::extract {

// What happens to an entry whose name exists: -o, -n, or the default, which asks (the
// command passes kNever, or no ask function, when it cannot ask).
enum class Existing { kAsk, kOverwrite, kNever };

// The ask function's answers, as typed: this one, not this one, this and all the rest, none
// of the rest. Any other value (EOF, -1) means no for this one.
constexpr int kAnswerYes = 'y';
constexpr int kAnswerNo = 'n';
constexpr int kAnswerAll = 'A';
constexpr int kAnswerNone = 'N';

// A file being written beside its final name (".NAME.RANDOM.part", exclusive and never through
// a link), renamed over it by Commit(). The destructor removes an uncommitted file.
class FileWriter {
public:
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Write(const uint8_t* data, size_t size, std::string& why);
    // Sets the entry's modification time, then renames the file to its name. A file that
    // replaces another is flushed to disk first, so a crash leaves the old or the new one. A
    // new name that another process took meanwhile is not replaced: refused. After a failure
    // the written file is removed. The permission bits were set when the file was made.
    bool Commit(std::string& why);

    // The path below the destination, as messages show it.
    const std::string& ShownPath() const { return m_shownPath; }

private:
    friend class Destination;
    FileWriter() = default;
    void Discard();

    fs::UniqueFd m_parent;
    fs::UniqueFd m_file;
    std::string m_partName;
    std::string m_name;
    std::string m_shownName;  // the entry's, for messages
    std::string m_shownPath;
    time_t m_modTime = 0;
    bool m_replaces = false;  // a name existed when the file was begun
};

class Destination {
public:
    // shownPath: DIR/relative path, escaped for a terminal. Returns one of the kAnswer values.
    using AskFunction = std::function<int(const std::string& shownPath)>;

    // Opens dir ("" is "."), making it and its missing parents when absent; null with `error`
    // naming dir and the system's reason.
    static std::unique_ptr<Destination> Open(const std::string& dir, Existing existing,
                                             AskFunction ask, std::string& error);

    // The relative path an entry gets ("a/b.txt"), or empty with `why`.
    std::string SafePath(const EntryTarget& e, std::string& why) const;

    // A file entry: makes its missing parent folders and returns a writer, or null with `why`
    // (refused name, a link or file on the way, a folder in its place, an existing name not
    // replaced: why ends in "skipped: exists" and *skipped is set, an I/O error). The file is
    // made with PermissionBits(e) and the umask.
    std::unique_ptr<FileWriter> BeginFile(const EntryTarget& e, std::string& why,
                                          bool* skipped = nullptr);

    // A folder entry: makes it (and its parents). Its permission bits and time are set by
    // Finish(), so that a read-only folder can still receive its files.
    bool MakeDirectory(const EntryTarget& e, std::string& why);

    // A link entry (IsSymlink(e)) whose content is `target`: made only when CheckLinkTarget
    // allows it. An existing name is treated as for a file (skipped sets *skipped). The link
    // gets the entry's time where the file system allows it.
    bool MakeSymlink(const EntryTarget& e, const std::string& target, std::string& why,
                     bool* skipped = nullptr);

    // After all entries: folder entries get their permission bits (only folders this run
    // made) and their times, deepest first, since writing into a folder changes its time.
    // False with the first problem in `why`; the others are still done.
    bool Finish(std::string& why);

    // The destination as the user named it.
    const std::string& Dir() const { return m_dir; }

private:
    struct FolderEntry {
        std::vector<std::string> components;
        std::string shownName;
        time_t modTime = 0;
        mode_t mode = 0;
        bool setMode = false;
    };
    enum class Decision { kReplace, kSkip };
    struct Placement {
        fs::UniqueFd parent;
        std::string name;  // the last component
        std::string shownName, shownPath;
        bool replaces = false;  // something is at the name and is to be replaced
    };

    Destination() = default;
    // The folder of components[0, count) below the root; missing ones are made when `make`
    // is set. Invalid with `why` when a component is a link or not a folder.
    fs::UniqueFd WalkFolders(const std::vector<std::string>& components, size_t count, bool make,
                             const std::string& shownName, std::string& why);
    // Splits the name, checks a link's target, walks to the parent folder and applies the
    // policy to what is at the name; false with `why` when refused, skipped or failing.
    bool Place(const EntryTarget& e, const std::string* linkTarget, Placement& p, std::string& why,
               bool* skipped);
    Decision DecideExisting(const std::string& shownPath);
    std::string ShownPath(const std::string& relativePath) const;

    fs::UniqueFd m_root;
    std::string m_dir;
    Existing m_existing = Existing::kNever;
    AskFunction m_ask;
    mode_t m_umask = 022;
    using FolderId = std::pair<dev_t, ino_t>;
    std::set<FolderId> m_madeFolders;  // the folders this run made
    std::vector<FolderEntry> m_folderEntries;
};

}  // namespace fennic::extract
