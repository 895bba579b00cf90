#pragma once

// The window that changes a value's kind, and the table of the kind changes
// allowed, which the main window's enabling rule reads too.

#include <QDialog>

#include <array>
#include <cstdint>

#include "core/bwlRegistry.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// For each TRegDataType, the set of kinds a value of that kind may be changed
// to: bit n stands for kind n. Strings change among the string kinds, numbers
// among the number kinds; byte-shaped kinds keep their kind.
inline constexpr std::array<std::uint16_t, kRegDataTypeCount> ValueTypeTargets = {
    0x0000, 0x0000, 0x0208, 0x0204, 0x0000, 0xE0C0, 0xE0A0, 0xE060,
    0x0000, 0x000C, 0x0000, 0x0000, 0x0000, 0xC0E0, 0xA0E0, 0x60E0};

// True when a value of this kind (a TRegDataType ordinal) may change its kind
// at all; false for numbers that are no kind.
bool CanChangeValueType(int kind);

class TformValueType : public QDialog {
  Q_OBJECT
public:
  explicit TformValueType(QWidget* parent = nullptr);

  // Shows the window modally. True only when OK ended it with an entry chosen;
  // then `newKind` is the kind that entry names. Entries are names, so the
  // entry that stands for rdCardinal reads "REG_DWORD" and gives rdInteger.
  bool Execute(const QString& valueName, const QString& dataText, TRegDataType currentKind,
               TRegDataType& newKind);
  // The filling Execute does before showing: the entries of the current
  // kind's targets in kind order, none chosen, OK disabled until one is.
  void Fill(const QString& valueName, const QString& dataText, TRegDataType currentKind);
  // The kind the chosen entry names; false when none is chosen.
  bool ChosenKind(TRegDataType& kind) const;

  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* editValue = nullptr;
  QLineEdit* editData = nullptr;
  QLineEdit* editTypeCurrent = nullptr;
  QComboBox* cbTypeNew = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;
};
