#pragma once
// Shared by the tests of CHttpDownloadDlg against servers on 127.0.0.1: a fresh folder and a
// recording window for each test, and a dialog set up to fetch into that folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inet/http.h"
#include "tests/fixtures/fixtures.h"
#include "tests/transfer/recording_view.h"
#include "transfer/http_download.h"

namespace fennic::test {

inline bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class HttpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(inet::InitNetwork()); }
    void Prepare(CHttpDownloadDlg& dlg, const std::string& url) {
        dlg.m_strUrl = url;
        dlg.m_strLocalFile = local;
        dlg.m_nAccessType = 1;  // no proxy from the environment
    }
    // The size run of a listing: no range, no body kept.
    void PrepareSizeOnly(CHttpDownloadDlg& dlg, const std::string& url) {
        Prepare(dlg, url);
        dlg.m_bSizeOnly = true;
        dlg.m_bSendRange = false;
    }
    TempDir dir;
    std::string local = dir / "out.bin";
    RecordingView view;
};

}  // namespace fennic::test
