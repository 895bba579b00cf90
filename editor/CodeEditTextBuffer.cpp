#include "editor/CodeEditTextBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

// Sets and clears the streaming flag around a load or save, also when it throws.
class StreamingScope {
public:
  explicit StreamingScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~StreamingScope() { flag_ = false; }
  StreamingScope(const StreamingScope&) = delete;
  StreamingScope& operator=(const StreamingScope&) = delete;

private:
  bool& flag_;
};

}  // namespace

static_assert(sizeof(TCodeEditLineRecord) <= 32, "a line record stays at four words");

TCodeEditStringList::TCodeEditStringList(TCodeExpandGlyphsFunc GlyphExpander)
    : FConvertTabsProc(GetBestConvertTabsProc(8)), FExpandGlyphs(std::move(GlyphExpander)) {}

TCodeEditStringList::~TCodeEditStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  OnLinesCleared = nullptr;
  Clear();
}

void TCodeEditStringList::ListIndexOutOfBounds(int Index) {
  char text[64];
  std::snprintf(text, sizeof text, "Invalid stringlist index %d", Index);
  throw ECodeEditStringList(text);
}

// --- Reading ----------------------------------------------------------------------

std::u16string_view TCodeEditStringList::LineView(int Index) const {
  if (!IsLine(Index)) return {};
  const TCodeEditLineRecord& r = FList[static_cast<std::size_t>(Index)];
  return r.Text ? std::u16string_view(r.Text.get(), static_cast<std::size_t>(r.Length)) : std::u16string_view();
}

std::u16string TCodeEditStringList::GetString(int Index) const { return std::u16string(LineView(Index)); }

TObjectRef TCodeEditStringList::GetObject(int Index) const {
  return IsLine(Index) ? FList[static_cast<std::size_t>(Index)].Data : nullptr;
}

int TCodeEditStringList::GetRange(int Index) const {
  return IsLine(Index) ? FList[static_cast<std::size_t>(Index)].Range : 0;
}

TCodeLineFlags TCodeEditStringList::GetLineFlags(int Index) const {
  return IsLine(Index) ? FList[static_cast<std::size_t>(Index)].Flags : 0;
}

std::u16string TCodeEditStringList::ExpandLine(int Index) {
  TCodeEditLineRecord& r = FList[static_cast<std::size_t>(Index)];
  if (!r.Text) {
    r.Flags = static_cast<TCodeLineFlags>((r.Flags & ~(lfExpandedLengthStale | lfHasTabs)) | lfHasNoTabs);
    r.ExpandedLength = 0;
    return {};
  }
  // Display code sees the line up to its first 0 character.
  const std::u16string_view text(r.Text.get());
  bool hasTabs = false;
  std::u16string expanded = FConvertTabsProc(text, FTabWidth, hasTabs);
  const std::size_t length = FExpandGlyphs ? FExpandGlyphs(expanded).size() : expanded.size();
  r.ExpandedLength = static_cast<std::int32_t>(length);
  r.Flags = hasTabs ? lfHasTabs : lfHasNoTabs;
  return expanded;
}

std::u16string TCodeEditStringList::GetExpandedString(int Index) {
  if (!IsLine(Index)) return {};
  if (FList[static_cast<std::size_t>(Index)].Flags & lfHasNoTabs) return GetString(Index);
  return ExpandLine(Index);
}

int TCodeEditStringList::GetExpandedLength(int Index) {
  if (!IsLine(Index)) return 0;
  if (FList[static_cast<std::size_t>(Index)].Flags & lfExpandedLengthStale) ExpandLine(Index);
  return FList[static_cast<std::size_t>(Index)].ExpandedLength;
}

int TCodeEditStringList::GetLongestLineLength() {
  if (FLongestLineIndex < 0) {
    int longest = 0;
    for (int i = 0; i < FCount; ++i) {
      if (FList[static_cast<std::size_t>(i)].Flags & lfExpandedLengthStale) ExpandLine(i);
      // Strictly greater: of equal lines the earlier one stays the longest.
      if (FList[static_cast<std::size_t>(i)].ExpandedLength > longest) {
        longest = FList[static_cast<std::size_t>(i)].ExpandedLength;
        FLongestLineIndex = i;
      }
    }
  }
  return IsLine(FLongestLineIndex) ? FList[static_cast<std::size_t>(FLongestLineIndex)].ExpandedLength : 0;
}

std::u16string_view TCodeEditStringList::LineBreak() const {
  switch (FLineBreakKind) {
    case lbkLF:
      return u"\n";
    case lbkCR:
      return u"\r";
    case lbkLineSeparator:
      return u"\u2028";
    default:
      return u"\r\n";
  }
}

std::u16string TCodeEditStringList::GetAllText() const {
  if (!FStreaming) return TUnicodeStrings::GetAllText();
  std::u16string text = GetSeparatedText(LineBreak());
  if (FFinalLineBreak) text.append(LineBreak());
  return text;
}

// --- Changing ---------------------------------------------------------------------

void TCodeEditStringList::UpdatingChanged(bool Updating) {
  if (Updating) {
    if (OnChanging) OnChanging(*this);
  } else if (OnChange) {
    OnChange(*this);
  }
}

void TCodeEditStringList::StoreText(TCodeEditLineRecord& Record, std::u16string_view S) {
  // Copy before releasing: S may be a view of the line it replaces.
  std::unique_ptr<char16_t[]> text;
  if (!S.empty()) {
    text = std::make_unique_for_overwrite<char16_t[]>(S.size() + 1);
    std::memcpy(text.get(), S.data(), S.size() * sizeof(char16_t));
    text[S.size()] = u'\0';
  }
  Record.Text = std::move(text);
  Record.Length = static_cast<std::int32_t>(S.size());
}

void TCodeEditStringList::Resize(int NewCapacity) {
  // Exactly the records asked for: a vector left to grow on its own would
  // double, and a million-line text would carry a million spare records.
  if (static_cast<std::size_t>(NewCapacity) > FList.capacity()) {
    std::vector<TCodeEditLineRecord> bigger;
    bigger.reserve(static_cast<std::size_t>(NewCapacity));
    std::move(FList.begin(), FList.end(), std::back_inserter(bigger));
    FList = std::move(bigger);
  }
  FList.resize(static_cast<std::size_t>(NewCapacity));
  if (FList.capacity() > FList.size() * 2 + 16) FList.shrink_to_fit();
}

void TCodeEditStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < FCount) throw EListError("Stringlist capacity cannot be smaller than count");
  Resize(NewCapacity);
}

void TCodeEditStringList::Grow() {
  const int capacity = GetCapacity();
  Resize(capacity + (capacity <= 64 ? 16 : capacity / 4));
}

void TCodeEditStringList::InsertItem(int Index, std::u16string_view S) {
  TUnicodeUpdateScope update(*this);
  if (FCount == GetCapacity()) Grow();
  const auto at = FList.begin() + Index;
  std::move_backward(at, FList.begin() + FCount, FList.begin() + FCount + 1);
  FLongestLineIndex = -1;
  *at = TCodeEditLineRecord{};
  StoreText(*at, S);
  ++FCount;
}

int TCodeEditStringList::Add(std::u16string_view S) {
  const int index = FCount;
  TUnicodeUpdateScope update(*this);
  InsertItem(index, S);
  if (OnLinesInserted) OnLinesInserted(*this, index, 1);
  return index;
}

void TCodeEditStringList::Insert(int Index, std::u16string_view S) {
  if (Index < 0 || Index > FCount) ListIndexOutOfBounds(Index);
  TUnicodeUpdateScope update(*this);
  InsertItem(Index, S);
  if (OnLinesInserted) OnLinesInserted(*this, Index, 1);
}

void TCodeEditStringList::PutString(int Index, std::u16string_view S) {
  if (Index == FCount) {
    Add(S);
    return;
  }
  if (!IsLine(Index)) ListIndexOutOfBounds(Index);
  TUnicodeUpdateScope update(*this);
  TCodeEditLineRecord& r = FList[static_cast<std::size_t>(Index)];
  r.Flags = lfExpandedLengthStale;
  FLongestLineIndex = -1;
  StoreText(r, S);
  if (OnLinePut) OnLinePut(*this, Index, 1);
}

void TCodeEditStringList::PutObject(int Index, TObjectRef Obj) {
  if (!IsLine(Index)) ListIndexOutOfBounds(Index);
  TUnicodeUpdateScope update(*this);
  FList[static_cast<std::size_t>(Index)].Data = Obj;
}

void TCodeEditStringList::PutRange(int Index, int Range) {
  if (!IsLine(Index)) ListIndexOutOfBounds(Index);
  TUnicodeUpdateScope update(*this);
  FList[static_cast<std::size_t>(Index)].Range = Range;
}

void TCodeEditStringList::Delete(int Index) {
  if (!IsLine(Index)) ListIndexOutOfBounds(Index);
  TUnicodeUpdateScope update(*this);
  FList[static_cast<std::size_t>(Index)].Text.reset();
  --FCount;
  std::move(FList.begin() + Index + 1, FList.begin() + FCount + 1, FList.begin() + Index);
  FList[static_cast<std::size_t>(FCount)] = TCodeEditLineRecord{};
  FLongestLineIndex = -1;
  if (OnLinesDeleted) OnLinesDeleted(*this, Index, 1);
}

void TCodeEditStringList::DeleteLines(int Index, int NumLines) {
  if (NumLines < 1) return;
  if (Index < 0 || Index > FCount) ListIndexOutOfBounds(Index);
  const int removed = std::min(NumLines, FCount - Index);
  for (int i = Index; i < Index + removed; ++i) FList[static_cast<std::size_t>(i)] = TCodeEditLineRecord{};
  const int following = FCount - Index - removed;
  if (following > 0) {
    // The count drops inside the update, so a change handler already sees
    // the shortened list; the line event still comes after it.
    TUnicodeUpdateScope update(*this);
    std::move(FList.begin() + Index + removed, FList.begin() + FCount, FList.begin() + Index);
    for (int i = FCount - removed; i < FCount; ++i) FList[static_cast<std::size_t>(i)] = TCodeEditLineRecord{};
    FCount -= removed;
  } else {
    FCount -= removed;
  }
  FLongestLineIndex = -1;
  if (OnLinesDeleted) OnLinesDeleted(*this, Index, removed);
}

void TCodeEditStringList::InsertLines(int Index, int NumLines) {
  if (Index < 0 || Index > FCount) ListIndexOutOfBounds(Index);
  if (NumLines < 1) return;
  // More lines than a 32-bit count holds is memory the list can never get.
  if (NumLines > std::numeric_limits<int>::max() - FCount) throw std::bad_alloc();
  TUnicodeUpdateScope update(*this);
  if (GetCapacity() < FCount + NumLines) SetCapacity(FCount + NumLines);
  std::move_backward(FList.begin() + Index, FList.begin() + FCount, FList.begin() + FCount + NumLines);
  for (int i = Index; i < Index + NumLines; ++i) FList[static_cast<std::size_t>(i)] = TCodeEditLineRecord{};
  FCount += NumLines;
  FLongestLineIndex = -1;
  if (OnLinesInserted) OnLinesInserted(*this, Index, NumLines);
}

void TCodeEditStringList::Exchange(int Index1, int Index2) {
  if (!IsLine(Index1)) ListIndexOutOfBounds(Index1);
  if (!IsLine(Index2)) ListIndexOutOfBounds(Index2);
  TUnicodeUpdateScope update(*this);
  std::swap(FList[static_cast<std::size_t>(Index1)], FList[static_cast<std::size_t>(Index2)]);
  if (FLongestLineIndex == Index1)
    FLongestLineIndex = Index2;
  else if (FLongestLineIndex == Index2)
    FLongestLineIndex = Index1;
}

void TCodeEditStringList::Clear() {
  if (FCount > 0) {
    TUnicodeUpdateScope update(*this);
    FList.clear();
    FCount = 0;
    SetCapacity(0);
    if (OnLinesCleared) OnLinesCleared(*this);
  }
  FLongestLineIndex = -1;
}

void TCodeEditStringList::AddUnicodeStrings(const TUnicodeStrings& Source) {
  const int n = Source.GetCount();
  if (n == 0) return;
  FLongestLineIndex = -1;
  TUnicodeUpdateScope update(*this);
  const int first = FCount;
  if (GetCapacity() < FCount + n) SetCapacity((FCount + n + 15) & ~15);
  for (int i = 0; i < n; ++i) {
    TCodeEditLineRecord& r = FList[static_cast<std::size_t>(FCount)];
    r = TCodeEditLineRecord{};
    // Copy before storing: Source may be this list.
    StoreText(r, Source.GetString(i));
    r.Data = Source.GetObject(i);
    ++FCount;
  }
  if (OnLinesInserted) OnLinesInserted(*this, first, n);
}

void TCodeEditStringList::SetAllText(std::u16string_view Value) {
  bool sawCR = false, sawLF = false, sawLS = false;
  {
    TUnicodeUpdateScope update(*this);
    Clear();
    std::size_t i = 0;
    const std::size_t n = Value.size();
    while (i < n) {
      const std::size_t start = i;
      while (i < n && Value[i] != u'\r' && Value[i] != u'\n' && Value[i] != u'\u2028') ++i;
      Add(Value.substr(start, i - start));
      // One break is at most one U+2028, then one CR, then one LF: CR LF is
      // one break, LF CR and CR CR are two.
      if (i < n && Value[i] == u'\u2028') sawLS = true, ++i;
      if (i < n && Value[i] == u'\r') sawCR = true, ++i;
      if (i < n && Value[i] == u'\n') sawLF = true, ++i;
    }
    if (!FFinalLineBreak && n > 0 && (Value[n - 1] == u'\r' || Value[n - 1] == u'\n' || Value[n - 1] == u'\u2028'))
      Add(u"");
  }
  if (sawLS)
    FLineBreakKind = lbkLineSeparator;
  else if (sawCR && !sawLF)
    FLineBreakKind = lbkCR;
  else if (sawLF && !sawCR)
    FLineBreakKind = lbkLF;
  else
    FLineBreakKind = lbkCRLF;
}

void TCodeEditStringList::LoadFromStream(std::istream& Stream) {
  StreamingScope streaming(FStreaming);
  TUnicodeStrings::LoadFromStream(Stream);
}

void TCodeEditStringList::SaveToStream(std::ostream& Stream, bool WithBOM) {
  StreamingScope streaming(FStreaming);
  TUnicodeStrings::SaveToStream(Stream, WithBOM);
}

// --- Tabs and display lengths -----------------------------------------------------

void TCodeEditStringList::SetTabWidth(int Value) {
  if (Value == FTabWidth) return;
  FTabWidth = Value;
  FConvertTabsProc = GetBestConvertTabsProc(Value);
  InvalidateExpandedLengths();
}

void TCodeEditStringList::InvalidateExpandedLengths() {
  FLongestLineIndex = -1;
  for (int i = 0; i < FCount; ++i) {
    TCodeEditLineRecord& r = FList[static_cast<std::size_t>(i)];
    r.ExpandedLength = -1;
    r.Flags = static_cast<TCodeLineFlags>((r.Flags & ~lfHasNoTabs) | lfExpandedLengthStale);
  }
}

// --- Undo list --------------------------------------------------------------------

std::uint32_t TCodeEditUndoList::TakeNextNumber() {
  const std::uint32_t number = FNextNumber;
  ++FNextNumber;
  if (FNextNumber == 0) FNextNumber = 1;
  return number;
}

void TCodeEditUndoList::Assign(const TCodeEditUndoList& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& item : Source.FItems) FItems.push_back(std::make_unique<TCodeEditUndoItem>(*item));
  FBlockNumber = Source.FBlockNumber;
  FOuterNumber = Source.FOuterNumber;
  FBlockDepth = Source.FBlockDepth;
  FTruncated = Source.FTruncated;
  FLockDepth = Source.FLockDepth;
  FMaxEntries = Source.FMaxEntries;
  FNextNumber = Source.FNextNumber;
  FRedoing = Source.FRedoing;
}

void TCodeEditUndoList::AddChange(TCodeChangeReason Reason, const TBufferCoord& StartPos, const TBufferCoord& EndPos,
                                  std::u16string_view Text, TCodeSelectionMode SelectionMode) {
  if (FLockDepth != 0) return;
  auto item = std::make_unique<TCodeEditUndoItem>();
  item->Reason = Reason;
  item->SelectionMode = SelectionMode;
  item->StartPos = StartPos;
  item->EndPos = EndPos;
  item->Text = Text;
  item->GroupNumber = FBlockNumber != 0 ? FBlockNumber : TakeNextNumber();
  PushItem(std::move(item));
}

void TCodeEditUndoList::BeginBlock() {
  if (FBlockDepth++ == 0) {
    FOuterNumber = FBlockNumber;
    if (FBlockNumber == 0) FBlockNumber = FNextNumber;
  }
}

void TCodeEditUndoList::EndBlock() {
  if (FBlockDepth == 0) return;
  if (--FBlockDepth > 0) return;
  const std::uint32_t block = FBlockNumber;
  FBlockNumber = FOuterNumber;
  // A block inside a number set from outside belongs to that group.
  if (FOuterNumber == 0) TakeNextNumber();
  FOuterNumber = 0;
  if (!FItems.empty() && FItems.back()->GroupNumber == block && OnEntryAdded) OnEntryAdded(*this);
}

void TCodeEditUndoList::AddGroupBreak() {
  if (LastChangeReason() != crGroupBreakEntry) AddChange(crGroupBreakEntry, {}, {}, u"", smNormal);
}

void TCodeEditUndoList::PushItem(std::unique_ptr<TCodeEditUndoItem> Item) {
  if (!Item) return;
  // Read before trimming, which may free the entry at once.
  const bool notify = Item->Reason != crGroupBreakEntry;
  FItems.push_back(std::move(Item));
  Trim();
  if (notify && OnEntryAdded) OnEntryAdded(*this);
}

std::unique_ptr<TCodeEditUndoItem> TCodeEditUndoList::PopItem() {
  if (FItems.empty()) return nullptr;
  std::unique_ptr<TCodeEditUndoItem> item = std::move(FItems.back());
  FItems.pop_back();
  return item;
}

const TCodeEditUndoItem* TCodeEditUndoList::PeekItem() const { return FItems.empty() ? nullptr : FItems.back().get(); }

TCodeChangeReason TCodeEditUndoList::LastChangeReason() const {
  return FItems.empty() ? crReserved20 : FItems.back()->Reason;
}

void TCodeEditUndoList::Unlock() {
  if (FLockDepth > 0) --FLockDepth;
}

void TCodeEditUndoList::Clear() {
  FItems.clear();
  FTruncated = false;
}

void TCodeEditUndoList::SetMaxEntries(int Value) {
  if (Value < 0) Value = 0;
  if (Value == FMaxEntries) return;
  FMaxEntries = Value;
  Trim();
}

void TCodeEditUndoList::Trim() {
  // Whole groups only: undoing half a group (half a replace-all) would leave
  // a text that never existed.
  while (static_cast<int>(FItems.size()) > FMaxEntries) {
    if (FMaxEntries == 0) {
      FItems.clear();
    } else {
      const std::uint32_t oldest = FItems.front()->GroupNumber;
      if (oldest == FItems.back()->GroupNumber) break;  // the newest group stays whole
      while (FItems.front()->GroupNumber == oldest) FItems.pop_front();
    }
    FTruncated = true;
  }
}

void TCodeEditUndoList::MarkUnmodified(bool Unmodified) {
  if (Unmodified) {
    FSavedNumber = FItems.empty() ? 0 : FItems.back()->GroupNumber;
  } else if (IsUnmodifiedState()) {
    FSavedNumber = -1;
  }
}

bool TCodeEditUndoList::IsUnmodifiedState() const {
  if (FItems.empty()) return FSavedNumber == 0;
  return FItems.back()->GroupNumber == FSavedNumber;
}

}  // namespace codeedit
