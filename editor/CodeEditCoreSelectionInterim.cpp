// Stand-in for the selection unit's block access and replacement, until it
// lands; removed then.
#include "editor/CodeEditCore.h"

#include <algorithm>

#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

std::vector<std::u16string> SplitPieces(std::u16string_view Text, int& Breaks) {
  std::vector<std::u16string> Pieces(1);
  Breaks = 0;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    char16_t C = Text[i];
    if (C == 0)
      break;
    if (C == u'\r' || C == u'\n') {
      if (C == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n')
        ++i;
      Pieces.emplace_back();
      ++Breaks;
    } else {
      Pieces.back().push_back(C);
    }
  }
  return Pieces;
}

}  // namespace

TBufferCoord TCodeEditCore::BlockBeginSorted() const { return MinPoint(FBlockBegin, FBlockEnd); }
TBufferCoord TCodeEditCore::BlockEndSorted() const {
  return MinPoint(FBlockBegin, FBlockEnd) == FBlockBegin ? FBlockEnd : FBlockBegin;
}

void TCodeEditCore::SetBlockBegin(TBufferCoord Value) {
  FActiveSelectionMode = FSelectionMode;
  Value = ClampPos(Value);
  FBlockBegin = Value;
  FBlockEnd = Value;
  AddStatusChanges(scSelection);
}

void TCodeEditCore::SetBlockEnd(TBufferCoord Value) {
  if (HasOption(eoNoSelection))
    return;
  FActiveSelectionMode = FSelectionMode;
  FBlockEnd = ClampPos(Value);
  AddStatusChanges(scSelection);
}

bool TCodeEditCore::SelectionSpansLines() const {
  return FBlockBegin.LinePos != FBlockEnd.LinePos && FActiveSelectionMode != smColumn;
}

bool TCodeEditCore::SelectionIsWholeLine() const {
  return BlockBeginSorted().CharPos == 1 && SelAvail() &&
         BlockEndSorted().CharPos > static_cast<int>(LineText(FCaretY).size());
}

std::u16string TCodeEditCore::SelectedText() {
  if (!SelAvail())
    return {};
  TBufferCoord S = BlockBeginSorted(), E = BlockEndSorted();
  std::u16string R;
  auto Sub = [](std::u16string_view L, int From, int Count) {
    From = std::max(From, 0);
    if (From >= static_cast<int>(L.size()) || Count <= 0)
      return std::u16string();
    return std::u16string(L.substr(static_cast<std::size_t>(From), static_cast<std::size_t>(Count)));
  };
  switch (FActiveSelectionMode) {
  case smNormal:
    if (S.LinePos == E.LinePos)
      return Sub(LineText(S.LinePos), S.CharPos - 1, E.CharPos - S.CharPos);
    R = Sub(LineText(S.LinePos), S.CharPos - 1, INT32_MAX);
    for (int L = S.LinePos + 1; L < E.LinePos; ++L)
      R += u"\r\n" + std::u16string(LineText(L));
    R += u"\r\n" + Sub(LineText(E.LinePos), 0, E.CharPos - 1);
    return R;
  case smLine:
    for (int L = S.LinePos; L <= E.LinePos; ++L) {
      R += LineText(L);
      if (L < E.LinePos || L < LineCount())
        R += u"\r\n";
    }
    return R;
  case smColumn: {
    int C1 = BufferToDisplayPos(S).Column, C2 = BufferToDisplayPos(E).Column;
    if (C1 > C2)
      std::swap(C1, C2);
    for (int L = S.LinePos; L <= E.LinePos; ++L) {
      int X1 = DisplayToBufferPos({C1, L}).CharPos, X2 = DisplayToBufferPos({C2, L}).CharPos;
      std::u16string Piece = Sub(LineText(L), X1 - 1, X2 - X1);
      if (!HasOption(eoTrimTrailingSpaces) && static_cast<int>(Piece.size()) < X2 - X1)
        Piece.append(static_cast<std::size_t>(X2 - X1) - Piece.size(), u' ');
      R += Piece;
      if (L < E.LinePos)
        R += u"\r\n";
    }
    return R;
  }
  }
  return R;
}

void TCodeEditCore::ReplaceSelectionEx(TCodeSelectionMode Mode, std::u16string_view Text, bool AddToUndo) {
  IncPaintLock();
  TUnicodeUpdateScope Update(*FLines);
  struct Unlock {
    TCodeEditCore* C;
    ~Unlock() { C->DecPaintLock(); }
  } U{this};
  if (SelAvail()) {
    TBufferCoord S = BlockBeginSorted(), E = BlockEndSorted();
    switch (FActiveSelectionMode) {
    case smNormal:
      if (LineCount() > 0) {
        std::u16string Before(LineText(S.LinePos).substr(
            0, std::min<std::size_t>(LineText(S.LinePos).size(), static_cast<std::size_t>(S.CharPos - 1))));
        std::u16string_view EL = LineText(E.LinePos);
        std::u16string After(EL.size() >= static_cast<std::size_t>(E.CharPos - 1)
                                 ? EL.substr(static_cast<std::size_t>(E.CharPos - 1))
                                 : std::u16string_view());
        FLines->DeleteLines(S.LinePos, E.LinePos - S.LinePos);
        std::u16string Joined = Before + After;
        if (HasOption(eoScrollPastEol) && HasOption(eoTrimTrailingSpaces))
          Joined = TrimTrailing(Joined);
        FLines->PutString(S.LinePos - 1, Joined);
        FCaretX = S.CharPos;
        FCaretY = S.LinePos;
        DoLinesDeleted(S.LinePos + 1, E.LinePos - S.LinePos);
      }
      break;
    case smLine:
      if (E.LinePos >= LineCount()) {
        FLines->PutString(E.LinePos - 1, u"");
        for (int L = E.LinePos - 1; L >= S.LinePos; --L)
          FLines->Delete(L - 1);
      } else {
        for (int L = E.LinePos; L >= S.LinePos; --L)
          FLines->Delete(L - 1);
      }
      FCaretX = 1;
      FCaretY = S.LinePos;
      DoLinesDeleted(S.LinePos, E.LinePos + 1 - S.LinePos);
      break;
    case smColumn: {
      int X1 = std::min(S.CharPos, E.CharPos), X2 = std::max(S.CharPos, E.CharPos);
      for (int L = S.LinePos; L <= E.LinePos; ++L) {
        std::u16string Line(LineText(L));
        if (static_cast<int>(Line.size()) >= X1)
          Line.erase(static_cast<std::size_t>(X1 - 1), static_cast<std::size_t>(X2 - X1));
        StoreLine(L - 1, Line);
      }
      FCaretX = X1;
      FCaretY = FBlockEnd.LinePos;
      break;
    }
    }
  }
  int Breaks = 0;
  std::vector<std::u16string> Pieces = SplitPieces(Text, Breaks);
  const bool HasText = !(Pieces.size() == 1 && Pieces[0].empty());
  if (HasText) {
    const int StartLine = FCaretY, StartCol = FCaretX;
    int Added = 0;
    if (Mode == smNormal) {
      std::u16string_view Cur = LineText(FCaretY);
      std::u16string Left(Cur.substr(0, std::min<std::size_t>(Cur.size(), static_cast<std::size_t>(FCaretX - 1))));
      Left.resize(static_cast<std::size_t>(FCaretX - 1), u' ');
      std::u16string Right(Cur.size() > Left.size() ? Cur.substr(Left.size()) : std::u16string_view());
      if (Breaks == 0) {
        StoreLine(FCaretY - 1, Left + Pieces[0] + Right);
      } else {
        StoreLine(FCaretY - 1, Left + Pieces[0]);
        FLines->InsertLines(FCaretY, Breaks);
        for (std::size_t i = 1; i < Pieces.size(); ++i) {
          ++FCaretY;
          StoreLine(FCaretY - 1, i + 1 == Pieces.size() ? Pieces[i] + Right : Pieces[i]);
        }
        Added = Breaks;
      }
      std::u16string_view Final = LineText(FCaretY);
      FCaretX = static_cast<int>(Final.size()) + 1 - static_cast<int>(Right.size());
      if (HasOption(eoTrimTrailingSpaces)) {
        std::u16string R = TrimTrailing(Right);
        FCaretX = R.empty() ? FLines->GetExpandedLength(FCaretY - 1) + 1
                            : static_cast<int>(Final.size()) + 1 - static_cast<int>(R.size());
      }
      if (Added > 0)
        DoLinesInserted(StartCol > 1 ? StartLine + 1 : StartLine, Added);
    } else if (Mode == smColumn) {
      const int InsertCol = FCaretX;
      for (std::size_t i = 0; i < Pieces.size(); ++i) {
        if (FCaretY > LineCount()) {
          if (AddToUndo && LineCount() > 0)
            FUndoList->AddChange(crLineBreak, {static_cast<int>(LineText(LineCount()).size()) + 1, LineCount()},
                                 {static_cast<int>(LineText(LineCount()).size()) + 1, LineCount()}, u"",
                                 FActiveSelectionMode);
          FLines->Add(std::u16string(static_cast<std::size_t>(InsertCol - 1), u' ') + Pieces[i]);
          ++Added;
        } else {
          std::u16string Line(LineText(FCaretY));
          if (static_cast<int>(Line.size()) < InsertCol - 1)
            Line.resize(static_cast<std::size_t>(InsertCol - 1), u' ');
          Line.insert(static_cast<std::size_t>(InsertCol - 1), Pieces[i]);
          StoreLine(FCaretY - 1, Line);
        }
        if (AddToUndo)
          FUndoList->AddChange(crPaste, {InsertCol, FCaretY},
                               {InsertCol + static_cast<int>(Pieces[i].size()), FCaretY}, u"",
                               FActiveSelectionMode);
        if (i + 1 < Pieces.size())
          ++FCaretY;
      }
      FCaretX = InsertCol + static_cast<int>(Pieces.back().size());
      if (Added > 0)
        DoLinesInserted(StartLine, Added);
    } else {
      FCaretX = 1;
      for (std::size_t i = 0; i + 1 < Pieces.size(); ++i) {
        FLines->Insert(FCaretY - 1, Pieces[i]);
        ++FCaretY;
        ++Added;
      }
      std::u16string Last = Pieces.back();
      if (FCaretY > LineCount())
        FLines->Add(Last);
      else
        StoreLine(FCaretY - 1, Last + std::u16string(LineText(FCaretY)));
      FCaretX = static_cast<int>(Last.size()) + 1;
      if (Added > 0)
        DoLinesInserted(StartLine, Added);
    }
  }
  if (FCaretY < 1)
    FCaretY = 1;
  TBufferCoord C = ClampPos({FCaretX, FCaretY});
  FCaretX = C.CharPos;
  FCaretY = C.LinePos;
  FBlockBegin = C;
  FBlockEnd = C;
  AddStatusChanges(scCaretX | scCaretY | scSelection);
}

}  // namespace codeedit
