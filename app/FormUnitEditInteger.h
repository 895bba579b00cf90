#pragma once

// The numeric editor: one number shown as decimal, hex and binary text, kept
// in step while the user types into any of the three, in a 32-bit and a
// 64-bit mode.

#include <QDialog>

#include <cstdint>
#include <optional>

class QKeyEvent;
class QLineEdit;
class QPushButton;

// The three texts of a number. With 4 bytes: the low 32 bits as an unsigned
// decimal, eight hex digits and binary digits; with 8: a signed decimal,
// sixteen hex digits and binary digits of the value without its sign bit.
struct IntegerTexts {
  QString decimal, hex, binary;
};
IntegerTexts IntegerFieldTexts(std::int64_t value, int byteCount);
// A signed 64-bit decimal ("-" or "+" then digits, nothing else), or none.
std::optional<std::int64_t> ParseDecimalText(const QString& text);
// What the hex and binary fields stand for. Every character that is no digit
// counts as 0. With 4 bytes the result is the 32-bit number zero-extended.
std::int64_t HexFieldValue(const QString& text, int byteCount);
std::int64_t BinaryFieldValue(const QString& text, int byteCount);

enum class IntegerField { Decimal, Hex, Binary };
// Whether a key press may reach the field. Characters pass only when the field
// takes them (digits; hex also "A" to "Z", upper case only; binary "0" and
// "1"); copy, cut and paste, backspace, tab and Enter always pass. Keys that
// type no character (arrows, Home, End, Delete, Escape for the dialog) pass
// too. Pasted text is never filtered.
bool IntegerFieldAcceptsKey(IntegerField field, const QKeyEvent& event);

class TformEditInteger : public QDialog {
  Q_OBJECT
public:
  explicit TformEditInteger(QWidget* parent = nullptr);

  // Show the window modally and return the modal result; `value` receives the
  // number in the hex field whatever the result.
  int Execute32(const QString& valueName, std::uint32_t& value);
  int Execute64(const QString& valueName, std::int64_t& value);
  // The filling the two do before showing: sets the mode and the three fields.
  void Fill(const QString& valueName, std::int64_t value, int byteCount);
  // The number in the hex field (zero-extended in 32-bit mode).
  std::int64_t Value() const;

  QLineEdit* editValue = nullptr;
  QLineEdit* editDataDecimal = nullptr;
  QLineEdit* editDataHex = nullptr;
  QLineEdit* editDataBinary = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;

  int FByteCount = 4;
  // Set while one field writes the other two, so their change handlers do not
  // write back.
  bool FUpdating = false;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void editDataDecimalChange();
  void editDataHexChange();
  void editDataBinaryChange();
  // Writes the texts of `value` into every field but `source`, under FUpdating.
  void showInOthers(std::int64_t value, const QLineEdit* source);
};
