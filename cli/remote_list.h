#pragma once
// The command line on the remote roads: `fennic list URL` and `fennic extract URL ENTRY -o FILE`.

#include <cstdio>
#include <string>
#include <vector>

#include "app/archive_view.h"
#include "app/frontend.h"
#include "cli/commands.h"
#include "cli/console_frontend.h"
#include "cli/console_progress.h"
#include "remote/remote_host.h"
#include "remote/remote_session.h"

namespace fennic::cli {

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

// The host of one command: the URL given, the listed archive, progress on stderr.
class CCliRemoteHost : public remote::IRemoteHost {
public:
    enum class Listing { kNone, kText, kJson };
    CCliRemoteHost(const std::string& url, CredentialChoice choice, Listing listing,
                   std::FILE* out);
    ~CCliRemoteHost() override;

    IFrontEnd& FrontEnd() override { return m_answering; }
    IProgressHost& ProgressHost() override { return m_progress; }
    CArchiveView& Archive() override { return m_view; }
    void FillEntryList() override;
    std::string UrlText() override { return m_url; }
    RemoteSession& Session() override { return m_session; }
    CSettings& Settings() override;
    // The command line names its destination up front; nothing is asked.
    bool PromptZipFileName(std::string& path, const std::string& proposal) override;
    void Note(const std::string& text) override;

    void SetDestination(const std::string& path) { m_dest = path; }
    // Whether the last FillEntryList() found the archive open, and its rows.
    bool Listed() const { return m_listed; }
    const std::vector<EntryRow>& Rows() const { return m_rows; }

private:
    std::string m_url;
    Listing m_listing;
    std::FILE* m_out;
    CConsoleFrontEnd m_console;
    CCredentialAnswering m_answering;
    CConsoleProgressHost m_progress;
    CArchiveView m_view;
    RemoteSession m_session;
    std::string m_dest;
    bool m_listed = false;
    std::vector<EntryRow> m_rows;
};

// An argument that names a remote archive rather than a local path ("scheme://...").
bool IsUrl(const std::string& arg);

// `fennic list` when its argument is a URL: true with the exit status in `status`; false to
// leave the arguments to the local listing.
bool RouteRemoteList(const Args& args, int& status);

// Index of the row whose first cell (or that cell with '/' for '\') equals `name`; -1 if none.
int FindRow(const std::vector<EntryRow>& rows, const std::string& name);

}  // namespace fennic::cli
