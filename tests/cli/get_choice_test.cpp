// `fennic get` against unzip and nginx: the entries a choice takes, the tree they make, and
// the ranges they cost over one connection and four.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/get_support.h"

namespace fennic::test {
namespace {

std::string Describe(const std::vector<AccessRecord>& log, size_t from = 0) {
    std::string s;
    for (size_t i = from; i < log.size(); ++i)
        s += log[i].request + " | " + log[i].range + " | " + std::to_string(log[i].status) + " | " +
             std::to_string(log[i].connection_requests) + "\n";
    return s;
}

// What lies under a folder, by relative path: kind, permission bits, time, bytes or target.
struct Node {
    char kind = '?';  // 'd', 'f', 'l'
    mode_t mode = 0;
    time_t mtime = 0;
    std::string content;
};
using Tree = std::map<std::string, Node>;

void Walk(const std::string& root, const std::string& rel, Tree& tree) {
    for (const std::string& name : ListDir(rel.empty() ? root : root + "/" + rel)) {
        const std::string r = rel.empty() ? name : rel + "/" + name;
        const std::string path = root + "/" + r;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        Node n;
        n.mode = st.st_mode & 07777;
        n.mtime = st.st_mtime;
        if (S_ISDIR(st.st_mode)) {
            n.kind = 'd';
            Walk(root, r, tree);
        } else if (S_ISLNK(st.st_mode)) {
            n.kind = 'l';
            char target[4096];
            const ssize_t len = ::readlink(path.c_str(), target, sizeof target);
            n.content.assign(target, len > 0 ? static_cast<size_t>(len) : 0);
        } else {
            n.kind = S_ISREG(st.st_mode) ? 'f' : '?';
            n.content = ReadFile(path);
        }
        tree[r] = n;
    }
}

Tree Snapshot(const std::string& root) {
    Tree tree;
    Walk(root, "", tree);
    return tree;
}

// Same paths, kinds, bytes and permission bits; times of files, and of the folders that
// `timedFolder` names (folders made only as parents get the time of their making).
::testing::AssertionResult SameTree(const Tree& got, const Tree& want,
                                    bool (*timedFolder)(const std::string&)) {
    std::string faults;
    for (const auto& [path, w] : want) {
        const auto it = got.find(path);
        if (it == got.end()) {
            faults += path + ": missing\n";
            continue;
        }
        const Node& g = it->second;
        if (g.kind != w.kind) faults += path + ": kind " + g.kind + ", not " + w.kind + "\n";
        if (g.content != w.content) faults += path + ": other bytes or target\n";
        if (w.kind != 'l' && g.mode != w.mode) {
            char text[64];
            std::snprintf(text, sizeof text, ": mode %o, not %o\n", g.mode, w.mode);
            faults += path + text;
        }
        if ((w.kind == 'f' || (w.kind == 'd' && timedFolder(path))) && g.mtime != w.mtime)
            faults += path + ": time " + std::to_string(g.mtime) + ", not " +
                      std::to_string(w.mtime) + "\n";
    }
    for (const auto& entry : got) {
        if (!want.count(entry.first)) faults += entry.first + ": not expected\n";
    }
    if (faults.empty() && !want.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (want.empty() ? "nothing to compare\n" : faults);
}

// ---------------------------------------------------------------- the entries chosen

bool AllFolders(const std::string&) {
    return true;
}
bool SubFolders(const std::string& path) {
    return path.compare(0, 8, "tree/sub") == 0;
}
bool NoFolder(const std::string&) {
    return false;
}

TEST_F(GetTest, SubtreeGlobAndEverythingMatchUnzipOverOneConnectionAndFour) {
    const struct {
        const char* ours;
        const char* unzips;
        bool (*timedFolder)(const std::string&);
    } choices[] = {
        {"tree/sub", "'tree/sub/*'", SubFolders},
        {"'*.txt'", "'*.txt'", NoFolder},
        {"", "", AllFolders},
    };
    NginxServer nginx(Archives().path());
    int run = 0;
    for (const auto& c : choices) {
        const std::string reference = home / ("unzip-" + std::to_string(run));
        const CommandResult u = RunCommand("unzip -q " + Quote(Archive("tree.zip")) + " " +
                                           c.unzips + " -d " + Quote(reference));
        ASSERT_EQ(u.status, 0) << u.output;
        const Tree want = Snapshot(reference);
        for (const char* connections : {"1", "4"}) {
            SCOPED_TRACE(std::string("'") + c.ours + "' over " + connections);
            const std::string out = home / ("get-" + std::to_string(run++));
            std::string err;
            const CommandResult r =
                Get(nginx.Url("/tree.zip"),
                    std::string("--connections ") + connections + " " + c.ours, out, &err);
            EXPECT_EQ(r.status, 0) << err;
            EXPECT_EQ(err, "");
            EXPECT_TRUE(SameTree(Snapshot(out), want, c.timedFolder));
        }
    }
    // A pattern that names nothing is an error of its own.
    std::string err;
    EXPECT_EQ(Get(nginx.Url("/tree.zip"), "tree/sub 'nothing*'", home / "none", &err).status, 1);
    EXPECT_TRUE(Has(err, "fennic: no entry matches 'nothing*'\n")) << err;
}

// ---------------------------------------------------------------- requests

// The local header offsets of an archive's entries, by name.
std::map<std::string, uint64_t> Offsets(const std::string& archive) {
    std::map<std::string, uint64_t> at;
    for (const auto& e : Zipinfo(archive)) at[e.name] = e.offset;
    return at;
}

std::string Range(uint64_t first, uint64_t end) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(end - 1);
}

TEST_F(GetTest, NeighboursShareOneRangeAndWhatTheTailHoldsNeedsNone) {
    const std::string archive = Archive("adjacent.zip");
    auto at = Offsets(archive);
    ASSERT_EQ(at.size(), 14u);
    const uint64_t tailStart = ReadFile(archive).size() - kTail;
    // The layout the cases rely on: small neighbours and far.txt before the tail, pad.bin
    // across its start, tail.txt inside it.
    ASSERT_GT(at["far.txt"] - at["s/02.txt"], 64u * 1024);
    ASSERT_LT(at["pad.bin"], tailStart);
    ASSERT_GT(at["tail.txt"], tailStart);

    const struct {
        const char* what;
        Strings ranges;  // after the tail's
    } cases[] = {
        // Neighbours, then entries closer than the merge gap: one range each time.
        {"s/03.txt s/04.txt s/05.txt", {Range(at["s/03.txt"], at["s/06.txt"])}},
        {"s/01.txt s/04.txt", {Range(at["s/01.txt"], at["s/05.txt"])}},
        // 100 KB apart: two ranges.
        {"s/01.txt far.txt",
         {Range(at["s/01.txt"], at["s/02.txt"]), Range(at["far.txt"], at["pad.bin"])}},
        {"tail.txt", {}},
        // Only the part before the tail.
        {"pad.bin", {Range(at["pad.bin"], tailStart)}},
    };
    NginxServer nginx(Archives().path());
    size_t logged = 0;
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = home / ("out-" + std::to_string(run++));
        std::string err;
        EXPECT_EQ(Get(nginx.Url("/adjacent.zip"), c.what, out, &err).status, 0) << err;
        std::istringstream names(c.what);
        for (std::string name; names >> name;)
            EXPECT_TRUE(ReadFile(out + "/" + name) == Unzipped(archive, name)) << name;
        const auto log = nginx.WaitForAccessLog(logged + 1 + c.ranges.size());
        ASSERT_EQ(log.size(), logged + 1 + c.ranges.size()) << Describe(log, logged);
        EXPECT_EQ(log[logged].range, "bytes=-65633");
        Strings ranges;
        for (size_t i = logged + 1; i < log.size(); ++i) ranges.push_back(log[i].range);
        std::sort(ranges.begin(), ranges.end());
        Strings want = c.ranges;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(ranges, want) << Describe(log, logged);
        logged = log.size();
    }
    EXPECT_EQ(nginx.WaitForAccessLog(logged + 1, 300).size(), logged) << "nothing more";
}

TEST_F(GetTest, FourConnectionsShareTheWorkAndNoByteIsFetchedTwice) {
    const std::string archive = Archive("many.zip");
    const std::string body = ReadFile(archive);
    const uint64_t tailStart = body.size() - kTail;
    const std::string reference = home / "unzip";
    ASSERT_EQ(RunCommand("unzip -q " + Quote(archive) + " -d " + Quote(reference)).status, 0);
    const Tree want = Snapshot(reference);

    NginxServer nginx(Archives().path());
    std::string err;
    ASSERT_EQ(Get(nginx.Url("/many.zip"), "--connections 4", home / "out", &err).status, 0) << err;
    EXPECT_TRUE(SameTree(Snapshot(home / "out"), want, NoFolder));
    const auto log = nginx.WaitForAccessLog(5);
    ASSERT_EQ(log.size(), 5u) << Describe(log);
    EXPECT_EQ(log[0].range, "bytes=-65633");
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(log[i].status, 206) << Describe(log);
        unsigned long long first = 0, last = 0;
        ASSERT_EQ(std::sscanf(log[i].range.c_str(), "bytes=%llu-%llu", &first, &last), 2);
        spans.emplace_back(first, last + 1);
    }
    // The ranges tile everything before the tail: no gap, no overlap.
    std::sort(spans.begin(), spans.end());
    uint64_t next = 0;
    for (const auto& [start, end] : spans) {
        EXPECT_EQ(start, next) << Describe(log);
        next = end;
    }
    EXPECT_EQ(next, tailStart) << Describe(log);

    // Over loopback one connection may finish before the others have started, so nginx's log
    // cannot show that they run at once: here each range is held until all four are asked
    // for, which only separate connections can do.
    std::mutex mutex;
    int open = 0, most = 0;
    Gate together;
    ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
        std::string head, part;
        if (!RangeAnswer(body, req.Header("range"), head, part)) {
            peer.Respond(416, "");
            return;
        }
        const bool tail = req.Header("range")[6] == '-';
        if (!tail) {
            std::lock_guard<std::mutex> lock(mutex);
            most = std::max(most, ++open);
            if (open == 4) together.Open();
        }
        if (!tail) together.Wait(5000);
        peer.Send(head + part);
        std::lock_guard<std::mutex> lock(mutex);
        open -= !tail;
    });
    ASSERT_EQ(Get(server.Url("/many.zip"), "", home / "script", &err).status, 0) << err;
    EXPECT_TRUE(SameTree(Snapshot(home / "script"), want, NoFolder));
    EXPECT_EQ(server.Requests().size(), 5u);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(most, 4);
}

}  // namespace
}  // namespace fennic::test
