// Time of filling a TWideStringList with native names (each normalised on Add)
// and of sorting it, as the value list does for one key.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "unicode/SupUnicode.h"

namespace {

std::vector<std::u16string> makeNames(int count, bool accented) {
  std::vector<std::u16string> names;
  names.reserve(static_cast<std::size_t>(count));
  unsigned seed = 12345;
  for (int i = 0; i < count; ++i) {
    std::u16string n;
    for (int k = 0; k < 16; ++k) {
      seed = seed * 1103515245u + 12345u;
      n += static_cast<char16_t>(u'a' + (seed >> 16) % 26);
      if (accented && k % 4 == 0) n += u'\u0301';  // decomposed, as a native name may be
    }
    names.push_back(std::move(n));
  }
  return names;
}

void BM_AddNames(benchmark::State& state) {
  const auto names = makeNames(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    sup::TWideStringList list;
    for (const auto& n : names) list.Add(n);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AddNames)->Args({10000, 0})->Args({10000, 1});

void BM_SortNames(benchmark::State& state) {
  const auto names = makeNames(static_cast<int>(state.range(0)), false);
  for (auto _ : state) {
    state.PauseTiming();
    sup::TWideStringList list;
    for (const auto& n : names) list.Add(n);
    state.ResumeTiming();
    list.Sort();
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortNames)->Arg(10000);

}  // namespace
