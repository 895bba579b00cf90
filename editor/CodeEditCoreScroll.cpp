// The caret's position and shape, the paint lock, the first visible row and
// column, and the numbers the scroll bars show.

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

// --- paint lock -------------------------------------------------------------------

void TCodeEditCore::EndPaintLock() {
  if (FPaintLock <= 0 || --FPaintLock > 0)
    return;
  if (HasWindow()) {
    if (FScrollPending) {
      // The view moved (maybe many times) under the lock: one repaint now
      // instead of one blit per move.
      FScrollPending = false;
      FView->InvalidateAll();
    }
    if (FScrollBarsChanged)
      RefreshScrollBars();
    if (FWordWrapPlugin && (FStatusChanges & (scCaretX | scCaretY)) != 0)
      KeepWrappedCaretInRow();
    if (FCaretChanged)
      PlaceSystemCaret();
  } else {
    FScrollPending = false;
  }
  if (FStatusChanges != 0)
    DoStatusChange();
}

TCodeEditCore::TPaintLockScope::TPaintLockScope(TCodeEditCore& Core)
    : FCore(Core), FExceptions(std::uncaught_exceptions()) {
  FCore.BeginPaintLock();
}

TCodeEditCore::TPaintLockScope::~TPaintLockScope() noexcept(false) {
  if (std::uncaught_exceptions() > FExceptions) {
    if (FCore.FPaintLock > 0)
      --FCore.FPaintLock;
    return;
  }
  FCore.EndPaintLock();
}

void TCodeEditCore::UpdateTextOffset() {
  const long long Offset = static_cast<long long>(FGutterWidth) + 2 - (static_cast<long long>(FLeftChar) - 1) * FCharWidth;
  FTextOffset = static_cast<int>(std::max<long long>(Offset, INT_MIN));
}

// --- caret --------------------------------------------------------------------------

void TCodeEditCore::SetCaretPositionEx(bool EnsureVisible, TBufferCoord Value) {
  FCaretAtEOL = false;
  const bool Window = HasWindow();
  if (Window)
    DoPaintTransient(ttBefore);
  int MaxX = FMaxScrollWidth + 1;
  const bool PastEol = HasOption(eoScrollPastEol);
  if (Value.LinePos > LineCount())
    Value.LinePos = LineCount();
  if (Value.LinePos < 1) {
    Value.LinePos = 1;
    if (!PastEol)
      MaxX = 1;
  } else if (!PastEol) {
    MaxX = static_cast<int>(LineText(Value.LinePos).size()) + 1;
  }
  if (Value.CharPos > MaxX && (!PastEol || !HasOption(eoAutoSizeMaxScrollWidth)))
    Value.CharPos = MaxX;
  if (Value.CharPos < 1)
    Value.CharPos = 1;
  if (Value.CharPos == FCaretX && Value.LinePos == FCaretY) {
    RememberCaretColumn();
  } else {
    TPaintLockScope Lock(*this);
    if (Value.CharPos != FCaretX) {
      FCaretX = Value.CharPos;
      AddStatusChanges(scCaretX);
    }
    if (Value.LinePos != FCaretY) {
      const int OldLine = FCaretY;
      FCaretY = Value.LinePos;
      AddStatusChanges(scCaretY);
      if (FActiveLineColor != clNone) {
        InvalidateLine(OldLine);
        InvalidateLine(FCaretY);
      }
    }
    // One display position serves both: measuring it walks the line.
    const TDisplayCoord Shown = CaretDisplayPos();
    FLastCaretX = Shown.Column;
    if (EnsureVisible)
      ScrollToDisplayPos(Shown, false);
    FCaretChanged = true;
    FScrollBarsChanged = true;
  }
  if (Window)
    DoPaintTransient(ttAfter);
}

void TCodeEditCore::SetCaretAndClearSelection(TBufferCoord Value) {
  TPaintLockScope Lock(*this);
  AddStatusChanges(scSelection);
  SetCaretPositionEx(true, Value);
  if (SelAvail())
    InvalidateSelectionLines();
  FBlockBegin = CaretXY();
  FBlockEnd = CaretXY();
}

TDisplayCoord TCodeEditCore::CaretDisplayPos() {
  TDisplayCoord P = BufferToDisplayPos(CaretXY());
  if (FWordWrapPlugin && FCaretAtEOL) {
    // The caret at a row's start shows at the end of the row above; at any
    // other column the flag has nothing to say any more.
    if (P.Column == 1 && P.Row > 1 && P.Row - 1 <= FWordWrapPlugin->RowCount())
      P = {FWordWrapPlugin->RowLength(P.Row - 1) + 1, P.Row - 1};
    else
      FCaretAtEOL = false;
  }
  return P;
}

void TCodeEditCore::KeepWrappedCaretInRow() {
  if (FCharsInWindow <= 0)
    return;
  const TDisplayCoord P = CaretDisplayPos();
  if (P.Column <= FCharsInWindow + 1)
    return;
  // Past the window's width the caret shows at the row's end; one moved to
  // another row there is put at that end.
  if (FCaretAtEOL) {
    FCaretAtEOL = false;
  } else if ((FStatusChanges & scCaretY) != 0) {
    FCaretX = DisplayToBufferPos({FCharsInWindow + 1, P.Row}).CharPos;
    FStatusChanges |= scCaretX;
    RememberCaretColumn();
  }
  FCaretChanged = true;
}

bool TCodeEditCore::CaretInsideView() {
  const TDisplayCoord P = CaretDisplayPos();
  return P.Column >= FLeftChar && static_cast<long long>(P.Column) <= static_cast<long long>(FLeftChar) + FCharsInWindow &&
         P.Row >= FTopLine && static_cast<long long>(P.Row) <= static_cast<long long>(FTopLine) + FLinesInWindow;
}

void TCodeEditCore::PlaceSystemCaret() {
  if (FPaintLock > 0 || !HasWindow()) {
    FCaretChanged = true;
    return;
  }
  FCaretChanged = !FView->PlaceCaret();
}

void TCodeEditCore::InitializeCaret() {
  const TCodeEditCaretType Type = FInsertMode ? FInsertCaret : FOverwriteCaret;
  TCodeCaretShape Shape;
  switch (Type) {
    case ctHorizontalLine:
      Shape = {FCharWidth, 2, 0, FLineHeight - 2};
      break;
    case ctHalfBlock:
      Shape.Width = FCharWidth;
      Shape.Height = (FLineHeight - 2) / 2;
      Shape.OffsetY = Shape.Height;
      break;
    case ctBlock:
      Shape = {FCharWidth, FLineHeight - 2, 0, 0};
      break;
    case ctVerticalLine:
    default:
      Shape = {2, FLineHeight - 2, -1, 0};
      break;
  }
  FCaretShape = Shape;
  FCaretOffsetX = Shape.OffsetX;
  FCaretOffsetY = Shape.OffsetY;
  if (HasWindow()) {
    FView->CaretShapeChanged();
    PlaceSystemCaret();
  }
}

void TCodeEditCore::SetInsertCaret(TCodeEditCaretType Value) {
  if (FInsertCaret == Value)
    return;
  FInsertCaret = Value;
  InitializeCaret();
}

void TCodeEditCore::SetOverwriteCaret(TCodeEditCaretType Value) {
  if (FOverwriteCaret == Value)
    return;
  FOverwriteCaret = Value;
  InitializeCaret();
}

void TCodeEditCore::SetActiveLineColor(TColor Value) {
  if (FActiveLineColor == Value)
    return;
  FActiveLineColor = Value;
  InvalidateLine(FCaretY);
}

// --- first visible row and column ---------------------------------------------------

int TCodeEditCore::MaxLeftChar() {
  long long Highest;
  if (HasOption(eoScrollPastEol)) {
    if (HasOption(eoAutoSizeMaxScrollWidth))
      Highest = static_cast<long long>(INT_MAX) - FCharsInWindow;
    else
      Highest = static_cast<long long>(FMaxScrollWidth) - FCharsInWindow + 1;
  } else {
    Highest = static_cast<long long>(FLines->GetLongestLineLength()) - FCharsInWindow + 1;
  }
  return static_cast<int>(std::clamp<long long>(Highest, 1, INT_MAX));
}

void TCodeEditCore::SetLeftChar(int Value) {
  // Wrapped rows fit the window: there is nothing to the right to scroll to.
  if (FWordWrapPlugin)
    Value = 1;
  Value = MinMax(Value, 1, MaxLeftChar());
  if (Value == FLeftChar)
    return;
  const long long Delta = static_cast<long long>(FLeftChar) - Value;
  FLeftChar = Value;
  UpdateTextOffset();
  if (HasWindow()) {
    if (FPaintLock > 0)
      FScrollPending = true;
    else if (std::llabs(Delta) < FCharsInWindow)
      FView->ScrollText(static_cast<int>(Delta), 0);
    else
      FView->InvalidateAll();
  }
  if (HasOption(eoAutoSizeMaxScrollWidth) && HasOption(eoScrollPastEol) &&
      static_cast<long long>(FMaxScrollWidth) < static_cast<long long>(FLeftChar) + FCharsInWindow) {
    SetMaxScrollWidth(static_cast<int>(std::min<long long>(static_cast<long long>(FLeftChar) + FCharsInWindow, INT_MAX)));
  } else {
    RefreshScrollBars();
  }
  AddStatusChanges(scLeftChar);
}

void TCodeEditCore::SetTopLine(int Value) {
  const long long Highest = HasOption(eoScrollPastEof)
                                ? DisplayLineCount()
                                : static_cast<long long>(DisplayLineCount()) - FLinesInWindow + 1;
  Value = static_cast<int>(std::max<long long>(std::min<long long>(Value, Highest), 1));
  if (Value == FTopLine)
    return;
  const long long Delta = static_cast<long long>(FTopLine) - Value;
  FTopLine = Value;
  if (HasWindow()) {
    if (FPaintLock > 0)
      FScrollPending = true;
    else if (std::llabs(Delta) < FLinesInWindow)
      FView->ScrollText(0, static_cast<int>(Delta));
    else
      FView->InvalidateAll();
  }
  RefreshScrollBars();
  AddStatusChanges(scTopLine);
}

void TCodeEditCore::EnsureCursorPosVisibleEx(bool Centre) { ScrollToDisplayPos(CaretDisplayPos(), Centre); }

void TCodeEditCore::ScrollToDisplayPos(TDisplayCoord P, bool Centre) {
  TPaintLockScope Lock(*this);
  const int X = P.Column;
  if (X < FLeftChar)
    SetLeftChar(X);
  else if (static_cast<long long>(X) >= static_cast<long long>(FLeftChar) + FCharsInWindow)
    SetLeftChar(static_cast<int>(static_cast<long long>(X) - FCharsInWindow + 1));
  else
    SetLeftChar(FLeftChar);
  const int Y = P.Row;
  const int Rows = FLinesInWindow;
  if (Centre) {
    // A caret above the first visible row is centred as well as one below the
    // last: both are out of view.
    if (Y < FTopLine)
      SetTopLine(Y - Rows / 2 < 0 ? 1 : Y - Rows / 2 + 1);
    else if (static_cast<long long>(Y) > static_cast<long long>(FTopLine) + Rows - 2)
      SetTopLine(Y - (Rows - 1) + Rows / 2);
  } else {
    if (Y < FTopLine)
      SetTopLine(Y);
    else if (static_cast<long long>(Y) > static_cast<long long>(FTopLine) + std::max(Rows, 1) - 1)
      SetTopLine(Y - (Rows - 1));
    else
      SetTopLine(FTopLine);
  }
}

// --- scroll bars and window metrics ----------------------------------------------------

int TCodeEditCore::HorzScrollMax() {
  const int Max = HasOption(eoScrollPastEol) ? FMaxScrollWidth : FLines->GetLongestLineLength();
  return std::max(Max, 1);
}

int TCodeEditCore::VertScrollMax() const {
  long long Max = DisplayLineCount();
  if (HasOption(eoScrollPastEof))
    Max += FLinesInWindow - 1;
  return static_cast<int>(std::clamp<long long>(Max, 1, INT_MAX));
}

void TCodeEditCore::RefreshScrollBars() {
  if (!HasWindow() || FPaintLock > 0) {
    FScrollBarsChanged = true;
    return;
  }
  FScrollBarsChanged = false;
  FView->UpdateScrollBars();
}

void TCodeEditCore::SetScrollBars(TScrollStyle Value) {
  if (FScrollBars == Value)
    return;
  FScrollBars = Value;
  RefreshScrollBars();
}

void TCodeEditCore::ApplyGutterWidth(int Value) {
  Value = std::max(Value, 0);
  if (Value == FGutterWidth)
    return;
  FGutterWidth = Value;
  UpdateTextOffset();
  if (HasWindow() && FCharWidth > 0)
    FCharsInWindow = std::max(0, FClientWidth - FGutterWidth - 2) / FCharWidth;
  WordWrapDisplayChanged();
  RefreshScrollBars();
  InvalidateAll();
}

void TCodeEditCore::SetClientSize(int Width, int Height) {
  FClientWidth = std::max(0, Width);
  FClientHeight = std::max(0, Height);
  if (FCharWidth > 0)
    FCharsInWindow = std::max(0, FClientWidth - FGutterWidth - 2) / FCharWidth;
  if (FLineHeight > 0)
    FLinesInWindow = FClientHeight / FLineHeight;
  WordWrapDisplayChanged();
  RefreshScrollBars();
  if (!HasOption(eoScrollPastEol))
    SetLeftChar(FLeftChar);
  if (!HasOption(eoScrollPastEof))
    SetTopLine(FTopLine);
}

}  // namespace codeedit
