// Rule lines of values: the line formats, the dialog's list and states, and
// the main window's command putting one line per chosen value on the
// clipboard.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "app/FormUnitQELValue.h"
#include "tests/app/KeyValueActionsWindow.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace {

TEST(RuleLines, EachCommandHasItsFormatWithNothingEscaped) {
  const QString d = QStringLiteral("<$REG_BHO>"), r = QStringLiteral("HKEY_CURRENT_USER"),
                p = QStringLiteral("\\Software\\\"Q\""), n = QStringLiteral("na\"me"), x = QStringLiteral("na\"me=a\\b");
  const struct {
    RuleCommand command;
    bool withParameter;
    const char* line;
  } cases[] = {
      {RuleCommand::value, false, R"(RegyValue:"<$REG_BHO>",HKEY_CURRENT_USER,"\Software\"Q"","na"me")"},
      {RuleCommand::value, true, R"(RegyValue:"<$REG_BHO>",HKEY_CURRENT_USER,"\Software\"Q"","na"me","na"me=a\b")"},
      {RuleCommand::remove, false, R"(RegyRemove:"<$REG_BHO>",HKEY_CURRENT_USER,"\Software\"Q"","na"me","na"me=a\b")"},
      {RuleCommand::change, false, R"(RegyChange:"<$REG_BHO>",HKEY_CURRENT_USER,"\Software\"Q"","na"me=na"me=a\b")"},
      {RuleCommand::fix, true, R"(RegyFix:"<$REG_BHO>",HKEY_CURRENT_USER,"\Software\"Q"","na"me=na"me=a\b")"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ValueRuleLine(c.command, c.withParameter, d, r, p, n, x), QString::fromLatin1(c.line)) << c.line;
}

TEST(RuleLines, TheDescriptionListHoldsTheItemTypesInOrder) {
  TformOpenQELValue form;
  ASSERT_EQ(form.cbDescription->count(), kRuleItemTypeCount);
  EXPECT_EQ(form.cbDescription->itemText(0), QStringLiteral("<$REG_CLASSID>"));
  EXPECT_EQ(form.cbDescription->itemText(36), QStringLiteral("<$FILE_UNINSTALLER>"));
  EXPECT_EQ(form.cbDescription->itemText(51), QStringLiteral("<$FILE_UNINSTALLER>"));
  EXPECT_EQ(form.cbDescription->itemText(74), QStringLiteral("<$API_WINSOCK>"));
  EXPECT_EQ(form.cbDescription->currentText(), QStringLiteral("enter or select description text here"));
  EXPECT_EQ(kRuleItemTypes[27].displayName, "TCP/IP hijack");
  EXPECT_EQ(kRuleItemTypes[58].displayName, "Alternate data stream");
}

// Remove only for text; a remove chosen for an earlier string stays chosen.
TEST(RuleLines, RemoveIsOfferedForTextOnlyAndChangeKeepsTheUntouchedField) {
  TformOpenQELValue form;
  form.Prepare(platform::HKEY_LOCAL_MACHINE, rdString, QStringLiteral("data"), QStringLiteral("name"),
               QStringLiteral("\\SOFTWARE\\Test"));
  EXPECT_TRUE(form.rbRegyRemove->isEnabled());
  EXPECT_EQ(form.RuleLine(), QStringLiteral(R"(RegyValue:"enter or select description text here",HKEY_LOCAL_MACHINE,"\SOFTWARE\Test","name")"));
  form.rbRegyChange->setChecked(true);
  EXPECT_TRUE(form.RuleLine().endsWith(QStringLiteral(R"("name=name=data")")));
  form.rbRegyRemove->setChecked(true);
  form.Prepare(platform::HKEY_LOCAL_MACHINE, rdBinary, QStringLiteral("01 02"), QStringLiteral("bin"),
               QStringLiteral("\\SOFTWARE\\Test"));
  EXPECT_FALSE(form.rbRegyRemove->isEnabled());
  EXPECT_TRUE(form.RuleLine().startsWith(QStringLiteral("RegyRemove:")));
  EXPECT_EQ(form.lTypeValue->text(), QString::fromStdString(RegDataTypeToStr(rdBinary)));
  saveScreenshot(form, "openqel-value-dialog");
}

using ValueRules = KeyValueActionsWindow;

TEST_F(ValueRules, TwoValuesGiveTwoLinesEachEndingInCrLf) {
  {
    auto key = openKey(platform::HKEY_CURRENT_USER, "Software\\X", Bitness::x32);
    key->WriteString("a", "1");
    key->WriteString("b", "2");
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  selectRows({rowNamed(QStringLiteral("a")), rowNamed(QStringLiteral("b"))});
  // The dialog keeps its state between uses: the first answer sets it.
  TformOpenQELValue& dialog = formOpenQELValue();
  dialog.rbRegyValue->setChecked(true);
  dialog.cbVerifier->setChecked(false);
  auto accept = [](QDialog& d) {
    auto& form = static_cast<TformOpenQELValue&>(d);
    form.cbDescription->setEditText(QStringLiteral("<$REG_AUTORUN>"));
    form.accept();
  };
  onNextModalWindow([&](QDialog& d) {
    onNextModalWindow(accept);
    accept(d);
  });
  form->aValueCreateRuleExecute();
  EXPECT_EQ(QApplication::clipboard()->text(),
            QStringLiteral("RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\X\",\"a\"\r\n"
                           "RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\X\",\"b\"\r\n"));

  // Cancelled windows give an empty clipboard.
  onNextModalWindow([&](QDialog& d) {
    onNextModalWindow([](QDialog& e) { e.reject(); });
    d.reject();
  });
  form->aValueCreateRuleExecute();
  EXPECT_EQ(QApplication::clipboard()->text(), QString());
}

}  // namespace
