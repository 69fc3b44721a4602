// Text bound for a terminal: every byte that could act on it is shown instead.

#include <gtest/gtest.h>

#include "app/text_convert.h"

namespace fennic {
namespace {

TEST(TerminalText, ControlsBecomeVisibleEscapes) {
    EXPECT_EQ(TerminalText("a\x1b[31mb"), "a\\x1B[31mb");
    EXPECT_EQ(TerminalText("\x1b]0;t\x07"), "\\x1B]0;t\\x07");
    EXPECT_EQ(TerminalText(std::string("n\0l", 3)), "n\\x00l");
    EXPECT_EQ(TerminalText("t\tn\nr\r\x7f"), "t\\tn\\nr\\r\\x7F");
    // C1 controls, bidirectional overrides and line separators are characters too.
    EXPECT_EQ(TerminalText("\xc2\x9b"
                           "2J"),
              "\\u009B2J");
    EXPECT_EQ(TerminalText("abc\xe2\x80\xae"
                           "exe.txt"),
              "abc\\u202Eexe.txt");
    EXPECT_EQ(TerminalText("x\xe2\x80\xa8y"), "x\\u2028y");
    // Bytes outside UTF-8 cannot start a sequence the terminal would complete.
    EXPECT_EQ(TerminalText("\xff\xc3"), "\\xFF\\xC3");
}

TEST(TerminalText, OrdinaryTextIsKept) {
    const std::string text =
        "docs\\readme.txt \xc3\xa9t\xc3\xa9 \xe2\x82\xac 100% \xf0\x9f\x93\xa6";
    EXPECT_EQ(TerminalText(text), text);
    EXPECT_EQ(TerminalText(""), "");
}

TEST(TerminalText, MessagesKeepTheirLineBreaks) {
    EXPECT_EQ(TerminalText("Error:\r\n550 no\r\n", true), "Error:\n550 no\n");
    EXPECT_EQ(TerminalText("a\rb\n\x1b", true), "a\\rb\n\\x1B");
    EXPECT_EQ(TerminalText("a\r\nb", false), "a\\r\\nb");
}

TEST(TerminalText, JsonStringsEscapeTheSameCharacters) {
    EXPECT_EQ(JsonQuoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonQuoted("\x1b[1m\t\n\r"), "\"\\u001b[1m\\t\\n\\r\"");
    EXPECT_EQ(JsonQuoted("rtl\xe2\x80\xae"
                         "exe \xc2\x9b"
                         "2J"),
              "\"rtl\\u202eexe \\u009b2J\"");
    EXPECT_EQ(JsonQuoted("caf\xc3\xa9 \xe2\x95\x94"), "\"caf\xc3\xa9 \xe2\x95\x94\"");
    EXPECT_EQ(JsonQuoted("\xff"), "\"\xef\xbf\xbd\"");
}

}  // namespace
}  // namespace fennic
