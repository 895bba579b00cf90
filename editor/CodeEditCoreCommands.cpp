// The command pipeline and the command switch of the editor's model, the
// step from keys to commands, and copying to the clipboard.

#include <algorithm>
#include <cstdlib>

#include "editor/CodeClipboardText.h"
#include "editor/CodeEditCore.h"

namespace codeedit {

namespace {

bool IsEditCommand(TCodeEditorCommand Command) {
  return (Command >= ecDeleteLastChar && Command <= ecChar) || Command == ecImeStr ||
         (Command >= ecUndo && Command <= ecPaste) || (Command >= ecBlockIndent && Command <= ecShiftTab) ||
         (Command >= ecUpperCase && Command <= ecTitleCase) ||
         (Command >= ecUpperCaseBlock && Command <= ecToggleCaseBlock);
}

}  // namespace

std::unique_ptr<TCodeEditKeyStrokes> TCodeEditCore::MakeDefaultKeystrokes(TCodeEditCore* Owner) {
  auto Result = std::make_unique<TCodeEditKeyStrokes>(Owner);
  Result->LoadDefaults();
  return Result;
}

// --- pipeline -----------------------------------------------------------------------

void TCodeEditCore::ProcessCommand(TCodeEditorCommand Command, char16_t AChar, void* Data) {
  DoProcessCommand(Command, AChar, Data);
  if (Command != ecNone) {
    NotifyCommandHooks(false, Command, AChar, Data);
    if (Command != ecNone && Command < ecUserFirst)
      ExecuteCommand(Command, AChar, Data);
    if (Command != ecNone)
      NotifyCommandHooks(true, Command, AChar, Data);
  }
  DoCommandProcessed(Command, AChar, Data);
}

void TCodeEditCore::DoProcessCommand(TCodeEditorCommand& Command, char16_t& AChar, void* Data) {
  if (Command < ecUserFirst) {
    if (OnProcessCommand)
      OnProcessCommand(*this, Command, AChar, Data);
  } else if (OnProcessUserCommand) {
    OnProcessUserCommand(*this, Command, AChar, Data);
  }
}

void TCodeEditCore::NotifyCommandHooks(bool AfterCommand, TCodeEditorCommand& Command, char16_t& AChar,
                                       void* Data) {
  if (FCommandHooks.empty())
    return;
  bool Handled = false;
  // A hook may add or remove hooks: the pass runs over the list as it stood.
  const std::vector<TCommandHook> Hooks = FCommandHooks;
  for (const TCommandHook& Hook : Hooks)
    Hook.Event(*this, AfterCommand, Handled, Command, AChar, Data, Hook.HookData);
  if (Handled)
    Command = ecNone;
}

void TCodeEditCore::DoCommandProcessed(TCodeEditorCommand Command, char16_t AChar, void* Data) {
  if (OnCommandProcessed)
    OnCommandProcessed(*this, Command, AChar, Data);
}

int TCodeEditCore::AddCommandHook(TCommandHookEvent Event, void* HookData) {
  if (!Event)
    return 0;
  const int Id = FNextHookId++;
  FCommandHooks.push_back({Id, std::move(Event), HookData});
  return Id;
}

void TCodeEditCore::RemoveCommandHook(int Id) {
  std::erase_if(FCommandHooks, [Id](const TCommandHook& Hook) { return Hook.Id == Id; });
}

// --- keys ---------------------------------------------------------------------------

TCodeEditorCommand TCodeEditCore::TranslateKeyCode(std::uint16_t Code, TShiftState Shift, void*& Data) {
  (void)Data;
  TCodeEditorCommand Result = ecNone;
  int Index = FKeystrokes->FindKeyPair(FLastKey, FLastShiftState, Code, Shift);
  if (Index >= 0) {
    Result = FKeystrokes->Items(Index).Command();
  } else {
    Index = FKeystrokes->FindSingleKey(Code, Shift);
    if (Index >= 0)
      Result = FKeystrokes->Items(Index).Command();
  }
  if (Result == ecNone && Code >= 30 && Code <= 145) {
    FLastKey = Code;
    FLastShiftState = Shift;
  } else {
    FLastKey = 0;
    FLastShiftState = 0;
  }
  return Result;
}

bool TCodeEditCore::KeyDown(std::uint16_t& Key, TShiftState Shift) {
  FKbdHandler.RunKeyDownHandlers(this, Key, Shift);
  void* Data = nullptr;
  const TCodeEditorCommand Command = TranslateKeyCode(Key, Shift, Data);
  if (Command == ecNone) {
    FIgnoreNextChar = false;
    return false;
  }
  Key = 0;
  FIgnoreNextChar = true;
  ProcessCommand(Command, 0, Data);
  return true;
}

void TCodeEditCore::KeyUp(std::uint16_t& Key, TShiftState Shift) {
  constexpr std::uint16_t VK_MENU = 18, VK_NUMPAD0 = 96, VK_NUMPAD9 = 105;
  if ((Shift & ssAlt) != 0 && Key >= VK_NUMPAD0 && Key <= VK_NUMPAD9) {
    // Enough digits for any code; more only make the number invalid.
    if (FAltNumpadDigits.size() < 16)
      FAltNumpadDigits.push_back(static_cast<char>('0' + (Key - VK_NUMPAD0)));
  } else if (Key == VK_MENU) {
    if (!FAltNumpadDigits.empty()) {
      const long Code = std::strtol(FAltNumpadDigits.c_str(), nullptr, 10);
      // Codes below 256 are the window system's own to translate.
      if (Code >= 256 && Code <= 65535)
        HandleCharMessage(static_cast<char16_t>(Code));
    }
    FAltNumpadDigits.clear();
  }
  FKbdHandler.RunKeyUpHandlers(this, Key, Shift);
}

void TCodeEditCore::HandleCharMessage(char16_t Ch) {
  if (OnKeyPress)
    OnKeyPress(*this, Ch);
  if (Ch != 0)
    ProcessTypedChar(Ch);
}

void TCodeEditCore::ProcessTypedChar(char16_t Key) {
  if (FIgnoreNextChar) {
    FIgnoreNextChar = false;
    return;
  }
  FKbdHandler.RunKeyPressHandlers(this, Key);
  ProcessCommand(ecChar, Key, nullptr);
}

// --- clipboard ----------------------------------------------------------------------

void TCodeEditCore::CopyToClipboard() {
  if (!SelAvail())
    return;
  // A column block is copied with its padding: trailing blanks are part of
  // the rectangle. The option comes back also when reading fails.
  const TCodeEditorOptions Saved = FOptions;
  if (ActiveSelectionMode() == smColumn)
    FOptions &= ~OptionBit(eoTrimTrailingSpaces);
  struct Restore {
    TCodeEditorOptions& Options;
    TCodeEditorOptions Value;
    ~Restore() { Options = Value; }
  } RestoreOptions{FOptions, Saved};
  const std::u16string Text = SelectedText();
  DoCopyToClipboard(Text);
}

void TCodeEditCore::DoCopyToClipboard(const std::u16string& Text) {
  if (Text.empty())
    return;
  SetClipboardWideTextWithMode(Text, ActiveSelectionMode());
}

// --- the switch -------------------------------------------------------------------------

void TCodeEditCore::ExecuteCommand(TCodeEditorCommand Command, char16_t AChar, void* Data) {
  // Caret, scroll-bar and status updates happen once, when the command ends.
  TPaintLockScope Lock(*this);
  const bool Select = Command >= ecSelLeft && Command <= ecSelGotoXY;
  const TCodeEditorCommand Move = Select ? static_cast<TCodeEditorCommand>(Command - ecSelection) : Command;
  if (Move >= ecLeft && Move <= ecGotoXY) {
    switch (Move) {
      case ecLeft:
      case ecRight:
        MoveCaretX(Move == ecLeft ? -1 : 1, Select);
        break;
      case ecUp:
      case ecDown:
        MoveCaretY(Move == ecUp ? -1 : 1, Select);
        break;
      case ecWordLeft:
        MoveCaretWithSelection(CaretXY(), PrevWordPos(), Select);
        break;
      case ecWordRight:
        MoveCaretWithSelection(CaretXY(), NextWordPos(), Select);
        break;
      case ecLineStart:
        MoveToLineHome(Select);
        break;
      case ecLineEnd:
        MoveToLineEnd(Select);
        break;
      case ecPageUp:
      case ecPageDown: {
        const int Rows = Move == ecPageUp ? -PageRows() : PageRows();
        SetTopLine(FTopLine + Rows);
        MoveCaretY(Rows, Select);
        break;
      }
      case ecPageLeft:
        MoveCaretX(-FCharsInWindow, Select);
        break;
      case ecPageRight:
        MoveCaretX(FCharsInWindow, Select);
        break;
      case ecPageTop:
      case ecPageBottom: {
        const TDisplayCoord Caret = BufferToDisplayPos(CaretXY());
        const int Row = Move == ecPageTop ? FTopLine : FTopLine + FLinesInWindow - 1;
        MoveCaretWithSelection(CaretXY(), DisplayToBufferPos({Caret.Column, Row}), Select);
        break;
      }
      case ecEditorTop:
        MoveCaretWithSelection(CaretXY(), {1, 1}, Select);
        break;
      case ecEditorBottom: {
        const int Count = LineCount();
        const TBufferCoord Last{Count > 0 ? static_cast<int>(LineText(Count).size()) + 1 : 1, Count};
        MoveCaretWithSelection(CaretXY(), Last, Select);
        break;
      }
      case ecGotoXY:
        if (Data != nullptr)
          MoveCaretWithSelection(CaretXY(), *static_cast<const TBufferCoord*>(Data), Select);
        break;
      default:
        break;
    }
    return;
  }
  if (Command >= ecGotoMarker0 && Command <= ecGotoMarker9) {
    if (FBookMarkOptions.EnableKeys())
      GotoBookmark(Command - ecGotoMarker0);
    return;
  }
  if (Command >= ecSetMarker0 && Command <= ecSetMarker9) {
    if (!FBookMarkOptions.EnableKeys())
      return;
    const int Number = Command - ecSetMarker0;
    const TBufferCoord P = Data != nullptr ? *static_cast<const TBufferCoord*>(Data) : CaretXY();
    if (TCodeEditMark* Mark = BookMark(Number)) {
      // The command on the bookmark's own line takes the bookmark away.
      const int Line = Mark->Line();
      ClearBookmark(Number);
      if (Line != P.LinePos)
        SetBookmark(Number, P.CharPos, P.LinePos);
    } else {
      SetBookmark(Number, P.CharPos, P.LinePos);
    }
    return;
  }
  if (IsEditCommand(Command)) {
    if (!ReadOnly())
      ExecuteEditCommand(Command, AChar, Data);
    return;
  }
  switch (Command) {
    case ecSelWord:
      SelectCaretWord();
      break;
    case ecSelectAll:
      SelectAll();
      break;
    case ecCopy:
      CopyToClipboard();
      break;
    case ecScrollUp:
    case ecScrollDown: {
      const int Row = BufferToDisplayPos(CaretXY()).Row;
      if (Row < FTopLine || Row >= FTopLine + FLinesInWindow) {
        EnsureCursorPosVisible();
        break;
      }
      SetTopLine(FTopLine + (Command == ecScrollUp ? -1 : 1));
      if (Command == ecScrollUp && Row >= FTopLine + FLinesInWindow)
        MoveCaretY(FTopLine + FLinesInWindow - 1 - Row, false);
      else if (Command == ecScrollDown && Row < FTopLine)
        MoveCaretY(FTopLine - Row, false);
      EnsureCursorPosVisible();
      break;
    }
    case ecScrollLeft:
      SetLeftChar(FLeftChar - 1);
      break;
    case ecScrollRight:
      SetLeftChar(FLeftChar + 1);
      break;
    case ecInsertMode:
      SetInsertMode(true);
      break;
    case ecOverwriteMode:
      SetInsertMode(false);
      break;
    case ecToggleMode:
      SetInsertMode(!InsertMode());
      break;
    case ecNormalSelect:
      SetSelectionMode(smNormal);
      break;
    case ecColumnSelect:
      SetSelectionMode(smColumn);
      break;
    case ecLineSelect:
      SetSelectionMode(smLine);
      break;
    case ecMatchBracket:
      FindMatchingBracket();
      break;
    case ecContextHelp:
      if (OnContextHelp)
        OnContextHelp(*this, WordAtCaret());
      break;
    default:
      break;
  }
}

}  // namespace codeedit
