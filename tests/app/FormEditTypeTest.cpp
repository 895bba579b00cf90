#include "app/FormUnitEditType.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <initializer_list>

#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace {

QStringList entries(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

}  // namespace

// The allowed changes, kind by kind: strings among the string kinds, numbers
// among the number kinds, and nothing for the others.
TEST(FormEditType, ValueTypeTargetsHoldTheAllowedChanges) {
  const std::initializer_list<TRegDataType> numbers = {rdInteger, rdLittleEndianInteger, rdBigEndianInteger,
                                                       rdInt64,   rdLittleEndianInt64,   rdCardinal};
  const std::initializer_list<TRegDataType> strings = {rdString, rdExpandString, rdMultiString};
  std::array<std::uint16_t, kRegDataTypeCount> expected{};
  for (const auto* group : {&numbers, &strings})
    for (TRegDataType from : *group)
      for (TRegDataType to : *group)
        if (from != to) expected[from] |= static_cast<std::uint16_t>(1u << to);
  EXPECT_EQ(ValueTypeTargets, expected);
  for (int kind = -1; kind <= kRegDataTypeCount; ++kind) {
    SCOPED_TRACE(kind);
    const bool inGroup = kind >= 0 && kind < kRegDataTypeCount && expected[kind] != 0;
    EXPECT_EQ(CanChangeValueType(kind), inGroup);
  }
}

TEST(FormEditType, EntriesAreTheTargetsNamesInKindOrder) {
  TformValueType form;
  struct Case {
    TRegDataType current;
    QStringList names;
  };
  const Case cases[] = {
      {rdInteger,
       {"REG_DWORD_LITTLE_ENDIAN", "REG_DWORD_BIG_ENDIAN", "REG_QWORD", "REG_QWORD_LITTLE_ENDIAN", "REG_DWORD"}},
      {rdString, {"REG_EXPAND_SZ", "REG_MULTI_SZ"}},
      {rdMultiString, {"REG_SZ", "REG_EXPAND_SZ"}},
      {rdBinary, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.current));
    form.Fill(QStringLiteral("Value"), QStringLiteral("data"), c.current);
    EXPECT_EQ(entries(form.cbTypeNew), c.names);
    EXPECT_EQ(form.cbTypeNew->currentIndex(), -1);
    EXPECT_FALSE(form.bnOK->isEnabled());
    TRegDataType chosen = rdUnknown;
    EXPECT_FALSE(form.ChosenKind(chosen));
  }
}

TEST(FormEditType, ExecuteGivesTheChosenEntrysKindOnlyWithOk) {
  TformValueType form;
  struct Case {
    const char* what;
    int entry;  // -1: none chosen
    bool ok;
    bool result;
    TRegDataType kind;
  };
  const Case cases[] = {
      // The rdCardinal entry is named "REG_DWORD", which reads back as rdInteger.
      {"REG_DWORD entry", 4, true, true, rdInteger},
      {"REG_QWORD entry", 2, true, true, rdInt64},
      {"chosen, then Cancel", 2, false, false, rdUnknown},
      {"none chosen", -1, true, false, rdUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TRegDataType kind = rdUnknown;
    bool okBefore = true, okAfter = false;
    QString current;
    onNextModalWindow([&](QDialog&) {
      current = form.editTypeCurrent->text();
      okBefore = form.bnOK->isEnabled();
      if (c.entry >= 0) form.cbTypeNew->setCurrentIndex(c.entry);
      okAfter = form.bnOK->isEnabled();
      // A click on a disabled button does nothing; the window stays open.
      (c.ok ? form.bnOK : form.bnCancel)->click();
    });
    EXPECT_EQ(form.Execute(QStringLiteral("Start"), QStringLiteral("0x00000002 (2)"), rdInteger, kind), c.result);
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(current, QStringLiteral("REG_DWORD"));
    // Every showing starts with OK disabled, also after a choice the last time.
    EXPECT_FALSE(okBefore);
    EXPECT_EQ(okAfter, c.entry >= 0);
  }
}

TEST(FormEditType, Screenshot) {
  TformValueType form;
  form.Fill(QStringLiteral("Path"), QStringLiteral("%SystemRoot%\\system32"), rdExpandString);
  form.show();
  form.cbTypeNew->setCurrentIndex(1);
  saveScreenshot(form, "formValueType");
}
