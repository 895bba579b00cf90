#include "unicode/UniClasses.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <utility>

#include <sys/types.h>
#include <unistd.h>

#include "platform/Text.h"
#include "platform/WinTypes.h"
#include "unicode/SortedLists.h"
#include "unicode/UniSystem.h"

namespace uni {

namespace {

std::string numberText(long long n) { return std::to_string(n); }

[[noreturn]] void listError(const std::string& text) { throw EStringListError(text); }

[[noreturn]] void indexError(int index) { listError("List index out of bounds (" + numberText(index) + ")"); }

// Ends an update on every way out of a load.
class UpdateScope {
public:
  explicit UpdateScope(TUniStrings& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateScope() { list_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

private:
  TUniStrings& list_;
};

// The bytes from the stream's position to its end.
std::string readRest(TUniStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  if (left <= 0) return {};
  std::string bytes(static_cast<std::size_t>(left), '\0');
  stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

std::string utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// Whole units only: a trailing odd byte is no part of the text.
std::u16string unitsFromLittleEndian(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams

std::int64_t TUniStream::Size() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t end = Seek(0, soEnd);
  Seek(position, soBeginning);
  return end;
}

void TUniStream::ReadBuffer(void* Buffer, std::size_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw sup::EStreamError("Stream read error");
}

void TUniStream::WriteBuffer(const void* Buffer, std::size_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw sup::EStreamError("Stream write error");
}

TUniFileStream::TUniFileStream(std::u16string_view FileName, unsigned Mode) {
  const bool create = Mode == fmCreate;
  FHandle = create ? WideFileCreate(FileName) : WideFileOpen(FileName, Mode);
  if (FHandle != kInvalidHandle) return;
  const std::string text = std::string(create ? "Cannot create file \"" : "Cannot open file \"") +
                           platform::wideToAnsi(WideExpandFileName(FileName)) + "\". " +
                           platform::wideToAnsi(WideSysErrorMessage(platform::GetLastError()));
  if (create) throw EFCreateError(text);
  throw EFOpenError(text);
}

TUniFileStream::~TUniFileStream() { WideFileClose(FHandle); }

std::size_t TUniFileStream::Read(void* Buffer, std::size_t Count) {
  auto* out = static_cast<char*>(Buffer);
  std::size_t done = 0;
  while (done < Count) {
    const ssize_t n = ::read(FHandle, out + done, Count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t TUniFileStream::Write(const void* Buffer, std::size_t Count) {
  const auto* in = static_cast<const char*>(Buffer);
  std::size_t done = 0;
  while (done < Count) {
    const ssize_t n = ::write(FHandle, in + done, Count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::int64_t TUniFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t position = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (position < 0) throw sup::EStreamError("Stream seek error");
  return position;
}

std::size_t TUniMemoryStream::Read(void* Buffer, std::size_t Count) {
  if (FPosition >= FBytes.size()) return 0;
  const std::size_t n = std::min(Count, FBytes.size() - FPosition);
  std::memcpy(Buffer, FBytes.data() + FPosition, n);
  FPosition += n;
  return n;
}

std::size_t TUniMemoryStream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return 0;
  if (FPosition > FBytes.size() || Count > FBytes.size() - FPosition)
    FBytes.resize(FPosition + Count, '\0');
  std::memcpy(FBytes.data() + FPosition, Buffer, Count);
  FPosition += Count;
  return Count;
}

std::int64_t TUniMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const std::int64_t base = Origin == soBeginning ? 0
                            : Origin == soCurrent ? static_cast<std::int64_t>(FPosition)
                                                  : static_cast<std::int64_t>(FBytes.size());
  const std::int64_t position = base + Offset;
  if (position < 0) throw sup::EStreamError("Stream seek error");
  FPosition = static_cast<std::size_t>(position);
  return position;
}

// ---------------------------------------------------------------------------
// The 8-bit view

unsigned TAnsiStringsForWideStringsAdapter::AdapterCodePage() const {
  return FCodePage != 0 ? FCodePage : DefaultAnsiCodePage();
}

std::string TAnsiStringsForWideStringsAdapter::GetString(int Index) const {
  return WideToCodePage(FWideStrings.GetString(Index), AdapterCodePage());
}

int TAnsiStringsForWideStringsAdapter::GetCount() const { return FWideStrings.GetCount(); }

TObjectRef TAnsiStringsForWideStringsAdapter::GetObject(int Index) const { return FWideStrings.GetObject(Index); }

void TAnsiStringsForWideStringsAdapter::PutString(int Index, std::string_view S) {
  FWideStrings.PutString(Index, CodePageToWide(S, AdapterCodePage()));
}

void TAnsiStringsForWideStringsAdapter::PutObject(int Index, TObjectRef Obj) { FWideStrings.PutObject(Index, Obj); }

void TAnsiStringsForWideStringsAdapter::Insert(int Index, std::string_view S) {
  FWideStrings.Insert(Index, CodePageToWide(S, AdapterCodePage()));
}

void TAnsiStringsForWideStringsAdapter::Delete(int Index) { FWideStrings.Delete(Index); }

void TAnsiStringsForWideStringsAdapter::Clear() { FWideStrings.Clear(); }

void TAnsiStringsForWideStringsAdapter::BeginUpdate() { FWideStrings.BeginUpdate(); }

void TAnsiStringsForWideStringsAdapter::EndUpdate() { FWideStrings.EndUpdate(); }

void TAnsiStringsForWideStringsAdapter::LoadFromStreamInCodePage(TUniStream& Stream, unsigned CodePage) {
  UpdateScope update(FWideStrings);
  FWideStrings.SetAllText(CodePageToWide(readRest(Stream), CodePage));
}

void TAnsiStringsForWideStringsAdapter::SaveToStreamInCodePage(TUniStream& Stream, unsigned CodePage) {
  const std::string bytes = WideToCodePage(FWideStrings.GetAllText(), CodePage);
  Stream.WriteBuffer(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------
// TUniStrings

TUniStrings::TUniStrings() : FAnsiStrings(std::make_unique<TAnsiStringsForWideStringsAdapter>(*this)) {}

TUniStrings::~TUniStrings() = default;

void TUniStrings::SetAnsiStrings(const TAnsiStrings& Value) {
  if (&Value == FAnsiStrings.get()) return;
  UpdateScope update(*this);
  Clear();
  for (int i = 0; i < Value.GetCount(); ++i) {
    const int index = GetCount();
    FAnsiStrings->Insert(index, Value.GetString(i));
    PutObject(index, Value.GetObject(i));
  }
}

int TUniStrings::AddObject(std::u16string_view S, TObjectRef Obj) {
  const int index = GetCount();
  InsertObject(index, S, Obj);
  return index;
}

void TUniStrings::Exchange(int Index1, int Index2) {
  const std::u16string s1 = GetString(Index1);
  const TObjectRef o1 = GetObject(Index1);
  PutString(Index1, GetString(Index2));
  PutObject(Index1, GetObject(Index2));
  PutString(Index2, s1);
  PutObject(Index2, o1);
}

int TUniStrings::IndexOf(std::u16string_view S) const {
  for (int i = 0; i < GetCount(); ++i)
    if (CompareItems(GetString(i), S) == 0) return i;
  return -1;
}

int TUniStrings::IndexOfName(std::u16string_view Name) const {
  for (int i = 0; i < GetCount(); ++i) {
    const std::u16string line = GetString(i);
    const std::size_t separator = line.find(u'=');
    if (separator != std::u16string::npos &&
        CompareItems(std::u16string_view(line).substr(0, separator), Name) == 0)
      return i;
  }
  return -1;
}

int TUniStrings::IndexOfObject(TObjectRef Obj) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetObject(i) == Obj) return i;
  return -1;
}

int TUniStrings::CompareItems(std::u16string_view S1, std::u16string_view S2) const {
  return sup::WideCompareText(S1, S2, sup::LOCALE_USER_DEFAULT);
}

std::u16string TUniStrings::GetAllText() const {
  std::u16string text;
  for (int i = 0; i < GetCount(); ++i) {
    text += GetString(i);
    text += u"\r\n";
  }
  return text;
}

void TUniStrings::SetAllText(std::u16string_view Value) {
  UpdateScope update(*this);
  Clear();
  std::size_t i = 0;
  while (i < Value.size()) {
    const std::size_t end = std::min(Value.find_first_of(u"\r\n", i), Value.size());
    Add(Value.substr(i, end - i));
    i = end;
    if (i < Value.size() && Value[i] == u'\r') ++i;
    if (i < Value.size() && Value[i] == u'\n') ++i;
  }
}

void TUniStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) UpdatingChanged(true);
}

void TUniStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) UpdatingChanged(false);
}

TTextFileEncoding TUniStrings::DetectByteOrderMark(TUniStream& Stream) {
  const std::int64_t left = Stream.Size() - Stream.Position();
  if (left > 1) {
    unsigned char mark[3] = {};
    Stream.ReadBuffer(mark, 2);
    if (mark[0] == 0xFF && mark[1] == 0xFE) return tfeUnicode;
    if (mark[0] == 0xFE && mark[1] == 0xFF) return tfeUnicodeSwapped;
    Stream.Seek(-2, soCurrent);
    if (left > 2) {
      Stream.ReadBuffer(mark, 3);
      if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) return tfeUtf8;
      Stream.Seek(-3, soCurrent);
    }
  }
  return tfeAnsi;
}

void TUniStrings::LoadFromStreamDetectBOM(TUniStream& Stream, bool Detect) {
  UpdateScope update(*this);
  const TTextFileEncoding encoding = Detect ? DetectByteOrderMark(Stream) : tfeUnicode;
  const std::string bytes = readRest(Stream);
  std::u16string text;
  switch (encoding) {
    case tfeUnicode:
      text = unitsFromLittleEndian(bytes);
      break;
    case tfeUnicodeSwapped:
      // Every unit is swapped, those after a U+0000 too: the text goes on.
      text = unitsFromLittleEndian(bytes);
      SwapWideByteOrder(text);
      break;
    case tfeUtf8:
      text = UTF8ToWide(bytes);
      break;
    case tfeAnsi:
      text = CodePageToWide(bytes, DefaultAnsiCodePage());
      break;
  }
  SetAllText(text);
}

void TUniStrings::LoadFromFile(std::u16string_view FileName) {
  TUniFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  FLastFileEncoding = DetectByteOrderMark(stream);
  stream.SetPosition(0);
  LoadFromStream(stream);
}

void TUniStrings::SaveToStreamWithBOM(TUniStream& Stream, bool WriteBOM) {
  if (WriteBOM) Stream.WriteBuffer("\xFF\xFE", 2);
  const std::string bytes = utf16LeBytes(GetAllText());
  Stream.WriteBuffer(bytes.data(), bytes.size());
}

void TUniStrings::SaveToFile(std::u16string_view FileName) {
  TUniFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

// ---------------------------------------------------------------------------
// TUniStringList

TUniStringList::~TUniStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
}

void TUniStringList::checkIndex(int Index) const {
  if (Index < 0 || Index >= GetCount()) indexError(Index);
}

std::u16string TUniStringList::GetString(int Index) const {
  checkIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].String;
}

TObjectRef TUniStringList::GetObject(int Index) const {
  checkIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].Object;
}

void TUniStringList::PutString(int Index, std::u16string_view S) {
  if (FSorted) listError("Operation not allowed on sorted list");
  checkIndex(Index);
  NotifyChanging();
  FItems[static_cast<std::size_t>(Index)].String.assign(S);
  NotifyChanged();
}

void TUniStringList::PutObject(int Index, TObjectRef Obj) {
  checkIndex(Index);
  NotifyChanging();
  FItems[static_cast<std::size_t>(Index)].Object = Obj;
  NotifyChanged();
}

void TUniStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < GetCount()) listError("List capacity out of bounds (" + numberText(NewCapacity) + ")");
  FItems.reserve(static_cast<std::size_t>(NewCapacity));
  FCapacity = NewCapacity;
}

void TUniStringList::grow() {
  const int delta = FCapacity > 64 ? FCapacity / 4 : FCapacity > 8 ? 16 : 4;
  SetCapacity(FCapacity + delta);
}

int TUniStringList::AddObject(std::u16string_view S, TObjectRef Obj) {
  int index = GetCount();
  if (FSorted && Find(S, index)) {
    switch (FDuplicateMode) {
      case dmIgnore:
        return index;
      case dmError:
        listError("String list does not allow duplicates");
      case dmAccept:
        break;
    }
  }
  InsertItem(index, S, Obj);
  return index;
}

void TUniStringList::InsertObject(int Index, std::u16string_view S, TObjectRef Obj) {
  if (FSorted) listError("Operation not allowed on sorted list");
  if (Index < 0 || Index > GetCount()) indexError(Index);
  InsertItem(Index, S, Obj);
}

void TUniStringList::InsertItem(int Index, std::u16string_view S, TObjectRef Obj) {
  NotifyChanging();
  if (GetCount() == FCapacity) grow();
  FItems.insert(FItems.begin() + Index, TItem{std::u16string(S), Obj});
  NotifyChanged();
}

void TUniStringList::Delete(int Index) {
  checkIndex(Index);
  NotifyChanging();
  FItems.erase(FItems.begin() + Index);
  NotifyChanged();
}

void TUniStringList::Clear() {
  if (FItems.empty()) return;
  NotifyChanging();
  FItems.clear();
  FItems.shrink_to_fit();
  FCapacity = 0;
  NotifyChanged();
}

void TUniStringList::Exchange(int Index1, int Index2) {
  checkIndex(Index1);
  checkIndex(Index2);
  NotifyChanging();
  std::swap(FItems[static_cast<std::size_t>(Index1)], FItems[static_cast<std::size_t>(Index2)]);
  NotifyChanged();
}

bool TUniStringList::Find(std::u16string_view S, int& Index) const {
  // Only dmAccept looks on to the left for the first equal item.
  return sup::FindInSorted(
      GetCount(), [&](int i) { return CompareItems(FItems[static_cast<std::size_t>(i)].String, S); },
      FDuplicateMode == dmAccept, Index);
}

int TUniStringList::IndexOf(std::u16string_view S) const {
  if (!FSorted) return TUniStrings::IndexOf(S);
  int index = 0;
  return Find(S, index) ? index : -1;
}

int TUniStringList::IndexOfName(std::u16string_view Name) const {
  if (!FSorted) return TUniStrings::IndexOfName(Name);
  std::u16string key(Name);
  key += u'=';
  int index = 0;
  Find(key, index);
  if (index >= GetCount()) return -1;
  const std::u16string_view item = FItems[static_cast<std::size_t>(index)].String;
  return CompareItems(item.substr(0, key.size()), key) == 0 ? index : -1;
}

int TUniStringList::CompareItems(std::u16string_view S1, std::u16string_view S2) const {
  return FCaseSensitive ? sup::WideCompareStr(S1, S2, sup::LOCALE_USER_DEFAULT)
                        : sup::WideCompareText(S1, S2, sup::LOCALE_USER_DEFAULT);
}

void TUniStringList::UpdatingChanged(bool Updating) {
  // One OnChanging as an update starts and one OnChange as it ends, none
  // in between.
  if (Updating) {
    NotifyChanging();
    FUpdating = true;
  } else {
    FUpdating = false;
    NotifyChanged();
  }
}

void TUniStringList::NotifyChanged() {
  if (!FUpdating && OnChange) OnChange(*this);
}

void TUniStringList::NotifyChanging() {
  if (!FUpdating && OnChanging) OnChanging(*this);
}

void TUniStringList::Sort() {
  SortWith([](TUniStringList& list, int a, int b) {
    return list.CompareItems(list.FItems[static_cast<std::size_t>(a)].String,
                             list.FItems[static_cast<std::size_t>(b)].String);
  });
}

void TUniStringList::SortWith(const TCompareEvent& Compare) {
  if (FSorted || GetCount() < 2) return;
  NotifyChanging();
  quickSort(0, GetCount() - 1, Compare);
  NotifyChanged();
}

void TUniStringList::quickSort(int L, int R, const TCompareEvent& Compare) {
  // Recursing into the smaller part and looping on the larger bounds the
  // depth by log2 of the count, whatever the order of the input.
  while (L < R) {
    int i = L;
    int j = R;
    int pivot = L + (R - L) / 2;
    do {
      while (Compare(*this, i, pivot) < 0) ++i;
      while (Compare(*this, j, pivot) > 0) --j;
      if (i <= j) {
        if (i != j) {
          std::swap(FItems[static_cast<std::size_t>(i)], FItems[static_cast<std::size_t>(j)]);
          // The pivot index follows the item it named.
          if (pivot == i)
            pivot = j;
          else if (pivot == j)
            pivot = i;
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - L < R - i) {
      if (L < j) quickSort(L, j, Compare);
      L = i;
    } else {
      if (i < R) quickSort(i, R, Compare);
      R = j;
    }
  }
}

void TUniStringList::SetSorted(bool Value) {
  if (Value == FSorted) return;
  if (Value) Sort();
  FSorted = Value;
}

}  // namespace uni
