#pragma once

// The editor's model layer: the lines, the undo lists, caret and selection
// ends, options, the geometry numbers the screen needs and the marks. It
// draws nothing: what it needs from a screen goes through CodeEditView, so
// tests drive it with fixed cell metrics and no window.

#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "editor/CodeEditDrawer.h"
#include "editor/CodeEditGlyphs.h"
#include "editor/CodeEditHighlighter.h"
#include "editor/CodeEditKbdHandler.h"
#include "editor/CodeEditKeyCmds.h"
#include "editor/CodeEditMarks.h"
#include "editor/CodeEditMiscClasses.h"
#include "editor/CodeEditTextBuffer.h"
#include "editor/CodeEditTypes.h"
#include "editor/CodeEditWordWrap.h"

namespace codeedit {

// Options, member n at bit n.
enum TCodeEditorOption : std::uint32_t {
  eoAltSetsColumnMode = 0,
  eoAutoIndent = 1,
  eoAutoSizeMaxScrollWidth = 2,
  eoDisableScrollArrows = 3,
  eoDragDropEditing = 4,
  eoDropFiles = 5,
  eoEnhanceHomeKey = 6,
  eoEnhanceEndKey = 7,
  eoGroupUndo = 8,
  eoHalfPageScroll = 9,
  eoHideShowScrollbars = 10,
  eoKeepCaretX = 11,
  eoNoCaret = 12,
  eoNoSelection = 13,
  eoRightMouseMovesCursor = 14,
  eoScrollByOneLess = 15,
  eoScrollHintFollows = 16,
  eoScrollPastEof = 17,
  eoScrollPastEol = 18,
  eoShowScrollHint = 19,
  eoShowSpecialChars = 20,
  eoSmartTabDelete = 21,
  eoSmartTabs = 22,
  eoSpecialLineDefaultFg = 23,
  eoTabIndent = 24,
  eoTabsToSpaces = 25,
  eoTrimTrailingSpaces = 26,
};
using TCodeEditorOptions = std::uint32_t;
constexpr TCodeEditorOptions OptionBit(TCodeEditorOption Option) { return TCodeEditorOptions{1} << Option; }
inline constexpr TCodeEditorOptions CODEEDIT_DEFAULT_OPTIONS =
    OptionBit(eoAutoIndent) | OptionBit(eoDragDropEditing) | OptionBit(eoEnhanceEndKey) | OptionBit(eoGroupUndo) |
    OptionBit(eoScrollPastEol) | OptionBit(eoShowScrollHint) | OptionBit(eoSmartTabDelete) | OptionBit(eoSmartTabs) |
    OptionBit(eoTabsToSpaces);

// Status changes as bits.
enum TCodeStatusChange : std::uint16_t {
  scAll = 1 << 0,
  scCaretX = 1 << 1,
  scCaretY = 1 << 2,
  scLeftChar = 1 << 3,
  scTopLine = 1 << 4,
  scInsertMode = 1 << 5,
  scModified = 1 << 6,
  scSelection = 1 << 7,
  scReadOnly = 1 << 8,
};
using TCodeStatusChanges = std::uint16_t;

enum TTransientType : std::uint8_t { ttBefore = 0, ttAfter = 1 };

// Which scroll bars the control offers.
enum TScrollStyle : std::uint8_t { ssNone = 0, ssHorizontal = 1, ssVertical = 2, ssBoth = 3 };

// Caret shapes.
enum TCodeEditCaretType : std::uint8_t { ctVerticalLine = 0, ctHorizontalLine = 1, ctHalfBlock = 2, ctBlock = 3 };

// The caret's rectangle relative to the top left corner of its cell.
struct TCodeCaretShape {
  int Width = 2;
  int Height = 0;
  int OffsetX = 0;
  int OffsetY = 0;
  friend bool operator==(const TCodeCaretShape&, const TCodeCaretShape&) = default;
};

// The glyph filler: it stands in the display form of a line for each extra
// cell a wide character takes, in front of that character.
inline constexpr char16_t CODE_GLYPH_FILLER = u'\uE000';

// What the model asks of the screen. A test view answers with fixed metrics.
class CodeEditView {
public:
  virtual ~CodeEditView() = default;
  virtual bool HasWindow() const = 0;
  // Cells a character takes in the current font: ceil(width / cell width);
  // 0 for a character drawn zero pixels wide.
  virtual int CharCells(char16_t Ch) = 0;
  virtual void InvalidateAll() = 0;
  // 1-based, inclusive line ranges.
  virtual void InvalidateTextLines(int FirstLine, int LastLine) = 0;
  virtual void InvalidateGutterLines(int FirstLine, int LastLine) = 0;
  // Moves what is on screen by whole cells (positive: the content moves
  // right or down) and repaints only the band that became uncovered. A
  // horizontal move leaves the gutter where it is.
  virtual void ScrollText(int DeltaColumns, int DeltaRows) {
    (void)DeltaColumns;
    (void)DeltaRows;
    InvalidateAll();
  }
  // The scroll bars take the model's ranges and positions.
  virtual void UpdateScrollBars() {}
  // Puts the caret at the model's caret position; false when the screen
  // cannot show one now (no focus), so the model asks again later.
  virtual bool PlaceCaret() { return true; }
  // The caret's shape changed.
  virtual void CaretShapeChanged() {}
  virtual bool HasFocus() const { return true; }
  // The cell width of the gutter's font; 0 to use the editor's.
  virtual int GutterCharWidth(const TCodeFontDesc& Font) {
    (void)Font;
    return 0;
  }
};

class TCodeEditCore {
public:
  explicit TCodeEditCore(CodeEditView* View = nullptr);
  virtual ~TCodeEditCore();
  TCodeEditCore(const TCodeEditCore&) = delete;
  TCodeEditCore& operator=(const TCodeEditCore&) = delete;

  void SetView(CodeEditView* View) { FView = View; }
  TCodeEditStringList& Lines() { return *FLines; }
  const TCodeEditStringList& Lines() const { return *FLines; }
  TCodeEditUndoList& UndoList() { return *FUndoList; }
  TCodeEditUndoList& RedoList() { return *FRedoList; }
  TCodeEditMarkList& Marks() { return FMarkList; }
  int LineCount() const { return FLines->GetCount(); }
  // The 1-based line's characters; empty outside the text.
  std::u16string_view LineText(int Line) const { return FLines->LineView(Line - 1); }

  // --- caret and selection ----------------------------------------------------
  TBufferCoord CaretXY() const { return {FCaretX, FCaretY}; }
  // The caret to Value, limited to the text and brought into view.
  void SetCaretXY(TBufferCoord Value) { SetCaretPosition(Value); }
  TBufferCoord BlockBegin() const { return FBlockBegin; }
  TBufferCoord BlockEnd() const { return FBlockEnd; }
  void SetCaretAndSelection(TBufferCoord Caret, TBufferCoord BlockBegin, TBufferCoord BlockEnd);

  // --- commands -------------------------------------------------------------------
  // Every action on the text is a numbered command and runs through
  // ProcessCommand: the command events, the hooks before, the switch, the
  // hooks after, then OnCommandProcessed. User commands (ecUserFirst and up)
  // never reach the switch. Data is a TBufferCoord* for the goto and
  // set-marker commands, a zero-terminated UTF-16 text for ecImeStr, else
  // nullptr.
  using TProcessCommandEvent =
      std::function<void(TCodeEditCore& Sender, TCodeEditorCommand& Command, char16_t& AChar, void* Data)>;
  using TCommandHookEvent = std::function<void(TCodeEditCore& Sender, bool AfterCommand, bool& Handled,
                                               TCodeEditorCommand& Command, char16_t& AChar, void* Data,
                                               void* HookData)>;
  virtual void ProcessCommand(TCodeEditorCommand Command, char16_t AChar, void* Data);
  virtual void DoProcessCommand(TCodeEditorCommand& Command, char16_t& AChar, void* Data);
  virtual void NotifyCommandHooks(bool AfterCommand, TCodeEditorCommand& Command, char16_t& AChar, void* Data);
  virtual void ExecuteCommand(TCodeEditorCommand Command, char16_t AChar, void* Data);
  virtual void DoCommandProcessed(TCodeEditorCommand Command, char16_t AChar, void* Data);
  // Hooks run in the order they were added; the returned number removes one.
  int AddCommandHook(TCommandHookEvent Event, void* HookData = nullptr);
  void RemoveCommandHook(int Id);
  TProcessCommandEvent OnProcessCommand;
  TProcessCommandEvent OnProcessUserCommand;
  TProcessCommandEvent OnCommandProcessed;
  std::function<void(TCodeEditCore& Sender, const std::u16string& Word)> OnContextHelp;

  // The key map, and the step from a key to a command. A key that finds no
  // command and lies in 30..145 is remembered as the possible first key of a
  // two-key binding; any other key forgets it.
  TCodeEditKeyStrokes& Keystrokes() { return *FKeystrokes; }
  void ResetKeystrokes() { FKeystrokes->LoadDefaults(); }
  TCodeEditorCommand TranslateKeyCode(std::uint16_t Code, TShiftState Shift, void*& Data);
  std::uint16_t LastKey() const { return FLastKey; }
  TShiftState LastShiftState() const { return FLastShiftState; }

  // Keys and typed characters as the window delivers them (virtual-key codes).
  // KeyDown answers whether the key became a command; a typed character that
  // follows such a key is dropped.
  bool KeyDown(std::uint16_t& Key, TShiftState Shift);
  void KeyUp(std::uint16_t& Key, TShiftState Shift);
  void HandleCharMessage(char16_t Ch);
  virtual void ProcessTypedChar(char16_t Key);
  std::function<void(TCodeEditCore& Sender, char16_t& Key)> OnKeyPress;
  TCodeEditKbdHandler& KbdHandler() { return FKbdHandler; }

  // Copies the selection as text, with the private block that carries the
  // selection mode beside it. Nothing without a selection or for empty text.
  void CopyToClipboard();
  virtual void DoCopyToClipboard(const std::u16string& Text);

  // --- editing commands (filled by the editing unit) ------------------------------
  // The switch hands every command that changes the text or the undo state
  // (deletes, line breaks, ecChar, ecImeStr, undo, redo, cut, paste, indents,
  // tabs, case) here; a read-only editor never gets this far.
  virtual void ExecuteEditCommand(TCodeEditorCommand Command, char16_t AChar, void* Data);

  // --- caret movement ---------------------------------------------------------------
  // Each move first breaks the undo group (with eoGroupUndo), so typing after
  // a move starts a new undo step. With Select the selection grows from its
  // anchor (or from BeginPos when there is none); otherwise it collapses at
  // the target.
  void MoveCaretWithSelection(TBufferCoord BeginPos, TBufferCoord EndPos, bool Select);
  void MoveCaretX(int DX, bool Select);
  void MoveCaretY(int DY, bool Select);
  void MoveToLineHome(bool Select);
  void MoveToLineEnd(bool Select);
  // With word wrap a column past a row's end puts the caret at the end of
  // that row (FCaretAtEOL) when the position belongs to the next row.
  void PlaceCaretAtDisplayPos(TDisplayCoord Pos);
  // The text as lines joined by two-character breaks, 0-based.
  int PosToCharIndex(TBufferCoord Pos) const;
  TBufferCoord CharIndexToPos(int Index) const;
  int SelStart() const;
  void SetSelStart(int Value);
  int SelLength() const;
  // A negative length selects backwards from the start.
  void SetSelLength(int Value);
  bool IsInSelection(TBufferCoord P) const;

  // Client pixels and display cells: the nearest cell boundary (for the
  // caret, the row kept inside the window) or the cell under the point.
  TDisplayCoord PointToNearestCell(int X, int Y) const;
  TDisplayCoord PointToCell(int X, int Y) const;
  // The caret to the cell boundary nearest the point, on a row of the text.
  void CaretFromPoint(int X, int Y);
  // The rows a page command moves by.
  int PageRows() const;

  // --- options and properties ---------------------------------------------------
  TCodeEditorOptions Options() const { return FOptions; }
  void SetOptions(TCodeEditorOptions Value);
  bool HasOption(TCodeEditorOption Option) const { return (FOptions & OptionBit(Option)) != 0; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  bool InsertMode() const { return FInsertMode; }
  void SetInsertMode(bool Value);
  int TabWidth() const { return FTabWidth; }
  void SetTabWidth(int Value);  // held within 1..256
  int MaxScrollWidth() const { return FMaxScrollWidth; }
  void SetMaxScrollWidth(int Value);  // held within 1..2147483646
  int RightEdge() const { return FRightEdge; }
  void SetRightEdge(int Value);
  TColor RightEdgeColor() const { return FRightEdgeColor; }
  void SetRightEdgeColor(TColor Value);
  int MaxUndo() const { return FUndoList->MaxEntries(); }
  void SetMaxUndo(int Value);  // negative values are ignored
  TCodeCustomHighlighter* Highlighter() const { return FHighlighter.data(); }
  void SetHighlighter(TCodeCustomHighlighter* Value);

  // --- geometry numbers (set by the view when it measures its font) ------------
  int FCharWidth = 8;
  int FLineHeight = 16;
  int FCharsInWindow = 0;
  int FLinesInWindow = 0;
  int FLeftChar = 1;
  int FTopLine = 1;
  int FGutterWidth = 0;
  int FTextOffset = 2;  // pixel X of display column 1: the gutter, a 2-pixel margin, minus the scrolled columns

  // --- character classes and word positions -----------------------------------
  virtual bool IsIdentChar(char16_t Ch) const;
  virtual bool IsWhiteChar(char16_t Ch) const;
  virtual bool IsWordBreakChar(char16_t Ch) const;
  virtual TBufferCoord NextWordPosEx(TBufferCoord Pos) const;
  virtual TBufferCoord WordStartEx(TBufferCoord Pos) const;
  virtual TBufferCoord WordEndEx(TBufferCoord Pos) const;
  virtual TBufferCoord PrevWordPosEx(TBufferCoord Pos) const;
  TBufferCoord NextWordPos() const { return NextWordPosEx(CaretXY()); }
  TBufferCoord WordStart() const { return WordStartEx(CaretXY()); }
  TBufferCoord WordEnd() const { return WordEndEx(CaretXY()); }
  TBufferCoord PrevWordPos() const { return PrevWordPosEx(CaretXY()); }
  void SelectWordAround(TBufferCoord Value);
  void SelectCaretWord() { SelectWordAround(CaretXY()); }

  // --- brackets and tokens ------------------------------------------------------
  // (0, 0) when the position holds no bracket or its partner is missing.
  TBufferCoord GetMatchingBracketEx(TBufferCoord Pos);
  TBufferCoord GetMatchingBracket() { return GetMatchingBracketEx(CaretXY()); }
  void FindMatchingBracket() { SetCaretXY(GetMatchingBracket()); }
  bool GetAttributeAt(TBufferCoord Pos, std::u16string& Token, TCodeHighlighterAttributes*& Attribute);
  bool GetTokenInfoAt(TBufferCoord Pos, std::u16string& Token, int& Kind, int& Start,
                      TCodeHighlighterAttributes*& Attribute);

  // --- display positions ---------------------------------------------------------
  TDisplayCoord BufferToDisplayPos(TBufferCoord P);
  TBufferCoord DisplayToBufferPos(TDisplayCoord P);
  // Rows are lines unless word wrap is on.
  int LineToRow(int Line) const {
    return FWordWrapPlugin ? FWordWrapPlugin->BufferToDisplayPos({1, Line}).Row : Line;
  }
  int RowToLine(int Row) const {
    return FWordWrapPlugin ? FWordWrapPlugin->DisplayToBufferPos({1, Row}).LinePos : Row;
  }
  int DisplayLineCount() const {
    return FWordWrapPlugin == nullptr ? LineCount() : LineCount() == 0 ? 0 : FWordWrapPlugin->RowCount();
  }

  // Cells of one character (cached per code point; the cache is dropped when
  // the font changes).
  int CharCells(char16_t Ch) {
    if (!FCellCache.empty() && FCellCache[Ch] >= 0)
      return FCellCache[Ch];
    return MeasureCharCells(Ch);
  }
  void FontChanged();
  // CharCells for a character not in the table yet: the view measures it.
  int MeasureCharCells(char16_t Ch);
  std::u16string InsertGlyphFillers(std::u16string_view S);
  // The characters of display-form positions First..First + CharCount - 1 of
  // S without fillers; a wide glyph whose fillers begin inside is taken
  // whole. CharCount becomes the number of characters taken.
  static std::u16string StripGlyphFillers(std::u16string_view S, int First, int& CharCount);

  // --- marks and bookmarks -------------------------------------------------------
  TCodeEditMark* BookMark(int Number) const { return Number >= 0 && Number <= 9 ? FBookMarks[Number] : nullptr; }
  void SetBookmark(int Number, int X, int Y);
  void ClearBookmark(int Number);
  virtual void GotoBookmark(int Number);
  virtual void GotoLineAndCenter(int Line);
  void DoLinesInserted(int FirstLine, int Count);
  void DoLinesDeleted(int FirstLine, int Count);
  std::function<void(TCodeEditCore& Sender, TCodeEditMark*& Mark)> OnPlaceBookmark;
  std::function<void(TCodeEditCore& Sender, TCodeEditMark*& Mark)> OnClearBookmark;
  void InvalidateGutterLine(int Line);
  void InvalidateLine(int Line);

  // --- notifications ---------------------------------------------------------------
  void AddStatusChanges(TCodeStatusChanges Changes);
  TCodeStatusChanges PendingStatusChanges() const { return FStatusChanges; }
  void IncPaintLock() { BeginPaintLock(); }
  void DecPaintLock() { EndPaintLock(); }
  virtual void DoStatusChange();
  virtual void DoChange();
  void DoPaintTransientEx(TTransientType T, bool Lock);
  void DoPaintTransient(TTransientType T) { DoPaintTransientEx(T, false); }
  std::function<void(TCodeEditCore& Sender, TCodeStatusChanges Changes)> OnStatusChange;
  std::function<void(TCodeEditCore& Sender)> OnChange;
  std::function<void(TCodeEditCore& Sender, TTransientType T)> OnPaintTransient;

  // Highlighter ranges: all lines, or from Index (0-based) until a line's
  // new end range equals the stored one. Returns the last line scanned.
  void RescanAllRanges();
  int RescanFrom(int Index);

  // --- word wrap --------------------------------------------------------------------
  bool WordWrap() const { return FWordWrapPlugin != nullptr; }
  // On, a word-wrap plug-in keeps the rows and the left column goes to 1;
  // the top row stays on the line it showed.
  void SetWordWrap(bool Value);
  ICodeEditBufferPlugin* WordWrapPlugin() const { return FWordWrapPlugin.get(); }
  // The mark the gutter shows on each row that continues a wrapped line.
  TCodeGlyph& WordWrapGlyph() { return FWordWrapGlyph; }
  // The screen calls this when FCharsInWindow may have changed.
  void WordWrapDisplayChanged() {
    if (FWordWrapPlugin)
      FWordWrapPlugin->DisplayChanged();
  }
  // (display column, line) of a buffer position, rows not applied.
  TDisplayCoord UnwrappedDisplayPos(TBufferCoord P);

  // --- search and replace -----------------------------------------------------------
  // The engine is not the editor's: one that is destroyed is forgotten.
  TCodeEditSearchCustom* SearchEngine() const { return FSearchEngine; }
  void SetSearchEngine(TCodeEditSearchCustom* Value);
  // Finds ASearch through the engine, line by line, from the caret (back to
  // it with ssoBackwards), in the whole text with ssoEntireScope or in the
  // selection with ssoSelectedOnly, and selects the match. ssoReplace
  // replaces it, ssoReplaceAll every match (one undo step, one paint), and
  // ssoPrompt asks OnReplaceText first. Answers the matches found; 0 for an
  // empty pattern. Without an engine raises ECodeEditError
  // "No search engine has been assigned" before anything changes.
  int SearchReplace(std::u16string_view ASearch, std::u16string_view AReplace, TCodeSearchOptions SearchOptions);
  // raCancel unless OnReplaceText decides.
  virtual TCodeReplaceAction DoReplaceText(std::u16string_view ASearch, std::u16string_view AReplace, int Line,
                                           int Column);
  std::function<void(TCodeEditCore& Sender, std::u16string_view ASearch, std::u16string_view AReplace, int Line,
                     int Column, TCodeReplaceAction& Action)>
      OnReplaceText;

  // --- selection ------------------------------------------------------------------
  // SelectionMode is the mode the user or program chose; the active mode is
  // that of the current selection. Setting either end first makes the chosen
  // mode the active one.
  TCodeSelectionMode SelectionMode() const { return FSelectionMode; }
  void SetSelectionMode(TCodeSelectionMode Value);
  TCodeSelectionMode ActiveSelectionMode() const { return FActiveSelectionMode; }
  void SetActiveSelectionMode(TCodeSelectionMode Value);
  TBufferCoord BlockBeginSorted() const;
  TBufferCoord BlockEndSorted() const;
  // Both ends to Value (an empty selection anchored there).
  void CollapseSelectionAt(TBufferCoord Value);
  // The moving end to Value; nothing with eoNoSelection.
  void ExtendSelectionTo(TBufferCoord Value);
  void SetBlockBegin(TBufferCoord Value) { CollapseSelectionAt(Value); }
  void SetBlockEnd(TBufferCoord Value) { ExtendSelectionTo(Value); }
  // A column selection of zero width is empty even across lines.
  bool SelAvail() const;
  bool SelectionSpansLines() const;
  bool SelectionIsWholeLine() const;
  void SelectAll();
  void InvalidateSelectionLines();
  // The caret's line; empty when the caret is outside the text.
  std::u16string_view LineText() const { return LineText(FCaretY); }
  void ReplaceCaretLine(std::u16string_view Value);
  std::u16string WholeText() const { return FLines->GetAllText(); }
  void ReplaceWholeText(std::u16string_view Value) { FLines->SetAllText(Value); }
  // Lines joined by CR LF; a column selection pads short lines with blanks
  // unless eoTrimTrailingSpaces is set.
  std::u16string SelectedText();
  std::u16string WordAtCaret();
  void ReplaceSelection(std::u16string_view Value) { ReplaceSelectionEx(FActiveSelectionMode, Value, true); }
  // Deletes the selection and inserts Value at the caret in Mode. CR, LF and
  // CR LF each break a line; a NUL ends the text. Undo entries are written
  // here only for column inserts (and only with AddToUndo).
  void ReplaceSelectionEx(TCodeSelectionMode Mode, std::u16string_view Value, bool AddToUndo);
  static std::u16string TrimTrailing(std::u16string_view Value);
  // Stores the 0-based line, without trailing blanks with eoTrimTrailingSpaces.
  void StoreLine(int Index, std::u16string_view Value);
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value);

  // --- scrolling/painting ------------------------------------------------------------
  // The paint lock defers scroll-bar updates, caret placement and status
  // notifications to the release of the outermost lock; a scroll under the
  // lock only records the new position and repaints once at the release.
  void BeginPaintLock() { ++FPaintLock; }
  void EndPaintLock();
  int PaintLock() const { return FPaintLock; }
  // Holds the paint lock for a scope. Left by an exception, it only drops
  // the count: the deferred work waits for the next release.
  class TPaintLockScope {
  public:
    explicit TPaintLockScope(TCodeEditCore& Core);
    ~TPaintLockScope() noexcept(false);
    TPaintLockScope(const TPaintLockScope&) = delete;
    TPaintLockScope& operator=(const TPaintLockScope&) = delete;

  private:
    TCodeEditCore& FCore;
    int FExceptions;
  };
  void SetCaretPosition(TBufferCoord Value) { SetCaretPositionEx(true, Value); }
  virtual void SetCaretPositionEx(bool EnsureVisible, TBufferCoord Value);
  virtual void SetCaretAndClearSelection(TBufferCoord Value);
  void MoveCaretToChar(int X) { SetCaretPosition({X, FCaretY}); }
  void MoveCaretToLine(int Y) { SetCaretPosition({FCaretX, Y}); }
  TDisplayCoord CaretDisplayPos();
  int CaretDisplayColumn() { return CaretDisplayPos().Column; }
  int CaretDisplayRow() { return CaretDisplayPos().Row; }
  void RememberCaretColumn() { FLastCaretX = CaretDisplayColumn(); }
  bool CaretInsideView();
  // The first visible row and column, limited to what the text allows.
  void SetTopLine(int Value);
  void SetLeftChar(int Value);
  void EnsureCursorPosVisible() { EnsureCursorPosVisibleEx(false); }
  void EnsureCursorPosVisibleEx(bool Centre);
  // The highest first column and the scroll ranges the bars show.
  int MaxLeftChar();
  int HorzScrollMax();
  int VertScrollMax() const;
  void RefreshScrollBars();
  void PlaceSystemCaret();
  void ApplyGutterWidth(int Value);
  // The client area changed size (pixels): the cells in the window follow.
  void SetClientSize(int Width, int Height);
  int ClientWidth() const { return FClientWidth; }
  int ClientHeight() const { return FClientHeight; }
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle Value);
  TColor ActiveLineColor() const { return FActiveLineColor; }
  void SetActiveLineColor(TColor Value);
  TCodeEditCaretType InsertCaret() const { return FInsertCaret; }
  void SetInsertCaret(TCodeEditCaretType Value);
  TCodeEditCaretType OverwriteCaret() const { return FOverwriteCaret; }
  void SetOverwriteCaret(TCodeEditCaretType Value);
  // The shape of the caret for the current insert mode; also sets FCaretOffset.
  void InitializeCaret();
  TCodeCaretShape CaretShape() const { return FCaretShape; }
  bool CaretChangedPending() const { return FCaretChanged; }
  bool ScrollBarsChangedPending() const { return FScrollBarsChanged; }
  // Display column kept for vertical caret moves.
  int FLastCaretX = 1;
  // With word wrap, a caret at the start of a row shows at the end of the
  // row above (where End, a click past a row's end or Down onto a shorter
  // row put it). Any caret move clears it.
  bool FCaretAtEOL = false;
  int FCaretOffsetX = -1;
  int FCaretOffsetY = 0;

  // Painting. Paint turns a clip rectangle (client pixels) into rows and
  // columns and paints the gutter and the text area through the drawer.
  void Paint(CodeEditDrawer& Drawer, const TCodeRect& Clip);
  virtual void PaintGutter(CodeEditDrawer& Drawer, const TCodeRect& Clip, int FirstRow, int LastRow);
  virtual void PaintTextLines(CodeEditDrawer& Drawer, const TCodeRect& Clip, int FirstRow, int LastRow,
                              int FirstColumn, int LastColumn);
  // The pixel rectangles of text and gutter lines (1-based, inclusive;
  // a last line from the line count on reaches the window's bottom); empty
  // when no such row is visible.
  TCodeRect TextLinesRect(int FirstLine, int LastLine) const;
  TCodeRect GutterLinesRect(int FirstLine, int LastLine) const;
  // The caret's rectangle in client pixels; empty outside the text area.
  TCodeRect CaretRect();
  // The background of empty areas on a row: the active line colour on the
  // caret's line, else the highlighter's white-space background, else Color.
  TColor EditorBackground(bool CaretLine) const;
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor Value);
  TFontStyles FontStyle() const { return FFontStyle; }
  void SetFontStyle(TFontStyles Value) { FFontStyle = Value; }
  TCodeGutter& Gutter() { return FGutter; }
  TCodeSelectedColor& SelectedColor() { return FSelectedColor; }
  TCodeBookMarkOpt& BookMarkOptions() { return FBookMarkOptions; }
  // The gutter's width follows its settings and, with auto-sized line
  // numbers, the number of lines.
  void GutterChanged();
  bool Focused() const { return FView != nullptr && FView->HasFocus(); }
  virtual bool DoSpecialLineColors(int Line, TColor& Foreground, TColor& Background);
  std::function<void(TCodeEditCore& Sender, int Line, bool& Special, TColor& Foreground, TColor& Background)>
      OnSpecialLineColors;
  std::function<void(TCodeEditCore& Sender, int Line, std::u16string& Text)> OnGutterGetText;
  std::function<void(TCodeEditCore& Sender, CodeEditDrawer& Drawer, int Line, int X, int Y)> OnGutterPaint;

  // --- editing commands and undo ---------------------------------------------------
  // The commands that change the text. Each records what it changed in the
  // undo list; a command with several entries wraps them in one undo block.
  // The command switch calls them only when the editor is not read-only.
  void SetSelText(std::u16string_view Value);
  void DeleteSelection();
  void ClearAll();
  void DeleteLastChar();
  void DeleteChar();
  void DeleteWordOrEol(bool ToLineEnd);
  void DeleteLastWordOrBol(bool ToLineStart);
  void DeleteLine();
  void LineBreak(bool InsertLine);
  void TypeChar(char16_t Ch);
  void InsertImeString(std::u16string_view Text);
  // Text's lines go into the lines from BB on, each at BB's column.
  void InsertColumnBlock(TBufferCoord BB, TBufferCoord BE, std::u16string_view Text, bool RecordUndo);
  void IndentBlock();
  void UnindentBlock();
  void TabKeyCommand();
  void ShiftTabKeyCommand();
  // Command is one of the case commands; others do nothing.
  void ChangeCase(TCodeEditorCommand Command);
  // Text replaces the selection (or goes in at the caret) in Mode, as one
  // undo step bracketed as a paste.
  void PasteText(std::u16string_view Text, TCodeSelectionMode Mode);
  // The clipboard: paste takes the selection mode the private block carries,
  // or SelectionMode for text from other programs. Both refuse silently
  // when read-only; cut needs a selection.
  bool CanPaste() const;
  void PasteFromClipboard();
  void CutToClipboard();
  // A drop of Source's selection at DropPos (Source may be this editor).
  // Within one editor the text moves, or with Copy is copied, and a drop
  // inside the selection does nothing; from another editor it is copied, or
  // with Move taken from there. False when nothing was dropped.
  bool DropSelectionFrom(TCodeEditCore& Source, TBufferCoord DropPos, bool Copy, bool Move);

  // Indentation helpers: leading blanks are characters 1..32.
  int LeftSpaces(std::u16string_view S) const;  // 0 without eoAutoIndent
  int LeftSpacesEx(std::u16string_view S, bool CountTabs) const;
  std::u16string GetLeftSpacing(int N, bool UseTabs) const;

  void Undo();
  void Redo();
  void UndoOneItem();
  void RedoOneItem();
  bool CanUndo() const { return !FReadOnly && FUndoList->CanUndo(); }
  bool CanRedo() const { return !FReadOnly && FRedoList->CanUndo(); }
  void ClearUndo();
  void BeginUndoBlock() { FUndoList->BeginBlock(); }
  void EndUndoBlock() { FUndoList->EndBlock(); }
  void LockUndo();
  void UnlockUndo();
  bool Modified() const { return FModified; }
  void SetModified(bool Value);
  void RefreshModified() { SetModified(!FUndoList->IsUnmodifiedState()); }

protected:
  void BufferCleared();
  void BufferChanging();
  void BufferChanged();
  void BufferLinesDeleted(int Index, int Count);
  void BufferLinesInserted(int Index, int Count);
  void BufferLinePut(int Index, int Count);
  void AttributesChanged(void* Sender);
  static void AttributesChangedThunk(void* Data, void* Sender);
  void InvalidateAll();
  void InvalidateTextLines(int First, int Last) { InvalidateLines(First, Last, false); }
  void InvalidateGutterLines(int First, int Last) { InvalidateLines(First, Last, true); }
  // 1-based lines in any order; collected while the lines change.
  void InvalidateLines(int First, int Last, bool Gutter);
  TBufferCoord ClampPos(TBufferCoord P) const;
  bool IsOpenOrCloseSkipped(TBufferCoord Pos);
  // The caret to Pos, brought into view centred, with an empty block; the old
  // selection's lines repaint.
  void MoveCaretAndCollapse(TBufferCoord Pos);

private:
  CodeEditView* FView;
  std::unique_ptr<TCodeEditStringList> FLines;
  std::unique_ptr<TCodeEditUndoList> FUndoList;
  std::unique_ptr<TCodeEditUndoList> FRedoList;
  TCodeEditMarkList FMarkList{this};
  std::array<TCodeEditMark*, 10> FBookMarks{};
  QPointer<TCodeCustomHighlighter> FHighlighter;
  // Cells per UTF-16 unit, -1 not measured yet: a flat table, since every
  // caret move and painted line asks it for each character.
  std::vector<std::int16_t> FCellCache;
  int FCaretX = 1;
  int FCaretY = 1;
  TBufferCoord FBlockBegin{1, 1};
  TBufferCoord FBlockEnd{1, 1};
  TCodeEditorOptions FOptions = CODEEDIT_DEFAULT_OPTIONS;
  bool FReadOnly = false;
  bool FInsertMode = true;
  int FTabWidth = 8;
  int FMaxScrollWidth = 1024;
  int FRightEdge = 80;
  TColor FRightEdgeColor = clSilver;
  TCodeStatusChanges FStatusChanges = 0;
  int FPaintLock = 0;
  int FPaintTransientLock = 0;
  // While the lines change, invalidated line ranges are collected here and
  // sent once when the change ends.
  bool FLinesChanging = false;
  int FPendingFirst = 0;
  int FPendingLast = 0;

  // --- word wrap --------------------------------------------------------------------
  std::unique_ptr<ICodeEditBufferPlugin> FWordWrapPlugin;
  TCodeGlyph FWordWrapGlyph{QStringLiteral("CodeEditWrapped"), clLime};

  // --- search and replace -----------------------------------------------------------
  TCodeEditSearchCustom* FSearchEngine = nullptr;

  // --- selection ------------------------------------------------------------------
  TCodeSelectionMode FSelectionMode = smNormal;
  TCodeSelectionMode FActiveSelectionMode = smNormal;
  bool FHideSelection = false;
  TBufferCoord LimitSelectionPos(TBufferCoord Value) const;
  void DeleteSelection(TBufferCoord S, TBufferCoord E);
  int InsertNormal(std::u16string_view Value);
  int InsertColumn(std::u16string_view Value, bool AddToUndo);
  int InsertByLine(std::u16string_view Value);

  // --- scrolling/painting ------------------------------------------------------------
  bool FCaretChanged = false;
  bool FScrollBarsChanged = false;
  // A scroll made under the paint lock: one repaint at the release.
  bool FScrollPending = false;
  // Gutter lines invalidated while the lines change, sent when they end.
  int FPendingGutterFirst = 0;
  int FPendingGutterLast = 0;
  int FClientWidth = 0;
  int FClientHeight = 0;
  TScrollStyle FScrollBars = ssBoth;
  TColor FActiveLineColor = clNone;
  TCodeEditCaretType FInsertCaret = ctVerticalLine;
  TCodeEditCaretType FOverwriteCaret = ctBlock;
  TCodeCaretShape FCaretShape;
  bool HasWindow() const { return FView != nullptr && FView->HasWindow(); }
  void UpdateTextOffset();
  // The caret shows elsewhere though its position stays: into view and
  // placed again.
  void ShowCaretMoved();
  // The first visible row and column moved so that P (the caret's display
  // position) is in view.
  void ScrollToDisplayPos(TDisplayCoord P, bool Centre);
  // With word wrap, at the paint lock's release: a caret moved past the
  // window's last column comes back to the column after it.
  void KeepWrappedCaretInRow();

  // --- commands and input ---------------------------------------------------------
  struct TCommandHook {
    int Id;
    TCommandHookEvent Event;
    void* HookData;
  };
  std::vector<TCommandHook> FCommandHooks;
  int FNextHookId = 1;
  std::unique_ptr<TCodeEditKeyStrokes> FKeystrokes = MakeDefaultKeystrokes(this);
  static std::unique_ptr<TCodeEditKeyStrokes> MakeDefaultKeystrokes(TCodeEditCore* Owner);
  TCodeEditKbdHandler FKbdHandler;
  std::uint16_t FLastKey = 0;
  TShiftState FLastShiftState = 0;
  // The last key became a command: the character it types is dropped.
  bool FIgnoreNextChar = false;
  // Keypad digits typed with Alt held, typed as one character on the Alt release.
  std::string FAltNumpadDigits;
  TColor FColor = clWindow;
  TColor FFontColor = clWindowText;
  TFontStyles FFontStyle = 0;
  TCodeGutter FGutter;
  TCodeSelectedColor FSelectedColor;
  TCodeBookMarkOpt FBookMarkOptions{this};
  void DrawMark(CodeEditDrawer& Drawer, const TCodeEditMark& Mark, int RowTop, int& XOffset);
  TCodeRect LinesRect(int FirstLine, int LastLine, int Left, int Right) const;

  // --- editing commands and undo ---------------------------------------------------
  struct ReplayScope;
  void ReplayStep(bool Redoing);
  static void MoveGroupBreak(TCodeEditUndoList& From, TCodeEditUndoList& To);
  void UndoEntryAdded(TCodeEditUndoList& Sender);
  void DeleteSelectionForDeleteKey();
  std::u16string RemovedText();
  void DeleteSelectionBeforeInsert();
  void SwitchActiveMode(TCodeSelectionMode Mode);
  TBufferCoord SelectionEndInText(TBufferCoord P) const;
  void ReplaceSelectionRecorded(TCodeSelectionMode Mode, std::u16string_view Text);
  void InsertColumnForUndo(TBufferCoord At, std::u16string_view Text);
  void InsertTypedText(std::u16string_view Text, bool SingleChar);
  void AdvanceLeftCharAfterTyping();
  int DisplayColumnIn(std::u16string_view Line, int CharPos);
  bool FModified = false;
};

}  // namespace codeedit
