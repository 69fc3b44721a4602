// The command line's message boxes: lines on stderr, questions asked only on a terminal.

#include "cli/console_frontend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fixtures/recording_front_end.h"

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

TEST(ConsoleFrontEndTest, MessagesAreShownNotObeyed) {
    Streams s("");
    cli::CConsoleFrontEnd fe(s.in, s.err, false);
    fe.MessageBox("Error:\r\n550 \x1b]0;pwned\x07no\r\n", "cap\x1b[2J", MB_OK);
    EXPECT_EQ(s.Err(), "cap\\x1B[2J: Error:\n550 \\x1B]0;pwned\\x07no\n\n");
}

TEST(ConsoleFrontEndTest, CredentialsQuestionIsAnsweredByKindNotWording) {
    const std::string question =
        "Should i use entered port/user/pass rather than those used in Settings";
    test::RecordingFrontEnd inner;
    cli::CCredentialAnswering url(inner, cli::CredentialChoice::kUrl, true);
    cli::CCredentialAnswering settings(inner, cli::CredentialChoice::kSettings, true);
    const auto kind = IFrontEnd::Question::kUseAddressCredentials;
    EXPECT_EQ(url.Ask(kind, "any words", "any caption", MB_YESNO), IDYES);
    EXPECT_EQ(settings.Ask(kind, "", "", MB_YESNO), IDNO);
    EXPECT_TRUE(inner.boxes.empty());
    // The same words in an ordinary box are the front end's to answer.
    EXPECT_EQ(url.MessageBox(question, "Differeny settings", MB_YESNO), IDNO);
    EXPECT_EQ(inner.Texts(), std::vector<std::string>{question});
    // Asked on a terminal when no switch was given.
    cli::CCredentialAnswering ask(inner, cli::CredentialChoice::kAsk, true);
    EXPECT_EQ(ask.Ask(kind, question, "", MB_YESNO), IDNO);
    EXPECT_EQ(inner.boxes.size(), 2u);
}

}  // namespace
}  // namespace fennic
