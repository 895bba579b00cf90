#include "editor/CodeEditHighlighter.h"

#include <QMetaObject>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "editor/CodeEditMiscProcs.h"
#include "editor/CodeUnicode.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "unicode/SupUnicode.h"

namespace codeedit {

using namespace platform;

namespace {

// An open registry key, closed when it goes.
class KeyHandle {
public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (FKey)
      RegCloseKey(FKey);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* out() { return &FKey; }
  HKEY get() const { return FKey; }

private:
  HKEY FKey{};
};

// A path as the framework writes it: a leading "\" means "from the root".
std::u16string keyPath(std::string_view Path) {
  while (!Path.empty() && Path.front() == '\\')
    Path.remove_prefix(1);
  return ansiToWide(Path);
}

bool openKey(HKEY Root, std::string_view Path, KeyHandle& Key) {
  const std::u16string path = keyPath(Path);
  return RegOpenKeyExW(Root, path.c_str(), 0, KEY_READ, Key.out()) == ERROR_SUCCESS;
}

bool createKey(HKEY Root, std::string_view Path, KeyHandle& Key) {
  const std::u16string path = keyPath(Path);
  return RegCreateKeyExW(Root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                         Key.out(), nullptr) == ERROR_SUCCESS;
}

bool valueExists(HKEY Key, std::string_view Name) {
  const std::u16string name = ansiToWide(Name);
  return RegQueryValueExW(Key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// A REG_DWORD value; anything else there raises.
std::uint32_t readInteger(HKEY Key, std::string_view Name) {
  const std::u16string name = ansiToWide(Name);
  DWORD type = 0;
  std::uint32_t value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      RegQueryValueExW(Key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
    throw ECodeRegistryError("Invalid data type for '" + std::string(Name) + "'");
  return value;
}

// A REG_SZ or REG_EXPAND_SZ value as 8-bit text; anything else there raises.
std::string readString(HKEY Key, std::string_view Name) {
  const std::u16string name = ansiToWide(Name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(Key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    throw ECodeRegistryError("Invalid data type for '" + std::string(Name) + "'");
  std::u16string text(size / 2 + 1, u'\0');
  size = static_cast<DWORD>(text.size() * 2);
  if (RegQueryValueExW(Key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    throw ECodeRegistryError("Invalid data type for '" + std::string(Name) + "'");
  text.resize(size / 2);
  const std::size_t end = text.find(u'\0');
  if (end != std::u16string::npos)
    text.resize(end);
  return wideToAnsi(text);
}

bool writeInteger(HKEY Key, std::string_view Name, std::uint32_t Value) {
  const std::u16string name = ansiToWide(Name);
  return RegSetValueExW(Key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Value), sizeof(Value)) ==
         ERROR_SUCCESS;
}

// Decimal, or hexadecimal after "$" or "0x", with an optional sign; raises
// for anything else.
long long toInteger(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '-' || Text[i] == '+'))
    negative = Text[i++] == '-';
  int base = 10;
  if (i < Text.size() && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == Text.size())
    throw std::invalid_argument("'" + std::string(Text) + "' is not a valid integer value");
  long long value = 0;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      throw std::invalid_argument("'" + std::string(Text) + "' is not a valid integer value");
    value = value * base + digit;
    if (value > 0xFFFFFFFFLL)
      throw std::invalid_argument("'" + std::string(Text) + "' is not a valid integer value");
  }
  return negative ? -value : value;
}

TColor paletteColor(long long Index) {
  // The settings name 16 colours; another index is a broken setting.
  if (Index < 0 || Index > 15)
    throw std::out_of_range("colour index out of range");
  return SettingsPalette[Index];
}

// A settings value is set unless it reads "0" or "false" in any case.
bool isSet(const std::string& Value) {
  std::string upper = Value;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
  return upper != "FALSE" && Value != "0";
}

struct TColorName {
  TColor Color;
  std::string_view Name;
};

constexpr std::array<TColorName, 42> kColorNames{{
    {0x000000, "clBlack"},         {0x000080, "clMaroon"},          {0x008000, "clGreen"},
    {0x008080, "clOlive"},         {0x800000, "clNavy"},            {0x800080, "clPurple"},
    {0x808000, "clTeal"},          {0x808080, "clGray"},            {0xC0C0C0, "clSilver"},
    {0x0000FF, "clRed"},           {0x00FF00, "clLime"},            {0x00FFFF, "clYellow"},
    {0xFF0000, "clBlue"},          {0xFF00FF, "clFuchsia"},         {0xFFFF00, "clAqua"},
    {0xFFFFFF, "clWhite"},         {0xC0DCC0, "clMoneyGreen"},      {0xF0CAA6, "clSkyBlue"},
    {0xF0FBFF, "clCream"},         {0xA4A0A0, "clMedGray"},         {0xFF000000, "clScrollBar"},
    {0xFF000001, "clBackground"},  {0xFF000002, "clActiveCaption"}, {0xFF000003, "clInactiveCaption"},
    {0xFF000004, "clMenu"},        {0xFF000005, "clWindow"},        {0xFF000006, "clWindowFrame"},
    {0xFF000007, "clMenuText"},    {0xFF000008, "clWindowText"},    {0xFF000009, "clCaptionText"},
    {0xFF00000A, "clActiveBorder"}, {0xFF00000B, "clInactiveBorder"}, {0xFF00000C, "clAppWorkSpace"},
    {0xFF00000D, "clHighlight"},   {0xFF00000E, "clHighlightText"}, {0xFF00000F, "clBtnFace"},
    {0xFF000010, "clBtnShadow"},   {0xFF000011, "clGrayText"},      {0xFF000012, "clBtnText"},
    {0xFF000014, "clBtnHighlight"}, {0x1FFFFFFF, "clNone"},         {0x20000000, "clDefault"},
}};

// Cuts the text before the first comma off Rest; without a comma, all of it.
std::string cutField(std::string& Rest) {
  const std::size_t comma = Rest.find(',');
  std::string field = Rest.substr(0, comma);
  Rest = comma == std::string::npos ? std::string() : Rest.substr(comma + 1);
  return field;
}

std::vector<const QMetaObject*>& highlighterClasses() {
  static std::vector<const QMetaObject*> list;
  return list;
}

}  // namespace

const TColor SettingsPalette[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                    0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                                    0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

bool IdentToColor(std::string_view Text, TColor& Color) {
  for (const TColorName& name : kColorNames)
    if (SameTextAscii(name.Name, Text)) {
      Color = name.Color;
      return true;
    }
  try {
    Color = static_cast<TColor>(toInteger(Text));
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

// ---- TCodeHighlighterAttributes

TCodeHighlighterAttributes::TCodeHighlighterAttributes(std::string StorageName, std::u16string Caption)
    : FStorageName(std::move(StorageName)), FCaption(std::move(Caption)) {}

void TCodeHighlighterAttributes::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TCodeHighlighterAttributes::SetBackground(TColor Value) {
  if (StoreChanged(FBackground, Value))
    Changed();
}

void TCodeHighlighterAttributes::SetForeground(TColor Value) {
  if (StoreChanged(FForeground, Value))
    Changed();
}

void TCodeHighlighterAttributes::SetStyle(TFontStyles Value) {
  if (StoreChanged(FStyle, Value))
    Changed();
}

void TCodeHighlighterAttributes::Assign(const TCodeHighlighterAttributes& Source) {
  FStorageName = Source.FStorageName;
  AssignColorAndStyle(Source);
}

void TCodeHighlighterAttributes::AssignColorAndStyle(const TCodeHighlighterAttributes& Source) {
  const bool background = StoreChanged(FBackground, Source.FBackground);
  const bool foreground = StoreChanged(FForeground, Source.FForeground);
  const bool style = StoreChanged(FStyle, Source.FStyle);
  if (background || foreground || style)
    Changed();
}

void TCodeHighlighterAttributes::RecordDefaults() {
  FDefaultBackground = FBackground;
  FDefaultForeground = FForeground;
  FDefaultStyle = FStyle;
}

void TCodeHighlighterAttributes::SetStyleBits(int Bits) {
  SetStyle(Bits & 1 ? fsBold : 0);
  if (Bits & 2)
    SetStyle(FStyle | fsItalic);
  if (Bits & 4)
    SetStyle(FStyle | fsUnderline);
  if (Bits & 8)
    SetStyle(FStyle | fsStrikeOut);
}

bool TCodeHighlighterAttributes::LoadFromRegistry(HKEY Key) {
  if (valueExists(Key, "Background"))
    SetBackground(readInteger(Key, "Background"));
  if (valueExists(Key, "Foreground"))
    SetForeground(readInteger(Key, "Foreground"));
  if (valueExists(Key, "Style"))
    SetStyleBits(static_cast<int>(readInteger(Key, "Style")));
  return true;
}

bool TCodeHighlighterAttributes::SaveToRegistry(HKEY Key) const {
  bool ok = writeInteger(Key, "Background", FBackground);
  ok = writeInteger(Key, "Foreground", FForeground) && ok;
  ok = writeInteger(Key, "Style", static_cast<std::uint32_t>(GetStyleBits())) && ok;
  return ok;
}

bool TCodeHighlighterAttributes::LoadFromEditorSettings(HKEY RootKey, const std::string& Key,
                                                        const std::string& AttrName, bool ListLayout) {
  try {
    return ListLayout ? loadListLayout(RootKey, Key, AttrName) : loadKeyLayout(RootKey, Key, AttrName);
  } catch (...) {
    return false;
  }
}

bool TCodeHighlighterAttributes::loadListLayout(HKEY RootKey, const std::string& Key, const std::string& AttrName) {
  KeyHandle key;
  if (!openKey(RootKey, Key, key) || !valueExists(key.get(), AttrName))
    return false;
  std::string rest = readString(key.get(), AttrName);
  std::array<std::string, 7> fields;
  for (std::size_t i = 0; i < 6; ++i)
    fields[i] = cutField(rest);
  fields[6] = rest;
  // Fields 1 and 2 carry nothing the attribute keeps.
  SetBackground(fields[4] == "1" ? clWindow : paletteColor(toInteger(fields[6])));
  SetForeground(fields[3] == "1" ? clWindowText : paletteColor(toInteger(fields[5])));
  TFontStyles style = 0;
  if (fields[2].find('B') != std::string::npos)
    style |= fsBold;
  if (fields[2].find('I') != std::string::npos)
    style |= fsItalic;
  if (fields[2].find('U') != std::string::npos)
    style |= fsUnderline;
  SetStyle(style);
  return true;
}

bool TCodeHighlighterAttributes::loadKeyLayout(HKEY RootKey, const std::string& Key, const std::string& AttrName) {
  KeyHandle key;
  if (!openKey(RootKey, Key + "\\" + AttrName, key))
    return false;
  // A colour as an index into the palette, or else as a colour name.
  auto color = [&](const std::string& name, TColor& value) {
    if (valueExists(key.get(), name)) {
      value = paletteColor(readInteger(key.get(), name));
      return true;
    }
    if (valueExists(key.get(), name + " New")) {
      if (!IdentToColor(readString(key.get(), name + " New"), value))
        throw std::invalid_argument("not a colour");
      return true;
    }
    return false;
  };
  TColor foreground = clNone;
  TColor background = clNone;
  if (!color("Foreground Color", foreground) || !color("Background Color", background))
    return false;
  for (const char* name : {"Bold", "Italic", "Underline", "Default Foreground", "Default Background"})
    if (!valueExists(key.get(), name))
      return false;
  const bool bold = isSet(readString(key.get(), "Bold"));
  const bool italic = isSet(readString(key.get(), "Italic"));
  const bool underline = isSet(readString(key.get(), "Underline"));
  const bool defaultForeground = isSet(readString(key.get(), "Default Foreground"));
  const bool defaultBackground = isSet(readString(key.get(), "Default Background"));
  SetBackground(defaultBackground ? clWindow : background);
  SetForeground(defaultForeground ? clWindowText : foreground);
  SetStyle(static_cast<TFontStyles>((bold ? fsBold : 0) | (italic ? fsItalic : 0) | (underline ? fsUnderline : 0)));
  return true;
}

// ---- TCodeCustomHighlighter

TCodeCustomHighlighter::TCodeCustomHighlighter(QObject* Owner) : QObject(Owner) {}

TCodeCustomHighlighter::~TCodeCustomHighlighter() = default;

int TCodeCustomHighlighter::AttributeCount() const { return static_cast<int>(FAttributes.size()); }

TCodeHighlighterAttributes* TCodeCustomHighlighter::AttributeByIndex(int Index) const {
  if (Index < 0 || Index >= AttributeCount())
    return nullptr;
  return FAttributes[static_cast<std::size_t>(Index)].get();
}

void TCodeCustomHighlighter::AddAttribute(std::unique_ptr<TCodeHighlighterAttributes> Attribute) {
  const auto at = std::lower_bound(FAttributes.begin(), FAttributes.end(), Attribute->StorageName(),
                                   [](const auto& item, const std::string& name) {
                                     return CompareTextAscii(item->StorageName(), name) < 0;
                                   });
  if (at != FAttributes.end() && CompareTextAscii((*at)->StorageName(), Attribute->StorageName()) == 0)
    throw sup::EStringListError("String list does not allow duplicates");
  FAttributes.insert(at, std::move(Attribute));
}

void TCodeCustomHighlighter::SetAttributesOnChange() {
  for (auto it = FAttributes.rbegin(); it != FAttributes.rend(); ++it) {
    TCodeHighlighterAttributes& attribute = **it;
    attribute.OnChange = [this](TCodeHighlighterAttributes& sender) { AttributeChanged(&sender); };
    attribute.RecordDefaults();
  }
}

void TCodeCustomHighlighter::AttributeChanged(void* Sender) {
  if (FLoading)
    return;
  FChangeHandlers.SetSender(Sender);
  FChangeHandlers.Fire();
}

void TCodeCustomHighlighter::SetEnabled(bool Value) {
  if (FEnabled == Value)
    return;
  FEnabled = Value;
  AttributeChanged(nullptr);
}

void TCodeCustomHighlighter::Loaded() {
  FLoading = false;
  AttributeChanged(nullptr);
}

bool TCodeCustomHighlighter::IsCurrentToken(std::u16string_view Token) const {
  if (static_cast<int>(Token.size()) != FIdentLength || FIdentStart < 0 ||
      FIdentStart + FIdentLength > static_cast<int>(FScanLine.size()))
    return false;
  return FScanLine.compare(static_cast<std::size_t>(FIdentStart), static_cast<std::size_t>(FIdentLength), Token) ==
         0;
}

bool TCodeCustomHighlighter::IsLineEnd(int Index) const {
  return Index >= FScanLength || FScanLine[static_cast<std::size_t>(Index)] == u'\n' ||
         FScanLine[static_cast<std::size_t>(Index)] == u'\r';
}

std::u16string TCodeCustomHighlighter::GetTokenText() const {
  const int start = std::clamp(FTokenStart, 0, static_cast<int>(FSourceLine.size()));
  const int end = std::clamp(FScanPos, start, static_cast<int>(FSourceLine.size()));
  return FSourceLine.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::u16string TCodeCustomHighlighter::GetColumnToken() const {
  if (!FHasColumnLine)
    return GetTokenText();
  const int start = std::clamp(FColumnTokenStart, 0, static_cast<int>(FColumnLine.size()));
  const int end = std::clamp(FColumnPos, start, static_cast<int>(FColumnLine.size()));
  return FColumnLine.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

int TCodeCustomHighlighter::GetColumnTokenPos() const { return FHasColumnLine ? FColumnTokenStart : FTokenStart; }

void TCodeCustomHighlighter::DoSetLine(std::u16string_view Line, int LineIndex) {
  // Every line of a text passes here: the buffers keep their storage.
  FScanLine.assign(Line);
  WideCharLowerBuff(FScanLine.data(), FScanLine.size());
  FScanLength = static_cast<int>(FScanLine.size());
  // Scanners look at the character after the last one: a NUL ends every line.
  FScanLine.push_back(u'\0');
  FSourceLine.assign(Line);
  FScanPos = 0;
  FTokenStart = 0;
  FColumnPos = 0;
  FColumnSyncPos = 0;
  FColumnTokenStart = 0;
  FLineIndex = LineIndex;
}

void TCodeCustomHighlighter::ScanNextToken() {
  if (FColumnSyncPos == FScanPos)
    return;
  FColumnTokenStart = FColumnPos;
  if (!FHasColumnLine)
    return;
  const int columnLength = static_cast<int>(FColumnLine.size());
  for (int i = FColumnSyncPos; i < FScanPos; ++i) {
    while (FColumnPos < columnLength && FColumnLine[static_cast<std::size_t>(FColumnPos)] == u'\uE000')
      ++FColumnPos;
    ++FColumnPos;
  }
  FColumnSyncPos = FScanPos;
}

void TCodeCustomHighlighter::SetLineWithColumns(std::u16string_view Line, std::u16string_view ColumnLine,
                                                int LineIndex) {
  FHasColumnLine = true;
  FColumnLine.assign(ColumnLine);
  DoSetLine(Line, LineIndex);
  ScanNextToken();
}

void TCodeCustomHighlighter::SetLine(std::u16string_view Line, int LineIndex) {
  FHasColumnLine = false;
  FColumnLine.clear();
  DoSetLine(Line, LineIndex);
  ScanNextToken();
}

void TCodeCustomHighlighter::NextToEol() {
  while (!AtLineEnd())
    ScanNextToken();
}

void TCodeCustomHighlighter::Assign(const TCodeCustomHighlighter& Source) {
  if (&Source == this)
    return;
  for (const auto& attribute : FAttributes)
    for (const auto& source : Source.FAttributes)
      if (source->StorageName() == attribute->StorageName()) {
        attribute->Assign(*source);
        break;
      }
  if (Source.metaObject() == metaObject())
    SetSampleText(Source.SampleText());
  SetDefaultFilter(Source.GetDefaultFilter());
  SetEnabled(Source.Enabled());
}

bool TCodeCustomHighlighter::IsIdentChar(char16_t Ch) const {
  return (Ch >= u'0' && Ch <= u'9') || (Ch >= u'A' && Ch <= u'Z') || (Ch >= u'a' && Ch <= u'z') || Ch == u'_';
}

bool TCodeCustomHighlighter::IsWhiteChar(char16_t Ch) const {
  if (Ch <= 32)
    return true;
  return !IsIdentChar(Ch) && !IsWordBreakChar(Ch);
}

bool TCodeCustomHighlighter::IsWordBreakChar(char16_t Ch) const {
  return Ch <= 47 || (Ch >= 58 && Ch <= 64) || (Ch >= 91 && Ch <= 94) || Ch == 96 || (Ch >= 123 && Ch <= 126) ||
         Ch == 167 || Ch == 176 || Ch == 180;
}

bool TCodeCustomHighlighter::SaveToRegistry(HKEY RootKey, const std::string& Key) {
  KeyHandle key;
  if (!createKey(RootKey, Key, key))
    return false;
  bool ok = true;
  for (const auto& attribute : FAttributes) {
    KeyHandle sub;
    ok = createKey(key.get(), attribute->StorageName(), sub) && attribute->SaveToRegistry(sub.get()) && ok;
  }
  return ok;
}

bool TCodeCustomHighlighter::LoadFromRegistry(HKEY RootKey, const std::string& Key) {
  KeyHandle key;
  if (!openKey(RootKey, Key, key))
    return false;
  bool ok = true;
  for (const auto& attribute : FAttributes) {
    KeyHandle sub;
    ok = openKey(key.get(), attribute->StorageName(), sub) && attribute->LoadFromRegistry(sub.get()) && ok;
  }
  return ok;
}

void TCodeCustomHighlighter::RegisterHighlighterClass(const QMetaObject* Class) {
  auto& list = highlighterClasses();
  if (std::find(list.begin(), list.end(), Class) == list.end())
    list.push_back(Class);
}

const std::vector<const QMetaObject*>& TCodeCustomHighlighter::HighlighterClasses() { return highlighterClasses(); }

}  // namespace codeedit
