// The command line's message boxes: lines on stderr, questions asked only on a terminal.

#include "cli/console_frontend.h"

#include "zip_test_util.h"

namespace fennic {
namespace {

struct Streams {
    explicit Streams(const std::string& input) {
        in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
        err = open_memstream(&errText, &errSize);
    }
    ~Streams() {
        if (in) fclose(in);
        if (err) fclose(err);
        free(errText);
    }
    std::string Err() {
        fflush(err);
        return std::string(errText, errSize);
    }
    FILE* in = nullptr;
    FILE* err = nullptr;
    char* errText = nullptr;
    size_t errSize = 0;
};

TEST(ConsoleFrontEndTest, MessagesGoToStderr) {
    Streams s("y\n");
    cli::CConsoleFrontEnd fe(s.in, s.err, false);
    EXPECT_EQ(fe.MessageBox("Open failed", "", MB_OK | MB_ICONSTOP), IDOK);
    EXPECT_EQ(fe.MessageBox("2", "fennic", MB_OK), IDOK);
    // Not a terminal: answered No without reading.
    EXPECT_EQ(fe.MessageBox("Retry?", "", MB_YESNO | MB_ICONSTOP), IDNO);
    EXPECT_EQ(s.Err(), "Open failed\nfennic: 2\nRetry? [y/n] n\n");
}

TEST(ConsoleFrontEndTest, TerminalQuestionsAreAsked) {
    Streams s("maybe\nYes\nno\n");
    cli::CConsoleFrontEnd fe(s.in, s.err, true);
    EXPECT_EQ(fe.MessageBox("Retry?", "", MB_YESNO), IDYES);  // asks again after "maybe"
    EXPECT_EQ(fe.MessageBox("Retry?", "", MB_YESNO), IDNO);
    EXPECT_EQ(fe.MessageBox("Retry?", "", MB_YESNO), IDNO);  // end of input
    EXPECT_EQ(s.Err(), "Retry? [y/n] Retry? [y/n] Retry? [y/n] Retry? [y/n] ");
}

}  // namespace
}  // namespace fennic
