#pragma once
// A host for the roads in tests: records every message, answers questions Yes (or as told),
// runs transfers without a display, keeps the rows of each listing.

#include <string>
#include <vector>

#include "app/archive_view.h"
#include "app/settings.h"
#include "remote/classic/remote_host.h"
#include "remote/remote_session.h"
#include "tests/fixtures/recording_front_end.h"
#include "transfer/window_thread.h"

namespace fennic::test {

class TestHost : public remote::IRemoteHost {
public:
    explicit TestHost(std::string address = {}) : url(std::move(address)) {
        frontEnd.unanswered = IDYES;  // the port question: the address's own values
    }
    ~TestHost() override { view.DeleteTailFile(); }

    IFrontEnd& FrontEnd() override { return frontEnd; }
    IProgressHost& ProgressHost() override { return progress; }
    CArchiveView& Archive() override { return view; }
    void FillEntryList() override {
        ++fills;
        openAtFill = !view.Engine().IsClosed();
        rows = view.FillEntryList();
    }
    std::string UrlText() override { return url; }
    RemoteSession& Session() override { return session; }
    CSettings& Settings() override { return fennic::Settings(); }
    bool PromptZipFileName(std::string& path, const std::string& proposal) override {
        proposals.push_back(proposal);
        if (savePath.empty()) return false;
        path = savePath;
        return true;
    }
    void Note(const std::string& text) override { notes.push_back(text); }

    std::string url;
    RecordingFrontEnd frontEnd;
    CHeadlessProgressHost progress{frontEnd};
    CArchiveView view;
    RemoteSession session;
    std::vector<EntryRow> rows;
    int fills = 0;
    bool openAtFill = false;
    std::string savePath;
    std::vector<std::string> proposals;
    std::vector<std::string> notes;
};

// Settings as a new user has them, without a proxy.
inline void DefaultSettings() {
    CSettings& s = fennic::Settings();
    s.m_strHttpPort = "80";
    s.m_strHttpUsr.clear();
    s.m_strHttpPwd.clear();
    s.m_strProxyStr.clear();
    s.m_strProxyPort.clear();
    s.m_strProxyUsr.clear();
    s.m_strProxyPwd.clear();
    s.m_nUseProxy = 0;
}

}  // namespace fennic::test
