// Undo and redo: replaying the recorded changes, grouping them into steps,
// and keeping Modified in step with the undo list's saved state.

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditEditingScopes.h"
#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

bool IsEndMarker(TCodeChangeReason R) {
  return R == crGroupAEnd || R == crPasteEnd || R == crGroupBEnd || R == crGroupCEnd;
}

bool IsBeginMarker(TCodeChangeReason R) {
  return R == crGroupABegin || R == crPasteBegin || R == crGroupBBegin || R == crGroupCBegin;
}

// Begin markers are the even reasons 10..16, each one below its end marker.
TCodeChangeReason Partner(TCodeChangeReason R) {
  return static_cast<TCodeChangeReason>(IsEndMarker(R) ? R - 1 : R + 1);
}

// Sets a list's block number for the replay of one step and puts the old
// one back however the replay ends.
class BlockNumberScope {
public:
  BlockNumberScope(TCodeEditUndoList& List, std::uint32_t Number) : FList(List), FOld(List.BlockNumber()) {
    FList.SetBlockNumber(Number);
  }
  ~BlockNumberScope() { FList.SetBlockNumber(FOld); }
  BlockNumberScope(const BlockNumberScope&) = delete;
  BlockNumberScope& operator=(const BlockNumberScope&) = delete;

private:
  TCodeEditUndoList& FList;
  std::uint32_t FOld;
};

TBufferCoord Earlier(const TCodeEditUndoItem& Item) {
  if (Item.SelectionMode == smColumn)
    return {std::min(Item.StartPos.CharPos, Item.EndPos.CharPos), std::min(Item.StartPos.LinePos, Item.EndPos.LinePos)};
  return MinPoint(Item.StartPos, Item.EndPos);
}

}  // namespace

// Everything a replayed item changes around the text: the selection modes
// take the item's mode, the caret may go past line ends, and the paint lock
// holds until the item is done.
struct TCodeEditCore::ReplayScope {
  ReplayScope(TCodeEditCore& Core, TCodeSelectionMode Mode)
      : C(Core), OldMode(Core.FSelectionMode), OldActive(Core.FActiveSelectionMode), Lock(Core),
        PastEol(Core.FOptions, eoScrollPastEol), Modes([this] {
          C.FSelectionMode = OldMode;
          C.FActiveSelectionMode = OldActive;
        }) {
    C.FSelectionMode = Mode;
    C.FActiveSelectionMode = Mode;
  }

  TCodeEditCore& C;
  TCodeSelectionMode OldMode;
  TCodeSelectionMode OldActive;
  TPaintLockScope Lock;
  OptionOnScope PastEol;
  ScopeExit<std::function<void()>> Modes;
};

void TCodeEditCore::InsertColumnForUndo(TBufferCoord At, std::u16string_view Text) {
  std::vector<std::pair<int, std::u16string>> Untouched;
  int Line = At.LinePos;
  std::size_t From = 0;
  for (;;) {
    const std::size_t Break = Text.find_first_of(u"\r\n", From);
    const std::size_t End = Break == std::u16string_view::npos ? Text.size() : Break;
    if (End == From && Line <= LineCount())
      Untouched.emplace_back(Line, std::u16string(LineText(Line)));
    if (Break == std::u16string_view::npos)
      break;
    From = Break + 1;
    if (Text[Break] == u'\r' && From < Text.size() && Text[From] == u'\n')
      ++From;
    ++Line;
  }
  InsertColumnBlock(At, At, Text, false);
  for (const auto& [Index, Original] : Untouched)
    if (Index <= LineCount())
      FLines->PutString(Index - 1, Original);
}

void TCodeEditCore::UndoOneItem() {
  std::unique_ptr<TCodeEditUndoItem> Item = FUndoList->PopItem();
  if (!Item)
    return;
  ReplayScope Replay(*this, Item->SelectionMode);
  const TBufferCoord Start = Item->StartPos, End = Item->EndPos;
  const TCodeSelectionMode Mode = Item->SelectionMode;
  switch (Item->Reason) {
  case crInsert:
  case crPaste:
  case crDragDropInsert: {
    SetCaretAndSelection(Start, Start, End);
    const std::u16string T = RemovedText();
    ReplaceSelectionEx(Mode, Item->Text, false);
    FRedoList->AddChange(Item->Reason, Start, End, T, Mode);
    MoveCaretAndCollapse(Start);
    break;
  }
  case crDeleteAfterCursor:
  case crDelete:
  case crQuietDelete:
  case crQuietDeleteAfterCursor:
  case crDeleteAll: {
    const TCodeChangeReason R = Item->Reason;
    const TBufferCoord P = Earlier(*Item);
    if ((R == crDeleteAfterCursor || R == crQuietDeleteAfterCursor) && P.LinePos > LineCount()) {
      SetCaretXY({1, LineCount()});
      FLines->Add(u"");
    }
    if (Mode == smColumn) {
      InsertColumnForUndo(P, Item->Text);
    } else {
      SetCaretAndSelection(P, P, P);
      ReplaceSelectionEx(Mode, Item->Text, false);
    }
    const TBufferCoord Q = (R == crDeleteAfterCursor || R == crQuietDeleteAfterCursor) ? Start : End;
    if (R == crQuietDelete || R == crQuietDeleteAfterCursor)
      MoveCaretAndCollapse(Q);
    else
      SetCaretAndSelection(Q, Start, End);
    FRedoList->AddChange(R, Start, End, u"", Mode);
    if (R == crDeleteAll) {
      SetCaretXY({1, 1});
      FBlockEnd = {1, 1};
    }
    EnsureCursorPosVisible();
    break;
  }
  case crLineBreak: {
    SetCaretXY(Start);
    std::u16string Line(LineText(FCaretY));
    if (static_cast<int>(Line.size()) < FCaretX - 1 && LeftSpaces(Item->Text) == 0)
      Line.resize(static_cast<std::size_t>(FCaretX - 1), u' ');
    StoreLine(FCaretY - 1, Line + Item->Text);
    if (End.LinePos < LineCount()) {
      FLines->Delete(End.LinePos);
      DoLinesDeleted(FCaretY + 1, 1);
    }
    MoveCaretAndCollapse(Start);
    FRedoList->AddChange(crLineBreak, Start, End, u"", Mode);
    break;
  }
  case crIndent:
    SetCaretAndSelection(End, Start, End);
    FRedoList->PushItem(std::move(Item));
    break;
  case crUnindent: {
    const int X = Mode == smColumn ? std::min(Start.CharPos, End.CharPos) : 1;
    InsertColumnForUndo({X, Start.LinePos}, Item->Text);
    FActiveSelectionMode = Mode;
    SetCaretAndSelection(Start, Start, End);
    FRedoList->PushItem(std::move(Item));
    break;
  }
  case crCaret:
    FRedoList->AddChange(crCaret, CaretXY(), CaretXY(), u"", FActiveSelectionMode);
    SetCaretXY(Start);
    break;
  case crSelection:
    FRedoList->AddChange(crSelection, FBlockBegin, FBlockEnd, u"", FActiveSelectionMode);
    SetCaretAndSelection(CaretXY(), Start, End);
    break;
  case crWhiteSpaceAdd: {
    SetCaretAndSelection(Start, Start, End);
    const std::u16string T = SelectedText();
    ReplaceSelectionEx(Mode, Item->Text, false);
    FRedoList->AddChange(crWhiteSpaceAdd, Start, End, T, Mode);
    MoveCaretAndCollapse(Start);
    break;
  }
  default:
    // The bracket markers go across too, so that a redone paste is one step
    // again when it is undone once more.
    if (IsBeginMarker(Item->Reason) || IsEndMarker(Item->Reason))
      FRedoList->AddChange(Item->Reason, Start, End, u"", Mode);
    break;
  }
}

void TCodeEditCore::RedoOneItem() {
  std::unique_ptr<TCodeEditUndoItem> Item = FRedoList->PopItem();
  if (!Item)
    return;
  FUndoList->SetRedoing(true);
  ScopeExit Off([this] { FUndoList->SetRedoing(false); });
  ReplayScope Replay(*this, Item->SelectionMode);
  const TBufferCoord Start = Item->StartPos, End = Item->EndPos;
  const TCodeSelectionMode Mode = Item->SelectionMode;
  switch (Item->Reason) {
  case crInsert:
  case crPaste:
  case crDragDropInsert:
    if (Mode == smColumn && Start.LinePos <= LineCount() &&
        static_cast<int>(LineText(Start.LinePos).size()) < Start.CharPos - 1) {
      // A column piece fills its line up to the column even when it is
      // empty, as the first time: a line the column added starts so.
      std::u16string Line(LineText(Start.LinePos));
      Line.resize(static_cast<std::size_t>(Start.CharPos - 1), u' ');
      FLines->PutString(Start.LinePos - 1, Line);
    }
    SetCaretAndSelection(Start, Start, Start);
    ReplaceSelectionEx(Mode, Item->Text, false);
    SetCaretXY(End);
    FUndoList->AddChange(Item->Reason, Start, End, SelectedText(), Mode);
    if (Item->Reason == crDragDropInsert)
      SetCaretAndSelection(Start, Start, End);
    break;
  case crDeleteAfterCursor:
  case crDelete:
  case crQuietDelete:
  case crQuietDeleteAfterCursor: {
    SetCaretAndSelection(Start, Start, End);
    const std::u16string T = RemovedText();
    ReplaceSelectionEx(Mode, Item->Text, false);
    FUndoList->AddChange(Item->Reason, Start, End, T, Mode);
    // The text is gone: the caret stays where it closed up.
    MoveCaretAndCollapse(Earlier(*Item));
    break;
  }
  case crLineBreak:
    SetCaretAndSelection(Start, Start, Start);
    if (Start.LinePos <= LineCount() && !LineText(Start.LinePos).empty() &&
        Start.CharPos > static_cast<int>(LineText(Start.LinePos).size())) {
      // A break at a line end added an empty line: what went on it (an
      // indentation, a column piece) has entries of its own.
      FLines->Insert(Start.LinePos, u"");
      DoLinesInserted(Start.LinePos + 1, 1);
      FUndoList->AddChange(crLineBreak, Start, Start, u"", smNormal);
      MoveCaretAndCollapse({1, Start.LinePos + 1});
    } else {
      LineBreak(false);
    }
    break;
  case crIndent:
    SetCaretAndSelection(End, Start, End);
    FUndoList->PushItem(std::move(Item));
    break;
  case crUnindent: {
    const int X = Mode == smColumn ? std::min(Start.CharPos, End.CharPos) : 1;
    int Line = Start.LinePos;
    int LastCut = 0;
    std::u16string_view Rest = Item->Text;
    for (;;) {
      std::size_t Break = Rest.find_first_of(u"\r\n");
      std::u16string_view Piece = Rest.substr(0, Break);
      if (!Piece.empty() && Line <= LineCount()) {
        std::u16string Text(LineText(Line));
        if (static_cast<int>(Text.size()) >= X - 1)
          Text.erase(static_cast<std::size_t>(X - 1), Piece.size());
        FLines->PutString(Line - 1, Text);
      }
      LastCut = static_cast<int>(Piece.size());
      if (Break == std::u16string_view::npos)
        break;
      if (Rest[Break] == u'\r' && Break + 1 < Rest.size() && Rest[Break + 1] == u'\n')
        ++Break;
      Rest = Rest.substr(Break + 1);
      ++Line;
    }
    if (Mode == smColumn)
      SetCaretAndSelection(Start, Start, End);
    else
      SetCaretAndSelection({Start.CharPos - FTabWidth, Start.LinePos}, {Start.CharPos - FTabWidth, Start.LinePos},
                           {End.CharPos - LastCut, End.LinePos});
    FUndoList->PushItem(std::move(Item));
    break;
  }
  case crCaret:
    FUndoList->AddChange(crCaret, CaretXY(), CaretXY(), u"", FActiveSelectionMode);
    SetCaretXY(Start);
    break;
  case crSelection:
    FUndoList->AddChange(crSelection, FBlockBegin, FBlockEnd, u"", FActiveSelectionMode);
    SetCaretAndSelection(CaretXY(), Start, End);
    break;
  case crWhiteSpaceAdd:
    FUndoList->AddChange(crWhiteSpaceAdd, Start, End, u"", Mode);
    SetCaretAndSelection(End, End, End);
    ReplaceSelectionEx(Mode, Item->Text, false);
    SetCaretXY(Start);
    break;
  default:
    if (IsBeginMarker(Item->Reason) || IsEndMarker(Item->Reason))
      FUndoList->AddChange(Item->Reason, Start, End, u"", Mode);
    break;
  }
}

// Moves the group break on top of From to To, keeping its group number.
void TCodeEditCore::MoveGroupBreak(TCodeEditUndoList& From, TCodeEditUndoList& To) {
  const TCodeEditUndoItem* Top = From.PeekItem();
  if (Top == nullptr || Top->Reason != crGroupBreakEntry)
    return;
  std::unique_ptr<TCodeEditUndoItem> Break = From.PopItem();
  BlockNumberScope Number(To, Break->GroupNumber);
  To.AddGroupBreak();
}

// One step of undo or redo: the items of the top group of From, a bracket
// from its opening marker to the matching one, or with eoGroupUndo a run of
// changes of one kind (indents excepted). What is replayed lands in To under
// the step's group number.
void TCodeEditCore::ReplayStep(bool Redoing) {
  TCodeEditUndoList& From = Redoing ? *FRedoList : *FUndoList;
  TCodeEditUndoList& To = Redoing ? *FUndoList : *FRedoList;
  const TCodeEditUndoItem* Top = From.PeekItem();
  if (Top == nullptr)
    return;
  const TCodeChangeReason First = Top->Reason;
  // Undo meets a bracket at its closing marker, redo at its opening one.
  const bool Bracket = Redoing ? IsBeginMarker(First) : IsEndMarker(First);
  std::uint32_t Group = Top->GroupNumber;
  BlockNumberScope Number(To, Group);
  TPaintLockScope Lock(*this);
  auto ReplayOne = [&] { Redoing ? RedoOneItem() : UndoOneItem(); };
  for (;;) {
    const TCodeChangeReason Done = From.PeekItem()->Reason;
    ReplayOne();
    const TCodeEditUndoItem* Next = From.PeekItem();
    if (Next == nullptr)
      break;
    if (Bracket) {
      if (Next->Reason == Partner(First))
        break;
      continue;
    }
    if (Next->GroupNumber == Group)
      continue;
    if (!HasOption(eoGroupUndo) || Next->Reason != Done)
      break;
    if (Done == crIndent || Done == crUnindent)
      break;
    // A run of the same kind of change (typing) is one step; a group it
    // reaches into goes whole.
    Group = Next->GroupNumber;
  }
  if (Bracket) {
    const TCodeEditUndoItem* Next = From.PeekItem();
    if (Next != nullptr && Next->Reason == Partner(First)) {
      ReplayOne();
      RefreshModified();
    }
  }
}

void TCodeEditCore::Undo() {
  if (FReadOnly)
    return;
  MoveGroupBreak(*FUndoList, *FRedoList);
  ReplayStep(false);
}

void TCodeEditCore::Redo() {
  if (FReadOnly)
    return;
  ReplayStep(true);
  MoveGroupBreak(*FRedoList, *FUndoList);
  RefreshModified();
}

void TCodeEditCore::UndoEntryAdded(TCodeEditUndoList& Sender) {
  RefreshModified();
  // A new change makes what was undone impossible to redo.
  if (&Sender == FUndoList.get() && !Sender.Redoing()) {
    const TCodeEditUndoItem* Top = Sender.PeekItem();
    if (Top != nullptr && Top->Reason != crGroupBreakEntry)
      FRedoList->Clear();
  }
  if (Sender.BlockDepth() == 0)
    DoChange();
}

void TCodeEditCore::SetModified(bool Value) {
  if (Value == FModified)
    return;
  FModified = Value;
  if (HasOption(eoGroupUndo) && !Value && FUndoList->CanUndo())
    FUndoList->AddGroupBreak();
  FUndoList->MarkUnmodified(!Value);
  AddStatusChanges(scModified);
}

void TCodeEditCore::ClearUndo() {
  FUndoList->Clear();
  FRedoList->Clear();
}

void TCodeEditCore::LockUndo() {
  FUndoList->Lock();
  FRedoList->Lock();
}

void TCodeEditCore::UnlockUndo() {
  FUndoList->Unlock();
  FRedoList->Unlock();
}

void TCodeEditCore::SetMaxUndo(int Value) {
  // A negative limit is no limit to set: both lists keep theirs.
  if (Value < 0)
    return;
  FUndoList->SetMaxEntries(Value);
  FRedoList->SetMaxEntries(Value);
}

}  // namespace codeedit
