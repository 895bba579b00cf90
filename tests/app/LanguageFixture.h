#pragma once

// The translator and the dialog texts are module-wide: each test starts from
// the English defaults with no language loaded, and everything a language
// load changes (messages, dialog strings, captions, titles, the active code
// page) is put back afterwards.

#include <gtest/gtest.h>

#include <string>

#include "app/IniFile.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "platform/Text.h"
#include "taskdialog/TdDialogStrs.h"

class LanguageFixture : public ::testing::Test {
protected:
  void SetUp() override {
    AppTranslator()->SetDefaultMessages(kMessageTable, kMessageHighIndex);
    AppTranslator()->Messages.clear();
    for (int i = 0; i < DialogStrCount; ++i) savedStrs_[i] = LoadDialogString(static_cast<TdDialogStr>(i));
    for (int i = 0; i < kDialogCaptionCount; ++i) savedCaptions_[i] = DialogCaptionText(i);
    for (int i = 0; i < kDialogTitleCount; ++i) savedTitles_[i] = DialogTitleText(i);
    savedCodePage_ = platform::activeCodePage();
  }
  void TearDown() override {
    platform::setActiveCodePage(savedCodePage_);
    AppTranslator()->Messages.clear();
    for (int i = 0; i < DialogStrCount; ++i) ReplaceDialogString(static_cast<TdDialogStr>(i), savedStrs_[i]);
    for (int i = 0; i < kDialogCaptionCount; ++i) SetDialogCaptionText(i, savedCaptions_[i]);
    for (int i = 0; i < kDialogTitleCount; ++i) SetDialogTitleText(i, savedTitles_[i]);
    RebuildDialogStrings();
  }
  // A language load as far as messages and dialog texts go.
  static void load(const std::string& text) {
    IniFile ini(text);
    AppTranslator()->LoadMessages(ini);
    AppTranslator()->RunLoadHandlers(ini);
  }

private:
  std::string savedStrs_[DialogStrCount];
  std::string savedCaptions_[kDialogCaptionCount];
  std::string savedTitles_[kDialogTitleCount];
  unsigned savedCodePage_ = platform::kCodePageUtf8;
};
