// The main window's languages and help: where the translator finds the
// language files and keeps the choice, the "Languages" menu, and the help
// file behind Help > Contents and Index.

#include "app/FormUnitMain.h"
#include "app/FormUnitSearch.h"
#include "app/HtmlHelpAPI.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "platform/ProgramFiles.h"

#include <memory>

void TformMain::ConfigureTranslator() {
  TAppTranslator* translator = AppTranslator();
  translator->SetLanguageRegistryLocation(platform::HKEY_CURRENT_USER,
                                          "\\Software\\Brantwell Limited\\Analysis tools\\Hivescope", "Language");
  // Listed from every data folder (the user's first, so a file there wins);
  // the English file is written to the user's.
  translator->SetLanguageFolders(platform::programFileReadPlaces(platform::kLanguageFolder),
                                 platform::programFileWritePlace(platform::kLanguageFolder), "hsc");
  translator->SetDefaultMessages(kMessageTable, kMessageHighIndex);
  translator->SetDisplayMenuItem(miLanguages);
}

void TformMain::StartTranslator() {
  TAppTranslator* translator = AppTranslator();
  {
    // The search window is made when first used; the English file holds its
    // texts all the same.
    std::unique_ptr<TformSearch> search;
    if (!formSearch_) search = std::make_unique<TformSearch>(this);
    translator->WriteEnglishFile();
  }
  translator->ScanLanguages();
  translator->LoadSavedLanguage();
}

QString TformMain::HelpFile() const { return applicationHelpFile(); }

void TformMain::aHelpContentsExecute() { ShowHelpContents(nullptr); }

void TformMain::aHelpIndexExecute() { ShowHelpIndex(nullptr); }
