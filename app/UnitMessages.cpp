#include "app/UnitMessages.h"

#include <array>

#include "app/IniFile.h"
#include "app/QtText.h"
#include "app/bwlLocalization.h"
#include "core/kxStrings.h"
#include "taskdialog/TdDialogStrs.h"

#define HS_CRLF "\r\n"

const std::pair<const char*, const char*> kMessageTable[kMessageHighIndex + 1] = {
    {"MyComputer", "My Computer"},
    {"WarningComplicatedDataType",
     "Hivescope can add a value of this type, but can only edit it in binary form." HS_CRLF
     "Bad data can cause Windows Regedit to hang." HS_CRLF "Do you want to continue?"},
    {"ConfirmValueDelete", "Do you really want to delete this value (\"%s\")?"},
    {"ConfirmKeyDelete", "Do you really want to delete this key (\"%s\")?"},
    {"ConfirmCopyOverwrite",
     "A value of that name (\"%s\") already exists in your destination key. Do you really want to overwrite it?"},
    {"DragDropValueMoveStatus", "Moving value(s) to %s..."},
    {"DragDropValueCopyStatus", "Copying value(s) to %s..."},
    {"DragDropKeyMoveStatus", "Moving key %s into %s..."},
    {"DragDropKeyCopyStatus", "Copying key %s into %s..."},
    {"DragDropWrongRootKeyWarning", "You cannot move keys between different root keys (yet)!"},
    {"DialogRenameValueTitle", "Rename value (\"%s\")"},
    {"DialogRenameValueCaption", "Please enter the new name for this value:"},
    {"DialogRenameKeyTitle", "Rename key (\"%s\")"},
    {"DialogRenameKeyCaption", "Please enter the new name for this key:"},
    {"DialogNewKeyTitle", "New key"},
    {"DialogNewKeyCaption", "Please enter a name for the new key:"},
    {"DialogNewValueTitle", "New value"},
    {"DialogNewValueCaption", "Please enter a name for the new value:"},
    {"DialogNewValueStringTitle", "New string value"},
    {"DialogNewValueStringCaption", "Please enter a name for the new string value:"},
    {"DialogNewValueNumericTitle", "New numeric value"},
    {"DialogNewValueNumericCaption", "Please enter a name for the new numeric value:"},
    {"DialogNewValueBinaryTitle", "New binary value"},
    {"DialogNewValueBinaryCaption", "Please enter a name for the new binary value:"},
    {"DialogJumpToKeyTitle", "Jump to key"},
    {"DialogJumpToKeyCaption", "Please enter key to go to:"},
    {"DialogNewKeyDefault", "New key"},
    {"DialogNewValueDefault", "New value"},
    {"DialogNewValueStringDefault", "New string"},
    {"DialogNewValueNumericDefault", "New numeric"},
    {"DialogNewValueBinaryDefault", "New binary data"},
    {"DialogValueDefault", "(Default)"},
    {"DialogDataNotDefined", "(Data not defined)"},
    {"DialogDataNotSupported", "(Data type not supported)"},
    {"DialogDataBinaryZero", "(Binary data of zero length)"},
    {"DialogDataError", "(Error reading data)"},
    {"DialogSearchStatus", "Searching %s"},
    {"DialogSearchFinished", "Search has finished with %d results."},
    {"DialogSearchStopped", "You have stopped the search."},
    {"DialogSearchFocusLimited", "Search limited to %s."},
    {"DialogSearchFocusAll", "Search complete registry."},
    {"DialogSearchHighSpeedStatus", "Please be patient..."},
    {"DialogSearchReplaceStatus", "%s occurences have been replaced."},
    {"DialogConfirmImport", "Do you really want to import this file?"},
    {"DialogHivesLoaded",
     "%d registry hives have been found and loaded into HKEY_LOCAL_MACHINE\\PE_* and/or HKEY_USERS\\PE_*. They will "
     "be unloaded again on program exit."},
    {"BookmarkItemDefaultName", "New bookmark"},
    {"BookmarkItemAddTitle", "New bookmark name"},
    {"BookmarkItemAddCaption", "Please enter the name for the new bookmark:"},
    {"BookmarkItemAddLocationTitle", "New bookmark location"},
    {"BookmarkItemAddLocationCaption", "Please enter the location the new bookmark will point to:"},
    {"BookmarkItemRenameTitle", "Rename bookmark"},
    {"BookmarkItemRenameCaption", "Please enter the new name for the bookmark:"},
    {"BookmarkItemDeleteCaption", "Do you really want to delete this bookmark?"},
    {"BookmarkFolderDefaultName", "New folder"},
    {"BookmarkFolderAddTitle", "New folder name"},
    {"BookmarkFolderAddCaption", "Please enter the name for the new folder:"},
    {"BookmarkFolderRenameTitle", "Rename folder"},
    {"BookmarkFolderRenameCaption", "Please enter the new name for the folder:"},
    {"BookmarkFolderDeleteCaption", "Do you really want to delete this folder?"},
    {"RemoteConnectTitle", "Connect to remote registry"},
    {"RemoteConnectCaption", "Please enter name of remote computer:"},
    {"RemoteErrorAccessDenied", "You do not have access to the network resource."},
    {"RemoteErrorAlreadyAssigned", "That device is already connected."},
    {"RemoteErrorBadDevice", "The specified device is invalid."},
    {"RemoteErrorBadNetName", "The format of the network resource is invalid."},
    {"RemoteErrorBadProfile", "The user profile was specified in an incorrect format."},
    {"RemoteErrorBadProvider", "Your network address does not match any network provider."},
    {"RemoteErrorBusy", "The router or provider is busy. Please retry in a few seconds."},
    {"RemoteErrorInvalidPassword", "The password you entered is invalid for this resource."},
    {"RemoteErrorNoNetOrBadPath", "The network has not been not started or the specified address cannot be used."},
    {"RemoteErrorNoNetwork", "The network is unavailable."},
};

#undef HS_CRLF

QString MessageText(int index) {
  if (index < 0 || index > kMessageHighIndex) return {};
  TAppTranslator* translator = AppTranslator();
  if (!translator) return {};
  return ansiToQString(DecodeCrLf(translator->GetMessage(kMessageTable[index].first)));
}

namespace {

struct DialogTextRow {
  const char* key;
  std::string text;
  int replaces;  // a TdDialogStr, or -1 for the custom title
};

std::array<DialogTextRow, kDialogCaptionCount>& captionRows() {
  static std::array<DialogTextRow, kDialogCaptionCount> rows = {{
      {"ButtonYes", "Yes", DialogStrYes},
      {"ButtonNo", "No", DialogStrNo},
      {"ButtonOK", "OK", DialogStrOK},
      {"ButtonCancel", "Cancel", DialogStrCancel},
      {"ButtonAbort", "Abort", DialogStrAbort},
      {"ButtonRetry", "Retry", DialogStrRetry},
      {"ButtonIgnore", "Ignore", DialogStrIgnore},
      {"ButtonAll", "All", DialogStrAll},
      {"ButtonNoToAll", "No to all", DialogStrNoToAll},
      {"ButtonYesToAll", "Yes to all", DialogStrYesToAll},
      {"ButtonHelp", "Help", DialogStrHelp},
  }};
  return rows;
}

std::array<DialogTextRow, kDialogTitleCount>& titleRows() {
  static std::array<DialogTextRow, kDialogTitleCount> rows = {{
      {"DialogTitleWarning", "Warning", DialogStrWarning},
      {"DialogTitleError", "Error", DialogStrError},
      {"DialogTitleInformation", "Information", DialogStrInformation},
      {"DialogTitleConfirmation", "Confirmation", DialogStrConfirmation},
      {"DialogTitleCustom", "Custom", -1},
  }};
  return rows;
}

void applyRow(const IniFile& ini, bool fontUtf8, std::uint8_t charset, DialogTextRow& row) {
  if (!ini.ValueExists("Dialogs", row.key)) return;
  std::string text = ini.ReadString("Dialogs", row.key, row.text);
  if (std::string decoded; languageTextToAnsi(text, fontUtf8, charset, decoded)) text = std::move(decoded);
  row.text = text;
  if (row.replaces >= 0) ReplaceDialogString(static_cast<TdDialogStr>(row.replaces), std::move(text));
}

// The handlers are registered once the translator exists; the translator is
// created on first use, so this runs at static initialisation safely.
const bool registered = [] {
  AppTranslator()->AddLoadHandler(&ApplyDialogTexts);
  AppTranslator()->AddSaveHandler(&SaveDialogTexts);
  return true;
}();

}  // namespace

void SetDialogCaptionText(int index, std::string text) {
  if (index >= 0 && index < kDialogCaptionCount) captionRows()[static_cast<std::size_t>(index)].text = std::move(text);
}

void SetDialogTitleText(int index, std::string text) {
  if (index >= 0 && index < kDialogTitleCount) titleRows()[static_cast<std::size_t>(index)].text = std::move(text);
}

std::string DialogCaptionText(int index) {
  return index >= 0 && index < kDialogCaptionCount ? captionRows()[static_cast<std::size_t>(index)].text : std::string();
}

std::string DialogTitleText(int index) {
  return index >= 0 && index < kDialogTitleCount ? titleRows()[static_cast<std::size_t>(index)].text : std::string();
}

void ApplyDialogTexts(IniFile& ini) {
  (void)registered;
  const bool fontUtf8 = languageFileIsUtf8(ini);
  const auto charset = static_cast<std::uint8_t>(ini.ReadInteger("Main", "FontCharset", 0));
  for (auto& row : captionRows()) applyRow(ini, fontUtf8, charset, row);
  for (auto& row : titleRows()) applyRow(ini, fontUtf8, charset, row);
  RebuildDialogStrings();
}

void SaveDialogTexts(IniFile& ini) {
  for (const auto& row : captionRows()) ini.WriteString("Dialogs", row.key, row.text);
  for (const auto& row : titleRows()) ini.WriteString("Dialogs", row.key, row.text);
}

QString FormatMessage(const QString& format, const QStringList& args) {
  QString out;
  qsizetype next = 0;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's' && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}
