// Decoding speed of TPngPicture beside libpng, both reading from memory.
// libpng is asked for what our store holds: 16-bit samples cut to 8 bits,
// blue-green-red order, interlacing undone.

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "png/pngpicture.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct MemoryInput {
  const Bytes* bytes;
  std::size_t pos = 0;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > in->bytes->size() - in->pos) png_error(png, "read past end");
  std::memcpy(out, in->bytes->data() + in->pos, count);
  in->pos += count;
}

void writeToMemory(png_structp png, png_bytep data, png_size_t count) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

void quiet(png_structp, png_const_charp) {}

// Returns a byte of the result so the work cannot be optimised away.
unsigned decodeWithLibpng(const Bytes& file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, quiet);
  png_infop info = png_create_info_struct(png);
  MemoryInput input{&file};
  std::vector<png_bytep> rows;
  Bytes pixels;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  png_set_read_fn(png, &input, readFromMemory);
  png_read_info(png, info);
  png_set_strip_16(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  std::size_t rowBytes = png_get_rowbytes(png, info);
  pixels.resize(rowBytes * height);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + rowBytes * y;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return pixels.empty() ? 0 : pixels[pixels.size() / 2];
}

unsigned decodeWithOurs(const Bytes& file) {
  TPngPicture image;
  image.LoadFromBytes(file);
  auto bytes = image.HeaderChunk().PixelBytes();
  return bytes.empty() ? 0 : bytes[bytes.size() / 2];
}

// A photo-like 4096 × 4096 RGBA image: smooth gradients with a little noise,
// written by libpng choosing among all filters.
Bytes largeImage() {
  const png_uint_32 size = 4096;
  Bytes raw(std::size_t(size) * size * 4);
  std::mt19937 rng(1);
  for (png_uint_32 y = 0; y < size; ++y) {
    for (png_uint_32 x = 0; x < size; ++x) {
      std::uint8_t* p = raw.data() + (std::size_t(y) * size + x) * 4;
      unsigned noise = rng() & 7;
      p[0] = std::uint8_t((x >> 4) + noise);
      p[1] = std::uint8_t((y >> 4) + noise);
      p[2] = std::uint8_t(((x + y) >> 5) ^ noise);
      p[3] = std::uint8_t(255 - ((x * y) >> 16));
    }
  }
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, quiet);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, writeToMemory, nullptr);
  png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, 0, PNG_ALL_FILTERS);
  png_write_info(png, info);
  for (png_uint_32 y = 0; y < size; ++y) png_write_row(png, raw.data() + std::size_t(y) * size * 4);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

template <class F>
double medianSeconds(int runs, F&& work) {
  std::vector<double> times;
  volatile unsigned sink = 0;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    sink = sink + work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void report(const char* what, double ours, double theirs) {
  std::printf("%-14s ours %9.3f ms   libpng %9.3f ms   ratio %.2f\n", what, ours * 1000, theirs * 1000, ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  const char* testdata = std::getenv("HIVESCOPE_TESTDATA");
  fs::path suite = argc > 1    ? fs::path(argv[1])
                   : testdata ? fs::path(testdata) / "png/pngsuite"
                              : fs::path("../shared/testdata/png/pngsuite");
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;

  std::vector<Bytes> files;
  if (fs::is_directory(suite)) {
    for (const auto& entry : fs::directory_iterator(suite)) {
      std::string name = entry.path().filename().string();
      if (entry.path().extension() != ".png" || name[0] == 'x') continue;
      std::ifstream in(entry.path(), std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "no suite files in %s: the suite is not timed\n", suite.c_str());
  } else {
    // Each run decodes every file 20 times, so a run is long enough to time.
    auto all = [&](auto decode) {
      unsigned s = 0;
      for (int r = 0; r < 20; ++r)
        for (const Bytes& f : files) s += decode(f);
      return s;
    };
    double ours = medianSeconds(runs, [&] { return all(decodeWithOurs); });
    double theirs = medianSeconds(runs, [&] { return all(decodeWithLibpng); });
    report("suite x20", ours, theirs);
  }

  Bytes large = largeImage();
  std::printf("large image: %zu bytes\n", large.size());
  double ours = medianSeconds(runs, [&] { return decodeWithOurs(large); });
  double theirs = medianSeconds(runs, [&] { return decodeWithLibpng(large); });
  report("4096x4096 RGBA", ours, theirs);
  return 0;
}
