// The unit-version registry and the lock of the support units.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "unicode/SupSynch.h"
#include "unicode/SupUnicode.h"
#include "unicode/SupUnitVersioning.h"

namespace {

using namespace sup;

TEST(SupUnitVersioning, TheProcessRegistryHoldsTheLinkedUnits) {
  TUnitVersioning* first = GetUnitVersioning();
  EXPECT_EQ(GetUnitVersioning(), first) << "a second request returns the same object";
  // Using the list links the unit (and the ones it uses) into this program.
  TWideStringList list;
  list.Add(u"x");
  const TUnitVersioningModule* module = first->FindModule(HInstance());
  ASSERT_NE(module, nullptr);
  std::set<std::string> units;
  for (int i = 0; i < module->Count(); ++i) units.insert(module->Items(i).Info()->RCSfile);
  EXPECT_EQ(units, (std::set<std::string>{"SupSynch.cpp", "SupUnicode.cpp", "SupUnitVersioning.cpp"}));
}

struct RecordingProvider : UnitVersioningProvider {
  explicit RecordingProvider(std::vector<TModuleInstance>& log) : log(log) {}
  void ReleaseModule(TModuleInstance instance) override { log.push_back(instance); }
  std::vector<TModuleInstance>& log;
};

TEST(SupUnitVersioning, AddsEachRecordOncePerModuleAndForgetsModules) {
  const TUnitVersionInfo a{"A.cpp", "1", "", "", "", nullptr};
  const TUnitVersionInfo b{"B.cpp", "1", "", "", "", nullptr};
  std::vector<TModuleInstance> released;
  TUnitVersioning registry;
  registry.AddProvider(std::make_unique<RecordingProvider>(released));

  registry.Add(1, &a);
  registry.Add(1, &a);
  registry.Add(1, &b);
  registry.Add(2, &a);
  ASSERT_EQ(registry.ModuleCount(), 2);
  EXPECT_EQ(registry.Modules(0).Instance(), 1u);
  EXPECT_EQ(registry.Modules(0).Count(), 2) << "the same record is held once";
  EXPECT_EQ(registry.Modules(1).Count(), 1);

  registry.UnregisterModule(1);
  ASSERT_EQ(registry.ModuleCount(), 1);
  EXPECT_EQ(registry.Modules(0).Instance(), 2u);
  registry.UnregisterModule(7);  // unknown: nothing removed, providers still told
  EXPECT_EQ(registry.ModuleCount(), 1);
  EXPECT_EQ(released, (std::vector<TModuleInstance>{1, 7}));
}

TEST(SupSynch, CriticalSectionExcludesOtherThreadsAndIsReentrant) {
  TSupCriticalSection section;
  section.Enter();
  section.Enter();  // the holder may enter again
  section.Leave();
  section.Leave();

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        SectionLock lock(section);
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 40000);
}

TEST(SupSynch, TablesLoadOnceUnderConcurrentFirstUse) {
  // Run in a fresh process state is not possible here; what matters is that
  // concurrent normalisation gives the same answers without data races (the
  // sanitizer build checks the races).
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        if (WideNormalize(u"a\u0301\u0328\u1100\u1161", nfC) != u"\u0105\u0301\uAC00") ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
