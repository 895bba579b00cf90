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

struct LanguageSnapshot {
  std::string strs[DialogStrCount];
  std::string captions[kDialogCaptionCount];
  std::string titles[kDialogTitleCount];

  static LanguageSnapshot take() {
    LanguageSnapshot s;
    for (int i = 0; i < DialogStrCount; ++i) s.strs[i] = LoadDialogString(static_cast<TdDialogStr>(i));
    for (int i = 0; i < kDialogCaptionCount; ++i) s.captions[i] = DialogCaptionText(i);
    for (int i = 0; i < kDialogTitleCount; ++i) s.titles[i] = DialogTitleText(i);
    return s;
  }
  void restore() const {
    for (int i = 0; i < DialogStrCount; ++i) ReplaceDialogString(static_cast<TdDialogStr>(i), strs[i]);
    for (int i = 0; i < kDialogCaptionCount; ++i) SetDialogCaptionText(i, captions[i]);
    for (int i = 0; i < kDialogTitleCount; ++i) SetDialogTitleText(i, titles[i]);
    RebuildDialogStrings();
  }
};

// Taken before any test runs: a test that starts the main window loads the
// English file it wrote, and that changes the dialog texts for the rest of
// the process.
inline const LanguageSnapshot kPristineLanguage = LanguageSnapshot::take();

class LanguageFixture : public ::testing::Test {
protected:
  void SetUp() override {
    AppTranslator()->SetDefaultMessages(kMessageTable, kMessageHighIndex);
    AppTranslator()->Messages.clear();
    kPristineLanguage.restore();
    savedCodePage_ = platform::activeCodePage();
  }
  void TearDown() override {
    platform::setActiveCodePage(savedCodePage_);
    AppTranslator()->Messages.clear();
    kPristineLanguage.restore();
  }
  // A language load as far as messages and dialog texts go.
  static void load(const std::string& text) {
    IniFile ini(text);
    AppTranslator()->LoadMessages(ini);
    AppTranslator()->RunLoadHandlers(ini);
  }

private:
  unsigned savedCodePage_ = platform::kCodePageUtf8;
};
