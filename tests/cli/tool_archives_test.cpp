// Archives as other tools make them: listed cell by cell as their makers meant them, locally
// and over HTTP, and one entry of each saved over HTTP and FTP and checked by three testers.

#include <gtest/gtest.h>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"
#include "tests/remote/remote_support.h"

namespace fennic::test {
namespace {

// Compares `fennic list --json` output (file LISTED) with the manifest's entries of ARCHIVE
// (names and folders as made) and with Python's reading of the archive (every number, the
// stored name bytes and the time cell); prints every difference.
const char kCompare[] = R"(import json, os, sys, time, zipfile
listed, manifest, archive = sys.argv[1:4]
want = json.load(open(manifest, encoding='utf-8'))[archive]['entries']
got = json.load(open(listed, encoding='utf-8'))['entries']
infos = zipfile.ZipFile(os.path.join(os.path.dirname(manifest), archive)).infolist()
if not len(got) == len(want) == len(infos):
    print('%d entries listed, %d made, %d read by zipfile' % (len(got), len(want), len(infos)))
for g, w, i in zip(got, want, infos):
    if g['name'] != w['name'] or g['directory'] != w['directory']:
        print('listed %r (directory %s), made %r (directory %s)' %
              (g['name'], g['directory'], w['name'], w['directory']))
    raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
    pairs = [('name_bytes', g['name_bytes'], raw.hex()), ('crc32', g['crc32'], i.CRC),
             ('compressed_size', g['compressed_size'], i.compress_size),
             ('uncompressed_size', g['uncompressed_size'], i.file_size),
             ('method', g['method'], i.compress_type),
             ('external_attributes', g['external_attributes'], i.external_attr),
             ('crc', g['crc'], '%X' % i.CRC),
             ('time', g['time'], time.strftime('%d %b %Y, %H:%M:%S', i.date_time + (0, 0, -1)))]
    for field, mine, theirs in pairs:
        if mine != theirs:
            print('%s %s: listed %r, zipfile %r' % (w['name'], field, mine, theirs))
)";

// Prints "ARCHIVE<TAB>ENTRY" for each archive with an entry to save.
const char kExtracts[] = R"(import json, sys
for name, item in sorted(json.load(open(sys.argv[1], encoding='utf-8')).items()):
    if item['extract']:
        print(name + '\t' + item['extract'])
)";

class ToolArchives : public ArchivesSuite<ToolArchives> {
public:
    static std::string MakeCommand(const std::string& dir) {
        return "/usr/bin/python3 " +
               Quote(std::string(FENNIC_CLI_TEST_DIR) + "/make_tool_archives.py") + " " +
               Quote(dir);
    }

protected:
    void SetUp() override {
        ArchivesSuite::SetUp();
        if (HasFatalFailure()) return;
        WriteFile(home / "compare.py", kCompare);
        WriteFile(home / "extracts.py", kExtracts);
    }
    CommandResult Fennic(const std::string& args, std::string* err = nullptr) {
        return RunFennic(home, args, err);
    }
    // What differs between the listing of `where` and the manifest of `archive`.
    std::string ListingFaults(const std::string& where, const std::string& archive,
                              const std::string& road = "") {
        std::string err;
        const CommandResult r = Fennic("list --json " + road + Quote(where), &err);
        if (r.status != 0) return "exit " + std::to_string(r.status) + ": " + err;
        WriteFile(home / "listed.json", r.output);
        return RunCommand("/usr/bin/python3 " + Quote(home / "compare.py") + " " +
                          Quote(home / "listed.json") + " " + Quote(Archives() / "manifest.json") +
                          " " + Quote(archive) + " 2>&1")
            .output;
    }
    std::vector<std::pair<std::string, std::string>> Extracts() {
        std::vector<std::pair<std::string, std::string>> out;
        const std::string text = RunCommand("/usr/bin/python3 " + Quote(home / "extracts.py") +
                                            " " + Quote(Archives() / "manifest.json"))
                                     .output;
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.find('\n', pos);
            const std::string line = text.substr(pos, end - pos);
            const size_t tab = line.find('\t');
            if (tab != std::string::npos)
                out.emplace_back(line.substr(0, tab), line.substr(tab + 1));
            pos = end == std::string::npos ? text.size() : end + 1;
        }
        return out;
    }
};

const char* const kArchives[] = {
    "infozip_utf8.zip", "bsdtar.zip",      "jar.zip",
    "py_cp437.zip",     "sevenz_copy.zip", "sevenz_deflate64.zip",
    "sevenz_bzip2.zip", "sevenz_lzma.zip", "sfx.zip",
};

TEST_F(ToolArchives, ListedAsTheirMakersMeantThem) {
    NginxServer nginx(Archives().path());
    LighttpdServer lighttpd(Archives().path());
    for (const char* archive : kArchives) {
        SCOPED_TRACE(archive);
        for (const char* road : {"--classic ", ""}) {
            SCOPED_TRACE(road);
            EXPECT_EQ(ListingFaults(Archives() / archive, archive, road), "");
            EXPECT_EQ(ListingFaults(nginx.Url(std::string("/") + archive), archive, road), "");
            EXPECT_EQ(ListingFaults(lighttpd.Url(std::string("/") + archive), archive, road), "");
        }
    }
    // lighttpd saw the three requests of each classic listing (the size, then two ranges) and
    // the one suffix range of each direct listing: these directories fit in the tail.
    const auto log = lighttpd.WaitForAccessLog(4 * std::size(kArchives));
    ASSERT_EQ(log.size(), 4 * std::size(kArchives));
    for (size_t i = 0; i < log.size(); ++i) {
        if (i % 4 == 3) {
            EXPECT_EQ(log[i].range.compare(0, 7, "bytes=-"), 0) << log[i].range;
            EXPECT_EQ(log[i].status, 206) << log[i].request;
            continue;
        }
        EXPECT_EQ(log[i].range == "-", i % 4 == 0) << log[i].request << " " << log[i].range;
        EXPECT_EQ(log[i].status, i % 4 == 0 ? 200 : 206) << log[i].request;
    }
}

TEST_F(ToolArchives, OneEntryOfEachSavedOverHttpAndFtp) {
    NginxServer nginx(Archives().path());
    LighttpdServer lighttpd(Archives().path());
    PyFtpServer ftp(Archives().path(), "tool", "pw");
    const std::string ftpBase = "ftp://tool:pw@127.0.0.1:" + std::to_string(ftp.port()) + "/";
    const auto extracts = Extracts();
    ASSERT_GE(extracts.size(), 6u);
    for (const auto& [archive, entry] : extracts) {
        for (const std::string& url :
             {nginx.Url("/" + archive), lighttpd.Url("/" + archive), ftpBase + archive}) {
            SCOPED_TRACE(url + " " + entry);
            const std::string saved = home / "saved.zip";
            std::string err;
            for (const char* road : {"--classic ", ""}) {
                const CommandResult r =
                    Fennic("extract --url-credentials " + std::string(road) + Quote(url) + " " +
                               Quote(entry) + " -o " + Quote(saved),
                           &err);
                ASSERT_EQ(r.status, 0) << road << err;
                EXPECT_EQ(VerifySaved(saved, Archives() / archive), "") << road;
            }
        }
    }
}

TEST_F(ToolArchives, EntriesWhoseHeadersDisagreeAreNotSaved) {
    // The central record says 3 compressed bytes, the local header 5: a copy would contradict
    // itself, so the entry is refused and nothing is written.
    TempDir root;
    const CommandResult made =
        RunCommand("/usr/bin/python3 -c " +
                   Quote("import sys, zipfile\n"
                         "p = sys.argv[1]\n"
                         "with zipfile.ZipFile(p, 'w') as z: z.writestr('five.txt', 'abcde')\n"
                         "b = bytearray(open(p, 'rb').read())\n"
                         "c = b.find(b'PK\\x01\\x02')\n"
                         "b[c + 20:c + 24] = (3).to_bytes(4, 'little')\n"
                         "open(p, 'wb').write(b)\n") +
                   " " + Quote(root / "odd.zip") + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    NginxServer nginx(root.path());
    std::string err;
    const std::string saved = home / "odd-saved.zip";
    for (const char* road : {"--classic ", ""}) {
        EXPECT_EQ(Fennic("extract " + std::string(road) + Quote(nginx.Url("/odd.zip")) +
                             " five.txt -o " + Quote(saved),
                         &err)
                      .status,
                  1);
        EXPECT_NE(err.find("disagree with the central directory"), std::string::npos) << err;
        EXPECT_FALSE(Exists(saved));
    }
}

TEST_F(ToolArchives, EntryNamesMatchWithoutTheMarkAndNeverTwoEntries) {
    TempDir root;
    const CommandResult made =
        RunCommand("cd " + Quote(root.path()) + " && echo secret text > notes.md && " +
                   "zip -q -e -P pw locked.zip notes.md && /usr/bin/python3 -c " +
                   Quote("import zipfile\n"
                         "with zipfile.ZipFile('twins.zip', 'w') as z:\n"
                         "    z.writestr('dir/x.txt', 'slash')\n"
                         "    z.writestr('dir\\\\x.txt', 'backslash')\n") +
                   " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    NginxServer nginx(root.path());
    std::string err;
    const std::string saved = home / "out.zip";
    // The list shows "(*) notes.md"; the bare name names the same entry.
    for (const char* name : {"(*) notes.md", "notes.md"}) {
        EXPECT_EQ(Fennic("extract " + Quote(nginx.Url("/locked.zip")) + " " + Quote(name) + " -o " +
                             Quote(saved),
                         &err)
                      .status,
                  0)
            << name << ": " << err;
        EXPECT_EQ(RunCommand("unzip -tq -P pw " + Quote(saved)).status, 0);
    }
    // Both entries show as dir\x.txt: no guess, the indexes are given instead.
    ::unlink(saved.c_str());
    EXPECT_EQ(
        Fennic("extract " + Quote(nginx.Url("/twins.zip")) + " 'dir\\x.txt' -o " + Quote(saved),
               &err)
            .status,
        1);
    EXPECT_NE(err.find("more than one entry (indexes 0, 1)"), std::string::npos) << err;
    EXPECT_FALSE(Exists(saved));
    EXPECT_EQ(Fennic("extract --index 1 " + Quote(nginx.Url("/twins.zip")) + " -o " + Quote(saved))
                  .status,
              0);
}

TEST_F(ToolArchives, FtpPathsAreSentDecoded) {
    TempDir root;
    ASSERT_EQ(
        RunCommand("cp " + Quote(Archives() / "bsdtar.zip") + " " + Quote(root / "my archive.zip"))
            .status,
        0);
    PyFtpServer ftp(root.path(), "tool", "pw");
    const std::string url =
        "ftp://tool:pw@127.0.0.1:" + std::to_string(ftp.port()) + "/my%20archive.zip";
    std::string err;
    EXPECT_EQ(Fennic("list --url-credentials " + Quote(url), &err).status, 0) << err;
    bool sawDecoded = false;
    for (const std::string& c : ftp.Commands()) {
        EXPECT_EQ(c.find("%20"), std::string::npos) << c;
        sawDecoded = sawDecoded || c == "SIZE /my archive.zip";
    }
    EXPECT_TRUE(sawDecoded);
}

}  // namespace
}  // namespace fennic::test
