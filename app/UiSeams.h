#pragma once

// Every prompt, file dialog and message box of the windows goes through these
// two interfaces, so tests answer them without a modal loop. The defaults use
// Qt's prompts and file dialogs and the drawn task dialogs.

#include <QString>

#include <cstdint>

#include "taskdialog/TdMessageTypes.h"

class QWidget;

class Prompter {
public:
  virtual ~Prompter() = default;
  // A query with one edit line; `text` is the starting text and the answer.
  // False when cancelled.
  virtual bool inputQuery(QWidget* parent, const QString& title, const QString& prompt, QString& text) = 0;
  // A file to open or save; empty when cancelled. `filter` in Qt's form.
  // The save dialog gives the chosen filter in `filterIndex` (when not null),
  // counted from 1 in the order of `filter`, as the writers' version choice
  // depends on it.
  virtual QString openFileName(QWidget* parent, const QString& title, const QString& filter) = 0;
  virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                               const QString& defaultSuffix, int* filterIndex = nullptr) = 0;
};

// A task dialog's texts: the main instruction above the content, and details
// in the footer, collapsed until the user opens them with `expandCaption`.
struct TaskMessage {
  QString title, instruction, content, details, expandCaption, collapseCaption;
  TTdMessageType kind = jmConfirmation;
  TCommonButtons buttons = 0;
};

class MessageBoxes {
public:
  virtual ~MessageBoxes() = default;
  virtual int messageDlg(QWidget* parent, const QString& text, TTdMessageType kind, TCommonButtons buttons) = 0;
  // An OK box titled with the program's name, without an icon.
  virtual int showMessage(QWidget* parent, const QString& text) {
    return messageDlg(parent, text, jmCustom, buttonBit(cbOK));
  }
  // A box without a task dialog of its own answers the content as a message.
  virtual int taskMessageDlg(QWidget* parent, const TaskMessage& message) {
    return messageDlg(parent, message.content, message.kind, message.buttons);
  }
};

// The seams in use; setting nullptr restores the Qt ones.
Prompter& prompter();
void setPrompter(Prompter* p);
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* m);
