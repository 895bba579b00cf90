#pragma once

// A small container library: an array of fixed-size items that reallocates to
// exactly its count on every change, and a few text helpers the network
// neighbourhood uses. Items are plain bytes; derived arrays give them meaning.

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// An index outside the allowed range of a TDynamicArray.
class EDynArray : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reference counting without ownership: releasing never frees the object.
class TUnknown {
public:
  virtual ~TUnknown() = default;
  long AddRef() { return ++FRefCount; }
  long Release() { return --FRefCount; }
  long RefCount() const { return FRefCount; }

private:
  long FRefCount = 0;
};

class TDynamicArray : public TUnknown {
public:
  // Called with (data, index, item address); a non-zero result stops the walk.
  using TForEachFunc = std::function<int(void* data, int index, void* item)>;

  TDynamicArray(int initialCount, int itemSize);

  int Count() const { return FCount; }
  int ItemSize() const { return FItemSize; }

  virtual void Changed() {}
  virtual void SetCount(int newCount);
  virtual int Add();
  virtual int AddItem(const void* item);
  virtual void Insert(int index);
  virtual void InsertItem(int index, const void* item);
  virtual void Delete(int index);
  virtual void ExtractItem(int index, void* item);
  virtual void Grow(int n);
  virtual void Shrink(int n);
  virtual void Exchange(int index1, int index2);
  virtual int ForEach(const TForEachFunc& func, void* data);

  // Nothing when the array is empty or the index is outside 0 to count - 1.
  void* ItemPointer(int index);
  void GetItem(int index, void* item);
  void SetItem(int index, const void* item);

  // The class name the out-of-bounds message names.
  virtual const char* ClassName() const { return "TDynamicArray"; }

protected:
  // Changes of the count without calling any virtual operation; each makes a
  // block of exactly the new size, the items kept and the new ones zero.
  void ResizeBlock(int newCount);
  void InsertBlock(int index);
  void DeleteBlock(int index);
  // Raises EDynArray unless 0 <= index < limit.
  void CheckIndex(int index, int limit) const;

private:
  std::vector<std::byte> FData;
  int FItemSize;
  int FCount = 0;
};

// The text cut at its first NUL character.
std::string FixStringLength(std::string_view s);
// The text without the given character at both ends (or one end).
std::string TrimChar(std::string_view s, char c);
std::string TrimLeftChar(std::string_view s, char c);
std::string TrimRightChar(std::string_view s, char c);
// This computer's name as the network knows it (the host name, without a
// domain), cut at its first NUL.
std::string GetComputerNameText();
