#include "cli/console_progress.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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

// "48% of 40.0 MB, 2.5 MB/s, 9 s left": one pair of numbers, so percent and bytes agree.
std::string BytesLine(const ProgressFacts& facts) {
    constexpr double kMb = 1024.0 * 1024.0;
    char text[128];
    const double done = static_cast<double>(facts.done) / kMb;
    if (facts.total == 0) {
        std::snprintf(text, sizeof text, "%.1f MB", done);
    } else {
        const uint64_t percent = std::min<uint64_t>(100, facts.done * 100 / facts.total);
        std::snprintf(text, sizeof text, "%u%% of %.1f MB", static_cast<unsigned>(percent),
                      static_cast<double>(facts.total) / kMb);
    }
    std::string line = text;
    if (facts.bytesPerMs > 0) {
        std::snprintf(text, sizeof text, ", %.1f MB/s", facts.bytesPerMs * 1000.0 / kMb);
        line += text;
        if (facts.total > facts.done) {
            const double seconds =
                static_cast<double>(facts.total - facts.done) / facts.bytesPerMs / 1000.0;
            std::snprintf(text, sizeof text, ", %.0f s left", seconds);
            line += text;
        }
    }
    return line;
}

// text cut to one row short of the terminal's width (counted in characters; an entry's name can
// be longer than any row). Unknown widths leave the text as it is.
std::string FitWidth(const std::string& text, std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return text;
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // A UTF-8 continuation byte belongs to the character before it.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++characters == size.ws_col) return text.substr(0, i);
    }
    return text;
}

class CConsoleProgressView : public CHeadlessView {
public:
    CConsoleProgressView(IFrontEnd& fe, const IProgressDialog& dlg, std::FILE* err, bool show)
        : CHeadlessView(fe), m_dlg(dlg), m_err(err), m_show(show) {
        Loop().SetIdleHandler(
            [this] {
                // Ctrl-C, SIGTERM and SIGHUP are recorded by the command line's handler.
                if (PendingStopSignal() != 0) Cancel();
            },
            std::chrono::milliseconds(100));
    }
    // A run that moved no bytes (a size query) leaves no line behind; one that did keeps its
    // last state, as other download tools do.
    ~CConsoleProgressView() override {
        if (m_drawn && m_dlg.Facts().done == 0) {
            std::fprintf(m_err, "\r\x1b[K");
            std::fflush(m_err);
            m_drawn = false;
        } else if (m_drawn) {
            Draw();  // the final bytes, which need not have moved the percent
        }
        EndLine();
    }

    void SetText(int controlId, const std::string& text) override {
        switch (controlId) {
            case IDC_STATUS:
                m_status = text;
                break;
            case IDC_FILESTATUS:
                m_file = text;
                break;
            case IDC_TIMELEFT:
            case IDC_TRANSFER_RATE:
                break;  // the line makes its own from the run's facts
            default:
                return;
        }
        Draw();
    }
    void SetCaption(const std::string&) override { Draw(); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        EndLine();
        return FrontEnd().MessageBox(text, caption, style);
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
    // The run's name, then its bytes once they flow, else the engine's status ("Connecting
    // to ..."); the window's caption and time-left texts are its own and left out.
    void Draw() {
        if (!m_show) return;
        const ProgressFacts facts = m_dlg.Facts();
        if (facts.quiet) return;
        std::string line = facts.phase.empty() ? m_file : facts.phase;
        const std::string state =
            facts.done > 0 || facts.bytesPerMs > 0 ? BytesLine(facts) : m_status;
        if (!state.empty()) line += (line.empty() ? "" : ": ") + state;
        // \r and erase-to-end keep the one line in place, as long as it does not wrap.
        std::fprintf(m_err, "\r%s\x1b[K", FitWidth(TerminalText(line), m_err).c_str());
        std::fflush(m_err);
        m_drawn = true;
    }
    void EndLine() {
        if (!m_drawn) return;
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_drawn = false;
    }

    const IProgressDialog& m_dlg;
    std::FILE* m_err;
    bool m_show;
    bool m_drawn = false;
    std::string m_status, m_file;
};

}  // namespace

CConsoleProgressHost::CConsoleProgressHost(IFrontEnd& frontEnd)
    : CConsoleProgressHost(frontEnd, stderr, ::isatty(2) == 1) {}

CConsoleProgressHost::CConsoleProgressHost(IFrontEnd& frontEnd, std::FILE* err, bool show)
    : m_frontEnd(frontEnd), m_err(err), m_show(show) {}

int CConsoleProgressHost::RunModal(IProgressDialog& dlg) {
    CConsoleProgressView view(m_frontEnd, dlg, m_err, m_show);
    return view.RunModal(dlg);
}

}  // namespace fennic::cli
