// Measures the .reg file view's tree builder on a whole file: reading the
// file, parsing it and making every key node and value record, as the main
// window does before it takes the tree in. With --diff every value is also
// compared with the registry (the default registry, or HIVESCOPE_REGISTRY).
//
//   reg-view FILE.reg [--diff] [--runs N]
//
// Prints the time of each run, their median, and the counts of the tree.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/RegFileTree.h"

namespace {

void count(const KeyNode& node, std::size_t& keys, std::size_t& values) {
  for (int i = 0; i < node.count(); ++i) {
    const KeyNode& child = *node.child(i);
    ++keys;
    if (const auto* data = dynamic_cast<const TRegFileNodeData*>(child.data.get())) {
      values += static_cast<std::size_t>(data->Values.size());
    }
    count(child, keys, values);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.reg [--diff] [--runs N]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  bool diff = false;
  int runs = 5;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--diff") == 0) {
      diff = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    }
  }
  std::vector<double> seconds;
  std::size_t keys = 0, values = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    bool ok = false;
    const auto top = BuildRegFileTree(file, diff, &ok);
    const auto end = std::chrono::steady_clock::now();
    if (!ok) {
      std::fprintf(stderr, "%s: no .reg text\n", file.c_str());
      return 1;
    }
    seconds.push_back(std::chrono::duration<double>(end - start).count());
    keys = values = 0;
    count(*top, keys, values);
    std::printf("run %d: %.3f s\n", run + 1, seconds.back());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("tree of %s%s: median %.3f s, %zu key nodes, %zu value records\n", file.c_str(),
              diff ? " (difference view)" : "", seconds[seconds.size() / 2], keys, values);
  return 0;
}
