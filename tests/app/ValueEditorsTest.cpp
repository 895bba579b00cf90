#include "app/ValueEditors.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "app/FormUnitEditInteger.h"
#include "app/FormUnitResourceRequirementsList.h"
#include "app/FormUnitEditString.h"
#include "app/UiSeams.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/RecordingValueEditors.h"
#include "tests/support/ResourceRequirementsData.h"

TEST(ValueEditors, ARecorderAnswersInPlaceOfTheWindows) {
  RecordingValueEditors recorder;
  recorder.result = mrCancel;
  recorder.text = QStringLiteral("typed");
  setValueEditors(&recorder);
  QString text = QStringLiteral("old");
  EXPECT_EQ(valueEditors().editString(QStringLiteral("Name"), text), mrCancel);
  EXPECT_EQ(text, QStringLiteral("typed"));
  TRegDataType kind = rdUnknown;
  recorder.kind = rdExpandString;
  EXPECT_TRUE(valueEditors().changeValueType(QStringLiteral("Name"), QStringLiteral("x"), rdString, kind));
  EXPECT_EQ(kind, rdExpandString);
  EXPECT_EQ(recorder.calls, QStringList({"string Name old", "type Name x 2"}));
  setValueEditors(nullptr);
  EXPECT_NE(&valueEditors(), &recorder);
}

// Without windows set, each call makes the window it needs.
TEST(ValueEditors, TheDefaultShowsARealWindowForEachCall) {
  setValueEditors(nullptr);
  QString title;
  onNextModalWindow([&](QDialog& window) {
    title = window.windowTitle();
    auto* hex = window.findChild<QLineEdit*>(QStringLiteral("editDataHex"));
    ASSERT_NE(hex, nullptr);
    hex->clear();
    QTest::keyClicks(hex, QStringLiteral("FF"));
    window.findChild<QPushButton*>(QStringLiteral("bnOK"))->click();
  });
  std::uint32_t value = 1;
  EXPECT_EQ(valueEditors().editInteger32(QStringLiteral("Count"), value), mrOk);
  EXPECT_EQ(value, 0xFFu);
  EXPECT_EQ(title, QStringLiteral("Change numeric data"));
}

// The windows are made once; each call refills the same window.
TEST(ValueEditors, WindowsAreReused) {
  ValueEditorWindows windows;
  QTreeWidget* list = windows.formEditResourceRequirementsList().lvList;
  int rows = -1;
  onNextModalWindow([&](QDialog&) { rows = list->topLevelItemCount(); });
  windows.showResourceRequirementsList(testsupport::requirementsList({{.type = 1}, {.type = 2}}));
  EXPECT_EQ(rows, 2);
  onNextModalWindow([&](QDialog&) { rows = list->topLevelItemCount(); });
  windows.showResourceRequirementsList(std::vector<std::uint8_t>(39));
  EXPECT_EQ(rows, 0);

  QString text = QStringLiteral("one");
  onNextModalWindow([&](QDialog& window) { EXPECT_EQ(&window, &windows.formEditString()); });
  EXPECT_EQ(windows.editString(QStringLiteral("A"), text), mrCancel);
}
