#pragma once

// The translator of windows, menus and messages. This unit so far carries the
// message side: the built-in English message texts, the [Messages] section of
// a loaded language file, and the load and save handlers other units hook in
// (the task-dialog texts of [Dialogs]).

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IniFile;

class TAppTranslator {
public:
  using IniHandler = std::function<void(IniFile&)>;

  // Lines "key=text" of the loaded file's [Messages] section, unescaped.
  std::vector<std::string> Messages;
  // Lines "key=text" of the built-in English texts, in table order.
  std::vector<std::string> DefaultMessages;
  std::vector<IniHandler> LoadProcs;
  std::vector<IniHandler> SaveProcs;

  // Clears the default list and stores pairs[0..highIndex] as key=text.
  void SetDefaultMessages(const std::pair<const char*, const char*>* pairs, int highIndex);
  // The loaded [Messages] value when the loaded list holds the key (case
  // ignored), else the built-in English text; empty for an unknown key.
  std::string GetMessage(std::string_view key) const;

  // [Messages] of a language file into Messages (part of every language load).
  void LoadMessages(const IniFile& ini);
  // The default messages, escaped, into [Messages] (part of writing the English file).
  void SaveDefaultMessages(IniFile& ini) const;

  void AddLoadHandler(IniHandler proc) { LoadProcs.push_back(std::move(proc)); }
  void AddSaveHandler(IniHandler proc) { SaveProcs.push_back(std::move(proc)); }
  // Runs the handlers in order of registration; a failing handler is skipped.
  void RunLoadHandlers(IniFile& ini);
  void RunSaveHandlers(IniFile& ini);
};

// The module-wide translator, created on first use and living to the end.
TAppTranslator* AppTranslator();

// Text escapes of language files.
// Reading a message line: "%0D%0A" becomes CR LF, then "%%" becomes "%".
std::string unescapeMessageText(std::string_view text);
// Writing: "% " -> "%% ", "%." -> "%%.", CR LF -> "%0D%0A".
std::string escapeLanguageText(std::string_view text);
// Every occurrence of `from` replaced by `to`, in one pass.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// UTF-8 to the active 8-bit code page; false when the bytes are no valid UTF-8.
bool utf8ToActiveCodePage(std::string_view text, std::string& out);
