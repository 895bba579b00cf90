#pragma once

// The line the measuring programs print about a hive that is not sound, so a
// figure taken on a damaged, dirty or read-only hive is never mistaken for one
// of the whole hive.

#include <string>

#include "platform/hive/HiveFile.h"

namespace hivestate {

// "damaged, dirty, read-only" and the like; empty for a sound hive that can
// be written back. Whether the hive can be written is judged as an open for
// writing would, whatever mode `hive` was opened in.
inline std::string describe(const platform::hive::HiveFile& hive) {
  const platform::hive::BaseBlockInfo base = hive.baseBlock();
  const platform::hive::LogReplayInfo replay = hive.logReplay();
  std::string out;
  auto add = [&](const char* what) {
    if (!out.empty()) out += ", ";
    out += what;
  };
  if (hive.damaged()) add("damaged");
  if (base.dirty()) add("dirty");
  if (replay.replayed) add("logs replayed");
  if (replay.incomplete) add("log replay incomplete");
  const bool knownFormat = base.majorVersion == 1 && base.minorVersion >= 2 && base.minorVersion <= 6;
  if (hive.damaged() || base.dirty() || !knownFormat) add("read-only");
  return out;
}

}  // namespace hivestate
