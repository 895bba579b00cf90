#pragma once

// The settings the main window keeps through the settings object (under
// HKEY_CURRENT_USER): the last key, the search window's options, the height of
// the hex dump and the remote-connect window's list of computers. They are
// kept in this plain record between the reading at the first show and the
// writing at close, so a window that is not there yet loses none of them.

#include <cstdint>
#include <string>

#include "app/CommandLine.h"

struct TMainSettings {
  std::string LastKey;  // root long name + key path
  bool LastKeyFound = false;
  TSearchOptions Search;
  std::int32_t HexDumpSize = 0;
  bool HexDumpSizeFound = false;
  std::string RemoteListHistory;  // comma text of the computer names
};

// Every setting found replaces its field; the others stay as they are.
void ReadMainSettings(TMainSettings& settings);
// Writes every setting, in the table's order, going on past a failure. The
// first failure's text ("LastKey: ..."), or empty when all were written.
std::string WriteMainSettings(const TMainSettings& settings);
