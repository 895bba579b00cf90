#pragma once

// The figures both hive walks print (ours and the libhivex peer), computed the
// same way so the two outputs can be compared line by line: counts, total
// data bytes, and an order-independent checksum (a sum of per-item hashes) of
// every key name, value name (UTF-8), value type and value data.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace hivewalk {

inline std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  x ^= x >> 31;
  return x;
}

inline std::uint64_t hashBytes(const void* data, std::size_t n, std::uint64_t seed) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint64_t h = seed ^ (n * 0x9e3779b97f4a7c15ull);
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  std::uint64_t w = 0;
  if (n) std::memcpy(&w, p, n);  // data of no bytes may come as a null pointer
  return mix(h ^ w);
}

struct Totals {
  std::uint64_t keys = 0;
  std::uint64_t values = 0;
  std::uint64_t dataBytes = 0;
  std::uint64_t checksum = 0;

  void key(const char* name, std::size_t len) {
    ++keys;
    checksum += mix(hashBytes(name, len, 1));
  }
  void value(const char* name, std::size_t len, std::uint32_t type, const void* data, std::size_t size) {
    ++values;
    dataBytes += size;
    checksum += mix(hashBytes(name, len, 2) + 31 * mix(type + 3) + 17 * hashBytes(data, size, 4));
  }
  void print(double ms) const {
    std::printf("keys %llu\nvalues %llu\ndata bytes %llu\nchecksum %016llx\ntime %.3f ms\n",
                static_cast<unsigned long long>(keys), static_cast<unsigned long long>(values),
                static_cast<unsigned long long>(dataBytes), static_cast<unsigned long long>(checksum), ms);
  }
};

inline double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace hivewalk
