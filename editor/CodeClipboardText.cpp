#include "editor/CodeClipboardText.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMimeData>

namespace codeedit {

namespace {

QString ToQString(std::u16string_view Text) {
  return QString(reinterpret_cast<const QChar*>(Text.data()), static_cast<qsizetype>(Text.size()));
}

}  // namespace

QSize MeasureTextWide(const QFont& Font, std::u16string_view Text) {
  const QFontMetrics Metrics(Font);
  return {Metrics.horizontalAdvance(ToQString(Text)), Metrics.height()};
}

bool ClipboardProvidesText() {
  const QClipboard* Clipboard = QGuiApplication::clipboard();
  const QMimeData* Data = Clipboard != nullptr ? Clipboard->mimeData() : nullptr;
  return Data != nullptr && Data->hasText();
}

std::u16string GetClipboardWideText() {
  const QClipboard* Clipboard = QGuiApplication::clipboard();
  if (Clipboard == nullptr)
    return {};
  const QString Text = Clipboard->text();
  // The text ends at its first 0, as a clipboard block does.
  const qsizetype End = Text.indexOf(QChar(0));
  const QString Used = End < 0 ? Text : Text.left(End);
  return {reinterpret_cast<const char16_t*>(Used.utf16()), static_cast<std::size_t>(Used.size())};
}

void SetClipboardWideText(std::u16string_view Text) {
  QClipboard* Clipboard = QGuiApplication::clipboard();
  if (Text.empty() || Clipboard == nullptr)
    return;
  Clipboard->setText(ToQString(Text));
}

}  // namespace codeedit
