#include "app/HtmlHelpAPI.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

bool desktopOpener(const QString& file) { return QDesktopServices::openUrl(QUrl::fromLocalFile(file)); }

HelpOpener& opener() {
  static HelpOpener current = desktopOpener;
  return current;
}

QString& helpFile() {
  static QString file;
  return file;
}

}  // namespace

void setHelpOpener(HelpOpener o) { opener() = o ? std::move(o) : HelpOpener(desktopOpener); }

QString applicationHelpFile() { return helpFile(); }
void setApplicationHelpFile(const QString& file) { helpFile() = file; }

int CallHtmlHelp(QWidget* /*window*/, const QString& file, unsigned /*command*/, quintptr /*data*/) {
  if (file.isEmpty() || !QFileInfo(file).isFile()) return 0;
  return opener()(QFileInfo(file).absoluteFilePath()) ? 1 : 0;
}

void ShowHelpContents(QWidget* window) { CallHtmlHelp(window, applicationHelpFile(), HH_DISPLAY_TOC, 0); }
void ShowHelpIndex(QWidget* window) { CallHtmlHelp(window, applicationHelpFile(), HH_DISPLAY_INDEX, 0); }
