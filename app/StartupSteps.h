#pragma once

// Steps of the start-up and shut-down order that take what they need from
// the command line.

#include <string_view>

#include "app/CommandLine.h"
#include "core/bwlRegHivesCLP.h"

// Mounts the hives the hive-loading policy selects for the command line's
// switches (core/bwlRegHivesCLP.h); how many it mounted. UnloadHivesAtExit
// gives them back.
inline int ApplyHiveLoadingPolicy(const TCommandLine& commandLine) {
  return ApplyHiveLoadingPolicy([&](std::string_view name) { return commandLine.FindSwitch(name); });
}
