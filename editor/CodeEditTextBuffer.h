#pragma once

// The editor's text store and its undo machinery.
//
// TCodeEditStringList keeps one compact record per line: the text in one
// zero-terminated allocation (drawing code takes a pointer to it without
// copying), the line's object, the highlighter state after it and its display
// length, computed lazily. Every structural change is reported through events
// in a fixed order the editor relies on (see the operations below).
//
// TCodeEditUndoList is a bounded stack of recorded changes; entries sharing a
// group number are undone as one step.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "editor/CodeEditTypes.h"
#include "editor/CodeUnicode.h"

namespace codeedit {

class ECodeEditStringList : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EListError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TCodeLineBreakKind : std::uint8_t { lbkCRLF = 0, lbkLF = 1, lbkCR = 2, lbkLineSeparator = 3 };

enum TCodeLineFlag : std::uint8_t { lfHasTabs = 1, lfHasNoTabs = 2, lfExpandedLengthStale = 4 };
using TCodeLineFlags = std::uint8_t;

// Fills a tab-expanded line so that it has one character per display column;
// the buffer only uses the length of the answer.
using TCodeExpandGlyphsFunc = std::function<std::u16string(std::u16string_view Line)>;

struct TCodeEditLineRecord {
  std::unique_ptr<char16_t[]> Text;  // Length characters and a 0; none for an empty line
  TObjectRef Data = nullptr;
  std::int32_t Range = -1;            // highlighter state after the line
  std::int32_t ExpandedLength = -1;   // display columns; -1 while not computed
  std::int32_t Length = 0;
  TCodeLineFlags Flags = lfExpandedLengthStale;
};

class TCodeEditStringList : public TUnicodeStrings {
public:
  using TNotifyEvent = std::function<void(TCodeEditStringList& Sender)>;
  using TLinesEvent = std::function<void(TCodeEditStringList& Sender, int Index, int Count)>;

  explicit TCodeEditStringList(TCodeExpandGlyphsFunc GlyphExpander = {});
  // Fires none of OnChange, OnChanging and OnLinesCleared.
  ~TCodeEditStringList() override;

  // Reading never throws: a bad index gives the empty answer.
  std::u16string GetString(int Index) const override;
  // The line's characters where they are kept; empty for a bad index.
  std::u16string_view LineView(int Index) const;
  TObjectRef GetObject(int Index) const override;
  int GetRange(int Index) const;
  int GetCount() const override { return FCount; }
  int GetCapacity() const override { return static_cast<int>(FList.size()); }
  std::u16string GetExpandedString(int Index);
  int GetExpandedLength(int Index);
  TCodeLineFlags GetLineFlags(int Index) const;
  int GetLongestLineLength();
  // The line GetLongestLineLength measured; -1 until then and after a change.
  int LongestLineIndex() const { return FLongestLineIndex; }
  // While loading or saving, the lines joined by LineBreakKind's break (and
  // one more after the last with FinalLineBreak); otherwise joined by CR LF.
  std::u16string GetAllText() const override;

  // Changes throw ECodeEditStringList "Invalid stringlist index N" for a bad
  // index before changing anything.
  int Add(std::u16string_view S) override;
  void Insert(int Index, std::u16string_view S) override;
  // Index = Count appends.
  void PutString(int Index, std::u16string_view S) override;
  void PutObject(int Index, TObjectRef Obj) override;
  void PutRange(int Index, int Range);
  void Delete(int Index) override;
  // Removes up to NumLines lines; OnLinesDeleted comes after OnChange.
  void DeleteLines(int Index, int NumLines);
  void InsertLines(int Index, int NumLines);
  void Exchange(int Index1, int Index2) override;
  void Clear() override;
  void AddUnicodeStrings(const TUnicodeStrings& Source) override;
  void SetAllText(std::u16string_view Value) override;
  void LoadFromStream(std::istream& Stream) override;
  void SaveToStream(std::ostream& Stream, bool WithBOM) override;
  // Below Count: EListError, and nothing changes.
  void SetCapacity(int NewCapacity) override;

  int TabWidth() const { return FTabWidth; }
  void SetTabWidth(int Value);
  void InvalidateExpandedLengths();
  TCodeLineBreakKind LineBreakKind() const { return FLineBreakKind; }
  void SetLineBreakKind(TCodeLineBreakKind Value) { FLineBreakKind = Value; }
  bool FinalLineBreak() const { return FFinalLineBreak; }
  void SetFinalLineBreak(bool Value) { FFinalLineBreak = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;
  TNotifyEvent OnLinesCleared;
  TLinesEvent OnLinesDeleted;
  TLinesEvent OnLinesInserted;
  TLinesEvent OnLinePut;

protected:
  void UpdatingChanged(bool Updating) override;

private:
  [[noreturn]] static void ListIndexOutOfBounds(int Index);
  bool IsLine(int Index) const { return Index >= 0 && Index < FCount; }
  void Grow();
  void Resize(int NewCapacity);
  void InsertItem(int Index, std::u16string_view S);
  static void StoreText(TCodeEditLineRecord& Record, std::u16string_view S);
  std::u16string ExpandLine(int Index);
  std::u16string_view LineBreak() const;

  std::vector<TCodeEditLineRecord> FList;  // its size is the capacity
  int FCount = 0;
  TCodeLineBreakKind FLineBreakKind = lbkCRLF;
  bool FFinalLineBreak = false;
  TCodeConvertTabsProc FConvertTabsProc;
  int FLongestLineIndex = -1;
  int FTabWidth = 8;
  TCodeExpandGlyphsFunc FExpandGlyphs;
  bool FStreaming = false;
};

// --- Undo -----------------------------------------------------------------------

enum TCodeChangeReason : std::uint8_t {
  crInsert = 0,
  crPaste = 1,
  crDragDropInsert = 2,
  crDeleteAfterCursor = 3,
  crDelete = 4,
  crLineBreak = 5,
  crIndent = 6,
  crUnindent = 7,
  crQuietDelete = 8,
  crQuietDeleteAfterCursor = 9,
  crGroupABegin = 10,
  crGroupAEnd = 11,
  crPasteBegin = 12,
  crPasteEnd = 13,
  crGroupBBegin = 14,
  crGroupBEnd = 15,
  crGroupCBegin = 16,
  crGroupCEnd = 17,
  crCaret = 18,
  crSelection = 19,
  crReserved20 = 20,       // what an empty list answers
  crGroupBreakEntry = 21,  // separates groups
  crDeleteAll = 22,
  crWhiteSpaceAdd = 23,
};

class TCodeEditUndoItem {
public:
  void Assign(const TCodeEditUndoItem& Source) { *this = Source; }

  TCodeChangeReason Reason = crInsert;
  TCodeSelectionMode SelectionMode = smNormal;
  TBufferCoord StartPos;
  TBufferCoord EndPos;
  std::u16string Text;
  std::uint32_t GroupNumber = 0;
};

class TCodeEditUndoList {
public:
  using TNotifyEvent = std::function<void(TCodeEditUndoList& Sender)>;

  TCodeEditUndoList() = default;
  TCodeEditUndoList(const TCodeEditUndoList&) = delete;
  TCodeEditUndoList& operator=(const TCodeEditUndoList&) = delete;

  // Entries, block state, lock, limit and numbering copied; the saved state
  // and OnEntryAdded stay.
  void Assign(const TCodeEditUndoList& Source);

  void AddChange(TCodeChangeReason Reason, const TBufferCoord& StartPos, const TBufferCoord& EndPos,
                 std::u16string_view Text, TCodeSelectionMode SelectionMode);
  void BeginBlock();
  void EndBlock();
  // A separator, unless the newest entry is one already.
  void AddGroupBreak();
  // Takes over an entry (nullptr is ignored).
  void PushItem(std::unique_ptr<TCodeEditUndoItem> Item);
  // The newest entry, now the caller's; nullptr when empty.
  std::unique_ptr<TCodeEditUndoItem> PopItem();
  const TCodeEditUndoItem* PeekItem() const;
  bool CanUndo() const { return !FItems.empty(); }
  int ItemCount() const { return static_cast<int>(FItems.size()); }
  TCodeChangeReason LastChangeReason() const;
  void Lock() { ++FLockDepth; }
  void Unlock();
  void Clear();

  void MarkUnmodified(bool Unmodified);
  bool IsUnmodifiedState() const;

  std::uint32_t BlockNumber() const { return FBlockNumber; }
  // Entries added while a number is set here (and no block of the list's own
  // is open) take it as their group number: replaying a group onto the other
  // list keeps its number, so the saved state is found again. 0 clears it.
  void SetBlockNumber(std::uint32_t Value) { FBlockNumber = Value; }
  int BlockDepth() const { return FBlockDepth; }
  bool Truncated() const { return FTruncated; }
  int MaxEntries() const { return FMaxEntries; }
  // Negative values store 0. Trimming drops whole groups, oldest first, and
  // keeps the newest group whole even when it alone is over the limit; with
  // 0 nothing is kept.
  void SetMaxEntries(int Value);
  bool Redoing() const { return FRedoing; }
  void SetRedoing(bool Value) { FRedoing = Value; }

  TNotifyEvent OnEntryAdded;

private:
  void Trim();
  std::uint32_t TakeNextNumber();

  std::uint32_t FBlockNumber = 0;
  std::uint32_t FOuterNumber = 0;  // the number set from outside when the outermost block began
  int FBlockDepth = 0;
  bool FTruncated = false;
  std::deque<std::unique_ptr<TCodeEditUndoItem>> FItems;  // oldest first
  int FLockDepth = 0;
  int FMaxEntries = 1024;
  std::uint32_t FNextNumber = 1;
  // Group number of the newest entry when the text was last unmodified; 0
  // for the empty list, -1 when there is no unmodified state. Wider than a
  // group number so that -1 never equals one.
  std::int64_t FSavedNumber = 0;
  bool FRedoing = false;
};

}  // namespace codeedit
