#include "taskdialog/TdRichEdit.h"

#include <QRegularExpression>
#include <QTextCharFormat>
#include <QTextCursor>

#include "taskdialog/TdGraphics.h"

std::vector<std::pair<qsizetype, qsizetype>> TdFindLinks(QStringView Text) {
  static const QRegularExpression address(
      QStringLiteral(R"((?<![\w.@/])(?:(?:https?://|mailto:)|www\.)[^\s<>"']+)"),
      QRegularExpression::CaseInsensitiveOption);
  std::vector<std::pair<qsizetype, qsizetype>> links;
  auto it = address.globalMatch(Text);
  while (it.hasNext()) {
    const QRegularExpressionMatch match = it.next();
    qsizetype end = match.capturedEnd();
    // Sentence punctuation after an address is not part of it.
    while (end > match.capturedStart() && QStringLiteral(".,;:!?)]}").contains(Text[end - 1]))
      --end;
    links.emplace_back(match.capturedStart(), end);
  }
  return links;
}

TTdRichEdit::TTdRichEdit(QWidget* Parent) : QTextBrowser(Parent) {
  setReadOnly(true);
  setOpenLinks(false);
  setOpenExternalLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& Url) {
    DoLinkClicked(Url.toString());
  });
}

void TTdRichEdit::setDetails(const QString& Text) {
  FText = Text;
  FRuns.clear();
  FRich = false;
  fill();
}

void TTdRichEdit::setRtfDetails(const QByteArray& Rtf) {
  FRuns = TdReadRtf(std::span(reinterpret_cast<const std::uint8_t*>(Rtf.constData()),
                              std::size_t(Rtf.size())));
  FRich = true;
  FText.clear();
  for (const TdRtfRun& run : FRuns)
    FText += QString::fromStdU16String(run.Text);
  fill();
}

void TTdRichEdit::setShowLinks(bool ShowLinks) {
  if (ShowLinks == FShowLinks)
    return;
  FShowLinks = ShowLinks;
  fill();
}

void TTdRichEdit::fill() {
  // Through the document: the edit's own setPlainText would give the new
  // text the format at the cursor, which may be a link's.
  document()->setPlainText(FRich ? QString() : FText);
  if (FRich) {
    QTextCursor cursor(document());
    for (const TdRtfRun& run : FRuns) {
      QTextCharFormat format;
      format.setFontWeight(run.Bold ? QFont::Bold : QFont::Normal);
      format.setFontItalic(run.Italic);
      format.setFontUnderline(run.Underline);
      const QString text = QString::fromStdU16String(run.Text);
      const QStringList paragraphs = text.split(u'\n');
      for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
          cursor.insertBlock();
        cursor.insertText(paragraphs[i], format);
      }
    }
  }
  if (!FShowLinks)
    return;
  const QString text = toPlainText();
  for (const auto& [start, end] : TdFindLinks(text)) {
    QTextCursor cursor(document());
    cursor.setPosition(int(start));
    cursor.setPosition(int(end), QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(text.mid(start, end - start));
    format.setFontUnderline(true);
    format.setForeground(TdColor(0xFF0000));
    cursor.mergeCharFormat(format);
  }
}

void TTdRichEdit::DoLinkClicked(const QString& Link) {
  bool handled = false;
  if (OnLinkClicked)
    OnLinkClicked(this, Link, handled);
  if (handled)
    return;
  // A "www." address means the web.
  if (Link.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
    TdOpenLink(QStringLiteral("http://") + Link);
  else
    TdOpenLink(Link);
}
