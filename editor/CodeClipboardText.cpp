#include "editor/CodeClipboardText.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>

#include "platform/Text.h"

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

std::string CodeEditClipboardBlock(std::u16string_view Text, TCodeSelectionMode Mode) {
  std::string Block(Text.size() + 2, '\0');
  Block[0] = static_cast<char>(Mode);
  const std::string Ansi = platform::wideToAnsi(Text);
  // A multi-byte code page may need more bytes than there are units: the
  // text is cut, and the final 0 always stays.
  const std::size_t Room = Text.size();
  std::copy_n(Ansi.begin(), std::min(Room, Ansi.size()), Block.begin() + 1);
  return Block;
}

void SetClipboardWideTextWithMode(std::u16string_view Text, TCodeSelectionMode Mode) {
  QClipboard* Clipboard = QGuiApplication::clipboard();
  if (Text.empty() || Clipboard == nullptr)
    return;
  auto* Data = new QMimeData;
  Data->setText(ToQString(Text));
  const std::string Block = CodeEditClipboardBlock(Text, Mode);
  Data->setData(QString::fromLatin1(CodeEditClipboardFormat),
                QByteArray(Block.data(), static_cast<qsizetype>(Block.size())));
  Clipboard->setMimeData(Data);
}

bool SelectionModeOfMimeData(const QMimeData* Data, TCodeSelectionMode& Mode) {
  const QString Format = QString::fromLatin1(CodeEditClipboardFormat);
  if (Data == nullptr || !Data->hasFormat(Format))
    return false;
  const QByteArray Block = Data->data(Format);
  if (Block.isEmpty() || static_cast<unsigned char>(Block.at(0)) > smColumn)
    return false;
  Mode = static_cast<TCodeSelectionMode>(Block.at(0));
  return true;
}

bool GetClipboardSelectionMode(TCodeSelectionMode& Mode) {
  const QClipboard* Clipboard = QGuiApplication::clipboard();
  return Clipboard != nullptr && SelectionModeOfMimeData(Clipboard->mimeData(), Mode);
}

}  // namespace codeedit
