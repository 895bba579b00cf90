#pragma once

// Wide string lists that read text files of any common encoding and write
// UTF-16 little-endian with a byte-order mark, an 8-bit view of such a list
// in a code page, and byte streams over files and memory.
//
// These lists keep every string exactly as given. They are unrelated to the
// normalising sup::TWideStringList, whose strings are stored in form C.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "unicode/SupUnicode.h"
#include "unicode/UniErrors.h"
#include "unicode/UniSysUtils.h"

namespace uni {

using sup::EStringListError;
using sup::TObjectRef;

// ---------------------------------------------------------------------------
// Streams

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// A byte stream with a position. Read and Write move as far as they can and
// return the bytes moved; ReadBuffer and WriteBuffer raise sup::EStreamError
// ("Stream read error", "Stream write error") when they fall short.
class TUniStream {
public:
  virtual ~TUniStream() = default;
  virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
  virtual std::size_t Write(const void* Buffer, std::size_t Count) = 0;
  // The new position; a position before the start raises sup::EStreamError.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  virtual std::int64_t Size();

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t Value) { Seek(Value, soBeginning); }
  void ReadBuffer(void* Buffer, std::size_t Count);
  void WriteBuffer(const void* Buffer, std::size_t Count);
};

// A file opened by a wide name. Mode 0xFFFF (fmCreate) creates or truncates
// the file; any other mode opens an existing one with the access of Mode & 3
// (see WideFileOpen). Failures raise EFCreateError "Cannot create file
// \"<full path>\". <system text>" or EFOpenError "Cannot open file ...".
inline constexpr unsigned fmCreate = 0xFFFF;

class TUniFileStream : public TUniStream {
public:
  TUniFileStream(std::u16string_view FileName, unsigned Mode);
  ~TUniFileStream() override;
  TUniFileStream(const TUniFileStream&) = delete;
  TUniFileStream& operator=(const TUniFileStream&) = delete;

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

  THandle Handle() const { return FHandle; }

private:
  THandle FHandle = kInvalidHandle;
};

// Bytes in memory; writing past the end grows them.
class TUniMemoryStream : public TUniStream {
public:
  TUniMemoryStream() = default;
  explicit TUniMemoryStream(std::string Bytes) : FBytes(std::move(Bytes)) {}

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FBytes.size()); }

  const std::string& Bytes() const { return FBytes; }

private:
  std::string FBytes;
  std::size_t FPosition = 0;
};

// ---------------------------------------------------------------------------
// Lists

enum TTextFileEncoding : std::uint8_t {
  tfeAnsi = 0,            // 8-bit text in the system code page
  tfeUnicode = 1,         // UTF-16 little-endian
  tfeUnicodeSwapped = 2,  // UTF-16 big-endian
  tfeUtf8 = 3,
};

class TUniStrings;

// The 8-bit view of a wide list.
class TAnsiStrings {
public:
  virtual ~TAnsiStrings() = default;
  virtual std::string GetString(int Index) const = 0;
  virtual int GetCount() const = 0;
  virtual TObjectRef GetObject(int Index) const = 0;
  virtual void PutString(int Index, std::string_view S) = 0;
  virtual void PutObject(int Index, TObjectRef Obj) = 0;
  virtual void Insert(int Index, std::string_view S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  // The bytes from the stream's position to its end, in CodePage, become the
  // whole text; the whole text is written in CodePage.
  virtual void LoadFromStreamInCodePage(TUniStream& Stream, unsigned CodePage) = 0;
  virtual void SaveToStreamInCodePage(TUniStream& Stream, unsigned CodePage) = 0;
};

// Shows a wide list (not owned) through its code page: CodePage, or
// DefaultAnsiCodePage when that is 0.
class TAnsiStringsForWideStringsAdapter : public TAnsiStrings {
public:
  explicit TAnsiStringsForWideStringsAdapter(TUniStrings& WideStrings, unsigned CodePage = 0)
      : FWideStrings(WideStrings), FCodePage(CodePage) {}

  virtual unsigned AdapterCodePage() const;
  void SetCodePage(unsigned Value) { FCodePage = Value; }

  std::string GetString(int Index) const override;
  int GetCount() const override;
  TObjectRef GetObject(int Index) const override;
  void PutString(int Index, std::string_view S) override;
  void PutObject(int Index, TObjectRef Obj) override;
  void Insert(int Index, std::string_view S) override;
  void Delete(int Index) override;
  void Clear() override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void LoadFromStreamInCodePage(TUniStream& Stream, unsigned CodePage) override;
  void SaveToStreamInCodePage(TUniStream& Stream, unsigned CodePage) override;

private:
  TUniStrings& FWideStrings;
  unsigned FCodePage;
};

// A list of wide lines, each with an object reference the list never owns.
// Files and streams are read with byte-order-mark detection and written as
// UTF-16 little-endian with the mark FF FE, every line ending in CR LF.
class TUniStrings {
public:
  TUniStrings();
  virtual ~TUniStrings();
  TUniStrings(const TUniStrings&) = delete;
  TUniStrings& operator=(const TUniStrings&) = delete;

  virtual std::u16string GetString(int Index) const = 0;
  virtual int GetCount() const = 0;
  virtual TObjectRef GetObject(int Index) const = 0;
  virtual int GetCapacity() const { return GetCount(); }
  virtual void PutString(int Index, std::u16string_view S) = 0;
  virtual void PutObject(int Index, TObjectRef Obj) = 0;
  virtual void SetCapacity(int) {}

  virtual int Add(std::u16string_view S) { return AddObject(S, nullptr); }
  virtual int AddObject(std::u16string_view S, TObjectRef Obj);
  virtual void Insert(int Index, std::u16string_view S) { InsertObject(Index, S, nullptr); }
  virtual void InsertObject(int Index, std::u16string_view S, TObjectRef Obj) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int Index1, int Index2);

  // Linear searches comparing with CompareItems; -1 when not found.
  virtual int IndexOf(std::u16string_view S) const;
  // The first "Name=..." line whose name part compares equal to Name.
  virtual int IndexOfName(std::u16string_view Name) const;
  int IndexOfObject(TObjectRef Obj) const;
  // Case ignored, in the user's locale: -1, 0 or 1.
  virtual int CompareItems(std::u16string_view S1, std::u16string_view S2) const;

  // Every line followed by CR LF.
  virtual std::u16string GetAllText() const;
  // Replaces all lines by Value split at CR LF, CR or LF; a line break at
  // the end starts no empty line. Nothing else is changed (a NUL is text).
  virtual void SetAllText(std::u16string_view Value);

  // The first BeginUpdate calls UpdatingChanged(true), the matching last
  // EndUpdate UpdatingChanged(false).
  void BeginUpdate();
  void EndUpdate();
  virtual void UpdatingChanged(bool) {}

  // From the stream's position: FF FE is tfeUnicode and FE FF
  // tfeUnicodeSwapped, the stream left after the mark; EF BB BF is tfeUtf8
  // likewise; anything else is tfeAnsi with the position unchanged.
  static TTextFileEncoding DetectByteOrderMark(TUniStream& Stream);
  virtual void LoadFromStreamDetectBOM(TUniStream& Stream, bool Detect);
  virtual void LoadFromStream(TUniStream& Stream) { LoadFromStreamDetectBOM(Stream, true); }
  virtual void LoadFromFile(std::u16string_view FileName);
  virtual void SaveToStreamWithBOM(TUniStream& Stream, bool WriteBOM);
  virtual void SaveToStream(TUniStream& Stream) { SaveToStreamWithBOM(Stream, true); }
  // Always UTF-16 little-endian with the mark, whatever LastFileEncoding says.
  virtual void SaveToFile(std::u16string_view FileName);

  int Count() const { return GetCount(); }
  std::u16string Strings(int Index) const { return GetString(Index); }
  TTextFileEncoding LastFileEncoding() const { return FLastFileEncoding; }
  TAnsiStrings& AnsiStrings() { return *FAnsiStrings; }
  // Replaces the lines by those of Value, each converted from the view's code
  // page, objects included.
  void SetAnsiStrings(const TAnsiStrings& Value);

protected:
  int UpdateCount() const { return FUpdateCount; }

private:
  std::unique_ptr<TAnsiStringsForWideStringsAdapter> FAnsiStrings;
  TTextFileEncoding FLastFileEncoding = tfeUnicode;
  int FUpdateCount = 0;
};

enum TDuplicateMode : std::uint8_t { dmIgnore = 0, dmAccept = 1, dmError = 2 };

// The list with storage: optionally sorted, with a rule for duplicates and
// change events. Every failure raises EStringListError and leaves the list
// unchanged: "List index out of bounds (<index>)", "String list does not
// allow duplicates", "Operation not allowed on sorted list".
class TUniStringList : public TUniStrings {
public:
  using TNotifyEvent = std::function<void(TUniStringList& Sender)>;
  using TCompareEvent = std::function<int(TUniStringList& List, int Index1, int Index2)>;

  TUniStringList() = default;
  ~TUniStringList() override;

  std::u16string GetString(int Index) const override;
  int GetCount() const override { return static_cast<int>(FItems.size()); }
  TObjectRef GetObject(int Index) const override;
  int GetCapacity() const override { return FCapacity; }
  void PutString(int Index, std::u16string_view S) override;
  void PutObject(int Index, TObjectRef Obj) override;
  // Below the count raises "List capacity out of bounds (<n>)".
  void SetCapacity(int NewCapacity) override;

  int AddObject(std::u16string_view S, TObjectRef Obj) override;
  void InsertObject(int Index, std::u16string_view S, TObjectRef Obj) override;
  void Delete(int Index) override;
  void Clear() override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(std::u16string_view S) const override;
  int IndexOfName(std::u16string_view Name) const override;
  int CompareItems(std::u16string_view S1, std::u16string_view S2) const override;
  void UpdatingChanged(bool Updating) override;

  // Bisection over the whole list (meant for a sorted one). A match sets
  // Index to a matching item, and with dmAccept to the first of the equal
  // items; no match sets it to where S would be inserted.
  virtual bool Find(std::u16string_view S, int& Index) const;
  virtual void Sort();
  // Quick sort with Compare; nothing when Sorted or fewer than two items.
  virtual void SortWith(const TCompareEvent& Compare);

  bool Sorted() const { return FSorted; }
  // Switching on sorts at once.
  void SetSorted(bool Value);
  TDuplicateMode DuplicateMode() const { return FDuplicateMode; }
  void SetDuplicateMode(TDuplicateMode Value) { FDuplicateMode = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value) { FCaseSensitive = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  virtual void NotifyChanged();
  virtual void NotifyChanging();
  virtual void InsertItem(int Index, std::u16string_view S, TObjectRef Obj);

private:
  struct TItem {
    std::u16string String;
    TObjectRef Object = nullptr;
  };

  void checkIndex(int Index) const;
  void grow();
  void quickSort(int L, int R, const TCompareEvent& Compare);

  std::vector<TItem> FItems;
  int FCapacity = 0;
  bool FUpdating = false;
  bool FSorted = false;
  TDuplicateMode FDuplicateMode = dmIgnore;
  bool FCaseSensitive = false;
};

}  // namespace uni
