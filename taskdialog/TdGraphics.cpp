#include "taskdialog/TdGraphics.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QUrl>

#include <algorithm>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

void addPlain(TTdParsedCaption& Caption, QStringView Text) {
  qsizetype start = 0;
  for (;;) {
    const qsizetype at = Text.indexOf(kCrLf, start);
    if (at < 0)
      break;
    Caption.Runs.push_back({TTdRunStyle::Plain, Text.mid(start, at - start).toString()});
    Caption.Runs.push_back({TTdRunStyle::NewLine, {}});
    start = at + 2;
  }
  Caption.Runs.push_back({TTdRunStyle::Plain, Text.mid(start).toString()});
}

bool before(qsizetype A, qsizetype B) { return B < 0 || A < B; }

}  // namespace

QString TTdRun::marked() const {
  switch (Style) {
    case TTdRunStyle::Plain: return Text;
    case TTdRunStyle::Bold: return QStringLiteral("<BOLD>") + Text;
    case TTdRunStyle::Underline: return QStringLiteral("<UNDERLINE>") + Text;
    case TTdRunStyle::Italic: return QStringLiteral("<ITALIC>") + Text;
    case TTdRunStyle::Link: return QStringLiteral("<LINK>") + Text;
    case TTdRunStyle::NewLine: return QStringLiteral("<NEWLINE>");
  }
  return Text;
}

namespace {

// The next place of one tag at or after a position. Positions only move
// forward, so a place found once serves until parsing passes it, and each
// tag is searched through the text about once.
class TagFinder {
 public:
  TagFinder(QStringView Lower, QStringView Tag) : FLower(Lower), FTag(Tag) {}
  qsizetype from(qsizetype Pos) {
    if (FFound != kUnknown && (FFound < 0 || FFound >= Pos))
      return FFound;
    FFound = FLower.indexOf(FTag, Pos);
    return FFound;
  }

 private:
  static constexpr qsizetype kUnknown = -2;
  QStringView FLower;
  QStringView FTag;
  qsizetype FFound = kUnknown;
};

}  // namespace

TTdParsedCaption TdParseCaption(QStringView Text) {
  TTdParsedCaption caption;
  // Tags are found in a copy with ASCII letters lower-cased (tags are ASCII),
  // so every position in it is the same position in the text.
  QString lower = Text.toString();
  for (QChar& c : lower)
    if (c >= u'A' && c <= u'Z')
      c = QChar(c.unicode() + 32);
  TagFinder bOpen(lower, u"<b>"), bClose(lower, u"</b>");
  TagFinder uOpen(lower, u"<u>"), uClose(lower, u"</u>");
  TagFinder iOpen(lower, u"<i>"), iClose(lower, u"</i>");
  TagFinder aOpen(lower, u"<a"), aClose(lower, u"</a>");
  qsizetype pos = 0;  // where the rest of the text starts
  while (pos < Text.size()) {
    // A closing tag is the first of its kind after the opening one, so no
    // text is read twice.
    const qsizetype b = bOpen.from(pos), bEnd = b < 0 ? -1 : bClose.from(b + 3);
    const qsizetype u = uOpen.from(pos), uEnd = u < 0 ? -1 : uClose.from(u + 3);
    const qsizetype i = iOpen.from(pos), iEnd = i < 0 ? -1 : iClose.from(i + 3);
    const qsizetype a = aOpen.from(pos), aEnd = a < 0 ? -1 : aClose.from(a + 2);
    TTdRunStyle style = TTdRunStyle::Plain;
    qsizetype open = -1, close = -1;
    if (b >= 0 && bEnd > b && before(b, u) && before(b, i) && before(b, a))
      style = TTdRunStyle::Bold, open = b, close = bEnd;
    else if (u >= 0 && uEnd > u && before(u, i) && before(u, a))
      style = TTdRunStyle::Underline, open = u, close = uEnd;
    else if (i >= 0 && iEnd > i && before(i, a))
      style = TTdRunStyle::Italic, open = i, close = iEnd;
    else if (a >= 0 && aEnd > a)
      style = TTdRunStyle::Link, open = a, close = aEnd;
    if (open < 0) {
      addPlain(caption, Text.mid(pos));
      break;
    }
    addPlain(caption, Text.mid(pos, open - pos));
    if (style == TTdRunStyle::Link) {
      const QStringView tag = Text.mid(open, close - open);
      const QStringView tagLow = QStringView(lower).mid(open, close - open);
      TTdLinkInfo link;
      const qsizetype href = tagLow.indexOf(u"href=\"");
      if (href >= 0) {
        const qsizetype urlStart = href + 6;
        const qsizetype urlEnd = tag.indexOf(u"\">", urlStart);
        if (urlEnd >= 0) {
          link.Url = tag.mid(urlStart, urlEnd - urlStart).toString();
          link.Text = tag.mid(urlEnd + 2).toString();
        }
      } else if (const qsizetype gt = tag.indexOf(u'>'); gt >= 0) {
        link.Text = tag.mid(gt + 1).toString();
      }
      caption.Links.push_back(link);
      caption.Runs.push_back({TTdRunStyle::Link, link.Text, int(caption.Links.size()) - 1});
    } else {
      caption.Runs.push_back({style, Text.mid(open + 3, close - open - 3).toString()});
    }
    pos = close + 4;
  }
  return caption;
}

TTdCaptionFonts TdCaptionFonts(const QFont& Normal, const QColor& NormalColor) {
  TTdCaptionFonts fonts;
  fonts.Normal = Normal;
  fonts.NormalColor = NormalColor;
  fonts.Link = Normal;
  fonts.Link.setUnderline(true);
  fonts.LinkColor = TdColor(0xFF0000);
  return fonts;
}

int TTdCaptionLayout::linkAt(QPoint Point) const {
  for (const TTdLinkRect& r : LinkRects)
    if (r.Rect.contains(Point))
      return r.Link;
  return -1;
}

namespace {

QFont fontFor(TTdRunStyle Style, const TTdCaptionFonts& Fonts) {
  QFont font = Fonts.Normal;
  switch (Style) {
    case TTdRunStyle::Bold: font.setBold(true); break;
    case TTdRunStyle::Underline: font.setUnderline(true); break;
    case TTdRunStyle::Italic: font.setItalic(true); break;
    case TTdRunStyle::Link: font = Fonts.Link; break;
    default: break;
  }
  return font;
}

// Styled runs may hold CR LF; they break their line as plain text does.
std::vector<TTdRun> splitLines(const std::vector<TTdRun>& Runs) {
  std::vector<TTdRun> out;
  out.reserve(Runs.size());
  for (const TTdRun& run : Runs) {
    if (run.Style == TTdRunStyle::NewLine || !run.Text.contains(kCrLf)) {
      out.push_back(run);
      continue;
    }
    const QStringList parts = run.Text.split(kCrLf);
    for (qsizetype k = 0; k < parts.size(); ++k) {
      if (k > 0)
        out.push_back({TTdRunStyle::NewLine, {}});
      out.push_back({run.Style, parts[k], run.Link});
    }
  }
  return out;
}

// Widths of the pieces of one run. Where the metrics give the widths of all
// prefixes in one pass, pieces are differences of those; otherwise each piece
// is measured, and cuts are found by bisection: moving the cut one character
// at a time and measuring again would be quadratic in the run's length.
class RunMeasure {
 public:
  RunMeasure(const TTdTextMetrics& Metrics, const QFont& Font, QStringView Text, int Extra)
      : FMetrics(Metrics), FFont(Font), FPrefix(Metrics.prefixWidths(Font, Text)), FText(Text), FExtra(Extra) {}
  // The width of the characters [From, To).
  int width(qsizetype From, qsizetype To) const {
    if (FPrefix.size() == size_t(FText.size()) + 1)
      return FPrefix[size_t(To)] - FPrefix[size_t(From)] + FExtra;
    return FMetrics.textWidth(FFont, FText.mid(From, To - From)) + FExtra;
  }
  // The end of the longest piece from From that fits in Avail, never inside
  // a surrogate pair; From when not even one character fits.
  qsizetype fit(qsizetype From, int Avail) const {
    qsizetype lo = From, hi = FText.size();
    while (lo < hi) {
      const qsizetype mid = lo + (hi - lo + 1) / 2;
      if (width(From, mid) <= Avail)
        lo = mid;
      else
        hi = mid - 1;
    }
    if (lo > From && lo < FText.size() && FText[lo - 1].isHighSurrogate())
      --lo;
    return lo;
  }

 private:
  const TTdTextMetrics& FMetrics;
  const QFont& FFont;
  std::vector<int> FPrefix;
  QStringView FText;
  int FExtra;
};

qsizetype trimmedEnd(QStringView Text, qsizetype From, qsizetype To) {
  while (To > From && (Text[To - 1] == u' ' || Text[To - 1].unicode() < 0x20))
    --To;
  return To;
}


}  // namespace

TTdCaptionLayout TdLayoutCaption(const TTdParsedCaption& Caption, const TTdCaptionGeometry& Geometry,
                                 const TTdCaptionFonts& Fonts, const TTdTextMetrics& Metrics) {
  TTdCaptionLayout layout;
  if (Caption.Runs.empty())
    return layout;
  const std::vector<TTdRun> runs = splitLines(Caption.Runs);
  const int width = std::abs(Geometry.Width);
  static const QString kLineSample = QStringLiteral("SpgqwWq");
  // One font object per style, so Qt finds each font's engine once.
  const QFont styled[] = {fontFor(TTdRunStyle::Plain, Fonts), fontFor(TTdRunStyle::Bold, Fonts),
                          fontFor(TTdRunStyle::Underline, Fonts), fontFor(TTdRunStyle::Italic, Fonts),
                          fontFor(TTdRunStyle::Link, Fonts)};
  QFont current = Fonts.Normal;
  int x = 0;
  int y = Geometry.OffsetY;
  int total = 0;

  auto place = [&](const QString& Text, TTdRunStyle Style, int Link, int Left, int Width, int Height) {
    if (Text.isEmpty())
      return;
    layout.Pieces.push_back({Text, Style, Link, QRect(Left, y, Width, Height)});
    if (Link >= 0)
      layout.LinkRects.push_back({QRect(Left, y, Width, Height), Link});
  };

  for (const TTdRun& run : runs) {
    if (run.Style == TTdRunStyle::NewLine) {
      const int h = Metrics.textHeight(current, kLineSample);
      x = 0;
      y += h;
      total += h;
      continue;
    }
    TTdRunStyle style = run.Style;
    int link = run.Link;
    QString text = run.Text;
    if (Geometry.TreatAsLink) {
      style = TTdRunStyle::Link;
      if (link < 0 && !Caption.Links.empty())
        link = int(Caption.Links.size()) - 1;
      if (link >= 0)
        text = Caption.Links[size_t(link)].Text;
    }
    current = styled[int(style)];
    const bool italicExtra =
        style == TTdRunStyle::Italic && (current.bold() || current.pointSizeF() > 8);
    const int extra = italicExtra ? 3 : 0;
    const int h = Metrics.textHeight(current, text);
    const int whole = Metrics.textWidth(current, text) + extra;
    if (x + whole <= width) {
      place(text, style, link, Geometry.OffsetX + x, whole, h);
      x += whole;
      continue;
    }
    const RunMeasure measure(Metrics, current, text, extra);
    const qsizetype n = text.size();
    qsizetype from = 0;  // where the overflow starts
    qsizetype keep = measure.fit(0, width - x);
    while (keep > 0 && text[keep - 1] != u' ')
      --keep;
    if (keep == 0 && x != 0) {
      // Moves whole to the next line, directly below.
      x = 0;
    } else if (keep == 0) {
      // Nothing fits before a blank on an empty line: the run stays whole.
      place(text, style, link, Geometry.OffsetX, whole, h);
      x = whole;
      continue;
    } else {
      // Blanks cut from the end are not drawn but keep their room, so the
      // next run does not touch the last word.
      const qsizetype shown = trimmedEnd(text, 0, keep);
      place(text.left(shown), style, link, Geometry.OffsetX + x, measure.width(0, shown), h);
      from = keep;
    }
    while (from < n) {
      y += h;
      total += h;
      qsizetype end = std::max(from + 1, measure.fit(from, width));
      if (end < n && text[end - 1] != u' ') {
        qsizetype back = end;
        while (back > from && text[back - 1] != u' ')
          --back;
        if (back > from)
          end = back;
      }
      const qsizetype shown = trimmedEnd(text, from, end);
      place(text.mid(from, shown - from), style, link, Geometry.OffsetX, measure.width(from, shown), h);
      x = measure.width(from, end);
      from = end;
    }
  }
  // A text of one run shown on one line sits in the middle of a given height.
  if (Caption.Runs.size() == 1 && layout.Pieces.size() == 1 && Geometry.Height > 0) {
    QRect& r = layout.Pieces.front().Rect;
    r.moveTop(Geometry.OffsetY + (Geometry.Height - r.height()) / 2);
    if (!layout.LinkRects.empty())
      layout.LinkRects.front().Rect = r;
  }
  layout.Height = total + Metrics.textHeight(current, kLineSample);
  return layout;
}

int MeasureCaptionHeight(QStringView Text, int Width, const QFont& Font, const TTdTextMetrics& Metrics) {
  TTdCaptionGeometry geometry;
  geometry.Width = std::abs(Width);
  return TdLayoutCaption(TdParseCaption(Text), geometry, TdCaptionFonts(Font), Metrics).Height;
}

void TdPaintCaption(QPainter& Painter, const TTdCaptionLayout& Layout, const TTdCaptionFonts& Fonts,
                    const TTdBackground* Background, const QRect& Bounds) {
  Painter.save();
  if (Background) {
    const TTdGradient& gradient = Background->Gradient;
    if (gradient.enabled()) {
      const QPointF end = gradient.direction() == TGradientDirection::gdHorizontal ? Bounds.topRight()
                                                                                     : Bounds.bottomLeft();
      QLinearGradient fill(Bounds.topLeft(), end);
      fill.setColorAt(0, TdColor(gradient.startColor()));
      fill.setColorAt(1, TdColor(gradient.endColor()));
      Painter.fillRect(Bounds, fill);
    } else if (Background->Color != clNone) {
      Painter.fillRect(Bounds, TdColor(Background->Color));
    }
  }
  Painter.translate(Bounds.topLeft());
  for (const TTdPlacedText& piece : Layout.Pieces) {
    Painter.setFont(fontFor(piece.Style, Fonts));
    Painter.setPen(piece.Style == TTdRunStyle::Link ? Fonts.LinkColor : Fonts.NormalColor);
    Painter.drawText(piece.Rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs |
                                     Qt::TextDontClip,
                     piece.Text);
  }
  Painter.restore();
}

TTdCaptionLayout DrawCaption(QPainter& Painter, QStringView Text, QPoint Offset, const QRect& Bounds,
                             const QFont& Font, const TTdBackground* Background) {
  TTdCaptionGeometry geometry;
  geometry.Width = Bounds.width();
  geometry.Height = Bounds.height();
  geometry.OffsetX = Offset.x();
  geometry.OffsetY = Offset.y();
  const TTdCaptionFonts fonts = TdCaptionFonts(Font, Painter.pen().color());
  TTdCaptionLayout layout = TdLayoutCaption(TdParseCaption(Text), geometry, fonts, TdScreenMetrics());
  TdPaintCaption(Painter, layout, fonts, Background, Bounds);
  return layout;
}

TTdCaptionLayout DrawCaptionRect(QPainter& Painter, QStringView Text, const QRect& Rect, const QFont& Font,
                                 const TTdBackground* Background) {
  return DrawCaption(Painter, Text, QPoint(0, 0), Rect, Font, Background);
}

namespace {

class TDesktopLinkOpener final : public TTdLinkOpener {
 public:
  void openUrl(const QString& Url) override { QDesktopServices::openUrl(QUrl(Url, QUrl::StrictMode)); }
};

TTdLinkOpener* gLinkOpener = nullptr;

}  // namespace

TTdLinkOpener* SetTdLinkOpener(TTdLinkOpener* Opener) { return std::exchange(gLinkOpener, Opener); }

bool TdIsOpenableUrl(const QString& Url) {
  const QUrl url(Url.trimmed(), QUrl::StrictMode);
  if (!url.isValid())
    return false;
  const QString scheme = url.scheme().toLower();
  if (scheme == u"http" || scheme == u"https")
    return !url.host().isEmpty();
  if (scheme == u"mailto")
    return !url.path().isEmpty();
  return false;
}

bool TdOpenLink(const QString& Url) {
  if (!TdIsOpenableUrl(Url))
    return false;
  static TDesktopLinkOpener desktop;
  (gLinkOpener ? gLinkOpener : &desktop)->openUrl(Url.trimmed());
  return true;
}

// ---------------------------------------------------------------------------

TTdCaptionControl::TTdCaptionControl(QWidget* Parent) : QWidget(Parent) {
  FLinkFont = font();
  FLinkFont.setUnderline(true);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAutoFillBackground(false);
}

void TTdCaptionControl::setText(const QStringList& Text) {
  if (Text == FText)
    return;
  FText = Text;
  FParsed = TdParseCaption(FText.join(kCrLf));
  AdjustHeight();
  relayout();
}

void TTdCaptionControl::setLinkFont(const QFont& Font) {
  FLinkFont = Font;
  relayout();
}

void TTdCaptionControl::setOffSet(QPoint OffSet) {
  if (OffSet == FOffSet)
    return;
  FOffSet = OffSet;
  relayout();
}

void TTdCaptionControl::setAutoSize(bool AutoSize) {
  FAutoSize = AutoSize;
  AdjustHeight();
}

void TTdCaptionControl::setTreatAsLink(bool TreatAsLink) {
  if (TreatAsLink == FTreatAsLink)
    return;
  FTreatAsLink = TreatAsLink;
  AdjustHeight();
  relayout();
}

TTdCaptionFonts TTdCaptionControl::fonts() const {
  TTdCaptionFonts fonts = TdCaptionFonts(font(), palette().color(foregroundRole()));
  fonts.Link = FLinkFont;
  return fonts;
}

void TTdCaptionControl::relayout() {
  TTdCaptionGeometry geometry;
  geometry.Width = width();
  geometry.Height = height();
  geometry.OffsetX = FOffSet.x();
  geometry.OffsetY = FOffSet.y();
  geometry.TreatAsLink = FTreatAsLink;
  FLayout = TdLayoutCaption(FParsed, geometry, fonts(), TdScreenMetrics());
  update();
}

void TTdCaptionControl::AdjustHeight() {
  if (!FAutoSize || width() <= 0 || FText.join(QString()).isEmpty() || FAdjusting)
    return;
  TTdCaptionGeometry geometry;
  geometry.Width = width();
  geometry.TreatAsLink = FTreatAsLink;
  const int needed = TdLayoutCaption(FParsed, geometry, fonts(), TdScreenMetrics()).Height;
  if (needed == height())
    return;
  FAdjusting = true;
  setFixedHeight(needed);
  FAdjusting = false;
}

void TTdCaptionControl::DoLinkClick(const QString& Url) {
  bool handled = false;
  if (OnLinkClick)
    OnLinkClick(this, Url, handled);
  if (!handled)
    TdOpenLink(Url);
}

void TTdCaptionControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(backgroundRole()));
  TdPaintCaption(painter, FLayout, fonts(), nullptr, rect());
  if (!hasFocus())
    return;
  // A dotted frame around every link, however the focus came (styles draw
  // their own focus frame only after keyboard navigation).
  painter.setPen(QPen(palette().color(foregroundRole()), 1, Qt::DotLine));
  painter.setBrush(Qt::NoBrush);
  for (size_t k = 0; k < FLayout.LinkRects.size(); ++k) {
    QRect r = FLayout.LinkRects[k].Rect;
    if (!(k == 0 && r.left() == 1))
      r.setLeft(r.left() - 1);
    r.setRight(r.right() + 1);
    r.setBottom(r.bottom() + 1);
    painter.drawRect(r);
  }
}

void TTdCaptionControl::mouseMoveEvent(QMouseEvent* Event) {
  if (FLayout.linkAt(Event->position().toPoint()) >= 0)
    setCursor(Qt::PointingHandCursor);
  else
    unsetCursor();
  QWidget::mouseMoveEvent(Event);
}

void TTdCaptionControl::mousePressEvent(QMouseEvent* Event) {
  setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(Event);
}

void TTdCaptionControl::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton)
    return QWidget::mouseReleaseEvent(Event);
  const QPoint at = Event->position().toPoint();
  const int link = FLayout.linkAt(at);
  if (link >= 0 && size_t(link) < FParsed.Links.size())
    DoLinkClick(FParsed.Links[size_t(link)].Url);
  if (rect().contains(at))
    emit clicked();
}

void TTdCaptionControl::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Space && Event->modifiers() == Qt::NoModifier) {
    emit clicked();
    return;
  }
  QWidget::keyPressEvent(Event);
}

void TTdCaptionControl::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  AdjustHeight();
  relayout();
}

void TTdCaptionControl::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) {
    AdjustHeight();
    relayout();
  } else if (Event->type() == QEvent::PaletteChange) {
    update();
  }
}

void TTdCaptionControl::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  update();
}

void TTdCaptionControl::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  update();
}
