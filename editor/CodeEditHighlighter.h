#pragma once

// What a syntax highlighter is to the editor: named colour-and-style
// attributes, and a scanner that cuts one line at a time into tokens, each
// with its attribute. The editor hands a highlighter lines and reads tokens
// back; the highlighter never sees a widget. Editors showing a highlighter
// hear of its changes through its change chain.
//
// Attributes can be kept in the registry (a sub-key per attribute with
// "Background", "Foreground" and "Style" as REG_DWORD) and read from the
// colour settings of an outside code editor in either of its two layouts.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "editor/CodeEditMiscClasses.h"
#include "editor/CodeEditTypes.h"
#include "platform/WinTypes.h"

namespace codeedit {

// A registry value of the wrong type where a number or a text was expected.
class ECodeRegistryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One named colour-and-style setting. clNone colours leave the editor's own.
class TCodeHighlighterAttributes {
public:
  using TNotifyEvent = std::function<void(TCodeHighlighterAttributes& Sender)>;

  TCodeHighlighterAttributes(std::string StorageName, std::u16string Caption);
  virtual ~TCodeHighlighterAttributes() = default;
  TCodeHighlighterAttributes(const TCodeHighlighterAttributes&) = delete;
  TCodeHighlighterAttributes& operator=(const TCodeHighlighterAttributes&) = delete;

  // The storage name too, then the colours and the style.
  virtual void Assign(const TCodeHighlighterAttributes& Source);
  // Colours and style; one Changed when any of them differed.
  void AssignColorAndStyle(const TCodeHighlighterAttributes& Source);
  // The current values become the defaults the Is...Stored predicates compare with.
  void RecordDefaults();
  virtual void Changed();

  const std::string& StorageName() const { return FStorageName; }
  const std::u16string& Caption() const { return FCaption; }
  TColor Background() const { return FBackground; }
  void SetBackground(TColor Value);
  TColor Foreground() const { return FForeground; }
  void SetForeground(TColor Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TColor DefaultBackground() const { return FDefaultBackground; }
  TColor DefaultForeground() const { return FDefaultForeground; }
  TFontStyles DefaultStyle() const { return FDefaultStyle; }
  bool BackgroundIsStored() const { return FBackground != FDefaultBackground; }
  bool ForegroundIsStored() const { return FForeground != FDefaultForeground; }
  bool StyleIsStored() const { return FStyle != FDefaultStyle; }

  // Bit 0 bold, 1 italic, 2 underline, 3 strike-out.
  int GetStyleBits() const { return FStyle & 0x0F; }
  // Bold first, then italic, underline and strike-out one at a time, each
  // change telling Changed.
  void SetStyleBits(int Bits);

  // Key is an open key of this attribute. Saving answers false when a value
  // cannot be written; loading reads the values that exist and raises
  // ECodeRegistryError for one that is not a REG_DWORD.
  bool LoadFromRegistry(platform::HKEY Key);
  bool SaveToRegistry(platform::HKEY Key) const;
  // Reads the attribute AttrName of an outside editor's colour settings
  // under RootKey\Key: as one comma-separated value (ListLayout) or as a
  // sub-key of values. Never raises: any failure answers false, keeping what
  // was already assigned.
  virtual bool LoadFromEditorSettings(platform::HKEY RootKey, const std::string& Key, const std::string& AttrName,
                                      bool ListLayout);

  TNotifyEvent OnChange;

private:
  bool loadListLayout(platform::HKEY RootKey, const std::string& Key, const std::string& AttrName);
  bool loadKeyLayout(platform::HKEY RootKey, const std::string& Key, const std::string& AttrName);

  std::string FStorageName;
  std::u16string FCaption;
  TColor FBackground = clNone;
  TColor FForeground = clNone;
  TFontStyles FStyle = 0;
  TColor FDefaultBackground = clNone;
  TColor FDefaultForeground = clNone;
  TFontStyles FDefaultStyle = 0;
};

// The 16 colours an outside editor's settings select by index.
extern const TColor SettingsPalette[16];

// A colour as the framework names it ("clRed", "clWindowText") or as a
// number ("255", "$00FF00", "0x1F"); false when it is neither.
bool IdentToColor(std::string_view Text, TColor& Color);

// Token kinds the editor asks DefaultAttribute for.
inline constexpr int CODE_ATTR_COMMENT = 0;
inline constexpr int CODE_ATTR_IDENTIFIER = 1;
inline constexpr int CODE_ATTR_KEYWORD = 2;
inline constexpr int CODE_ATTR_STRING = 3;
inline constexpr int CODE_ATTR_WHITESPACE = 4;
inline constexpr int CODE_ATTR_SYMBOL = 5;

// The base of every highlighter. A scanner overrides ScanNextToken: it sets
// FTokenStart := FScanPos, moves FScanPos past one token of FScanLine (the
// line in lower case) and then calls the base ScanNextToken, which keeps the
// column position in the glyph-expanded line in step.
//
// Use per line: ResetRange or SetRange; SetLine or SetLineWithColumns; then
// CurrentTokenAttribute / GetTokenPos / GetTokenText and ScanNextToken until
// AtLineEnd.
class TCodeCustomHighlighter : public QObject {
  Q_OBJECT

public:
  explicit TCodeCustomHighlighter(QObject* Owner = nullptr);
  ~TCodeCustomHighlighter() override;

  virtual int AttributeCount() const;
  // In storage-name order; null outside 0..AttributeCount()-1.
  virtual TCodeHighlighterAttributes* AttributeByIndex(int Index) const;
  virtual TCodeHighlighterAttributes* DefaultAttribute(int Kind) const = 0;
  virtual std::string GetDefaultFilter() const { return FDefaultFilter; }
  virtual std::u16string SampleText() const { return {}; }
  virtual bool IsCurrentToken(std::u16string_view Token) const;
  virtual bool DefaultFilterIsStored() const { return true; }
  // At or past the end of the line, or at a LF or CR.
  virtual bool IsLineEnd(int Index) const;
  virtual void SetDefaultFilter(const std::string& Value) { FDefaultFilter = Value; }
  virtual void SetSampleText(const std::u16string& Value) {}
  virtual int GetCapabilities() const { return 2; }
  virtual std::u16string FriendlyLanguageName() const { return u"<Unknown>"; }
  virtual std::string LanguageName() const { return "<Unknown>"; }
  virtual bool AtLineEnd() const = 0;
  virtual std::u16string GetColumnToken() const;
  virtual int GetColumnTokenPos() const;
  virtual std::u16string GetWordList(int Kind) const { return {}; }
  // The scanner state to keep with a line; 0 for a scanner without state.
  virtual int GetRange() const { return 0; }
  // False for a scanner whose state never carries from one line to the
  // next: a changed line then needs no scan to keep the stored states.
  virtual bool HasLineRanges() const { return true; }
  virtual std::u16string GetTokenText() const;
  virtual TCodeHighlighterAttributes* CurrentTokenAttribute() const = 0;
  virtual int CurrentTokenKind() const = 0;
  virtual int GetTokenPos() const { return FTokenStart; }
  virtual int GetTokenTag() const { return 0; }
  virtual void ScanNextToken();
  // ColumnLine is the line with its glyph fillers (U+E000) in place.
  virtual void SetLineWithColumns(std::u16string_view Line, std::u16string_view ColumnLine, int LineIndex);
  virtual void SetLine(std::u16string_view Line, int LineIndex);
  virtual void SetRange(int Range) {}
  virtual void ResetRange() {}
  virtual bool ApplyUserSetting(const std::u16string& SettingName) { return false; }
  virtual void ListUserSettings(std::vector<std::u16string>& Settings) { Settings.clear(); }
  // Key is a path under RootKey (a leading "\" is allowed). Both answer
  // false when the key cannot be opened or an attribute fails; every
  // attribute is tried.
  virtual bool LoadFromRegistry(platform::HKEY RootKey, const std::string& Key);
  virtual bool SaveToRegistry(platform::HKEY RootKey, const std::string& Key);
  virtual bool IsIdentChar(char16_t Ch) const;
  // Control characters and blanks, and whatever is neither an identifier
  // nor a word-break character (so letters beyond A-Z count as white).
  virtual bool IsWhiteChar(char16_t Ch) const;
  virtual bool IsWordBreakChar(char16_t Ch) const;

  // Takes the attribute over; a second attribute of the same storage name
  // raises sup::EStringListError "String list does not allow duplicates" and
  // the attribute is freed.
  void AddAttribute(std::unique_ptr<TCodeHighlighterAttributes> Attribute);
  void AddChangeHandler(const TCodeNotifyEvent& Handler) { FChangeHandlers.AddNotifyEvent(Handler); }
  void RemoveChangeHandler(const TCodeNotifyEvent& Handler) { FChangeHandlers.RemoveNotifyEvent(Handler); }
  // Tells every handler, with Sender (an attribute, or null for the whole
  // highlighter) as the chain's sender; nothing while loading.
  void AttributeChanged(void* Sender);

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Settings arrive one by one between BeginLoading and Loaded, which then
  // tells the editors once.
  void BeginLoading() { FLoading = true; }
  virtual void Loaded();
  bool Loading() const { return FLoading; }

  void NextToEol();
  // Attributes by storage name, the sample text from a highlighter of the
  // same class, the filter and Enabled.
  virtual void Assign(const TCodeCustomHighlighter& Source);

  // Highlighter classes known to the program.
  static void RegisterHighlighterClass(const QMetaObject* Class);
  static const std::vector<const QMetaObject*>& HighlighterClasses();

protected:
  virtual void DoSetLine(std::u16string_view Line, int LineIndex);
  // Points every attribute's OnChange at AttributeChanged and records its
  // defaults; a highlighter calls it at the end of its constructor.
  void SetAttributesOnChange();

  std::u16string FSourceLine;
  std::u16string FScanLine;  // lower-cased, with a NUL after its end
  int FScanLength = 0;
  int FLineIndex = 0;
  int FTokenStart = 0;
  int FScanPos = 0;
  int FIdentStart = 0;
  int FIdentLength = 0;
  bool FHasColumnLine = false;
  std::u16string FColumnLine;
  int FColumnTokenStart = 0;
  int FColumnPos = 0;
  int FColumnSyncPos = 0;

private:
  // Sorted by storage name, case ignored.
  std::vector<std::unique_ptr<TCodeHighlighterAttributes>> FAttributes;
  TCodeNotifyEventChain FChangeHandlers{this};
  bool FEnabled = true;
  bool FLoading = false;
  std::string FDefaultFilter;
};

}  // namespace codeedit
