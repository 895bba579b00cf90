// hive-walk-hivex HIVE
// The same walk as hive-walk, through libhivex: the peer our engine is
// measured against. Prints the same figures.

#include <hivex.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HiveWalkSum.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hive-walk-hivex HIVE\n");
    return 2;
  }
  hivewalk::Totals t;
  const auto t0 = std::chrono::steady_clock::now();
  hive_h* h = hivex_open(argv[1], 0);
  if (!h) {
    std::fprintf(stderr, "hive-walk-hivex: cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<hive_node_h> pending{hivex_root(h)};
  while (!pending.empty()) {
    const hive_node_h node = pending.back();
    pending.pop_back();
    char* name = hivex_node_name(h, node);
    if (!name) continue;
    t.key(name, std::strlen(name));
    std::free(name);
    if (hive_value_h* vals = hivex_node_values(h, node)) {
      for (std::size_t i = 0; vals[i]; ++i) {
        char* key = hivex_value_key(h, vals[i]);
        if (!key) continue;
        hive_type type;
        std::size_t len = 0;
        char* data = hivex_value_value(h, vals[i], &type, &len);
        t.value(key, std::strlen(key), static_cast<std::uint32_t>(type), data, data ? len : 0);
        std::free(data);
        std::free(key);
      }
      std::free(vals);
    }
    if (hive_node_h* kids = hivex_node_children(h, node)) {
      for (std::size_t i = 0; kids[i]; ++i) pending.push_back(kids[i]);
      std::free(kids);
    }
  }
  hivex_close(h);
  t.print(hivewalk::msSince(t0));
  return 0;
}
