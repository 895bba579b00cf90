#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/IniFile.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "taskdialog/TdDialogStrs.h"
#include "tests/app/LanguageFixture.h"

namespace {

using Messages = LanguageFixture;

TEST_F(Messages, TableHasSeventyOneUniqueKeys) {
  std::set<std::string> keys;
  for (const auto& [key, text] : kMessageTable) {
    keys.insert(key);
    EXPECT_NE(std::string(text), "") << key;
  }
  EXPECT_EQ(keys.size(), 71u);
  EXPECT_EQ(MessageText(0), QStringLiteral("My Computer"));
  EXPECT_EQ(MessageText(25), QStringLiteral("Please enter key to go to:"));
  EXPECT_EQ(MessageText(70), QStringLiteral("The network is unavailable."));
  EXPECT_EQ(MessageText(71), QString());
  EXPECT_EQ(MessageText(-1), QString());
  EXPECT_EQ(MessageText(1).count(QStringLiteral("\r\n")), 2);
}

TEST_F(Messages, MessagesSectionOverridesByKeyInAnyCase) {
  struct Case {
    const char* file;
    QString expected;
  } cases[] = {
      {"[Messages]\nMyComputer=Arbeitsplatz\n", QStringLiteral("Arbeitsplatz")},
      {"[messages]\nmYcOmPuTeR=Poste de travail\n", QStringLiteral("Poste de travail")},
      {"[Messages]\n---MyComputer=Nope\n", QStringLiteral("My Computer")},
      {"[Messages]\nOther=x\n", QStringLiteral("My Computer")},
      {"[Main]\nLanguageName=X\n", QStringLiteral("My Computer")},
      {"[Messages]\nMyComputer=Mein%0D%0ARechner\n", QStringLiteral("Mein\r\nRechner")},
      {"[Messages]\nMyComputer=100%%.\n", QStringLiteral("100%.")},
      {"[Messages]\nMyComputer=\n", QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    load(c.file);
    EXPECT_EQ(MessageText(0), c.expected);
  }
}

TEST_F(Messages, FontUtf8DecodesAndFallsBackOnBadBytes) {
  load("[Main]\nFontUTF8=1\n[Messages]\nMyComputer=Poste de travail \xC3\xA9\n");
  EXPECT_EQ(MessageText(0), QStringLiteral("Poste de travail \u00E9"));
  // Not UTF-8: the line is kept as "---" + line, so English shows.
  load("[Main]\nFontUTF8=1\n[Messages]\nMyComputer=bad \xE9 byte\n");
  EXPECT_EQ(MessageText(0), QStringLiteral("My Computer"));
  // A key missing from the next language reverts to English.
  load("[Messages]\nMyComputer=A\n");
  load("[Messages]\nDialogNewKeyTitle=B\n");
  EXPECT_EQ(MessageText(0), QStringLiteral("My Computer"));
}

TEST_F(Messages, EnglishMessagesAreWrittenEscaped) {
  IniFile ini;
  AppTranslator()->SaveDefaultMessages(ini);
  EXPECT_EQ(ini.ReadString("Messages", "MyComputer", "?"), "My Computer");
  EXPECT_EQ(ini.ReadString("Messages", "DialogSearchFinished", "?"), "Search has finished with %d results.");
  const std::string warning = ini.ReadString("Messages", "WarningComplicatedDataType", "?");
  EXPECT_EQ(warning.find('\r'), std::string::npos);
  EXPECT_NE(warning.find("binary form.%0D%0ABad data"), std::string::npos);
  // Round trip: what is written reads back as the built-in text.
  IniFile reread(ini.Text());
  AppTranslator()->LoadMessages(reread);
  for (int i = 0; i <= kMessageHighIndex; ++i) {
    SCOPED_TRACE(kMessageTable[i].first);
    EXPECT_EQ(MessageText(i), QString::fromUtf8(kMessageTable[i].second));
  }
}

TEST_F(Messages, DialogsSectionReplacesTaskDialogTexts) {
  load("[Dialogs]\nButtonYes=Ja\nDialogTitleWarning=Warnung\nDialogTitleCustom=Eigen\n");
  EXPECT_EQ(LoadDialogString(DialogStrYes), "Ja");
  EXPECT_EQ(LoadDialogString(DialogStrWarning), "Warnung");
  EXPECT_EQ(LoadDialogString(DialogStrNo), "&No");
  EXPECT_EQ(DialogTitleText(4), "Eigen");
  EXPECT_EQ(FindDialogString(QStringLiteral("ja")), DialogStrYes);
  EXPECT_EQ(FindDialogString(QStringLiteral("&Yes")), std::nullopt);

  // A language without the key keeps the last text; the English file holds
  // "Yes", so loading it gives "Yes", not "&Yes".
  load("[Messages]\nMyComputer=X\n");
  EXPECT_EQ(LoadDialogString(DialogStrYes), "Ja");
  IniFile english;
  SetDialogCaptionText(0, "Yes");
  SaveDialogTexts(english);
  EXPECT_EQ(english.ReadString("Dialogs", "ButtonNoToAll", "?"), "No to all");
  load(english.Text());
  EXPECT_EQ(LoadDialogString(DialogStrYes), "Yes");

  // An empty value is applied as an empty caption.
  load("[Dialogs]\nButtonNo=\n");
  EXPECT_EQ(LoadDialogString(DialogStrNo), "");
}

}  // namespace
