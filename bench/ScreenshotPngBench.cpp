// The screenshot's way to an attachment: the palette PNG, the grey PNG and
// scaling, on pictures like a desktop (flat areas, gradients, text-like
// noise) of growing size. Setup stays outside the timed loops.

#include <benchmark/benchmark.h>

#include <random>

#include "crashreport/zebNVBitmap.h"

namespace {

std::shared_ptr<zeb::TINVBitmap> desktopLike(int width, int height) {
  auto bmp = zeb::TINVBitmap::Create(width, height);
  std::mt19937 rng(42);
  auto pixels = bmp->Pixels();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = pixels.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
      const bool window = (x / 400 + y / 300) % 2 == 0;
      const bool text = window && (y % 16) < 10 && rng() % 3 == 0;
      p[0] = text ? 20 : window ? 240 : std::uint8_t(120 + 100 * y / height);
      p[1] = text ? 20 : window ? 240 : std::uint8_t(80 + 60 * x / width);
      p[2] = text ? 20 : window ? 240 : 40;
    }
  return bmp;
}

const std::pair<int, int> kSizes[] = {{640, 480}, {1280, 1024}, {1920, 1080}, {3840, 2160}};

void sizes(benchmark::internal::Benchmark* b) {
  for (const auto& [w, h] : kSizes) b->Args({w, h});
}

void PalettePng(benchmark::State& state) {
  const auto source = desktopLike(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(source->ToPngBytes(zeb::kPng256Colours));
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(PalettePng)->Apply(sizes)->Unit(benchmark::kMillisecond);

void GreyPng(benchmark::State& state) {
  const auto source = desktopLike(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(source->ToPngBytes(zeb::kPng16Greys));  // greys it once, then stays grey
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(GreyPng)->Apply(sizes)->Unit(benchmark::kMillisecond);

void ResizedToThumbnail(benchmark::State& state) {
  const auto source = desktopLike(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(source->Resized(320, 240));
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(ResizedToThumbnail)->Apply(sizes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
