// The translator on the program's own windows: the English file start-up
// writes, a language made from it (plain and compressed), the menu, the
// stored choice and a restart, 8-bit files of another code page, the reading
// order, the lock between instances, and the help file.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/FormUnitMain.h"
#include "app/FormUnitSearch.h"
#include "app/HtmlHelpAPI.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "app/UiSeams.h"
#include "core/bwlConfig.h"
#include "core/bwlRegTools.h"
#include "core/kxStrings.h"
#include "platform/ProgramFiles.h"
#include "tests/app/LanguageFixture.h"
#include "tests/app/Screenshot.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class SilentBoxes : public MessageBoxes {
public:
  int count = 0;
  int messageDlg(QWidget*, const QString&, TTdMessageType, TCommonButtons) override {
    ++count;
    return mrOk;
  }
};

std::string fileText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

// The text with the first "key=..." line of `section` given a new value.
std::string withValue(std::string text, const std::string& section, const std::string& key, const std::string& value) {
  IniFile ini(text);
  ini.WriteString(section, key, value);
  return ini.Text();
}

const char* const kLanguageKey = "\\Software\\Brantwell Limited\\Analysis tools\\Hivescope";

class Localization : public LanguageFixture {
protected:
  void SetUp() override {
    LanguageFixture::SetUp();
    setMessageBoxes(&boxes);
    ConfigManager().SetAppName("Hivescope");
    savedFont_ = QApplication::font();
    AppTranslator()->Languages.clear();
  }
  void TearDown() override {
    windows.reset();
    setMessageBoxes(nullptr);
    setHelpOpener({});
    setApplicationHelpFile({});
    QApplication::setLayoutDirection(Qt::LeftToRight);
    QApplication::setFont(savedFont_);
    AppTranslator()->Languages.clear();
    AppTranslator()->LoadedFont = TFontSettings();
    LanguageFixture::TearDown();
  }

  TformMain& start() {
    windows.reset();
    windows = std::make_unique<TProgramWindows>(&lister, TCommandLine({}, data.path()));
    TformMain& form = windows->Main();
    form.show();
    QApplication::processEvents();
    return form;
  }

  fs::path languages() const { return data.path() / "hivescope" / "Languages"; }
  QString tabText(TformMain& form, QWidget* page) { return form.pcMain->tabText(form.pcMain->indexOf(page)); }

  testsupport::TempRegistry registry;
  testsupport::TempDir data{"hivescope-languages"};
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().string()};
  RegistryKeyLister lister;
  SilentBoxes boxes;
  std::unique_ptr<TProgramWindows> windows;

private:
  QFont savedFont_;
};

TEST_F(Localization, StartUpWritesTheEnglishFileOfEveryWindowMessageAndDialogText) {
  TformMain& form = start();
  const IniFile ini(fileText(languages() / "English.hsc"));
  EXPECT_EQ(ini.ReadString("Main", "LanguageName", "?"), "English");
  EXPECT_EQ(ini.ReadString("Main", "Use", "?"), "Use english language");
  EXPECT_EQ(ini.ReadString("formMain.pcMain.tsData", "lvData.Items", "?"),
            "Name%0D%0AType%0D%0AValue%0D%0ASize%0D%0ARegistry Value");
  EXPECT_EQ(ini.ReadString("formMain.pcMain", "tsData", "?"), "Data");
  EXPECT_EQ(ini.ReadString("formMain.menuMain", "miFile", "?"), "&File");
  EXPECT_EQ(ini.ReadString("formMain.alMain", "aFileExit", "?"), "E&xit");
  EXPECT_EQ(ini.ReadString("Forms", "formMain", "?"), "Hivescope");
  // Controls that show an action's texts are not written; the action is.
  EXPECT_FALSE(ini.ValueExists("formMain.coolbarMain.toolbarMain", "bnSearch"));
  EXPECT_EQ(ini.ReadSectionValues("Messages").size(), 71u);
  EXPECT_EQ(ini.ReadString("Messages", "WarningComplicatedDataType", "?").find('\r'), std::string::npos);
  EXPECT_EQ(ini.ReadSectionValues("Dialogs").size(), 16u);
  EXPECT_EQ(ini.ReadString("Dialogs", "ButtonNoToAll", "?"), "No to all");
  for (const auto& [name, side] : {std::pair{"Flag16", 16}, std::pair{"Flag32", 32}}) {
    SCOPED_TRACE(name);
    const std::string hex = ini.ReadString("Images", name, "");
    ASSERT_EQ(hex.rfind("424D", 0), 0u);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const std::string bytes = HexToBytes(hex, false);
    QImage flag;
    ASSERT_TRUE(flag.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "BMP"));
    EXPECT_EQ(flag.size(), QSize(side, side));
  }
  // The menu lists it with its flag; English is loaded.
  ASSERT_EQ(form.miLanguages->actions().size(), 1);
  EXPECT_EQ(form.miLanguages->actions()[0]->text(), QStringLiteral("English"));
  EXPECT_FALSE(form.miLanguages->actions()[0]->icon().isNull());
  EXPECT_EQ(AppTranslator()->LanguageName, "English");
  EXPECT_EQ(boxes.count, 0);
}

// A German file made from the English one loads the same whether plain or
// compressed; the menu lists it, a click stores the choice, a restart comes
// up in German.
TEST_F(Localization, ALanguageMadeFromTheEnglishFileLoadsPlainOrCompressedAndSurvivesARestart) {
  for (const bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "compressed" : "plain");
    (void)WriteRegistryString(platform::HKEY_CURRENT_USER, kLanguageKey, "Language", Bitness::x32, "English");
    start();
    std::string german = fileText(languages() / "English.hsc");
    german = withValue(german, "Main", "LanguageName", "Deutsch");
    german = withValue(german, "Main", "Use", "Deutsch verwenden");
    german = withValue(german, "formMain.pcMain", "tsData", "Daten");
    // Four percent signs in a row show one; a line break between two words.
    german = withValue(german, "formMain.pcMain", "tsInfo", "Sicherheit 100%%%%");
    german = withValue(german, "formMain.pcMain.tsDatabaseInfo", "tsDatabaseInfo.0", "Schl\xFCssel%0D%0Ainfo");
    german = withValue(german, "formMain.menuMain", "miFile", "&Datei");
    german = withValue(german, "formMain.alMain", "aFileExit", "&Beenden");
    german = withValue(german, "formMain.pcMain.tsData", "lvData.Items", "Name%0D%0ATyp%0D%0AWert");
    german = withValue(german, "Messages", "MyComputer", "Arbeitsplatz");
    german = withValue(german, "Dialogs", "ButtonYes", "Ja");
    // The search window, made only when first used, is in the file too.
    EXPECT_EQ(IniFile(german).ReadString("Forms", "formSearch", "?"), "Search");
    german = withValue(german, "Forms", "formSearch", "Suche");
    writeFile(languages() / "Deutsch.hsc", compress ? testsupport::compressedLanguageFile(german) : german);

    TformMain& form = start();
    // Still English: the stored choice is.
    EXPECT_EQ(tabText(form, form.tsData), QStringLiteral("Data"));
    const QList<QAction*> items = form.miLanguages->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Deutsch"));
    EXPECT_FALSE(items[0]->icon().isNull());
    form.miLanguages->adjustSize();
    saveScreenshot(*form.miLanguages, "languages-menu");
    items[0]->trigger();

    std::string stored;
    EXPECT_TRUE(ReadRegistryString(platform::HKEY_CURRENT_USER, kLanguageKey, "Language", Bitness::x32, stored));
    EXPECT_EQ(stored, "Deutsch");
    EXPECT_EQ(tabText(form, form.tsData), QStringLiteral("Daten"));
    EXPECT_EQ(tabText(form, form.tsInfo), QStringLiteral("Sicherheit 100%"));
    auto* label = qobject_cast<QLabel*>(form.tsDatabaseInfo->findChildren<QLabel*>().value(0));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("Schl\u00FCssel\ninfo"));
    EXPECT_EQ(form.miFile->title(), QStringLiteral("&Datei"));
    EXPECT_EQ(form.aFileExit->text(), QStringLiteral("&Beenden"));
    EXPECT_EQ(form.lvData->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Typ"));
    EXPECT_EQ(form.lvData->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_EQ(form.Msg(msgMyComputer), QStringLiteral("Arbeitsplatz"));
    // Later Yes buttons read "Ja"; No keeps the English file's text.
    EXPECT_EQ(LoadDialogString(DialogStrYes), "Ja");
    EXPECT_EQ(LoadDialogString(DialogStrNo), "No");
    saveScreenshot(form, compress ? "languages-german-compressed" : "languages-german");

    TformMain& again = start();
    EXPECT_EQ(tabText(again, again.tsData), QStringLiteral("Daten"));
    EXPECT_EQ(AppTranslator()->LanguageRealName, "Deutsch");
    EXPECT_EQ(again.formSearch()->windowTitle(), QStringLiteral("Suche"));
    windows.reset();
    fs::remove(languages() / "Deutsch.hsc");
  }
  EXPECT_EQ(boxes.count, 0);
}

// 8-bit text is in the code page of the file's character set unless it says
// UTF-8; any form of "RLRO" (and "RL", "RLNA") turns the windows right to
// left, anything else left to right.
TEST_F(Localization, CharacterSetAndReadingOrderOfALanguage) {
  TformMain& form = start();
  const struct {
    const char* name;
    std::string main;
    std::string data;  // the Data page's caption as stored
    QString shown;
    Qt::LayoutDirection direction;
  } cases[] = {
      {"cp1251", "FontCharset=204\r\nBiDiMode=rlro\r\n", "\xC4\xE0\xED\xED\xFB\xE5", QStringLiteral("Данные"),
       Qt::RightToLeft},
      {"utf-8", "FontUTF8=1\r\nFontCharset=204\r\nBiDiMode=RL\r\n", "\xD0\x94\xD0\xB0", QStringLiteral("Да"),
       Qt::RightToLeft},
      {"cp1253", "FontCharset=161\r\nBiDiMode=RLNA\r\n", "\xC4", QStringLiteral("Δ"), Qt::RightToLeft},
      // Saved as UTF-8 by an editor without saying so: told by its bytes.
      {"utf-8 without FontUTF8", "FontCharset=0\r\n", "Gr\xC3\xBC\xC3\x9F" "e", QStringLiteral("Grüße"),
       Qt::LeftToRight},
      {"unknown order", "FontCharset=0\r\nBiDiMode=RTL\r\n", "Data \xE9", QStringLiteral("Data é"), Qt::LeftToRight},
      {"none", "", "Data", QStringLiteral("Data"), Qt::LeftToRight},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(languages() / "Test.hsc", "[Main]\r\n" + c.main + "[formMain.pcMain]\r\ntsData=" + c.data +
                                            "\r\n[Messages]\r\nMyComputer=" + c.data + "\r\n");
    AppTranslator()->LoadLanguage(languages() / "Test.hsc");
    EXPECT_EQ(tabText(form, form.tsData), c.shown);
    EXPECT_EQ(form.Msg(msgMyComputer), c.shown);
    EXPECT_EQ(form.layoutDirection(), c.direction);
    EXPECT_EQ(QApplication::layoutDirection(), c.direction);
    if (c.direction == Qt::RightToLeft && std::string(c.name) == "cp1251") saveScreenshot(form, "languages-cyrillic-rtl");
  }
}

// A font the file names becomes the application's, for windows made later
// too; a file that names none keeps the desktop's font.
TEST_F(Localization, TheFontOfALanguageIsTheApplicationsFont) {
  start();
  const QFont desktop = QApplication::font();
  writeFile(languages() / "Plain.hsc", "[Main]\r\nLanguageName=Plain\r\n");
  AppTranslator()->LoadLanguage(languages() / "Plain.hsc");
  EXPECT_EQ(QApplication::font(), desktop);
  writeFile(languages() / "Serif.hsc", "[Main]\r\nFontName=DejaVu Serif\r\nFontSize=11\r\n");
  AppTranslator()->LoadLanguage(languages() / "Serif.hsc");
  EXPECT_EQ(QApplication::font().family(), QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(QApplication::font().pointSize(), 11);
  EXPECT_EQ(AppTranslator()->LoadedFont.Name, "DejaVu Serif");
}

TEST_F(Localization, WithoutALanguageFolderTheMenuIsEmptyAndNothingIsSaid) {
  // The user's data folder cannot be made: no English file, no folder.
  writeFile(data.path() / "hivescope", "not a folder");
  TformMain& form = start();
  EXPECT_TRUE(form.miLanguages->actions().isEmpty());
  EXPECT_EQ(boxes.count, 0);
  // Loading a language that does not exist changes nothing.
  AppTranslator()->LoadLanguage(data.path() / "missing.hsc");
  EXPECT_EQ(tabText(form, form.tsData), QStringLiteral("Data"));
}

TEST_F(Localization, AnotherInstanceHoldingTheLockDelaysALoadButNeverStopsIt) {
  TformMain& form = start();
  const fs::path lockFile = platform::userDataFolder() / "LanguageLoad.lock";
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  writeFile(languages() / "Held.hsc", "[formMain.pcMain]\r\ntsData=Locked out\r\n");
  AppTranslator()->LoadLanguage(languages() / "Held.hsc");
  ::close(fd);
  EXPECT_EQ(tabText(form, form.tsData), QStringLiteral("Locked out"));
}

TEST_F(Localization, HelpOpensTheHelpFileOnlyWhenThereIsOne) {
  QStringList opened;
  setHelpOpener([&](const QString& file) {
    opened << file;
    return true;
  });
  TformMain& form = start();
  form.aHelpContents->trigger();
  EXPECT_TRUE(opened.isEmpty());
  EXPECT_EQ(CallHtmlHelp(nullptr, form.HelpFile(), HH_DISPLAY_TOC, 0), 0);

  const fs::path help = data.path() / "hivescope" / "Help" / "English.chm";
  writeFile(help, "ITSF");
  TformMain& again = start();
  again.aHelpContents->trigger();
  again.aHelpIndex->trigger();
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(opened[0], QString::fromStdString(help.string()));
  EXPECT_EQ(opened[1], QString::fromStdString(help.string()));

  // A language names another help file; one outside the data folders is not taken.
  const fs::path other = data.path() / "hivescope" / "Help" / "Deutsch.chm";
  writeFile(other, "ITSF");
  writeFile(languages() / "Deutsch.hsc", "[Main]\r\nHelpFile=Help\\Deutsch.chm\r\n");
  AppTranslator()->LoadLanguage(languages() / "Deutsch.hsc");
  again.aHelpContents->trigger();
  ASSERT_EQ(opened.size(), 3);
  EXPECT_EQ(opened[2], QString::fromStdString(other.string()));
  writeFile(languages() / "Outside.hsc", "[Main]\r\nHelpFile=..\\..\\outside.chm\r\n");
  AppTranslator()->LoadLanguage(languages() / "Outside.hsc");
  EXPECT_EQ(again.HelpFile(), QString::fromStdString(other.string()));
}

}  // namespace
