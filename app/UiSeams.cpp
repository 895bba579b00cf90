#include "app/UiSeams.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QEvent>
#include <QTextEdit>

#include <memory>

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

// Keeps a details button's caption to the state of the area it opens.
class ExpanderCaptions : public QObject {
public:
  ExpanderCaptions(QAbstractButton* button, QString expand, QString collapse)
      : button_(button), expand_(std::move(expand)), collapse_(std::move(collapse)) {
    if (button_ && !expand_.isEmpty()) button_->setText(expand_);
  }
  void watch(QWidget* details) {
    details_ = details;
    details->installEventFilter(this);
    if (button_) button_->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The box sets its own caption again when it is shown: any later event
    // of the button puts the wanted one back.
    if (button_ && details_ && event->type() != QEvent::Destroy && event->type() != QEvent::ChildRemoved) {
      const bool open = watched == details_ ? event->type() == QEvent::ShowToParent ||
                                                  (event->type() != QEvent::HideToParent && details_->isVisible())
                                            : details_->isVisible();
      const QString& wanted = open ? collapse_ : expand_;
      if (button_->text() != wanted) button_->setText(wanted);
    }
    return QObject::eventFilter(watched, event);
  }

private:
  QAbstractButton* button_;
  QWidget* details_ = nullptr;
  QString expand_, collapse_;
};

// Stand-in for the task dialogs: a Qt message box with the titles and button
// captions of the dialog strings, so a language file still changes them.
class QtMessageBoxes : public MessageBoxes {
public:
  int messageDlg(QWidget* parent, const QString& text, TTdMessageType kind, TCommonButtons buttons) override {
    QMessageBox box(parent);
    return run(box, text, kind, buttons);
  }

  // The instruction as the box's text, the content below it, the details in
  // the box's collapsed details area behind the message's own captions.
  int taskMessageDlg(QWidget* parent, const TaskMessage& message) override {
    QMessageBox box(parent);
    box.setInformativeText(message.content);
    if (!message.details.isEmpty()) box.setDetailedText(message.details);
    // The box relabels its details button on every click; the captions
    // follow the details area's own showing and hiding instead.
    QTextEdit* detailsText = box.findChild<QTextEdit*>();
    const QList<QPushButton*> made = box.findChildren<QPushButton*>();
    ExpanderCaptions captions(made.size() == 1 ? made.first() : nullptr, message.expandCaption,
                              message.collapseCaption);
    if (detailsText && detailsText->parentWidget() && !message.expandCaption.isEmpty())
      captions.watch(detailsText->parentWidget());
    return run(box, message.instruction, message.kind, message.buttons, &message.title);
  }

private:
  static int run(QMessageBox& box, const QString& text, TTdMessageType kind, TCommonButtons buttons,
                 const QString* title = nullptr) {
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
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    TdDialogStr kindTitle = DialogStrInformation;
    switch (kind) {
      case jmWarning: icon = QMessageBox::Warning; kindTitle = DialogStrWarning; break;
      case jmError: icon = QMessageBox::Critical; kindTitle = DialogStrError; break;
      case jmInformation: icon = QMessageBox::Information; kindTitle = DialogStrInformation; break;
      case jmConfirmation: icon = QMessageBox::Question; kindTitle = DialogStrConfirmation; break;
      case jmCustom: break;
    }
    box.setIcon(icon);
    box.setWindowTitle(title ? *title : kind == jmCustom ? QString() : ansiToQString(LoadDialogString(kindTitle)));
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
