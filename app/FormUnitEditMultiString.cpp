#include "app/FormUnitEditMultiString.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/ValueEditorParts.h"
#include "core/kxStrings.h"
#include "platform/Text.h"

QStringList TextLines(const QString& text) {
  // Through WTF-8, which keeps every character (lone surrogates too) and
  // leaves CR and LF single bytes for the split.
  QStringList lines;
  for (const std::string& line : SplitTextLines(platform::utf16ToWtf8(text.toStdU16String())))
    lines << QString::fromStdU16String(platform::wtf8ToUtf16(line));
  return lines;
}

QString JoinLinesCrLf(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  return text;
}

TformEditMultiString::TformEditMultiString(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formEditMultiString"));
  setWindowTitle(QStringLiteral("Change multi-string value"));
  editValue = makeReadOnlyField(this, "editValue");
  memoData = new QPlainTextEdit(this);
  memoData->setObjectName(QStringLiteral("memoData"));
  memoData->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoData->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memoData->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves the focus on, as in every other field of the windows.
  memoData->setTabChangesFocus(true);

  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  auto* top = new QVBoxLayout(this);
  top->addWidget(new QLabel(QStringLiteral("Name of value:"), this));
  top->addWidget(editValue);
  top->addWidget(new QLabel(QStringLiteral("Value data:"), this));
  top->addWidget(memoData, 1);
  top->addLayout(buttons);
  resize(420, 360);
}

void TformEditMultiString::Fill(const QString& valueName, const QString& text) {
  editValue->setText(ShownKeyName(valueName));
  memoData->setPlainText(TextLines(text).join(u'\n'));
}

QStringList TformEditMultiString::Lines() const {
  // Block by block rather than toPlainText(), which turns non-breaking spaces
  // into plain ones.
  QStringList lines;
  for (QTextBlock block = memoData->document()->begin(); block.isValid(); block = block.next())
    lines << block.text();
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

int TformEditMultiString::Execute(const QString& valueName, QString& text) {
  Fill(valueName, text);
  const int result = modalResultOf(exec());
  text = JoinLinesCrLf(Lines());
  return result;
}

void TformEditMultiString::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  memoData->setFocus();
}
