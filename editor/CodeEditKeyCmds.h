#pragma once

// The editor's command numbers and the map from keys to commands. Keys are
// Windows virtual-key codes with a shift state, so a key map reads the same
// whichever toolkit delivers the key press.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace codeedit {

// Commands 1..17 move the caret; the same number plus 100 moves it and
// extends the selection. From 501 they change the text; from ecUserFirst on
// they are the user's own.
using TCodeEditorCommand = std::uint16_t;

inline constexpr TCodeEditorCommand ecNone = 0;
inline constexpr TCodeEditorCommand ecLeft = 1;
inline constexpr TCodeEditorCommand ecRight = 2;
inline constexpr TCodeEditorCommand ecUp = 3;
inline constexpr TCodeEditorCommand ecDown = 4;
inline constexpr TCodeEditorCommand ecWordLeft = 5;
inline constexpr TCodeEditorCommand ecWordRight = 6;
inline constexpr TCodeEditorCommand ecLineStart = 7;
inline constexpr TCodeEditorCommand ecLineEnd = 8;
inline constexpr TCodeEditorCommand ecPageUp = 9;
inline constexpr TCodeEditorCommand ecPageDown = 10;
inline constexpr TCodeEditorCommand ecPageLeft = 11;
inline constexpr TCodeEditorCommand ecPageRight = 12;
inline constexpr TCodeEditorCommand ecPageTop = 13;
inline constexpr TCodeEditorCommand ecPageBottom = 14;
inline constexpr TCodeEditorCommand ecEditorTop = 15;
inline constexpr TCodeEditorCommand ecEditorBottom = 16;
inline constexpr TCodeEditorCommand ecGotoXY = 17;
inline constexpr TCodeEditorCommand ecSelection = 100;  // added to a movement: extend the selection
inline constexpr TCodeEditorCommand ecSelLeft = ecLeft + ecSelection;
inline constexpr TCodeEditorCommand ecSelRight = ecRight + ecSelection;
inline constexpr TCodeEditorCommand ecSelUp = ecUp + ecSelection;
inline constexpr TCodeEditorCommand ecSelDown = ecDown + ecSelection;
inline constexpr TCodeEditorCommand ecSelWordLeft = ecWordLeft + ecSelection;
inline constexpr TCodeEditorCommand ecSelWordRight = ecWordRight + ecSelection;
inline constexpr TCodeEditorCommand ecSelLineStart = ecLineStart + ecSelection;
inline constexpr TCodeEditorCommand ecSelLineEnd = ecLineEnd + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageUp = ecPageUp + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageDown = ecPageDown + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageLeft = ecPageLeft + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageRight = ecPageRight + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageTop = ecPageTop + ecSelection;
inline constexpr TCodeEditorCommand ecSelPageBottom = ecPageBottom + ecSelection;
inline constexpr TCodeEditorCommand ecSelEditorTop = ecEditorTop + ecSelection;
inline constexpr TCodeEditorCommand ecSelEditorBottom = ecEditorBottom + ecSelection;
inline constexpr TCodeEditorCommand ecSelGotoXY = ecGotoXY + ecSelection;
inline constexpr TCodeEditorCommand ecSelWord = 198;
inline constexpr TCodeEditorCommand ecSelectAll = 199;
inline constexpr TCodeEditorCommand ecCopy = 201;
inline constexpr TCodeEditorCommand ecScrollUp = 211;
inline constexpr TCodeEditorCommand ecScrollDown = 212;
inline constexpr TCodeEditorCommand ecScrollLeft = 213;
inline constexpr TCodeEditorCommand ecScrollRight = 214;
inline constexpr TCodeEditorCommand ecInsertMode = 221;
inline constexpr TCodeEditorCommand ecOverwriteMode = 222;
inline constexpr TCodeEditorCommand ecToggleMode = 223;
inline constexpr TCodeEditorCommand ecNormalSelect = 231;
inline constexpr TCodeEditorCommand ecColumnSelect = 232;
inline constexpr TCodeEditorCommand ecLineSelect = 233;
inline constexpr TCodeEditorCommand ecMatchBracket = 250;
inline constexpr TCodeEditorCommand ecCommentBlock = 251;
inline constexpr TCodeEditorCommand ecGotoMarker0 = 301;  // plus the bookmark number 0..9
inline constexpr TCodeEditorCommand ecGotoMarker9 = 310;
inline constexpr TCodeEditorCommand ecSetMarker0 = 351;   // plus the bookmark number 0..9
inline constexpr TCodeEditorCommand ecSetMarker9 = 360;
inline constexpr TCodeEditorCommand ecFocusEnter = 480;  // sent when the editor gains the focus
inline constexpr TCodeEditorCommand ecFocusExit = 481;   // and when it loses it
inline constexpr TCodeEditorCommand ecContextHelp = 490;
inline constexpr TCodeEditorCommand ecDeleteLastChar = 501;
inline constexpr TCodeEditorCommand ecDeleteChar = 502;
inline constexpr TCodeEditorCommand ecDeleteWord = 503;
inline constexpr TCodeEditorCommand ecDeleteLastWord = 504;
inline constexpr TCodeEditorCommand ecDeleteBOL = 505;
inline constexpr TCodeEditorCommand ecDeleteEOL = 506;
inline constexpr TCodeEditorCommand ecDeleteLine = 507;
inline constexpr TCodeEditorCommand ecClearAll = 508;
inline constexpr TCodeEditorCommand ecLineBreak = 509;
inline constexpr TCodeEditorCommand ecInsertLine = 510;
inline constexpr TCodeEditorCommand ecChar = 511;
inline constexpr TCodeEditorCommand ecImeStr = 550;
inline constexpr TCodeEditorCommand ecUndo = 601;
inline constexpr TCodeEditorCommand ecRedo = 602;
inline constexpr TCodeEditorCommand ecCut = 603;
inline constexpr TCodeEditorCommand ecPaste = 604;
inline constexpr TCodeEditorCommand ecBlockIndent = 610;
inline constexpr TCodeEditorCommand ecBlockUnindent = 611;
inline constexpr TCodeEditorCommand ecTab = 612;
inline constexpr TCodeEditorCommand ecShiftTab = 613;
inline constexpr TCodeEditorCommand ecUpperCase = 620;
inline constexpr TCodeEditorCommand ecLowerCase = 621;
inline constexpr TCodeEditorCommand ecToggleCase = 622;
inline constexpr TCodeEditorCommand ecTitleCase = 623;
inline constexpr TCodeEditorCommand ecUpperCaseBlock = 625;
inline constexpr TCodeEditorCommand ecLowerCaseBlock = 626;
inline constexpr TCodeEditorCommand ecToggleCaseBlock = 627;
inline constexpr TCodeEditorCommand ecString = 630;
inline constexpr TCodeEditorCommand ecAutoCompletion = 650;
inline constexpr TCodeEditorCommand ecUserFirst = 1001;

// Identifier and number of every named command, in the table's order.
struct TCodeEditorCommandIdent {
  TCodeEditorCommand Command;
  std::string_view Ident;
};
const std::vector<TCodeEditorCommandIdent>& EditorCommandIdents();

// Identifiers match without regard to case; false when the identifier (or
// the number) is not in the table, with the out value untouched.
bool CommandFromIdent(std::string_view Ident, int& Command);
bool CommandToIdent(int Command, std::string& Ident);
// The identifier, or the number in decimal when it has none.
std::string CommandToText(TCodeEditorCommand Command);

// Shift states as bits: Shift 1, Alt 2, Ctrl 4.
using TShiftState = std::uint8_t;
inline constexpr TShiftState ssShift = 0x01;
inline constexpr TShiftState ssAlt = 0x02;
inline constexpr TShiftState ssCtrl = 0x04;

// A key and its shift state in one word: the virtual-key code in the low
// byte, Shift 0x2000, Ctrl 0x4000, Alt 0x8000.
using TShortCut = std::uint16_t;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// 0 for a key code above 255.
TShortCut ShortCut(std::uint16_t Key, TShiftState Shift);
void ShortCutToKey(TShortCut ShortCut, std::uint16_t& Key, TShiftState& Shift);
// "Ctrl+C", "Shift+Ins", "Shift+Ctrl+Alt+F5"; empty for 0 or a key without a
// name.
std::string ShortCutToText(TShortCut ShortCut);

// Virtual-key codes the default map binds.
inline constexpr std::uint16_t VK_BACK = 0x08;
inline constexpr std::uint16_t VK_TAB = 0x09;
inline constexpr std::uint16_t VK_RETURN = 0x0D;
inline constexpr std::uint16_t VK_PRIOR = 0x21;
inline constexpr std::uint16_t VK_NEXT = 0x22;
inline constexpr std::uint16_t VK_END = 0x23;
inline constexpr std::uint16_t VK_HOME = 0x24;
inline constexpr std::uint16_t VK_LEFT = 0x25;
inline constexpr std::uint16_t VK_UP = 0x26;
inline constexpr std::uint16_t VK_RIGHT = 0x27;
inline constexpr std::uint16_t VK_DOWN = 0x28;
inline constexpr std::uint16_t VK_INSERT = 0x2D;
inline constexpr std::uint16_t VK_DELETE = 0x2E;
inline constexpr std::uint16_t VK_F1 = 0x70;

class ECodeKeyError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TCodeEditKeyStrokes;

// One binding: a key, or a sequence of two keys, and its command.
class TCodeEditKeyStroke {
public:
  explicit TCodeEditKeyStroke(TCodeEditKeyStrokes* Collection) : FCollection(Collection) {}
  TCodeEditKeyStroke(const TCodeEditKeyStroke&) = delete;
  TCodeEditKeyStroke& operator=(const TCodeEditKeyStroke&) = delete;

  void Assign(const TCodeEditKeyStroke& Source);
  // "ecCopy - Ctrl+C", with " " and the second key's text for a sequence.
  std::string GetDisplayName() const;
  int Index() const;

  TCodeEditorCommand Command() const { return FCommand; }
  void SetCommand(TCodeEditorCommand Value) { FCommand = Value; }
  std::uint16_t FirstKey() const { return FFirstKey; }
  TShiftState FirstShift() const { return FFirstShift; }
  std::uint16_t SecondKey() const { return FSecondKey; }
  TShiftState SecondShift() const { return FSecondShift; }

  TShortCut GetShortCut() const { return ShortCut(FFirstKey, FFirstShift); }
  TShortCut GetShortCut2() const { return ShortCut(FSecondKey, FSecondShift); }
  // Another item of the collection with the same pair of keys raises
  // ECodeKeyError "Shortcut already exists" and nothing changes.
  void SetShortCut(TShortCut Value);
  void SetShortCut2(TShortCut Value);

private:
  TCodeEditKeyStrokes* FCollection;
  std::uint16_t FFirstKey = 0;
  TShiftState FFirstShift = 0;
  std::uint16_t FSecondKey = 0;
  TShiftState FSecondShift = 0;
  TCodeEditorCommand FCommand = ecNone;
};

// The editor's key map.
class TCodeEditKeyStrokes {
public:
  explicit TCodeEditKeyStrokes(void* Owner = nullptr) : FOwner(Owner) {}
  TCodeEditKeyStrokes(const TCodeEditKeyStrokes&) = delete;
  TCodeEditKeyStrokes& operator=(const TCodeEditKeyStrokes&) = delete;

  void* Owner() const { return FOwner; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TCodeEditKeyStroke& Items(int Index) const { return *FItems.at(static_cast<std::size_t>(Index)); }
  TCodeEditKeyStroke& Add();
  void Delete(int Index);
  void Clear() { FItems.clear(); }
  int IndexOf(const TCodeEditKeyStroke* Item) const;

  // Clears this map and appends a copy of each of Source's items.
  void Assign(const TCodeEditKeyStrokes& Source);
  // A key already bound raises ECodeKeyError and adds nothing.
  void AddBinding(TCodeEditorCommand Command, std::uint16_t Key, TShiftState Shift);
  // -1 when nothing matches. FindSingleKey passes over two-key items.
  int FindSingleKey(std::uint16_t Key, TShiftState Shift) const;
  int FindKeyPair(std::uint16_t Key, TShiftState Shift, std::uint16_t Key2, TShiftState Shift2) const;
  int FindShortcut2(TShortCut ShortCut, TShortCut ShortCut2) const;
  // Clears the map and adds the 82 default bindings.
  void LoadDefaults();

private:
  void* FOwner;
  std::vector<std::unique_ptr<TCodeEditKeyStroke>> FItems;
};

// Key maps as differences from a reference map (the defaults, or the map
// they were derived from), the form in which changed key maps are stored.
// A binding of one map matches one of the other when the first binding there
// with the same pair of keys has the same command.
//
// Two maps are equal when they hold the same bindings in the same order.
bool KeystrokesEqual(const TCodeEditKeyStrokes& A, const TCodeEditKeyStrokes& B);
// Result is cleared and gets a copy of every binding of Current that has no
// match in Reference.
void AddedKeystrokes(const TCodeEditKeyStrokes& Current, const TCodeEditKeyStrokes& Reference,
                     TCodeEditKeyStrokes& Result);
// Result is cleared and gets a copy of every binding of Reference that has no
// match in Current: the bindings the user took away.
void RemovedKeystrokes(const TCodeEditKeyStrokes& Current, const TCodeEditKeyStrokes& Reference,
                       TCodeEditKeyStrokes& Result);
// Appends a copy of each of Added's bindings to Target.
void ApplyAddedKeystrokes(TCodeEditKeyStrokes& Target, const TCodeEditKeyStrokes& Added);
// Deletes from Target each binding that has the pair of keys of one of
// Removed's and the same command; a pair of keys now bound to another command
// stays.
void ApplyRemovedKeystrokes(TCodeEditKeyStrokes& Target, const TCodeEditKeyStrokes& Removed);

}  // namespace codeedit
