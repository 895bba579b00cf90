#pragma once

// What the report takes from the windows: the display mode of the header
// (install it on the GUI thread once the application object exists) and the
// save dialog of the bug-report file.

#include <string>

class QWidget;

namespace zeb {

// The header's "display mode" from the primary screen, kept up to date as
// screens change, so a report composed on another thread (or while the GUI
// thread is the one that crashed) never has to ask the GUI thread.
void InstallDisplayModeSource();
// The save dialog of a report, on the thread that runs the crash reporter's
// windows, over `parent`: "*.txt", the desktop's dialog where the platform
// theme offers one; starts in `folder` with `fileName`; the chosen path with
// ".txt" added when it has no extension, empty when cancelled.
std::string AskBugReportSavePath(const std::string& folder, const std::string& fileName, const std::string& title,
                                 QWidget* parent = nullptr);

}  // namespace zeb
