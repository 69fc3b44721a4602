#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "app/settings.h"
#include "tests/ui/ui_test_support.h"
#include "ui/options_dlg.h"
#include "ui/wx_util.h"

namespace fennic::test {
namespace {

using ui::COptionsDlg;

class Options : public ProfileTest {
protected:
    static wxTextCtrl* Field(wxDialog& dlg, int id) {
        return static_cast<wxTextCtrl*>(dlg.FindWindow(id));
    }
    static void ClickUseProxy(wxDialog& dlg, bool tick) {
        auto* box = static_cast<wxCheckBox*>(dlg.FindWindow(COptionsDlg::IDC_USE_PROXY));
        box->SetValue(tick);
        wxCommandEvent click(wxEVT_CHECKBOX, COptionsDlg::IDC_USE_PROXY);
        click.SetEventObject(box);
        click.SetInt(tick ? 1 : 0);
        box->ProcessWindowEvent(click);
    }
    static std::string Stored(const char* name) {
        return CSettings::ReadString("Settings", name, "<absent>");
    }
};

TEST_F(Options, OpeningWritesTheSevenStringsAsShown) {
    EXPECT_EQ(IniText(), "[Settings]\n");
    COptionsDlg dlg(nullptr);
    EXPECT_EQ(dlg.GetTitle(), "Options");
    EXPECT_EQ(Stored("HttpPort"), "80");
    EXPECT_EQ(Stored("HttpUsr"), "");
    EXPECT_EQ(Stored("HttpPwd"), "");
    EXPECT_EQ(Stored("ProxyStr"), "192.168.0.1");
    EXPECT_EQ(Stored("ProxyPort"), "8080");
    EXPECT_EQ(Stored("ProxyUsr"), "");
    EXPECT_EQ(Stored("ProxyPwd"), "");
    EXPECT_EQ(Stored("UseProxy"), "<absent>");  // the box writes only when clicked
    EXPECT_EQ(Field(dlg, COptionsDlg::IDC_PROXY)->GetValue(), "192.168.0.1");
    EXPECT_EQ(Field(dlg, COptionsDlg::IDC_PORT)->GetValue(), "80");
    // Both passwords show in clear, every field is centred.
    EXPECT_FALSE(Field(dlg, COptionsDlg::IDC_PASSWORD)->HasFlag(wxTE_PASSWORD));
    EXPECT_TRUE(Field(dlg, COptionsDlg::IDC_PROXY_PASSWORD)->HasFlag(wxTE_CENTRE));
}

TEST_F(Options, ProxyGroupFollowsTheBoxAndKeepsItsValues) {
    Settings().m_strProxyUsr = "puser";
    COptionsDlg dlg(nullptr);
    const int group[] = {COptionsDlg::IDC_PROXY, COptionsDlg::IDC_PROXY_PORT,
                         COptionsDlg::IDC_PROXY_USER, COptionsDlg::IDC_PROXY_PASSWORD};
    for (int id : group) EXPECT_FALSE(dlg.FindWindow(id)->IsEnabled()) << id;
    EXPECT_EQ(Field(dlg, COptionsDlg::IDC_PROXY_USER)->GetValue(), "puser");
    EXPECT_TRUE(dlg.FindWindow(COptionsDlg::IDC_USER)->IsEnabled());
    EXPECT_TRUE(dlg.FindWindow(COptionsDlg::IDC_USE_PROXY)->IsEnabled());

    ClickUseProxy(dlg, true);
    for (int id : group) EXPECT_TRUE(dlg.FindWindow(id)->IsEnabled()) << id;
    EXPECT_EQ(Settings().m_nUseProxy, 1);
    EXPECT_EQ(Stored("UseProxy"), "1");

    ClickUseProxy(dlg, false);
    for (int id : group) EXPECT_FALSE(dlg.FindWindow(id)->IsEnabled()) << id;
    EXPECT_EQ(Stored("UseProxy"), "0");
    EXPECT_EQ(Stored("ProxyUsr"), "puser");

    // Opened with the proxy on, the group starts enabled.
    COptionsDlg again(nullptr);
    Settings().m_nUseProxy = 1;
    COptionsDlg on(nullptr);
    for (int id : group) EXPECT_TRUE(on.FindWindow(id)->IsEnabled()) << id;
}

TEST_F(Options, EveryChangeWritesTheWholeText) {
    COptionsDlg dlg(nullptr);
    wxTextCtrl* user = Field(dlg, COptionsDlg::IDC_USER);
    std::string typed;
    for (char c : std::string("ann b")) {
        user->AppendText(wxString(c));
        typed += c;
        EXPECT_EQ(Settings().m_strHttpUsr, typed);
        EXPECT_EQ(Stored("HttpUsr"), typed);
    }
    Field(dlg, COptionsDlg::IDC_PORT)->Clear();
    EXPECT_EQ(Stored("HttpPort"), "");
    EXPECT_EQ(Settings().m_strHttpPort, "");
    // A pasted port keeps only its digits.
    Field(dlg, COptionsDlg::IDC_PROXY_PORT)->SetValue("31a2-8");
    EXPECT_EQ(Field(dlg, COptionsDlg::IDC_PROXY_PORT)->GetValue(), "3128");
    EXPECT_EQ(Stored("ProxyPort"), "3128");
    // Non-ASCII text goes to the file as UTF-8.
    Field(dlg, COptionsDlg::IDC_PASSWORD)->SetValue(wxString::FromUTF8("p\xc3\xa4ss"));
    EXPECT_EQ(Stored("HttpPwd"), "p\xc3\xa4ss");
}

TEST_F(Options, TypingAndEscapeKeepTheEdits) {
    COptionsDlg dlg(nullptr);
    const int result = RunModalWithScript(&dlg, [&] {
        wxTextCtrl* pwd = Field(dlg, COptionsDlg::IDC_PASSWORD);
        wxTextCtrl* port = Field(dlg, COptionsDlg::IDC_PORT);
        pwd->SetFocus();
        PumpUntil([&] { return pwd->HasFocus(); }, 2000);
        wxUIActionSimulator sim;
        sim.Text("s3");
        PumpUntil([&] { return pwd->GetValue() == "s3"; }, 2000);
        port->SetFocus();
        PumpUntil([&] { return port->HasFocus(); }, 2000);
        port->SelectAll();
        sim.Text("x9");  // the letter is refused by the field
        PumpUntil([&] { return port->GetValue() == "9"; }, 2000);
        sim.Char(WXK_ESCAPE);
    });
    EXPECT_EQ(result, ui::ID_OK);
    EXPECT_EQ(Stored("HttpPwd"), "s3");
    EXPECT_EQ(Stored("HttpPort"), "9");
    EXPECT_EQ(Settings().m_strHttpPort, "9");
}

}  // namespace
}  // namespace fennic::test
