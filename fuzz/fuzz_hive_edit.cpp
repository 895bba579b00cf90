// libFuzzer target: a hive (mutated) opened for writing, one value edited,
// the hive saved and read back with the engine's own reader. Every key and
// value that could be read before the edit must still be there and the same,
// except the edited value, which must read as written. An edit refused, or
// one on a hive that opened read-only, changes nothing at all.
//
// Input: 8 control bytes, then the hive file (its base block checksum is
// made right before it is opened).
//   [0]     what to do: replace a value's data, add a new value, delete one
//   [1..2]  which key (index into the walk, modulo the keys read)
//   [3]     which of its values
//   [4..6]  length of the new data (modulo 70,000: resident, small, big data)
//   [7]     the new data's type and fill byte

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"

using namespace platform::hive;

namespace {

constexpr std::size_t kMaxKeys = 20000;

struct Key {
  KeyId id;
  std::string path;
};

struct Snapshot {
  std::vector<Key> keys;
  std::vector<std::string> lines;  // "K path|class|security" and "V path|name|type|data"
  bool complete = true;            // false when the walk hit its bound
};

void appendUnits(std::string& out, std::u16string_view s) {
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
}

void appendHex(std::string& out, std::span<const std::uint8_t> d) {
  static const char* digits = "0123456789abcdef";
  for (std::uint8_t b : d) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
}

std::string valueLine(const HiveFile& h, const std::string& keyPath, ValueId v, bool* ok) {
  ValueInfo vi;
  std::vector<std::uint8_t> data;
  *ok = h.valueInfoInto(v, vi) && h.valueDataInto(v, data);
  if (!*ok) return {};
  std::string line = "V " + keyPath + "|";
  appendUnits(line, vi.name);
  line += "|" + std::to_string(vi.type) + "|";
  appendHex(line, data);
  return line;
}

// Everything the reader gives, key by key; what it cannot read is left out.
Snapshot snapshot(const HiveFile& h) {
  Snapshot s;
  std::vector<Key> pending{{h.root(), ""}};
  std::vector<KeyId> kids;
  std::vector<ValueId> vals;
  while (!pending.empty()) {
    if (s.keys.size() >= kMaxKeys) {
      s.complete = false;
      break;
    }
    Key k = std::move(pending.back());
    pending.pop_back();
    const auto info = h.keyInfo(k.id);
    if (!info) continue;
    k.path += "/";
    appendUnits(k.path, info->name);
    std::string line = "K " + k.path + "|";
    appendUnits(line, info->className);
    line += "|";
    if (const auto sd = h.security(k.id)) appendHex(line, *sd);
    s.lines.push_back(std::move(line));
    if (h.valuesInto(k.id, vals))
      for (ValueId v : vals) {
        bool ok = false;
        std::string vl = valueLine(h, k.path, v, &ok);
        if (ok) s.lines.push_back(std::move(vl));
      }
    if (h.subkeysInto(k.id, kids))
      for (KeyId c : kids) pending.push_back({c, k.path});
    s.keys.push_back(std::move(k));
  }
  std::sort(s.lines.begin(), s.lines.end());
  return s;
}

[[noreturn]] void lost(const char* what, const std::string& line) {
  std::fprintf(stderr, "hive edit: %s: %.300s\n", what, line.c_str());
  std::abort();
}

// Every line of `before` but `except` (one occurrence) is in `after`.
void expectKept(const std::vector<std::string>& before, const std::vector<std::string>& after,
                const std::string* except) {
  std::vector<std::string> want = before;
  if (except) {
    auto it = std::lower_bound(want.begin(), want.end(), *except);
    if (it != want.end() && *it == *except) want.erase(it);
  }
  std::vector<std::string> missing;
  std::set_difference(want.begin(), want.end(), after.begin(), after.end(), std::back_inserter(missing));
  if (!missing.empty()) lost("lost or changed", missing.front());
}

Snapshot reread(HiveFile& h) {
  auto bytes = h.serialize();
  if (!bytes) lost("serialize failed", "");
  auto again = HiveFile::openBytes(*bytes, OpenMode::ReadOnly);
  if (!again) lost("the saved hive does not open", "");
  // A hive that opened sound is saved sound.
  if (!h.damaged() && (*again)->damaged()) lost("the saved hive is damaged", "");
  return snapshot(**again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::uint8_t* c = data;
  // The base block's checksum is made right: a mutation there would only
  // ever reach a read-only hive, and the edits are what is tried here.
  std::vector<std::uint8_t> file(data + 8, data + size);
  if (file.size() >= kBaseBlockSize) storeU32(file.data() + bb::Checksum, baseBlockChecksum(file.data()));
  auto opened = HiveFile::openBytes(file, OpenMode::ReadWrite);
  if (!opened) return 0;
  HiveFile& h = **opened;
  const Snapshot before = snapshot(h);
  if (!before.complete || before.keys.empty()) return 0;

  const Key& key = before.keys[(c[1] | (c[2] << 8)) % before.keys.size()];
  std::vector<ValueId> vals;
  (void)h.valuesInto(key.id, vals);
  const std::size_t length = (c[4] | (c[5] << 8) | (c[6] << 16)) % 70000;
  const std::vector<std::uint8_t> newData(length, c[7]);
  const std::uint32_t type = c[7] % 12;

  std::u16string name = u"fuzz-new";
  const int op = vals.empty() ? 1 : c[0] % 3;
  if (op != 1) {
    ValueInfo vi;
    if (!h.valueInfoInto(vals[c[3] % vals.size()], vi)) return 0;
    name = vi.name;
  }
  // The value an edit by this name reaches (the first of that name), as it
  // read before.
  std::string oldLine;
  bool oldReadable = false;
  if (const auto target = h.findValue(key.id, name)) {
    oldLine = valueLine(h, key.path, *target, &oldReadable);
    ValueInfo vi;
    if (h.valueInfoInto(*target, vi)) name = vi.name;  // names match ignoring case; the stored one stays
  }

  bool done = false;
  if (op == 2) {
    done = h.deleteValue(key.id, name).ok();
  } else {
    done = h.setValue(key.id, name, type, newData).ok();
  }
  if (h.readOnly() && done) lost("a read-only hive took an edit", key.path);

  const Snapshot after = reread(h);
  if (!done) {
    // Nothing may have changed.
    expectKept(before.lines, after.lines, nullptr);
    return 0;
  }
  expectKept(before.lines, after.lines, oldReadable ? &oldLine : nullptr);
  if (op != 2) {
    std::string want = "V " + key.path + "|";
    appendUnits(want, name);
    want += "|" + std::to_string(type) + "|";
    appendHex(want, newData);
    if (!std::binary_search(after.lines.begin(), after.lines.end(), want)) lost("the edit does not read back", want);
  }
  return 0;
}
