#include "taskdialog/TdMessageDlg.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include "taskdialog/TdDialogStrs.h"

TDialogPosition DefaultDialogPosition = dpScreenCenter;
bool DialogsStayOnTop = false;
TTdDialogFactory DefaultDialogClass;

namespace {

std::unique_ptr<TTdCustomDialog> createDialog(QObject* Owner) {
  if (DefaultDialogClass)
    if (std::unique_ptr<TTdCustomDialog> dialog = DefaultDialogClass(Owner))
      return dialog;
  return std::make_unique<TTdDialog>(Owner);
}

QString typeTitle(TTdMessageType Type) {
  switch (Type) {
    case jmWarning: return LoadDialogText(DialogStrWarning);
    case jmError: return LoadDialogText(DialogStrError);
    case jmInformation: return LoadDialogText(DialogStrInformation);
    case jmConfirmation: return LoadDialogText(DialogStrConfirmation);
    case jmCustom: break;
  }
  return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

TCommonButton defaultFor(TCommonButtons Buttons) {
  return hasButton(Buttons, cbOK) ? cbOK : hasButton(Buttons, cbYes) ? cbYes : cbRetry;
}

int drawnMessageBox(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx,
                    TCommonButton DefaultButton, bool Placed, int X, int Y) {
  std::unique_ptr<TTdCustomDialog> dialog = createDialog(nullptr);
  dialog->setContent(Msg.split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))));
  dialog->setTitle(typeTitle(DlgType));
  dialog->setMainIcon(TdMessageTypeIcon(DlgType));
  dialog->ButtonBar.setButtons(Buttons & static_cast<TCommonButtons>(~buttonBit(cbClose)));
  if (dialog->ButtonBar.useDefault())
    dialog->ButtonBar.setDefault(DefaultButton);
  if (dialog->ButtonBar.useCancel())
    dialog->ButtonBar.setCancel(hasButton(Buttons, cbCancel) ? cbCancel : hasButton(Buttons, cbNo) ? cbNo : cbOK);
  dialog->HelpContext = HelpCtx;
  if (Placed && (X | Y) != -1) {
    dialog->Position = dpDesigned;
    dialog->Location = {X, Y};
  } else {
    dialog->Position = DefaultDialogPosition;
  }
  if (DialogsStayOnTop)
    dialog->setDialogOptions(dialog->dialogOptions() | optionBit(doTopMost));
  return dialog->Execute();
}

}  // namespace

TTaskDialogIcon TdMessageTypeIcon(TTdMessageType Type) {
  static constexpr TTaskDialogIcon kIcons[] = {tdiWarning, tdiError, tdiInformation, tdiConfirmation, tdiCustom};
  return kIcons[Type];
}

int TdMessageDlg(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx) {
  return TdMessageDlgWithDefault(Msg, DlgType, Buttons, HelpCtx, defaultFor(Buttons));
}

int TdMessageDlgWithDefault(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx,
                            TCommonButton DefaultButton) {
  return drawnMessageBox(Msg, DlgType, Buttons, HelpCtx, DefaultButton, false, -1, -1);
}

int TdMessageDlgPos(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx, int X, int Y) {
  return TdMessageDlgPosWithDefault(Msg, DlgType, Buttons, HelpCtx, X, Y, defaultFor(Buttons));
}

int TdMessageDlgPosWithDefault(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx,
                               int X, int Y, TCommonButton DefaultButton) {
  return drawnMessageBox(Msg, DlgType, Buttons, HelpCtx, DefaultButton, true, X, Y);
}

int TdShowMessagePos(const QString& Msg, int X, int Y) {
  return TdMessageDlgPos(Msg, jmCustom, buttonBit(cbOK), 0, X, Y);
}

int TdShowMessage(const QString& Msg) { return TdShowMessagePos(Msg, -1, -1); }

int TdTaskMessageDlg(const QString& Title, const QString& Instruction, const QString& Content,
                     const QString& Details, const QString& ShowText, const QString& HideText, TTaskDialogIcon Icon,
                     TCommonButtons Buttons, int HelpCtx, bool DetailsInFooter, bool DetailsExpanded) {
  return TdTaskMessageDlgOwned(nullptr, Title, Instruction, Content, Details, ShowText, HideText, Icon, Buttons,
                               HelpCtx, DetailsInFooter, DetailsExpanded);
}

int TdTaskMessageDlgOwned(QObject* Owner, const QString& Title, const QString& Instruction, const QString& Content,
                          const QString& Details, const QString& ShowText, const QString& HideText,
                          TTaskDialogIcon Icon, TCommonButtons Buttons, int HelpCtx, bool DetailsInFooter,
                          bool DetailsExpanded) {
  std::unique_ptr<TTdCustomDialog> dialog = createDialog(Owner);
  QString title = Title;
  if (title.isEmpty()) {
    switch (Icon) {
      case tdiWarning:
      case tdiShield: title = LoadDialogText(DialogStrWarning); break;
      case tdiError: title = LoadDialogText(DialogStrError); break;
      case tdiInformation: title = LoadDialogText(DialogStrInformation); break;
      case tdiConfirmation: title = LoadDialogText(DialogStrConfirmation); break;
      case tdiNone:
      case tdiCustom: break;
    }
  }
  dialog->setTitle(title);
  dialog->Instruction.setText(Instruction);
  dialog->setContent(QStringList(dialog->content()) << Content);
  dialog->Expando.setLines(QStringList(dialog->Expando.lines()) << Details);
  dialog->Expando.setShowText(ShowText);
  dialog->Expando.setHideText(HideText);
  dialog->setMainIcon(Icon);
  dialog->ButtonBar.setButtons(Buttons);
  dialog->HelpContext = HelpCtx;
  dialog->Expando.setShowInFooter(DetailsInFooter);
  dialog->Expando.setShowing(DetailsExpanded);
  dialog->Expando.setVisible(true);
  dialog->Position = DefaultDialogPosition;
  if (DialogsStayOnTop)
    dialog->setDialogOptions(dialog->dialogOptions() | optionBit(doTopMost));
  return dialog->Execute();
}
