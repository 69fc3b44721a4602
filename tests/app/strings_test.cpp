#include "app/strings.h"

#include <gtest/gtest.h>

namespace fennic {
namespace {

TEST(StringTable, LooksUpByIdAndMissesCleanly) {
    EXPECT_EQ(LoadString(57345), "File Name");
    EXPECT_EQ(LoadString(57352), "Comment");
    EXPECT_EQ(LoadString(113), "Failed to receive a valid HTTP response from the server");
    EXPECT_EQ(LoadString(230), "The file '%1' already exists.\nDo you want to replace it?");
    EXPECT_EQ(LoadString(109), "");
    EXPECT_EQ(LoadString(0), "");
    EXPECT_EQ(LoadString(99999), "");
}

TEST(StringTable, EveryTransferTextExistsInBothEngines) {
    // Display texts share their wording between the HTTP (1xx) and FTP (2xx) copies.
    for (unsigned id : {102u, 103u, 104u, 105u, 106u, 108u, 115u, 116u, 117u, 118u,
                        119u, 120u, 121u, 123u, 125u, 127u, 128u, 129u, 131u, 132u}) {
        EXPECT_FALSE(LoadString(id).empty()) << id;
        EXPECT_EQ(LoadString(id), LoadString(id + 100)) << id;
    }
}

TEST(FillMessage, ReplacesPlaceholdersAndKeepsOtherPercents) {
    EXPECT_EQ(FormatMessageId(115, "37", "archive.zip"), "37% of archive.zip Completed");
    EXPECT_EQ(FillMessage("%2 then %1", "a", "b"), "b then a");
    EXPECT_EQ(FillMessage("100%", "x"), "100%");
    EXPECT_EQ(FillMessage("%3 %% %1%1", "z"), "%3 %% zz");
    EXPECT_EQ(FillMessage("%1", "%2", "no"), "%2");  // arguments are not filled again
    EXPECT_EQ(FormatMessageId(113, "200"),
              "Failed to receive a valid HTTP response from the server");
}

}  // namespace
}  // namespace fennic
