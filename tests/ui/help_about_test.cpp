#include <gtest/gtest.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <fstream>

#include "tests/fixtures/fixtures.h"
#include "tests/ui/ui_test_support.h"
#include "ui/help_dlg.h"

namespace fennic::test {
namespace {

using ui::CHelpDlg;

// The help file lies beside this test program; each test sets it up as it needs.
class HelpWindow : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(CHelpDlg::HelpFilePath()); }
    void TearDown() override { std::filesystem::remove_all(CHelpDlg::HelpFilePath()); }
    static void WriteHelp(const std::string& bytes) {
        std::ofstream(CHelpDlg::HelpFilePath(), std::ios::binary) << bytes;
    }
    static std::string Shown() {
        CHelpDlg dlg(nullptr);
        EXPECT_EQ(dlg.GetTitle(), "FNX Help");
        auto* edit = static_cast<wxTextCtrl*>(dlg.FindWindow(CHelpDlg::IDC_HELP_TEXT));
        EXPECT_TRUE(edit->IsEditable());
        EXPECT_TRUE(edit->IsMultiLine());
        return edit->GetValue().utf8_string();
    }
};

TEST_F(HelpWindow, MissingFileShowsTheFallbackText) {
    EXPECT_EQ(Shown(), "{Help File not found}");
    std::filesystem::create_directory(CHelpDlg::HelpFilePath());  // not a readable file
    EXPECT_EQ(Shown(), "{Help File not found}");
}

TEST_F(HelpWindow, TextEndsAtTheFirstNulAndIsReadAfreshEachTime) {
    WriteHelp(std::string("first line\nsecond\0hidden", 25));
    EXPECT_EQ(Shown(), "first line\nsecond");
    WriteHelp("changed \xc3\xa9");
    EXPECT_EQ(Shown(), "changed \xc3\xa9");
}

TEST_F(HelpWindow, EmptyFileShowsNothing) {
    WriteHelp("");
    EXPECT_EQ(Shown(), "");
    std::string text = "kept";
    EXPECT_TRUE(CHelpDlg::ReadTextFile(CHelpDlg::HelpFilePath(), text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(CHelpDlg::ReadTextFile("/nonexistent/fxnfo.cmh", text));
}

TEST(HelpFile, ShippedTextIsThere) {
    // The build copies the real help file beside the program.
    const std::string shipped = std::string(FENNIC_UI_TEST_DIR) + "/../../ui/res/fxnfo.cmh";
    std::string text;
    ASSERT_TRUE(CHelpDlg::ReadTextFile(shipped, text));
    EXPECT_NE(text.find("Extract"), std::string::npos);
    EXPECT_NE(text.find("Options"), std::string::npos);
}

TEST(HelpFile, FoundBesideTheProgramFirstThenInTheInstalledDataFolder) {
    // The layout the install makes, under a prefix that is then moved elsewhere.
    TempDir root;
    const std::string bin = root.path() + "/usr/" FENNIC_TEST_BINDIR;
    std::filesystem::create_directories(bin);
    EXPECT_EQ(CHelpDlg::HelpFilePath(bin), bin + "/fxnfo.cmh");  // nowhere: beside, for the message

    root.Write("usr/" FENNIC_TEST_DATADIR "/fennic/fxnfo.cmh", "installed");
    std::filesystem::rename(root.path() + "/usr", root.path() + "/moved");
    const std::string moved = root.path() + "/moved/" FENNIC_TEST_BINDIR;
    std::string text;
    EXPECT_TRUE(CHelpDlg::ReadTextFile(CHelpDlg::HelpFilePath(moved), text));
    EXPECT_EQ(text, "installed");

    root.Write("moved/" FENNIC_TEST_BINDIR "/fxnfo.cmh", "beside");
    EXPECT_EQ(CHelpDlg::HelpFilePath(moved), moved + "/fxnfo.cmh");
}

TEST(AboutBox, TemplateTextAndIcon) {
    ui::CAboutDlg dlg(nullptr);
    EXPECT_EQ(dlg.GetTitle(), "About Fennic");
    int labels = 0, icons = 0;
    for (wxWindow* child : dlg.GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child)) {
            EXPECT_EQ(text->GetLabel(), "Fennic Version 1.5");
            ++labels;
        }
        if (auto* icon = dynamic_cast<wxStaticBitmap*>(child)) {
            EXPECT_TRUE(icon->GetBitmap().IsOk());
            ++icons;
        }
    }
    EXPECT_EQ(labels, 1);
    EXPECT_EQ(icons, 1);
    EXPECT_NE(dlg.FindWindow(1), nullptr);
}

}  // namespace
}  // namespace fennic::test
