#pragma once

// Word wrap: the editor's lines broken into display rows no wider than the
// window. The editor holds one plug-in while WordWrap is on, tells it about
// every inserted, deleted and changed line and asks it to convert positions
// between the unwrapped display form (column, line) and the screen grid
// (column, row). Rows are cut from a line's display form (tabs expanded,
// glyph fillers in front of wide characters), so lengths count cells.

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "editor/CodeEditTypes.h"

namespace codeedit {

class TCodeEditCore;

class ICodeEditBufferPlugin {
public:
  virtual ~ICodeEditBufferPlugin() = default;
  // (display column, line) to (column, row) and back.
  virtual TDisplayCoord BufferToDisplayPos(const TBufferCoord& Pos) const = 0;
  virtual TBufferCoord DisplayToBufferPos(const TDisplayCoord& Pos) const = 0;
  virtual int RowCount() const = 0;
  virtual int RowLength(int Row) const = 0;
  // Keep the rows in step with the line buffer (0-based line indexes); each
  // answers the number of rows added, negative when rows went.
  virtual int LinesInserted(int Index, int Count) = 0;
  virtual int LinesDeleted(int Index, int Count) = 0;
  virtual int LinesReplaced(int Index, int Count) = 0;
  // The window's width in columns may have changed.
  virtual void DisplayChanged() = 0;
  virtual void Reset() = 0;
};

class TCodeWordWrapPlugin : public ICodeEditBufferPlugin {
public:
  // No editor raises std::invalid_argument
  // "Owner of TCodeWordWrapPlugin must be a TCustomCodeEdit".
  explicit TCodeWordWrapPlugin(TCodeEditCore* Editor);

  TDisplayCoord BufferToDisplayPos(const TBufferCoord& Pos) const override;
  TBufferCoord DisplayToBufferPos(const TDisplayCoord& Pos) const override;
  int RowCount() const override { return FLineCount == 0 ? 0 : FLineRowEnds[FLineCount - 1]; }
  // 1-based; outside 1..RowCount raises EListError "List index out of bounds (%d)".
  int RowLength(int Row) const override;
  int LinesInserted(int Index, int Count) override;
  int LinesDeleted(int Index, int Count) override;
  int LinesReplaced(int Index, int Count) override;
  void DisplayChanged() override;
  void Reset() override;

  // The number of lines the rows cover, and the 1-based number of line
  // Index's last row.
  int LineCount() const { return FLineCount; }
  int LineRowEnd(int Index) const { return FLineRowEnds.at(static_cast<std::size_t>(Index)); }
  // Rows and the width are 32-bit, so a window of any width wraps at its
  // own width.
  int WrapWidth() const { return FWrapWidth; }
  // The shortest row a break at a word may leave: two thirds of the width.
  int MinRowWidth() const { return FMinRowWidth; }
  static int MinRowWidthFor(int WrapWidth);

private:
  // The row lengths of one line's display form, appended to Rows.
  void WrapLine(int Index, std::vector<std::int32_t>& Rows);
  // The rows of the OldLines lines from Index are replaced by the wraps of
  // the editor's NewLines lines from Index; answers the change in rows.
  int ReplaceLines(int Index, int OldLines, int NewLines);
  int FirstRowOf(int Index) const { return Index == 0 ? 0 : FLineRowEnds[static_cast<std::size_t>(Index - 1)]; }
  void SetWidth();

  TCodeEditCore* FEditor;
  std::vector<std::int32_t> FLineRowEnds;  // per line: the rows of all lines up to it
  std::vector<std::int32_t> FRowLengths;   // per row: its cells
  int FLineCount = 0;
  int FMinRowWidth = 1;
  int FWrapWidth = 0;
  std::vector<std::int32_t> FNewRows;  // scratch, kept to reuse its storage
};

}  // namespace codeedit
