#include "app/UiSeams.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/QtText.h"
#include "app/UnitMessages.h"
#include "taskdialog/TdDialogStrs.h"

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

// Stand-in for the task dialogs: a Qt message box with the titles and button
// captions of the dialog strings, so a language file still changes them.
class QtMessageBoxes : public MessageBoxes {
public:
  int messageDlg(QWidget* parent, const QString& text, TTdMessageType kind, TCommonButtons buttons) override {
    static const struct {
      TCommonButton button;
      TdDialogStr caption;
      QMessageBox::ButtonRole role;
      int result;
    } kButtons[] = {
        {cbYes, DialogStrYes, QMessageBox::YesRole, mrYes},
        {cbNo, DialogStrNo, QMessageBox::NoRole, mrNo},
        {cbOK, DialogStrOK, QMessageBox::AcceptRole, mrOk},
        {cbCancel, DialogStrCancel, QMessageBox::RejectRole, mrCancel},
        {cbAbort, DialogStrAbort, QMessageBox::RejectRole, mrAbort},
        {cbRetry, DialogStrRetry, QMessageBox::AcceptRole, mrRetry},
        {cbIgnore, DialogStrIgnore, QMessageBox::AcceptRole, mrIgnore},
        {cbAll, DialogStrAll, QMessageBox::YesRole, mrAll},
        {cbNoToAll, DialogStrNoToAll, QMessageBox::NoRole, mrNoToAll},
        {cbYesToAll, DialogStrYesToAll, QMessageBox::YesRole, mrYesToAll},
        {cbHelp, DialogStrHelp, QMessageBox::HelpRole, mrNone},
        {cbClose, DialogStrClose, QMessageBox::RejectRole, mrCancel},
    };
    QMessageBox box(parent);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    TdDialogStr title = DialogStrInformation;
    switch (kind) {
      case jmWarning: icon = QMessageBox::Warning; title = DialogStrWarning; break;
      case jmError: icon = QMessageBox::Critical; title = DialogStrError; break;
      case jmInformation: icon = QMessageBox::Information; title = DialogStrInformation; break;
      case jmConfirmation: icon = QMessageBox::Question; title = DialogStrConfirmation; break;
      case jmCustom: break;
    }
    box.setIcon(icon);
    box.setWindowTitle(kind == jmCustom ? QString() : ansiToQString(LoadDialogString(title)));
    box.setText(text);
    std::vector<std::pair<QAbstractButton*, int>> made;
    for (const auto& b : kButtons) {
      if (buttons & buttonBit(b.button))
        made.emplace_back(box.addButton(ansiToQString(LoadDialogString(b.caption)), b.role), b.result);
    }
    if (made.empty()) made.emplace_back(box.addButton(ansiToQString(LoadDialogString(DialogStrOK)), QMessageBox::AcceptRole), mrOk);
    box.exec();
    for (const auto& [button, result] : made)
      if (box.clickedButton() == button) return result;
    return mrNone;
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
  static QtMessageBoxes qt;
  return currentBoxes ? *currentBoxes : qt;
}

void setMessageBoxes(MessageBoxes* m) { currentBoxes = m; }
