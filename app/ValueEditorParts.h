#pragma once

// Pieces the value editor windows share: the read-only name field, the OK and
// Cancel buttons, and the modal result a window hands back.

#include <QString>

class QBoxLayout;
class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

// A read-only, grey field named `name`.
QLineEdit* makeReadOnlyField(QWidget* parent, const char* name);
// Adds "OK" (default, accepts) and "Cancel" (rejects, also on Escape) as
// `bnOK` and `bnCancel` to the right end of `layout`.
void addOkCancel(QDialog* dialog, QBoxLayout* layout, QPushButton*& ok, QPushButton*& cancel);
// A QDialog::exec() result as a modal result: OK when accepted, Cancel otherwise.
int modalResultOf(int dialogCode);
