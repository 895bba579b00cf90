#include "app/UiSeams.h"

#include <QFileDialog>
#include <QInputDialog>

#include <memory>

#include "taskdialog/TdMessageDlg.h"

namespace {

class QtPrompter : public Prompter {
public:
  bool inputQuery(QWidget* parent, const QString& title, const QString& prompt, QString& text) override {
    bool ok = false;
    const QString answer = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, text, &ok);
    if (ok) text = answer;
    return ok;
  }
  QString openFileName(QWidget* parent, const QString& title, const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, title, {}, filter);
  }
  QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultSuffix, int* filterIndex) override {
    QFileDialog dialog(parent, title, {}, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    if (filterIndex) *filterIndex = static_cast<int>(filter.split(QStringLiteral(";;")).indexOf(dialog.selectedNameFilter())) + 1;
    return dialog.selectedFiles().first();
  }
};

// The task dialogs: message boxes and the task dialog with details in its
// footer, collapsed at first.
class TdMessageBoxes : public MessageBoxes {
public:
  int messageDlg(QWidget*, const QString& text, TTdMessageType kind, TCommonButtons buttons) override {
    return TdMessageDlg(text, kind, buttons, 0);
  }
  int showMessage(QWidget*, const QString& text) override { return TdShowMessage(text); }
  int taskMessageDlg(QWidget* parent, const TaskMessage& message) override {
    return TdTaskMessageDlgOwned(parent, message.title, message.instruction, message.content, message.details,
                                 message.expandCaption, message.collapseCaption, TdMessageTypeIcon(message.kind),
                                 message.buttons, 0, true, false);
  }
};

Prompter* currentPrompter = nullptr;
MessageBoxes* currentBoxes = nullptr;

}  // namespace

Prompter& prompter() {
  static QtPrompter qt;
  return currentPrompter ? *currentPrompter : qt;
}

void setPrompter(Prompter* p) { currentPrompter = p; }

MessageBoxes& messageBoxes() {
  static TdMessageBoxes drawn;
  return currentBoxes ? *currentBoxes : drawn;
}

void setMessageBoxes(MessageBoxes* m) { currentBoxes = m; }
