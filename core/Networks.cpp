#include "core/Networks.h"

#include <algorithm>

// ---------------------------------------------------------------- TStringObjectArray

TStringObjectArray::TStringObjectArray() : TDynamicArray(0, int(sizeof(TStringObject*))) {}

TStringObjectArray::~TStringObjectArray() {
  for (int i = 0; i < Count(); ++i) FreeItem(i);
}

TStringObject*& TStringObjectArray::Slot(int index) {
  CheckIndex(index, Count());
  return *static_cast<TStringObject**>(ItemPointer(index));
}

TStringObject& TStringObjectArray::Item(int index) { return *Slot(index); }

void TStringObjectArray::FreeItem(int index) {
  TStringObject*& slot = Slot(index);
  delete slot;
  slot = nullptr;
}

void TStringObjectArray::SetCount(int newCount) {
  const int old = Count();
  for (int i = std::max(newCount, 0); i < old; ++i) FreeItem(i);
  ResizeBlock(newCount);
  for (int i = old; i < Count(); ++i) Slot(i) = new TStringObject;
  Changed();
}

int TStringObjectArray::Add() {
  InsertBlock(Count());
  Slot(Count() - 1) = new TStringObject;
  Changed();
  return Count() - 1;
}

int TStringObjectArray::AddItem(const void*) { return Add(); }

void TStringObjectArray::Insert(int index) {
  InsertBlock(index);
  Slot(index) = new TStringObject;
  Changed();
}

void TStringObjectArray::InsertItem(int index, const void*) { Insert(index); }

void TStringObjectArray::Delete(int index) {
  FreeItem(index);
  DeleteBlock(index);
  Changed();
}

void TStringObjectArray::ExtractItem(int index, void*) { Delete(index); }

// ---------------------------------------------------------------- TStringObjectList

int TStringObjectList::Add(const std::string& s) {
  const int index = FArray.Add();
  FArray.SetString(index, s);
  return index;
}

void TStringObjectList::Clear() { FArray.SetCount(0); }

void TStringObjectList::Delete(int index) { FArray.Delete(index); }

void TStringObjectList::Insert(int index, const std::string& s) {
  FArray.Insert(index);
  FArray.SetString(index, s);
}

std::vector<std::string> TStringObjectList::Strings() {
  std::vector<std::string> out;
  for (int i = 0; i < Count(); ++i) out.push_back(Get(i));
  return out;
}

// ---------------------------------------------------------------- TNetworkNeighborhood

ECannotFindNetwork::ECannotFindNetwork() : std::runtime_error("Cannot find network neiborhood") {}

std::string NeighborhoodDisplayName(std::string_view name) { return TrimChar(FixStringLength(name), ' '); }

TNetworkNeighborhood::TNetworkNeighborhood() {
  try {
    auto browser = platform::makeMdnsNetworkBrowser();
    Enumerate(*browser);
  } catch (...) {
    Clear();
    throw ECannotFindNetwork();
  }
}

TNetworkNeighborhood::TNetworkNeighborhood(platform::NetworkBrowser& browser) {
  try {
    Enumerate(browser);
  } catch (...) {
    Clear();
    throw ECannotFindNetwork();
  }
}

TNetworkNeighborhood::~TNetworkNeighborhood() { Clear(); }

int TNetworkNeighborhood::Add(const std::string& s) {
  const int index = TStringObjectList::Add(s);
  PutObject(index, new TNetworkWorkgroup);
  return index;
}

void TNetworkNeighborhood::Clear() {
  for (int i = 0; i < Count(); ++i) {
    delete GetObject(i);
    PutObject(i, nullptr);
  }
  TStringObjectList::Clear();
}

TNetworkWorkgroup& TNetworkNeighborhood::Workgroup(int index) {
  return *static_cast<TNetworkWorkgroup*>(GetObject(index));
}

void TNetworkNeighborhood::Enumerate(platform::NetworkBrowser& browser) {
  const std::vector<platform::NetworkWorkgroupEntry> found = browser.browse();
  BeginUpdate();
  Clear();
  for (const auto& group : found) {
    TNetworkWorkgroup& computers = Workgroup(Add(NeighborhoodDisplayName(group.name)));
    for (const auto& computer : group.computers) computers.Add(NeighborhoodDisplayName(computer));
  }
  EndUpdate();
}

void TNetworkNeighborhood::GetComputerNames(TStringObjectList& list) {
  list.BeginUpdate();
  list.Clear();
  for (int g = 0; g < Count(); ++g) {
    TNetworkWorkgroup& group = Workgroup(g);
    for (int c = 0; c < group.Count(); ++c) list.Add(FixStringLength(group.Get(c)));
  }
  list.EndUpdate();
}
