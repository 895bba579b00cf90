// Every built-in text of the message table and the dialog-text table,
// character by character, and where each [Dialogs] key lands.

#include <gtest/gtest.h>

#include <string>

#include "app/IniFile.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "platform/Text.h"
#include "taskdialog/TdDialogStrs.h"
#include "tests/app/LanguageFixture.h"
#include "tests/app/QtPrinters.h"

namespace {

using AuditMessages = LanguageFixture;

TEST_F(AuditMessages, EveryMessageHasItsKeyAndEnglishText) {
  struct Row {
    int index;
    const char* key;
    const char* text;
  } rows[] = {
      {0, "MyComputer", "My Computer"},
      {1, "WarningComplicatedDataType", "Hivescope can add a value of this type, but can only edit it in binary form.\r\nBad data can cause Windows Regedit to hang.\r\nDo you want to continue?"},
      {2, "ConfirmValueDelete", "Do you really want to delete this value (\"%s\")?"},
      {3, "ConfirmKeyDelete", "Do you really want to delete this key (\"%s\")?"},
      {4, "ConfirmCopyOverwrite", "A value of that name (\"%s\") already exists in your destination key. Do you really want to overwrite it?"},
      {5, "DragDropValueMoveStatus", "Moving value(s) to %s..."},
      {6, "DragDropValueCopyStatus", "Copying value(s) to %s..."},
      {7, "DragDropKeyMoveStatus", "Moving key %s into %s..."},
      {8, "DragDropKeyCopyStatus", "Copying key %s into %s..."},
      {9, "DragDropWrongRootKeyWarning", "You cannot move keys between different root keys (yet)!"},
      {10, "DialogRenameValueTitle", "Rename value (\"%s\")"},
      {11, "DialogRenameValueCaption", "Please enter the new name for this value:"},
      {12, "DialogRenameKeyTitle", "Rename key (\"%s\")"},
      {13, "DialogRenameKeyCaption", "Please enter the new name for this key:"},
      {14, "DialogNewKeyTitle", "New key"},
      {15, "DialogNewKeyCaption", "Please enter a name for the new key:"},
      {16, "DialogNewValueTitle", "New value"},
      {17, "DialogNewValueCaption", "Please enter a name for the new value:"},
      {18, "DialogNewValueStringTitle", "New string value"},
      {19, "DialogNewValueStringCaption", "Please enter a name for the new string value:"},
      {20, "DialogNewValueNumericTitle", "New numeric value"},
      {21, "DialogNewValueNumericCaption", "Please enter a name for the new numeric value:"},
      {22, "DialogNewValueBinaryTitle", "New binary value"},
      {23, "DialogNewValueBinaryCaption", "Please enter a name for the new binary value:"},
      {24, "DialogJumpToKeyTitle", "Jump to key"},
      {25, "DialogJumpToKeyCaption", "Please enter key to go to:"},
      {26, "DialogNewKeyDefault", "New key"},
      {27, "DialogNewValueDefault", "New value"},
      {28, "DialogNewValueStringDefault", "New string"},
      {29, "DialogNewValueNumericDefault", "New numeric"},
      {30, "DialogNewValueBinaryDefault", "New binary data"},
      {31, "DialogValueDefault", "(Default)"},
      {32, "DialogDataNotDefined", "(Data not defined)"},
      {33, "DialogDataNotSupported", "(Data type not supported)"},
      {34, "DialogDataBinaryZero", "(Binary data of zero length)"},
      {35, "DialogDataError", "(Error reading data)"},
      {36, "DialogSearchStatus", "Searching %s"},
      {37, "DialogSearchFinished", "Search has finished with %d results."},
      {38, "DialogSearchStopped", "You have stopped the search."},
      {39, "DialogSearchFocusLimited", "Search limited to %s."},
      {40, "DialogSearchFocusAll", "Search complete registry."},
      {41, "DialogSearchHighSpeedStatus", "Please be patient..."},
      {42, "DialogSearchReplaceStatus", "%s occurences have been replaced."},
      {43, "DialogConfirmImport", "Do you really want to import this file?"},
      {44, "DialogHivesLoaded", "%d registry hives have been found and loaded into HKEY_LOCAL_MACHINE\\PE_* and/or HKEY_USERS\\PE_*. They will be unloaded again on program exit."},
      {45, "BookmarkItemDefaultName", "New bookmark"},
      {46, "BookmarkItemAddTitle", "New bookmark name"},
      {47, "BookmarkItemAddCaption", "Please enter the name for the new bookmark:"},
      {48, "BookmarkItemAddLocationTitle", "New bookmark location"},
      {49, "BookmarkItemAddLocationCaption", "Please enter the location the new bookmark will point to:"},
      {50, "BookmarkItemRenameTitle", "Rename bookmark"},
      {51, "BookmarkItemRenameCaption", "Please enter the new name for the bookmark:"},
      {52, "BookmarkItemDeleteCaption", "Do you really want to delete this bookmark?"},
      {53, "BookmarkFolderDefaultName", "New folder"},
      {54, "BookmarkFolderAddTitle", "New folder name"},
      {55, "BookmarkFolderAddCaption", "Please enter the name for the new folder:"},
      {56, "BookmarkFolderRenameTitle", "Rename folder"},
      {57, "BookmarkFolderRenameCaption", "Please enter the new name for the folder:"},
      {58, "BookmarkFolderDeleteCaption", "Do you really want to delete this folder?"},
      {59, "RemoteConnectTitle", "Connect to remote registry"},
      {60, "RemoteConnectCaption", "Please enter name of remote computer:"},
      {61, "RemoteErrorAccessDenied", "You do not have access to the network resource."},
      {62, "RemoteErrorAlreadyAssigned", "That device is already connected."},
      {63, "RemoteErrorBadDevice", "The specified device is invalid."},
      {64, "RemoteErrorBadNetName", "The format of the network resource is invalid."},
      {65, "RemoteErrorBadProfile", "The user profile was specified in an incorrect format."},
      {66, "RemoteErrorBadProvider", "Your network address does not match any network provider."},
      {67, "RemoteErrorBusy", "The router or provider is busy. Please retry in a few seconds."},
      {68, "RemoteErrorInvalidPassword", "The password you entered is invalid for this resource."},
      {69, "RemoteErrorNoNetOrBadPath", "The network has not been not started or the specified address cannot be used."},
      {70, "RemoteErrorNoNetwork", "The network is unavailable."},
  };
  ASSERT_EQ(std::size(rows), static_cast<std::size_t>(kMessageHighIndex + 1));
  for (const auto& r : rows) {
    SCOPED_TRACE(r.key);
    EXPECT_STREQ(kMessageTable[r.index].first, r.key);
    EXPECT_STREQ(kMessageTable[r.index].second, r.text);
    EXPECT_EQ(MessageText(r.index), QString::fromUtf8(r.text));
  }
}

TEST_F(AuditMessages, EveryDialogsKeyReplacesItsOwnTaskDialogText) {
  struct Row {
    const char* key;
    const char* english;
    int replaces;  // -1: kept and written back only
  } captions[] = {
      {"ButtonYes", "Yes", DialogStrYes},          {"ButtonNo", "No", DialogStrNo},
      {"ButtonOK", "OK", DialogStrOK},             {"ButtonCancel", "Cancel", DialogStrCancel},
      {"ButtonAbort", "Abort", DialogStrAbort},    {"ButtonRetry", "Retry", DialogStrRetry},
      {"ButtonIgnore", "Ignore", DialogStrIgnore}, {"ButtonAll", "All", DialogStrAll},
      {"ButtonNoToAll", "No to all", DialogStrNoToAll}, {"ButtonYesToAll", "Yes to all", DialogStrYesToAll},
      {"ButtonHelp", "Help", DialogStrHelp},
  },
    titles[] = {
        {"DialogTitleWarning", "Warning", DialogStrWarning},
        {"DialogTitleError", "Error", DialogStrError},
        {"DialogTitleInformation", "Information", DialogStrInformation},
        {"DialogTitleConfirmation", "Confirmation", DialogStrConfirmation},
        {"DialogTitleCustom", "Custom", -1},
    };
  ASSERT_EQ(std::size(captions), static_cast<std::size_t>(kDialogCaptionCount));
  ASSERT_EQ(std::size(titles), static_cast<std::size_t>(kDialogTitleCount));

  // The English file holds the table's texts, in table order.
  IniFile english;
  SaveDialogTexts(english);
  std::string expectedSection = "[Dialogs]\r\n";
  for (const auto& r : captions) expectedSection += std::string(r.key) + "=" + r.english + "\r\n";
  for (const auto& r : titles) expectedSection += std::string(r.key) + "=" + r.english + "\r\n";
  EXPECT_NE(english.Text().find(expectedSection), std::string::npos) << english.Text();

  auto check = [&](const Row& r, int index, bool caption) {
    SCOPED_TRACE(r.key);
    const std::string word = std::string("X") + r.key;
    std::string before[DialogStrCount];
    for (int i = 0; i < DialogStrCount; ++i) before[i] = LoadDialogString(static_cast<TdDialogStr>(i));
    load("[Dialogs]\n" + std::string(r.key) + "=" + word + "\n");
    EXPECT_EQ(caption ? DialogCaptionText(index) : DialogTitleText(index), word);
    for (int i = 0; i < DialogStrCount; ++i) {
      const auto id = static_cast<TdDialogStr>(i);
      EXPECT_EQ(LoadDialogString(id), i == r.replaces ? word : before[i]) << "dialog string " << i;
    }
    if (r.replaces >= 0) EXPECT_EQ(FindDialogString(QString::fromStdString(word)), static_cast<TdDialogStr>(r.replaces));
  };
  for (int i = 0; i < kDialogCaptionCount; ++i) check(captions[i], i, true);
  for (int i = 0; i < kDialogTitleCount; ++i) check(titles[i], i, false);
}

// With the active code page set to another than UTF-8, a UTF-8 language file
// (FontUTF8=1) is converted into that code page, and a file without the flag
// is taken byte for byte.
TEST_F(AuditMessages, FontUtf8ConvertsIntoTheActiveCodePage) {
  platform::setActiveCodePage(1252);
  load("[Main]\nFontUTF8=1\n[Messages]\nMyComputer=Poste de travail \xC3\xA9\n"
       "[Dialogs]\nButtonYes=J\xC3\xA4\n");
  EXPECT_EQ(MessageText(0), QStringLiteral("Poste de travail \u00E9"));
  EXPECT_EQ(LoadDialogString(DialogStrYes), "J\xE4");
  EXPECT_EQ(FindDialogString(QStringLiteral("j\u00E4")), DialogStrYes);

  load("[Main]\nFontUTF8=0\n[Messages]\nMyComputer=Poste de travail \xE9\n");
  EXPECT_EQ(MessageText(0), QStringLiteral("Poste de travail \u00E9"));
}

}  // namespace
