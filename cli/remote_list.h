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
#include "core/error.h"
#include "remote/classic/remote_host.h"
#include "remote/remote_session.h"

namespace fennic::cli {

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
    // Whether the listing reached the output whole (a failure has been said).
    bool Written() const { return m_written; }
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
    bool m_written = true;
    std::vector<EntryRow> m_rows;
};

// An argument that names a remote archive rather than a local path ("scheme://...").
bool IsUrl(const std::string& arg);

// `fennic list` when its argument is a URL: true with the exit status in `status`; false to
// leave the arguments to the local listing.
bool RouteRemoteList(const Args& args, int& status);

// Indexes of the rows whose first cell equals `name`: as shown, without the "(*) " of an
// encrypted entry, or with '/' for '\'.
std::vector<int> FindRows(const std::vector<EntryRow>& rows, const std::string& name);

// Takes a credentials switch (--url-credentials, --settings-credentials) into `choice`: taken
// tells whether arg was one; false (with a message) when it contradicts an earlier one.
bool TakeCredentialChoice(const std::string& arg, CredentialChoice& choice, bool& taken);

// How an entry is named: by its name (FindRows) or by its place in the list.
struct EntryChoice {
    bool byIndex = false;
    std::string name;
    long long index = -1;
    bool indexOffered = true;  // the command has --index to choose among several
};
// The one entry `choice` names in `rows` of `archive`, or an error with its message (no such
// name, a name that names several, an index out of range).
Result<size_t> FindEntry(const std::vector<EntryRow>& rows, const EntryChoice& choice,
                         const std::string& archive);
// The first column of each entry of a directory, as the listing shows it.
std::vector<EntryRow> NameRows(const CZipDirectory& dir);

}  // namespace fennic::cli
