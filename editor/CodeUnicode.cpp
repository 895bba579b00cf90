#include "editor/CodeUnicode.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/ErrorText.h"
#include "platform/Text.h"
#include "unicode/SortedLists.h"

namespace codeedit {

namespace {

std::string osErrorMessage(std::uint32_t code) {
  std::string message = "System Error.  Code: " + std::to_string(code) + ".";
  const std::string text = platform::systemErrorText(code);
  if (!text.empty()) message += "\r\n" + text;
  return message;
}

std::u16string_view untilZero(std::u16string_view S) {
  const std::size_t zero = S.find(u'\0');
  return zero == std::u16string_view::npos ? S : S.substr(0, zero);
}

bool isBaseLineBreak(char16_t c) { return (c >= 10 && c <= 13) || c == 0x2028 || c == 0x2029; }

// The whole of a file, read with plain system calls so a failure keeps its errno.
std::string readWholeFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EOSError(platform::errnoToWin32Error(errno));
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw EOSError(platform::errnoToWin32Error(err));
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

std::u16string utf16FromBytes(std::string_view bytes) {
  // An odd last byte is half a character and not part of the text.
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  if constexpr (std::endian::native == std::endian::big) sup::StrSwapByteOrder(text);
  return text;
}

}  // namespace

EOSError::EOSError(std::uint32_t Code) : std::runtime_error(osErrorMessage(Code)), ErrorCode(Code) {}

// --- Zero-terminated wide strings -------------------------------------------

std::size_t WideStrLength(const char16_t* P) {
  std::size_t n = 0;
  while (P[n] != u'\0') ++n;
  return n;
}

char16_t* WideStrEnd(char16_t* P) { return P + WideStrLength(P); }

char16_t* WideStrMove(char16_t* Dest, const char16_t* Source, std::size_t Count) {
  if (Count > 0) std::memmove(Dest, Source, Count * sizeof(char16_t));
  return Dest;
}

char16_t* WideStrCopy(char16_t* Dest, const char16_t* Source) {
  return WideStrMove(Dest, Source, WideStrLength(Source) + 1);
}

char16_t* WideStrLCopy(char16_t* Dest, const char16_t* Source, std::size_t MaxLen) {
  std::size_t i = 0;
  for (; i < MaxLen && Source[i] != u'\0'; ++i) Dest[i] = Source[i];
  Dest[i] = u'\0';
  return Dest;
}

char16_t* WideStrCat(char16_t* Dest, const char16_t* Source) {
  WideStrCopy(WideStrEnd(Dest), Source);
  return Dest;
}

// The block starts with its size in bytes (Size * 2 + 4, the count included);
// the caller sees the characters after it.
char16_t* WideStrAlloc(std::size_t Size) {
  const std::size_t bytes = Size * 2 + 4;
  auto* block = static_cast<std::uint32_t*>(std::malloc(bytes));
  if (block == nullptr) throw std::bad_alloc();
  *block = static_cast<std::uint32_t>(bytes);
  return reinterpret_cast<char16_t*>(block + 1);
}

char16_t* WideStrNew(const char16_t* P) {
  if (P == nullptr) return nullptr;
  const std::size_t n = WideStrLength(P) + 1;
  return WideStrMove(WideStrAlloc(n), P, n);
}

void WideStrDispose(char16_t* P) {
  if (P != nullptr) std::free(reinterpret_cast<std::uint32_t*>(P) - 1);
}

// --- Characters and case ------------------------------------------------------

unsigned DefaultAnsiCodePage() { return platform::activeCodePage(); }

namespace {

// Case mapping is the full Unicode one of C.UTF-8, whatever the environment's
// character type, as the lists' comparisons use.
class CaseLocale {
public:
  CaseLocale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
  ~CaseLocale() {
    if (locale_) freelocale(locale_);
  }
  CaseLocale(const CaseLocale&) = delete;
  CaseLocale& operator=(const CaseLocale&) = delete;

  // A character whose other case lies outside 16 bits, or that is half a
  // surrogate pair, stays as it is.
  char16_t map(char16_t ch, bool upper) const {
    if (ch >= 0xD800 && ch <= 0xDFFF) return ch;
    wint_t w = ch;
    if (locale_)
      w = upper ? towupper_l(w, locale_) : towlower_l(w, locale_);
    else if (ch < 0x80)
      w = upper ? (ch >= u'a' && ch <= u'z' ? ch - 32 : ch) : (ch >= u'A' && ch <= u'Z' ? ch + 32 : ch);
    return w <= 0xFFFF ? static_cast<char16_t>(w) : ch;
  }

private:
  locale_t locale_;
};

const CaseLocale& caseLocale() {
  static const CaseLocale locale;
  return locale;
}

}  // namespace

// ASCII maps alike in every locale and is most of the text: it goes without
// the locale.
char16_t WideCharUpper(char16_t Ch) {
  if (Ch < 0x80) return Ch >= u'a' && Ch <= u'z' ? static_cast<char16_t>(Ch - 32) : Ch;
  return caseLocale().map(Ch, true);
}
char16_t WideCharLower(char16_t Ch) {
  if (Ch < 0x80) return Ch >= u'A' && Ch <= u'Z' ? static_cast<char16_t>(Ch + 32) : Ch;
  return caseLocale().map(Ch, false);
}

char16_t* WideCharUpper(char16_t* P) {
  for (char16_t* c = P; *c != u'\0'; ++c) *c = WideCharUpper(*c);
  return P;
}

char16_t* WideCharLower(char16_t* P) {
  for (char16_t* c = P; *c != u'\0'; ++c) *c = WideCharLower(*c);
  return P;
}

std::size_t WideCharUpperBuff(char16_t* Buffer, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Buffer[i] = WideCharUpper(Buffer[i]);
  return Count;
}

std::size_t WideCharLowerBuff(char16_t* Buffer, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Buffer[i] = WideCharLower(Buffer[i]);
  return Count;
}

std::u16string WideUpperCaseOf(std::u16string_view S) {
  std::u16string r(S);
  WideCharUpperBuff(r.data(), r.size());
  return r;
}

std::u16string WideLowerCaseOf(std::u16string_view S) {
  std::u16string r(S);
  WideCharLowerBuff(r.data(), r.size());
  return r;
}

bool WideCharInSet(char16_t Ch, const TCodeCharSet& Set) { return Ch < 256 && Set.test(Ch); }

void SwapWideByteOrder(char16_t* P) {
  for (; *P != u'\0'; ++P) *P = static_cast<char16_t>((*P >> 8) | (*P << 8));
}

std::u16string WideStringOfChar(char16_t Ch, std::size_t Count) { return std::u16string(Count, Ch); }

std::u16string WideTrim(std::u16string_view S) {
  std::size_t first = 0, last = S.size();
  while (first < last && S[first] <= 32) ++first;
  while (last > first && S[last - 1] <= 32) --last;
  return std::u16string(S.substr(first, last - first));
}

bool CharIsRepresentable(char16_t Ch) {
  const unsigned cp = DefaultAnsiCodePage();
  const std::u16string one(1, Ch);
  return platform::codePageToWide(cp, platform::wideToCodePage(cp, one)) == one;
}

// --- Code pages ---------------------------------------------------------------

unsigned CodePageFromLocale(sup::LCID Locale) { return sup::CodePageFromLocale(Locale); }

unsigned KeyboardCodePage() { return CodePageFromLocale(sup::GetUserDefaultLCID()); }

char16_t KeyToUnicode(char Key) {
  const std::u16string wide = sup::MultiByteToWide(KeyboardCodePage(), std::string_view(&Key, 1));
  return wide.empty() ? u'\0' : wide.front();
}

std::u16string AnsiToWideInCodePage(std::string_view Text, unsigned CodePage) {
  return sup::MultiByteToWide(CodePage, Text);
}

// --- TUnicodeStrings ------------------------------------------------------------

TUnicodeUpdateScope::~TUnicodeUpdateScope() noexcept(false) {
  if (std::uncaught_exceptions() > 0) {
    try {
      FList.EndUpdate();
    } catch (...) {
      // The exception already on its way is the one to report.
    }
  } else {
    FList.EndUpdate();
  }
}

void TUnicodeStrings::Error(const char* Message, int Data) {
  char text[256];
  std::snprintf(text, sizeof text, Message, Data);
  throw EStringListError(text);
}

void TUnicodeStrings::Assign(const TUnicodeStrings& Source) {
  if (&Source == this) return;
  TUnicodeUpdateScope update(*this);
  Clear();
  AddUnicodeStrings(Source);
}

void TUnicodeStrings::Assign(const std::vector<std::string>& Source) {
  TUnicodeUpdateScope update(*this);
  Clear();
  AddAnsiStrings(Source);
}

void TUnicodeStrings::AssignTo(TUnicodeStrings& Dest) const { Dest.Assign(*this); }

void TUnicodeStrings::AssignTo(std::vector<std::string>& Dest) const {
  Dest.clear();
  const int count = GetCount();
  Dest.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) Dest.push_back(platform::wideToAnsi(GetString(i)));
}

void TUnicodeStrings::ConfirmConversion(bool& Allowed) {
  if (OnConfirmConversion) OnConfirmConversion(*this, Allowed);
}

TObjectRef TUnicodeStrings::GetObject(int) const { return nullptr; }

std::u16string TUnicodeStrings::GetAllText() const { return GetSeparatedText(u"\r\n"); }

void TUnicodeStrings::SetCapacity(int) {}

void TUnicodeStrings::UpdatingChanged(bool) {}

int TUnicodeStrings::Add(std::u16string_view S) {
  const int index = GetCount();
  Insert(index, S);
  return index;
}

int TUnicodeStrings::AddObject(std::u16string_view S, TObjectRef Obj) {
  const int index = Add(S);
  PutObject(index, Obj);
  return index;
}

void TUnicodeStrings::AddAnsiStrings(const std::vector<std::string>& Source) {
  const unsigned codePage = DefaultAnsiCodePage();
  TUnicodeUpdateScope update(*this);
  for (const std::string& line : Source) AddObject(sup::MultiByteToWide(codePage, line), nullptr);
}

void TUnicodeStrings::AddUnicodeStrings(const TUnicodeStrings& Source) {
  TUnicodeUpdateScope update(*this);
  const int count = Source.GetCount();
  for (int i = 0; i < count; ++i) AddObject(Source.GetString(i), Source.GetObject(i));
}

void TUnicodeStrings::Exchange(int Index1, int Index2) {
  TUnicodeUpdateScope update(*this);
  const std::u16string s1 = GetString(Index1);
  const TObjectRef o1 = GetObject(Index1);
  PutString(Index1, GetString(Index2));
  PutObject(Index1, GetObject(Index2));
  PutString(Index2, s1);
  PutObject(Index2, o1);
}

std::u16string TUnicodeStrings::GetSeparatedText(std::u16string_view Separator) const {
  const int count = GetCount();
  std::u16string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text.append(Separator);
    text += GetString(i);
  }
  return text;
}

char16_t* TUnicodeStrings::GetTextBuffer() const {
  const std::u16string text = GetAllText();
  char16_t* buffer = WideStrAlloc(text.size() + 1);
  WideStrMove(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

int TUnicodeStrings::IndexOf(std::u16string_view S) const {
  const int count = GetCount();
  for (int i = 0; i < count; ++i)
    if (sup::WideCompareText(GetString(i), S, sup::LOCALE_USER_DEFAULT) == 0) return i;
  return -1;
}

void TUnicodeStrings::LoadFromFile(const std::string& FileName) {
  std::istringstream in(readWholeFile(FileName));
  LoadFromStream(in);
}

void TUnicodeStrings::LoadFromStream(std::istream& Stream) {
  TUnicodeUpdateScope update(*this);
  const std::string bytes{std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()};
  if (Stream.bad()) throw EStreamError("Stream read error");
  const std::string_view all(bytes);
  std::u16string text;
  if (all.starts_with("\xFF\xFE")) {
    FSaveFormat = sfUTF16LE;
    text = utf16FromBytes(all.substr(2));
  } else if (all.starts_with("\xFE\xFF")) {
    FSaveFormat = sfUTF16BE;
    text = utf16FromBytes(all.substr(2));
    sup::StrSwapByteOrder(text);
  } else if (all.starts_with("\xEF\xBB\xBF")) {
    FSaveFormat = sfUTF8;
    text = sup::UTF8ToWideString(all.substr(3));
  } else {
    FSaveFormat = sfAnsi;
    text = platform::ansiToWide(all);
  }
  SetAllText(text);
}

void TUnicodeStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  TUnicodeUpdateScope update(*this);
  const std::u16string s = GetString(CurIndex);
  const TObjectRef o = GetObject(CurIndex);
  Delete(CurIndex);
  Insert(NewIndex, s);
  PutObject(NewIndex, o);
}

void TUnicodeStrings::SaveToFile(const std::string& FileName) {
  std::ostringstream out;
  SaveToStream(out, true);
  if (!FSaved) return;
  const std::string bytes = std::move(out).str();
  const int err = platform::writeFileAtomically(
      FileName, std::span<const std::byte>(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()));
  if (err != 0) {
    FSaved = false;
    throw EStreamError("Cannot create file \"" + FileName + "\". " + std::strerror(err));
  }
}

void TUnicodeStrings::SaveToStream(std::ostream& Stream, bool WithBOM) {
  const std::u16string text = GetAllText();
  bool allowed = true;
  FSaved = false;
  if (FSaveFormat == sfAnsi && OnConfirmConversion) {
    const std::u16string_view checked = untilZero(text);
    if (std::any_of(checked.begin(), checked.end(), [](char16_t c) { return c > 0xFF; }))
      ConfirmConversion(allowed);
  }
  if (!allowed) return;
  std::string bytes;
  switch (FSaveFormat) {
    case sfUTF16LE:
    case sfUTF16BE: {
      const bool little = FSaveFormat == sfUTF16LE;
      if (WithBOM) bytes = little ? "\xFF\xFE" : "\xFE\xFF";
      bytes.reserve(bytes.size() + text.size() * 2);
      for (char16_t c : text) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        bytes.push_back(little ? lo : hi);
        bytes.push_back(little ? hi : lo);
      }
      break;
    }
    case sfUTF8:
      if (WithBOM) bytes = "\xEF\xBB\xBF";
      bytes += sup::WideStringToUTF8(text);
      break;
    case sfAnsi:
      bytes = platform::wideToAnsi(text);
      break;
  }
  Stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!Stream) throw EStreamError("Stream write error");
  FSaved = true;
}

void TUnicodeStrings::SetAllText(std::u16string_view Value) {
  TUnicodeUpdateScope update(*this);
  Clear();
  const std::u16string_view text = untilZero(Value);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && !isBaseLineBreak(text[end])) ++end;
    Add(text.substr(start, end - start));
    if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n') ++end;
    start = end + 1;
  }
}

void TUnicodeStrings::BeginUpdate() {
  if (FUpdateCount == 0) UpdatingChanged(true);
  ++FUpdateCount;
}

void TUnicodeStrings::EndUpdate() {
  if (FUpdateCount == 0) return;  // an unmatched end would leave the depth negative
  --FUpdateCount;
  if (FUpdateCount == 0) UpdatingChanged(false);
}

bool TUnicodeStrings::Equals(const TUnicodeStrings& Other) const {
  const int count = GetCount();
  if (count != Other.GetCount()) return false;
  for (int i = 0; i < count; ++i)
    if (GetString(i) != Other.GetString(i)) return false;
  return true;
}

void TUnicodeStrings::InsertObject(int Index, std::u16string_view S, TObjectRef Obj) {
  Insert(Index, S);
  PutObject(Index, Obj);
}

// --- TUnicodeStringList ---------------------------------------------------------

TUnicodeStringList::~TUnicodeStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  FItems.clear();
  FCount = 0;
}

void TUnicodeStringList::CheckIndex(int Index) const {
  if (static_cast<unsigned>(Index) >= static_cast<unsigned>(FCount)) Error("List index out of bounds (%d)", Index);
}

std::u16string TUnicodeStringList::GetString(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].Text;
}

int TUnicodeStringList::GetCapacity() const { return static_cast<int>(FItems.size()); }
int TUnicodeStringList::GetCount() const { return FCount; }

TObjectRef TUnicodeStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].Object;
}

void TUnicodeStringList::PutString(int Index, std::u16string_view S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  CheckIndex(Index);
  NotifyChanging();
  FItems[static_cast<std::size_t>(Index)].Text = S;
  NotifyChanged();
}

void TUnicodeStringList::PutObject(int Index, TObjectRef Obj) {
  CheckIndex(Index);
  NotifyChanging();
  FItems[static_cast<std::size_t>(Index)].Object = Obj;
  NotifyChanged();
}

void TUnicodeStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < 0) NewCapacity = 0;
  FItems.resize(static_cast<std::size_t>(NewCapacity));
  FItems.shrink_to_fit();
  if (NewCapacity < FCount) FCount = NewCapacity;
}

void TUnicodeStringList::Grow() {
  const int length = static_cast<int>(FItems.size());
  const int delta = length > 64 ? length / 4 : length > 8 ? 16 : 4;
  FItems.reserve(static_cast<std::size_t>(length + delta));
  FItems.resize(static_cast<std::size_t>(length + delta));
}

int TUnicodeStringList::Add(std::u16string_view S) {
  int index = FCount;
  if (FSorted && Find(S, index)) {
    if (FDuplicates == dpIgnore) return index;
    if (FDuplicates == dpError) Error("String list does not allow duplicates", 0);
  }
  InsertItem(index, S);
  return index;
}

void TUnicodeStringList::InsertItem(int Index, std::u16string_view S) {
  // Copied first: S may be a view of an item that growing moves.
  std::u16string text(S);
  NotifyChanging();
  if (FCount == static_cast<int>(FItems.size())) Grow();
  const auto at = FItems.begin() + Index;
  std::move_backward(at, FItems.begin() + FCount, FItems.begin() + FCount + 1);
  *at = Item{std::move(text), nullptr};
  ++FCount;
  NotifyChanged();
}

void TUnicodeStringList::Clear() {
  if (FCount == 0) return;
  NotifyChanging();
  FItems.clear();
  FCount = 0;
  SetCapacity(0);
  NotifyChanged();
}

void TUnicodeStringList::Delete(int Index) {
  CheckIndex(Index);
  NotifyChanging();
  std::move(FItems.begin() + Index + 1, FItems.begin() + FCount, FItems.begin() + Index);
  --FCount;
  FItems[static_cast<std::size_t>(FCount)] = Item{};
  NotifyChanged();
}

void TUnicodeStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  NotifyChanging();
  std::swap(FItems[static_cast<std::size_t>(Index1)], FItems[static_cast<std::size_t>(Index2)]);
  NotifyChanged();
}

int TUnicodeStringList::IndexOf(std::u16string_view S) const {
  if (!FSorted) return TUnicodeStrings::IndexOf(S);
  int index = 0;
  return Find(S, index) ? index : -1;
}

void TUnicodeStringList::Insert(int Index, std::u16string_view S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  if (static_cast<unsigned>(Index) > static_cast<unsigned>(FCount)) Error("List index out of bounds (%d)", Index);
  InsertItem(Index, S);
}

bool TUnicodeStringList::Find(std::u16string_view S, int& Index) const {
  return sup::FindInSorted(
      FCount,
      [&](int i) { return sup::WideCompareText(FItems[static_cast<std::size_t>(i)].Text, S, sup::LOCALE_USER_DEFAULT); },
      FDuplicates == dpAccept, Index);
}

void TUnicodeStringList::Sort() {
  if (FSorted || FCount < 2) return;
  NotifyChanging();
  sup::QuickSortItems(
      FItems, 0, FCount - 1, [](const Item& item) -> std::u16string_view { return item.Text; },
      [](std::u16string_view a, std::u16string_view b) { return sup::WideCompareText(a, b, sup::LOCALE_USER_DEFAULT); });
  NotifyChanged();
}

void TUnicodeStringList::SetSorted(bool Value) {
  if (Value == FSorted) return;
  if (Value) Sort();
  FSorted = Value;
}

void TUnicodeStringList::UpdatingChanged(bool Updating) {
  if (Updating)
    NotifyChanging();
  else
    NotifyChanged();
}

void TUnicodeStringList::NotifyChanged() {
  if (UpdateCount() == 0 && OnChange) OnChange(*this);
}

void TUnicodeStringList::NotifyChanging() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(*this);
}

}  // namespace codeedit
