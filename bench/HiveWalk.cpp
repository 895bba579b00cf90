// hive-walk HIVE [--rewrite OUT]
// Opens a hive, walks every key and value (reading all data) and prints the
// figures of HiveWalkSum.h and the time taken. With --rewrite, the hive is then
// copied key by key through the writer into a new hive file OUT.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "HiveState.h"
#include "HiveWalkSum.h"
#include "platform/hive/HiveFile.h"

using namespace platform::hive;

namespace {

// UTF-16 to UTF-8 into a reused buffer (lone surrogates as 3-byte forms).
void toUtf8(const std::u16string& in, std::string& out) {
  out.resize(in.size() * 3);
  char* o = out.data();
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t c = in[i];
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (c >> 12));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (c >> 18));
      *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

int walk(const char* path, hivewalk::Totals& t) {
  auto opened = HiveFile::open(path, OpenMode::ReadOnly);
  if (!opened) {
    std::fprintf(stderr, "hive-walk: cannot open %s (error %d)\n", path, static_cast<int>(opened.error()));
    return 1;
  }
  const HiveFile& hive = **opened;
  if (const std::string state = hivestate::describe(hive); !state.empty())
    std::fprintf(stderr, "hive-walk: %s is %s\n", path, state.c_str());
  std::vector<KeyId> pending{hive.root()};
  std::vector<KeyId> children;
  std::vector<ValueId> vals;
  std::vector<std::uint8_t> data;
  std::u16string name;
  std::string utf8;
  ValueInfo info;
  while (!pending.empty()) {
    const KeyId k = pending.back();
    pending.pop_back();
    if (!hive.keyNameInto(k, name)) continue;
    toUtf8(name, utf8);
    t.key(utf8.data(), utf8.size());
    if (hive.valuesInto(k, vals)) {
      for (ValueId v : vals) {
        if (!hive.valueInfoInto(v, info)) continue;
        if (!hive.valueDataInto(v, data)) data.clear();
        toUtf8(info.name, utf8);
        t.value(utf8.data(), utf8.size(), info.type, data.data(), data.size());
      }
    }
    if (hive.subkeysInto(k, children)) pending.insert(pending.end(), children.begin(), children.end());
  }
  return 0;
}

// Copies one key's contents and, depth first, its sub-keys.
bool copyTree(const HiveFile& from, KeyId src, HiveFile& to, KeyId dst, int depth) {
  if (depth > 512) return false;
  auto info = from.keyInfo(src);
  if (!info) return false;
  if (!info->className.empty() && !to.setClassName(dst, info->className)) return false;
  if (auto sd = from.security(src); sd && !to.setSecurity(dst, *sd)) return false;
  auto vals = from.values(src);
  if (vals) {
    for (ValueId v : *vals) {
      auto vi = from.valueInfo(v);
      auto data = from.valueData(v);
      if (!vi) continue;
      if (!to.setValue(dst, vi->name, vi->type, data ? *data : std::vector<std::uint8_t>{})) return false;
    }
  }
  auto kids = from.subkeys(src);
  if (kids) {
    for (KeyId c : *kids) {
      auto ci = from.keyInfo(c);
      if (!ci) continue;
      auto made = to.createKey(dst, ci->name);
      if (!made || !copyTree(from, c, to, *made, depth + 1)) return false;
    }
  }
  return static_cast<bool>(to.setLastWritten(dst, info->lastWritten));
}

int rewrite(const char* path, const char* out) {
  auto opened = HiveFile::open(path, OpenMode::ReadOnly);
  if (!opened) return 1;
  const HiveFile& from = **opened;
  auto rootInfo = from.keyInfo(from.root());
  if (!rootInfo) return 1;
  auto created = HiveFile::createEmpty(rootInfo->name);
  if (!created) return 1;
  HiveFile& to = **created;
  if (!copyTree(from, from.root(), to, to.root(), 0)) {
    std::fprintf(stderr, "hive-walk: copy failed\n");
    return 1;
  }
  if (!to.saveAs(out)) {
    std::fprintf(stderr, "hive-walk: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* rewriteTo = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rewrite") == 0 && i + 1 < argc)
      rewriteTo = argv[++i];
    else
      path = argv[i];
  }
  if (!path) {
    std::fprintf(stderr, "usage: hive-walk HIVE [--rewrite OUT]\n");
    return 2;
  }
  hivewalk::Totals t;
  const auto t0 = std::chrono::steady_clock::now();
  if (walk(path, t) != 0) return 1;
  t.print(hivewalk::msSince(t0));
  if (rewriteTo) {
    const auto t1 = std::chrono::steady_clock::now();
    if (rewrite(path, rewriteTo) != 0) return 1;
    std::printf("rewrite %.3f ms\n", hivewalk::msSince(t1));
  }
  return 0;
}
