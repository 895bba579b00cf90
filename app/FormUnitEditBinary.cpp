#include "app/FormUnitEditBinary.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/ValueEditorParts.h"

namespace {

int hexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  return -1;
}

bool separator(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u','; }

}  // namespace

QString bytesToHexText(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += (i % 16 == 0) ? u'\n' : u' ';
    text += QChar(digits[bytes[i] >> 4]);
    text += QChar(digits[bytes[i] & 0x0F]);
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> hexTextToBytes(const QString& text, int* badPosition) {
  std::vector<std::uint8_t> bytes;
  const qsizetype size = text.size();
  qsizetype i = 0;
  auto fail = [&](qsizetype at) {
    if (badPosition) *badPosition = static_cast<int>(at);
    return std::nullopt;
  };
  while (i < size) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    const int high = hexDigit(text[i]);
    if (high < 0) return fail(i);
    if (i + 1 >= size || separator(text[i + 1])) return fail(i);  // half a byte
    const int low = hexDigit(text[i + 1]);
    if (low < 0) return fail(i + 1);
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    i += 2;
  }
  return bytes;
}

TformEditBinary::TformEditBinary(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formEditBinary"));
  setWindowTitle(QStringLiteral("Change binary data"));
  editValue = makeReadOnlyField(this, "editValue");
  memoData = new QPlainTextEdit(this);
  memoData->setObjectName(QStringLiteral("memoData"));
  memoData->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoData->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  labelError = new QLabel(this);
  labelError->setObjectName(QStringLiteral("labelError"));
  labelError->setWordWrap(true);
  labelError->setVisible(false);

  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  // Enter makes a line break in the hex text; OK is a click or Ctrl+Enter.
  bnOK->setDefault(false);
  bnOK->setAutoDefault(false);
  auto* top = new QVBoxLayout(this);
  top->addWidget(new QLabel(QStringLiteral("Name of value:"), this));
  top->addWidget(editValue);
  top->addWidget(new QLabel(QStringLiteral("Value data (hex):"), this));
  top->addWidget(memoData, 1);
  top->addWidget(labelError);
  top->addLayout(buttons);
  resize(520, 320);
}

void TformEditBinary::Fill(const QString& valueName, const std::vector<std::uint8_t>& bytes) {
  editValue->setText(ShownKeyName(valueName));
  memoData->setPlainText(bytesToHexText(bytes));
  labelError->clear();
  labelError->setVisible(false);
  FBytes = bytes;
}

void TformEditBinary::accept() {
  int bad = 0;
  const QString text = memoData->toPlainText();
  const auto bytes = hexTextToBytes(text, &bad);
  if (!bytes) {
    labelError->setText(QStringLiteral("Only pairs of hex digits (0-9, A-F) can be entered; \"%1\" at position %2 "
                                       "is none. Nothing has been written.")
                            .arg(text.mid(bad, 1))
                            .arg(bad + 1));
    labelError->setVisible(true);
    QTextCursor cursor = memoData->textCursor();
    cursor.setPosition(bad);
    memoData->setTextCursor(cursor);
    memoData->setFocus();
    return;
  }
  FBytes = *bytes;
  QDialog::accept();
}

int TformEditBinary::Execute(const QString& valueName, std::vector<std::uint8_t>& bytes) {
  Fill(valueName, bytes);
  const int result = modalResultOf(exec());
  if (result == mrOk) bytes = FBytes;
  return result;
}

void TformEditBinary::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  memoData->setFocus();
}
