#include "editor/CodeEditCore.h"

#include <algorithm>
#include <climits>

#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

constexpr std::u16string_view BracketTable = u"()[]{}<>";

}  // namespace

TCodeEditCore::TCodeEditCore(CodeEditView* View)
    : FView(View),
      FLines(std::make_unique<TCodeEditStringList>(
          [this](std::u16string_view Line) { return InsertGlyphFillers(Line); })),
      FUndoList(std::make_unique<TCodeEditUndoList>()),
      FRedoList(std::make_unique<TCodeEditUndoList>()) {
  FUndoList->SetMaxEntries(1024);
  FRedoList->SetMaxEntries(1024);
  FUndoList->OnEntryAdded = [this](TCodeEditUndoList& Sender) { UndoEntryAdded(Sender); };
  FRedoList->OnEntryAdded = [this](TCodeEditUndoList& Sender) { UndoEntryAdded(Sender); };
  FLines->OnChanging = [this](TCodeEditStringList&) { BufferChanging(); };
  FLines->OnChange = [this](TCodeEditStringList&) { BufferChanged(); };
  FLines->OnLinesCleared = [this](TCodeEditStringList&) { BufferCleared(); };
  FLines->OnLinesDeleted = [this](TCodeEditStringList&, int Index, int Count) { BufferLinesDeleted(Index, Count); };
  FLines->OnLinesInserted = [this](TCodeEditStringList&, int Index, int Count) { BufferLinesInserted(Index, Count); };
  FLines->OnLinePut = [this](TCodeEditStringList&, int Index, int Count) { BufferLinePut(Index, Count); };
  FMarkList.OnChange = [this](TCodeEditMarkList&) { InvalidateGutterLines(1, INT_MAX); };
  FGutter.OnChange = [this](TCodeGutter&) { GutterChanged(); };
  FSelectedColor.OnChange = [this](TCodeSelectedColor&) {
    if (SelAvail())
      InvalidateSelectionLines();
  };
  FBookMarkOptions.OnChange = [this](TCodeBookMarkOpt&) { InvalidateGutterLines(1, INT_MAX); };
  FWordWrapGlyph.OnChange = [this](TCodeGlyph&) {
    if (WordWrap())
      InvalidateGutterLines(1, INT_MAX);
  };
  FGutterWidth = FGutter.Width();
  FTextOffset = FGutterWidth + 2;
}

TCodeEditCore::~TCodeEditCore() {
  SetSearchEngine(nullptr);
  if (FHighlighter)
    FHighlighter->RemoveChangeHandler({&AttributesChangedThunk, this});
  // The lines go before the marks and must not call back into a half-gone core.
  FLines->OnChanging = nullptr;
  FLines->OnChange = nullptr;
  FLines->OnLinesCleared = nullptr;
  FLines->OnLinesDeleted = nullptr;
  FLines->OnLinesInserted = nullptr;
  FLines->OnLinePut = nullptr;
  FMarkList.OnChange = nullptr;
  FUndoList->OnEntryAdded = nullptr;
  FRedoList->OnEntryAdded = nullptr;
  FGutter.OnChange = nullptr;
  FSelectedColor.OnChange = nullptr;
  FBookMarkOptions.OnChange = nullptr;
}

// --- caret and selection ------------------------------------------------------

TBufferCoord TCodeEditCore::ClampPos(TBufferCoord P) const {
  P.LinePos = MinMax(P.LinePos, 1, std::max(1, LineCount()));
  int MaxX = HasOption(eoScrollPastEol) ? FMaxScrollWidth + 1
                                        : static_cast<int>(LineText(P.LinePos).size()) + 1;
  P.CharPos = MinMax(P.CharPos, 1, std::max(1, MaxX));
  return P;
}

// --- options and properties -----------------------------------------------------

void TCodeEditCore::SetOptions(TCodeEditorOptions Value) {
  if (Value == FOptions)
    return;
  bool SpecialChanged = ((Value ^ FOptions) & OptionBit(eoShowSpecialChars)) != 0;
  // The old limits still hold while the view is clamped to them.
  if (!HasOption(eoScrollPastEol))
    SetLeftChar(FLeftChar);
  if (!HasOption(eoScrollPastEof))
    SetTopLine(FTopLine);
  const TCodeEditorOptions ScrollOptions = OptionBit(eoDisableScrollArrows) | OptionBit(eoHideShowScrollbars) |
                                           OptionBit(eoScrollPastEof) | OptionBit(eoScrollPastEol);
  const bool UpdateScroll = ((Value ^ FOptions) & ScrollOptions) != 0;
  FOptions = Value;
  SetCaretXY(CaretXY());
  if (HasOption(eoScrollPastEol)) {
    TBufferCoord B = MinPoint(FBlockBegin, FBlockEnd);
    TBufferCoord E = (B == FBlockBegin) ? FBlockEnd : FBlockBegin;
    FBlockBegin = ClampPos(B);
    FBlockEnd = ClampPos(E);
  }
  if (SpecialChanged)
    InvalidateAll();
  if (UpdateScroll)
    RefreshScrollBars();
}

void TCodeEditCore::SetReadOnly(bool Value) {
  if (FReadOnly == Value)
    return;
  FReadOnly = Value;
  AddStatusChanges(scReadOnly);
}

void TCodeEditCore::SetInsertMode(bool Value) {
  if (FInsertMode == Value)
    return;
  FInsertMode = Value;
  InitializeCaret();
  AddStatusChanges(scInsertMode);
}

void TCodeEditCore::SetTabWidth(int Value) {
  Value = MinMax(Value, 1, 256);
  if (Value == FTabWidth)
    return;
  FTabWidth = Value;
  FLines->SetTabWidth(Value);
  if (FWordWrapPlugin)
    FWordWrapPlugin->Reset();
  InvalidateAll();
}

void TCodeEditCore::SetMaxScrollWidth(int Value) {
  Value = MinMax(Value, 1, INT_MAX - 1);
  if (Value == FMaxScrollWidth)
    return;
  FMaxScrollWidth = Value;
  if (HasOption(eoScrollPastEol))
    RefreshScrollBars();
}

void TCodeEditCore::SetRightEdge(int Value) {
  if (FRightEdge == Value)
    return;
  FRightEdge = Value;
  InvalidateAll();
}

void TCodeEditCore::SetHighlighter(TCodeCustomHighlighter* Value) {
  if (FHighlighter.data() == Value)
    return;
  const TCodeNotifyEvent Handler{&AttributesChangedThunk, this};
  if (FHighlighter)
    FHighlighter->RemoveChangeHandler(Handler);
  FHighlighter = Value;
  if (Value != nullptr)
    Value->AddChangeHandler(Handler);
  AttributesChanged(Value);
}

void TCodeEditCore::AttributesChangedThunk(void* Data, void* Sender) {
  static_cast<TCodeEditCore*>(Data)->AttributesChanged(Sender);
}

void TCodeEditCore::AttributesChanged(void* Sender) {
  FontChanged();
  if (Sender != nullptr && FHighlighter) {
    TUnicodeUpdateScope Update(*FLines);
    RescanAllRanges();
  }
  InvalidateAll();
}

// --- highlighter ranges ---------------------------------------------------------

void TCodeEditCore::RescanAllRanges() {
  TCodeCustomHighlighter* H = FHighlighter.data();
  if (H == nullptr || LineCount() == 0)
    return;
  H->ResetRange();
  for (int i = 0; i < LineCount(); ++i) {
    H->SetLine(FLines->LineView(i), i);
    H->NextToEol();
    FLines->PutRange(i, H->GetRange());
  }
}

int TCodeEditCore::RescanFrom(int Index) {
  TCodeCustomHighlighter* H = FHighlighter.data();
  // Without states that carry over, every stored state is 0 already.
  if (H == nullptr || Index >= LineCount() || !H->HasLineRanges())
    return Index;
  if (Index <= 0) {
    Index = 0;
    H->ResetRange();
  } else {
    H->SetRange(FLines->GetRange(Index - 1));
  }
  for (;;) {
    H->SetLine(FLines->LineView(Index), Index);
    H->NextToEol();
    int Range = H->GetRange();
    if (Range == FLines->GetRange(Index))
      break;
    FLines->PutRange(Index, Range);
    ++Index;
    if (Index >= LineCount()) {
      --Index;
      break;
    }
  }
  return Index;
}

// --- buffer events -----------------------------------------------------------------

void TCodeEditCore::BufferChanging() {
  FLinesChanging = true;
  FPendingFirst = 0;
  FPendingLast = 0;
  FPendingGutterFirst = 0;
  FPendingGutterLast = 0;
}

void TCodeEditCore::BufferChanged() {
  FLinesChanging = false;
  if (!HasWindow()) {
    FPendingFirst = 0;
    FPendingLast = 0;
    FPendingGutterFirst = 0;
    FPendingGutterLast = 0;
    return;
  }
  RefreshScrollBars();
  // The selection does not survive a change of the text.
  const TCodeSelectionMode Active = FActiveSelectionMode;
  CollapseSelectionAt(CaretXY());
  FActiveSelectionMode = Active;
  if (FPendingFirst > 0)
    InvalidateTextLines(FPendingFirst, FPendingLast);
  if (FPendingGutterFirst > 0)
    InvalidateGutterLines(FPendingGutterFirst, FPendingGutterLast);
  FPendingFirst = 0;
  FPendingLast = 0;
  FPendingGutterFirst = 0;
  FPendingGutterLast = 0;
  if (FGutter.ShowLineNumbers() && FGutter.AutoSize())
    FGutter.AutoSizeDigitCount(LineCount());
  if (!HasOption(eoScrollPastEof))
    SetTopLine(FTopLine);
}

void TCodeEditCore::BufferCleared() {
  if (FWordWrapPlugin)
    FWordWrapPlugin->Reset();
  FUndoList->Clear();
  FRedoList->Clear();
  FPendingFirst = 0;
  FPendingLast = 0;
  InvalidateAll();
  FCaretX = 1;
  FCaretY = 1;
  FBlockBegin = {1, 1};
  FBlockEnd = {1, 1};
  FTopLine = 1;
  FLeftChar = 1;
  AddStatusChanges(scAll);
}

void TCodeEditCore::BufferLinesDeleted(int Index, int Count) {
  if (FWordWrapPlugin)
    FWordWrapPlugin->LinesDeleted(Index, Count);
  if (FHighlighter && LineCount() > 0)
    RescanFrom(Index);
  InvalidateTextLines(Index + 1, INT_MAX);
  InvalidateGutterLines(Index + 1, INT_MAX);
}

void TCodeEditCore::BufferLinesInserted(int Index, int Count) {
  if (FWordWrapPlugin)
    FWordWrapPlugin->LinesInserted(Index, Count);
  if (FHighlighter && LineCount() > 0) {
    int L = Index;
    do {
      L = RescanFrom(L) + 1;
    } while (L < Index + Count);
  }
  InvalidateTextLines(Index + 1, INT_MAX);
  InvalidateGutterLines(Index + 1, INT_MAX);
  if (HasOption(eoAutoSizeMaxScrollWidth)) {
    int Len = FLines->GetExpandedLength(Index);
    if (Len > FMaxScrollWidth)
      SetMaxScrollWidth(Len);
  }
}

void TCodeEditCore::BufferLinePut(int Index, int Count) {
  int E = Index + 1;
  // A line whose rows changed in number moves every row below it.
  if (FWordWrapPlugin && FWordWrapPlugin->LinesReplaced(Index, Count) != 0) {
    E = INT_MAX;
    InvalidateGutterLines(Index + 1, E);
  }
  if (FHighlighter) {
    int S = RescanFrom(Index);
    E = std::max(E, S + 1);
  }
  InvalidateTextLines(Index + 1, E);
  if (HasOption(eoAutoSizeMaxScrollWidth)) {
    int Len = FLines->GetExpandedLength(Index);
    if (Len > FMaxScrollWidth)
      SetMaxScrollWidth(Len);
  }
}

// --- invalidation ------------------------------------------------------------------

void TCodeEditCore::InvalidateAll() {
  if (FView != nullptr && FView->HasWindow())
    FView->InvalidateAll();
}

void TCodeEditCore::InvalidateLines(int First, int Last, bool Gutter) {
  if (FView == nullptr || !FView->HasWindow())
    return;
  // A scroll under the paint lock repaints everything at the release: a
  // long undo or replace-all moves the view with each line it changes.
  if (FScrollPending && FPaintLock > 0)
    return;
  First = std::max(First, 1);
  Last = std::max(Last, 1);
  if (First > Last)
    std::swap(First, Last);
  // From the last line on, the area below the text goes with it: a deletion
  // leaves rows there (text and numbers) that must be cleared.
  if (Last >= LineCount())
    Last = INT_MAX;
  if (FLinesChanging) {
    int& PendingFirst = Gutter ? FPendingGutterFirst : FPendingFirst;
    int& PendingLast = Gutter ? FPendingGutterLast : FPendingLast;
    PendingFirst = PendingFirst == 0 ? First : std::min(PendingFirst, First);
    PendingLast = std::max(PendingLast, Last);
    return;
  }
  if (Gutter)
    FView->InvalidateGutterLines(First, Last);
  else
    FView->InvalidateTextLines(First, Last);
}

void TCodeEditCore::InvalidateGutterLine(int Line) { InvalidateGutterLines(Line, Line); }

void TCodeEditCore::InvalidateLine(int Line) {
  if (Line >= 1 && Line <= LineCount())
    InvalidateTextLines(Line, Line);
}

// --- status and transient notifications ---------------------------------------------

void TCodeEditCore::AddStatusChanges(TCodeStatusChanges Changes) {
  FStatusChanges |= Changes;
  if (FPaintLock == 0)
    DoStatusChange();
}

void TCodeEditCore::DoStatusChange() {
  // Reported changes are done with even when nobody listens: the paint
  // lock's release looks at what is pending.
  TCodeStatusChanges Changes = FStatusChanges;
  FStatusChanges = 0;
  if (OnStatusChange)
    OnStatusChange(*this, Changes);
}

void TCodeEditCore::DoChange() {
  if (OnChange)
    OnChange(*this);
}

void TCodeEditCore::DoPaintTransientEx(TTransientType T, bool Lock) {
  bool Fire = FPaintTransientLock == 0;
  if (Lock) {
    if (T == ttAfter) {
      if (FPaintTransientLock > 0)
        --FPaintTransientLock;
      Fire = FPaintTransientLock == 0;
    } else {
      ++FPaintTransientLock;
    }
  }
  if (Fire && OnPaintTransient)
    OnPaintTransient(*this, T);
}

// --- character classes and word positions ---------------------------------------------

bool TCodeEditCore::IsWordBreakChar(char16_t Ch) const {
  if (FHighlighter)
    return FHighlighter->IsWordBreakChar(Ch);
  return IsDefaultWordBreakChar(Ch);
}

bool TCodeEditCore::IsIdentChar(char16_t Ch) const {
  bool Ident = FHighlighter ? FHighlighter->IsIdentChar(Ch) : Ch > 32;
  return Ident && !IsWordBreakChar(Ch);
}

bool TCodeEditCore::IsWhiteChar(char16_t Ch) const {
  if (FHighlighter)
    return FHighlighter->IsWhiteChar(Ch);
  if (Ch <= 32)
    return true;
  return !IsIdentChar(Ch) && !IsWordBreakChar(Ch);
}

TBufferCoord TCodeEditCore::NextWordPosEx(TBufferCoord Pos) const {
  int X = Pos.CharPos, Y = Pos.LinePos;
  if (Y >= 1 && Y <= LineCount()) {
    std::u16string_view Line = LineText(Y);
    int Len = static_cast<int>(Line.size());
    auto Ident = [this](char16_t c) { return IsIdentChar(c); };
    auto Break = [this](char16_t c) { return IsWordBreakChar(c); };
    if (X < Len) {
      if (X >= 1 && IsIdentChar(Line[static_cast<std::size_t>(X - 1)]))
        X = ScanForward(Line, X, Break);
      if (X > 0)
        X = ScanForward(Line, X, Ident);
      if (X == 0)
        X = Len + 1;
    } else if (Y < LineCount()) {
      std::u16string_view Next = LineText(Y + 1);
      X = ScanForward(Next, 1, Ident);
      if (X == 0)
        X = 1;
      ++Y;
    }
  }
  return {X, Y};
}

TBufferCoord TCodeEditCore::WordStartEx(TBufferCoord Pos) const {
  int X = Pos.CharPos, Y = Pos.LinePos;
  if (Y >= 1 && Y <= LineCount()) {
    std::u16string_view Line = LineText(Y);
    X = std::min(X, static_cast<int>(Line.size()) + 1);
    if (X >= 2 && !IsWordBreakChar(Line[static_cast<std::size_t>(X - 2)]))
      X = ScanBackward(Line, X - 1, [this](char16_t c) { return IsWordBreakChar(c); }) + 1;
  }
  return {X, Y};
}

TBufferCoord TCodeEditCore::WordEndEx(TBufferCoord Pos) const {
  int X = Pos.CharPos, Y = Pos.LinePos;
  if (Y >= 1 && Y <= LineCount()) {
    std::u16string_view Line = LineText(Y);
    X = ScanForward(Line, X, [this](char16_t c) { return IsWordBreakChar(c); });
    if (X == 0)
      X = static_cast<int>(Line.size()) + 1;
  }
  return {X, Y};
}

TBufferCoord TCodeEditCore::PrevWordPosEx(TBufferCoord Pos) const {
  int X = Pos.CharPos, Y = Pos.LinePos;
  if (Y < 1 || Y > LineCount())
    return {X, Y};
  std::u16string_view Line = LineText(Y);
  X = std::min(X, static_cast<int>(Line.size()) + 1);
  if (X <= 1) {
    if (Y >= 2)
      return {static_cast<int>(LineText(Y - 1).size()) + 1, Y - 1};
    return {X, Y};
  }
  auto Ident = [this](char16_t c) { return IsIdentChar(c); };
  auto Break = [this](char16_t c) { return IsWordBreakChar(c); };
  if (IsWordBreakChar(Line[static_cast<std::size_t>(X - 2)]))
    X = ScanBackward(Line, X - 1, Ident);
  if (X > 0)
    X = ScanBackward(Line, X - 1, Break) + 1;
  if (X == 0) {
    if (Y >= 2)
      return {static_cast<int>(LineText(Y - 1).size()) + 1, Y - 1};
    X = 1;
  }
  return {X, Y};
}

void TCodeEditCore::SelectWordAround(TBufferCoord Value) {
  Value.CharPos = std::max(Value.CharPos, 1);
  if (HasOption(eoScrollPastEol))
    Value.CharPos = std::min(Value.CharPos, FMaxScrollWidth + 1);
  Value.LinePos = MinMax(Value.LinePos, 1, std::max(1, LineCount()));
  std::u16string T(LineText(Value.LinePos));
  T.push_back(u'\0');
  const int Len = static_cast<int>(T.size());
  if (Len < Value.CharPos) {
    SetCaretXY({Len, Value.LinePos});
    return;
  }
  int Past = Value.CharPos;
  while (IsIdentChar(T[static_cast<std::size_t>(Past - 1)]))
    ++Past;
  int First = Value.CharPos;
  while (First > 1 && IsIdentChar(T[static_cast<std::size_t>(First - 2)]))
    --First;
  SetCaretAndSelection({Past, Value.LinePos}, {First, Value.LinePos}, {Past, Value.LinePos});
  InvalidateLine(Value.LinePos);
}

// --- brackets and tokens -------------------------------------------------------------------

bool TCodeEditCore::GetTokenInfoAt(TBufferCoord Pos, std::u16string& Token, int& Kind, int& Start,
                                   TCodeHighlighterAttributes*& Attribute) {
  TCodeCustomHighlighter* H = FHighlighter.data();
  Token.clear();
  Attribute = nullptr;
  if (H == nullptr || Pos.LinePos < 1 || Pos.LinePos > LineCount())
    return false;
  const int Index = Pos.LinePos - 1;
  if (Index == 0)
    H->ResetRange();
  else
    H->SetRange(FLines->GetRange(Index - 1));
  H->SetLine(FLines->LineView(Index), Index);
  while (!H->AtLineEnd()) {
    int TokenStart = H->GetTokenPos() + 1;
    std::u16string Text = H->GetTokenText();
    if (Pos.CharPos >= TokenStart && Pos.CharPos < TokenStart + static_cast<int>(Text.size())) {
      Token = std::move(Text);
      Attribute = H->CurrentTokenAttribute();
      Kind = H->CurrentTokenKind();
      Start = TokenStart;
      return true;
    }
    H->ScanNextToken();
  }
  return false;
}

bool TCodeEditCore::GetAttributeAt(TBufferCoord Pos, std::u16string& Token, TCodeHighlighterAttributes*& Attribute) {
  int Kind = 0, Start = 0;
  return GetTokenInfoAt(Pos, Token, Kind, Start, Attribute);
}

bool TCodeEditCore::IsOpenOrCloseSkipped(TBufferCoord Pos) {
  std::u16string Token;
  TCodeHighlighterAttributes* Attr = nullptr;
  if (!GetAttributeAt(Pos, Token, Attr) || Attr == nullptr || !FHighlighter)
    return false;
  return Attr == FHighlighter->DefaultAttribute(CODE_ATTR_STRING) ||
         Attr == FHighlighter->DefaultAttribute(CODE_ATTR_COMMENT);
}

TBufferCoord TCodeEditCore::GetMatchingBracketEx(TBufferCoord Pos) {
  if (Pos.LinePos < 1 || Pos.LinePos > LineCount() || Pos.CharPos < 1)
    return {0, 0};
  std::u16string_view Line = LineText(Pos.LinePos);
  if (Pos.CharPos > static_cast<int>(Line.size()))
    return {0, 0};
  const char16_t Ch = Line[static_cast<std::size_t>(Pos.CharPos - 1)];
  const std::size_t Entry = BracketTable.find(Ch);
  if (Entry == std::u16string_view::npos)
    return {0, 0};
  const char16_t Open = Ch;
  const char16_t Close = BracketTable[Entry ^ 1];
  int Depth = 1;
  auto Visit = [&](int X, int Y, char16_t C) {
    if (C != Open && C != Close)
      return false;
    if (IsOpenOrCloseSkipped({X, Y}))
      return false;
    Depth += C == Open ? 1 : -1;
    return Depth == 0;
  };
  if ((Entry & 1) != 0) {
    for (int Y = Pos.LinePos; Y >= 1; --Y) {
      std::u16string Text(LineText(Y));
      int X = Y == Pos.LinePos ? Pos.CharPos - 1 : static_cast<int>(Text.size());
      for (; X >= 1; --X)
        if (Visit(X, Y, Text[static_cast<std::size_t>(X - 1)]))
          return {X, Y};
    }
  } else {
    for (int Y = Pos.LinePos; Y <= LineCount(); ++Y) {
      std::u16string Text(LineText(Y));
      int X = Y == Pos.LinePos ? Pos.CharPos + 1 : 1;
      for (; X <= static_cast<int>(Text.size()); ++X)
        if (Visit(X, Y, Text[static_cast<std::size_t>(X - 1)]))
          return {X, Y};
    }
  }
  return {0, 0};
}

// --- display positions and glyph fillers -----------------------------------------------------

int TCodeEditCore::MeasureCharCells(char16_t Ch) {
  if (FCellCache.empty())
    FCellCache.assign(0x10000, -1);
  std::int16_t& Cached = FCellCache[Ch];
  if (Cached < 0)
    Cached = static_cast<std::int16_t>(FView != nullptr ? std::clamp(FView->CharCells(Ch), 0, 0x7FFF) : 1);
  return Cached;
}

std::u16string TCodeEditCore::InsertGlyphFillers(std::u16string_view S) {
  std::u16string Result;
  Result.reserve(S.size() * 2);
  for (char16_t C : S) {
    // A TAB already stands as one TAB per column it spans.
    int Cells = C == u'\t' ? 1 : CharCells(C);
    if (Cells > 1)
      Result.append(static_cast<std::size_t>(Cells - 1), CODE_GLYPH_FILLER);
    Result.push_back(C);
  }
  return Result;
}

std::u16string TCodeEditCore::StripGlyphFillers(std::u16string_view S, int First, int& CharCount) {
  std::u16string Result;
  const int Len = static_cast<int>(S.size());
  int I = std::max(First, 1);
  const int Last = First + CharCount - 1;
  while (I <= Last && I <= Len) {
    while (I <= Len && S[static_cast<std::size_t>(I - 1)] == CODE_GLYPH_FILLER)
      ++I;
    if (I > Len)
      break;
    Result.push_back(S[static_cast<std::size_t>(I - 1)]);
    ++I;
  }
  CharCount = static_cast<int>(Result.size());
  return Result;
}

TDisplayCoord TCodeEditCore::BufferToDisplayPos(TBufferCoord P) {
  TDisplayCoord Result = UnwrappedDisplayPos(P);
  return FWordWrapPlugin ? FWordWrapPlugin->BufferToDisplayPos({Result.Column, Result.Row}) : Result;
}

TDisplayCoord TCodeEditCore::UnwrappedDisplayPos(TBufferCoord P) {
  TDisplayCoord Result{P.CharPos, P.LinePos};
  if (P.LinePos < 1 || P.LinePos > LineCount())
    return Result;
  std::u16string_view Line = LineText(P.LinePos);
  const int Len = static_cast<int>(Line.size());
  int Column = 0;
  for (int i = 1; i < P.CharPos; ++i) {
    if (i > Len)
      Column += 1;
    else if (Line[static_cast<std::size_t>(i - 1)] == u'\t')
      Column += FTabWidth - Column % FTabWidth;
    else
      Column += CharCells(Line[static_cast<std::size_t>(i - 1)]);
  }
  Result.Column = Column + 1;
  return Result;
}

TBufferCoord TCodeEditCore::DisplayToBufferPos(TDisplayCoord P) {
  if (FWordWrapPlugin) {
    const TBufferCoord Unwrapped = FWordWrapPlugin->DisplayToBufferPos(P);
    P = {Unwrapped.CharPos, Unwrapped.LinePos};
  }
  TBufferCoord Result{P.Column, P.Row};
  if (P.Row < 1 || P.Row > LineCount())
    return Result;
  std::u16string_view Line = LineText(P.Row);
  const int Len = static_cast<int>(Line.size());
  int Column = 0;
  int Chars = 0;
  while (Column < P.Column) {
    ++Chars;
    if (Chars > Len)
      Column += 1;
    else if (Line[static_cast<std::size_t>(Chars - 1)] == u'\t')
      Column += FTabWidth - Column % FTabWidth;
    else
      Column += std::max(1, CharCells(Line[static_cast<std::size_t>(Chars - 1)]));
  }
  Result.CharPos = Chars;
  return Result;
}

void TCodeEditCore::FontChanged() {
  FCellCache.clear();  // measured again on first use
  // Wide glyphs may take other cell counts now.
  if (FWordWrapPlugin)
    FWordWrapPlugin->Reset();
}

// --- word wrap ------------------------------------------------------------------------------

void TCodeEditCore::SetWordWrap(bool Value) {
  if (Value == WordWrap())
    return;
  const int TopLine = RowToLine(FTopLine);
  if (Value) {
    FWordWrapPlugin = std::make_unique<TCodeWordWrapPlugin>(this);
    FLeftChar = 1;
  } else {
    FWordWrapPlugin.reset();
  }
  FTopLine = std::max(1, LineToRow(TopLine));
  AddStatusChanges(scTopLine | scLeftChar);
  InvalidateAll();
}

// --- bookmarks and line moves ------------------------------------------------------------------

void TCodeEditCore::SetBookmark(int Number, int X, int Y) {
  if (Number < 0 || Number > 9 || Y < 1 || Y > std::max(1, LineCount()))
    return;
  auto Owned = std::make_unique<TCodeEditMark>(this);
  TCodeEditMark* Mark = Owned.get();
  Mark->SetLine(Y);
  Mark->SetChar(X);
  Mark->SetImageNumber(Number);
  Mark->SetBookmarkNumber(Number);
  Mark->SetShown(true);
  Mark->SetInternalImage(true);
  if (OnPlaceBookmark)
    OnPlaceBookmark(*this, Mark);
  // A handler that takes the mark away (nullptr) keeps it; one that puts
  // another mark in its place hands that one over and the first is freed.
  if (Mark == nullptr) {
    (void)Owned.release();
    return;
  }
  ClearBookmark(Number);
  FBookMarks[static_cast<std::size_t>(Number)] = Mark;
  FMarkList.Add(Mark == Owned.get() ? std::move(Owned) : std::unique_ptr<TCodeEditMark>(Mark));
}

void TCodeEditCore::ClearBookmark(int Number) {
  if (Number < 0 || Number > 9 || FBookMarks[static_cast<std::size_t>(Number)] == nullptr)
    return;
  TCodeEditMark*& Slot = FBookMarks[static_cast<std::size_t>(Number)];
  if (OnClearBookmark)
    OnClearBookmark(*this, Slot);
  if (Slot != nullptr)
    FMarkList.Remove(Slot);
  Slot = nullptr;
}

void TCodeEditCore::GotoBookmark(int Number) {
  TCodeEditMark* Mark = BookMark(Number);
  if (Mark == nullptr || Mark->Line() > LineCount())
    return;
  MoveCaretAndCollapse({Mark->Char(), Mark->Line()});
}

void TCodeEditCore::GotoLineAndCenter(int Line) { MoveCaretAndCollapse({1, Line}); }

void TCodeEditCore::MoveCaretAndCollapse(TBufferCoord Pos) {
  TPaintLockScope Lock(*this);
  // Brought into view once, centred, rather than to the nearest edge first.
  SetCaretPositionEx(false, Pos);
  EnsureCursorPosVisibleEx(true);
  if (SelAvail())
    InvalidateSelectionLines();
  FBlockBegin = CaretXY();
  FBlockEnd = CaretXY();
}

void TCodeEditCore::DoLinesDeleted(int FirstLine, int Count) {
  for (int i = 0; i < FMarkList.Count(); ++i) {
    TCodeEditMark* Mark = FMarkList.GetItem(i);
    if (Mark->Line() >= FirstLine + Count)
      Mark->SetLine(Mark->Line() - Count);
    else if (Mark->Line() > FirstLine)
      Mark->SetLine(FirstLine);
  }
}

void TCodeEditCore::DoLinesInserted(int FirstLine, int Count) {
  for (int i = 0; i < FMarkList.Count(); ++i) {
    TCodeEditMark* Mark = FMarkList.GetItem(i);
    if (Mark->Line() >= FirstLine)
      Mark->SetLine(Mark->Line() + Count);
  }
}

}  // namespace codeedit
