#pragma once
// The front end's side of the "Get" and "Extract" roads.
//
// The main window and the command line each implement IRemoteHost and call the roads below on
// their window thread (for the command line: the main thread). The roads ask the host for what
// the main window owns (the listed archive, the last accepted address, the URL field) and for
// what only a front end can do (message boxes, the save dialog, progress windows). The roads
// run one transfer at a time, each as one modal run on ProgressHost(), and return only when
// their work is over; nothing here keeps a pointer to the host after a call returns.
//
//   window "Get" button        -> Get(host)
//   list popup "Extract"       -> OnExtractCommand(host, selectedIndex, firstColumnText)
//   command line               -> Get(host), then ExtractEntry(host, index, path)

#include <string>

#include "fs/output_file.h"

namespace fennic {

class IFrontEnd;
class IProgressHost;
class CSettings;
class CArchiveView;
struct RemoteSession;

namespace remote {

class IRemoteHost {
public:
    virtual ~IRemoteHost() = default;

    // Message boxes and questions (texts UTF-8).
    virtual IFrontEnd& FrontEnd() = 0;
    // Runs the transfer progress windows, modally on the calling thread.
    virtual IProgressHost& ProgressHost() = 0;
    // The listed archive: archive path, whether it is our own tail file, OpenArchive and
    // CloseArchive with their messages, and the engine while it is open.
    virtual CArchiveView& Archive() = 0;
    // Rebuilds the entry list from the open archive (the window's list; the command line
    // prints or keeps the rows).
    virtual void FillEntryList() = 0;
    // The URL field's current text, taken from the field at the moment of the call.
    virtual std::string UrlText() = 0;
    // The address accepted by the last successful "Get".
    virtual RemoteSession& Session() = 0;
    virtual CSettings& Settings() = 0;
    // The save dialog: proposes `proposal`, asks before overwriting an existing file; true
    // with the chosen full path, false (path untouched) when cancelled.
    virtual bool PromptZipFileName(std::string& path, const std::string& proposal) = 0;
    // Details of a failure that the windows do not show (the command line prints them).
    virtual void Note(const std::string& /*text*/) {}
};

// "Invalid Zip Archive", the message of a failed extraction.
extern const char kInvalidZipArchive[];
// Noted when a run's answers show another archive than the list was read from.
extern const char kArchiveChangedNote[];

// "Get": splits UrlText() into Session() (asking the credentials question when needed),
// deletes our previous tail file and lists the remote archive through FillEntryList().
// Returns 1 when the listing step was reached, 0 when it gave up earlier; listComplete, when
// given, tells whether the central directory arrived whole ("Files list has been downloaded").
int Get(IRemoteHost& host, bool* listComplete = nullptr);

// "Extract" on the list's popup menu. selectedIndex is the first selected row (-1: none),
// itemText that row's first-column text. Shows "Invalid Zip Archive" on failure.
void OnExtractCommand(IRemoteHost& host, int selectedIndex, const std::string& itemText);

// Saves entry `index` of the listed archive as a one-entry archive at destPath (or dest, see
// fs::OutputFile); an old file there is replaced only when the new one is complete. Returns 1
// on success, 0 on failure (the caller shows "Invalid Zip Archive").
int ExtractEntry(IRemoteHost& host, int index, const std::string& destPath);
int ExtractEntry(IRemoteHost& host, int index, const fs::OutputTarget& dest);

}  // namespace remote
}  // namespace fennic
