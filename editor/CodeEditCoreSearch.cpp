#include <algorithm>

#include "editor/CodeEditCore.h"

namespace codeedit {

void TCodeEditCore::SetSearchEngine(TCodeEditSearchCustom* Value) {
  if (Value == FSearchEngine)
    return;
  if (FSearchEngine != nullptr)
    FSearchEngine->RemoveFreeNotification(this);
  FSearchEngine = Value;
  if (Value != nullptr)
    Value->FreeNotification(this, [this] { FSearchEngine = nullptr; });
}

TCodeReplaceAction TCodeEditCore::DoReplaceText(std::u16string_view ASearch, std::u16string_view AReplace, int Line,
                                                int Column) {
  TCodeReplaceAction Action = raCancel;
  if (OnReplaceText)
    OnReplaceText(*this, ASearch, AReplace, Line, Column, Action);
  return Action;
}

int TCodeEditCore::SearchReplace(std::u16string_view ASearch, std::u16string_view AReplace,
                                 TCodeSearchOptions SearchOptions) {
  if (FSearchEngine == nullptr)
    throw ECodeEditError("No search engine has been assigned");
  if (ASearch.empty())
    return 0;
  const bool Backward = (SearchOptions & ssoBackwards) != 0;
  bool Prompt = (SearchOptions & ssoPrompt) != 0;
  const bool Replace = (SearchOptions & ssoReplace) != 0;
  bool ReplaceAll = (SearchOptions & ssoReplaceAll) != 0;
  if (!SelAvail())
    SearchOptions &= static_cast<TCodeSearchOptions>(~ssoSelectedOnly);
  const bool SelectedOnly = (SearchOptions & ssoSelectedOnly) != 0;

  // The range: the selection, or the text from the caret on (back to the
  // caret when searching backward) unless the whole text is asked for.
  TBufferCoord RangeStart, RangeEnd;
  const TCodeSelectionMode Mode = ActiveSelectionMode();
  if (SelectedOnly) {
    RangeStart = BlockBeginSorted();
    RangeEnd = BlockEndSorted();
    if (Mode == smLine) {
      RangeStart.CharPos = 1;
      RangeEnd.CharPos = static_cast<int>(LineText(RangeEnd.LinePos).size()) + 1;
    } else if (Mode == smColumn && RangeStart.CharPos > RangeEnd.CharPos) {
      std::swap(RangeStart.CharPos, RangeEnd.CharPos);
    }
  } else {
    RangeStart = {1, 1};
    RangeEnd = {static_cast<int>(LineText(LineCount()).size()) + 1, LineCount()};
    if ((SearchOptions & ssoEntireScope) == 0) {
      if (Backward)
        RangeEnd = CaretXY();
      else
        RangeStart = CaretXY();
    }
  }
  TBufferCoord Current = Backward ? RangeEnd : RangeStart;

  // Whether the match from First to Last on Current's line lies in the range.
  auto InRange = [&](int First, int Last) {
    if (SelectedOnly && Mode == smLine)
      return true;
    if (SelectedOnly && Mode == smColumn)
      return RangeEnd.CharPos <= RangeStart.CharPos || (First >= RangeStart.CharPos && Last <= RangeEnd.CharPos);
    if (Current.LinePos == RangeStart.LinePos && First < RangeStart.CharPos)
      return false;
    return !(Current.LinePos == RangeEnd.LinePos && Last > RangeEnd.CharPos);
  };

  FSearchEngine->SetOptions(SearchOptions);
  FSearchEngine->SetPattern(std::u16string(ASearch));
  DoPaintTransient(ttBefore);
  // One paint lock and one undo block for a replace-all; the first taken
  // when the application answers "replace all" to a prompt.
  bool PaintLocked = false, UndoBlock = false;
  struct Release {
    TCodeEditCore& Core;
    bool& PaintLocked;
    bool& UndoBlock;
    ~Release() {
      if (PaintLocked)
        Core.EndPaintLock();
      if (UndoBlock)
        Core.EndUndoBlock();
      Core.DoPaintTransient(ttAfter);
    }
  } Finally{*this, PaintLocked, UndoBlock};
  if (ReplaceAll && !Prompt) {
    BeginPaintLock();
    PaintLocked = true;
    BeginUndoBlock();
    UndoBlock = true;
  }

  int Count = 0;
  const std::u16string Replacement(AReplace);
  while (Current.LinePos >= RangeStart.LinePos && Current.LinePos <= RangeEnd.LinePos) {
    int N = FSearchEngine->FindAll(std::u16string(LineText(Current.LinePos)));
    int Offset = 0;  // how far the replacements so far moved the later matches of the line
    int I = Backward ? N - 1 : 0;
    for (; N > 0; --N) {
      const int Found = FSearchEngine->GetResult(I) + Offset;
      const int Length = FSearchEngine->GetLength(I);
      I += Backward ? -1 : 1;
      if (!InRange(Found, Found + Length))
        continue;
      ++Count;
      // The match becomes the selection, its line centred in view.
      SetBlockBegin({Found, Current.LinePos});
      SetCaretPositionEx(false, {1, Current.LinePos});
      EnsureCursorPosVisibleEx(true);
      Current.CharPos = Found + Length;
      SetBlockEnd(Current);
      // The match is selected as characters whatever mode the range was
      // chosen in: a line or column block would replace more than the match.
      SetActiveSelectionMode(smNormal);
      SetCaretPositionEx(false, Backward ? TBufferCoord{Found, Current.LinePos} : Current);
      if (!Replace && !ReplaceAll)
        return Count;

      TCodeReplaceAction Action = raReplace;
      if (Prompt && OnReplaceText) {
        Action = DoReplaceText(ASearch, AReplace, Current.LinePos, Found);
        if (Action == raCancel)
          return Count;
      }
      int ReplacedLength = 0;
      if (Action != raSkip) {
        if (Action == raReplaceAll) {
          if ((!ReplaceAll || Prompt) && !PaintLocked) {
            BeginPaintLock();
            PaintLocked = true;
          }
          ReplaceAll = true;
          Prompt = false;
          if (!UndoBlock) {
            BeginUndoBlock();
            UndoBlock = true;
          }
        }
        SetSelText(FSearchEngine->Replace(SelectedText(), Replacement));
        ReplacedLength = CaretXY().CharPos - Found;
      }
      // Forward, the later matches of the line and the range's end on it
      // moved with the replacement.
      if (!Backward && Action != raSkip && ReplacedLength != Length) {
        Offset += ReplacedLength - Length;
        if (Mode != smColumn && CaretXY().LinePos == RangeEnd.LinePos) {
          RangeEnd.CharPos += ReplacedLength - Length;
          SetBlockEnd(RangeEnd);
        }
      }
      if (!ReplaceAll)
        return Count;
    }
    Current.LinePos += Backward ? -1 : 1;
  }
  return Count;
}

}  // namespace codeedit
