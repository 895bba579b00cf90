// The start texts of all dialog strings, and the lookup under an 8-bit code
// page other than UTF-8.

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "taskdialog/TdDialogStrs.h"

namespace {

class AuditDialogStrs : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 0; i < DialogStrCount; ++i) saved_[i] = LoadDialogString(static_cast<TdDialogStr>(i));
    savedCodePage_ = platform::activeCodePage();
  }
  void TearDown() override {
    platform::setActiveCodePage(savedCodePage_);
    for (int i = 0; i < DialogStrCount; ++i) ReplaceDialogString(static_cast<TdDialogStr>(i), saved_[i]);
    RebuildDialogStrings();
  }
  std::string saved_[DialogStrCount];
  unsigned savedCodePage_ = platform::kCodePageUtf8;
};

TEST_F(AuditDialogStrs, EveryStringStartsWithItsEnglishText) {
  struct Row {
    TdDialogStr id;
    const char* text;
  } rows[] = {
      {DialogStrAssignSource, "Assigned source must be a TTdDialog"},
      {DialogStrNoHelpFile, "You must associate a Help File with your application"},
      {DialogStrYes, "&Yes"},
      {DialogStrNo, "&No"},
      {DialogStrOK, "OK"},
      {DialogStrCancel, "Cancel"},
      {DialogStrHelp, "&Help"},
      {DialogStrAbort, "&Abort"},
      {DialogStrRetry, "&Retry"},
      {DialogStrIgnore, "&Ignore"},
      {DialogStrAll, "&All"},
      {DialogStrNoToAll, "N&o to All"},
      {DialogStrYesToAll, "Yes to &All"},
      {DialogStrClose, "&Close"},
      {DialogStrConfirmation, "Confirmation"},
      {DialogStrWarning, "Warning"},
      {DialogStrError, "Error"},
      {DialogStrInformation, "Information"},
  };
  ASSERT_EQ(std::size(rows), static_cast<std::size_t>(DialogStrCount));
  RebuildDialogStrings();
  for (int i = 0; i < DialogStrCount; ++i) {
    SCOPED_TRACE(rows[i].text);
    EXPECT_EQ(rows[i].id, static_cast<TdDialogStr>(i));  // the order decides which string a shared text finds
    EXPECT_EQ(LoadDialogString(rows[i].id), rows[i].text);
    EXPECT_EQ(FindDialogString(QString::fromUtf8(rows[i].text)), rows[i].id);
  }
}

TEST_F(AuditDialogStrs, TextsInAnotherCodePageAreFoundByTheirCharacters) {
  platform::setActiveCodePage(1252);
  ReplaceDialogString(DialogStrYes, "J\xE4");  // "Jä" in Windows-1252
  RebuildDialogStrings();
  EXPECT_EQ(FindDialogString(QStringLiteral("J\u00E4")), DialogStrYes);
  EXPECT_EQ(FindDialogString(QStringLiteral("j\u00C4")), DialogStrYes);
  EXPECT_EQ(FindDialogString(QStringLiteral("J\uFFFD")), std::nullopt);
}

}  // namespace
