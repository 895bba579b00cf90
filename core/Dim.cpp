#include "core/Dim.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

TDynamicArray::TDynamicArray(int initialCount, int itemSize) : FItemSize(itemSize > 0 ? itemSize : 1) {
  ResizeBlock(initialCount);
}

void TDynamicArray::CheckIndex(int index, int limit) const {
  if (index >= 0 && index < limit) return;
  char text[160];
  std::snprintf(text, sizeof text, "Array %s item index is out of bounds (%d)", ClassName(), index);
  throw EDynArray(text);
}

void TDynamicArray::ResizeBlock(int newCount) {
  if (newCount <= 0) {
    std::vector<std::byte>().swap(FData);
    FCount = 0;
    return;
  }
  // A fresh block of exactly the new size: no spare capacity is kept.
  std::vector<std::byte> block(std::size_t(newCount) * std::size_t(FItemSize));
  if (!FData.empty()) std::memcpy(block.data(), FData.data(), std::min(block.size(), FData.size()));
  FData.swap(block);
  FCount = newCount;
}

void TDynamicArray::InsertBlock(int index) {
  CheckIndex(index, FCount + 1);
  const int old = FCount;
  ResizeBlock(old + 1);
  std::byte* at = FData.data() + std::size_t(index) * FItemSize;
  std::memmove(at + FItemSize, at, std::size_t(old - index) * FItemSize);
  std::memset(at, 0, std::size_t(FItemSize));
}

void TDynamicArray::DeleteBlock(int index) {
  CheckIndex(index, FCount);
  std::byte* at = FData.data() + std::size_t(index) * FItemSize;
  std::memmove(at, at + FItemSize, std::size_t(FCount - index - 1) * FItemSize);
  ResizeBlock(FCount - 1);
}

void TDynamicArray::SetCount(int newCount) {
  ResizeBlock(newCount);
  Changed();
}

int TDynamicArray::Add() {
  InsertBlock(FCount);
  Changed();
  return FCount - 1;
}

int TDynamicArray::AddItem(const void* item) {
  const int index = Add();
  SetItem(index, item);
  return index;
}

void TDynamicArray::Insert(int index) {
  InsertBlock(index);
  Changed();
}

void TDynamicArray::InsertItem(int index, const void* item) {
  Insert(index);
  SetItem(index, item);
}

void TDynamicArray::Delete(int index) {
  DeleteBlock(index);
  Changed();
}

void TDynamicArray::ExtractItem(int index, void* item) {
  GetItem(index, item);
  Delete(index);
}

void TDynamicArray::Grow(int n) { SetCount(FCount + n); }

void TDynamicArray::Shrink(int n) { SetCount(FCount - n); }

void TDynamicArray::Exchange(int index1, int index2) {
  CheckIndex(index1, FCount);
  CheckIndex(index2, FCount);
  std::vector<std::byte> scratch(static_cast<std::size_t>(FItemSize));
  GetItem(index1, scratch.data());
  SetItem(index1, ItemPointer(index2));
  SetItem(index2, scratch.data());
}

int TDynamicArray::ForEach(const TForEachFunc& func, void* data) {
  for (int i = 0; i < FCount; ++i)
    if (int r = func(data, i, ItemPointer(i)); r != 0) return r;
  return 0;
}

void* TDynamicArray::ItemPointer(int index) {
  if (FCount == 0 || index < 0 || index >= FCount) return nullptr;
  return FData.data() + std::size_t(index) * FItemSize;
}

void TDynamicArray::GetItem(int index, void* item) {
  CheckIndex(index, FCount);
  std::memcpy(item, ItemPointer(index), std::size_t(FItemSize));
}

void TDynamicArray::SetItem(int index, const void* item) {
  CheckIndex(index, FCount);
  std::memmove(ItemPointer(index), item, std::size_t(FItemSize));
}

std::string FixStringLength(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

std::string TrimLeftChar(std::string_view s, char c) {
  const auto from = s.find_first_not_of(c);
  return from == std::string_view::npos ? std::string() : std::string(s.substr(from));
}

std::string TrimRightChar(std::string_view s, char c) {
  const auto to = s.find_last_not_of(c);
  return to == std::string_view::npos ? std::string() : std::string(s.substr(0, to + 1));
}

std::string TrimChar(std::string_view s, char c) { return TrimRightChar(TrimLeftChar(s, c), c); }

std::string GetComputerNameText() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  std::string name = FixStringLength(std::string_view(host, sizeof host));
  return name.substr(0, name.find('.'));
}
