// `fennic list` run as a process on real archives.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/archive_view.h"
#include "tests/cli/cli_support.h"
#include "tests/fixtures/recording_front_end.h"

namespace fennic::test {
namespace {

class ListCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        const CommandResult r = RunCommand(
            std::string(FENNIC_PYTHON) + " " FENNIC_SOURCE_DIR "/tests/fixtures/make_archives.py " +
            Quote(m_dir.path()));
        ASSERT_EQ(r.status, 0) << r.output;
    }
    // `fennic list` with args; err receives its stderr.
    CommandResult List(const std::string& args) { return RunFennic(m_dir, "list " + args, &err); }
    TempDir m_dir;
    std::string err;
};

TEST_F(ListCommandTest, TextMatchesTheEntryList) {
    for (const char* name : {"infozip.zip", "py_utf8.zip", "py_empty.zip"}) {
        SCOPED_TRACE(name);
        const auto r = List(m_dir / name);
        ASSERT_EQ(r.status, 0) << err;
        CArchiveView view;
        RecordingFrontEnd fe;
        view.SetArchivePath(m_dir / name, false);
        ASSERT_TRUE(view.OpenArchive(fe));
        std::string expected = "File Name\tDir\tSize\tTime\tAttr\tRatio\tCRC\tComment\n";
        for (const EntryRow& row : view.FillEntryList()) {
            for (size_t i = 0; i < row.size(); ++i) expected += (i ? "\t" : "") + row[i];
            expected += "\n";
        }
        EXPECT_EQ(r.output, expected);
    }
}

TEST_F(ListCommandTest, JsonHoldsTheRawFields) {
    const auto r = List("--json " + m_dir / "py_utf8.zip");
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.output.rfind("{\"version\": 2, \"comment\": \"\", \"comment_bytes\": \"\", ", 0),
              0u)
        << r.output;
    // Let Python parse it and compare with zipfile's reading.
    WriteFile(m_dir / "out.json", r.output);
    const CommandResult check =
        RunCommand(std::string(FENNIC_PYTHON) +
                   " -c \"import json, sys, zipfile\n"
                   "j = json.load(open(sys.argv[1]))['entries']\n"
                   "z = zipfile.ZipFile(sys.argv[2]).infolist()\n"
                   "assert len(j) == len(z), (len(j), len(z))\n"
                   "for e, i in zip(j, z):\n"
                   "  raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')\n"
                   "  assert bytes.fromhex(e['name_bytes']) == raw, e\n"
                   "  assert e['name'] == i.filename.replace('/', chr(92)), e\n"
                   "  assert e['crc32'] == i.CRC and e['flags'] == i.flag_bits, e\n"
                   "  assert e['compressed_size'] == i.compress_size, e\n"
                   "  assert e['uncompressed_size'] == i.file_size, e\n"
                   "  assert e['method'] == i.compress_type, e\n"
                   "  assert e['external_attributes'] == i.external_attr, e\n"
                   "  assert e['local_header_offset'] == i.header_offset, e\n"
                   "  assert e['comment'].encode() == i.comment, e\n"
                   "  assert bytes.fromhex(e['comment_bytes']) == i.comment, e\n"
                   "  assert e['utf8'] == bool(i.flag_bits & 0x800), e\n"
                   "print('ok', len(j))\" " +
                   m_dir / "out.json" + " " + m_dir / "py_utf8.zip");
    EXPECT_EQ(check.output, "ok 4\n");
    EXPECT_EQ(List("--json " + m_dir / "py_empty.zip").output,
              "{\"version\": 2, \"comment\": \"\", \"comment_bytes\": \"\", \"entries\": []}\n");
}

// Comments in bytes no text form keeps: the JSON gives their stored bytes beside the text.
TEST_F(ListCommandTest, JsonKeepsTheCommentsBytes) {
    const std::string archive = m_dir / "comments.zip";
    const CommandResult made = RunCommand(
        std::string(FENNIC_PYTHON) +
        " -c \"import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "  i = zipfile.ZipInfo('a.txt'); i.comment = bytes([0xff, 0x41]); z.writestr(i, 'x')\n"
        "  z.comment = bytes([0x81, 0x0a, 0x42])\n\" " +
        Quote(archive));
    ASSERT_EQ(made.status, 0) << made.output;
    const auto r = List("--json " + Quote(archive));
    ASSERT_EQ(r.status, 0) << err;
    // 0x81 is u-umlaut in code page 437; the line break is escaped, never raw.
    EXPECT_NE(r.output.find("\"comment\": \"\u00fc\\nB\", \"comment_bytes\": \"810a42\""),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\"comment_bytes\": \"ff41\"}"), std::string::npos) << r.output;
}

TEST_F(ListCommandTest, ErrorsUseTheWindowsWordsOnItsRoadAndNameTheCauseOnTheOther) {
    WriteFile(m_dir / "junk", std::string(64, 'j'));
    auto r = List("--classic " + m_dir / "junk");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_NE(err.find(kDirNotFoundQuestion), std::string::npos) << err;
    EXPECT_NE(err.find("Open failed"), std::string::npos) << err;
    r = List(m_dir / "junk");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(err.find("not a ZIP archive"), std::string::npos);

    r = List("--classic " + m_dir / "missing.zip");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(err.find("Open failed"), std::string::npos);
    EXPECT_EQ(err.find("Retry?"), std::string::npos);
    r = List(m_dir / "missing.zip");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(err.find("No such file or directory"), std::string::npos);
    r = List(m_dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(err.find("Is a directory"), std::string::npos);

    EXPECT_EQ(List("").status, 2);
    EXPECT_EQ(List("--bogus x").status, 2);
}

// A listing changes no setting, so it writes none: no file appears, an existing one keeps its
// inode and time, and one that is not safe to read is named once and the listing goes on.
TEST_F(ListCommandTest, WritesNoSettingsAndSaysWhichItRefused) {
    const std::string folder = m_dir / "FennicExpl";
    const std::string ini = folder + "/FennicExpl.ini";
    auto r = List(m_dir / "infozip.zip");
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_FALSE(Exists(folder));

    WriteFile(ini, "[Settings]\nHttpPort=81\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0600), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);
    for (const char* format : {"", "--json ", "--table "}) {
        r = List(format + (m_dir / "infozip.zip"));
        ASSERT_EQ(r.status, 0) << err;
    }
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadFile(ini), "[Settings]\nHttpPort=81\n");

    const std::string target = m_dir / "elsewhere.conf";
    WriteFile(target, "kept\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::unlink(ini.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), ini.c_str()), 0);
    r = List(m_dir / "infozip.zip");
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_NE(r.output.find("File Name"), std::string::npos);
    EXPECT_EQ(err, "fennic: the settings file " + ini +
                       " is a symbolic link; it is neither read nor written, and the defaults "
                       "are used\n");
    EXPECT_EQ(ReadFile(target), "kept\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A large directory is listed from its own bytes: the entries cost little beside them.
TEST_F(ListCommandTest, PeakMemoryStaysNearTheDirectorysSize) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory would be measured";
#endif
    const std::string archive = m_dir / "many.zip";
    const CommandResult made =
        RunCommand(std::string(FENNIC_PYTHON) + " " FENNIC_SOURCE_DIR "/bench/make_many.py " +
                   Quote(archive) + " 300000");
    ASSERT_EQ(made.status, 0) << made.output;
    const double directoryKb = std::stod(made.output) / 1024;
    // The child's peak resident size, as the kernel counted it.
    const CommandResult peak = RunCommand(
        std::string(FENNIC_PYTHON) +
        " -c \"import resource, subprocess, sys\n"
        "r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
        "print(r.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\" " +
        Quote(FENNIC_CLI_PATH) + " list " + Quote(archive));
    int status = -1;
    long kb = 0;
    ASSERT_EQ(std::sscanf(peak.output.c_str(), "%d %ld", &status, &kb), 2) << peak.output;
    EXPECT_EQ(status, 0);
    EXPECT_LE(kb, 2.25 * directoryKb + 8 * 1024) << "directory " << directoryKb << " KB";
}

}  // namespace
}  // namespace fennic::test
