#include "app/FormUnitResourceRequirementsList.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "tests/support/ResourceRequirementsData.h"

namespace {

QStringList rowTexts(const QTreeWidgetItem* item) {
  QStringList out;
  for (int i = 0; i < item->columnCount(); ++i) out << item->text(i);
  return out;
}

const std::vector<std::uint8_t>& sample() {
  static const auto data = testsupport::requirementsList({
      {.option = 9, .type = 1, .share = 1, .first = 8, .second = 1, .minimum = 0x3F8, .maximum = 0x3FF},
      {.option = 8, .type = 1, .share = 3, .first = 8, .second = 1, .minimum = 0x2F8, .maximum = 0x2FF},
      {.option = 0, .type = 2, .share = 1, .first = 4, .second = 4},
      {.option = 8, .type = 2, .share = 1, .first = 3, .second = 3},
      {.option = 0, .type = 3, .share = 3, .first = 0x1000, .second = 0x1000, .minimum = 0xFEB00000,
       .maximum = 0xFEBFFFFF},
      {.option = 1, .type = 4, .share = 0, .first = 2, .second = 2},
  });
  return data;
}

}  // namespace

TEST(FormResourceRequirementsList, RowsAndColumnsAsTheListShowsThem) {
  TformEditResourceRequirementsList form;
  const QStringList captions = {"Type", "Minimum Address", "Maximum Address", "Length", "Align", "Options"};
  const int widths[] = {64, 66, 66, 28, 28, 80};
  ASSERT_EQ(form.lvList->columnCount(), captions.size());
  for (int i = 0; i < captions.size(); ++i) {
    EXPECT_EQ(form.lvList->headerItem()->text(i), captions[i]);
    EXPECT_EQ(form.lvList->columnWidth(i), widths[i]);
  }
  form.Fill(sample());
  ASSERT_EQ(form.lvList->topLevelItemCount(), 6);
  EXPECT_EQ(rowTexts(form.lvList->topLevelItem(0)),
            QStringList({"Port", "000003F8", "000003FF", "08", "01", "Alternative Preferred Device-exclusive "}));
  EXPECT_EQ(rowTexts(form.lvList->topLevelItem(2)), QStringList({"Interrupt", "0004", "0004", "", "", "Device-exclusive "}));
  for (const QLabel* shown : {form.lblInterfaceType, form.lblBusNumber, form.lblSlotNumber})
    EXPECT_EQ(shown->text(), QStringLiteral("?"));

  // The window is reused: data it cannot show leaves no row of the last value.
  auto damaged = sample();
  damaged.pop_back();
  form.Fill(damaged);
  EXPECT_EQ(form.lvList->topLevelItemCount(), 0);
}

TEST(FormResourceRequirementsList, Screenshot) {
  TformEditResourceRequirementsList form;
  form.Fill(sample());
  form.show();
  saveScreenshot(form, "formEditResourceRequirementsList");
}
