#include "editor/CodeEditKeyCmds.h"

#include <algorithm>
#include <array>

#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

// Names of the keys that are not a letter or a digit.
struct TKeyName {
  std::uint16_t Key;
  std::string_view Name;
};
constexpr std::array<TKeyName, 15> kKeyNames{{
    {VK_BACK, "BkSp"}, {VK_TAB, "Tab"}, {VK_RETURN, "Enter"}, {0x1B, "Esc"}, {0x20, "Space"},
    {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"}, {VK_END, "End"}, {VK_HOME, "Home"}, {VK_LEFT, "Left"},
    {VK_UP, "Up"}, {VK_RIGHT, "Right"}, {VK_DOWN, "Down"}, {VK_INSERT, "Ins"}, {VK_DELETE, "Del"},
}};

std::string keyText(std::uint16_t Key) {
  if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z'))
    return std::string(1, static_cast<char>(Key));
  if (Key >= 0x60 && Key <= 0x69)
    return "Num " + std::string(1, static_cast<char>('0' + (Key - 0x60)));
  if (Key >= VK_F1 && Key <= VK_F1 + 23)
    return "F" + std::to_string(Key - VK_F1 + 1);
  for (const TKeyName& name : kKeyNames)
    if (name.Key == Key)
      return std::string(name.Name);
  return {};
}

}  // namespace

const std::vector<TCodeEditorCommandIdent>& EditorCommandIdents() {
  static const std::vector<TCodeEditorCommandIdent> table = [] {
    std::vector<TCodeEditorCommandIdent> t{
        {ecNone, "ecNone"},
        {ecLeft, "ecLeft"},
        {ecRight, "ecRight"},
        {ecUp, "ecUp"},
        {ecDown, "ecDown"},
        {ecWordLeft, "ecWordLeft"},
        {ecWordRight, "ecWordRight"},
        {ecLineStart, "ecLineStart"},
        {ecLineEnd, "ecLineEnd"},
        {ecPageUp, "ecPageUp"},
        {ecPageDown, "ecPageDown"},
        {ecPageLeft, "ecPageLeft"},
        {ecPageRight, "ecPageRight"},
        {ecPageTop, "ecPageTop"},
        {ecPageBottom, "ecPageBottom"},
        {ecEditorTop, "ecEditorTop"},
        {ecEditorBottom, "ecEditorBottom"},
        {ecGotoXY, "ecGotoXY"},
        {ecSelLeft, "ecSelLeft"},
        {ecSelRight, "ecSelRight"},
        {ecSelUp, "ecSelUp"},
        {ecSelDown, "ecSelDown"},
        {ecSelWordLeft, "ecSelWordLeft"},
        {ecSelWordRight, "ecSelWordRight"},
        {ecSelLineStart, "ecSelLineStart"},
        {ecSelLineEnd, "ecSelLineEnd"},
        {ecSelPageUp, "ecSelPageUp"},
        {ecSelPageDown, "ecSelPageDown"},
        {ecSelPageLeft, "ecSelPageLeft"},
        {ecSelPageRight, "ecSelPageRight"},
        {ecSelPageTop, "ecSelPageTop"},
        {ecSelPageBottom, "ecSelPageBottom"},
        {ecSelEditorTop, "ecSelEditorTop"},
        {ecSelEditorBottom, "ecSelEditorBottom"},
        {ecSelGotoXY, "ecSelGotoXY"},
        {ecSelWord, "ecSelWord"},
        {ecSelectAll, "ecSelectAll"},
        {ecDeleteLastChar, "ecDeleteLastChar"},
        {ecDeleteChar, "ecDeleteChar"},
        {ecDeleteWord, "ecDeleteWord"},
        {ecDeleteLastWord, "ecDeleteLastWord"},
        {ecDeleteBOL, "ecDeleteBOL"},
        {ecDeleteEOL, "ecDeleteEOL"},
        {ecDeleteLine, "ecDeleteLine"},
        {ecClearAll, "ecClearAll"},
        {ecLineBreak, "ecLineBreak"},
        {ecInsertLine, "ecInsertLine"},
        {ecChar, "ecChar"},
        {ecImeStr, "ecImeStr"},
        {ecUndo, "ecUndo"},
        {ecRedo, "ecRedo"},
        {ecCut, "ecCut"},
        {ecCopy, "ecCopy"},
        {ecPaste, "ecPaste"},
        {ecScrollUp, "ecScrollUp"},
        {ecScrollDown, "ecScrollDown"},
        {ecScrollLeft, "ecScrollLeft"},
        {ecScrollRight, "ecScrollRight"},
        {ecInsertMode, "ecInsertMode"},
        {ecOverwriteMode, "ecOverwriteMode"},
        {ecToggleMode, "ecToggleMode"},
        {ecBlockIndent, "ecBlockIndent"},
        {ecBlockUnindent, "ecBlockUnindent"},
        {ecTab, "ecTab"},
        {ecShiftTab, "ecShiftTab"},
        {ecMatchBracket, "ecMatchBracket"},
        {ecCommentBlock, "ecCommentBlock"},
        {ecNormalSelect, "ecNormalSelect"},
        {ecColumnSelect, "ecColumnSelect"},
        {ecLineSelect, "ecLineSelect"},
        {ecAutoCompletion, "ecAutoCompletion"},
        {ecUserFirst, "ecUserFirst"},
        {ecContextHelp, "ecContextHelp"},
    };
    static constexpr std::array<std::string_view, 10> gotoNames{
        "ecGotoMarker0", "ecGotoMarker1", "ecGotoMarker2", "ecGotoMarker3", "ecGotoMarker4",
        "ecGotoMarker5", "ecGotoMarker6", "ecGotoMarker7", "ecGotoMarker8", "ecGotoMarker9"};
    static constexpr std::array<std::string_view, 10> setNames{
        "ecSetMarker0", "ecSetMarker1", "ecSetMarker2", "ecSetMarker3", "ecSetMarker4",
        "ecSetMarker5", "ecSetMarker6", "ecSetMarker7", "ecSetMarker8", "ecSetMarker9"};
    for (std::uint16_t i = 0; i < 10; ++i)
      t.push_back({static_cast<TCodeEditorCommand>(ecGotoMarker0 + i), gotoNames[i]});
    for (std::uint16_t i = 0; i < 10; ++i)
      t.push_back({static_cast<TCodeEditorCommand>(ecSetMarker0 + i), setNames[i]});
    t.insert(t.end(), {
                          {ecUpperCase, "ecUpperCase"},
                          {ecLowerCase, "ecLowerCase"},
                          {ecToggleCase, "ecToggleCase"},
                          {ecTitleCase, "ecTitleCase"},
                          {ecUpperCaseBlock, "ecUpperCaseBlock"},
                          {ecLowerCaseBlock, "ecLowerCaseBlock"},
                          {ecToggleCaseBlock, "ecToggleCaseBlock"},
                          {ecString, "ecString"},
                      });
    return t;
  }();
  return table;
}

bool CommandFromIdent(std::string_view Ident, int& Command) {
  for (const TCodeEditorCommandIdent& entry : EditorCommandIdents())
    if (SameTextAscii(entry.Ident, Ident)) {
      Command = entry.Command;
      return true;
    }
  return false;
}

bool CommandToIdent(int Command, std::string& Ident) {
  for (const TCodeEditorCommandIdent& entry : EditorCommandIdents())
    if (entry.Command == Command) {
      Ident = entry.Ident;
      return true;
    }
  return false;
}

std::string CommandToText(TCodeEditorCommand Command) {
  std::string ident;
  if (CommandToIdent(Command, ident))
    return ident;
  return std::to_string(Command);
}

TShortCut ShortCut(std::uint16_t Key, TShiftState Shift) {
  if (Key > 0xFF)
    return 0;
  TShortCut result = Key;
  if (Shift & ssShift)
    result |= scShift;
  if (Shift & ssCtrl)
    result |= scCtrl;
  if (Shift & ssAlt)
    result |= scAlt;
  return result;
}

void ShortCutToKey(TShortCut Value, std::uint16_t& Key, TShiftState& Shift) {
  Key = Value & 0xFF;
  Shift = 0;
  if (Value & scShift)
    Shift |= ssShift;
  if (Value & scCtrl)
    Shift |= ssCtrl;
  if (Value & scAlt)
    Shift |= ssAlt;
}

std::string ShortCutToText(TShortCut Value) {
  const std::string key = keyText(Value & 0xFF);
  if (key.empty())
    return {};
  std::string result;
  if (Value & scShift)
    result += "Shift+";
  if (Value & scCtrl)
    result += "Ctrl+";
  if (Value & scAlt)
    result += "Alt+";
  return result + key;
}

// ---- TCodeEditKeyStroke

void TCodeEditKeyStroke::Assign(const TCodeEditKeyStroke& Source) {
  FCommand = Source.FCommand;
  FFirstKey = Source.FFirstKey;
  FSecondKey = Source.FSecondKey;
  FFirstShift = Source.FFirstShift;
  FSecondShift = Source.FSecondShift;
}

std::string TCodeEditKeyStroke::GetDisplayName() const {
  std::string result = CommandToText(FCommand) + " - " + ShortCutToText(GetShortCut());
  if (GetShortCut2() != 0)
    result += " " + ShortCutToText(GetShortCut2());
  return result.empty() ? "TCodeEditKeyStroke" : result;
}

int TCodeEditKeyStroke::Index() const { return FCollection ? FCollection->IndexOf(this) : -1; }

void TCodeEditKeyStroke::SetShortCut(TShortCut Value) {
  if (Value != 0 && FCollection) {
    const int found = FCollection->FindShortcut2(Value, GetShortCut2());
    if (found >= 0 && &FCollection->Items(found) != this)
      throw ECodeKeyError("Shortcut already exists");
  }
  ShortCutToKey(Value, FFirstKey, FFirstShift);
}

void TCodeEditKeyStroke::SetShortCut2(TShortCut Value) {
  if (Value != 0 && FCollection) {
    const int found = FCollection->FindShortcut2(GetShortCut(), Value);
    if (found >= 0 && &FCollection->Items(found) != this)
      throw ECodeKeyError("Shortcut already exists");
  }
  ShortCutToKey(Value, FSecondKey, FSecondShift);
}

// ---- TCodeEditKeyStrokes

TCodeEditKeyStroke& TCodeEditKeyStrokes::Add() {
  FItems.push_back(std::make_unique<TCodeEditKeyStroke>(this));
  return *FItems.back();
}

void TCodeEditKeyStrokes::Delete(int Index) {
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(IndexOf(&Items(Index))));
}

int TCodeEditKeyStrokes::IndexOf(const TCodeEditKeyStroke* Item) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item)
      return static_cast<int>(i);
  return -1;
}

void TCodeEditKeyStrokes::Assign(const TCodeEditKeyStrokes& Source) {
  if (&Source == this)
    return;
  FItems.clear();
  for (const auto& item : Source.FItems)
    Add().Assign(*item);
}

void TCodeEditKeyStrokes::AddBinding(TCodeEditorCommand Command, std::uint16_t Key, TShiftState Shift) {
  TCodeEditKeyStroke& item = Add();
  try {
    item.SetShortCut(ShortCut(Key, Shift));
    item.SetCommand(Command);
  } catch (...) {
    FItems.pop_back();
    throw;
  }
}

int TCodeEditKeyStrokes::FindSingleKey(std::uint16_t Key, TShiftState Shift) const {
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    const TCodeEditKeyStroke& k = *FItems[i];
    if (k.FirstKey() == Key && k.FirstShift() == Shift && k.SecondKey() == 0)
      return static_cast<int>(i);
  }
  return -1;
}

int TCodeEditKeyStrokes::FindKeyPair(std::uint16_t Key, TShiftState Shift, std::uint16_t Key2,
                                     TShiftState Shift2) const {
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    const TCodeEditKeyStroke& k = *FItems[i];
    if (k.FirstKey() == Key && k.FirstShift() == Shift && k.SecondKey() == Key2 && k.SecondShift() == Shift2)
      return static_cast<int>(i);
  }
  return -1;
}

int TCodeEditKeyStrokes::FindShortcut2(TShortCut Value, TShortCut Value2) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->GetShortCut() == Value && FItems[i]->GetShortCut2() == Value2)
      return static_cast<int>(i);
  return -1;
}

void TCodeEditKeyStrokes::LoadDefaults() {
  struct TBinding {
    TCodeEditorCommand Command;
    std::uint16_t Key;
    TShiftState Shift;
  };
  constexpr TShiftState none = 0, shift = ssShift, ctrl = ssCtrl, ctrlShift = ssCtrl | ssShift, alt = ssAlt,
                        shiftAlt = ssShift | ssAlt;
  static constexpr TBinding kHead[] = {
      {ecUp, VK_UP, none},
      {ecSelUp, VK_UP, shift},
      {ecScrollUp, VK_UP, ctrl},
      {ecDown, VK_DOWN, none},
      {ecSelDown, VK_DOWN, shift},
      {ecScrollDown, VK_DOWN, ctrl},
      {ecLeft, VK_LEFT, none},
      {ecSelLeft, VK_LEFT, shift},
      {ecWordLeft, VK_LEFT, ctrl},
      {ecSelWordLeft, VK_LEFT, ctrlShift},
      {ecRight, VK_RIGHT, none},
      {ecSelRight, VK_RIGHT, shift},
      {ecWordRight, VK_RIGHT, ctrl},
      {ecSelWordRight, VK_RIGHT, ctrlShift},
      {ecPageDown, VK_NEXT, none},
      {ecSelPageDown, VK_NEXT, shift},
      {ecPageBottom, VK_NEXT, ctrl},
      {ecSelPageBottom, VK_NEXT, ctrlShift},
      {ecPageUp, VK_PRIOR, none},
      {ecSelPageUp, VK_PRIOR, shift},
      {ecPageTop, VK_PRIOR, ctrl},
      {ecSelPageTop, VK_PRIOR, ctrlShift},
      {ecLineStart, VK_HOME, none},
      {ecSelLineStart, VK_HOME, shift},
      {ecEditorTop, VK_HOME, ctrl},
      {ecSelEditorTop, VK_HOME, ctrlShift},
      {ecLineEnd, VK_END, none},
      {ecSelLineEnd, VK_END, shift},
      {ecEditorBottom, VK_END, ctrl},
      {ecSelEditorBottom, VK_END, ctrlShift},
      {ecToggleMode, VK_INSERT, none},
      {ecCopy, VK_INSERT, ctrl},
      {ecCut, VK_DELETE, shift},
      {ecPaste, VK_INSERT, shift},
      {ecDeleteChar, VK_DELETE, none},
      {ecDeleteLastChar, VK_BACK, none},
      {ecDeleteLastChar, VK_BACK, shift},
      {ecDeleteLastWord, VK_BACK, ctrl},
      {ecUndo, VK_BACK, alt},
      {ecRedo, VK_BACK, shiftAlt},
      {ecLineBreak, VK_RETURN, none},
      {ecLineBreak, VK_RETURN, shift},
      {ecTab, VK_TAB, none},
      {ecShiftTab, VK_TAB, shift},
      {ecContextHelp, VK_F1, none},
      {ecSelectAll, 'A', ctrl},
      {ecCopy, 'C', ctrl},
      {ecPaste, 'V', ctrl},
      {ecCut, 'X', ctrl},
      {ecBlockIndent, 'I', ctrlShift},
      {ecBlockUnindent, 'U', ctrlShift},
      {ecLineBreak, 'M', ctrl},
      {ecInsertLine, 'N', ctrl},
      {ecDeleteWord, 'T', ctrl},
      {ecDeleteLine, 'Y', ctrl},
      {ecDeleteEOL, 'Y', ctrlShift},
      {ecUndo, 'Z', ctrl},
      {ecRedo, 'Z', ctrlShift},
  };
  static constexpr TBinding kTail[] = {
      {ecNormalSelect, 'N', ctrlShift},
      {ecColumnSelect, 'C', ctrlShift},
      {ecLineSelect, 'L', ctrlShift},
      {ecMatchBracket, 'B', ctrlShift},
  };
  Clear();
  for (const TBinding& b : kHead)
    AddBinding(b.Command, b.Key, b.Shift);
  for (std::uint16_t i = 0; i < 10; ++i)
    AddBinding(static_cast<TCodeEditorCommand>(ecGotoMarker0 + i), static_cast<std::uint16_t>('0' + i), ctrl);
  for (std::uint16_t i = 0; i < 10; ++i)
    AddBinding(static_cast<TCodeEditorCommand>(ecSetMarker0 + i), static_cast<std::uint16_t>('0' + i), ctrlShift);
  for (const TBinding& b : kTail)
    AddBinding(b.Command, b.Key, b.Shift);
}

// ---- differences from a reference map

namespace {

bool SameBinding(const TCodeEditKeyStroke& A, const TCodeEditKeyStroke& B) {
  return A.Command() == B.Command() && A.GetShortCut() == B.GetShortCut() && A.GetShortCut2() == B.GetShortCut2();
}

bool HasMatch(const TCodeEditKeyStrokes& Map, const TCodeEditKeyStroke& Item) {
  const int found = Map.FindShortcut2(Item.GetShortCut(), Item.GetShortCut2());
  return found >= 0 && Map.Items(found).Command() == Item.Command();
}

void CopyUnmatched(const TCodeEditKeyStrokes& From, const TCodeEditKeyStrokes& Against, TCodeEditKeyStrokes& Result) {
  Result.Clear();
  for (int i = 0; i < From.Count(); ++i)
    if (!HasMatch(Against, From.Items(i)))
      Result.Add().Assign(From.Items(i));
}

}  // namespace

bool KeystrokesEqual(const TCodeEditKeyStrokes& A, const TCodeEditKeyStrokes& B) {
  if (A.Count() != B.Count())
    return false;
  for (int i = 0; i < A.Count(); ++i)
    if (!SameBinding(A.Items(i), B.Items(i)))
      return false;
  return true;
}

void AddedKeystrokes(const TCodeEditKeyStrokes& Current, const TCodeEditKeyStrokes& Reference,
                     TCodeEditKeyStrokes& Result) {
  CopyUnmatched(Current, Reference, Result);
}

void RemovedKeystrokes(const TCodeEditKeyStrokes& Current, const TCodeEditKeyStrokes& Reference,
                       TCodeEditKeyStrokes& Result) {
  CopyUnmatched(Reference, Current, Result);
}

void ApplyAddedKeystrokes(TCodeEditKeyStrokes& Target, const TCodeEditKeyStrokes& Added) {
  if (&Target == &Added)
    return;
  for (int i = 0; i < Added.Count(); ++i)
    Target.Add().Assign(Added.Items(i));
}

void ApplyRemovedKeystrokes(TCodeEditKeyStrokes& Target, const TCodeEditKeyStrokes& Removed) {
  for (int i = 0; i < Removed.Count(); ++i) {
    const TCodeEditKeyStroke& item = Removed.Items(i);
    const int found = Target.FindShortcut2(item.GetShortCut(), item.GetShortCut2());
    if (found >= 0 && Target.Items(found).Command() == item.Command())
      Target.Delete(found);
  }
}

}  // namespace codeedit
