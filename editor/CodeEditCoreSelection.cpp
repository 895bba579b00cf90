// The selection's two ends in its three modes, the selected text, and the
// primitive every insertion and deletion goes through: replace the
// selection by a text.

#include <algorithm>
#include <climits>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

// The pieces of Text between its line breaks (CR, LF and CR LF each count
// as one break); a NUL ends the text. BrokenLast says whether the last
// piece was followed by a break; a text ending in a break has an empty
// last piece.
std::vector<std::u16string_view> SplitAtBreaks(std::u16string_view Text) {
  const std::size_t Nul = Text.find(u'\0');
  if (Nul != std::u16string_view::npos)
    Text = Text.substr(0, Nul);
  std::vector<std::u16string_view> Pieces;
  std::size_t Start = 0;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char16_t C = Text[i];
    if (C != u'\r' && C != u'\n')
      continue;
    Pieces.push_back(Text.substr(Start, i - Start));
    if (C == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n')
      ++i;
    Start = i + 1;
  }
  Pieces.push_back(Text.substr(Start));
  return Pieces;
}

}  // namespace

// --- modes and ends ------------------------------------------------------------------

void TCodeEditCore::SetSelectionMode(TCodeSelectionMode Value) {
  if (FSelectionMode == Value)
    return;
  FSelectionMode = Value;
  SetActiveSelectionMode(Value);
}

void TCodeEditCore::SetActiveSelectionMode(TCodeSelectionMode Value) {
  if (FActiveSelectionMode == Value)
    return;
  if (SelAvail())
    InvalidateSelectionLines();
  FActiveSelectionMode = Value;
  if (SelAvail())
    InvalidateSelectionLines();
  AddStatusChanges(scSelection);
}

TBufferCoord TCodeEditCore::BlockBeginSorted() const { return MinPoint(FBlockBegin, FBlockEnd); }

TBufferCoord TCodeEditCore::BlockEndSorted() const {
  return MinPoint(FBlockBegin, FBlockEnd) == FBlockBegin ? FBlockEnd : FBlockBegin;
}

bool TCodeEditCore::SelAvail() const {
  return FBlockBegin.CharPos != FBlockEnd.CharPos ||
         (FBlockBegin.LinePos != FBlockEnd.LinePos && FActiveSelectionMode != smColumn);
}

bool TCodeEditCore::SelectionSpansLines() const {
  return FBlockBegin.LinePos != FBlockEnd.LinePos && FActiveSelectionMode != smColumn;
}

bool TCodeEditCore::SelectionIsWholeLine() const {
  const TBufferCoord S = BlockBeginSorted();
  const TBufferCoord E = BlockEndSorted();
  return S.CharPos == 1 && SelAvail() && E.CharPos > static_cast<int>(LineText().size());
}

TBufferCoord TCodeEditCore::LimitSelectionPos(TBufferCoord Value) const {
  if (HasOption(eoScrollPastEol))
    Value.CharPos = MinMax(Value.CharPos, 1, FMaxScrollWidth + 1);
  else
    Value.CharPos = std::max(Value.CharPos, 1);
  Value.LinePos = MinMax(Value.LinePos, 1, std::max(1, LineCount()));
  if (FActiveSelectionMode == smNormal) {
    if (Value.LinePos <= LineCount())
      Value.CharPos = std::min(Value.CharPos, static_cast<int>(LineText(Value.LinePos).size()) + 1);
    else
      Value.CharPos = 1;
  }
  return Value;
}

void TCodeEditCore::CollapseSelectionAt(TBufferCoord Value) {
  FActiveSelectionMode = FSelectionMode;
  const TBufferCoord V = LimitSelectionPos(Value);
  bool Changed;
  if (SelAvail()) {
    const int First = std::min({FBlockBegin.LinePos, FBlockEnd.LinePos, V.LinePos});
    const int Last = std::max({FBlockBegin.LinePos, FBlockEnd.LinePos, V.LinePos});
    InvalidateTextLines(First, Last);
    Changed = true;
  } else {
    Changed = !(FBlockBegin == V) || !(FBlockEnd == V);
  }
  FBlockBegin = V;
  FBlockEnd = V;
  if (Changed)
    AddStatusChanges(scSelection);
}

void TCodeEditCore::ExtendSelectionTo(TBufferCoord Value) {
  if (HasOption(eoNoSelection))
    return;
  FActiveSelectionMode = FSelectionMode;
  const TBufferCoord V = LimitSelectionPos(Value);
  if (V == FBlockEnd)
    return;
  const TBufferCoord Old = FBlockEnd;
  if (FActiveSelectionMode != smColumn || V.CharPos == Old.CharPos) {
    FBlockEnd = V;
    if (FActiveSelectionMode != smColumn || V.CharPos != FBlockBegin.CharPos)
      InvalidateTextLines(std::min(Old.LinePos, V.LinePos), std::max(Old.LinePos, V.LinePos));
  } else {
    // A column selection that changes its width repaints its whole height.
    InvalidateTextLines(std::min({FBlockBegin.LinePos, Old.LinePos, V.LinePos}),
                        std::max({FBlockBegin.LinePos, Old.LinePos, V.LinePos}));
    FBlockEnd = V;
  }
  AddStatusChanges(scSelection);
}

void TCodeEditCore::SetCaretAndSelection(TBufferCoord Caret, TBufferCoord BlockBegin, TBufferCoord BlockEnd) {
  const TCodeSelectionMode Active = FActiveSelectionMode;
  TPaintLockScope Lock(*this);
  SetCaretXY(Caret);
  SetBlockBegin(BlockBegin);
  SetBlockEnd(BlockEnd);
  FActiveSelectionMode = Active;
}

void TCodeEditCore::SelectAll() {
  const TBufferCoord Last = LineCount() > 0
                                ? TBufferCoord{static_cast<int>(LineText(LineCount()).size()) + 1, LineCount()}
                                : TBufferCoord{1, 1};
  SetCaretAndSelection(Last, {1, 1}, Last);
  AddStatusChanges(scSelection);
}

void TCodeEditCore::InvalidateSelectionLines() {
  InvalidateTextLines(BlockBeginSorted().LinePos, BlockEndSorted().LinePos);
}

void TCodeEditCore::SetHideSelection(bool Value) {
  if (FHideSelection == Value)
    return;
  FHideSelection = Value;
  if (SelAvail())
    InvalidateSelectionLines();
}

// --- reading ---------------------------------------------------------------------------

void TCodeEditCore::ReplaceCaretLine(std::u16string_view Value) {
  if (FCaretY >= 1 && FCaretY <= std::max(LineCount(), 1))
    FLines->PutString(FCaretY - 1, Value);
}

std::u16string TCodeEditCore::SelectedText() {
  std::u16string Result;
  if (!SelAvail())
    return Result;
  TBufferCoord S = BlockBeginSorted();
  TBufferCoord E = BlockEndSorted();
  const int Count = LineCount();
  if (Count == 0 || S.LinePos > Count)
    return Result;
  E.LinePos = std::min(E.LinePos, Count);
  auto Piece = [](std::u16string_view Line, int From, int Length) {
    // Characters From (1-based) on, at most Length of them; nothing outside.
    if (From < 1 || From > static_cast<int>(Line.size()) || Length <= 0)
      return std::u16string_view();
    return Line.substr(static_cast<std::size_t>(From - 1), static_cast<std::size_t>(Length));
  };
  switch (FActiveSelectionMode) {
    case smNormal:
      if (S.LinePos == E.LinePos) {
        Result = Piece(LineText(S.LinePos), S.CharPos, E.CharPos - S.CharPos);
      } else {
        Result = Piece(LineText(S.LinePos), S.CharPos, INT_MAX);
        Result += CRLFText;
        for (int L = S.LinePos + 1; L < E.LinePos; ++L) {
          Result += LineText(L);
          Result += CRLFText;
        }
        Result += Piece(LineText(E.LinePos), 1, E.CharPos - 1);
      }
      break;
    case smLine:
      for (int L = S.LinePos; L <= E.LinePos; ++L) {
        Result += LineText(L);
        if (L < E.LinePos || E.LinePos < Count)
          Result += CRLFText;
      }
      break;
    case smColumn: {
      const TDisplayCoord DS = BufferToDisplayPos(S);
      const TDisplayCoord DE = BufferToDisplayPos(E);
      const int Left = std::min(DS.Column, DE.Column);
      const int Right = std::max(DS.Column, DE.Column);
      const bool Trim = HasOption(eoTrimTrailingSpaces);
      for (int Row = DS.Row; Row <= DE.Row; ++Row) {
        const int Start = DisplayToBufferPos({Left, Row}).CharPos;
        const int End = DisplayToBufferPos({Right, Row}).CharPos;
        const int Width = End - Start;
        std::u16string Part(Piece(LineText(Row), Start, Width));
        if (!Trim && static_cast<int>(Part.size()) < Width)
          Part.append(static_cast<std::size_t>(Width) - Part.size(), u' ');
        Result += Part;
        if (Row < DE.Row)
          Result += CRLFText;
      }
      break;
    }
  }
  return Result;
}

std::u16string TCodeEditCore::WordAtCaret() {
  const TBufferCoord OldBegin = FBlockBegin;
  const TBufferCoord OldEnd = FBlockEnd;
  const TCodeSelectionMode OldMode = FActiveSelectionMode;
  FBlockBegin = WordStart();
  FBlockEnd = WordEnd();
  FActiveSelectionMode = smNormal;
  std::u16string Result = SelectedText();
  FBlockBegin = OldBegin;
  FBlockEnd = OldEnd;
  FActiveSelectionMode = OldMode;
  return Result;
}

// --- replacing -----------------------------------------------------------------------------

std::u16string TCodeEditCore::TrimTrailing(std::u16string_view Value) {
  std::size_t End = Value.size();
  while (End > 0 && (Value[End - 1] == u' ' || Value[End - 1] == u'\t'))
    --End;
  return std::u16string(Value.substr(0, End));
}

void TCodeEditCore::StoreLine(int Index, std::u16string_view Value) {
  if (HasOption(eoTrimTrailingSpaces))
    FLines->PutString(Index, TrimTrailing(Value));
  else
    FLines->PutString(Index, Value);
}

void TCodeEditCore::DeleteSelection(TBufferCoord S, TBufferCoord E) {
  const int Count = LineCount();
  switch (FActiveSelectionMode) {
    case smNormal: {
      if (Count == 0)
        break;
      S.LinePos = std::min(S.LinePos, Count);
      E.LinePos = std::min(E.LinePos, Count);
      const std::u16string_view First = LineText(S.LinePos);
      const std::u16string_view Last = LineText(E.LinePos);
      std::u16string Joined(First.substr(0, std::min<std::size_t>(First.size(), static_cast<std::size_t>(S.CharPos - 1))));
      if (E.CharPos - 1 < static_cast<int>(Last.size()))
        Joined += Last.substr(static_cast<std::size_t>(E.CharPos - 1));
      if (E.LinePos > S.LinePos)
        FLines->DeleteLines(S.LinePos, E.LinePos - S.LinePos);
      if (HasOption(eoScrollPastEol) && HasOption(eoTrimTrailingSpaces))
        Joined = TrimTrailing(Joined);
      FLines->PutString(S.LinePos - 1, Joined);
      SetCaretXY(S);
      DoLinesDeleted(S.LinePos, E.LinePos - S.LinePos);
      break;
    }
    case smLine: {
      if (Count == 0)
        break;
      E.LinePos = std::min(E.LinePos, Count);
      if (E.LinePos == Count) {
        // The buffer keeps an empty last line.
        FLines->PutString(E.LinePos - 1, u"");
        if (E.LinePos > S.LinePos)
          FLines->DeleteLines(S.LinePos - 1, E.LinePos - S.LinePos);
      } else {
        FLines->DeleteLines(S.LinePos - 1, E.LinePos - S.LinePos + 1);
      }
      SetCaretXY({1, S.LinePos});
      DoLinesDeleted(S.LinePos, E.LinePos + 1 - S.LinePos);
      break;
    }
    case smColumn: {
      const int Left = std::min(S.CharPos, E.CharPos);
      const int Right = std::max(S.CharPos, E.CharPos);
      for (int L = S.LinePos; L <= std::min(E.LinePos, Count); ++L) {
        std::u16string Line(LineText(L));
        if (Left - 1 < static_cast<int>(Line.size()))
          Line.erase(static_cast<std::size_t>(Left - 1), static_cast<std::size_t>(Right - Left));
        StoreLine(L - 1, Line);
      }
      SetCaretXY({Left, FBlockEnd.LinePos});
      break;
    }
  }
}

int TCodeEditCore::InsertNormal(std::u16string_view Value) {
  if (LineCount() == 0)
    FLines->Add(u"");
  const std::u16string_view Line = LineText(FCaretY);
  const std::size_t LeftLength = static_cast<std::size_t>(FCaretX - 1);
  std::u16string Left(Line.substr(0, std::min(LeftLength, Line.size())));
  Left.resize(LeftLength, u' ');
  const std::u16string Right(Line.size() > LeftLength ? Line.substr(LeftLength) : std::u16string_view());
  const std::vector<std::u16string_view> Pieces = SplitAtBreaks(Value);
  const int Breaks = static_cast<int>(Pieces.size()) - 1;
  std::u16string Final;
  if (Breaks == 0) {
    Final = Left + std::u16string(Pieces[0]) + Right;
    StoreLine(FCaretY - 1, Final);
  } else {
    StoreLine(FCaretY - 1, Left + std::u16string(Pieces[0]));
    FLines->InsertLines(FCaretY, Breaks);
    for (int i = 1; i <= Breaks; ++i) {
      ++FCaretY;
      AddStatusChanges(scCaretY);
      std::u16string Text(Pieces[static_cast<std::size_t>(i)]);
      if (i == Breaks) {
        Text += Right;
        Final = Text;
      }
      StoreLine(FCaretY - 1, Text);
    }
  }
  if (HasOption(eoTrimTrailingSpaces)) {
    const std::u16string TrimmedRight = TrimTrailing(Right);
    if (Right.empty()) {
      // Typed blanks at the end of a line are kept as a caret position.
      bool HasTabs = false;
      const std::u16string Expanded = ConvertTabsAnyWidth(Final, FTabWidth, HasTabs);
      FCaretX = static_cast<int>(Expanded.size()) + 1;
    } else {
      FCaretX = static_cast<int>(LineText(FCaretY).size()) + 1 - static_cast<int>(TrimmedRight.size());
    }
  } else {
    FCaretX = static_cast<int>(LineText(FCaretY).size()) + 1 - static_cast<int>(Right.size());
  }
  AddStatusChanges(scCaretX);
  return Breaks;
}

int TCodeEditCore::InsertColumn(std::u16string_view Value, bool AddToUndo) {
  int Added = 0;
  const int InsertPos = FCaretX;
  const std::vector<std::u16string_view> Pieces = SplitAtBreaks(Value);
  for (std::size_t i = 0; i < Pieces.size(); ++i) {
    const std::u16string_view Piece = Pieces[i];
    if (!Piece.empty()) {
      std::u16string Line;
      if (FCaretY > LineCount()) {
        ++Added;
        Line.assign(static_cast<std::size_t>(InsertPos - 1), u' ');
        Line += Piece;
        FLines->Add(u"");
        if (AddToUndo && FCaretY >= 2) {
          const TBufferCoord Break{static_cast<int>(LineText(FCaretY - 1).size()) + 1, FCaretY - 1};
          FUndoList->AddChange(crLineBreak, Break, Break, u"", smNormal);
        }
      } else {
        Line = LineText(FCaretY);
        if (static_cast<int>(Line.size()) < InsertPos)
          Line.resize(static_cast<std::size_t>(InsertPos - 1), u' ');
        Line.insert(static_cast<std::size_t>(InsertPos - 1), Piece);
      }
      StoreLine(FCaretY - 1, Line);
      if (AddToUndo)
        FUndoList->AddChange(crPaste, {InsertPos, FCaretY}, {InsertPos + static_cast<int>(Piece.size()), FCaretY},
                             u"", FActiveSelectionMode);
    }
    if (i + 1 < Pieces.size()) {
      ++FCaretY;
      AddStatusChanges(scCaretY);
    }
  }
  FCaretX += static_cast<int>(Pieces.back().size());
  AddStatusChanges(scCaretX);
  return Added;
}

int TCodeEditCore::InsertByLine(std::u16string_view Value) {
  FCaretX = 1;
  AddStatusChanges(scCaretX);
  const std::vector<std::u16string_view> Pieces = SplitAtBreaks(Value);
  const int Broken = static_cast<int>(Pieces.size()) - 1;
  for (int i = 0; i < Broken; ++i) {
    FLines->Insert(std::min(FCaretY - 1, LineCount()), Pieces[static_cast<std::size_t>(i)]);
    ++FCaretY;
    AddStatusChanges(scCaretY);
  }
  std::u16string Last(Pieces.back());
  if (FCaretY > LineCount()) {
    FLines->Add(HasOption(eoTrimTrailingSpaces) ? TrimTrailing(Last) : Last);
  } else {
    std::u16string Line = Last + std::u16string(LineText(FCaretY));
    StoreLine(FCaretY - 1, Line);
  }
  FCaretX = static_cast<int>(Last.size()) + 1;
  return Broken;
}

void TCodeEditCore::ReplaceSelectionEx(TCodeSelectionMode Mode, std::u16string_view Value, bool AddToUndo) {
  TPaintLockScope Lock(*this);
  TUnicodeUpdateScope Update(*FLines);
  if (SelAvail()) {
    const TBufferCoord S = BlockBeginSorted();
    const TBufferCoord E = BlockEndSorted();
    DeleteSelection(S, E);
    // The selection is gone: both ends where the text now goes.
    FBlockBegin = CaretXY();
    FBlockEnd = CaretXY();
  }
  const std::size_t Nul = Value.find(u'\0');
  if (Nul != std::u16string_view::npos)
    Value = Value.substr(0, Nul);
  if (!Value.empty()) {
    const int StartLine = FCaretY;
    const int StartColumn = FCaretX;
    int Added = 0;
    switch (Mode) {
      case smNormal:
        Added = InsertNormal(Value);
        break;
      case smColumn:
        Added = InsertColumn(Value, AddToUndo);
        break;
      case smLine:
        Added = InsertByLine(Value);
        break;
    }
    if (Added > 0)
      DoLinesInserted(Mode == smNormal && StartColumn > 1 ? StartLine + 1 : StartLine, Added);
  }
  if (FCaretY < 1)
    FCaretY = 1;
  // The inserts moved the caret fields directly: limit them, bring the
  // caret into view and have it placed when the lock ends.
  SetCaretPosition(CaretXY());
  RememberCaretColumn();
  EnsureCursorPosVisible();
  FCaretChanged = true;
  FScrollBarsChanged = true;
}

}  // namespace codeedit
