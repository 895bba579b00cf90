// The editing commands of the editor: characters, lines, indentation, tabs,
// case and paste. Every change goes into the undo list with a reason that
// undo and redo (CodeEditCoreUndo.cpp) know how to replay.

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>

#include "editor/CodeClipboardText.h"
#include "editor/CodeEditCore.h"
#include "editor/CodeEditEditingScopes.h"
#include "editor/CodeEditMiscProcs.h"
#include "editor/CodeUnicode.h"

namespace codeedit {

namespace {

// Undo blocks close however a command ends.
class UndoBlockScope {
public:
  explicit UndoBlockScope(TCodeEditCore& Core) : FCore(Core), FEnd([this] { FCore.EndUndoBlock(); }) {
    FCore.BeginUndoBlock();
  }

private:
  TCodeEditCore& FCore;
  ScopeExit<std::function<void()>> FEnd;
};

bool IsBlank(char16_t C) { return C >= 1 && C <= 32; }

int Len(std::u16string_view S) { return static_cast<int>(S.size()); }

std::u16string Spaces(int N) { return std::u16string(static_cast<std::size_t>(std::max(N, 0)), u' '); }

// The pieces of a text between its line breaks (CR LF, CR or LF).
std::vector<std::u16string> TextPieces(std::u16string_view Text) {
  std::vector<std::u16string> Pieces(1);
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char16_t C = Text[i];
    if (C == u'\r' || C == u'\n') {
      if (C == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n')
        ++i;
      Pieces.emplace_back();
    } else {
      Pieces.back().push_back(C);
    }
  }
  return Pieces;
}

// Whole lines that went in are recorded as the stream of characters they
// added, from column 1 of the first to the caret at column 1 of the line
// after them: a line selection between those ends would take that line too.
TCodeSelectionMode InsertionMode(TCodeSelectionMode Mode) { return Mode == smLine ? smNormal : Mode; }

bool IsBefore(TBufferCoord A, TBufferCoord B) {
  return A.LinePos < B.LinePos || (A.LinePos == B.LinePos && A.CharPos < B.CharPos);
}

}  // namespace

// --- line text helpers ---------------------------------------------------------------

int TCodeEditCore::LeftSpaces(std::u16string_view S) const { return LeftSpacesEx(S, false); }

int TCodeEditCore::LeftSpacesEx(std::u16string_view S, bool CountTabs) const {
  if (!HasOption(eoAutoIndent))
    return 0;
  int N = 0;
  for (char16_t C : S) {
    if (!IsBlank(C))
      break;
    N += (CountTabs && C == u'\t') ? FTabWidth : 1;
  }
  return N;
}

std::u16string TCodeEditCore::GetLeftSpacing(int N, bool UseTabs) const {
  if (!UseTabs || HasOption(eoTabsToSpaces) || N < FTabWidth)
    return Spaces(N);
  return std::u16string(static_cast<std::size_t>(N / FTabWidth), u'\t') + Spaces(N % FTabWidth);
}

int TCodeEditCore::DisplayColumnIn(std::u16string_view Line, int CharPos) {
  int Column = 0;
  for (int i = 1; i < CharPos; ++i) {
    if (i > Len(Line))
      Column += 1;
    else if (Line[static_cast<std::size_t>(i - 1)] == u'\t')
      Column += FTabWidth - Column % FTabWidth;
    else
      Column += CharCells(Line[static_cast<std::size_t>(i - 1)]);
  }
  return Column + 1;
}

// --- selection text ---------------------------------------------------------------------

// Ends that make no selection in one mode (a column of no width) may make one
// in another: without a selection they close up at the caret first.
void TCodeEditCore::SwitchActiveMode(TCodeSelectionMode Mode) {
  if (!SelAvail()) {
    FBlockBegin = CaretXY();
    FBlockEnd = CaretXY();
  }
  FActiveSelectionMode = Mode;
}

void TCodeEditCore::SetSelText(std::u16string_view Value) {
  UndoBlockScope Block(*this);
  if (SelAvail())
    FUndoList->AddChange(crDelete, SelectionEndInText(FBlockBegin), SelectionEndInText(FBlockEnd), RemovedText(),
                         FActiveSelectionMode);
  else
    SwitchActiveMode(FSelectionMode);
  TBufferCoord Start = BlockBeginSorted();
  // A line selection is replaced from the start of its first line.
  if (FActiveSelectionMode == smLine)
    Start.CharPos = 1;
  const TBufferCoord Begin = BlockBeginSorted(), End = BlockEndSorted();
  FBlockBegin = Begin;
  FBlockEnd = End;
  ReplaceSelectionRecorded(FActiveSelectionMode, Value);
  if (!Value.empty() && FActiveSelectionMode != smColumn)
    FUndoList->AddChange(crInsert, Start, CaretXY(), u"", InsertionMode(FActiveSelectionMode));
}

// A selection end as a deletion records it: in a stream selection an end
// past its line's end stands at the line end, where undo puts the text back
// without filling the line up with blanks.
TBufferCoord TCodeEditCore::SelectionEndInText(TBufferCoord P) const {
  if (FActiveSelectionMode == smNormal && P.LinePos >= 1 && P.LinePos <= LineCount())
    P.CharPos = std::min(P.CharPos, Len(LineText(P.LinePos)) + 1);
  return P;
}

std::u16string TCodeEditCore::RemovedText() {
  if (FActiveSelectionMode != smColumn || !SelAvail())
    return SelectedText();
  // What deleting the column takes from each line, without the blanks that
  // reading a column adds for short lines: undo puts back exactly this.
  const TBufferCoord S = BlockBeginSorted(), E = BlockEndSorted();
  const int X1 = std::min(S.CharPos, E.CharPos), X2 = std::max(S.CharPos, E.CharPos);
  std::u16string Result;
  for (int L = S.LinePos; L <= E.LinePos; ++L) {
    const std::u16string_view Line = LineText(L);
    if (L > S.LinePos)
      Result += u"\r\n";
    if (Len(Line) >= X1)
      Result += Line.substr(static_cast<std::size_t>(X1 - 1), static_cast<std::size_t>(X2 - X1));
  }
  return Result;
}

// The text that replaces a selection goes in where the selection began: for
// a column, its top left corner (the deletion leaves the caret on the line of
// the end that moved).
void TCodeEditCore::DeleteSelectionBeforeInsert() {
  const bool Column = FActiveSelectionMode == smColumn;
  const TBufferCoord S = BlockBeginSorted(), E = BlockEndSorted();
  ReplaceSelectionEx(FActiveSelectionMode, u"", true);
  if (Column)
    MoveCaretAndCollapse({std::min(S.CharPos, E.CharPos), S.LinePos});
}

// The primitive, with the blanks it adds recorded first: lines shorter than
// the insertion column are filled up with blanks before the text goes in,
// and undo must take those away again after the text.
void TCodeEditCore::ReplaceSelectionRecorded(TCodeSelectionMode Mode, std::u16string_view Text) {
  if (Text.empty() || Mode == smLine) {
    ReplaceSelectionEx(Mode, Text, true);
    return;
  }
  if (SelAvail())
    DeleteSelectionBeforeInsert();
  FActiveSelectionMode = Mode;
  const int X = FCaretX;
  const int Lines = Mode == smColumn ? static_cast<int>(TextPieces(Text).size()) : 1;
  for (int L = FCaretY; L < FCaretY + Lines && L <= LineCount(); ++L) {
    const int LineLen = Len(LineText(L));
    if (LineLen < X - 1)
      FUndoList->AddChange(crWhiteSpaceAdd, {X, L}, {LineLen + 1, L}, u"", smNormal);
  }
  ReplaceSelectionEx(Mode, Text, true);
}

void TCodeEditCore::DeleteSelection() {
  if (SelAvail())
    SetSelText(u"");
}

void TCodeEditCore::DeleteSelectionForDeleteKey() {
  const TBufferCoord B = SelectionEndInText(FBlockBegin), E = SelectionEndInText(FBlockEnd);
  const TCodeSelectionMode Mode = FActiveSelectionMode;
  std::u16string Text = RemovedText();
  ReplaceSelectionEx(Mode, u"", true);
  FUndoList->AddChange(IsBefore(B, E) ? crDelete : crDeleteAfterCursor, B, E, Text, Mode);
}

void TCodeEditCore::ClearAll() {
  FLines->Clear();
  FMarkList.Clear();
  FBookMarks.fill(nullptr);
  ClearUndo();
  SetModified(false);
}

// --- deleting ------------------------------------------------------------------------------

void TCodeEditCore::DeleteLastChar() {
  DoPaintTransientEx(ttBefore, true);
  ScopeExit After([this] { DoPaintTransientEx(ttAfter, true); });
  if (SelAvail()) {
    DeleteSelectionForDeleteKey();
    return;
  }
  std::u16string LineStr(LineText(FCaretY));
  const int LineLen = Len(LineStr);
  const int X = FCaretX, Y = FCaretY;
  const TBufferCoord Started = CaretXY();
  std::u16string Removed;
  int Correction = 0;
  // The indentation of the nearest line above that is indented less than N1;
  // 0 when there is none.
  auto IndentAbove = [&](int N1, bool CountTabs) {
    int N2 = 0;
    bool Found = false;
    for (int L = Y - 1; L >= 1; --L) {
      N2 = CountTabs ? LeftSpacesEx(LineText(L), true) : LeftSpaces(LineText(L));
      if (N2 < N1) {
        Found = true;
        break;
      }
    }
    if (!Found && N2 > N1)
      N2 = 0;
    if (N2 == N1)
      N2 = 0;
    return N2;
  };
  if (X > LineLen + 1) {
    // Past the line end nothing is deleted: the caret only moves back.
    if (HasOption(eoSmartTabDelete)) {
      if (LineLen == 0)
        FCaretX = IndentAbove(X - 1, HasOption(eoTrimTrailingSpaces)) + 1;
      else
        FCaretX = LineLen + 1;
    } else {
      FCaretX = X - 1;
    }
    AddStatusChanges(scCaretX);
  } else if (X == 1) {
    if (Y >= 2) {
      std::u16string Prev(LineText(Y - 1));
      SetCaretXY({Len(Prev) + 1, Y - 1});
      FLines->Delete(Y - 1);
      DoLinesDeleted(FCaretY + 1, 1);
      FLines->PutString(FCaretY - 1, Prev + (HasOption(eoTrimTrailingSpaces) ? TrimTrailing(LineStr) : LineStr));
      Removed = u"\r\n";
    }
  } else {
    const int N1 = LeftSpaces(LineStr);
    if (!IsBlank(LineStr[static_cast<std::size_t>(X - 2)]) || X - 1 != N1) {
      Removed = LineStr.substr(static_cast<std::size_t>(X - 2), 1);
      LineStr.erase(static_cast<std::size_t>(X - 2), 1);
      FCaretX = X - 1;
      StoreLine(Y - 1, LineStr);
      if (HasOption(eoTrimTrailingSpaces) && FLines->GetExpandedLength(Y - 1) != Len(LineText(Y))) {
        // Trimming moved the end; keep the caret where it showed on screen.
        const std::u16string_view Stored = LineText(Y);
        if (Len(Stored) < Len(LineStr))
          Correction = DisplayColumnIn(LineStr, FCaretX) - DisplayColumnIn(Stored, FCaretX);
      }
      AddStatusChanges(scCaretX);
    } else {
      int Count;
      if (HasOption(eoSmartTabDelete)) {
        Count = N1 - IndentAbove(N1, false);
        Removed = LineStr.substr(0, static_cast<std::size_t>(Count));
        LineStr.erase(0, static_cast<std::size_t>(Count));
      } else {
        // Back to the previous tab stop: spaces up to it, or one tab.
        const int Column = BufferToDisplayPos(CaretXY()).Column;
        int B = (Column - 1) % FTabWidth;
        if (B == 0)
          B = FTabWidth;
        const std::u16string Expanded = FLines->GetExpandedString(Y - 1);
        Count = 0;
        for (int i = Column - B; Count < std::min(FTabWidth, B) && i >= 1 && i <= Len(Expanded); ++i) {
          ++Count;
          if (Expanded[static_cast<std::size_t>(i - 1)] == u'\t')
            break;
        }
        Count = std::max(1, std::min(Count, N1));
        const int From = Count == N1 ? 0 : N1 - Count;
        Removed = LineStr.substr(static_cast<std::size_t>(From), static_cast<std::size_t>(Count));
        LineStr.erase(static_cast<std::size_t>(From), static_cast<std::size_t>(Count));
      }
      StoreLine(Y - 1, LineStr);
      FCaretX = X - Count;
      RememberCaretColumn();
      AddStatusChanges(scCaretX);
    }
  }
  if (!(CaretXY() == Started)) {
    FUndoList->AddChange(crQuietDelete, CaretXY(), Started, Removed, smNormal);
    if (Correction != 0) {
      OptionOnScope Past(FOptions, eoScrollPastEol);
      SetCaretXY({FCaretX + Correction, FCaretY});
    }
  }
  EnsureCursorPosVisible();
}

void TCodeEditCore::DeleteChar() {
  DoPaintTransient(ttBefore);
  if (SelAvail()) {
    DeleteSelectionForDeleteKey();
  } else {
    RememberCaretColumn();
    std::u16string LineStr(LineText(FCaretY));
    const int X = FCaretX, Y = FCaretY;
    std::u16string Removed;
    TBufferCoord End;
    std::optional<UndoBlockScope> Block;
    if (X > Len(LineStr)) {
      if (Y < LineCount()) {
        // The blanks that carry the next line to the caret are recorded, so
        // that undo takes them away after breaking the line again.
        if (X > Len(LineStr) + 1) {
          Block.emplace(*this);
          FUndoList->AddChange(crWhiteSpaceAdd, {X, Y}, {Len(LineStr) + 1, Y}, u"", smNormal);
        }
        StoreLine(Y - 1, LineStr + Spaces(X - 1 - Len(LineStr)) + std::u16string(LineText(Y + 1)));
        FLines->Delete(Y);
        DoLinesDeleted(Y + 1, 1);
        Removed = u"\r\n";
        End = {1, Y + 1};
      }
    } else {
      Removed = LineStr.substr(static_cast<std::size_t>(X - 1), 1);
      LineStr.erase(static_cast<std::size_t>(X - 1), 1);
      StoreLine(Y - 1, LineStr);
      End = {X + 1, Y};
    }
    if (!Removed.empty())
      FUndoList->AddChange(crQuietDeleteAfterCursor, {X, Y}, End, Removed, smNormal);
  }
  DoPaintTransient(ttAfter);
}

void TCodeEditCore::DeleteWordOrEol(bool ToLineEnd) {
  DoPaintTransient(ttBefore);
  const TBufferCoord Caret = CaretXY();
  std::u16string_view LineStr = LineText(Caret.LinePos);
  TBufferCoord W;
  if (ToLineEnd) {
    W = {Len(LineStr) + 1, Caret.LinePos};
  } else {
    W = WordEnd();
    std::u16string_view Scanned = LineStr;
    if (IsBefore(W, Caret) || (W.CharPos == Caret.CharPos && Caret.LinePos < LineCount())) {
      if (W.CharPos > Len(LineStr)) {
        if (Caret.LinePos < LineCount()) {
          W = {1, W.LinePos + 1};
          Scanned = LineText(W.LinePos);
        } else {
          W = Caret;
        }
      } else if (LineStr[static_cast<std::size_t>(W.CharPos - 1)] != u' ') {
        ++W.CharPos;
      }
    }
    if (!Scanned.empty())
      while (W.CharPos <= Len(Scanned) && Scanned[static_cast<std::size_t>(W.CharPos - 1)] == u' ')
        ++W.CharPos;
  }
  if (!(W == Caret) && IsBefore(Caret, W)) {
    // A caret past the line end keeps its column: the gap becomes blanks,
    // recorded so that undo takes them away after putting the text back.
    const TBufferCoord Begin{std::min(Caret.CharPos, Len(LineStr) + 1), Caret.LinePos};
    const int Gap = Caret.CharPos - Begin.CharPos;
    SetCaretAndSelection(Caret, Begin, W);
    FActiveSelectionMode = smNormal;
    const std::u16string Removed = SelectedText();
    UndoBlockScope Block(*this);
    if (Gap > 0)
      FUndoList->AddChange(crWhiteSpaceAdd, Caret, Begin, u"", smNormal);
    ReplaceSelectionEx(smNormal, Spaces(Gap), true);
    FUndoList->AddChange(crQuietDeleteAfterCursor, Caret, W, Removed, smNormal);
    SetCaretXY(Caret);
  }
  DoPaintTransient(ttAfter);
}

void TCodeEditCore::DeleteLastWordOrBol(bool ToLineStart) {
  DoPaintTransient(ttBefore);
  const TBufferCoord Caret = CaretXY();
  const TBufferCoord W = ToLineStart ? TBufferCoord{1, Caret.LinePos} : PrevWordPos();
  if (!(W == Caret)) {
    const TBufferCoord End{std::min(Caret.CharPos, Len(LineText(Caret.LinePos)) + 1), Caret.LinePos};
    SetCaretAndSelection(Caret, End, W);
    FActiveSelectionMode = smNormal;
    const std::u16string Removed = SelectedText();
    ReplaceSelectionEx(smNormal, u"", true);
    FUndoList->AddChange(crQuietDelete, W, Caret, Removed, smNormal);
    SetCaretXY(W);
  }
  DoPaintTransient(ttAfter);
}

void TCodeEditCore::DeleteLine() {
  if (LineCount() == 0 || (FCaretY == LineCount() && LineText(FCaretY).empty()))
    return;
  DoPaintTransient(ttBefore);
  if (SelAvail())
    SetBlockBegin(CaretXY());
  const int Y = FCaretY;
  std::u16string Text(LineText(Y));
  if (Y == LineCount()) {
    FLines->PutString(Y - 1, u"");
    FUndoList->AddChange(crQuietDeleteAfterCursor, {1, Y}, {Len(Text) + 1, Y}, Text, smNormal);
  } else {
    FLines->Delete(Y - 1);
    Text += u"\r\n";
    FUndoList->AddChange(crQuietDeleteAfterCursor, {1, Y}, {1, Y + 1}, Text, smNormal);
    DoLinesDeleted(Y - 1, 1);
  }
  MoveCaretAndCollapse({1, Y});
  DoPaintTransient(ttAfter);
}

// --- line breaks ---------------------------------------------------------------------------

void TCodeEditCore::LineBreak(bool InsertLine) {
  UndoBlockScope Block(*this);
  if (SelAvail()) {
    const TBufferCoord B = SelectionEndInText(FBlockBegin), E = SelectionEndInText(FBlockEnd);
    const TCodeSelectionMode Mode = FActiveSelectionMode;
    std::u16string Text = RemovedText();
    ReplaceSelectionEx(Mode, u"", true);
    FUndoList->AddChange(crDelete, B, E, Text, Mode);
  }
  const std::u16string LineStr(LineText(FCaretY));
  const int X = FCaretX, Y = FCaretY;
  const bool AtStart = X == 1;
  TBufferCoord NewCaret{X, Y};
  if (LineStr.empty()) {
    if (LineCount() == 0)
      FLines->Add(u"");
    int N2 = 0;
    for (int L = std::min(Y, LineCount()); L >= 1; --L)
      if (!LineText(L).empty()) {
        N2 = LeftSpacesEx(LineText(L), true);
        break;
      }
    FLines->Insert(Y - 1, u"");
    // Undo joins at the recorded place: on an empty line that is its start,
    // so that no blanks are left behind.
    FUndoList->AddChange(crLineBreak, {1, Y}, {1, Y}, u"", smNormal);
    if (!InsertLine)
      NewCaret = {N2 + 1, Y + 1};
  } else if (X > Len(LineStr)) {
    // The new line gets the indentation of the caret line as its own text,
    // recorded as typed there: the break itself replays as a bare new line.
    const std::u16string Indent = GetLeftSpacing(LeftSpacesEx(LineStr, true), true);
    FLines->Insert(Y, u"");
    FUndoList->AddChange(crLineBreak, {Len(LineStr) + 1, Y}, {Len(LineStr) + 1, Y}, u"", smNormal);
    if (!Indent.empty()) {
      FLines->PutString(Y, Indent);
      FUndoList->AddChange(crInsert, {1, Y + 1}, {Len(Indent) + 1, Y + 1}, u"", smNormal);
    }
    if (!InsertLine)
      NewCaret = {Len(Indent) + 1, Y + 1};
  } else if (AtStart) {
    FLines->Insert(Y - 1, u"");
    FUndoList->AddChange(crLineBreak, {X, Y}, {X, Y}, LineStr, smNormal);
    if (!InsertLine)
      NewCaret = {X, Y + 1};
  } else {
    const std::u16string Left = LineStr.substr(0, static_cast<std::size_t>(X - 1));
    const std::u16string Right = LineStr.substr(static_cast<std::size_t>(X - 1));
    const std::u16string Indent = GetLeftSpacing(LeftSpacesEx(Left, true), true);
    FLines->Insert(Y, Indent + Right);
    StoreLine(Y - 1, Left);
    FUndoList->AddChange(crLineBreak, {X, Y}, {X, Y}, Right, smNormal);
    if (!InsertLine)
      NewCaret = {Len(Indent) + 1, Y + 1};
  }
  SetCaretXY(NewCaret);
  DoLinesInserted(AtStart ? FCaretY - 1 : FCaretY, 1);
  MoveCaretAndCollapse(NewCaret);
  EnsureCursorPosVisible();
  RememberCaretColumn();
}

// --- typing --------------------------------------------------------------------------------

void TCodeEditCore::AdvanceLeftCharAfterTyping() {
  if (FCharsInWindow > 1 && FCaretX >= FLeftChar + FCharsInWindow)
    SetLeftChar(FLeftChar + std::min(25, FCharsInWindow - 1));
}

void TCodeEditCore::TypeChar(char16_t Ch) {
  if (Ch < 32 || Ch == 127)
    return;
  if (SelAvail()) {
    UndoBlockScope Block(*this);
    const TBufferCoord B = SelectionEndInText(FBlockBegin), E = SelectionEndInText(FBlockEnd);
    const TCodeSelectionMode Mode = FActiveSelectionMode;
    std::u16string Text = RemovedText();
    TBufferCoord Start = BlockBeginSorted();
    if (Mode == smLine)
      Start.CharPos = 1;
    FUndoList->AddChange(crDelete, B, E, Text, Mode);
    ReplaceSelectionRecorded(Mode, std::u16string(1, Ch));
    if (Mode != smColumn)
      FUndoList->AddChange(crInsert, Start, CaretXY(), u"", InsertionMode(Mode));
    DoPaintTransient(ttAfter);
    return;
  }
  InsertTypedText(std::u16string(1, Ch), true);
}

void TCodeEditCore::InsertImeString(std::u16string_view Text) {
  const std::size_t Zero = Text.find(u'\0');
  if (Zero != std::u16string_view::npos)
    Text = Text.substr(0, Zero);
  if (Text.empty())
    return;
  if (SelAvail()) {
    UndoBlockScope Block(*this);
    const TBufferCoord B = SelectionEndInText(FBlockBegin), E = SelectionEndInText(FBlockEnd);
    const TCodeSelectionMode Mode = FActiveSelectionMode;
    // The insertion starts at the earlier end, whichever way it was selected.
    TBufferCoord Start = BlockBeginSorted();
    if (Mode == smLine)
      Start.CharPos = 1;
    FUndoList->AddChange(crDelete, B, E, RemovedText(), Mode);
    ReplaceSelectionRecorded(Mode, Text);
    if (Mode != smColumn)
      FUndoList->AddChange(crInsert, Start, CaretXY(), u"", InsertionMode(Mode));
    InvalidateGutterLines(1, INT_MAX);
    return;
  }
  InsertTypedText(Text, false);
}

// Typing at the caret without a selection. Blanks added to reach a caret past
// the line end are recorded on their own, so that undo takes them away again;
// overwritten characters are recorded as a deletion before the insertion, so
// that redo replaces them again instead of inserting beside them.
void TCodeEditCore::InsertTypedText(std::u16string_view Text, bool SingleChar) {
  std::u16string LineStr(LineText(FCaretY));
  const int LineLen = Len(LineStr);
  const TBufferCoord Old = CaretXY();
  const int X = Old.CharPos, Y = Old.LinePos;
  OptionOnScope Past(FOptions, eoScrollPastEol);
  if (FInsertMode && SingleChar && !HasOption(eoAutoSizeMaxScrollWidth) && X > FMaxScrollWidth)
    return;
  int Padding = 0;
  if (X > LineLen + 1) {
    const std::u16string Pad = (SingleChar && LineLen == 0) ? GetLeftSpacing(X - 1, true) : Spaces(X - 1 - LineLen);
    LineStr += Pad;
    Padding = Len(Pad);
  }
  const int At = std::min(X - 1, Len(LineStr));
  std::u16string Removed;
  if (!FInsertMode && At < Len(LineStr))
    Removed = LineStr.substr(static_cast<std::size_t>(At), Text.size());
  LineStr.replace(static_cast<std::size_t>(At), Removed.size(), Text);
  int NewX = At + 1 + Len(Text);
  if (SingleChar && FInsertMode && HasOption(eoTrimTrailingSpaces) && (Text[0] == u' ' || Text[0] == u'\t') &&
      TrimTrailing(LineText(Y)).empty())
    NewX = DisplayColumnIn(LineStr, Len(LineStr) + 1);
  StoreLine(Y - 1, LineStr);
  FCaretX = NewX;
  AddStatusChanges(scCaretX);
  const TBufferCoord InsertStart{At + 1, Y};
  const TBufferCoord InsertEnd{At + 1 + Len(Text), Y};
  if (Padding == 0 && Removed.empty()) {
    FUndoList->AddChange(crInsert, InsertStart, InsertEnd, u"", smNormal);
  } else {
    UndoBlockScope Block(*this);
    if (Padding > 0)
      FUndoList->AddChange(crWhiteSpaceAdd, {At + 1, Y}, {LineLen + 1, Y}, u"", smNormal);
    if (!Removed.empty())
      FUndoList->AddChange(crQuietDeleteAfterCursor, InsertStart, {At + 1 + Len(Removed), Y}, Removed, smNormal);
    FUndoList->AddChange(crInsert, InsertStart, InsertEnd, u"", smNormal);
  }
  AdvanceLeftCharAfterTyping();
  if (SingleChar)
    DoPaintTransient(ttAfter);
}

// --- indentation ---------------------------------------------------------------------------

void TCodeEditCore::InsertColumnBlock(TBufferCoord BB, TBufferCoord BE, std::u16string_view Text, bool RecordUndo) {
  SetCaretAndSelection(BB, BB, BE);
  FActiveSelectionMode = smColumn;
  if (RecordUndo)
    ReplaceSelectionRecorded(smColumn, Text);
  else
    ReplaceSelectionEx(smColumn, Text, false);
  AddStatusChanges(scSelection);
}

void TCodeEditCore::IndentBlock() {
  if (!SelAvail())
    return;
  const TBufferCoord OldCaret = CaretXY();
  const TCodeSelectionMode OldMode = FActiveSelectionMode;
  const TBufferCoord B = BlockBeginSorted();
  TBufferCoord E = BlockEndSorted();
  const bool ToSpaces = HasOption(eoTabsToSpaces);
  int LastLine, NewCaretX;
  if (E.CharPos == 1) {
    LastLine = E.LinePos - 1;
    NewCaretX = 1;
  } else {
    LastLine = E.LinePos;
    NewCaretX = OldCaret.CharPos + (ToSpaces ? FTabWidth : 1);
  }
  const std::u16string Unit = ToSpaces ? Spaces(FTabWidth) : std::u16string(u"\t");
  std::u16string Text;
  for (int L = B.LinePos; L <= LastLine; ++L) {
    if (L > B.LinePos)
      Text += u"\r\n";
    Text += Unit;
  }
  const int UnitLen = Len(Unit);
  UndoBlockScope Block(*this);
  ScopeExit Done([&, NewCaret = TBufferCoord{NewCaretX, OldCaret.LinePos}] {
    if (E.CharPos > 1)
      E.CharPos += UnitLen;
    OptionOnScope Past(FOptions, eoScrollPastEol);
    SetCaretAndSelection(NewCaret, {B.CharPos + UnitLen, B.LinePos}, E);
    FActiveSelectionMode = OldMode;
  });
  // Undo replays the block backwards: this first entry puts the selection
  // and caret back as they were once the indentation is gone.
  FUndoList->AddChange(crIndent, OldCaret == FBlockBegin ? FBlockEnd : FBlockBegin, OldCaret, u"", smColumn);
  const int X = OldMode == smColumn ? std::min(B.CharPos, E.CharPos) : 1;
  InsertColumnBlock({X, B.LinePos}, {X, B.LinePos}, Text, true);
  FUndoList->AddChange(crIndent, B, E, u"", smColumn);
  FUndoList->AddChange(crIndent, {B.CharPos + UnitLen, B.LinePos}, {E.CharPos + UnitLen, E.LinePos}, u"", smColumn);
}

void TCodeEditCore::UnindentBlock() {
  if (!SelAvail())
    return;
  TBufferCoord B = BlockBeginSorted(), E = BlockEndSorted();
  const TCodeSelectionMode OldMode = FActiveSelectionMode;
  const bool Column = OldMode == smColumn;
  int X0 = FCaretX;
  const int LastLine = E.CharPos == 1 ? E.LinePos - 1 : E.LinePos;
  std::u16string Collected;
  std::vector<int> Cuts;
  bool Something = false;
  for (int L = B.LinePos; L <= LastLine; ++L) {
    const std::u16string_view Line = LineText(L);
    const int Start = Column ? std::min({B.CharPos - 1, E.CharPos - 1, Len(Line)}) : 0;
    int Cut = 0;
    if (Start < Len(Line) && Line[static_cast<std::size_t>(Start)] == u'\t') {
      Cut = 1;
    } else {
      while (Cut < FTabWidth && Start + Cut < Len(Line) && Line[static_cast<std::size_t>(Start + Cut)] == u' ')
        ++Cut;
      if (Cut < FTabWidth && Start + Cut < Len(Line) && Line[static_cast<std::size_t>(Start + Cut)] == u'\t')
        ++Cut;
    }
    if (L > B.LinePos)
      Collected += u"\r\n";
    Collected += Line.substr(static_cast<std::size_t>(Start), static_cast<std::size_t>(Cut));
    Cuts.push_back(Cut);
    Something = Something || Cut > 0;
    if (L == FCaretY && X0 != 1)
      X0 = std::max(1, X0 - Cut);
  }
  int FirstCut = 0, LastCut = 0;
  if (Something) {
    const int DeleteAt = Column ? std::min(B.CharPos, E.CharPos) : 1;
    for (int L = B.LinePos; L <= LastLine; ++L) {
      const int Cut = Cuts[static_cast<std::size_t>(L - B.LinePos)];
      if (Cut == 0)
        continue;
      std::u16string Line(LineText(L));
      Line.erase(static_cast<std::size_t>(std::min(DeleteAt - 1, Len(Line))), static_cast<std::size_t>(Cut));
      FLines->PutString(L - 1, Line);
      if (FirstCut == 0)
        FirstCut = Cut;
      LastCut = Cut;
    }
    FUndoList->AddChange(crUnindent, B, E, Collected, OldMode);
  }
  if (Column) {
    SetCaretAndSelection(CaretXY(), B, E);
  } else {
    B.CharPos = std::max(1, B.CharPos - FirstCut);
    E.CharPos = std::max(1, E.CharPos - LastCut);
    SetCaretAndSelection({X0, FCaretY}, B, E);
  }
  FActiveSelectionMode = OldMode;
}

void TCodeEditCore::TabKeyCommand() {
  if (HasOption(eoTabIndent) && (SelectionSpansLines() || SelectionIsWholeLine())) {
    const bool WholeLine = SelectionIsWholeLine();
    IndentBlock();
    if (WholeLine) {
      if (FBlockBegin.CharPos < FBlockEnd.CharPos)
        FBlockBegin.CharPos = 1;
      else
        FBlockEnd.CharPos = 1;
    }
    return;
  }
  const int CaretColumn = BufferToDisplayPos(CaretXY()).Column;
  // Smart tabs line the caret up with the next word of the nearest line above
  // that reaches the caret's column.
  int W = 0;
  int RefLine = 0;
  TBufferCoord R{};
  if (HasOption(eoSmartTabs) && FCaretY > 1 && FCaretY <= LineCount()) {
    for (int L = FCaretY - 1; L >= 1; --L) {
      R = DisplayToBufferPos({CaretColumn, L});
      const std::u16string_view Line = LineText(L);
      if (Len(Line) >= R.CharPos) {
        int I = R.CharPos;
        while (I <= Len(Line) && Line[static_cast<std::size_t>(I - 1)] != u' ' &&
               Line[static_cast<std::size_t>(I - 1)] != u'\t')
          ++I;
        while (I <= Len(Line) &&
               (Line[static_cast<std::size_t>(I - 1)] == u' ' || Line[static_cast<std::size_t>(I - 1)] == u'\t'))
          ++I;
        W = I - R.CharPos;
        RefLine = L;
        break;
      }
    }
  }
  int NewX;
  {
    UndoBlockScope Block(*this);
    // Blanks and tabs go in as characters; only a column selection makes
    // them a column.
    TCodeSelectionMode Mode = smNormal;
    if (SelAvail()) {
      FUndoList->AddChange(crDelete, SelectionEndInText(FBlockBegin), SelectionEndInText(FBlockEnd), RemovedText(),
                         FActiveSelectionMode);
      ReplaceSelectionEx(FActiveSelectionMode, u"", true);
      if (FActiveSelectionMode == smColumn)
        Mode = smColumn;
    }
    SwitchActiveMode(Mode);
    const TBufferCoord Start = CaretXY();
    const int Column = BufferToDisplayPos(Start).Column;
    if (W == 0)
      W = HasOption(eoTabsToSpaces) ? FTabWidth - (Start.CharPos - 1) % FTabWidth : FTabWidth;
    std::u16string Text;
    const std::u16string_view Line = LineText(Start.LinePos);
    if (HasOption(eoTabsToSpaces)) {
      Text = Spaces(W);
      NewX = Start.CharPos + W;
    } else if (HasOption(eoTrimTrailingSpaces) && Start.CharPos > Len(Line)) {
      const int Distance =
          RefLine > 0 ? DisplayColumnIn(LineText(RefLine), R.CharPos + W) - Column : FTabWidth - (Column - 1) % FTabWidth;
      NewX = Start.CharPos + std::max(0, Distance);
    } else {
      if (RefLine > 0) {
        std::u16string Before(Line.substr(0, std::min<std::size_t>(Line.size(), static_cast<std::size_t>(Start.CharPos - 1))));
        Before.erase(std::remove(Before.begin(), Before.end(), u'\t'), Before.end());
        if (!WideTrim(Before).empty()) {
          Text = u"\t";
        } else {
          int D = DisplayColumnIn(LineText(RefLine), R.CharPos + W) - Column;
          const int G = FTabWidth - (Column - 1) % FTabWidth;
          if (D >= G) {
            Text += u'\t';
            D -= G;
          }
          Text.append(static_cast<std::size_t>(std::max(0, D / FTabWidth)), u'\t');
          Text += Spaces(D % FTabWidth);
        }
      } else {
        Text = u"\t";
      }
      if (HasOption(eoTrimTrailingSpaces) && TrimTrailing(Line).empty())
        NewX = Start.CharPos + DisplayColumnIn(Spaces(Column - 1) + Text, Column + Len(Text)) - Column;
      else
        NewX = Start.CharPos + Len(Text);
    }
    if (!Text.empty()) {
      ReplaceSelectionRecorded(Mode, Text);
      if (Mode != smColumn)
        FUndoList->AddChange(crInsert, Start, CaretXY(), SelectedText(), smNormal);
    }
  }
  OptionOnScope Past(FOptions, eoScrollPastEol);
  SetCaretXY({NewX, FCaretY});
  EnsureCursorPosVisible();
}

void TCodeEditCore::ShiftTabKeyCommand() {
  if (HasOption(eoTabIndent) && (SelectionSpansLines() || SelectionIsWholeLine())) {
    UnindentBlock();
    return;
  }
  const TBufferCoord Caret = CaretXY();
  const std::u16string_view Line = LineText(Caret.LinePos);
  int NewX = Caret.CharPos;
  if (HasOption(eoSmartTabs) && NewX != 1 && Caret.LinePos > 1 && Caret.LinePos <= LineCount()) {
    for (int L = Caret.LinePos - 1; L >= 1; --L) {
      const std::u16string_view Above = LineText(L);
      if (Len(Above) < Caret.CharPos - 1)
        continue;
      int P = Caret.CharPos - 1;
      while (NewX > 1 && P >= 1 && Above[static_cast<std::size_t>(P - 1)] == u' ') {
        --NewX;
        --P;
      }
      while (NewX > 1 && P >= 1 && Above[static_cast<std::size_t>(P - 1)] != u' ') {
        --NewX;
        --P;
      }
      break;
    }
  }
  if (NewX == Caret.CharPos) {
    const int Stop = FTabWidth * ((Caret.CharPos - 2) / FTabWidth) + 1;
    if (Caret.CharPos > Len(Line)) {
      NewX = Stop;
    } else if (Stop < NewX && NewX >= 2 && Line[static_cast<std::size_t>(NewX - 2)] == u'\t') {
      --NewX;
    } else {
      while (NewX > Stop && NewX >= 2 && Line[static_cast<std::size_t>(NewX - 2)] == u' ')
        --NewX;
    }
  }
  NewX = std::max(1, NewX);
  if (NewX != Caret.CharPos) {
    SetCaretAndSelection(Caret, {NewX, Caret.LinePos}, Caret);
    FActiveSelectionMode = smNormal;
    const std::u16string Removed = SelectedText();
    ReplaceSelectionEx(smNormal, u"", true);
    FUndoList->AddChange(crQuietDelete, {NewX, Caret.LinePos}, Caret, Removed, smNormal);
    OptionOnScope Past(FOptions, eoScrollPastEol);
    SetCaretXY({NewX, Caret.LinePos});
  }
}

// --- case ----------------------------------------------------------------------------------

void TCodeEditCore::ChangeCase(TCodeEditorCommand Command) {
  if (Command < ecUpperCase || Command > ecToggleCaseBlock || Command == ecTitleCase + 1)
    return;
  const bool HadSel = SelAvail();
  const TBufferCoord W1 = BlockBeginSorted(), W2 = BlockEndSorted();
  const TBufferCoord C = CaretXY();
  ScopeExit Done([&] {
    if (HadSel && Command >= ecUpperCaseBlock) {
      SetBlockBegin(W1);
      SetBlockEnd(W2);
    }
    if (HadSel || Command < ecUpperCaseBlock)
      MoveCaretAndCollapse(C);
  });
  if (Command < ecUpperCaseBlock) {
    SelectCaretWord();
    for (int Tries = 0; Tries < 2 && !SelAvail(); ++Tries) {
      SetCaretXY(PrevWordPos());
      SelectCaretWord();
    }
    SwitchActiveMode(smNormal);
  } else if (!HadSel) {
    SwitchActiveMode(smNormal);
    if (FCaretX > Len(LineText(FCaretY))) {
      if (FCaretY < LineCount())
        MoveCaretAndCollapse({1, FCaretY + 1});
    } else {
      SetCaretAndSelection({FCaretX + 1, FCaretY}, CaretXY(), {FCaretX + 1, FCaretY});
    }
  }
  std::u16string Text = SelectedText();
  if (Text.empty())
    return;
  switch (Command) {
  case ecUpperCase:
  case ecUpperCaseBlock:
    Text = WideUpperCaseOf(Text);
    break;
  case ecLowerCase:
  case ecLowerCaseBlock:
    Text = WideLowerCaseOf(Text);
    break;
  case ecToggleCase:
  case ecToggleCaseBlock:
    for (char16_t& Ch : Text)
      Ch = WideCharUpper(Ch) == Ch ? WideCharLower(Ch) : WideCharUpper(Ch);
    break;
  case ecTitleCase:
    Text = WideLowerCaseOf(Text);
    Text[0] = WideCharUpper(Text[0]);
    break;
  default:
    return;
  }
  UndoBlockScope Block(*this);
  FUndoList->AddChange(crSelection, HadSel ? W1 : C, HadSel ? W2 : C, u"", FActiveSelectionMode);
  FUndoList->AddChange(crCaret, C, C, u"", FActiveSelectionMode);
  SetSelText(Text);
}

// --- paste ---------------------------------------------------------------------------------

void TCodeEditCore::PasteText(std::u16string_view Text, TCodeSelectionMode Mode) {
  DoPaintTransient(ttBefore);
  {
    UndoBlockScope Block(*this);
    FUndoList->AddChange(crPasteBegin, BlockBeginSorted(), BlockEndSorted(), u"", smNormal);
    ScopeExit Marker([this] { FUndoList->AddChange(crPasteEnd, BlockBeginSorted(), BlockEndSorted(), u"", smNormal); });
    if (SelAvail()) {
      FUndoList->AddChange(crDelete, SelectionEndInText(FBlockBegin), SelectionEndInText(FBlockEnd), RemovedText(),
                           FActiveSelectionMode);
      DeleteSelectionBeforeInsert();
    } else {
      SwitchActiveMode(FSelectionMode);
    }
    TBufferCoord Start = CaretXY();
    if (Mode == smLine)
      Start.CharPos = 1;
    // The selection went in its own mode; the text comes in the mode it was
    // copied in, and the pieces of a column record themselves in that mode,
    // so that undo takes each out as a column again.
    SwitchActiveMode(Mode);
    ReplaceSelectionRecorded(Mode, Text);
    // The text ends where the primitive leaves the caret.
    const TBufferCoord End = CaretXY();
    if (Mode == smNormal) {
      FUndoList->AddChange(crPaste, Start, End, SelectedText(), smNormal);
    } else if (Mode == smLine) {
      // Whole lines went in before the caret's line: undo takes them out as
      // lines (a line selection needs two distinct ends, whatever the width).
      if (FCaretX == 1)
        FUndoList->AddChange(crPaste, {1, Start.LinePos}, {std::max(2, FCharsInWindow), End.LinePos - 1},
                             SelectedText(), smLine);
      else
        FUndoList->AddChange(crPaste, {1, Start.LinePos}, End, SelectedText(), smNormal);
    }
  }
  EnsureCursorPosVisible();
  AddStatusChanges(scSelection);
  DoPaintTransient(ttAfter);
}

// --- clipboard and drops ---------------------------------------------------------------------

bool TCodeEditCore::CanPaste() const { return !FReadOnly && ClipboardProvidesText(); }

void TCodeEditCore::PasteFromClipboard() {
  if (!CanPaste())
    return;
  TCodeSelectionMode Mode = FSelectionMode;
  GetClipboardSelectionMode(Mode);
  PasteText(GetClipboardWideText(), Mode);
  if (HasOption(eoHideShowScrollbars))
    RefreshScrollBars();
}

void TCodeEditCore::CutToClipboard() {
  if (FReadOnly || !SelAvail())
    return;
  UndoBlockScope Block(*this);
  DoCopyToClipboard(SelectedText());
  SetSelText(u"");
}

bool TCodeEditCore::DropSelectionFrom(TCodeEditCore& Source, TBufferCoord DropPos, bool Copy, bool Move) {
  if (FReadOnly || !Source.SelAvail())
    return false;
  TPaintLockScope Lock(*this);
  const bool Same = &Source == this;
  bool Moving = Move;
  bool AfterBlock = false;
  const TBufferCoord B = Source.BlockBeginSorted(), E = Source.BlockEndSorted();
  if (Same) {
    Moving = !Copy;
    const bool OnEdge = !Moving;
    AfterBlock = DropPos.LinePos > E.LinePos ||
                 (DropPos.LinePos == E.LinePos && (DropPos.CharPos > E.CharPos || (OnEdge && DropPos.CharPos == E.CharPos)));
    const bool Before = DropPos.LinePos < B.LinePos ||
                        (DropPos.LinePos == B.LinePos && (DropPos.CharPos < B.CharPos || (OnEdge && DropPos.CharPos == B.CharPos)));
    // A drop inside its own selection does nothing.
    if (!AfterBlock && !Before)
      return false;
  }
  UndoBlockScope Block(*this);
  const std::u16string Text = Source.SelectedText();
  if (Moving) {
    if (Same) {
      SetSelText(u"");
      if (AfterBlock) {
        // The drop point follows the text that left before it.
        if (DropPos.LinePos == E.LinePos)
          DropPos.CharPos -= E.CharPos - B.CharPos;
        if (E.LinePos != B.LinePos)
          DropPos.LinePos -= E.LinePos - B.LinePos;
      }
    } else {
      Source.SetSelText(u"");
    }
  }
  OptionOnScope Past(FOptions, eoScrollPastEol);
  // The dropped text goes in as a stream, so that undo takes out exactly it.
  SetCaretAndSelection(DropPos, DropPos, DropPos);
  FActiveSelectionMode = smNormal;
  const TBufferCoord Start = CaretXY();
  LockUndo();
  {
    ScopeExit Unlock([this] { UnlockUndo(); });
    SetSelText(Text);
  }
  const TBufferCoord End = CaretXY();
  FUndoList->AddChange(Same ? crDragDropInsert : crInsert, Start, End, u"", smNormal);
  // The dropped text stays selected, the caret at its start.
  SetCaretAndSelection(Start, End, Start);
  return true;
}

// --- the editing commands of the switch ------------------------------------------------------

void TCodeEditCore::ExecuteEditCommand(TCodeEditorCommand Command, char16_t AChar, void* Data) {
  if (FReadOnly)
    return;
  TPaintLockScope Lock(*this);
  switch (Command) {
  case ecDeleteLastChar:
    DeleteLastChar();
    break;
  case ecDeleteChar:
    DeleteChar();
    break;
  case ecDeleteWord:
  case ecDeleteEOL:
    DeleteWordOrEol(Command == ecDeleteEOL);
    break;
  case ecDeleteLastWord:
  case ecDeleteBOL:
    DeleteLastWordOrBol(Command == ecDeleteBOL);
    break;
  case ecDeleteLine:
    DeleteLine();
    break;
  case ecClearAll:
    ClearAll();
    break;
  case ecLineBreak:
  case ecInsertLine:
    LineBreak(Command == ecInsertLine);
    break;
  case ecChar:
    TypeChar(AChar);
    break;
  case ecImeStr:
    if (Data != nullptr)
      InsertImeString(static_cast<const char16_t*>(Data));
    break;
  case ecUndo:
    Undo();
    break;
  case ecRedo:
    Redo();
    break;
  case ecCut:
    CutToClipboard();
    break;
  case ecPaste:
    PasteFromClipboard();
    break;
  case ecBlockIndent:
    IndentBlock();
    break;
  case ecBlockUnindent:
    UnindentBlock();
    break;
  case ecTab:
    TabKeyCommand();
    break;
  case ecShiftTab:
    ShiftTabKeyCommand();
    break;
  default:
    ChangeCase(Command);
    break;
  }
}

}  // namespace codeedit
