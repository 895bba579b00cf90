#include "app/vkxHexView.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStandardItemModel>

#include <algorithm>
#include <climits>

#include "core/kxStrings.h"

namespace {

// Windows-1252 at 0x80..0x9F; the five unassigned codes stay themselves, as
// the system's conversion leaves them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::int64_t kNoRow = -1;

}  // namespace

QChar HexTextChar(std::uint8_t byte) {
  if (byte < 32) return QLatin1Char('.');
  if (byte >= 0x80 && byte < 0xA0) return QChar(kCp1252High[byte - 0x80]);
  return QChar(static_cast<char16_t>(byte));
}

// ---- Model ----

void HexDumpModel::setDataSize(std::uint64_t size) {
  dataSize_ = size;
  if (selected_ >= rowCount()) selected_ = kNoRow;
}

bool HexDumpModel::setHexBlocks(int blocks) {
  blocks = std::clamp(blocks, kHexMinBlocks, kHexMaxBlocks);
  if (blocks == hexBlocks_) return false;
  // Keep the same bytes in view: the new selection is the row that holds the
  // first byte of the old one. The offset is at most the data size, so this
  // cannot overflow where row x blocks might.
  const bool hadSelection = selected_ >= 0;
  const std::uint64_t firstByte = hadSelection ? rowOffset(selected_) : 0;
  hexBlocks_ = blocks;
  if (hadSelection) selectRow(static_cast<std::int64_t>(firstByte / static_cast<std::uint64_t>(rowBytes())));
  return true;
}

std::int64_t HexDumpModel::rowCount() const {
  if (dataSize_ == 0) return 0;
  return static_cast<std::int64_t>(dataSize_ / static_cast<std::uint64_t>(rowBytes())) + 1;
}

HexRow HexDumpModel::row(std::int64_t r) const {
  HexRow out;
  if (r < 0 || r >= rowCount()) return out;
  const std::uint64_t offset = rowOffset(r);  // <= dataSize_ for every row that exists
  out.pos = QString::fromLatin1(DWordToHex(static_cast<std::uint32_t>(offset)));
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(rowBytes(), dataSize_ - offset));

  std::vector<std::uint8_t> data(count, 0);
  std::vector<bool> enabled;
  if (onGetAvailableData) {
    enabled.assign(count, false);
    onGetAvailableData(offset, count, data, enabled);
  } else {
    if (onGetBinaryData) onGetBinaryData(offset, count, data);
    enabled.assign(count, true);
  }

  out.dump.reserve(static_cast<qsizetype>(count * 2 + count / kHexBlockBytes));
  out.text.reserve(static_cast<qsizetype>(count));
  for (std::size_t i = 0; i < count; ++i) {
    // A handler may have shortened the arrays: the bytes it dropped are left
    // out, while the block blanks keep their places.
    if (i < data.size() && i < enabled.size()) {
      if (enabled[i]) {
        out.dump += QString::fromLatin1(ByteToHex(data[i]));
        out.text += HexTextChar(data[i]);
      } else {
        out.dump += disabledHexChar;
        out.dump += disabledHexChar;
        out.text += disabledTextChar;
      }
    }
    if ((i + 1) % kHexBlockBytes == 0) out.dump += QLatin1Char(' ');
  }
  if (out.dump.endsWith(QLatin1Char(' '))) out.dump.chop(1);
  return out;
}

QColor HexDumpModel::rowColor(std::int64_t r, const QColor& fontColor) const {
  QColor color = fontColor;
  if (onGetRowColor && r >= 0) {
    const std::uint64_t first = rowOffset(r);
    onGetRowColor(first, first + static_cast<std::uint64_t>(rowBytes()) - 1, color);
  }
  return color;
}

void HexDumpModel::selectRow(std::int64_t r) {
  const std::int64_t rows = rowCount();
  selected_ = rows == 0 ? kNoRow : std::clamp<std::int64_t>(r, 0, rows - 1);
}

// ---- Layout ----

HexDumpMetrics HexDumpMetrics::monospaced(int charWidth, int lineHeight) {
  HexDumpMetrics m;
  for (int n = 0; n <= kHexMaxBlocks; ++n) {
    m.dumpTextWidth[n] = 9 * n * charWidth;
    m.charTextWidth[n] = 4 * n * charWidth;
  }
  m.lineHeight = lineHeight;
  return m;
}

void HexDumpLayout::setColumnWidth(int column, int width) { widths_.at(column) = std::max(0, width); }

int HexDumpLayout::columnLeft(int column) const {
  int left = 0;
  for (int c = 0; c < column && c < cColumns; ++c) left += widths_[c];
  return left;
}

int HexDumpLayout::totalWidth() const { return columnLeft(cColumns); }

int HexDumpLayout::fitBlocks(int clientWidth) const {
  const int room = clientWidth - widths_[cPos] - kFitSlack;
  int blocks = kHexMinBlocks;
  for (int n = kHexMinBlocks; n <= kHexMaxBlocks; ++n) {
    if (metrics.dumpTextWidth[n] + metrics.charTextWidth[n] >= room) break;
    blocks = n;
  }
  return blocks;
}

void HexDumpLayout::sizeColumnsFor(int blocks) {
  blocks = std::clamp(blocks, kHexMinBlocks, kHexMaxBlocks);
  widths_[cDump] = metrics.dumpTextWidth[blocks] + 8;
  widths_[cText] = metrics.charTextWidth[blocks] + 12;
}

int HexDumpLayout::pageRows() const {
  if (metrics.lineHeight <= 0 || viewportHeight <= 0) return 0;
  return viewportHeight / metrics.lineHeight;
}

std::int64_t HexDumpLayout::rowAt(int y) const {
  const int h = std::max(1, metrics.lineHeight);
  // Floor division, so a y just above the viewport is the row before.
  const int rows = y >= 0 ? y / h : -((-y + h - 1) / h);
  return firstRow + rows;
}

int HexDumpLayout::rowTop(std::int64_t row) const {
  return static_cast<int>((row - firstRow) * std::max(1, metrics.lineHeight));
}

std::pair<std::int64_t, std::int64_t> HexDumpLayout::rowsIn(int top, int bottom, std::int64_t rowCount) const {
  if (rowCount <= 0 || bottom < top) return {0, -1};
  return {std::max<std::int64_t>(0, rowAt(top)), std::min<std::int64_t>(rowCount - 1, rowAt(bottom))};
}

std::int64_t HexDumpLayout::firstRowShowing(std::int64_t row) const {
  if (row < firstRow) return row;
  const int page = std::max(1, pageRows());
  if (row >= firstRow + page) return row - page + 1;
  return firstRow;
}

// ---- Painter ----

void HexDumpPainter::paint(QPainter& painter, const QRect& exposed, const HexDumpModel& model,
                           const HexDumpLayout& layout, const QPalette& palette, bool focused,
                           int horizontalOffset) const {
  painter.fillRect(exposed, palette.color(QPalette::Base));
  const auto [first, last] = layout.rowsIn(exposed.top(), exposed.bottom(), model.rowCount());
  const int lineHeight = layout.metrics.lineHeight;
  const int pad = layout.metrics.padding;
  // The selection stays visible without focus, in the inactive colours.
  const QPalette::ColorGroup group = focused ? QPalette::Active : QPalette::Inactive;
  const QColor fontColor = palette.color(QPalette::Text);
  for (std::int64_t r = first; r <= last; ++r) {
    const int y = layout.rowTop(r);
    const HexRow texts = model.row(r);
    QColor color;
    if (r == model.selectedRow()) {
      painter.fillRect(QRect(-horizontalOffset, y, layout.totalWidth(), lineHeight),
                       palette.color(group, QPalette::Highlight));
      color = palette.color(group, QPalette::HighlightedText);
    } else {
      color = model.rowColor(r, fontColor);
    }
    painter.setPen(color);
    const QString* cells[HexDumpLayout::cColumns] = {&texts.pos, &texts.dump, &texts.text};
    for (int c = 0; c < HexDumpLayout::cColumns; ++c) {
      const int width = layout.columnWidth(c) - pad;
      if (width <= 0) continue;
      // drawText clips to the cell, so a narrowed column cuts its text.
      const QRect cell(layout.columnLeft(c) + pad - horizontalOffset, y, width, lineHeight);
      painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, *cells[c]);
    }
  }
}

// ---- Input ----

bool HexDumpNavigation::handleKeyPress(QKeyEvent* event) {
  const std::int64_t current = model_.selectedRow();
  const std::int64_t page = std::max(1, layout_.pageRows());
  std::int64_t target = 0;
  switch (event->key()) {
    case Qt::Key_Up: target = current < 0 ? 0 : current - 1; break;
    case Qt::Key_Down: target = current < 0 ? 0 : current + 1; break;
    case Qt::Key_PageUp: target = current < 0 ? 0 : current - page; break;
    case Qt::Key_PageDown: target = current < 0 ? 0 : current + page; break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = model_.rowCount() - 1; break;
    default: return false;
  }
  model_.selectRow(target);  // clamps to the rows
  return true;
}

bool HexDumpMouse::handleMousePress(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return false;
  const std::int64_t row = layout_.rowAt(event->position().toPoint().y());
  if (row >= 0 && row < model_.rowCount())
    model_.selectRow(row);
  else
    model_.clearSelection();  // a click below the rows, as in any list
  return true;
}

// ---- The control ----

THexView::THexView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);

  header_ = new QHeaderView(Qt::Horizontal, this);
  headerModel_ = new QStandardItemModel(0, HexDumpLayout::cColumns, header_);
  headerModel_->setHorizontalHeaderLabels({QStringLiteral("Pos"), QStringLiteral("Dump"), QStringLiteral("Text")});
  header_->setModel(headerModel_);
  header_->setSectionsClickable(false);
  header_->setStretchLastSection(false);
  header_->setSectionResizeMode(QHeaderView::Interactive);
  header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header_->setMinimumSectionSize(0);
  connect(header_, &QHeaderView::sectionResized, this, &THexView::columnResized);

  // After the header exists: the font change re-measures and refits.
  QFont f = font();
  f.setFamily(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::TypeWriter);
  setFont(f);
  measure();
  updateHeader();
  updateScrollBars();
}

THexView::~THexView() = default;

void THexView::measure() {
  const QFontMetrics fm(font());
  for (int n = 0; n <= kHexMaxBlocks; ++n) {
    layout_.metrics.dumpTextWidth[n] = fm.horizontalAdvance(QStringLiteral("AABBCCDD ").repeated(n));
    layout_.metrics.charTextWidth[n] = fm.horizontalAdvance(QStringLiteral("ABCD").repeated(n));
  }
  layout_.metrics.lineHeight = fm.height() + 2;
}

void THexView::SetDataSize(std::uint64_t size) {
  model_.setDataSize(size);
  updateScrollBars();
  viewport()->update();
}

void THexView::SetDisabledHexChar(QChar c) {
  model_.disabledHexChar = c;
  viewport()->update();
}

void THexView::SetDisabledTextChar(QChar c) {
  model_.disabledTextChar = c;
  viewport()->update();
}

std::uint64_t THexView::BytesShown() const {
  return static_cast<std::uint64_t>(layout_.pageRows()) * static_cast<std::uint64_t>(model_.rowBytes());
}

void THexView::SetOnGetRowColor(THexGetRowColorEvent handler) {
  model_.onGetRowColor = std::move(handler);
  viewport()->update();
}

void THexView::SetOnGetBinaryData(THexGetBinaryDataEvent handler) {
  model_.onGetBinaryData = std::move(handler);
  viewport()->update();
}

void THexView::SetOnGetAvailableData(THexGetAvailableDataEvent handler) {
  model_.onGetAvailableData = std::move(handler);
  viewport()->update();
}

void THexView::AdjustSize() {
  const bool hadSelection = model_.selectedRow() >= 0;
  const int blocks = layout_.fitBlocks(viewport()->width());
  layout_.sizeColumnsFor(blocks);
  const bool changed = model_.setHexBlocks(blocks);
  {
    const QSignalBlocker block(header_);
    for (int c = HexDumpLayout::cDump; c < HexDumpLayout::cColumns; ++c)
      header_->resizeSection(c, layout_.columnWidth(c));
  }
  updateScrollBars();
  if (changed && hadSelection) scrollToSelection();
  viewport()->update();
}

void THexView::selectRow(std::int64_t row) {
  model_.selectRow(row);
  scrollToSelection();
  viewport()->update();
}

void THexView::updateScrollBars() {
  const std::int64_t rows = model_.rowCount();
  const int page = layout_.pageRows();
  // The scroll bar counts in int. Rows past its reach would need a dump of
  // over 16 GiB, far beyond any value's size, so they are simply not reached.
  const std::int64_t maxFirst = std::min<std::int64_t>(std::max<std::int64_t>(0, rows - page), INT_MAX);
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, static_cast<int>(maxFirst));
  v->setPageStep(std::max(1, page));
  v->setSingleStep(1);
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, std::max(0, layout_.totalWidth() - viewport()->width()));
  h->setPageStep(std::max(1, viewport()->width()));
  h->setSingleStep(std::max(1, layout_.metrics.charTextWidth[1] / 4));
  layout_.firstRow = v->value();
  header_->setOffset(h->value());
}

void THexView::updateHeader() {
  const int h = header_->sizeHint().height();
  setViewportMargins(0, h, 0, 0);
  const QRect vg = viewport()->geometry();
  header_->setGeometry(vg.left(), vg.top() - h, vg.width(), h);
  const QSignalBlocker block(header_);
  for (int c = 0; c < HexDumpLayout::cColumns; ++c) header_->resizeSection(c, layout_.columnWidth(c));
}

void THexView::scrollToSelection() {
  const std::int64_t row = model_.selectedRow();
  if (row < 0) return;
  verticalScrollBar()->setValue(static_cast<int>(std::min<std::int64_t>(layout_.firstRowShowing(row), INT_MAX)));
  layout_.firstRow = verticalScrollBar()->value();
}

void THexView::columnResized(int column, int, int newWidth) {
  layout_.setColumnWidth(column, newWidth);
  updateScrollBars();
  viewport()->update();
}

void THexView::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  p.setFont(font());
  painter_.paint(p, event->rect(), model_, layout_, palette(), hasFocus(), horizontalScrollBar()->value());
}

void THexView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  layout_.viewportHeight = viewport()->height();
  updateHeader();
  AdjustSize();
}

void THexView::keyPressEvent(QKeyEvent* event) {
  if (navigation_.handleKeyPress(event)) {
    scrollToSelection();
    viewport()->update();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void THexView::mousePressEvent(QMouseEvent* event) {
  if (mouse_.handleMousePress(event)) {
    scrollToSelection();
    viewport()->update();
    return;
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void THexView::scrollContentsBy(int, int) {
  layout_.firstRow = verticalScrollBar()->value();
  header_->setOffset(horizontalScrollBar()->value());
  viewport()->update();
}

void THexView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    measure();
    updateHeader();
    // A shown control refits to the new text widths; a hidden one keeps the
    // designed columns until its first resize fits them.
    if (isVisible()) AdjustSize();
  } else if (event->type() == QEvent::PaletteChange) {
    viewport()->update();
  }
}

void THexView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void THexView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}
