// The file a transfer writes into: made private and exclusively, reopened to append, and never
// opened through a link or as a FIFO.

#include "transfer/local_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/fixtures/files.h"

namespace fennic {
namespace {

class LocalFileTest : public ::testing::Test {
protected:
    test::TempDir scratch;
    const std::string dir = scratch.path();
};

TEST_F(LocalFileTest, MadePrivateThenReopenedToAppendOrTruncate) {
    const std::string path = dir + "/part.zip";
    const mode_t old = ::umask(0);
    CLocalFile file;
    const int made = file.Open(path, false);
    ::umask(old);
    ASSERT_EQ(made, 0);
    ASSERT_EQ(file.Write("abc", 3), 0);
    file.Close();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "private whatever the umask";

    // A later run of the same transfer appends, a run from 0 starts afresh.
    ASSERT_EQ(file.Open(path, false), 0);
    ASSERT_EQ(file.SeekToEnd(), 0);
    ASSERT_EQ(file.Write("def", 3), 0);
    file.Close();
    EXPECT_EQ(test::ReadFile(path), "abcdef");
    ASSERT_EQ(file.Open(path, true), 0);
    ASSERT_EQ(file.Write("x", 1), 0);
    file.CloseAndDelete();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(LocalFileTest, LinksAndFifosAreNotWrittenThrough) {
    const std::string victim = dir + "/victim";
    {
        FILE* f = std::fopen(victim.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("precious", f);
        std::fclose(f);
    }
    const std::string link = dir + "/part.zip";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    CLocalFile file;
    EXPECT_EQ(file.Open(link, true), ELOOP);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(test::ReadFile(victim), "precious");

    // A dangling link is not followed to create its target either.
    const std::string dangling = dir + "/dangling.zip";
    ASSERT_EQ(::symlink((dir + "/made-through-link").c_str(), dangling.c_str()), 0);
    EXPECT_EQ(file.Open(dangling, false), ELOOP);
    EXPECT_NE(::access((dir + "/made-through-link").c_str(), F_OK), 0);

    // A FIFO without a reader neither hangs the open nor is written.
    const std::string fifo = dir + "/fifo.zip";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(file.Open(fifo, false), 0);
    EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace fennic
