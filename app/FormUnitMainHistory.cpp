// The main window's side of the history window: made once, handed the
// change history, shown non-modally.

#include "app/FormUnitHistory.h"
#include "app/FormUnitMain.h"

TformHistory* TformMain::formHistory() {
  if (!formHistory_) {
    formHistory_ = std::make_unique<TformHistory>(this);
    formHistory_->SetHistory(FHistory.get());
  }
  return formHistory_.get();
}

void TformMain::aShowHistoryExecute() {
  TformHistory* form = formHistory();
  form->show();
  form->raise();
  form->activateWindow();
}
