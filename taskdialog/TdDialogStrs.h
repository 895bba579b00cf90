#pragma once

// The replaceable texts of the task dialogs: button captions, the four box
// titles and two error texts. Dialogs never keep a caption as a literal; they
// load the current text each time they build a button or a title, so a
// language file that replaces a text changes every later dialog.

#include <QString>

#include <optional>
#include <string>

enum TdDialogStr : int {
  DialogStrAssignSource,
  DialogStrNoHelpFile,
  DialogStrYes,
  DialogStrNo,
  DialogStrOK,
  DialogStrCancel,
  DialogStrHelp,
  DialogStrAbort,
  DialogStrRetry,
  DialogStrIgnore,
  DialogStrAll,
  DialogStrNoToAll,
  DialogStrYesToAll,
  DialogStrClose,
  DialogStrConfirmation,
  DialogStrWarning,
  DialogStrError,
  DialogStrInformation,
  DialogStrCount
};

// The current text of a dialog string (8-bit text in the active code page).
std::string LoadDialogString(TdDialogStr id);
// The same as wide text, as the dialogs show it.
QString LoadDialogText(TdDialogStr id);
// Replaces the text in place; it holds until the program ends or the next
// replacement. The lookup below only sees it after RebuildDialogStrings.
void ReplaceDialogString(TdDialogStr id, std::string text);
// Rebuilds the text -> dialog string lookup from the current texts.
void RebuildDialogStrings();
// The dialog string whose current text equals `text` (case ignored, in the
// user's locale); when two strings share a text the earlier one wins.
std::optional<TdDialogStr> FindDialogString(const QString& text);
