// Caret movement of the editor's model: the moves the movement commands
// make, the Home and End rules, and the selection seen as character indexes.

#include <algorithm>
#include <climits>
#include <cmath>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

bool IsBlank(char16_t Ch) { return Ch == u' ' || Ch == u'\t'; }

}  // namespace

void TCodeEditCore::MoveCaretWithSelection(TBufferCoord BeginPos, TBufferCoord EndPos, bool Select) {
  if (HasOption(eoGroupUndo) && UndoList().CanUndo())
    UndoList().AddGroupBreak();
  TPaintLockScope Lock(*this);
  if (Select) {
    if (!SelAvail())
      SetBlockBegin(BeginPos);
    SetBlockEnd(EndPos);
  } else {
    SetBlockBegin(EndPos);
  }
  SetCaretXY(EndPos);
}

void TCodeEditCore::ShowCaretMoved() {
  TPaintLockScope Lock(*this);
  EnsureCursorPosVisible();
  FCaretChanged = true;
}

void TCodeEditCore::MoveCaretX(int DX, bool Select) {
  if (FWordWrapPlugin) {
    // Between two rows of a line the caret has two places for one
    // position: the end of the upper row and the start of the lower. A
    // horizontal move first goes from one to the other.
    if (DX <= 0 && !FCaretAtEOL && FCaretX > 1 && BufferToDisplayPos(CaretXY()).Column == 1) {
      FCaretAtEOL = true;
      RememberCaretColumn();
      const TDisplayCoord Shown = CaretDisplayPos();
      if (Shown.Column > FCharsInWindow + 1)
        PlaceCaretAtDisplayPos({FCharsInWindow + 1, Shown.Row});
      else
        ShowCaretMoved();
      return;
    }
    if (DX > 0 && FCaretAtEOL) {
      FCaretAtEOL = false;
      RememberCaretColumn();
      ShowCaretMoved();
      return;
    }
  }
  const TBufferCoord From = CaretXY();
  const int LineLen = static_cast<int>(LineText(From.LinePos).size());
  const bool CrossLines = !HasOption(eoScrollPastEol);
  TBufferCoord Target;
  if (CrossLines && DX == -1 && From.CharPos == 1 && From.LinePos > 1) {
    Target = {static_cast<int>(LineText(From.LinePos - 1).size()) + 1, From.LinePos - 1};
  } else if (CrossLines && DX == 1 && From.CharPos > LineLen && From.LinePos < LineCount()) {
    Target = {1, From.LinePos + 1};
  } else {
    // In 64 bits: a page move from far right must not wrap around.
    long long X = std::max<long long>(1, static_cast<long long>(From.CharPos) + DX);
    if (DX > 0 && CrossLines)
      X = std::min<long long>(X, LineLen + 1);
    Target = {static_cast<int>(std::min<long long>(X, INT32_MAX)), From.LinePos};
  }
  MoveCaretWithSelection(BlockBegin(), Target, Select);
  if (FWordWrapPlugin && DX > 0 && FCaretX <= static_cast<int>(LineText(FCaretY).size())) {
    // Moving right onto the start of a continuation row shows the caret at
    // the end of the row above first.
    const TDisplayCoord P = BufferToDisplayPos(CaretXY());
    if (P.Column == 1 && P.Row != LineToRow(FCaretY)) {
      FCaretAtEOL = true;
      RememberCaretColumn();
      ShowCaretMoved();
    } else if (P.Column > FCharsInWindow + 1) {
      MoveCaretWithSelection(BlockBegin(), DisplayToBufferPos({1, P.Row + 1}), Select);
    }
  }
}

void TCodeEditCore::MoveCaretY(int DY, bool Select) {
  const TDisplayCoord From = CaretDisplayPos();
  long long Row = static_cast<long long>(From.Row) + DY;
  if (DY >= 0 && RowToLine(static_cast<int>(std::min<long long>(Row, INT32_MAX))) > LineCount())
    Row = std::max(1, DisplayLineCount());
  else if (DY < 0 && Row < 1)
    Row = 1;
  int Column = From.Column;
  if (Row != From.Row && HasOption(eoKeepCaretX))
    Column = FLastCaretX;
  const TBufferCoord Target = DisplayToBufferPos({Column, static_cast<int>(Row)});
  // A vertical move never changes the column that later vertical moves aim for.
  const int SavedLastCaretX = FLastCaretX;
  {
    TPaintLockScope Lock(*this);
    MoveCaretWithSelection(BlockBegin(), Target, Select);
    if (FWordWrapPlugin) {
      // A column past the end of an inner row lands on the next row's
      // start: the caret shows at the end of the row it aimed for.
      const TDisplayCoord P = BufferToDisplayPos(CaretXY());
      FCaretAtEOL = P.Column == 1 && P.Row != Row;
      FCaretChanged = true;
    }
  }
  FLastCaretX = SavedLastCaretX;
}

void TCodeEditCore::MoveToLineHome(bool Select) {
  const bool Wrapped = FWordWrapPlugin != nullptr;
  // With word wrap Home works on the row the caret shows on.
  const TDisplayCoord Shown = Wrapped ? CaretDisplayPos() : TDisplayCoord{FCaretX, FCaretY};
  int NewX = 1;
  if (HasOption(eoEnhanceHomeKey) && (!Wrapped || Shown.Row == LineToRow(FCaretY))) {
    const std::u16string_view Line = LineText(CaretXY().LinePos);
    int Last = static_cast<int>(Line.size());
    if (Wrapped && Shown.Row <= FWordWrapPlugin->RowCount()) {
      // Only the first row's characters count.
      const int RowEnd = std::min(FCharsInWindow, FWordWrapPlugin->RowLength(Shown.Row) + 1);
      Last = std::min(Last, DisplayToBufferPos({RowEnd, Shown.Row}).CharPos - 1);
    }
    NewX = Last + 1;
    for (int i = 1; i <= Last; ++i)
      if (!IsBlank(Line[static_cast<std::size_t>(i - 1)])) {
        NewX = i;
        break;
      }
    // Home goes to the first non-blank, and from there (or from before it)
    // to column 1.
    if (NewX >= CaretXY().CharPos && CaretXY().CharPos != 1)
      NewX = 1;
  }
  TBufferCoord Target{NewX, CaretXY().LinePos};
  if (Wrapped)
    Target = DisplayToBufferPos({BufferToDisplayPos(Target).Column, Shown.Row});
  MoveCaretWithSelection(CaretXY(), Target, Select);
}

void TCodeEditCore::MoveToLineEnd(bool Select) {
  const bool Wrapped = FWordWrapPlugin != nullptr;
  const TDisplayCoord Shown = Wrapped ? CaretDisplayPos() : TDisplayCoord{FCaretX, FCaretY};
  const std::u16string_view Line = LineText(CaretXY().LinePos);
  const int Len = static_cast<int>(Line.size());
  int L = Len;
  bool Enhanced = false;
  if (HasOption(eoEnhanceEndKey)) {
    // With word wrap the toggle works on the line's last row only, and
    // looks no further back than the start of the caret's row.
    int MinX = 0;
    bool OnLastRow = true;
    if (Wrapped) {
      const int LastRow = LineToRow(FCaretY + 1) - 1;
      const bool EmptyLastRow = LastRow >= 1 && LastRow <= FWordWrapPlugin->RowCount() &&
                                FWordWrapPlugin->RowLength(LastRow) == 0 && LastRow > LineToRow(FCaretY);
      OnLastRow = Shown.Row == LastRow || (EmptyLastRow && Shown.Row == LastRow - 1);
      MinX = DisplayToBufferPos({1, Shown.Row}).CharPos - 1;
    }
    if (OnLastRow) {
      Enhanced = true;
      int LastNonBlank = Len;
      while (LastNonBlank > MinX && IsBlank(Line[static_cast<std::size_t>(LastNonBlank - 1)]))
        --LastNonBlank;
      // End goes after the last non-blank, and from there to the line end.
      L = CaretXY().CharPos == LastNonBlank + 1 ? Len : LastNonBlank;
    }
  }
  if (!Wrapped) {
    MoveCaretWithSelection(CaretXY(), {L + 1, CaretXY().LinePos}, Select);
    return;
  }
  // The end of a row: for an inner row that is the next row's start, where
  // the caret shows at the end of this row.
  int Column = Enhanced ? BufferToDisplayPos({L + 1, CaretXY().LinePos}).Column
               : Shown.Row <= FWordWrapPlugin->RowCount() ? FWordWrapPlugin->RowLength(Shown.Row) + 1
                                                           : 1;
  Column = std::min(FCharsInWindow + 1, Column);
  MoveCaretWithSelection(CaretXY(), DisplayToBufferPos({Column, Shown.Row}), Select);
  PlaceCaretAtDisplayPos({Column, Shown.Row});
}

void TCodeEditCore::PlaceCaretAtDisplayPos(TDisplayCoord Pos) {
  {
    TPaintLockScope Lock(*this);
    SetCaretXY(DisplayToBufferPos(Pos));
    if (FWordWrapPlugin) {
      // A column past a row's end that lands on the next row shows the
      // caret at the end of the row asked for.
      FCaretAtEOL = Pos.Row >= 1 && Pos.Row <= FWordWrapPlugin->RowCount() &&
                    FWordWrapPlugin->RowLength(Pos.Row) < Pos.Column && BufferToDisplayPos(CaretXY()).Row != Pos.Row;
      FCaretChanged = true;
    }
  }
  RememberCaretColumn();
}

int TCodeEditCore::PageRows() const {
  int Rows = FLinesInWindow;
  if (HasOption(eoHalfPageScroll))
    Rows >>= 1;
  if (HasOption(eoScrollByOneLess))
    --Rows;
  return Rows;
}

// --- pixels and cells ------------------------------------------------------------------

TDisplayCoord TCodeEditCore::PointToNearestCell(int X, int Y) const {
  const int Bottom = FLinesInWindow * FLineHeight;
  if (Y >= Bottom)
    Y = Bottom - 1;
  Y = std::max(Y, 0);
  const int CharWidth = std::max(1, FCharWidth);
  // Halves go to the even neighbour.
  const double Cells = std::nearbyint(static_cast<double>(X - FGutterWidth - 2) / CharWidth);
  const int Column = std::max(1, FLeftChar + static_cast<int>(Cells));
  const int Row = std::max(1, Y / std::max(1, FLineHeight) + FTopLine);
  return {Column, Row};
}

TDisplayCoord TCodeEditCore::PointToCell(int X, int Y) const {
  const int Column = std::max(1, (X - FGutterWidth - 2) / std::max(1, FCharWidth) + FLeftChar);
  const int Row = std::max(1, Y / std::max(1, FLineHeight) + FTopLine);
  return {Column, Row};
}

void TCodeEditCore::CaretFromPoint(int X, int Y) {
  TDisplayCoord P = PointToNearestCell(X, Y);
  P.Row = MinMax(P.Row, 1, std::max(1, DisplayLineCount()));
  PlaceCaretAtDisplayPos(P);
}

// --- the selection as character indexes -----------------------------------------------

int TCodeEditCore::PosToCharIndex(TBufferCoord Pos) const {
  long long Index = 0;
  const int Lines = std::min(Pos.LinePos, LineCount());
  for (int Line = 1; Line < Lines; ++Line)
    Index += static_cast<long long>(LineText(Line).size()) + 2;
  Index += Pos.CharPos - 1;
  return static_cast<int>(std::clamp<long long>(Index, INT32_MIN, INT32_MAX));
}

TBufferCoord TCodeEditCore::CharIndexToPos(int Index) const {
  long long Start = 0;
  for (int Line = 1; Line <= LineCount(); ++Line) {
    const long long Len = static_cast<long long>(LineText(Line).size());
    if (Index < Start + Len + 2)
      return {static_cast<int>(Index - Start + 1), Line};
    Start += Len + 2;
  }
  return {1, LineCount() + 1};
}

int TCodeEditCore::SelStart() const {
  if (!SelAvail())
    return PosToCharIndex(CaretXY());
  return PosToCharIndex(BlockBeginSorted());
}

void TCodeEditCore::SetSelStart(int Value) {
  SetCaretXY(CharIndexToPos(Value));
  SetBlockBegin(CaretXY());
}

int TCodeEditCore::SelLength() const {
  if (!SelAvail())
    return 0;
  return PosToCharIndex(BlockEndSorted()) - PosToCharIndex(BlockBeginSorted());
}

void TCodeEditCore::SetSelLength(int Value) {
  const TBufferCoord Start = BlockBeginSorted();
  const long long N = static_cast<long long>(PosToCharIndex(Start)) + Value;
  if (Value < 0 && N >= 0) {
    const TBufferCoord P = CharIndexToPos(static_cast<int>(N));
    SetCaretAndSelection(P, P, Start);
    return;
  }
  TBufferCoord P;
  if (N < 0) {
    // Back past the start of the text: to the end of the text instead.
    const int Count = LineCount();
    P = {Count > 0 ? static_cast<int>(LineText(Count).size()) + 1 : 1, Count};
  } else {
    P = CharIndexToPos(static_cast<int>(std::min<long long>(N, INT32_MAX)));
  }
  SetCaretAndSelection(P, Start, P);
}

bool TCodeEditCore::IsInSelection(TBufferCoord P) const {
  const TBufferCoord B = BlockBeginSorted();
  const TBufferCoord E = BlockEndSorted();
  if (P.LinePos < B.LinePos || P.LinePos > E.LinePos || B == E)
    return false;
  switch (ActiveSelectionMode()) {
    case smLine:
      return true;
    case smColumn:
      if (E.CharPos < B.CharPos)
        return E.CharPos <= P.CharPos && P.CharPos < B.CharPos;
      if (B.CharPos < E.CharPos)
        return B.CharPos <= P.CharPos && P.CharPos < E.CharPos;
      return false;
    case smNormal:
    default:
      if (P.LinePos == B.LinePos && P.CharPos < B.CharPos)
        return false;
      if (P.LinePos < E.LinePos)
        return true;
      return P.CharPos < E.CharPos;
  }
}

}  // namespace codeedit
