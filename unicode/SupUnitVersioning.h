#pragma once

// The process-wide registry in which each support unit records its version when
// it initialises and which forgets the module when the unit finalises.
//
// The program is one module, linked statically, so every unit reaches the same
// registry through one process-wide object; no memory page shared between
// modules is needed to find it.

#include <cstdint>
#include <memory>
#include <vector>

namespace sup {

// Identifies a module of the process. The program has one: HInstance().
using TModuleInstance = std::uintptr_t;
TModuleInstance HInstance();

// One unit's version record. The texts are fixed strings of each unit; nothing
// reads them back.
struct TUnitVersionInfo {
  const char* RCSfile;
  const char* Revision;
  const char* Date;
  const char* LogPath;
  const char* Extra;
  void* Data;
};

class TUnitVersion {
public:
  explicit TUnitVersion(const TUnitVersionInfo* info) : FInfo(info) {}
  const TUnitVersionInfo* Info() const { return FInfo; }

private:
  const TUnitVersionInfo* FInfo;
};

class TUnitVersioningModule {
public:
  explicit TUnitVersioningModule(TModuleInstance instance) : FInstance(instance) {}
  TModuleInstance Instance() const { return FInstance; }
  int Count() const { return static_cast<int>(FItems.size()); }
  const TUnitVersion& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
  // Appends a record unless this module already holds that same record.
  void Add(const TUnitVersionInfo* info);
  bool Contains(const TUnitVersionInfo* info) const;

private:
  TModuleInstance FInstance;
  std::vector<std::unique_ptr<TUnitVersion>> FItems;
};

// An object told when a module is forgotten.
class UnitVersioningProvider {
public:
  virtual ~UnitVersioningProvider() = default;
  virtual void ReleaseModule(TModuleInstance instance) = 0;
};

class TUnitVersioning {
public:
  TUnitVersioning() = default;
  virtual ~TUnitVersioning() = default;
  TUnitVersioning(const TUnitVersioning&) = delete;
  TUnitVersioning& operator=(const TUnitVersioning&) = delete;

  // Finds the module of instance (appending it when absent) and adds info to it.
  virtual void Add(TModuleInstance instance, const TUnitVersionInfo* info);
  // Removes the module of instance (the last one, searching from the end) and
  // tells every provider to forget the instance.
  virtual void UnregisterModule(TModuleInstance instance);

  int ModuleCount() const { return static_cast<int>(FModules.size()); }
  const TUnitVersioningModule& Modules(int index) const {
    return *FModules.at(static_cast<std::size_t>(index));
  }
  // The module of instance, or null.
  const TUnitVersioningModule* FindModule(TModuleInstance instance) const;
  void AddProvider(std::unique_ptr<UnitVersioningProvider> provider);

private:
  std::vector<std::unique_ptr<TUnitVersioningModule>> FModules;
  std::vector<std::unique_ptr<UnitVersioningProvider>> FProviders;
};

// The registry of the process; every call returns the same object.
TUnitVersioning* GetUnitVersioning();

void RegisterUnitVersion(TModuleInstance instance, const TUnitVersionInfo& info);
void UnregisterUnitVersion(TModuleInstance instance);

// A unit's registration: registers its record for the program's module when the
// unit initialises and forgets the module when it finalises. Declare one at
// namespace scope in the unit, after the unit's own state.
class UnitVersionRegistration {
public:
  explicit UnitVersionRegistration(const TUnitVersionInfo& info);
  ~UnitVersionRegistration();
  UnitVersionRegistration(const UnitVersionRegistration&) = delete;
  UnitVersionRegistration& operator=(const UnitVersionRegistration&) = delete;
};

}  // namespace sup
