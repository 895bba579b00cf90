#pragma once

// What the report takes from the windows: the display mode of the header and
// the save dialog of the bug-report file. Install both on the GUI thread once
// the application object exists.

#include <string>

class QWidget;

namespace zeb {

// The header's "display mode" from the primary screen, kept up to date as
// screens change, so a report composed on another thread (or while the GUI
// thread is the one that crashed) never has to ask the GUI thread.
void InstallDisplayModeSource();
// Saving a report asks with a file dialog on the thread that saves (the one
// that runs the crash reporter's windows); "*.txt", the desktop's dialog where
// the platform theme offers one.
void InstallBugReportSaveDialog();
// That dialog over `parent`: starts in `folder` with `fileName`; the chosen
// path with ".txt" added when it has no extension, empty when cancelled.
std::string AskBugReportSavePath(const std::string& folder, const std::string& fileName, const std::string& title,
                                 QWidget* parent = nullptr);

}  // namespace zeb
