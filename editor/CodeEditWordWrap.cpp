#include "editor/CodeEditWordWrap.h"

#include <algorithm>
#include <string>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditTextBuffer.h"

namespace codeedit {

TCodeWordWrapPlugin::TCodeWordWrapPlugin(TCodeEditCore* Editor) : FEditor(Editor) {
  if (Editor == nullptr)
    throw std::invalid_argument("Owner of TCodeWordWrapPlugin must be a TCustomCodeEdit");
  Reset();
}

int TCodeWordWrapPlugin::MinRowWidthFor(int WrapWidth) {
  const int Result = WrapWidth - WrapWidth / 3;
  return Result <= 0 ? 1 : Result;
}

void TCodeWordWrapPlugin::SetWidth() {
  FWrapWidth = std::max(0, FEditor->FCharsInWindow);
  FMinRowWidth = MinRowWidthFor(FWrapWidth);
}

int TCodeWordWrapPlugin::RowLength(int Row) const {
  if (Row < 1 || Row > RowCount())
    throw EListError("List index out of bounds (" + std::to_string(Row) + ")");
  return FRowLengths[static_cast<std::size_t>(Row - 1)];
}

void TCodeWordWrapPlugin::WrapLine(int Index, std::vector<std::int32_t>& Rows) {
  const std::u16string S = FEditor->InsertGlyphFillers(FEditor->Lines().GetExpandedString(Index));
  const int End = static_cast<int>(S.size());
  int Start = 0;
  for (int RowEnd = Start + FWrapWidth; RowEnd < End; RowEnd = Start + FWrapWidth) {
    // A break at a word: the break character begins the next row. A row
    // shorter than the minimum is not worth it; then the row is cut hard.
    for (int P = RowEnd; P > Start + FMinRowWidth; --P) {
      if (FEditor->IsWordBreakChar(S[static_cast<std::size_t>(P)])) {
        RowEnd = P;
        break;
      }
    }
    // A wide glyph's fillers stand in front of it: keep them with it.
    while (RowEnd - 1 > Start && S[static_cast<std::size_t>(RowEnd - 1)] == CODE_GLYPH_FILLER)
      --RowEnd;
    Rows.push_back(RowEnd - Start);
    Start = RowEnd;
  }
  if (Start < End || End == 0)
    Rows.push_back(End - Start);
}

int TCodeWordWrapPlugin::ReplaceLines(int Index, int OldLines, int NewLines) {
  const int First = FirstRowOf(Index);
  const int Last = OldLines > 0 ? FLineRowEnds[static_cast<std::size_t>(Index + OldLines - 1)] : First;
  FNewRows.clear();
  std::vector<std::int32_t> Ends;
  Ends.reserve(static_cast<std::size_t>(NewLines));
  for (int i = 0; i < NewLines; ++i) {
    WrapLine(Index + i, FNewRows);
    Ends.push_back(First + static_cast<std::int32_t>(FNewRows.size()));
  }
  const int Delta = static_cast<int>(FNewRows.size()) - (Last - First);

  // The rows: overwrite what both have, then insert or erase the rest.
  const auto RowAt = [this](int Row) { return FRowLengths.begin() + Row; };
  const int Common = std::min<int>(Last - First, static_cast<int>(FNewRows.size()));
  std::copy_n(FNewRows.begin(), Common, RowAt(First));
  if (Delta > 0)
    FRowLengths.insert(RowAt(First + Common), FNewRows.begin() + Common, FNewRows.end());
  else if (Delta < 0)
    FRowLengths.erase(RowAt(First + Common), RowAt(Last));

  // The lines: the new ends replace the old, the later ones shift by Delta.
  const auto LineAt = [this](int Line) { return FLineRowEnds.begin() + Line; };
  const int CommonLines = std::min(OldLines, NewLines);
  std::copy_n(Ends.begin(), CommonLines, LineAt(Index));
  if (NewLines > OldLines)
    FLineRowEnds.insert(LineAt(Index + CommonLines), Ends.begin() + CommonLines, Ends.end());
  else if (NewLines < OldLines)
    FLineRowEnds.erase(LineAt(Index + NewLines), LineAt(Index + OldLines));
  FLineCount = static_cast<int>(FLineRowEnds.size());
  if (Delta != 0)
    for (auto It = LineAt(Index + NewLines); It != FLineRowEnds.end(); ++It)
      *It += Delta;
  return Delta;
}

int TCodeWordWrapPlugin::LinesInserted(int Index, int Count) {
  if (FWrapWidth == 0 || Count <= 0)
    return 0;
  // Tables out of step with the buffer are rebuilt rather than trusted.
  if (Index < 0 || Index > FLineCount || FLineCount + Count != FEditor->LineCount()) {
    const int Before = RowCount();
    Reset();
    return RowCount() - Before;
  }
  return ReplaceLines(Index, 0, Count);
}

int TCodeWordWrapPlugin::LinesDeleted(int Index, int Count) {
  if (FWrapWidth == 0 || Count <= 0)
    return 0;
  if (Index < 0 || Count > FLineCount - Index || FLineCount - Count != FEditor->LineCount()) {
    const int Before = RowCount();
    Reset();
    return RowCount() - Before;
  }
  return ReplaceLines(Index, Count, 0);
}

int TCodeWordWrapPlugin::LinesReplaced(int Index, int Count) {
  if (FWrapWidth == 0 || Count <= 0)
    return 0;
  if (Index < 0 || Count > FLineCount - Index || FLineCount != FEditor->LineCount()) {
    const int Before = RowCount();
    Reset();
    return RowCount() - Before;
  }
  return ReplaceLines(Index, Count, Count);
}

void TCodeWordWrapPlugin::DisplayChanged() {
  if (std::max(0, FEditor->FCharsInWindow) != FWrapWidth)
    Reset();
}

void TCodeWordWrapPlugin::Reset() {
  SetWidth();
  FLineRowEnds.clear();
  FRowLengths.clear();
  FLineCount = 0;
  if (FWrapWidth == 0 || FEditor->LineCount() == 0) {
    FLineRowEnds.shrink_to_fit();
    FRowLengths.shrink_to_fit();
    return;
  }
  const int Lines = FEditor->LineCount();
  FLineRowEnds.reserve(static_cast<std::size_t>(Lines));
  FRowLengths.reserve(static_cast<std::size_t>(Lines));
  for (int i = 0; i < Lines; ++i) {
    WrapLine(i, FRowLengths);
    FLineRowEnds.push_back(static_cast<std::int32_t>(FRowLengths.size()));
  }
  FLineCount = Lines;
}

TDisplayCoord TCodeWordWrapPlugin::BufferToDisplayPos(const TBufferCoord& Pos) const {
  const int C = Pos.CharPos, L = Pos.LinePos;
  if (L > FLineCount)
    return {C, RowCount() + (L - FLineCount)};
  if (L < 1)
    return {C, L};
  const int First = FirstRowOf(L - 1);
  const int Last = FLineRowEnds[static_cast<std::size_t>(L - 1)];  // one past the line's last row
  int Before = 0;  // cells of the line's rows before the current one
  for (int Row = First; Row < Last; ++Row) {
    const int Len = FRowLengths[static_cast<std::size_t>(Row)];
    if (Before + Len >= C || Row == Last - 1)
      return {C - Before, Row + 1};
    Before += Len;
  }
  return {C, Last};  // not reached: a line has at least one row
}

TBufferCoord TCodeWordWrapPlugin::DisplayToBufferPos(const TDisplayCoord& Pos) const {
  const int C = Pos.Column, R = Pos.Row;
  if (R > RowCount())
    return {C, FLineCount + (R - RowCount())};
  if (R < 1)
    return {C, R};
  // The first line whose rows reach R.
  const auto It = std::lower_bound(FLineRowEnds.begin(), FLineRowEnds.end(), R);
  const int Line = static_cast<int>(It - FLineRowEnds.begin());
  const int First = FirstRowOf(Line);
  int Before = 0;
  for (int Row = First; Row < R - 1; ++Row)
    Before += FRowLengths[static_cast<std::size_t>(Row)];
  const int Limit = R == *It ? FWrapWidth + 1 : FRowLengths[static_cast<std::size_t>(R - 1)] + 1;
  return {std::min(C, Limit) + Before, Line + 1};
}

}  // namespace codeedit
