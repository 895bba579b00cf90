#include "unicode/SupUnitVersioning.h"

#include <algorithm>
#include <mutex>

namespace sup {

namespace {

// Units register from static initialisers of several translation units, whose
// order C++ leaves open, and may in principle do so from more than one thread;
// the registry's own lists are guarded by this lock.
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}

const char kModuleTag = 0;

}  // namespace

TModuleInstance HInstance() { return reinterpret_cast<TModuleInstance>(&kModuleTag); }

bool TUnitVersioningModule::Contains(const TUnitVersionInfo* info) const {
  return std::any_of(FItems.begin(), FItems.end(),
                     [info](const auto& item) { return item->Info() == info; });
}

void TUnitVersioningModule::Add(const TUnitVersionInfo* info) {
  if (!Contains(info)) FItems.push_back(std::make_unique<TUnitVersion>(info));
}

const TUnitVersioningModule* TUnitVersioning::FindModule(TModuleInstance instance) const {
  for (const auto& module : FModules)
    if (module->Instance() == instance) return module.get();
  return nullptr;
}

void TUnitVersioning::Add(TModuleInstance instance, const TUnitVersionInfo* info) {
  for (auto& module : FModules) {
    if (module->Instance() == instance) {
      module->Add(info);
      return;
    }
  }
  FModules.push_back(std::make_unique<TUnitVersioningModule>(instance));
  FModules.back()->Add(info);
}

void TUnitVersioning::UnregisterModule(TModuleInstance instance) {
  for (auto it = FModules.rbegin(); it != FModules.rend(); ++it) {
    if ((*it)->Instance() == instance) {
      FModules.erase(std::next(it).base());
      break;
    }
  }
  for (auto& provider : FProviders) provider->ReleaseModule(instance);
}

void TUnitVersioning::AddProvider(std::unique_ptr<UnitVersioningProvider> provider) {
  if (provider) FProviders.push_back(std::move(provider));
}

TUnitVersioning* GetUnitVersioning() {
  // Built at the first registration, so it outlives every unit that registers.
  static TUnitVersioning registry;
  return &registry;
}

void RegisterUnitVersion(TModuleInstance instance, const TUnitVersionInfo& info) {
  TUnitVersioning* registry = GetUnitVersioning();
  std::lock_guard lock(registryMutex());
  registry->Add(instance, &info);
}

void UnregisterUnitVersion(TModuleInstance instance) {
  TUnitVersioning* registry = GetUnitVersioning();
  std::lock_guard lock(registryMutex());
  registry->UnregisterModule(instance);
}

UnitVersionRegistration::UnitVersionRegistration(const TUnitVersionInfo& info) {
  RegisterUnitVersion(HInstance(), info);
}

UnitVersionRegistration::~UnitVersionRegistration() { UnregisterUnitVersion(HInstance()); }

namespace {
const TUnitVersionInfo kUnitVersion{"SupUnitVersioning.cpp", "1.0", "", "unicode", "", nullptr};
const UnitVersionRegistration kRegistration(kUnitVersion);
}  // namespace

}  // namespace sup
