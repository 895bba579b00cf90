#pragma once

// The bug-report file: the program's reports, one after the other, each
// followed by an empty line. A new report is appended; an older report of
// the same crash is taken out and the new one counts how often it happened;
// a file grown past its limit loses its oldest whole reports.
//
// Writers exclude each other through a non-blocking lock on a sibling lock
// file: a second writer at the same moment gets false and changes nothing.
// Any removal rewrites the whole file through a temporary file renamed over
// it, so a writer dying half-way (the crashing process itself) leaves the old
// file or the new one, never a torn one; a plain append stays an append.

#include <functional>
#include <string>
#include <string_view>

#include "crashreport/zebExceptSettings.h"

namespace zeb {

// The configured file name with %appname% and %modname% replaced (letter case
// ignored) by the program's and the settings' module file name without
// folder and extension; may be relative.
std::string ResolveBugReportFileName(TIZeqSettings& settings);

// Asks where to save: (initial folder, initial file name, title) -> the
// chosen path, empty when cancelled. The window the user asked from lends
// its file dialog.
using SaveDialogFunction =
    std::function<std::string(const std::string& folder, const std::string& fileName, const std::string& title)>;

// Writes one report. An empty fileName means the configured file (relative
// names in the user's data folder); without noDialog the user is asked first
// through `dialog` (none: false). True when the report was written. Writing
// the configured file without a dialog marks the exception's report as saved.
bool WriteBugReportFile(const std::string& fileName, const std::string& reportText, bool noDialog,
                        TIZeqSettings& settings, const SaveDialogFunction& dialog = {});

// The content of a header line "name<blanks>: content" of the report's
// header (the lines before its first empty line); empty when absent. The
// first line counts too.
std::string ReadHeaderItem(std::string_view report, std::string_view item);
bool SameHeaderItem(std::string_view a, std::string_view b, std::string_view item);
// Adds "item<blanks>: content" right after the header line of afterItem,
// its colon under that line's colon; no change when afterItem is absent.
void InsertHeaderItem(std::string& report, std::string_view item, std::string_view afterItem,
                      std::string_view content);

// The folder that holds the file, created with its missing parents; true
// when it exists afterwards.
bool CreateFolderChain(const std::string& filePath);
// The user's desktop folder with a trailing "/"; the home folder when none.
std::string DesktopFolder();

// The rules of a write applied to a file's content (exposed for tests and
// the bench): the content the file gets, and whether it is a plain append of
// the report to the old content.
struct BugReportRules {
  bool append = true;
  int sizeLimit = 100000;
  bool noDuplicates = true;  // of the kind the report is (exception or freeze)
  int duplicateDefinition = 1;
};
std::string ApplyBugReportRules(const std::string& oldContent, const std::string& reportText,
                                const BugReportRules& rules, bool& plainAppend);

}  // namespace zeb
