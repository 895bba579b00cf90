#pragma once

// The bug report's details: a tab per part of the report (general, call
// stacks, and each further section), the current tab's text parsed into a
// table or shown as plain text. Only the current tab holds a view, and it is
// rebuilt only when its text changed, so a report that fills in while the
// user reads keeps the selection and scroll position of an unchanged page.

#include <QTabWidget>

#include <string>

#include "crashreport/zebCrashUiDetails.h"

class QTableView;

namespace zeb {

class TDetailsView : public QTabWidget {
  Q_OBJECT
public:
  explicit TDetailsView(QWidget* parent = nullptr);

  // Brings the tabs in line with the report's sections and rebuilds the
  // current page when its text changed.
  void SetReport(const CrashUiReport& report);
  const CrashUiReport& Report() const { return report_; }

  // The current page's view: a QTableView or a read-only QPlainTextEdit;
  // null when there is none.
  QWidget* CurrentView() const { return view_; }
  const DetailPage& CurrentPage() const { return page_; }
  // The cell texts of the current table as shown.
  QString CellText(int row, int column) const;

private:
  void SyncTabs();
  void ShowCurrentTab();

  CrashUiReport report_;
  int shownTab_ = -1;
  std::string shownText_;
  QWidget* view_ = nullptr;
  DetailPage page_;
};

// A report colour (0x00BBGGRR) as a Qt colour.
QColor ReportColour(std::uint32_t colourRef);

}  // namespace zeb
