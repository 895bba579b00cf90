#pragma once

// Printing the bug report as plain text: an 8-point fixed-pitch font, 1 cm
// above, 2 cm left and 1 cm right, long lines wrapped at word boundaries and
// a new page whenever the next line would pass the bottom limit.

#include <string>

class QPrinter;
class QWidget;

namespace zeb {

class CrashUiSettings;

// Asks for a printer with the print dialog and prints; cancel prints nothing.
// The document is named by PrintBtnTxt of `settings` ("print bug report"
// without them).
void PrintReportText(const std::string& report, QWidget* parent, const CrashUiSettings* settings);

// Prints onto a printer already set up (no dialog); the number of pages, 0
// when printing could not start.
int PrintReportOn(QPrinter& printer, const std::string& report);

}  // namespace zeb
