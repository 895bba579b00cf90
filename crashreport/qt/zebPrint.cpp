#include "crashreport/qt/zebPrint.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "crashreport/zebCrashUiTypes.h"
#include "crashreport/zebExcept.h"

namespace zeb {

int PrintReportOn(QPrinter& printer, const std::string& report) {
  printer.setFullPage(true);
  QPainter painter;
  if (!painter.begin(&printer)) return 0;
  const QRect page = printer.pageLayout().fullRectPixels(printer.resolution());
  const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
  const double perMm = printer.resolution() / 25.4;
  // 1 cm from the top and 2 cm from the left edge of the paper, measured in
  // the device's own units; the bottom limit keeps twice the top margin free.
  const int offsetX = printable.left() - page.left();
  const int offsetY = printable.top() - page.top();
  const int top = std::max(int(10 * perMm + 0.5), offsetY);
  const int left = std::max(int(20 * perMm + 0.5), offsetX);
  const int right = std::max(int(10 * perMm + 0.5), page.right() - printable.right());
  const int width = page.width() - left - right;
  const int bottom = page.height() - 2 * top;

  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(8);
  font.setWeight(QFont::Normal);
  painter.setFont(QFont(font, &printer));

  QString text = QString::fromUtf8(report.data(), qsizetype(report.size()));
  const QStringList lines = text.split(QStringLiteral("\r\n"));
  int pages = 1;
  int y = top;
  for (QString line : lines) {
    if (line.isEmpty()) line = QStringLiteral(" ");
    const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
    const QRect needed = painter.boundingRect(QRect(left, y, width, 1000000), flags, line);
    if (y + needed.height() > bottom && y > top) {
      if (!printer.newPage()) break;
      ++pages;
      y = top;
    }
    QRect drawn;
    painter.drawText(QRect(left, y, width, needed.height()), flags, line, &drawn);
    y += std::max(drawn.height(), needed.height());
  }
  painter.end();
  return pages;
}

void PrintReportText(const std::string& report, QWidget* parent, const CrashUiSettings* settings) {
  if (IsProcessLocked(250)) {
    QApplication::beep();
    return;
  }
  QPrinter printer(QPrinter::HighResolution);
  const std::string name = settings ? settings->Text("PrintBtnTxt") : std::string();
  printer.setDocName(QString::fromStdString(name.empty() ? "print bug report" : name));
  QPrintDialog dialog(&printer, parent);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintReportOn(printer, report);
}

}  // namespace zeb
