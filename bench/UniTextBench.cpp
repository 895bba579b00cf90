// UTF-7 encoding and decoding of 1 MiB of mixed UTF-16 text: our codec beside
// glibc iconv's, on the same input in the same run. Both sides produce a new
// string per iteration; the iconv descriptors are opened once, outside the
// timed loop.
//
//   unitext --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include "unicode/UniSystem.h"

namespace {

// Words of ASCII with punctuation and the odd plus sign, accented Latin,
// Cyrillic, CJK and a few characters beyond the BMP: the mix of names and
// texts the program carries. 1 MiB of UTF-16.
const std::u16string& mixedText() {
  static const std::u16string text = [] {
    std::mt19937 random(7);
    std::u16string t;
    const std::size_t units = (1u << 20) / 2;
    while (t.size() < units) {
      switch (random() % 8) {
        case 0: case 1: case 2: {
          for (int k = 0, n = 3 + static_cast<int>(random() % 8); k < n; ++k)
            t.push_back(static_cast<char16_t>(u'a' + random() % 26));
          t.push_back(u" .,-+:(\\"[random() % 8]);
          break;
        }
        case 3: t += u"caf\u00E9 d\u00E9j\u00E0 "; break;
        case 4: t += u"\u041F\u0440\u0438\u0432\u0435\u0442 "; break;
        case 5: t += u"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8"; break;
        case 6: t += u"Software\\Classes\\{0A1B}"; break;
        default: t += u"\U0001F600 "; break;
      }
    }
    t.resize(units);
    if (t.back() >= 0xD800 && t.back() <= 0xDBFF) t.back() = u'x';
    return t;
  }();
  return text;
}

class Iconv {
public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no UTF-7");
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  std::string convert(const char* data, std::size_t size, std::string& scratch) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    char* out = scratch.data();
    std::size_t outLeft = scratch.size();
    if (iconv(cd_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1))
      throw std::runtime_error("iconv failed");
    return std::string(scratch.data(), scratch.size() - outLeft);
  }

private:
  iconv_t cd_;
};

// The text as UTF-16LE bytes, as iconv takes it (the host is little-endian).
std::string littleEndianBytes(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Both decoders read iconv's output, whose runs all end in "-".
const std::string& iconvUtf7() {
  static const std::string utf7 = [] {
    Iconv cd("UTF-7", "UTF-16LE");
    const std::string in = littleEndianBytes(mixedText());
    std::string scratch(in.size() * 4, '\0');
    return cd.convert(in.data(), in.size(), scratch);
  }();
  return utf7;
}

void BM_EncodeOurs(benchmark::State& state) {
  const std::u16string& text = mixedText();
  for (auto _ : state) benchmark::DoNotOptimize(uni::WideToUTF7(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * text.size() * 2);
}

void BM_EncodeIconv(benchmark::State& state) {
  Iconv cd("UTF-7", "UTF-16LE");
  const std::string in = littleEndianBytes(mixedText());
  std::string scratch(in.size() * 4, '\0');
  for (auto _ : state) benchmark::DoNotOptimize(cd.convert(in.data(), in.size(), scratch));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.size());
}

void BM_DecodeOurs(benchmark::State& state) {
  const std::string& utf7 = iconvUtf7();
  if (uni::UTF7ToWide(utf7) != mixedText()) state.SkipWithError("our decoder disagrees with iconv");
  for (auto _ : state) benchmark::DoNotOptimize(uni::UTF7ToWide(utf7));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mixedText().size() * 2);
}

void BM_DecodeIconv(benchmark::State& state) {
  const std::string& utf7 = iconvUtf7();
  Iconv cd("UTF-16LE", "UTF-7");
  std::string scratch(utf7.size() * 2 + 16, '\0');
  for (auto _ : state) benchmark::DoNotOptimize(cd.convert(utf7.data(), utf7.size(), scratch));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mixedText().size() * 2);
}

}  // namespace

BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeIconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeIconv)->Unit(benchmark::kMillisecond);
