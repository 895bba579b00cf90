// Records 10,000 value changes into a fresh history database and loads them
// back. The registry is a do-nothing stand-in: only the database work counts.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/bwlRegistryHistorySQLite.h"

namespace {

struct NullRegistry : HistoryRegistry {
  bool GetKeyNames(platform::HKEY, const std::string&, bool, std::vector<std::string>&) override { return false; }
  bool GetValueNames(platform::HKEY, const std::string&, bool, std::vector<std::string>&) override { return false; }
  bool ReadValue(platform::HKEY, const std::string&, const std::string&, bool, TRegDataType&,
                 std::vector<std::uint8_t>&) override {
    return false;
  }
  bool DeleteKey(platform::HKEY, const std::string&, bool) override { return false; }
  bool CreateKey(platform::HKEY, const std::string&, bool) override { return false; }
  bool DeleteValue(platform::HKEY, const std::string&, const std::string&, bool) override { return false; }
  bool WriteBinary(platform::HKEY, const std::string&, const std::string&, bool, TRegDataType,
                   std::span<const std::uint8_t>) override {
    return false;
  }
};

constexpr int kChanges = 10000;

std::filesystem::path scratchFile() {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("hivescope-history-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir / "history.sqlite";
}

void record(TRegistryChangeHistory& h) {
  const std::vector<std::uint8_t> oldData(16, 0xAB), newData(64, 0xCD);
  for (int i = 0; i < kChanges; ++i)
    h.AddChange(htValue, haChange, platform::HKEY_CURRENT_USER, "\\Software\\Bench\\Key" + std::to_string(i % 100) + "\\",
                "Value" + std::to_string(i), rdBinary, oldData, newData);
}

void BM_Record10000(benchmark::State& state) {
  const auto file = scratchFile();
  NullRegistry reg;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(file);
    state.ResumeTiming();
    TRegistryChangeHistory h(file.string(), reg);
    record(h);
  }
  std::filesystem::remove_all(file.parent_path());
  state.SetItemsProcessed(state.iterations() * kChanges);
}
BENCHMARK(BM_Record10000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LoadAll10000(benchmark::State& state) {
  const auto file = scratchFile();
  std::filesystem::remove(file);
  NullRegistry reg;
  {
    TRegistryChangeHistory h(file.string(), reg);
    record(h);
  }
  for (auto _ : state) {
    TRegistryChangeHistory h(file.string(), reg);
    h.LoadAll();
    if (h.Count() != kChanges) state.SkipWithError("wrong row count");
    benchmark::DoNotOptimize(h.Count());
  }
  std::filesystem::remove_all(file.parent_path());
  state.SetItemsProcessed(state.iterations() * kChanges);
}
BENCHMARK(BM_LoadAll10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
