#include "cli/console_frontend.h"

#include <unistd.h>

#include <cctype>
#include <string>

#include "app/settings.h"
#include "app/text_convert.h"

namespace fennic::cli {

CConsoleFrontEnd::CConsoleFrontEnd() : CConsoleFrontEnd(stdin, stderr, ::isatty(0) == 1) {}

CConsoleFrontEnd::CConsoleFrontEnd(std::FILE* in, std::FILE* err, bool interactive)
    : m_in(in), m_err(err), m_interactive(interactive) {}

int CConsoleFrontEnd::MessageBox(const std::string& text, const std::string& caption,
                                 unsigned style) {
    // Texts may carry server replies and archive names: shown, never obeyed.
    const std::string line = TerminalText(caption.empty() ? text : caption + ": " + text, true);
    const bool question = (style & 0xF) == MB_YESNO;
    if (!question) {
        std::fprintf(m_err, "%s\n", line.c_str());
        return IDOK;
    }
    if (!m_interactive) {
        std::fprintf(m_err, "%s [y/n] n\n", line.c_str());
        return IDNO;
    }
    for (;;) {
        std::fprintf(m_err, "%s [y/n] ", line.c_str());
        std::fflush(m_err);
        std::string answer;
        int c;
        while ((c = std::fgetc(m_in)) != EOF && c != '\n') answer += static_cast<char>(c);
        const char first = answer.empty() ? '\0' : static_cast<char>(std::tolower(answer[0]));
        if (first == 'y') return IDYES;
        if (first == 'n' || c == EOF) return IDNO;
    }
}

CCredentialAnswering::CCredentialAnswering(IFrontEnd& inner, CredentialChoice choice,
                                           bool interactive)
    : m_inner(inner), m_choice(choice), m_interactive(interactive) {}

int CCredentialAnswering::MessageBox(const std::string& text, const std::string& caption,
                                     unsigned style) {
    return m_inner.MessageBox(text, caption, style);
}

int CCredentialAnswering::Ask(Question question, const std::string& text,
                              const std::string& caption, unsigned style) {
    if (question != Question::kUseAddressCredentials)
        return m_inner.Ask(question, text, caption, style);
    if (m_choice == CredentialChoice::kUrl) return IDYES;
    if (m_choice == CredentialChoice::kSettings) return IDNO;
    if (m_interactive) return m_inner.Ask(question, text, caption, style);
    std::fprintf(stderr, "%s: %s [y/n] y\n", caption.c_str(), text.c_str());
    return IDYES;
}

void LoadUserSettings() {
    static bool said = false;
    Settings().LoadSettings();
    if (Settings().Problem().empty() || said) return;
    said = true;
    std::fprintf(stderr, "fennic: %s\n", TerminalText(Settings().Problem()).c_str());
}

}  // namespace fennic::cli
