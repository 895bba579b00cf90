#pragma once

// The message boxes: every confirmation, error and information box of the
// windows is a drawn task dialog built here. Each entry point creates its
// dialog through DefaultDialogClass, runs it modally, frees it and returns
// the modal result (2 when it was closed without a button).

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "taskdialog/TdDialog.h"
#include "taskdialog/TdMessageTypes.h"

// Where every dialog built here is placed, unless an entry point places it
// at X, Y.
extern TDialogPosition DefaultDialogPosition;
// Keeps every dialog built here above all windows.
extern bool DialogsStayOnTop;

// Makes the dialog the entry points show; tests put one in that answers
// without a window. Empty: a TTdDialog.
using TTdDialogFactory = std::function<std::unique_ptr<TTdCustomDialog>(QObject* Owner)>;
extern TTdDialogFactory DefaultDialogClass;

// The main icon of a message box of Type.
TTaskDialogIcon TdMessageTypeIcon(TTdMessageType Type);

// Default button: OK when Buttons holds it, else Yes when it does, else Retry.
int TdMessageDlg(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx);
int TdMessageDlgWithDefault(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx,
                            TCommonButton DefaultButton);
// Placed at X, Y unless either is -1.
int TdMessageDlgPos(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx, int X, int Y);
int TdMessageDlgPosWithDefault(const QString& Msg, TTdMessageType DlgType, TCommonButtons Buttons, int HelpCtx,
                               int X, int Y, TCommonButton DefaultButton);
// An OK box titled with the program's file name, without an icon.
int TdShowMessagePos(const QString& Msg, int X, int Y);
int TdShowMessage(const QString& Msg);

// A task dialog with an instruction, content and details behind an expand
// label captioned ShowText (collapsed) and HideText (expanded). The buttons
// keep the dialog's own default and cancel button (OK and Cancel), so Yes
// and No get neither.
int TdTaskMessageDlg(const QString& Title, const QString& Instruction, const QString& Content,
                     const QString& Details, const QString& ShowText, const QString& HideText, TTaskDialogIcon Icon,
                     TCommonButtons Buttons, int HelpCtx, bool DetailsInFooter, bool DetailsExpanded);
int TdTaskMessageDlgOwned(QObject* Owner, const QString& Title, const QString& Instruction, const QString& Content,
                          const QString& Details, const QString& ShowText, const QString& HideText,
                          TTaskDialogIcon Icon, TCommonButtons Buttons, int HelpCtx, bool DetailsInFooter,
                          bool DetailsExpanded);
