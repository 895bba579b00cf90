// The main window's side of the search: opening the search window.

#include "app/FormUnitMain.h"
#include "app/FormUnitSearch.h"
#include "app/WindowPlacement.h"
#include "app/bwlLocalization.h"

TformSearch* TformMain::formSearch() {
  if (!formSearch_) {
    formSearch_ = std::make_unique<TformSearch>(this);
    OnScreenGuard::install(*formSearch_);
    formSearch_->setSettings(FSettings.Search);
    AppTranslator()->TranslateNewForm(*formSearch_);
  }
  return formSearch_.get();
}

void TformMain::aSearchExecute() {
  const NodeLocation loc = GetSelectedLocation();
  formSearch()->ShowSearch(loc.root, loc.keyPath, loc.view);
}
