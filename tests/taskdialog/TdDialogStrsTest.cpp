#include <gtest/gtest.h>

#include "taskdialog/TdDialogStrs.h"

namespace {

// The dialog strings are module-wide; every test puts back what it changed.
class DialogStrs : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 0; i < DialogStrCount; ++i) saved_[i] = LoadDialogString(static_cast<TdDialogStr>(i));
    RebuildDialogStrings();
  }
  void TearDown() override {
    for (int i = 0; i < DialogStrCount; ++i) ReplaceDialogString(static_cast<TdDialogStr>(i), saved_[i]);
    RebuildDialogStrings();
  }
  std::string saved_[DialogStrCount];
};

TEST_F(DialogStrs, LookupIgnoresCaseButKeepsTheAmpersand) {
  struct Case {
    const char* text;
    std::optional<TdDialogStr> expected;
  } cases[] = {
      {"&yes", DialogStrYes},
      {"&YES", DialogStrYes},
      {"OK", DialogStrOK},
      {"Yes", std::nullopt},
      {"n&o to all", DialogStrNoToAll},
      {"Information", DialogStrInformation},
      {"Custom", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FindDialogString(QString::fromUtf8(c.text)), c.expected);
  }
}

TEST_F(DialogStrs, ReplacedTextIsFoundOnlyAfterRebuild) {
  ReplaceDialogString(DialogStrYes, "Ja");
  EXPECT_EQ(LoadDialogString(DialogStrYes), "Ja");
  EXPECT_EQ(FindDialogString(QStringLiteral("&Yes")), DialogStrYes);  // stale until rebuilt
  RebuildDialogStrings();
  EXPECT_EQ(FindDialogString(QStringLiteral("ja")), DialogStrYes);
  EXPECT_EQ(FindDialogString(QStringLiteral("&Yes")), std::nullopt);
}

TEST_F(DialogStrs, SharedTextGoesToTheEarlierString) {
  ReplaceDialogString(DialogStrAll, "Alle");
  ReplaceDialogString(DialogStrYesToAll, "alle");
  ReplaceDialogString(DialogStrNo, "ALLE");
  RebuildDialogStrings();
  EXPECT_EQ(FindDialogString(QStringLiteral("Alle")), DialogStrNo);
}

TEST_F(DialogStrs, StartTextsAreTheEnglishOnes) {
  EXPECT_EQ(LoadDialogString(DialogStrNoToAll), "N&o to All");
  EXPECT_EQ(LoadDialogString(DialogStrClose), "&Close");
  EXPECT_EQ(LoadDialogString(DialogStrConfirmation), "Confirmation");
}

}  // namespace
