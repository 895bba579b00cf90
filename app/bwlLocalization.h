#pragma once

// The translator of windows, menus and messages. Languages are INI text files
// (plain, or compressed behind the marker "LCF1"), one per language, listed
// from the language folders; the one chosen is kept in the registry. Loading
// a language replaces the texts of every window, menu and action (addressed
// by object name), the messages, the task-dialog texts (through the load
// handlers other units register), the font and the reading order.

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Registry.h"

class IniFile;
class QMenu;
class QWidget;

// The font of a language: its character set (which also says how the file's
// 8-bit text is read), name, size in points, and reading order (0 left to
// right, 1 right to left, 2 right to left without right alignment, 3 right to
// left for reading only).
struct TFontSettings {
  std::uint8_t Charset = 0;
  std::string Name = "MS Sans Serif";
  int Size = 8;
  std::uint8_t BiDiMode = 0;
};

// One language found by a scan.
struct TAppLanguage {
  std::filesystem::path FileName;
  std::string Name;         // file name without extension; the stored choice
  QString DisplayName;      // [Main] LanguageName, or Name
  QString Hint;             // [Main] Use
  QImage Flag16, Flag32;
  std::string FontName;
  int FontSize = 8;
  std::uint8_t FontCharset = 0;
  int ImageIndex16 = -1, ImageIndex32 = -1;
};

class TAppTranslator {
public:
  using IniHandler = std::function<void(IniFile&)>;
  using FormsProvider = std::function<QList<QWidget*>()>;

  std::string CompressIndicator = "LCF";
  std::string LanguageName;      // file name of the loaded language, no extension
  std::string LanguageRealName;  // its [Main] LanguageName
  std::string LanguageHint;      // its [Main] Use
  std::vector<TAppLanguage> Languages;
  QPointer<QMenu> DisplayMenuItem;
  std::string FileExtension = "lng";
  // The folders languages are listed from, the first winning for a name, and
  // the one the English file is written to.
  std::vector<std::filesystem::path> ReadFolders;
  std::filesystem::path WriteFolder;
  // Relative to the program's data folders.
  std::string HelpFile = "Help\\English.chm";
  QImage Flag16, Flag32;
  QList<QPixmap> Image16List, Image32List;
  TFontSettings LoadedFont;
  platform::HKEY RegistryRootKey = platform::HKEY_CURRENT_USER;
  std::string RegistryKey = "\\Software\\Brantwell Limited\\Hivescope";
  std::string RegistryValue = "Language";
  std::filesystem::path LastFile;
  bool LocalizedHelpFile = true;
  // The windows a load translates and a save writes; by default every named
  // window of the application, the main window first.
  FormsProvider Forms;

  // Lines "key=text" of the loaded file's [Messages] section, unescaped.
  std::vector<std::string> Messages;
  // Lines "key=text" of the built-in English texts, in table order.
  std::vector<std::string> DefaultMessages;
  std::vector<IniHandler> LoadProcs;
  std::vector<IniHandler> SaveProcs;

  // Clears the default list and stores pairs[0..highIndex] as key=text.
  void SetDefaultMessages(const std::pair<const char*, const char*>* pairs, int highIndex);
  // The loaded [Messages] value when the loaded list holds the key (case
  // ignored), else the built-in English text; empty for an unknown key.
  std::string GetMessage(std::string_view key) const;

  // [Messages] of a language file into Messages (part of every language load).
  void LoadMessages(const IniFile& ini);
  // The default messages, escaped, into [Messages] (part of writing the English file).
  void SaveDefaultMessages(IniFile& ini) const;

  void AddLoadHandler(IniHandler proc) { LoadProcs.push_back(std::move(proc)); }
  void AddSaveHandler(IniHandler proc) { SaveProcs.push_back(std::move(proc)); }
  // Runs the handlers in order of registration; a failing handler is skipped.
  void RunLoadHandlers(IniFile& ini);
  void RunSaveHandlers(IniFile& ini);

  void SetLanguageFolders(std::vector<std::filesystem::path> readFolders, std::filesystem::path writeFolder,
                          std::string extension);
  void SetLanguageRegistryLocation(platform::HKEY root, std::string key, std::string valueName);
  // The menu whose entries are the languages; rebuilt at once.
  void SetDisplayMenuItem(QMenu* menu);

  // Lists the language files of the folders; when none of them exists the
  // previous list stays. Rebuilds the menu.
  void ScanLanguages() { ScanLanguagesEx(true); }
  void ScanLanguagesEx(bool useLock);
  // Loads the language the registry names ("English" when it names none).
  void LoadSavedLanguage() { LoadSavedLanguageEx(true); }
  void LoadSavedLanguageEx(bool useLock);
  // Loads and applies one language file; nothing happens when it does not
  // exist, and a damaged one leaves the texts it does not hold as they are.
  void LoadLanguageFile(const std::filesystem::path& file, bool useLock);
  void LoadLanguage(const std::filesystem::path& file) { LoadLanguageFile(file, true); }
  // Writes the file of the built-in English texts into the write folder.
  void WriteEnglishFile();
  // Writes the texts of every window into `file`, keeping what else it holds.
  // False when the file could not be written.
  bool SaveLanguageFile(const std::filesystem::path& file);
  // What SaveLanguageFile writes: the messages, the handlers' sections, [Main]
  // and every window.
  void SaveLanguageIni(IniFile& ini);
  void TranslateForm(QWidget& form, const IniFile& ini);
  // A window made after the last load gets that language's texts.
  void TranslateNewForm(QWidget& form);
  void SaveForm(QWidget& form, IniFile& ini, bool withFont);

  std::string ReadSavedLanguage() const;
  void StoreLanguageChoice(const std::string& name) const;
  void FillMenu();
  // What a click on a language's menu entry does.
  void MenuItemClick(const std::string& name);

  // The file of a language by name in the read folders; empty when none has it.
  std::filesystem::path FindLanguageFile(const std::string& name) const;
  // The application's windows in the order a load visits them.
  QList<QWidget*> ApplicationForms() const;
};

// Reads a language file into INI text (LoadLanguageIni): plain, or inflated
// after the compression marker. A file that cannot be read gives nothing.
IniFile LoadLanguageIni(const std::filesystem::path& file, std::string_view compressIndicator);

// The module-wide translator, created on first use and living to the end;
// its registry key follows the settings' program name.
TAppTranslator* AppTranslator();

// Text escapes of language files.
// Reading a message line: "%0D%0A" becomes CR LF, then "%%" becomes "%".
std::string unescapeMessageText(std::string_view text);
// Reading a caption: as a message line, then "%%" becomes "%" once more.
std::string unescapeCaptionText(std::string_view text);
// Writing: "% " -> "%% ", "%." -> "%%.", CR LF -> "%0D%0A".
std::string escapeLanguageText(std::string_view text);
// Every occurrence of `from` replaced by `to`, in one pass.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// UTF-8 to the active 8-bit code page; false when the bytes are no valid UTF-8.
bool utf8ToActiveCodePage(std::string_view text, std::string& out);
// 8-bit text of a language file to the active code page: UTF-8 when the file
// says FontUTF8=1, else text in the code page of its FontCharset. False when
// UTF-8 text is no valid UTF-8.
bool languageTextToAnsi(std::string_view text, bool utf8, std::uint8_t charset, std::string& out);
// The same to wide text for the windows; invalid UTF-8 is decoded leniently.
QString languageTextToQString(std::string_view text, bool utf8, std::uint8_t charset);
// Wide text to the 8-bit text of a language file of that kind.
std::string qStringToLanguageText(const QString& text, bool utf8, std::uint8_t charset);
// Whether a language file's text is UTF-8: its [Main] says FontUTF8=1, or
// the text itself is valid UTF-8 with letters beyond ASCII (files saved as
// UTF-8 by an editor often lack the setting).
bool languageFileIsUtf8(const IniFile& ini);
