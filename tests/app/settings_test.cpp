#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/fixtures/files.h"

namespace fennic {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;
using test::WriteFile;

// Each test gets its own empty profile under a fresh XDG_CONFIG_HOME.
class SettingsFile : public ::testing::Test {
protected:
    test::ConfigHome home_;
    const fs::path root_ = home_.path();
    const fs::path ini_ = root_ / "FennicExpl" / "FennicExpl.ini";
};

void ExpectDefaults(const CSettings& s) {
    EXPECT_EQ(s.m_strHttpPort, "80");
    EXPECT_EQ(s.m_strHttpUsr, "");
    EXPECT_EQ(s.m_strHttpPwd, "");
    EXPECT_EQ(s.m_strProxyStr, "192.168.0.1");
    EXPECT_EQ(s.m_strProxyPort, "8080");
    EXPECT_EQ(s.m_strProxyUsr, "");
    EXPECT_EQ(s.m_strProxyPwd, "");
    EXPECT_EQ(s.m_nUseProxy, 0);
}

TEST_F(SettingsFile, FreshProfileGivesDefaultsAndWritesNoValue) {
    CSettings s;
    EXPECT_EQ(s.m_strHttpPort, "");  // empty until loaded
    s.LoadSettings();
    ExpectDefaults(s);
    EXPECT_EQ(CSettings::ProfilePath(), ini_.string());
    EXPECT_TRUE(s.Problem().empty());
    // Reading writes nothing: no file, not even its folder.
    EXPECT_FALSE(fs::exists(ini_.parent_path()));
}

TEST_F(SettingsFile, HomeConfigWhenXdgUnset) {
    unsetenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", root_.c_str(), 1);
    EXPECT_EQ(CSettings::ProfilePath(), (root_ / ".config/FennicExpl/FennicExpl.ini").string());
    CSettings().WriteString("HttpUsr", "bob");
    EXPECT_EQ(CSettings::ReadString("Settings", "HttpUsr", ""), "bob");
    if (oldHome) setenv("HOME", saved.c_str(), 1);
}

TEST_F(SettingsFile, WriteThroughKeepsOtherValuesAndSections) {
    WriteFile(ini_,
              "; kept comment\n[Other]\nHttpUsr=not-this-one\n\n[settings]\nhttpport=21\n"
              "Custom=x y \n[Options]\n");
    CSettings s;
    s.WriteString("HttpPort", "2121");
    s.WriteString("HttpPwd", " p=w d ");
    s.WriteInt("UseProxy", 1);
    s.LoadSettings();
    EXPECT_EQ(s.m_strHttpPort, "2121");
    EXPECT_EQ(s.m_strHttpPwd, " p=w d ");  // spaces and '=' survive
    EXPECT_EQ(s.m_strHttpUsr, "");         // the other section's value is not ours
    EXPECT_EQ(s.m_nUseProxy, 1);
    const std::string text = ReadFile(ini_);
    EXPECT_NE(text.find("; kept comment\n[Other]\nHttpUsr=not-this-one\n"), std::string::npos);
    EXPECT_NE(text.find("Custom=x y \n"), std::string::npos);
    EXPECT_NE(text.find("[Options]"), std::string::npos);
    EXPECT_EQ(text.find("httpport=21"), std::string::npos);  // replaced, not duplicated
    // A second writer sees the first one's value straight away.
    CSettings other;
    other.LoadSettings();
    EXPECT_EQ(other.m_strHttpPort, "2121");
}

TEST_F(SettingsFile, LineBreaksCannotInjectValues) {
    CSettings s;
    s.WriteString("HttpUsr", "eve\nUseProxy=1\r\n[Options]");
    s.LoadSettings();
    EXPECT_EQ(s.m_nUseProxy, 0);
    EXPECT_EQ(s.m_strHttpUsr, "eveUseProxy=1[Options]");
}

TEST_F(SettingsFile, UnreadableFileGivesDefaultsAndIsNotReplaced) {
    fs::create_directories(ini_);  // a folder where the file should be
    CSettings s;
    s.m_strHttpUsr = "kept in memory";
    s.WriteString("HttpUsr", "x");
    EXPECT_FALSE(CSettings::WriteValue("Settings", "HttpUsr", "x"));
    s.LoadSettings();
    ExpectDefaults(s);
    EXPECT_TRUE(fs::is_directory(ini_));
}

TEST_F(SettingsFile, CorruptFileGivesDefaultsWhereValuesAreMissingOrBad) {
    const char head[] = "\x00\xff\xfe[Settings\nHttpPort\n=oops\n";
    std::string junk(head, sizeof head - 1);
    junk += "[Settings]\nUseProxy=abc\nProxyPort=\n\x01\x02=\x03\nHttpUsr";
    WriteFile(ini_, junk);
    CSettings s;
    s.LoadSettings();
    EXPECT_EQ(s.m_nUseProxy, 0);
    EXPECT_EQ(s.m_strProxyPort, "");  // present but empty stays empty
    EXPECT_EQ(s.m_strHttpPort, "80");
    EXPECT_EQ(s.m_strHttpUsr, "");
    // Writing into it keeps working, and keeps the odd lines.
    s.WriteString("HttpUsr", "ann");
    EXPECT_EQ(CSettings::ReadString("Settings", "HttpUsr", ""), "ann");
    EXPECT_NE(ReadFile(ini_).find("\x01\x02=\x03"), std::string::npos);

    WriteFile(ini_, "[Settings]\nUseProxy=99999999999\n");
    s.LoadSettings();
    EXPECT_EQ(s.m_nUseProxy, 0);  // out of 32-bit range
    WriteFile(ini_, "[Settings]\nUseProxy= -7 \n");
    s.LoadSettings();
    EXPECT_EQ(s.m_nUseProxy, -7);
}

TEST_F(SettingsFile, ReplacesAtomicallyWithPrivateMode) {
    WriteFile(ini_, "[Settings]\nHttpUsr=old\n");
    fs::permissions(ini_, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    struct stat before {};
    ASSERT_EQ(stat(ini_.c_str(), &before), 0);
    std::ifstream oldReader(ini_);  // holds the old file open across the write
    CSettings().WriteString("HttpUsr", "new");
    struct stat after {};
    ASSERT_EQ(stat(ini_.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the old one's name
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    std::string line;
    std::getline(oldReader, line);
    std::getline(oldReader, line);
    EXPECT_EQ(line, "HttpUsr=old");  // the old file was never rewritten in place
    EXPECT_EQ(ReadFile(ini_), "[Settings]\nHttpUsr=new\n");
    int files = 0;
    for (const auto& e : fs::directory_iterator(ini_.parent_path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);  // no temporary file left beside it
}

TEST_F(SettingsFile, BindSectionAddsTheSectionOnce) {
    CSettings::BindSection("Options");
    CSettings::BindSection("Options");
    CSettings().WriteString("HttpPort", "81");
    const std::string text = ReadFile(ini_);
    EXPECT_EQ(text.find("[Options]"), text.rfind("[Options]"));
    EXPECT_NE(text.find("[Options]"), std::string::npos);
    EXPECT_EQ(CSettings::ReadString("Settings", "HttpPort", ""), "81");
}

// A settings place that is not the user's alone is neither read nor written, whatever asks.
class UntrustedSettings : public SettingsFile {
protected:
    // Reads, then tries every kind of write; the problem LoadSettings reported.
    std::string LoadAndTryToWrite() {
        CSettings s;
        s.LoadSettings();
        ExpectDefaults(s);
        EXPECT_FALSE(CSettings::WriteValue("Settings", "HttpUsr", "intruder"));
        s.WriteString("HttpPwd", "secret");
        CSettings::BindSection("Options");
        return s.Problem();
    }
    static mode_t Mode(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return st.st_mode;
    }
    const std::string kStored = "[Settings]\nHttpUsr=stored\n";
};

TEST_F(UntrustedSettings, LinkKeepsItsTargetsBytesAndMode) {
    const fs::path target = root_ / "system.conf";
    WriteFile(target, kStored);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_directories(ini_.parent_path());
    fs::create_symlink(target, ini_);
    const std::string problem = LoadAndTryToWrite();
    EXPECT_NE(problem.find("is a symbolic link"), std::string::npos) << problem;
    EXPECT_NE(problem.find("the defaults are used"), std::string::npos) << problem;
    EXPECT_EQ(ReadFile(target), kStored);
    EXPECT_EQ(Mode(target) & 0777, 0640u);
    EXPECT_TRUE(S_ISLNK(Mode(ini_)));
}

TEST_F(UntrustedSettings, FolderOrFileOthersCanWriteIsRefused) {
    WriteFile(ini_, kStored);
    fs::permissions(ini_, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(ini_.parent_path(), fs::perms::all);  // 0777
    std::string problem = LoadAndTryToWrite();
    EXPECT_NE(problem.find("others can write the settings folder"), std::string::npos) << problem;
    EXPECT_EQ(ReadFile(ini_), kStored);

    fs::permissions(ini_.parent_path(), fs::perms::owner_all);
    for (const mode_t bits : {0666u, 0620u}) {
        ::chmod(ini_.c_str(), bits);
        problem = LoadAndTryToWrite();
        EXPECT_NE(problem.find("others can write the settings file"), std::string::npos) << bits;
        EXPECT_EQ(ReadFile(ini_), kStored);
        EXPECT_EQ(Mode(ini_) & 0777, bits);
    }
    ::chmod(ini_.c_str(), 0600);
    CSettings s;
    s.LoadSettings();
    EXPECT_TRUE(s.Problem().empty()) << s.Problem();
    EXPECT_EQ(s.m_strHttpUsr, "stored");
}

TEST_F(UntrustedSettings, FifoIsRefusedWithoutWaiting) {
    fs::create_directories(ini_.parent_path());
    ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
    const std::string problem = LoadAndTryToWrite();
    EXPECT_NE(problem.find("is not a file"), std::string::npos) << problem;
    EXPECT_TRUE(S_ISFIFO(Mode(ini_)));
}

TEST_F(UntrustedSettings, AnotherUsersFileOrFolderIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    const uid_t nobody = 65534;
    WriteFile(ini_, kStored);
    ::chmod(ini_.c_str(), 0600);
    ASSERT_EQ(::chown(ini_.c_str(), nobody, nobody), 0);
    std::string problem = LoadAndTryToWrite();
    EXPECT_NE(problem.find("the settings file " + ini_.string() + " belongs to another user"),
              std::string::npos)
        << problem;
    EXPECT_EQ(ReadFile(ini_), kStored);
    struct stat st {};
    ASSERT_EQ(::stat(ini_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody);

    // A root run whose HOME is another user's (sudo keeping it): that user's folder is theirs.
    ASSERT_EQ(::chown(ini_.c_str(), 0, 0), 0);
    ASSERT_EQ(::chown(ini_.parent_path().c_str(), nobody, nobody), 0);
    problem = LoadAndTryToWrite();
    EXPECT_NE(problem.find("the settings folder"), std::string::npos) << problem;
    EXPECT_NE(problem.find("belongs to another user"), std::string::npos) << problem;
    EXPECT_EQ(ReadFile(ini_), kStored);
}

TEST(TempNames, SameSecondSameNameAndPattern) {
    const std::regex pattern("^[p-y]{7}\\.zip$");
    CSettings s;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t t0 = std::time(nullptr);
        const std::string a = s.MakeTempName();
        const std::string b = s.MakeTempName();
        if (std::time(nullptr) != t0) continue;  // crossed a second boundary: draw again
        EXPECT_EQ(a, b);
        EXPECT_TRUE(std::regex_match(a, pattern)) << a;
        return;
    }
    FAIL() << "clock kept crossing second boundaries";
}

TEST(TempNames, DifferentSecondsUsuallyDiffer) {
    CSettings s;
    const std::string a = s.MakeTempName();
    const std::time_t t0 = std::time(nullptr);
    while (std::time(nullptr) == t0) usleep(20000);
    const std::string b = s.MakeTempName();
    EXPECT_TRUE(std::regex_match(b, std::regex("^[p-y]{7}\\.zip$"))) << b;
    EXPECT_NE(a, b);
}

TEST(ProgramDir, IsTheFolderOfThisExecutable) {
    const std::string dir = CSettings::GetProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(dir) / "fennic_app_tests"));
}

TEST(TempFolder, PrivateToTheRunAndRemovedAtExit) {
    const test::TempDir scratch;
    const std::string base = scratch.path();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A fresh process: its first call makes the folder under $TMPDIR.
        close(fds[0]);
        setenv("TMPDIR", (base + "//").c_str(), 1);
        const std::string dir = GetTempPath();
        struct stat st {};
        int bad = dir.empty() || dir.back() != '/' || dir.rfind(base + "/fennic-", 0) != 0 ||
                  GetTempPath() != dir || stat(dir.c_str(), &st) != 0 ||
                  (st.st_mode & 0777) != 0700;
        std::ofstream(dir + "a.zip") << "x";
        fs::create_directory(dir + "sub");
        std::ofstream(dir + "sub/b") << "y";
        ssize_t n = write(fds[1], dir.data(), dir.size());
        close(fds[1]);
        std::exit(bad || n != static_cast<ssize_t>(dir.size()) ? 3 : 0);
    }
    close(fds[1]);
    std::string dir;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) dir.append(buf, n);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_FALSE(dir.empty());
    EXPECT_FALSE(fs::exists(dir)) << dir;  // removed with its content
    EXPECT_TRUE(fs::exists(base));         // the base folder itself stays
}

TEST(TempFolder, NoFallbackIntoTheSharedFolderWhenItCannotBeMade) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A folder in which even root cannot create anything.
        setenv("TMPDIR", "/proc", 1);
        const bool bad = !GetTempPath().empty() ||
                         TempPathProblem().rfind(
                             "cannot create a private temporary folder under /proc: ", 0) != 0;
        std::exit(bad ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace fennic
