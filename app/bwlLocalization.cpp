#include "app/bwlLocalization.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QBuffer>
#include <QFont>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/HtmlHelpAPI.h"
#include "app/IniFile.h"
#include "core/LanguageFileData.h"
#include "core/bwlConfig.h"
#include "core/bwlRegTools.h"
#include "core/kxStrings.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramFiles.h"
#include "platform/Text.h"

namespace {

// The key of a "key=value" line, or the whole line when it has no "=".
std::string_view lineKey(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(0, eq);
}

std::string_view lineValue(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
}

bool findValue(const std::vector<std::string>& lines, std::string_view key, std::string& out) {
  for (const auto& line : lines) {
    if (line.find('=') == std::string::npos) continue;
    if (sameText(lineKey(line), key)) {
      out = std::string(lineValue(line));
      return true;
    }
  }
  return false;
}

// Serialises reading language files between instances (of this program or
// of any that share the language folders): a lock file held with flock. A
// holder is waited for 10 times 50 ms at most; then the reader goes on
// without the lock, as a stuck holder must not keep a window from coming up.
class LanguageLoadLock {
public:
  explicit LanguageLoadLock(bool use) {
    if (!use) return;
    const std::filesystem::path folder = platform::userDataFolder();
    if (platform::createPrivateFolders(folder) != 0) return;
    const std::filesystem::path file = folder / "LanguageLoad.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~LanguageLoadLock() {
    if (fd_ < 0) return;
    if (held_) ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  LanguageLoadLock(const LanguageLoadLock&) = delete;
  LanguageLoadLock& operator=(const LanguageLoadLock&) = delete;

private:
  int fd_ = -1;
  bool held_ = false;
};

bool readWholeFile(const std::filesystem::path& file, std::string& bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A flag of the [Images] section: the hex text of a BMP file, or a blank
// white square when the file holds none. A flag that does not decode stays
// null.
QImage readFlagBitmap(const IniFile& ini, const char* name) {
  const std::string hex = ini.ReadString("Images", name, "");
  if (hex.empty()) {
    const int side = std::string_view(name) == "Flag16" ? 16 : 32;
    QImage blank(side, side, QImage::Format_RGB32);
    blank.fill(Qt::white);
    return blank;
  }
  const std::string bytes = HexToBytes(hex, false);
  QImage image;
  image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(std::min<std::size_t>(bytes.size(), INT32_MAX)), "BMP");
  return image;
}

// The flag as the menus show it: its top-left pixel's colour is transparent.
QPixmap flagPixmap(const QImage& flag) {
  QPixmap pixmap = QPixmap::fromImage(flag);
  if (!flag.isNull()) pixmap.setMask(pixmap.createMaskFromColor(QColor(flag.pixel(0, 0))));
  return pixmap;
}

// A flag's file bytes as the [Images] section keeps them: two upper-case hex
// digits per byte, nothing between.
std::string flagHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) out += ByteToHex(static_cast<std::uint8_t>(c));
  return out;
}

std::string bmpBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "BMP");
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The English flags, drawn here: a red cross on white, 4:3, centred in the
// square bitmap on magenta, which the top-left pixel makes transparent.
QImage englishFlag(int side) {
  QImage square(side, side, QImage::Format_RGB32);
  square.fill(QColor(0xFF, 0x00, 0xFF));
  const int height = side * 3 / 4;
  const QRect flag(0, (side - height) / 2, side, height);
  QPainter painter(&square);
  painter.fillRect(flag, Qt::white);
  const QColor red(0xCE, 0x11, 0x24);
  const int bar = std::max(2, side / 5);
  painter.fillRect(flag.left() + (side - bar) / 2, flag.top(), bar, height, red);
  painter.fillRect(flag.left(), flag.top() + (height - bar) / 2, side, bar, red);
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawRect(flag.adjusted(0, 0, -1, -1));
  painter.end();
  return square;
}

// A help file named by a language file stays inside the data folders.
bool plainRelativePath(const std::filesystem::path& path) {
  if (path.empty() || path.is_absolute()) return false;
  for (const auto& part : path)
    if (part == "..") return false;
  return true;
}

}  // namespace

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string unescapeMessageText(std::string_view text) {
  return replaceAll(replaceAll(text, "%0D%0A", "\r\n"), "%%", "%");
}

std::string unescapeCaptionText(std::string_view text) {
  return replaceAll(unescapeMessageText(text), "%%", "%");
}

std::string escapeLanguageText(std::string_view text) {
  return replaceAll(replaceAll(replaceAll(text, "% ", "%% "), "%.", "%%."), "\r\n", "%0D%0A");
}

bool utf8ToActiveCodePage(std::string_view text, std::string& out) {
  // Invalid bytes are a decoding failure the callers fall back from. A valid
  // text goes into the active code page, which need not be UTF-8
  // (HIVESCOPE_CODEPAGE); characters that page lacks become '?'.
  QString wide = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QByteArray back = wide.toUtf8();
  if (back.size() != static_cast<qsizetype>(text.size()) ||
      std::string_view(back.constData(), static_cast<std::size_t>(back.size())) != text)
    return false;
  out = platform::wideToAnsi(wide.toStdU16String());
  return true;
}

bool languageTextToAnsi(std::string_view text, bool utf8, std::uint8_t charset, std::string& out) {
  if (utf8) return utf8ToActiveCodePage(text, out);
  // Text already in the active code page (the default charset, or the ANSI
  // charset when that is the active page) is kept byte for byte.
  const unsigned codePage = CharsetCodePage(charset);
  if (codePage == 0 || codePage == platform::activeCodePage()) {
    out = std::string(text);
    return true;
  }
  out = platform::wideToAnsi(AnsiToWideCharset(text, charset));
  return true;
}

QString languageTextToQString(std::string_view text, bool utf8, std::uint8_t charset) {
  if (utf8) return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return QString::fromStdU16String(AnsiToWideCharset(text, charset));
}

std::string qStringToLanguageText(const QString& text, bool utf8, std::uint8_t charset) {
  if (utf8) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  return WideToAnsiCharset(text.toStdU16String(), charset);
}

bool languageFileIsUtf8(const IniFile& ini) { return ini.ReadBool("Main", "FontUTF8", false) || ini.Utf8Text(); }

IniFile LoadLanguageIni(const std::filesystem::path& file, std::string_view compressIndicator) {
  std::string bytes;
  if (!readWholeFile(file, bytes)) return IniFile();
  return IniFile(languageFileText(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
      compressIndicator));
}

void TAppTranslator::SetDefaultMessages(const std::pair<const char*, const char*>* pairs, int highIndex) {
  DefaultMessages.clear();
  for (int i = 0; i <= highIndex; ++i)
    DefaultMessages.push_back(std::string(pairs[i].first) + "=" + pairs[i].second);
}

std::string TAppTranslator::GetMessage(std::string_view key) const {
  std::string text;
  if (findValue(Messages, key, text)) return text;
  if (findValue(DefaultMessages, key, text)) return text;
  return {};
}

void TAppTranslator::LoadMessages(const IniFile& ini) {
  const bool fontUtf8 = languageFileIsUtf8(ini);
  const auto charset = static_cast<std::uint8_t>(ini.ReadInteger("Main", "FontCharset", 0));
  Messages = ini.ReadSectionValues("Messages");
  for (auto& line : Messages) {
    std::string text = unescapeMessageText(line);
    std::string decoded;
    if (!languageTextToAnsi(text, fontUtf8, charset, decoded)) {
      // Unknown key from now on, so the message falls back to English.
      line = "---" + line;
      continue;
    }
    line = std::move(decoded);
  }
}

void TAppTranslator::SaveDefaultMessages(IniFile& ini) const {
  for (const auto& line : DefaultMessages)
    ini.WriteString("Messages", lineKey(line), escapeLanguageText(lineValue(line)));
}

void TAppTranslator::RunLoadHandlers(IniFile& ini) {
  for (auto& proc : LoadProcs) {
    try {
      proc(ini);
    } catch (...) {
    }
  }
}

void TAppTranslator::RunSaveHandlers(IniFile& ini) {
  for (auto& proc : SaveProcs) {
    try {
      proc(ini);
    } catch (...) {
    }
  }
}

void TAppTranslator::SetLanguageFolders(std::vector<std::filesystem::path> readFolders,
                                        std::filesystem::path writeFolder, std::string extension) {
  ReadFolders = std::move(readFolders);
  WriteFolder = std::move(writeFolder);
  FileExtension = std::move(extension);
}

void TAppTranslator::SetLanguageRegistryLocation(platform::HKEY root, std::string key, std::string valueName) {
  RegistryRootKey = root;
  RegistryKey = std::move(key);
  RegistryValue = std::move(valueName);
}

void TAppTranslator::SetDisplayMenuItem(QMenu* menu) {
  DisplayMenuItem = menu;
  FillMenu();
}

std::filesystem::path TAppTranslator::FindLanguageFile(const std::string& name) const {
  // The stored name is a plain file name; anything else names no language.
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
      name == "." || name == "..")
    return {};
  for (const auto& folder : ReadFolders) {
    const std::filesystem::path file = folder / (name + "." + FileExtension);
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) return file;
  }
  return {};
}

void TAppTranslator::ScanLanguagesEx(bool useLock) {
  std::vector<std::filesystem::path> folders;
  for (const auto& folder : ReadFolders) {
    std::error_code ec;
    if (!folder.empty() && std::filesystem::is_directory(folder, ec)) folders.push_back(folder);
  }
  if (!folders.empty()) {
    Languages.clear();
    Image16List.clear();
    Image32List.clear();
    // Name -> file; the first folder that has a name wins.
    std::vector<std::pair<std::string, std::filesystem::path>> files;
    const std::string suffix = "." + FileExtension;
    for (const auto& folder : folders) {
      std::error_code ec;
      for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string fileName = it->path().filename().string();
        if (fileName.size() <= suffix.size() ||
            !sameText(std::string_view(fileName).substr(fileName.size() - suffix.size()), suffix))
          continue;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        const std::string name = fileName.substr(0, fileName.size() - suffix.size());
        const bool known = std::any_of(files.begin(), files.end(), [&](const auto& f) { return f.first == name; });
        if (!known) files.emplace_back(name, it->path());
      }
    }
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
      return QString::fromStdString(a.first).compare(QString::fromStdString(b.first), Qt::CaseInsensitive) < 0;
    });
    for (const auto& [name, file] : files) {
      TAppLanguage language;
      language.FileName = file;
      language.Name = name;
      language.DisplayName = QString::fromStdString(name);
      try {
        LanguageLoadLock lock(useLock);
        const IniFile ini = LoadLanguageIni(file, CompressIndicator);
        const bool utf8 = languageFileIsUtf8(ini);
        language.FontName = ini.ReadString("Main", "FontName", TFontSettings().Name);
        language.FontSize = ini.ReadInteger("Main", "FontSize", TFontSettings().Size);
        language.FontCharset = static_cast<std::uint8_t>(ini.ReadInteger("Main", "FontCharset", 0));
        const std::string display = ini.ReadString("Main", "LanguageName", "");
        if (!display.empty()) language.DisplayName = languageTextToQString(display, utf8, language.FontCharset);
        language.Hint = languageTextToQString(ini.ReadString("Main", "Use", ""), utf8, language.FontCharset);
        language.Flag16 = readFlagBitmap(ini, "Flag16");
        language.Flag32 = readFlagBitmap(ini, "Flag32");
      } catch (...) {
      }
      if (language.Flag16.width() == 16) {
        language.ImageIndex16 = static_cast<int>(Image16List.size());
        Image16List.push_back(flagPixmap(language.Flag16));
      }
      if (language.Flag32.width() == 32) {
        language.ImageIndex32 = static_cast<int>(Image32List.size());
        Image32List.push_back(flagPixmap(language.Flag32));
      }
      Languages.push_back(std::move(language));
    }
  }
  FillMenu();
}

void TAppTranslator::FillMenu() {
  QMenu* menu = DisplayMenuItem.data();
  if (!menu) return;
  menu->clear();
  for (const TAppLanguage& language : Languages) {
    QAction* item = menu->addAction(language.DisplayName);
    const QString name = QString::fromStdString(language.Name);
    item->setData(name);
    item->setStatusTip(name);
    if (language.ImageIndex16 >= 0 && language.ImageIndex16 < Image16List.size())
      item->setIcon(QIcon(Image16List[language.ImageIndex16]));
    QObject::connect(item, &QAction::triggered, menu, [this, name] { MenuItemClick(name.toStdString()); });
  }
}

void TAppTranslator::MenuItemClick(const std::string& name) {
  StoreLanguageChoice(name);
  LoadLanguage(FindLanguageFile(name));
}

std::string TAppTranslator::ReadSavedLanguage() const {
  try {
    std::string name;
    if (ReadRegistryString(RegistryRootKey, RegistryKey, RegistryValue, Bitness::x32, name)) return name;
  } catch (...) {
  }
  return "English";
}

void TAppTranslator::StoreLanguageChoice(const std::string& name) const {
  try {
    (void)WriteRegistryString(RegistryRootKey, RegistryKey, RegistryValue, Bitness::x32, name);
  } catch (...) {
  }
}

void TAppTranslator::LoadSavedLanguageEx(bool useLock) {
  LoadLanguageFile(FindLanguageFile(ReadSavedLanguage()), useLock);
}

void TAppTranslator::LoadLanguageFile(const std::filesystem::path& file, bool useLock) {
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec)) return;
  LastFile = file;
  LanguageLoadLock lock(useLock);
  IniFile ini;
  try {
    ini = LoadLanguageIni(file, CompressIndicator);
  } catch (...) {
  }

  LanguageName = file.stem().string();
  LanguageRealName = ini.ReadString("Main", "LanguageName", "");
  LanguageHint = ini.ReadString("Main", "Use", "");
  HelpFile = ini.ReadString("Main", "HelpFile", "Help\\English.chm");
  if (LocalizedHelpFile) {
    std::string relative = HelpFile;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (plainRelativePath(relative)) {
      std::filesystem::path help = platform::findProgramFile(relative);
      if (help.empty()) help = platform::programFileWritePlace(relative);
      setApplicationHelpFile(QString::fromStdString(help.string()));
    }
  }
  const std::uint8_t bidi = bidiModeFromText(ini.ReadString("Main", "BiDiMode", "LR"));
  QApplication::setLayoutDirection(bidi != 0 ? Qt::RightToLeft : Qt::LeftToRight);

  try {
    LoadMessages(ini);
  } catch (...) {
  }
  try {
    Flag16 = readFlagBitmap(ini, "Flag16");
    Flag32 = readFlagBitmap(ini, "Flag32");
  } catch (...) {
  }
  for (QWidget* form : ApplicationForms()) {
    try {
      TranslateForm(*form, ini);
    } catch (...) {
    }
  }
  // The application's font, for the windows made later too. A file that
  // names no font keeps the desktop's: the design's default font is a
  // Windows font that would only fall back to some other face here.
  if (ini.ValueExists("Main", "FontName") || ini.ValueExists("Main", "FontSize")) {
    QFont font = QApplication::font();
    font.setFamily(QString::fromStdString(LoadedFont.Name));
    if (LoadedFont.Size > 0) font.setPointSize(LoadedFont.Size);
    QApplication::setFont(font);
  }
  RunLoadHandlers(ini);
}

void TAppTranslator::SaveLanguageIni(IniFile& ini) {
  SaveDefaultMessages(ini);
  RunSaveHandlers(ini);
  ini.WriteString("Main", "LanguageName", LanguageRealName);
  ini.WriteString("Main", "Use", LanguageHint);
  ini.WriteString("Main", "HelpFile", HelpFile);
  for (QWidget* form : ApplicationForms()) {
    if (form->property("tag").toInt() != 0) continue;
    try {
      SaveForm(*form, ini, false);
    } catch (...) {
    }
  }
  RunSaveHandlers(ini);
}

namespace {

bool writeIni(const std::filesystem::path& file, const IniFile& ini) {
  const std::string text = ini.Text();
  return platform::writeFileAtomically(file, std::as_bytes(std::span(text.data(), text.size())), 0600) == 0;
}

}  // namespace

void TAppTranslator::TranslateNewForm(QWidget& form) {
  if (LastFile.empty()) return;
  try {
    LanguageLoadLock lock(true);
    TranslateForm(form, LoadLanguageIni(LastFile, CompressIndicator));
  } catch (...) {
  }
}

bool TAppTranslator::SaveLanguageFile(const std::filesystem::path& file) {
  IniFile ini;
  if (std::string bytes; readWholeFile(file, bytes)) ini = IniFile(bytes);
  SaveLanguageIni(ini);
  return writeIni(file, ini);
}

void TAppTranslator::WriteEnglishFile() {
  try {
    if (WriteFolder.empty() || platform::createPrivateFolders(WriteFolder) != 0) return;
    const std::filesystem::path file = WriteFolder / ("English." + FileExtension);
    LanguageHint = "Use english language";
    LanguageRealName = "English";
    LanguageName = "English";
    // Written whole each start, never merged into the last one: a key some
    // earlier run wrote (a hint set only in that run, a control since gone)
    // would otherwise come back with every load of English.
    IniFile ini;
    SaveLanguageIni(ini);
    const QImage flag16 = englishFlag(16);
    const QImage flag32 = englishFlag(32);
    Image16List.clear();
    Image16List.push_back(flagPixmap(flag16));
    Image32List.clear();
    Image32List.push_back(flagPixmap(flag32));
    ini.WriteString("Images", "Flag16", flagHex(bmpBytes(flag16)));
    ini.WriteString("Images", "Flag32", flagHex(bmpBytes(flag32)));
    (void)writeIni(file, ini);
  } catch (...) {
  }
}

QList<QWidget*> TAppTranslator::ApplicationForms() const {
  if (Forms) return Forms();
  QList<QWidget*> forms;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    // Dialogs owned by another window count; menus, tooltips and the like not.
    const Qt::WindowType type = w->windowType();
    if ((type != Qt::Window && type != Qt::Dialog) || qobject_cast<QMenu*>(w)) continue;
    const QString name = w->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
    forms.push_back(w);
  }
  // A fixed order: main windows first, then by name.
  std::stable_sort(forms.begin(), forms.end(), [](QWidget* a, QWidget* b) {
    const bool am = qobject_cast<QMainWindow*>(a) != nullptr, bm = qobject_cast<QMainWindow*>(b) != nullptr;
    if (am != bm) return am;
    return a->objectName() < b->objectName();
  });
  return forms;
}

TAppTranslator* AppTranslator() {
  // The choice lives under the settings' program name until the main window
  // names its own key, and follows a renamed program.
  static TAppTranslator* const translator = [] {
    static TAppTranslator instance;
    const auto followProgramName = [] {
      AppTranslator()->RegistryKey = "\\Software\\Brantwell Limited\\" + ConfigManager().AppName();
    };
    instance.RegistryKey = "\\Software\\Brantwell Limited\\" + ConfigManager().AppName();
    ConfigManager().AddConfigUpdatedHandler(followProgramName);
    return &instance;
  }();
  return translator;
}
