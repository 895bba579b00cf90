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

void TCodeEditCore::MoveCaretX(int DX, bool Select) {
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
}

void TCodeEditCore::MoveCaretY(int DY, bool Select) {
  const TDisplayCoord From = BufferToDisplayPos(CaretXY());
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
  MoveCaretWithSelection(BlockBegin(), Target, Select);
  FLastCaretX = SavedLastCaretX;
}

void TCodeEditCore::MoveToLineHome(bool Select) {
  int NewX = 1;
  if (HasOption(eoEnhanceHomeKey)) {
    const std::u16string_view Line = LineText(CaretXY().LinePos);
    const int Last = static_cast<int>(Line.size());
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
  MoveCaretWithSelection(CaretXY(), {NewX, CaretXY().LinePos}, Select);
}

void TCodeEditCore::MoveToLineEnd(bool Select) {
  const std::u16string_view Line = LineText(CaretXY().LinePos);
  int L = static_cast<int>(Line.size());
  if (HasOption(eoEnhanceEndKey)) {
    int LastNonBlank = L;
    while (LastNonBlank > 0 && IsBlank(Line[static_cast<std::size_t>(LastNonBlank - 1)]))
      --LastNonBlank;
    // End goes after the last non-blank, and from there to the line end.
    L = CaretXY().CharPos == LastNonBlank + 1 ? static_cast<int>(Line.size()) : LastNonBlank;
  }
  MoveCaretWithSelection(CaretXY(), {L + 1, CaretXY().LinePos}, Select);
}

void TCodeEditCore::PlaceCaretAtDisplayPos(TDisplayCoord Pos) {
  {
    TPaintLockScope Lock(*this);
    SetCaretXY(DisplayToBufferPos(Pos));
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
