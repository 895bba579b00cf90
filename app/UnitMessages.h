#pragma once

// The message table (71 messages every window composes its texts from) and the
// dialog-text table (button captions and box titles of the task dialogs), with
// their [Messages] and [Dialogs] sections of the language files.

#include <QString>

#include <string>
#include <utility>

class IniFile;

inline constexpr int kMessageHighIndex = 70;
// (key, English text), indices 0..70.
extern const std::pair<const char*, const char*> kMessageTable[kMessageHighIndex + 1];

// Indices the main window uses by name.
enum MessageIndex : int {
  msgMyComputer = 0,
  msgDialogJumpToKeyTitle = 24,
  msgDialogJumpToKeyCaption = 25,
  msgDialogValueDefault = 31,
  msgDialogDataNotDefined = 32,
  msgDialogDataError = 35,
  msgDialogConfirmImport = 43,
  msgDialogHivesLoaded = 44,
  msgBookmarkItemDefaultName = 45,
  msgBookmarkItemAddTitle = 46,
  msgBookmarkItemAddCaption = 47,
  msgBookmarkItemAddLocationTitle = 48,
  msgBookmarkItemAddLocationCaption = 49,
  msgBookmarkItemRenameTitle = 50,
  msgBookmarkItemRenameCaption = 51,
  msgBookmarkItemDeleteCaption = 52,
  msgBookmarkFolderDefaultName = 53,
  msgBookmarkFolderAddTitle = 54,
  msgBookmarkFolderAddCaption = 55,
  msgBookmarkFolderRenameTitle = 56,
  msgBookmarkFolderRenameCaption = 57,
  msgBookmarkFolderDeleteCaption = 58,
};

// The translated text of message `index` with every "%0D%0A" left in it turned
// into a line break; empty for an index outside the table or without a
// translator. The caller fills the placeholders.
QString MessageText(int index);

// The dialog-text table: 11 button captions then 5 titles.
inline constexpr int kDialogCaptionCount = 11;
inline constexpr int kDialogTitleCount = 5;
void SetDialogCaptionText(int index, std::string text);
void SetDialogTitleText(int index, std::string text);
std::string DialogCaptionText(int index);
std::string DialogTitleText(int index);

// Load handler of [Dialogs]: takes the texts the file holds and replaces the
// task-dialog texts with them, then rebuilds the task-dialog text lookup.
void ApplyDialogTexts(IniFile& ini);
// Save handler of [Dialogs]: the current texts.
void SaveDialogTexts(IniFile& ini);
