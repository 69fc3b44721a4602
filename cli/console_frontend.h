#pragma once
// The command line's front end: message boxes become lines on stderr; a Yes/No question is
// asked on a terminal and answered No when stdin is not one.

#include <cstdio>

#include "app/frontend.h"

namespace fennic::cli {

class CConsoleFrontEnd : public IFrontEnd {
public:
    // `in` and `err` default to stdin and stderr; `interactive` to whether `in` is a terminal.
    CConsoleFrontEnd();
    CConsoleFrontEnd(std::FILE* in, std::FILE* err, bool interactive);

    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;

private:
    std::FILE* m_in;
    std::FILE* m_err;
    bool m_interactive;
};

// How the question about the address's own port, user and password is answered.
enum class CredentialChoice {
    kAsk,       // asked on a terminal, Yes otherwise
    kUrl,       // --url-credentials: Yes
    kSettings,  // --settings-credentials: No
};

// The console front end, with the credentials question answered as chosen.
class CCredentialAnswering : public IFrontEnd {
public:
    CCredentialAnswering(IFrontEnd& inner, CredentialChoice choice, bool interactive);
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    int Ask(Question question, const std::string& text, const std::string& caption,
            unsigned style) override;

private:
    IFrontEnd& m_inner;
    CredentialChoice m_choice;
    bool m_interactive;
};

// Loads the user's settings; why a settings file is not used is said once, on stderr.
void LoadUserSettings();

}  // namespace fennic::cli
