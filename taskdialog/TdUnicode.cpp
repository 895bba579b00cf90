#include "taskdialog/TdUnicode.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QRawFont>

#include <algorithm>

struct TTdFontMetrics::Cache {
  // Per font: its raw font, or an invalid one when its advances do not
  // give Qt's widths.
  QHash<QString, QRawFont> Fonts;
};

TTdFontMetrics::TTdFontMetrics() : FCache(std::make_unique<Cache>()) {}
TTdFontMetrics::~TTdFontMetrics() = default;

namespace {

// Letters, digits and punctuation of the Latin scripts: one glyph per
// character, no shaping beyond kerning.
bool simpleText(QStringView Text) {
  for (const QChar c : Text)
    if (c.unicode() < 0x20 || c.unicode() > 0x24F)
      return false;
  return true;
}

QList<QPointF> kernedAdvances(const QRawFont& Raw, QStringView Text) {
  return Raw.advancesForGlyphIndexes(Raw.glyphIndexesForString(Text.toString()), QRawFont::KernedAdvances);
}

// Qt adds advances in 1/64 pixels and rounds the total; so do we, so the
// widths are Qt's to the pixel.
int fixed(qreal Advance) { return qRound(Advance * 64); }
int pixels(qint64 Fixed) { return int((Fixed + 32) >> 6); }

int roundedSum(const QList<QPointF>& Advances) {
  qint64 sum = 0;
  for (const QPointF& a : Advances)
    sum += fixed(a.x());
  return pixels(sum);
}

}  // namespace

bool TTdFontMetrics::advances(const QFont& Font, QStringView Text, QList<QPointF>& Advances) const {
  if (!simpleText(Text))
    return false;
  const QString key = Font.key();
  auto it = FCache->Fonts.constFind(key);
  if (it == FCache->Fonts.constEnd()) {
    QRawFont raw = QRawFont::fromFont(Font);
    if (raw.isValid() && Font.letterSpacing() == 0 && Font.wordSpacing() == 0 &&
        Font.capitalization() == QFont::MixedCase) {
      static const QString kSample = QStringLiteral("AVAWAY To Te Yo office fluffy SpgqwWq 0123 ({[.,;]})");
      if (roundedSum(kernedAdvances(raw, kSample)) != QFontMetrics(Font).horizontalAdvance(kSample))
        raw = QRawFont();
    } else {
      raw = QRawFont();
    }
    it = FCache->Fonts.insert(key, raw);
  }
  if (!it->isValid())
    return false;
  Advances = kernedAdvances(*it, Text);
  return Advances.size() == Text.size();
}

int TTdFontMetrics::textWidth(const QFont& Font, QStringView Text) const {
  QList<QPointF> advances;
  if (this->advances(Font, Text, advances))
    return roundedSum(advances);
  return QFontMetrics(Font).horizontalAdvance(Text.toString());
}

int TTdFontMetrics::textHeight(const QFont& Font, QStringView Text) const {
  return QFontMetrics(Font).height();
}

std::vector<int> TTdTextMetrics::prefixWidths(const QFont& Font, QStringView Text) const {
  std::vector<int> widths(size_t(Text.size()) + 1, 0);
  for (qsizetype k = 1; k <= Text.size(); ++k)
    widths[size_t(k)] = textWidth(Font, Text.left(k));
  return widths;
}

std::vector<int> TTdFontMetrics::prefixWidths(const QFont& Font, QStringView Text) const {
  QList<QPointF> kerned;
  if (!this->advances(Font, Text, kerned))
    return {};
  // A prefix ends before the next character's kerning, so its last glyph
  // counts with its plain advance.
  const QRawFont& raw = *FCache->Fonts.constFind(Font.key());
  const QList<QPointF> plain = raw.advancesForGlyphIndexes(raw.glyphIndexesForString(Text.toString()));
  std::vector<int> widths(size_t(Text.size()) + 1, 0);
  qint64 sum = 0;
  for (qsizetype k = 0; k < kerned.size(); ++k) {
    widths[size_t(k) + 1] = pixels(sum + fixed(plain[k].x()));
    sum += fixed(kerned[k].x());
  }
  return widths;
}

const TTdTextMetrics& TdScreenMetrics() {
  static const TTdFontMetrics metrics;
  return metrics;
}

int WideTextWidth(const QFont& Font, QStringView Text) { return TdScreenMetrics().textWidth(Font, Text); }

int WideTextHeight(const QFont& Font, QStringView Text) { return TdScreenMetrics().textHeight(Font, Text); }

void DrawTextWide(QPainter& Painter, QStringView Text, int Flags, QRect& Rect, bool Calc) {
  if (Calc) {
    Rect = Painter.fontMetrics().boundingRect(Rect, Flags, Text.toString());
    return;
  }
  Painter.drawText(Rect, Flags, Text.toString());
}
