// The details view: tabs from the report's sections, pages parsed into
// tables, and pages rebuilt only when their text changed.

#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "crashreport/qt/zebDetailsView.h"
#include "tests/app/Screenshot.h"
#include "tests/crashreportqt/CrashUiFixture.h"

using namespace zeb;
using crashuitest::A;
using crashuitest::SampleReport;

TEST(zebDetailsView, PendingPagesAreReplacedWhenComplete) {
  TDetailsView view;
  view.resize(700, 400);
  view.SetReport(SampleReport(false));
  view.show();
  view.setCurrentIndex(5);
  ASSERT_EQ(view.tabText(5), "cpu regs");
  ASSERT_NE(view.CurrentView(), nullptr);
  EXPECT_NE(qobject_cast<QPlainTextEdit*>(view.CurrentView()), nullptr);  // ">> will be ..." as text
  QWidget* pending = view.CurrentView();

  // Another section's change leaves the page as it is.
  CrashUiReport report = SampleReport(false);
  report.sections[2].second += "\r\n00007F0099000000  libz.so        1.2.13.0  /usr/lib/libz.so";
  view.SetReport(report);
  EXPECT_EQ(view.CurrentView(), pending);

  view.SetReport(SampleReport(true));
  ASSERT_NE(qobject_cast<QTableView*>(view.CurrentView()), nullptr);
  EXPECT_EQ(view.CellText(2, 0), "RIP");
  EXPECT_EQ(view.CellText(2, 1), "0000000000401010");

  view.setCurrentIndex(1);
  auto* table = qobject_cast<QTableView*>(view.CurrentView());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(view.CellText(1, 0), QString::fromStdString(A(0x401010)));
  EXPECT_EQ(view.CellText(1, 6), "SegvWrite");
  saveScreenshot(view, "details-call-stacks");

  // The same text again: the same view, selection kept.
  table->selectRow(1);
  view.SetReport(SampleReport(true));
  EXPECT_EQ(view.CurrentView(), table);
  EXPECT_TRUE(table->selectionModel()->isRowSelected(1, {}));
}

TEST(zebDetailsView, EveryPageHasItsParser) {
  TDetailsView view;
  view.resize(700, 400);
  view.SetReport(SampleReport(true));
  view.show();
  view.setCurrentIndex(0);
  EXPECT_EQ(view.CellText(0, 0), "date/time");
  EXPECT_EQ(view.CellText(0, 1), "2026-12-11, 05:30:12, 120ms");
  saveScreenshot(view, "details-general");
  view.setCurrentIndex(7);
  ASSERT_EQ(view.tabText(7), "disasm");
  const DetailPage& disasm = view.CurrentPage();
  ASSERT_EQ(disasm.items.size(), 4u);
  EXPECT_EQ(disasm.items[2].colour, kRowMarker);
  auto* table = qobject_cast<QTableView*>(view.CurrentView());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->model()->index(2, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(0xFF, 0xD0, 0xD0));
  saveScreenshot(view, "details-disasm");
  view.setCurrentIndex(6);
  EXPECT_EQ(view.CurrentPage().columns.size(), 3u);
  EXPECT_EQ(view.CellText(0, 2), "..@.......4.....");
  view.setCurrentIndex(2);
  EXPECT_EQ(view.CellText(1, 1), "libc.so.6");
  saveScreenshot(view, "details-modules");

  // One thread only: "call stack"; tabs of vanished sections go.
  CrashUiReport one = SampleReport(true);
  one.sections.erase(one.sections.begin() + 1);
  one.sections.pop_back();
  view.SetReport(one);
  EXPECT_EQ(view.tabText(1), "call stack");
  EXPECT_EQ(view.count(), 7);
}
