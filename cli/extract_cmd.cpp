// `fennic extract URL ENTRY -o FILE`: lists the remote archive as "Get" does, then saves one
// entry as a one-entry archive, as "Extract" does.

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/direct_cmd.h"
#include "cli/remote_list.h"
#include "inet/url.h"

namespace fennic::cli {

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: fennic extract --classic [--url-credentials|--settings-credentials] URL "
                 "(ENTRY | --index N) -o FILE\n"
                 "FILE \"-\" is standard output.\n");
    return 2;
}

}  // namespace

int CmdExtract(const Args& given) {
    Args args = given;
    if (!TakeClassic(args)) return DirectExtract(args);
    std::string url, entry, dest;
    long index = -1;
    bool haveEntry = false, haveIndex = false;
    CredentialChoice choice = CredentialChoice::kAsk;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool taken = false;
        if (!TakeCredentialChoice(a, choice, taken)) return Usage();
        if (taken) {
        } else if (a == "-o" || a == "--output") {
            if (++i == args.size()) return Usage();
            dest = args[i];
        } else if (a == "--index") {
            if (++i == args.size()) return Usage();
            char* end = nullptr;
            index = std::strtol(args[i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || index < 0 || index > 0xFFFF) return Usage();
            haveIndex = true;
        } else if (a == "--") {
            if (++i == args.size() || haveEntry) return Usage();
            entry = args[i];
            haveEntry = true;
        } else if (url.empty() && IsUrl(a)) {
            url = a;
        } else if (!haveEntry && (a.empty() || a[0] != '-')) {
            entry = a;
            haveEntry = true;
        } else {
            RefuseClassicOption("extract", a);
            return Usage();
        }
    }
    if (url.empty() || dest.empty() || haveEntry == haveIndex) return Usage();
    // The address as typed, unless told otherwise: a script must not stop at a question.
    if (choice == CredentialChoice::kAsk) choice = CredentialChoice::kUrl;

    CCliRemoteHost host(url, choice, CCliRemoteHost::Listing::kNone, stdout);
    host.SetDestination(dest);
    bool complete = false;
    if (!remote::Get(host, &complete) || !complete || !host.Listed()) {
        host.Note("no entry list from " + inet::WithoutSecrets(url));
        return 1;
    }
    const Result<size_t> found =
        FindEntry(host.Rows(), {haveIndex, entry, index}, inet::WithoutSecrets(url));
    if (!found) {
        host.Note(found.error().message);
        return 1;
    }
    index = static_cast<long>(found.value());
    // "-" is standard output; the listing itself never goes there for this command.
    const fs::OutputTarget target = dest == "-"
                                        ? fs::OutputTarget::Descriptor(STDOUT_FILENO, "stdout")
                                        : fs::OutputTarget::Path(dest);
    if (remote::ExtractEntry(host, static_cast<int>(index), target) == 0) {
        host.FrontEnd().MessageBox(remote::kInvalidZipArchive, "", MB_OK);
        return 1;
    }
    return 0;
}

}  // namespace fennic::cli
