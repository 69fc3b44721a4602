#include "cli/remote_list.h"

#include <unistd.h>

#include "app/settings.h"
#include "app/text_convert.h"
#include "cli/direct_cmd.h"
#include "cli/list_cmd.h"
#include "inet/url.h"

namespace fennic::cli {

CCliRemoteHost::CCliRemoteHost(const std::string& url, CredentialChoice choice, Listing listing,
                               std::FILE* out)
    : m_url(url),
      m_listing(listing),
      m_out(out),
      m_answering(m_console, choice, ::isatty(0) == 1),
      m_progress(m_answering) {
    LoadUserSettings();
    // Listing and extraction only read the tail file.
    m_view.SetOpenMode(ZipOpenReadOnly);
}

CCliRemoteHost::~CCliRemoteHost() {
    m_view.DeleteTailFile();
}

CSettings& CCliRemoteHost::Settings() {
    return fennic::Settings();
}

void CCliRemoteHost::FillEntryList() {
    // A failed open can leave the engine holding the file with no entries: that is no listing.
    m_listed = !m_view.Engine().IsClosed() && !m_view.LastOpenFailed();
    m_rows.clear();
    if (!m_listed) return;
    // A listing prints as it formats; only an extraction keeps the rows to find its entry.
    if (m_listing == Listing::kText) PrintEntryTsv(m_view.Engine().GetDirectory(), m_out);
    // This road reads only the last 22 bytes: an archive with a comment never gets here.
    if (m_listing == Listing::kJson) PrintEntryJson(m_view.Engine().GetDirectory(), "", m_out);
    if (m_listing == Listing::kNone) m_rows = m_view.FillEntryList();
    // Flushed before the road's own messages follow; the first failure is the one that says why.
    if (m_written) m_written = FlushOutput(m_out);
}

bool CCliRemoteHost::PromptZipFileName(std::string& path, const std::string&) {
    if (m_dest.empty()) return false;
    path = m_dest;
    return true;
}

void CCliRemoteHost::Note(const std::string& text) {
    std::fprintf(stderr, "fennic: %s\n", TerminalText(text, true).c_str());
}

bool IsUrl(const std::string& arg) {
    const size_t colon = arg.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = arg[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

namespace {}  // namespace

bool RouteRemoteList(const Args& args, int& status) {
    std::string url;
    for (const std::string& a : args) {
        if (IsUrl(a)) url = a;
    }
    if (url.empty()) return false;

    bool json = false;
    CredentialChoice choice = CredentialChoice::kAsk;
    int urls = 0;
    for (const std::string& a : args) {
        bool taken = false;
        if (!TakeCredentialChoice(a, choice, taken)) return status = 2, true;
        if (taken) continue;
        if (a == "--json") {
            json = true;
        } else if (IsUrl(a)) {
            ++urls;
        } else {
            RefuseClassicOption("list", a);
            std::fprintf(stderr,
                         "usage: fennic list --classic [--json] [--url-credentials|"
                         "--settings-credentials] URL\n");
            return status = 2, true;
        }
    }
    if (urls != 1) {
        std::fprintf(stderr, "fennic list: one archive at a time\n");
        return status = 2, true;
    }
    // The address as typed, unless told otherwise: a script must not stop at a question.
    if (choice == CredentialChoice::kAsk) choice = CredentialChoice::kUrl;
    CCliRemoteHost host(url, choice,
                        json ? CCliRemoteHost::Listing::kJson : CCliRemoteHost::Listing::kText,
                        stdout);
    bool complete = false;
    const int reached = remote::Get(host, &complete);
    status = reached && complete && host.Listed() ? 0 : 1;
    if (!host.Written()) status = 1;
    if (status != 0 && !host.Listed()) host.Note("no entry list from " + inet::WithoutSecrets(url));
    return true;
}

std::vector<int> FindRows(const std::vector<EntryRow>& rows, const std::string& name) {
    static const std::string kEncryptedMark = "(*) ";
    std::vector<int> found;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].empty()) continue;
        const std::string& shown = rows[i][0];
        std::string bare = shown.compare(0, kEncryptedMark.size(), kEncryptedMark) == 0
                               ? shown.substr(kEncryptedMark.size())
                               : shown;
        std::string slashed = bare;
        for (char& c : slashed) c = c == '\\' ? '/' : c;
        if (shown == name || bare == name || slashed == name) found.push_back(static_cast<int>(i));
    }
    return found;
}

// Parses the credentials switches out of args; false (with a message) on a usage error.
bool TakeCredentialChoice(const std::string& arg, CredentialChoice& choice, bool& taken) {
    taken = arg == "--url-credentials" || arg == "--settings-credentials";
    if (!taken) return true;
    const CredentialChoice c =
        arg == "--url-credentials" ? CredentialChoice::kUrl : CredentialChoice::kSettings;
    if (choice != CredentialChoice::kAsk && choice != c) {
        std::fprintf(stderr,
                     "fennic: --url-credentials and --settings-credentials exclude "
                     "each other\n");
        return false;
    }
    choice = c;
    return true;
}

Result<size_t> FindEntry(const std::vector<EntryRow>& rows, const EntryChoice& choice,
                         const std::string& archive) {
    Error error;
    if (choice.byIndex) {
        if (choice.index >= 0 && static_cast<unsigned long long>(choice.index) < rows.size())
            return static_cast<size_t>(choice.index);
        Fail(error, ErrorCode::kNoEntry,
             "no entry with index " + std::to_string(choice.index) + " (the archive has " +
                 std::to_string(rows.size()) + ")");
        return error;
    }
    const std::vector<int> found = FindRows(rows, choice.name);
    if (found.size() == 1) return static_cast<size_t>(found[0]);
    if (found.empty()) {
        Fail(error, ErrorCode::kNoEntry, "no entry named '" + choice.name + "' in " + archive);
    } else if (!choice.indexOffered) {
        Fail(error, ErrorCode::kNoEntry, "'" + choice.name + "' names more than one entry");
    } else {
        // Saving one of them silently could hand over the wrong file.
        std::string which;
        for (int i : found) which += (which.empty() ? "" : ", ") + std::to_string(i);
        Fail(error, ErrorCode::kNoEntry,
             "'" + choice.name + "' names more than one entry (indexes " + which +
                 "); choose one with --index");
    }
    return error;
}

std::vector<EntryRow> NameRows(const CZipDirectory& dir) {
    std::vector<EntryRow> rows;
    rows.reserve(dir.GetCount());
    for (size_t i = 0; i < dir.GetCount(); ++i) rows.push_back({FormatEntryName(dir.GetHeader(i))});
    return rows;
}

}  // namespace fennic::cli
