#pragma once

// Unicode normalisation and the normalising wide string list.
//
// TWideStringList stores every non-empty string in normalisation form C, built
// from the program's own Unicode 4.1 tables (SupUnicodeData.cpp). Native key
// and value names are read into it, so a name whose stored form is decomposed
// reaches the windows composed, and compares equal to the composed name that
// the ordinary interface returns. The stored text is therefore for display and
// comparison only: rawString() keeps each string as it was given, and registry
// operations must use that, or two names that differ only in composed and
// decomposed form would become one.
//
// Normalisation works on 16-bit units: a surrogate half has no data, so
// characters above U+FFFF pass through unchanged. Two details of the tables
// differ from the standard and are kept on purpose: singleton decompositions
// (U+212B, U+2126, the CJK compatibility ideographs, ...) are not applied, and
// U+05D9 U+05B4 composes to U+FB1D.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sup {

// A locale identifier. The lists use the user's locale, which on Linux is the
// one the environment selects (LC_ALL, LC_COLLATE, LANG).
using LCID = std::uint32_t;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
LCID GetUserDefaultLCID();

enum TNormalForm : std::uint8_t { nfNone = 0, nfC = 1, nfD = 2, nfKC = 3, nfKD = 4 };

enum TWideTextFormat : std::uint8_t { wtfUtf16LE = 0, wtfUtf16BE = 1, wtfUtf8 = 2, wtfAnsi = 3 };

// --- Normalisation ---------------------------------------------------------

std::u16string WideNormalize(std::u16string_view S, TNormalForm Form);
// Decomposes each 16-bit unit fully, then orders the marks canonically.
std::u16string WideDecompose(std::u16string_view S, bool Compatible);
// The decomposition of one code point (Hangul syllables algorithmically); empty
// when it has none. Not recursive: the table holds full decompositions already.
std::u32string UnicodeDecompose(char32_t Code, bool Compatible);
// U+AC00..U+D7A3 into two or three jamo; other code points give themselves.
std::u32string DecomposeHangul(char32_t S);
// 0 for every code point without data.
std::uint8_t CanonicalCombiningClass(char32_t Code);
// True with the composite when First, Second (both at most U+FFFF) compose.
bool UnicodeComposePair(char32_t First, char32_t Second, char32_t& Composite);
// Stably sorts each run of non-starters by combining class, in place.
void WideCanonicalOrder(std::u16string& S);
std::u16string WideComposeHangul(std::u16string_view S);
// Hangul composition, then canonical composition.
std::u16string WideCompose(std::u16string_view S);

// Locale comparison with case ignored: -1, 0 or 1.
int WideCompareText(std::u16string_view A, std::u16string_view B, LCID Locale);
// The same with case: -1, 0 or 1.
int WideCompareStr(std::u16string_view A, std::u16string_view B, LCID Locale);

// --- Code pages and UTF-8 ---------------------------------------------------

// The 8-bit code page of a locale; on Linux the process's active code page.
unsigned CodePageFromLocale(LCID Locale);
std::u16string MultiByteToWide(unsigned CodePage, std::string_view Text);
std::string WideToMultiByte(unsigned CodePage, std::u16string_view Text);
// A surrogate pair becomes one 4-byte sequence; a lone surrogate its own 3 bytes.
std::string WideStringToUTF8(std::u16string_view S);
// Sequences of up to 6 bytes, not validated (a continuation byte gives its low
// 6 bits whatever its top bits); a sequence cut off by the end of the text takes
// what is there. Values above U+FFFF become surrogate pairs, values beyond
// U+10FFFF U+FFFD.
std::u16string UTF8ToWideString(std::string_view S);
void StrSwapByteOrder(std::u16string& S);

// --- Lists -----------------------------------------------------------------

// The string list error: bad index, operation on a sorted list, duplicate.
class EStringListError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A file could not be opened or created, or a stream failed.
class EStreamError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An object reference carried beside each string; the list never owns it.
using TObjectRef = void*;

enum TDuplicates : std::uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TWideStrings {
public:
  using TNotifyEvent = std::function<void(TWideStrings& Sender)>;
  using TConfirmConversionEvent = std::function<void(TWideStrings& Sender, bool& Allowed)>;

  TWideStrings();
  virtual ~TWideStrings();
  TWideStrings(const TWideStrings&) = delete;
  TWideStrings& operator=(const TWideStrings&) = delete;

  // Another list: cleared, then its lines added. An 8-bit list: cleared, then
  // its lines converted from the language's code page.
  virtual void Assign(const TWideStrings& Source);
  void Assign(const std::vector<std::string>& Source);
  virtual void AssignTo(TWideStrings& Dest) const;
  // The lines converted to the language's code page.
  void AssignTo(std::vector<std::string>& Dest) const;

  virtual std::u16string GetString(int Index) const = 0;
  virtual int GetCapacity() const { return GetCount(); }
  virtual int GetCount() const = 0;
  virtual TObjectRef GetObject(int Index) const { return nullptr; }
  virtual std::u16string GetAllText() const;
  virtual void PutString(int Index, std::u16string_view S) = 0;
  virtual void PutObject(int Index, TObjectRef Obj) = 0;
  virtual void SetCapacity(int NewCapacity) {}
  virtual void SetLanguage(LCID Value) { FLanguage = Value; }

  virtual int Add(std::u16string_view S);
  virtual int AddObject(std::u16string_view S, TObjectRef Obj);
  virtual void AddAnsiStrings(const std::vector<std::string>& Strings);
  virtual void AddWideStrings(const TWideStrings& Strings);
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Exchange(int Index1, int Index2);
  virtual std::u16string GetSeparatedText(std::u16string_view Separator) const;
  virtual int IndexOf(std::u16string_view S) const;
  virtual void Insert(int Index, std::u16string_view S) = 0;
  void InsertObject(int Index, std::u16string_view S, TObjectRef Obj);
  virtual void LoadFromFile(const std::string& FileName);
  virtual void LoadFromStream(std::istream& Stream);
  virtual void Move(int CurIndex, int NewIndex);
  virtual void SaveToFile(const std::string& FileName);
  virtual void SaveToStream(std::ostream& Stream);
  virtual void SetAllText(std::u16string_view Value);

  void BeginUpdate();
  void EndUpdate();

  int Count() const { return GetCount(); }
  std::u16string Strings(int Index) const { return GetString(Index); }

  LCID Language() const { return FLanguage; }
  bool Saved() const { return FSaved; }
  TNormalForm NormalForm() const { return FNormalForm; }
  void SetNormalForm(TNormalForm Value) { FNormalForm = Value; }
  TWideTextFormat TextFormat() const { return FTextFormat; }
  void SetTextFormat(TWideTextFormat Value) { FTextFormat = Value; }
  int UpdateCount() const { return FUpdateCount; }

  TConfirmConversionEvent OnConfirmConversion;

protected:
  // True unless an assigned confirmation event refuses.
  virtual bool ConfirmConversion();
  virtual void UpdatingChanged(bool Updating) {}

  int FUpdateCount = 0;
  LCID FLanguage;
  bool FSaved = false;
  TNormalForm FNormalForm = nfC;
  TWideTextFormat FTextFormat = wtfUtf16LE;
};

class TWideStringList : public TWideStrings {
public:
  TWideStringList();
  ~TWideStringList() override;

  std::u16string GetString(int Index) const override;
  int GetCapacity() const override;
  int GetCount() const override;
  TObjectRef GetObject(int Index) const override;
  void PutString(int Index, std::u16string_view S) override;
  void PutObject(int Index, TObjectRef Obj) override;
  void SetCapacity(int NewCapacity) override;
  void SetLanguage(LCID Value) override;
  int Add(std::u16string_view S) override;
  void Clear() override;
  void Delete(int Index) override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(std::u16string_view S) const override;
  void Insert(int Index, std::u16string_view S) override;

  // Binary search of a sorted list; Index is the first equal item, or where S
  // would be inserted.
  virtual bool Find(std::u16string_view S, int& Index) const;
  virtual void Sort();

  // The string as it was given to Add, Insert or PutString, before
  // normalisation: the name to hand back to the registry.
  std::u16string rawString(int Index) const;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  void UpdatingChanged(bool Updating) override;
  virtual void NotifyChanged();
  virtual void NotifyChanging();

private:
  struct Item {
    std::u16string text;
    std::u16string raw;  // empty when equal to text
    bool rawDiffers = false;
    TObjectRef object = nullptr;
  };

  void InsertItem(int Index, std::u16string_view S);
  void StoreText(Item& item, std::u16string_view S) const;
  void CheckIndex(int Index) const;
  void Grow();
  void QuickSort(int L, int R);
  int Compare(std::u16string_view A, std::u16string_view B) const;

  std::vector<Item> FList;  // its size is the capacity
  int FCount = 0;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
};

}  // namespace sup
