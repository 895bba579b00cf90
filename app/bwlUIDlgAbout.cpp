#include "app/bwlUIDlgAbout.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlPEVersions.h"
#include "core/bwlWinAPIWinINet.h"
#include "platform/AtomicFile.h"
#include "platform/ErrorText.h"
#include "platform/ShellFolders.h"

QString UpdateFileName;

namespace {

// The answer file's value of `name` (names compared without regard to case;
// the first line of the name counts); empty when it has none.
QString valueOf(const std::vector<std::string>& lines, const char* name) {
  const QString wanted = QString::fromLatin1(name);
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (ansiToQString(std::string_view(line).substr(0, eq)).compare(wanted, Qt::CaseInsensitive) == 0)
      return ansiToQString(std::string_view(line).substr(eq + 1));
  }
  return {};
}

QString normalisedVersion(QString v) { return v.replace(QStringLiteral(", "), QStringLiteral(".")).replace(',', '.'); }

// The download goes through this stream into the atomic writer, so the file
// appears under its name only when it is complete. It only appends: a seek
// moves the reported position (the client rewinds when done), and a write
// anywhere but at the end fails.
class AtomicFileStream : public uni::TUniStream {
public:
  explicit AtomicFileStream(platform::AtomicFile& file) : file_(file) {}
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t count) override {
    if (position_ != size_ || error_ != 0) return 0;
    error_ = file_.write(buffer, count);
    if (error_ != 0) return 0;
    size_ += static_cast<std::int64_t>(count);
    position_ = size_;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, uni::TSeekOrigin origin) override {
    const std::int64_t base = origin == uni::soBeginning ? 0 : origin == uni::soCurrent ? position_ : size_;
    position_ = std::max<std::int64_t>(0, base + offset);
    return position_;
  }
  std::int64_t Size() override { return size_; }
  int error() const { return error_; }

private:
  platform::AtomicFile& file_;
  std::int64_t size_ = 0, position_ = 0;
  int error_ = 0;
};

QString errnoText(int err) {
  return QString::fromStdString(platform::systemErrorText(platform::errnoToWin32Error(err)));
}

QPixmap logoPixmap() {
  QPixmap pixmap(72, 40);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x1F, 0x4E, 0x79));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(0.5, 0.5, 71, 39), 6, 6);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(18);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("BWL"));
  return pixmap;
}

}  // namespace

QString UpdateServer() { return qEnvironmentVariable("HIVESCOPE_UPDATE_SERVER").trimmed(); }

int CompareVersionTexts(const QString& a, const QString& b) {
  const QStringList pa = a.split('.'), pb = b.split('.');
  for (qsizetype i = 0; i < std::max(pa.size(), pb.size()); ++i) {
    const QString x = i < pa.size() ? pa[i] : QString(), y = i < pb.size() ? pb[i] : QString();
    const auto isNumber = [](const QString& s) {
      return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= '0' && c <= '9'; });
    };
    int r;
    if (isNumber(x) && isNumber(y)) {
      // By value, whatever the length: leading zeros go, then the longer is larger.
      auto strip = [](const QString& s) {
        qsizetype n = 0;
        while (n + 1 < s.size() && s[n] == '0') ++n;
        return s.mid(n);
      };
      const QString sx = strip(x), sy = strip(y);
      r = sx.size() != sy.size() ? (sx.size() < sy.size() ? -1 : 1) : sx.compare(sy);
    } else {
      r = x.compare(y, Qt::CaseInsensitive);
    }
    if (r != 0) return r < 0 ? -1 : 1;
  }
  return 0;
}

TdlgAbout::TdlgAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgAbout"));
  setWindowTitle(QStringLiteral("About ..."));
  auto label = [this](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  imgIcon = label("imgIcon", QString());
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_ComputerIcon);
  imgIcon->setPixmap(icon.pixmap(48, 48));
  imgIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  imgBWLLogo = label("imgBWLLogo", QString());
  imgBWLLogo->setPixmap(logoPixmap());
  labelProduct = label("labelProduct", QStringLiteral("A quality BWL product"));
  QFont bold = labelProduct->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  labelProduct->setFont(bold);
  labelVersion = label("labelVersion", QStringLiteral("Version unknown"));
  labelDescription = label("labelDescription", QString());
  labelDescription->setWordWrap(true);
  labelLegal = label("labelLegal", QString());
  labelLegal->setWordWrap(true);

  auto button = [this](const char* name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  bnOk = button("bnOk", QStringLiteral("OK"));
  bnOk->setDefault(true);
  bnTranslations = button("bnTranslations", QStringLiteral("Translations"));
  bnTranslations->setVisible(false);
  bnUpdates = button("bnUpdates", QStringLiteral("Updates"));
  bnUpdates->setVisible(false);

  auto* texts = new QVBoxLayout;
  texts->addWidget(labelProduct);
  texts->addWidget(labelVersion);
  texts->addSpacing(8);
  texts->addWidget(labelDescription);
  texts->addWidget(labelLegal);
  texts->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(imgIcon);
  top->addSpacing(8);
  top->addLayout(texts, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(imgBWLLogo);
  buttons->addStretch();
  buttons->addWidget(bnTranslations);
  buttons->addWidget(bnUpdates);
  buttons->addWidget(bnOk);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);
  resize(420, 220);

  connect(bnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(bnTranslations, &QPushButton::clicked, this, &TdlgAbout::bnTranslationsClick);
  connect(bnUpdates, &QPushButton::clicked, this, &TdlgAbout::CheckForUpdates);
}

void TdlgAbout::SetUpdateFile(const QString& fileName) {
  FUpdateFile = fileName;
  bnUpdates->setVisible(!FUpdateFile.isEmpty() && !UpdateServer().isEmpty());
}

void TdlgAbout::FillFromVersionResource() {
  const std::string program = ProgramFileName();
  if (GetVersionTranslationCount(program) < 1) return;
  std::vector<std::string> lines;
  if (GetVersionStrings(program, 0, lines)) FillFromVersionStrings(lines);
}

void TdlgAbout::FillFromVersionStrings(const std::vector<std::string>& lines) {
  FOwnVersion = normalisedVersion(valueOf(lines, "ProductVersion"));
  const QString product = valueOf(lines, "ProductName");
  setWindowTitle(QStringLiteral("About %1").arg(FTitle.isEmpty() ? product : FTitle));
  labelProduct->setText(product);
  labelVersion->setText(QStringLiteral("Version %1").arg(FOwnVersion));
  labelDescription->setText(valueOf(lines, "FileDescription") + ' ' +
                            normalisedVersion(valueOf(lines, "FileVersion")));
  labelLegal->setText(valueOf(lines, "LegalCopyright") + '\n' + valueOf(lines, "LegalTrademarks"));
  FTranslators.clear();
  // One language a line: "German=names".
  FTranslators = valueOf(lines, "Translators").split(QRegularExpression(QStringLiteral("\r\n|\r|\n")), Qt::SkipEmptyParts);
  bnTranslations->setVisible(!FTranslators.isEmpty());
}

void TdlgAbout::bnTranslationsClick() {
  QString text;
  for (const QString& line : FTranslators) {
    const qsizetype eq = line.indexOf('=');
    text += QStringLiteral("%1: %2").arg(line.left(eq), eq < 0 ? QString() : line.mid(eq + 1)) + '\n';
  }
  messageBoxes().showMessage(this, text);
}

void TdlgAbout::CheckForUpdates() {
  const QString searchFailed = QStringLiteral("An unknown error occured while trying to search for updates:\n%1");
  QString url, fileName, current, notify;
  try {
    SetInternetAgentName(qStringToAnsi(labelProduct->text()));
    std::vector<std::string> answer;
    std::uint32_t error = 0;
    const QString server = UpdateServer();
    if (!DownloadToStrings(qStringToAnsi(QStringLiteral("http://%1/updates/%2").arg(server, FUpdateFile)), answer,
                           error)) {
      messageBoxes().messageDlg(this, searchFailed.arg(QString::fromStdString(InternetErrorText(error))), jmError,
                                buttonBit(cbOK));
      return;
    }
    current = valueOf(answer, "CurrentVersion");
    notify = valueOf(answer, "NotifyText");
    if (CompareVersionTexts(current, FOwnVersion) <= 0) {
      messageBoxes().messageDlg(this, QStringLiteral("Nothing to update - you're still using the newest version."),
                                jmInformation, buttonBit(cbOK));
      return;
    }
    url = valueOf(answer, "URL");
    if (url.isEmpty()) {
      messageBoxes().messageDlg(this, QStringLiteral("There's a new version, %1, available.\n%2").arg(current, notify),
                                jmWarning, buttonBit(cbOK));
      return;
    }
    fileName = url.mid(url.lastIndexOf('/') + 1);
    // A program is saved like any other file: nothing downloaded is ever run.
    const QString question = QStringLiteral("There's a new version, %1, available.\n%2\nDo you want to download it?");
    if (messageBoxes().messageDlg(this, question.arg(current, notify), jmConfirmation,
                                  buttonBit(cbYes) | buttonBit(cbNo)) != mrYes)
      return;
  } catch (const std::exception& e) {
    messageBoxes().messageDlg(this, searchFailed.arg(QString::fromLocal8Bit(e.what())), jmError, buttonBit(cbOK));
    return;
  }
  downloadUpdate(url, fileName);
}

void TdlgAbout::downloadUpdate(const QString& url, const QString& fileName) {
  const QString failed = QStringLiteral("An unknown error occured while trying to download the update:\n%1");
  auto fail = [&](const QString& why) { messageBoxes().messageDlg(this, failed.arg(why), jmError, buttonBit(cbOK)); };
  try {
    // The desktop folder may be the home folder: a name beginning with a dot
    // could be a shell's or a program's settings file there.
    if (fileName.isEmpty() || fileName.startsWith(u'.')) {
      fail(QString::fromStdString(platform::systemErrorText(123)));  // ERROR_INVALID_NAME
      return;
    }
    const std::filesystem::path target =
        std::filesystem::path(platform::specialFolderPath(platform::CSIDL_DESKTOP)) / qStringToAnsi(fileName);
    // Said before anything is downloaded; the commit below checks again.
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
      fail(errnoText(EEXIST));
      return;
    }
    platform::AtomicFile file;
    if (int err = file.open(target); err != 0) {
      fail(errnoText(err));
      return;
    }
    AtomicFileStream stream(file);
    TkxInternetHTTP http;
    if (!http.Get(qStringToAnsi(url), stream)) {
      file.discard();
      fail(stream.error() != 0 ? errnoText(stream.error()) : QString::fromStdString(InternetErrorText(http.FLastError)));
      return;
    }
    // Never over an existing file: whatever lies there stays as it is. The
    // new file is never executable, since the temporary file is made without
    // those bits.
    if (int err = file.commitNew(); err != 0) {
      fail(errnoText(err));
      return;
    }
    messageBoxes().messageDlg(
        this, QStringLiteral("The update has been downloaded and saved as %1 on your desktop.").arg(fileName),
        jmInformation, buttonBit(cbOK));
  } catch (const std::exception& e) {
    fail(QString::fromLocal8Bit(e.what()));
  }
}

void TdlgAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FCheckAtShow && !checkedAtShow_) {
    checkedAtShow_ = true;
    QTimer::singleShot(0, this, &TdlgAbout::CheckForUpdates);
  }
}

void ShowAboutBox(const QString& title, bool checkAtShow, QWidget* parent) {
  TdlgAbout box(parent);
  box.FTitle = title;
  box.SetUpdateFile(UpdateFileName);
  box.FillFromVersionResource();
  box.FCheckAtShow = checkAtShow;
  box.exec();
}
