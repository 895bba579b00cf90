// Filling the value list for a key of 100,000 DWORD values under
// HKEY_LOCAL_MACHINE (so the native listing runs too), in a shown main
// window. The registry is a fresh one in a temporary folder; building the key
// is setup, timed apart (its time is printed first).

#include <QApplication>
#include <QStyleFactory>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/FormUnitMain.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"

namespace {

constexpr int kValues = 100000;
constexpr const char* kKey = "SOFTWARE\\ValueListBench";

bool buildKey() {
  using namespace platform;
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (int i = 0; i < kValues && ok; ++i) {
    const std::string name = "Value" + std::to_string(i);
    const DWORD v = static_cast<DWORD>(i);
    ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

TformMain* form = nullptr;

void BM_FillValueList100k(benchmark::State& state) {
  const QString path = QStringLiteral("\\") + QString::fromLatin1(kKey);
  for (auto _ : state) {
    form->FillValueList(platform::HKEY_LOCAL_MACHINE, path, rv64Bit);
    QApplication::processEvents();  // the repaint the refill asks for
  }
  if (form->valueModel()->count() != kValues + 1) state.SkipWithError("wrong row count");
  state.counters["rows"] = form->valueModel()->count();
}
BENCHMARK(BM_FillValueList100k)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("hivescope-value-list-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  ::setenv("HIVESCOPE_REGISTRY", folder.c_str(), 1);

  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  benchmark::Initialize(&argc, argv);
  int rc = 1;
  const auto start = std::chrono::steady_clock::now();
  const bool built = buildKey();
  std::printf("building the key of %d values: %.3f s\n", kValues,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  std::fflush(stdout);
  if (built) {
    auto window = std::make_unique<TformMain>();
    window->resize(1000, 700);
    window->show();
    QApplication::processEvents();
    form = window.get();
    benchmark::RunSpecifiedBenchmarks();
    form = nullptr;
    window.reset();
    rc = 0;
  }
  benchmark::Shutdown();
  platform::registry::shutdownForTests();
  std::filesystem::remove_all(folder);
  return rc;
}
