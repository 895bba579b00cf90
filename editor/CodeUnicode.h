#pragma once

// Wide-character support of the editor library: zero-terminated wide-string
// routines, case conversion, code-page lookups, and the wide string list the
// editor's lines are kept in, with byte-order-mark aware loading and saving.
//
// 8-bit text is in the process's active code page, the same text .reg export
// writes. Nothing here is normalised: the editor shows and saves exactly the
// characters it was given.

#include <bitset>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "unicode/SupUnicode.h"

namespace codeedit {

using sup::EStreamError;
using sup::EStringListError;
using TObjectRef = sup::TObjectRef;

// A file could not be opened or read. ErrorCode is the system error code;
// the text reads "System Error.  Code: 2." and the code's own text below.
class EOSError : public std::runtime_error {
public:
  explicit EOSError(std::uint32_t Code);
  std::uint32_t ErrorCode;
};

// --- Zero-terminated wide strings -------------------------------------------

std::size_t WideStrLength(const char16_t* P);
char16_t* WideStrEnd(char16_t* P);
// Overlapping areas are allowed.
char16_t* WideStrMove(char16_t* Dest, const char16_t* Source, std::size_t Count);
char16_t* WideStrCopy(char16_t* Dest, const char16_t* Source);
// At most MaxLen characters, stopping at Source's 0; always writes a 0.
char16_t* WideStrLCopy(char16_t* Dest, const char16_t* Source, std::size_t MaxLen);
char16_t* WideStrCat(char16_t* Dest, const char16_t* Source);
// A block for Size characters; free it with WideStrDispose only.
char16_t* WideStrAlloc(std::size_t Size);
// A WideStrAlloc copy of P with its 0; nullptr for nullptr.
char16_t* WideStrNew(const char16_t* P);
void WideStrDispose(char16_t* P);

// --- Characters and case ------------------------------------------------------

inline constexpr bool IsWideTextSystem = true;
// The code page 8-bit text is converted with: the process's active one.
unsigned DefaultAnsiCodePage();

char16_t WideCharUpper(char16_t Ch);
char16_t WideCharLower(char16_t Ch);
// The zero-terminated string at P, converted in place; answers P.
char16_t* WideCharUpper(char16_t* P);
char16_t* WideCharLower(char16_t* P);
std::size_t WideCharUpperBuff(char16_t* Buffer, std::size_t Count);
std::size_t WideCharLowerBuff(char16_t* Buffer, std::size_t Count);
std::u16string WideUpperCaseOf(std::u16string_view S);
std::u16string WideLowerCaseOf(std::u16string_view S);
using TCodeCharSet = std::bitset<256>;
bool WideCharInSet(char16_t Ch, const TCodeCharSet& Set);
// Swaps the bytes of every character before the first 0, in place.
void SwapWideByteOrder(char16_t* P);
std::u16string WideStringOfChar(char16_t Ch, std::size_t Count);
// S without leading and trailing characters of code 32 and below.
std::u16string WideTrim(std::u16string_view S);
// Whether Ch survives a round trip through the default ANSI code page.
bool CharIsRepresentable(char16_t Ch);

// --- Code pages ---------------------------------------------------------------

unsigned CodePageFromLocale(sup::LCID Locale);
unsigned KeyboardCodePage();
char16_t KeyToUnicode(char Key);
std::u16string AnsiToWideInCodePage(std::string_view Text, unsigned CodePage);

// --- Wide string lists --------------------------------------------------------

enum TCodeSaveFormat : std::uint8_t { sfUTF16LE = 0, sfUTF16BE = 1, sfUTF8 = 2, sfAnsi = 3 };

class TUnicodeStrings {
public:
  using TConfirmConversionEvent = std::function<void(TUnicodeStrings& Sender, bool& Allowed)>;

  TUnicodeStrings() = default;
  virtual ~TUnicodeStrings() = default;
  TUnicodeStrings(const TUnicodeStrings&) = delete;
  TUnicodeStrings& operator=(const TUnicodeStrings&) = delete;

  // Another list: cleared, then its lines and objects added. 8-bit lines:
  // cleared, then the lines converted from the ANSI code page.
  void Assign(const TUnicodeStrings& Source);
  void Assign(const std::vector<std::string>& Source);
  void AssignTo(TUnicodeStrings& Dest) const;
  void AssignTo(std::vector<std::string>& Dest) const;

  virtual void ConfirmConversion(bool& Allowed);
  virtual std::u16string GetString(int Index) const = 0;
  virtual int GetCapacity() const { return GetCount(); }
  virtual int GetCount() const = 0;
  virtual TObjectRef GetObject(int Index) const;
  // The lines joined by CR LF, nothing after the last.
  virtual std::u16string GetAllText() const;
  virtual void PutString(int Index, std::u16string_view S) = 0;
  virtual void PutObject(int Index, TObjectRef Obj) = 0;
  virtual void SetCapacity(int NewCapacity);
  // Answers the index of the new line.
  virtual int Add(std::u16string_view S);
  virtual int AddObject(std::u16string_view S, TObjectRef Obj);
  // Each line converted from the ANSI code page, in one update.
  virtual void AddAnsiStrings(const std::vector<std::string>& Source);
  void AddStrings(const std::vector<std::string>& Source) { AddAnsiStrings(Source); }
  virtual void AddUnicodeStrings(const TUnicodeStrings& Source);
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Exchange(int Index1, int Index2);
  virtual std::u16string GetSeparatedText(std::u16string_view Separator) const;
  // GetAllText in a WideStrAlloc block; the caller frees it with WideStrDispose.
  virtual char16_t* GetTextBuffer() const;
  // The first line equal to S with case ignored; -1 when none.
  virtual int IndexOf(std::u16string_view S) const;
  virtual void Insert(int Index, std::u16string_view S) = 0;
  // Throws EOSError when the file cannot be opened or read.
  virtual void LoadFromFile(const std::string& FileName);
  // Reads from the stream's position to its end; the byte-order mark sets SaveFormat.
  virtual void LoadFromStream(std::istream& Stream);
  virtual void Move(int CurIndex, int NewIndex);
  // Replaces the file whole, with a byte-order mark, or leaves it as it was:
  // the text goes to a temporary file renamed over the old one. A refused
  // conversion touches no file. Throws EStreamError when the write fails.
  virtual void SaveToFile(const std::string& FileName);
  // Throws EStreamError when the stream refuses the bytes.
  virtual void SaveToStream(std::ostream& Stream, bool WithBOM);
  virtual void SetAllText(std::u16string_view Value);

  void BeginUpdate();
  void EndUpdate();
  // Same count and the same strings, case counting.
  bool Equals(const TUnicodeStrings& Other) const;
  void InsertObject(int Index, std::u16string_view S, TObjectRef Obj);

  int Count() const { return GetCount(); }
  std::u16string Strings(int Index) const { return GetString(Index); }
  std::u16string Text() const { return GetAllText(); }
  void SetText(std::u16string_view Value) { SetAllText(Value); }
  int UpdateCount() const { return FUpdateCount; }
  bool Saved() const { return FSaved; }
  TCodeSaveFormat SaveFormat() const { return FSaveFormat; }
  void SetSaveFormat(TCodeSaveFormat Value) { FSaveFormat = Value; }
  bool SaveUnicode() const { return FSaveFormat != sfAnsi; }

  TConfirmConversionEvent OnConfirmConversion;

protected:
  virtual void UpdatingChanged(bool Updating);
  // Throws EStringListError with Message formatted with Data (one %d).
  [[noreturn]] static void Error(const char* Message, int Data);

private:
  int FUpdateCount = 0;
  bool FSaved = false;
  TCodeSaveFormat FSaveFormat = sfUTF16LE;
};

// Ends an update on every way out of a scope. An event fired by the last
// EndUpdate may throw: the destructor lets it pass unless already unwinding.
class TUnicodeUpdateScope {
public:
  explicit TUnicodeUpdateScope(TUnicodeStrings& List) : FList(List) { FList.BeginUpdate(); }
  ~TUnicodeUpdateScope() noexcept(false);
  TUnicodeUpdateScope(const TUnicodeUpdateScope&) = delete;
  TUnicodeUpdateScope& operator=(const TUnicodeUpdateScope&) = delete;

private:
  TUnicodeStrings& FList;
};

enum TDuplicatePolicy : std::uint8_t { dpIgnore = 0, dpAccept = 1, dpError = 2 };

class TUnicodeStringList : public TUnicodeStrings {
public:
  using TNotifyEvent = std::function<void(TUnicodeStrings& Sender)>;

  TUnicodeStringList() = default;
  ~TUnicodeStringList() override;

  std::u16string GetString(int Index) const override;
  int GetCapacity() const override;
  int GetCount() const override;
  TObjectRef GetObject(int Index) const override;
  void PutString(int Index, std::u16string_view S) override;
  void PutObject(int Index, TObjectRef Obj) override;
  void SetCapacity(int NewCapacity) override;
  int Add(std::u16string_view S) override;
  void Clear() override;
  void Delete(int Index) override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(std::u16string_view S) const override;
  void Insert(int Index, std::u16string_view S) override;

  // Binary search, case ignored. Found: Index is the equal item (the first
  // one when duplicates are accepted). Not found: where S would go.
  virtual bool Find(std::u16string_view S, int& Index) const;
  virtual void Sort();

  bool Sorted() const { return FSorted; }
  // Turning sorting on sorts the list, so Find can rely on the order.
  void SetSorted(bool Value);
  TDuplicatePolicy Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicatePolicy Value) { FDuplicates = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  void UpdatingChanged(bool Updating) override;
  virtual void NotifyChanged();
  virtual void NotifyChanging();

private:
  struct Item {
    std::u16string Text;
    TObjectRef Object = nullptr;
  };

  void InsertItem(int Index, std::u16string_view S);
  void CheckIndex(int Index) const;
  void Grow();

  std::vector<Item> FItems;  // its size is the capacity
  int FCount = 0;
  bool FSorted = false;
  TDuplicatePolicy FDuplicates = dpIgnore;
};

}  // namespace codeedit
