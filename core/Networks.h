#pragma once

// The network neighbourhood: the workgroups of the network and the computers
// in each, kept in string lists whose lines carry a data pointer and an
// object, as the remote-connect window reads them.

#include <stdexcept>
#include <string>
#include <vector>

#include "core/Dim.h"
#include "platform/NetworkBrowser.h"

// Base of everything a line may own or point to.
class TObject {
public:
  virtual ~TObject() = default;
};

class TStringObject : public TObject {
public:
  std::string FString;
  int FReserved = 0;
  void* FData = nullptr;
  TObject* FObject = nullptr;
};

// An array of TStringObject references the array owns: every item added gets
// a new object, every item removed frees its object.
class TStringObjectArray : public TDynamicArray {
public:
  TStringObjectArray();
  ~TStringObjectArray() override;
  TStringObjectArray(const TStringObjectArray&) = delete;
  TStringObjectArray& operator=(const TStringObjectArray&) = delete;

  void SetCount(int newCount) override;
  int Add() override;
  int AddItem(const void* item) override;       // the address is ignored
  void Insert(int index) override;
  void InsertItem(int index, const void* item) override;  // the address is ignored
  void Delete(int index) override;
  void ExtractItem(int index, void* item) override;       // nothing is copied out
  const char* ClassName() const override { return "TStringObjectArray"; }

  TStringObject& Item(int index);
  const std::string& GetString(int index) { return Item(index).FString; }
  void SetString(int index, std::string s) { Item(index).FString = std::move(s); }
  void* GetData(int index) { return Item(index).FData; }
  void SetData(int index, void* data) { Item(index).FData = data; }
  TObject* GetObject(int index) { return Item(index).FObject; }
  void SetObject(int index, TObject* object) { Item(index).FObject = object; }

private:
  TStringObject*& Slot(int index);
  void FreeItem(int index);
};

// A string list whose lines live in a TStringObjectArray it owns.
class TStringObjectList : public TObject {
public:
  TStringObjectList() = default;
  TStringObjectList(const TStringObjectList&) = delete;
  TStringObjectList& operator=(const TStringObjectList&) = delete;

  int Count() const { return FArray.Count(); }
  const std::string& Get(int index) { return FArray.GetString(index); }
  void Put(int index, std::string s) { FArray.SetString(index, std::move(s)); }
  TObject* GetObject(int index) { return FArray.GetObject(index); }
  void PutObject(int index, TObject* object) { FArray.SetObject(index, object); }
  void* GetData(int index) { return FArray.GetData(index); }
  void SetData(int index, void* data) { FArray.SetData(index, data); }

  virtual int Add(const std::string& s);
  virtual void Clear();
  virtual void Delete(int index);
  virtual void Insert(int index, const std::string& s);
  void Exchange(int index1, int index2) { FArray.Exchange(index1, index2); }
  // The lines' texts in order.
  std::vector<std::string> Strings();

  // Updates are not observed by anything here; kept so callers read as the
  // list's users elsewhere do.
  void BeginUpdate() {}
  void EndUpdate() {}

private:
  TStringObjectArray FArray;
};

// The computer names of one workgroup, one line each.
class TNetworkWorkgroup : public TStringObjectList {};

// The neighbourhood cannot be browsed.
class ECannotFindNetwork : public std::runtime_error {
public:
  ECannotFindNetwork();
};

// One line per workgroup, its object the workgroup's TNetworkWorkgroup.
// Lines are only added by the enumeration: Delete and Insert do nothing.
class TNetworkNeighborhood : public TStringObjectList {
public:
  // Enumerates at once through the program's mDNS browser, or through the
  // given one; any failure raises ECannotFindNetwork and leaves nothing.
  TNetworkNeighborhood();
  explicit TNetworkNeighborhood(platform::NetworkBrowser& browser);
  ~TNetworkNeighborhood() override;

  int Add(const std::string& s) override;
  void Clear() override;
  void Delete(int) override {}
  void Insert(int, const std::string&) override {}

  TNetworkWorkgroup& Workgroup(int index);
  // Clears the list and adds every workgroup's computer names in order.
  void GetComputerNames(TStringObjectList& list);

private:
  void Enumerate(platform::NetworkBrowser& browser);
};

// A display name as the neighbourhood keeps it: cut at its first NUL and
// trimmed of blanks at both ends.
std::string NeighborhoodDisplayName(std::string_view name);
