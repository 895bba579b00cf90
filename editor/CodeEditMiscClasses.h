#pragma once

// The editor's small option objects (gutter, selection colours, bookmark
// options), the search engine it searches through, and method chains.
//
// Method chains: lists of handlers that all run, in the order they were
// added, when the chain fires, with a pluggable policy for a handler that
// throws. A highlighter keeps a notify chain so every editor showing it hears
// when its attributes change.

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "editor/CodeEditTypes.h"

class TPngIconList;

namespace codeedit {

// Stores Value in Field; true when that changed it.
template <class T>
bool StoreChanged(T& Field, const T& Value) {
  if (Field == Value)
    return false;
  Field = Value;
  return true;
}

class ECodeMethodChain : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A handler as a code address and the object it runs on: two methods are the
// same when both match, so a handler can be taken out again. Code is null for
// an unassigned method.
struct TCodeMethod {
  const void* Code = nullptr;
  void* Data = nullptr;
  friend bool operator==(const TCodeMethod&, const TCodeMethod&) = default;
};

class TCodeMethodChain {
public:
  using TExceptionHandler = std::function<void(TCodeMethodChain& Sender, const std::exception& E, bool& DoContinue)>;

  TCodeMethodChain() = default;
  virtual ~TCodeMethodChain() = default;
  TCodeMethodChain(const TCodeMethodChain&) = delete;
  TCodeMethodChain& operator=(const TCodeMethodChain&) = delete;

  // An unassigned method throws ECodeMethodChain.
  void Add(const TCodeMethod& Method);
  // Takes out every occurrence; an unassigned method throws ECodeMethodChain.
  void Remove(const TCodeMethod& Method);
  // Runs every method. A std::exception from one goes to DoHandleException,
  // which says whether to go on; anything else thrown passes through.
  void Fire();
  int MethodCount() const { return static_cast<int>(FMethods.size()); }

  // Decides whether the firing goes on after E. Without a handler E leaves
  // Fire; a handler that throws becomes ECodeMethodChain.
  virtual bool DoHandleException(const std::exception& E);

  TExceptionHandler ExceptionHandler;

protected:
  virtual void CallEvent(const TCodeMethod& Method) = 0;
  virtual const char* ClassName() const { return "TCodeMethodChain"; }

private:
  std::vector<TCodeMethod> FMethods;
};

// A notify handler: a function called with the object it was bound to and
// the chain's sender. NotifyEvent<&Editor::HighlighterChanged>(editor) binds
// a member function.
struct TCodeNotifyEvent {
  using Proc = void (*)(void* Data, void* Sender);
  Proc Code = nullptr;
  void* Data = nullptr;
  TCodeMethod Method() const { return {reinterpret_cast<const void*>(Code), Data}; }
};

template <auto Member, class T>
TCodeNotifyEvent NotifyEvent(T* Object) {
  return {[](void* data, void* sender) { (static_cast<T*>(data)->*Member)(sender); }, Object};
}

class TCodeNotifyEventChain : public TCodeMethodChain {
public:
  explicit TCodeNotifyEventChain(void* Sender) : FSender(Sender) {}

  void AddNotifyEvent(const TCodeNotifyEvent& Event) { Add(Event.Method()); }
  void RemoveNotifyEvent(const TCodeNotifyEvent& Event) { Remove(Event.Method()); }

  void* Sender() const { return FSender; }
  void SetSender(void* Value) { FSender = Value; }

protected:
  void CallEvent(const TCodeMethod& Method) override;
  const char* ClassName() const override { return "TCodeNotifyEventChain"; }

private:
  void* FSender;
};

// Colours of selected text.
class TCodeSelectedColor {
public:
  using TNotifyEvent = std::function<void(TCodeSelectedColor& Sender)>;

  TColor Background() const { return FBackground; }
  TColor Foreground() const { return FForeground; }
  void SetBackground(TColor Value);
  void SetForeground(TColor Value);
  // Copies both colours and tells OnChange even when nothing differed.
  void Assign(const TCodeSelectedColor& Source);

  TNotifyEvent OnChange;

private:
  void Changed();
  TColor FBackground = clHighlight;
  TColor FForeground = clHighlightText;
};

enum TCodeGutterBorderStyle : std::uint8_t { gbsNone = 0, gbsMiddle = 1, gbsRight = 2 };

// The strip left of the text: its look, and the rules for line-number texts
// and for its width. Every setter tells OnChange only when the value changed,
// except BorderStyle, which always tells.
class TCodeGutter {
public:
  using TNotifyEvent = std::function<void(TCodeGutter& Sender)>;

  // Copies everything but Cursor, then tells OnChange.
  void Assign(const TCodeGutter& Source);

  // Fits the number of digits to the displayed number of the last line, when
  // the gutter is visible and shows auto-sized line numbers; otherwise the
  // digits go back to DigitCount without an event.
  void AutoSizeDigitCount(int LinesCount);
  // The number shown for the 1-based line Line, right-aligned in
  // AutoSizeDigits() places: blanks on the left, or zeros with LeadingZeros.
  // A longer number is not cut.
  std::string FormatLineNumber(int Line) const;
  // The gutter's width in pixels for text whose characters are CharWidth wide.
  int RealGutterWidth(int CharWidth) const;
  // The number shown for the 1-based line Line.
  int DisplayedLineNumber(int Line) const;

  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { set(FAutoSize, Value); }
  TCodeGutterBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TCodeGutterBorderStyle Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { set(FColor, Value); }
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor Value) { set(FBorderColor, Value); }
  std::int16_t Cursor() const { return FCursor; }
  void SetCursor(std::int16_t Value) { set(FCursor, Value); }
  int DigitCount() const { return FDigitCount; }
  // Kept within 2..12; a change also sets AutoSizeDigits.
  void SetDigitCount(int Value);
  int AutoSizeDigits() const { return FAutoSizeDigits; }
  const TCodeFontDesc& Font() const { return FFont; }
  void SetFont(const TCodeFontDesc& Value) { set(FFont, Value); }
  bool LeadingZeros() const { return FLeadingZeros; }
  void SetLeadingZeros(bool Value) { set(FLeadingZeros, Value); }
  int LeftOffset() const { return FLeftOffset; }
  void SetLeftOffset(int Value) { set(FLeftOffset, Value < 0 ? 0 : Value); }
  int RightOffset() const { return FRightOffset; }
  void SetRightOffset(int Value) { set(FRightOffset, Value < 0 ? 0 : Value); }
  bool ShowLineNumbers() const { return FShowLineNumbers; }
  void SetShowLineNumbers(bool Value) { set(FShowLineNumbers, Value); }
  bool UseFontStyle() const { return FUseFontStyle; }
  void SetUseFontStyle(bool Value) { set(FUseFontStyle, Value); }
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value) { set(FVisible, Value); }
  // 0 while the gutter is hidden.
  int Width() const { return FVisible ? FWidth : 0; }
  void SetWidth(int Value) { set(FWidth, Value < 0 ? 0 : Value); }
  bool ZeroStart() const { return FZeroStart; }
  void SetZeroStart(bool Value) { set(FZeroStart, Value); }
  int LineNumberStart() const { return FLineNumberStart; }
  // A negative start counts as 0; a start of 0 turns ZeroStart on, any other
  // turns it off.
  void SetLineNumberStart(int Value);
  bool Gradient() const { return FGradient; }
  void SetGradient(bool Value) { set(FGradient, Value); }
  TColor GradientStartColor() const { return FGradientStartColor; }
  void SetGradientStartColor(TColor Value) { set(FGradientStartColor, Value); }
  TColor GradientEndColor() const { return FGradientEndColor; }
  void SetGradientEndColor(TColor Value) { set(FGradientEndColor, Value); }
  int GradientSteps() const { return FGradientSteps; }
  // At least 2.
  void SetGradientSteps(int Value);

  TNotifyEvent OnChange;

private:
  template <class T>
  void set(T& Field, const T& Value) {
    if (StoreChanged(Field, Value))
      Changed();
  }
  void Changed();

  bool FAutoSize = false;
  TCodeGutterBorderStyle FBorderStyle = gbsMiddle;
  TColor FColor = clBtnFace;
  TColor FBorderColor = clWindow;
  std::int16_t FCursor = 0;
  int FDigitCount = 4;
  int FAutoSizeDigits = 4;
  TCodeFontDesc FFont;
  bool FLeadingZeros = false;
  int FLeftOffset = 16;
  int FRightOffset = 2;
  bool FShowLineNumbers = false;
  bool FUseFontStyle = true;
  bool FVisible = true;
  int FWidth = 30;
  bool FZeroStart = false;
  int FLineNumberStart = 1;
  bool FGradient = false;
  TColor FGradientStartColor = clWindow;
  TColor FGradientEndColor = clBtnFace;
  int FGradientSteps = 48;
};

// How bookmarks are shown and reached.
class TCodeBookMarkOpt {
public:
  using TNotifyEvent = std::function<void(TCodeBookMarkOpt& Sender)>;
  using TImagesEvent = std::function<void(TCodeBookMarkOpt& Sender, TPngIconList* Images)>;

  // Owner is the editor the options belong to.
  explicit TCodeBookMarkOpt(void* Owner) : FOwner(Owner) {}

  // Copies every option (the image list as a reference), then tells OnChange.
  void Assign(const TCodeBookMarkOpt& Source);

  void* Owner() const { return FOwner; }
  // Not owned: the owner hears of a new list through OnImagesAssigned, before
  // OnChange, so that it can forget the list when the list goes.
  TPngIconList* BookmarkImages() const { return FBookmarkImages; }
  void SetBookmarkImages(TPngIconList* Value);
  bool DrawBookmarksFirst() const { return FDrawBookmarksFirst; }
  void SetDrawBookmarksFirst(bool Value) { set(FDrawBookmarksFirst, Value); }
  // Stored without an event: nothing on screen depends on it.
  bool EnableKeys() const { return FEnableKeys; }
  void SetEnableKeys(bool Value) { FEnableKeys = Value; }
  bool GlyphsVisible() const { return FGlyphsVisible; }
  void SetGlyphsVisible(bool Value) { set(FGlyphsVisible, Value); }
  int LeftMargin() const { return FLeftMargin; }
  void SetLeftMargin(int Value) { set(FLeftMargin, Value); }
  int Xoffset() const { return FXoffset; }
  void SetXoffset(int Value) { set(FXoffset, Value); }

  TNotifyEvent OnChange;
  TImagesEvent OnImagesAssigned;

private:
  template <class T>
  void set(T& Field, const T& Value) {
    if (StoreChanged(Field, Value))
      Changed();
  }
  void Changed();

  void* FOwner;
  TPngIconList* FBookmarkImages = nullptr;
  bool FDrawBookmarksFirst = true;
  bool FEnableKeys = true;
  bool FGlyphsVisible = true;
  int FLeftMargin = 2;
  int FXoffset = 12;
};

// The search options as bits: bit n is member n.
using TCodeSearchOptions = std::uint8_t;
inline constexpr TCodeSearchOptions ssoMatchCase = 0x01;  // the engine's to apply
inline constexpr TCodeSearchOptions ssoWholeWord = 0x02;  // the engine's to apply
inline constexpr TCodeSearchOptions ssoBackwards = 0x04;
inline constexpr TCodeSearchOptions ssoEntireScope = 0x08;
inline constexpr TCodeSearchOptions ssoSelectedOnly = 0x10;
inline constexpr TCodeSearchOptions ssoReplace = 0x20;
inline constexpr TCodeSearchOptions ssoReplaceAll = 0x40;
inline constexpr TCodeSearchOptions ssoPrompt = 0x80;

// A search engine the editor searches and replaces through, one line at a
// time: SetOptions and SetPattern once, then FindAll for each line and the
// matches by index (0 .. GetResultCount() - 1), left to right.
class TCodeEditSearchCustom {
public:
  TCodeEditSearchCustom() = default;
  TCodeEditSearchCustom(const TCodeEditSearchCustom&) = delete;
  TCodeEditSearchCustom& operator=(const TCodeEditSearchCustom&) = delete;
  // Every editor searching through the engine forgets it now.
  virtual ~TCodeEditSearchCustom();

  // Client's Forget runs once when the engine is destroyed; a second call
  // for the same client replaces the first.
  void FreeNotification(void* Client, std::function<void()> Forget);
  void RemoveFreeNotification(void* Client);

  virtual void SetPattern(const std::u16string& Value) = 0;
  // Length in characters of match Index of the last FindAll.
  virtual int GetLength(int Index) const = 0;
  // 1-based character position of match Index in the line.
  virtual int GetResult(int Index) const = 0;
  virtual int GetResultCount() const = 0;
  virtual void SetOptions(TCodeSearchOptions Options) = 0;
  // Finds every match in Line, in order of position; answers their number.
  virtual int FindAll(const std::u16string& Line) = 0;
  // The text that replaces the matched text Found.
  virtual std::u16string Replace(const std::u16string& Found, const std::u16string& ReplaceWith) = 0;

private:
  std::vector<std::pair<void*, std::function<void()>>> FFreeClients;
};

// What to do with one match, when the application is asked before each
// replacement.
enum TCodeReplaceAction : std::uint8_t { raCancel = 0, raSkip = 1, raReplace = 2, raReplaceAll = 3 };

class ECodeEditError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

}  // namespace codeedit
