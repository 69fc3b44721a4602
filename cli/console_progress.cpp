#include "cli/console_progress.h"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "app/text_convert.h"
#include "cli/stop_signals.h"
#include "transfer/window_thread.h"

namespace fennic::cli {
namespace {

std::string ReadLine(bool echo) {
    termios old = {};
    const bool tty = ::tcgetattr(0, &old) == 0;
    if (tty && !echo) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(0, TCSANOW, &quiet);
    }
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (tty && !echo) {
        ::tcsetattr(0, TCSANOW, &old);
        std::fputc('\n', stderr);
    }
    return line;
}

class CConsoleProgressView : public CLoopProgressView {
public:
    CConsoleProgressView(IFrontEnd& fe, std::FILE* err, bool show)
        : m_frontEnd(fe), m_err(err), m_show(show) {
        Loop().SetIdleHandler(
            [this] {
                // Ctrl-C, SIGTERM and SIGHUP are recorded by the command line's handler.
                if (PendingStopSignal() != 0) Cancel();
            },
            std::chrono::milliseconds(100));
    }
    ~CConsoleProgressView() override { EndLine(); }

    void SetText(int controlId, const std::string& text) override {
        switch (controlId) {
            case IDC_STATUS:
                m_status = text;
                break;
            case IDC_FILESTATUS:
                m_file = text;
                break;
            case IDC_TIMELEFT:
                m_timeLeft = text;
                break;
            case IDC_TRANSFER_RATE:
                m_rate = text;
                break;
            default:
                return;
        }
        Draw();
    }
    void SetCaption(const std::string& text) override {
        m_caption = text;
        Draw();
    }
    void SetProgressRange(uint16_t) override {}
    void SetProgressPos(int) override {}
    void StartAnimation() override {}
    void StopAnimation() override {}
    void EnableCancel(bool) override {}
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        EndLine();
        return m_frontEnd.MessageBox(text, caption, style);
    }
    bool PromptProxyLogin(std::string& user, std::string& password) override {
        if (::isatty(0) != 1) return false;
        EndLine();
        std::fprintf(m_err, "The proxy asks for a user name and password.\nUser name: ");
        std::fflush(m_err);
        user = ReadLine(true);
        std::fprintf(m_err, "Password: ");
        std::fflush(m_err);
        password = ReadLine(false);
        return !user.empty();
    }

private:
    void Draw() {
        if (!m_show) return;
        std::string line = m_caption.empty() ? m_file : m_caption;
        for (const std::string* part : {&m_status, &m_timeLeft, &m_rate}) {
            if (!part->empty()) line += (line.empty() ? "" : "  ") + *part;
        }
        // \r and erase-to-end keep the one line in place.
        std::fprintf(m_err, "\r%s\x1b[K", TerminalText(line).c_str());
        std::fflush(m_err);
        m_drawn = true;
    }
    void EndLine() {
        if (!m_drawn) return;
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_drawn = false;
    }

    IFrontEnd& m_frontEnd;
    std::FILE* m_err;
    bool m_show;
    bool m_drawn = false;
    std::string m_caption, m_status, m_file, m_timeLeft, m_rate;
};

}  // namespace

CConsoleProgressHost::CConsoleProgressHost(IFrontEnd& frontEnd)
    : CConsoleProgressHost(frontEnd, stderr, ::isatty(2) == 1) {}

CConsoleProgressHost::CConsoleProgressHost(IFrontEnd& frontEnd, std::FILE* err, bool show)
    : m_frontEnd(frontEnd), m_err(err), m_show(show) {}

int CConsoleProgressHost::RunModal(IProgressDialog& dlg) {
    CConsoleProgressView view(m_frontEnd, m_err, m_show);
    return view.RunModal(dlg);
}

}  // namespace fennic::cli
