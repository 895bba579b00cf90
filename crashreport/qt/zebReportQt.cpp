#include "crashreport/qt/zebReportQt.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

#include <memory>
#include <mutex>

#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebSysInfo.h"

namespace zeb {

namespace {

struct DisplayMode {
  std::mutex lock;
  std::string text;
};

std::shared_ptr<DisplayMode>& displayMode() {
  static auto mode = std::make_shared<DisplayMode>();
  return mode;
}

void UpdateDisplayMode() {
  std::string text;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // Device pixels, as the screen's own mode counts them.
    const QSize size = screen->size() * screen->devicePixelRatio();
    text = std::to_string(size.width()) + "x" + std::to_string(size.height()) + ", " +
           std::to_string(screen->depth()) + " bit";
  }
  std::lock_guard lock(displayMode()->lock);
  displayMode()->text = text;
}

}  // namespace

void InstallDisplayModeSource() {
  UpdateDisplayMode();
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app) {
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, app, [] { UpdateDisplayMode(); });
    QObject::connect(app, &QGuiApplication::screenAdded, app, [] { UpdateDisplayMode(); });
    QObject::connect(app, &QGuiApplication::screenRemoved, app, [] { UpdateDisplayMode(); });
  }
  std::weak_ptr<DisplayMode> weak = displayMode();
  SetDisplayModeSource([weak] {
    const auto mode = weak.lock();
    if (!mode) return std::string();
    std::lock_guard lock(mode->lock);
    return mode->text;
  });
}

std::string AskBugReportSavePath(const std::string& folder, const std::string& fileName, const std::string& title,
                                 QWidget* parent) {
  const QString start = QString::fromStdString(folder) + QString::fromStdString(fileName);
  QString chosen =
      QFileDialog::getSaveFileName(parent, QString::fromStdString(title), start, QStringLiteral("*.txt (*.txt)"));
  if (!chosen.isEmpty() && QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".txt");
  return chosen.toStdString();
}

}  // namespace zeb
