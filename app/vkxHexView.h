#pragma once

// THexView: a read-only hex dump of any amount of bytes. It holds no bytes:
// each row is produced when it becomes visible, by asking the owner for that
// row's bytes only, so the cost does not depend on the data size. The number
// of 4-byte blocks per row follows the control's width.
//
// The control is split in four: HexDumpModel (size, row length, selection and
// the text of a row), HexDumpLayout (rows and columns to pixels, from plain
// metrics), HexDumpPainter (paints exposed rows) and the input controllers.
// THexView owns them, forwards events and scrolls in rows.

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QHeaderView;
class QKeyEvent;
class QMouseEvent;
class QPainter;
class QPalette;
class QStandardItemModel;

inline constexpr int kHexBlockBytes = 4;
inline constexpr int kHexMinBlocks = 2;
inline constexpr int kHexMaxBlocks = 17;
inline constexpr int kHexMaxRowBytes = kHexMaxBlocks * kHexBlockBytes;
// The currency sign of Windows-1252 (and of Latin-1): what unavailable bytes show.
inline constexpr char16_t kHexDefaultDisabledChar = u'\u00A4';

// The owner's answers. `data` (and `enabled`) arrive sized to `count`, zero
// (false); a handler that shrinks them leaves the bytes past the new end out
// of the row.
using THexGetRowColorEvent = std::function<void(std::uint64_t firstByte, std::uint64_t lastByte, QColor& color)>;
using THexGetBinaryDataEvent =
    std::function<void(std::uint64_t firstByte, std::uint64_t count, std::vector<std::uint8_t>& data)>;
using THexGetAvailableDataEvent = std::function<void(std::uint64_t firstByte, std::uint64_t count,
                                                     std::vector<std::uint8_t>& data, std::vector<bool>& enabled)>;

// The three texts of one row.
struct HexRow {
  QString pos;   // low 32 bits of the first byte's offset, eight upper-case hex digits
  QString dump;  // hex pairs, a blank after every fourth byte, no trailing blank
  QString text;  // one character per byte, "." below 32
};

// The character a byte shows in the text column: bytes are read as
// Windows-1252, the code page the hex dump's characters are defined in.
QChar HexTextChar(std::uint8_t byte);

// Size, row length, selection and row production. No widget, no painting.
class HexDumpModel {
public:
  std::uint64_t dataSize() const { return dataSize_; }
  // Also drops a selection that no longer names a row.
  void setDataSize(std::uint64_t size);

  int hexBlocks() const { return hexBlocks_; }
  int rowBytes() const { return hexBlocks_ * kHexBlockBytes; }
  // Clamps to 2..17. When the length changes and a row was selected, the row
  // holding the first byte of the old selection becomes selected. Returns
  // whether the length changed.
  bool setHexBlocks(int blocks);

  // size div row length + 1, and 0 for an empty dump: a size that is an exact
  // multiple of the row length ends with an empty row.
  std::int64_t rowCount() const;
  std::uint64_t rowOffset(std::int64_t row) const { return static_cast<std::uint64_t>(row) * rowBytes(); }

  QChar disabledHexChar = QChar(kHexDefaultDisabledChar);
  QChar disabledTextChar = QChar(kHexDefaultDisabledChar);

  THexGetRowColorEvent onGetRowColor;
  THexGetBinaryDataEvent onGetBinaryData;
  THexGetAvailableDataEvent onGetAvailableData;

  // The texts of `row`; empty texts for a row outside 0..rowCount()-1.
  HexRow row(std::int64_t row) const;
  // The text colour of `row`: `fontColor`, or what onGetRowColor makes of it.
  QColor rowColor(std::int64_t row, const QColor& fontColor) const;

  // Selection: one row or none (-1).
  std::int64_t selectedRow() const { return selected_; }
  // Clamped to the rows; no rows clears the selection.
  void selectRow(std::int64_t row);
  void clearSelection() { selected_ = -1; }

private:
  std::uint64_t dataSize_ = 0;
  int hexBlocks_ = 4;
  std::int64_t selected_ = -1;
};

// Font-dependent numbers, measured once by the widget, fixed in tests.
struct HexDumpMetrics {
  // Text widths of "AABBCCDD " and of "ABCD" repeated n times, n = 0..17.
  std::array<int, kHexMaxBlocks + 1> dumpTextWidth{};
  std::array<int, kHexMaxBlocks + 1> charTextWidth{};
  int lineHeight = 16;
  int padding = 4;  // from a column's left edge to its text

  // Every character `charWidth` wide (a fixed-pitch font without rounding).
  static HexDumpMetrics monospaced(int charWidth, int lineHeight);
};

// Columns and rows to pixels. Positions are in viewport coordinates; row
// positions count from the first visible row.
class HexDumpLayout {
public:
  enum Column { cPos = 0, cDump = 1, cText = 2, cColumns = 3 };
  static constexpr int kPosWidth = 68;
  static constexpr int kDumpWidth = 260;
  static constexpr int kTextWidth = 128;
  // Room the fitting leaves beside the columns.
  static constexpr int kFitSlack = 20;

  HexDumpMetrics metrics;

  int columnWidth(int column) const { return widths_.at(column); }
  void setColumnWidth(int column, int width);
  int columnLeft(int column) const;
  int totalWidth() const;

  // The most blocks whose dump and text fit beside the "Pos" column of a
  // viewport `clientWidth` wide; never fewer than 2 nor more than 17.
  int fitBlocks(int clientWidth) const;
  // Sizes the "Dump" and "Text" columns for `blocks`.
  void sizeColumnsFor(int blocks);

  std::int64_t firstRow = 0;
  int viewportHeight = 0;

  // Whole rows that fit in the viewport (at least 0).
  int pageRows() const;
  // The row under viewport position y (may be past the last row).
  std::int64_t rowAt(int y) const;
  int rowTop(std::int64_t row) const;
  // Rows [first, last] meeting the pixel band [top, bottom], limited to
  // 0..rowCount-1; first > last when none.
  std::pair<std::int64_t, std::int64_t> rowsIn(int top, int bottom, std::int64_t rowCount) const;
  // The first row to show so that `row` is wholly visible, scrolling as
  // little as possible.
  std::int64_t firstRowShowing(std::int64_t row) const;

private:
  std::array<int, cColumns> widths_{kPosWidth, kDumpWidth, kTextWidth};
};

// Paints the rows meeting `exposed` (viewport coordinates) and nothing else.
class HexDumpPainter {
public:
  void paint(QPainter& painter, const QRect& exposed, const HexDumpModel& model, const HexDumpLayout& layout,
             const QPalette& palette, bool focused, int horizontalOffset) const;
};

// Moves the selection with the arrow, page, Home and End keys.
class HexDumpNavigation {
public:
  HexDumpNavigation(HexDumpModel& model, const HexDumpLayout& layout) : model_(model), layout_(layout) {}
  bool handleKeyPress(QKeyEvent* event);

private:
  HexDumpModel& model_;
  const HexDumpLayout& layout_;
};

// Selects the row clicked.
class HexDumpMouse {
public:
  HexDumpMouse(HexDumpModel& model, const HexDumpLayout& layout) : model_(model), layout_(layout) {}
  bool handleMousePress(QMouseEvent* event);

private:
  HexDumpModel& model_;
  const HexDumpLayout& layout_;
};

class THexView : public QAbstractScrollArea {
  Q_OBJECT
public:
  explicit THexView(QWidget* parent = nullptr);
  ~THexView() override;

  std::uint64_t DataSize() const { return model_.dataSize(); }
  void SetDataSize(std::uint64_t size);
  int HexBlocks() const { return model_.hexBlocks(); }
  QChar DisabledHexChar() const { return model_.disabledHexChar; }
  void SetDisabledHexChar(QChar c);
  QChar DisabledTextChar() const { return model_.disabledTextChar; }
  void SetDisabledTextChar(QChar c);
  // Visible rows x bytes per row.
  std::uint64_t BytesShown() const;

  void SetOnGetRowColor(THexGetRowColorEvent handler);
  void SetOnGetBinaryData(THexGetBinaryDataEvent handler);
  void SetOnGetAvailableData(THexGetAvailableDataEvent handler);

  // Fits the row length to the width; runs on every resize.
  void AdjustSize();
  HexRow OwnerDataFetch(std::int64_t row) const { return model_.row(row); }

  std::int64_t selectedRow() const { return model_.selectedRow(); }
  void selectRow(std::int64_t row);
  // The row shown at the top.
  std::int64_t topRow() const { return layout_.firstRow; }
  int columnWidth(int column) const { return layout_.columnWidth(column); }
  QHeaderView* header() const { return header_; }
  const HexDumpModel& model() const { return model_; }
  const HexDumpLayout& layout() const { return layout_; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

private:
  void measure();
  void updateScrollBars();
  void updateHeader();
  void scrollToSelection();
  void columnResized(int column, int oldWidth, int newWidth);

  HexDumpModel model_;
  HexDumpLayout layout_;
  HexDumpPainter painter_;
  HexDumpNavigation navigation_{model_, layout_};
  HexDumpMouse mouse_{model_, layout_};
  QHeaderView* header_ = nullptr;
  QStandardItemModel* headerModel_ = nullptr;
  bool sizingColumns_ = false;
};
