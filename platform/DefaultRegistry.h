#pragma once

// The default registry: the machine's and the user's hive files that the
// program works with when no Windows disk is at hand. They live in
// $HIVESCOPE_REGISTRY, else $XDG_DATA_HOME/hivescope/registry (XDG_DATA_HOME
// defaulting to ~/.local/share): machine hives in machine/, the user's in
// users/<SID>/. A first run creates them holding only what the program reads;
// later runs use them as they are.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::registry {

std::filesystem::path defaultRegistryFolder();

struct DefaultHive {
  bool machine = false;        // mounted under HKEY_LOCAL_MACHINE, else HKEY_USERS
  std::u16string mountName;    // "SYSTEM", ".DEFAULT", "<SID>", "<SID>_Classes"
  std::filesystem::path path;
};

// The hives of the default registry for the user, in mounting order.
std::vector<DefaultHive> defaultHives(const std::filesystem::path& folder, const std::string& userSid);

// Creates every hive file of the list that does not exist yet (a file that
// exists is never touched, so a second run leaves the folder byte-identical).
// Two processes starting together are safe: a file appears whole or not at all.
// ERROR_SUCCESS, or the code of the first failure.
LSTATUS createMissingDefaultHives(const std::filesystem::path& folder, const std::string& userSid);

}  // namespace platform::registry
