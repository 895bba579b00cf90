#include "app/FormUnitEditInteger.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <charconv>

#include "app/QtText.h"
#include "app/ValueEditorParts.h"
#include "core/kxStrings.h"

namespace {

// One byte per character, so a pasted character that is no digit takes one
// digit position, as a typed one does.
std::string digitsOf(const QString& text) { return text.toLatin1().toStdString(); }

bool fieldTakes(IntegerField field, QChar c) {
  const char16_t u = c.unicode();
  switch (field) {
    case IntegerField::Decimal: return u >= u'0' && u <= u'9';
    case IntegerField::Hex: return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z');
    case IntegerField::Binary: return u == u'0' || u == u'1';
  }
  return false;
}

}  // namespace

IntegerTexts IntegerFieldTexts(std::int64_t value, int byteCount) {
  if (byteCount == 8) {
    return {QString::number(value), QString::fromLatin1(Int64ToHex(value)), QString::fromLatin1(Int64ToBin(value))};
  }
  const auto low = static_cast<std::uint32_t>(value);
  return {QString::number(low), QString::fromLatin1(DWordToHex(low)), QString::fromLatin1(IntToBin(low))};
}

std::optional<std::int64_t> ParseDecimalText(const QString& text) {
  const std::string digits = digitsOf(text);
  std::string_view view = digits;
  // from_chars takes a "-" but no "+".
  if (view.size() > 1 && view.front() == '+' && view[1] != '-') view.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error != std::errc() || end != view.data() + view.size() || view.empty()) return std::nullopt;
  return value;
}

std::int64_t HexFieldValue(const QString& text, int byteCount) {
  const std::string digits = digitsOf(text);
  return byteCount == 8 ? HexToInt64(digits) : static_cast<std::uint32_t>(HexToInt(digits));
}

std::int64_t BinaryFieldValue(const QString& text, int byteCount) {
  const std::string digits = digitsOf(text);
  return byteCount == 8 ? BinToInt64(digits) : static_cast<std::uint32_t>(BinToInt(digits));
}

bool IntegerFieldAcceptsKey(IntegerField field, const QKeyEvent& event) {
  // Ctrl+V arrives as the key V with the text "v", so the clipboard keys are
  // known by their sequences, not by a control character.
  if (event.matches(QKeySequence::Copy) || event.matches(QKeySequence::Cut) || event.matches(QKeySequence::Paste))
    return true;
  switch (event.key()) {
    case Qt::Key_Backspace: case Qt::Key_Tab: case Qt::Key_Backtab: case Qt::Key_Return: case Qt::Key_Enter:
    case Qt::Key_Delete: case Qt::Key_Escape:
      return true;
    default:
      break;
  }
  const QString text = event.text();
  if (text.isEmpty()) return true;
  for (const QChar c : text)
    if (!fieldTakes(field, c)) return false;
  return true;
}

TformEditInteger::TformEditInteger(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formEditInteger"));
  setWindowTitle(QStringLiteral("Change numeric data"));
  editValue = makeReadOnlyField(this, "editValue");
  auto makeField = [this](const char* name) {
    auto* field = new QLineEdit(this);
    field->setObjectName(QString::fromLatin1(name));
    field->installEventFilter(this);
    return field;
  };
  editDataDecimal = makeField("editDataDecimal");
  editDataHex = makeField("editDataHex");
  editDataBinary = makeField("editDataBinary");

  auto* grid = new QGridLayout;
  const struct {
    const char* caption;
    QLineEdit* field;
  } rows[] = {{"Name of value:", editValue},
              {"Value data (decimal):", editDataDecimal},
              {"Value data (hex):", editDataHex},
              {"Value data (binary):", editDataBinary}};
  int row = 0;
  for (const auto& r : rows) {
    auto* label = new QLabel(QString::fromLatin1(r.caption), this);
    label->setBuddy(r.field);
    grid->addWidget(label, row, 0);
    grid->addWidget(r.field, row, 1);
    ++row;
  }
  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addStretch(1);
  top->addLayout(buttons);
  resize(480, 200);

  connect(editDataDecimal, &QLineEdit::textChanged, this, &TformEditInteger::editDataDecimalChange);
  connect(editDataHex, &QLineEdit::textChanged, this, &TformEditInteger::editDataHexChange);
  connect(editDataBinary, &QLineEdit::textChanged, this, &TformEditInteger::editDataBinaryChange);
}

void TformEditInteger::Fill(const QString& valueName, std::int64_t value, int byteCount) {
  FByteCount = byteCount;
  editValue->setText(ShownKeyName(valueName));
  // The three texts already agree; showing the window lets the fields talk again.
  FUpdating = true;
  const IntegerTexts texts = IntegerFieldTexts(value, FByteCount);
  editDataDecimal->setText(texts.decimal);
  editDataHex->setText(texts.hex);
  editDataBinary->setText(texts.binary);
}

std::int64_t TformEditInteger::Value() const { return HexFieldValue(editDataHex->text(), FByteCount); }

int TformEditInteger::Execute32(const QString& valueName, std::uint32_t& value) {
  Fill(valueName, value, 4);
  const int result = modalResultOf(exec());
  value = static_cast<std::uint32_t>(Value());
  return result;
}

int TformEditInteger::Execute64(const QString& valueName, std::int64_t& value) {
  Fill(valueName, value, 8);
  const int result = modalResultOf(exec());
  value = Value();
  return result;
}

void TformEditInteger::showInOthers(std::int64_t value, const QLineEdit* source) {
  FUpdating = true;
  const IntegerTexts texts = IntegerFieldTexts(value, FByteCount);
  if (source != editDataDecimal) editDataDecimal->setText(texts.decimal);
  if (source != editDataHex) editDataHex->setText(texts.hex);
  if (source != editDataBinary) editDataBinary->setText(texts.binary);
  FUpdating = false;
}

void TformEditInteger::editDataDecimalChange() {
  if (FUpdating) return;
  // A text that is no number yet ("", "-") leaves the other fields alone.
  if (const auto value = ParseDecimalText(editDataDecimal->text())) showInOthers(*value, editDataDecimal);
}

void TformEditInteger::editDataHexChange() {
  if (FUpdating) return;
  showInOthers(HexFieldValue(editDataHex->text(), FByteCount), editDataHex);
}

void TformEditInteger::editDataBinaryChange() {
  if (FUpdating) return;
  showInOthers(BinaryFieldValue(editDataBinary->text(), FByteCount), editDataBinary);
}

bool TformEditInteger::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (watched == editDataDecimal) return !IntegerFieldAcceptsKey(IntegerField::Decimal, *key);
    if (watched == editDataHex) return !IntegerFieldAcceptsKey(IntegerField::Hex, *key);
    if (watched == editDataBinary) return !IntegerFieldAcceptsKey(IntegerField::Binary, *key);
  }
  return QDialog::eventFilter(watched, event);
}

void TformEditInteger::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  editDataDecimal->setFocus();
  FUpdating = false;
}
