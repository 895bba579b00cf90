#pragma once

// The program's help: the application's help file (the English one until a
// language file names another) handed to the desktop, which opens it with
// whatever viewer the user has for it. Without the file nothing happens.

#include <QString>

#include <functional>

class QWidget;

inline constexpr unsigned HH_DISPLAY_TOC = 1;
inline constexpr unsigned HH_DISPLAY_INDEX = 2;

// Opens a file with the desktop's viewer; true when the desktop took it.
using HelpOpener = std::function<bool(const QString& file)>;
// The opener in use; an empty one restores the desktop's.
void setHelpOpener(HelpOpener opener);

QString applicationHelpFile();
void setApplicationHelpFile(const QString& file);

// Hands `file` to the opener when it is an existing file: 1 when opened,
// else 0 (also when there is no such file; nothing is shown then). The
// desktop has no contents or index page to ask for, so both commands open
// the file.
int CallHtmlHelp(QWidget* window, const QString& file, unsigned command, quintptr data);
void ShowHelpContents(QWidget* window);
void ShowHelpIndex(QWidget* window);
