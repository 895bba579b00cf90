#pragma once

// The program's main window: the key tree on the left, the tabbed pages on the
// right, the address box above, progress bar and status bar below. This unit
// wires the window: layout, actions, menus, their enabling rules, keyboard
// handling, the key tree and the navigation to a key.

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/CodeEdit.h"
#include "editor/CodeHighlighterIni.h"
#include "app/ChangeLogEntries.h"
#include "app/CommandLine.h"
#include "app/KeyLister.h"
#include "app/QtText.h"
#include "app/KeyTreeModel.h"
#include "app/MainSettings.h"
#include "app/ValueListModel.h"
#include "app/vkxHexView.h"
#include "core/UnitRegMonitorThread.h"
#include "platform/UserLogon.h"

class QAction;
class QDateTime;
class QKeySequence;
class QToolBar;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QWidget;
class QtMainThreadQueue;
class TRegistryChangeHistory;
class TformHistory;
class TRegistryInfo;
class TformBookmarks;
class TformImportProgress;
class TformSearch;
class TformOpenCustomHive;
class TformUserLogon;
class TformRemoteConnect;

// Where a node points: root key, view, display path and key path.
struct NodeLocation {
  platform::HKEY root = platform::HKEY_LOCAL_MACHINE;
  TRegistryView view = rvDefault;
  QString displayPath;  // begins with the top node's text: My Computer\HKEY_...
  QString keyPath;      // leading "\", empty for a root node
};

// The role of a value-list row (column 0) that holds its TRegDataType.
inline constexpr int kValueKindRole = ValueListModel::KindRole;

// Node kinds by the top node's image.
enum NodeKind : int { nkNone = 0, nkLocal = 1, nkRegFile = 2, nkRemote = 3 };

// The filter of the .reg save dialog: filter 1 writes version 5 (UTF-16LE),
// filter 2 version 4 ("REGEDIT4").
QString ExportRegFilter();

// The two change-log panes.
enum class LogPane { redo, undo };

// The lines of a value as the change logs show it: a blank line, the section
// line and the value line as the exporter writes it in `view`.
std::vector<std::string> ExportedValueLines(platform::HKEY root, const QString& keyPath, const QString& name,
                                            TRegistryView view);

// Which key actions the enabling rule of the tree's context menu turns on.
struct KeyActionRules {
  bool keyRefresh = false, keyDelete = false, keyRename = false, keyAdd = false, keyExport = false,
       keyCopyPath = false, securityToClipboard = false, securityToFile = false, securityGrantAll = false,
       keyJumpToHKCRCLSID = false, valueAdd = false, keyCreateRule = false;
};

// Which value actions the enabling rule of the list's context menu turns on.
struct ValueActionRules {
  bool valueChange = false, valueChangeType = false, valueDelete = false, valueRename = false,
       valueJumpToHKCRCLSID = false;
};

// The child of `node` whose text equals `text` (the locale's comparison, case
// ignored unless `caseSensitive`), or none. Children stand in sorted order, so
// a binary search finds it; a child out of order (added by a jump, renamed)
// is still found by a scan, so it is never added twice.
KeyNode* FindChildNode(const KeyNode* node, const QString& text, bool caseSensitive);
// The comparison the tree sorts sibling names by (case ignored, user's locale).
int compareKeyNames(const QString& a, const QString& b, bool caseSensitive = false);
// A date-time value (days since 30 December 1899, the time of day as the
// fraction) as a QDateTime of the same wall-clock reading; invalid for 0 and
// below, which FileTimeToDateTime gives for times it cannot show.
QDateTime dateTimeToQDateTime(double value);
// True while a Ctrl key is held (asked of the keyboard now, not of the last
// event), as a drop decides between moving and copying.
bool IsCtrlKeyDown();
// The selected rows of a list, in row order.
QList<int> SelectedRowsInOrder(const QTreeView* view);

// What a drag onto the key tree carries: the value list's selected rows or
// the tree's selected node.
enum class TreeDragSource { values, key };

class TformMain : public QMainWindow {
  Q_OBJECT
public:
  explicit TformMain(QWidget* parent = nullptr);
  ~TformMain() override;

  // The registry the tree shows (not owned; must outlive the window). Without
  // one, an empty registry.
  void setKeyLister(KeyLister* lister);

  // Start-up and shut-down. FormCreate makes this the program's main window
  // with its command line; a window made without it only builds its tree
  // when shown and reads and writes no setting. The first show runs FormShow;
  // closing the window runs FormCloseQuery and FormClose; FormDestroy runs
  // once, when the program ends (or the window goes).
  // `winPE`: whether this is the pre-installation environment.
  void FormCreate(const TCommandLine& commandLine, bool winPE);
  void FormCreate(const TCommandLine& commandLine);
  void FormShow();
  // The translator's part of creating and first showing the window.
  void ConfigureTranslator();
  void StartTranslator();
  void FormCloseQuery();
  void FormClose();
  void FormDestroy();
  // Whether the program runs in BartPE mode (decided by FormCreate).
  bool BartPEMode() const { return FBartPE; }
  // The settings as read at the first show and as written at close.
  const TMainSettings& Settings() const { return FSettings; }
  // The search the command line asked for, once FormShow prepared it.
  const std::optional<TCommandLineSearch>& CommandLineSearch() const { return FCommandLineSearch; }
  // Set when the command-line import ends the program (no -gui).
  bool TerminateRequested() const { return FTerminateRequested; }
  // The application's help file (the one the loaded language names).
  QString HelpFile() const;

  // Message `index` of the message table, translated, "%0D%0A" as line breaks.
  QString Msg(int index) const;

  // The key tree.
  KeyTreeModel* keyModel() const { return model_; }
  KeyNode* FMyComputerNode = nullptr;
  QStringList FRootKeyNames;
  KeyNode* selectedNode() const;
  void selectNode(KeyNode* node);
  // Appends a key node; `position` >= 0 inserts it there instead.
  KeyNode* AddKeyNode(KeyNode* parent, const QString& rawName, TRegistryView view, int position = -1);
  int GetNodeKind(const KeyNode* node, QString* topText = nullptr) const;
  NodeLocation GetNodeLocation(const KeyNode* node) const;
  NodeLocation GetSelectedLocation() const { return GetNodeLocation(selectedNode()); }
  // Why the hive holding root\keyPath takes no changes and what the user can
  // do; empty when it takes them (or no hive holds the path).
  static QString ReadOnlyHiveNote(platform::HKEY root, const QString& keyPath);
  // The note of a hive's top node under HKEY_LOCAL_MACHINE or HKEY_USERS
  // (ReadOnlyHiveNote); empty for any other node.
  QString MountNote(const KeyNode* node) const;
  // Why the key cannot be read, for the status bar; empty when it can.
  QString KeyRefusalNote(platform::HKEY root, const QString& keyPath, TRegistryView view) const;
  void tvKeysExpanding(KeyNode* node);
  // Builds "My Computer" and the seven roots and expands the top node.
  void BuildKeyTree();

  // Navigation and key selection.
  void JumpToPath(QString path);
  void tvKeysClick();
  void cbAddressSelect();
  void cbAddressKeyPress(QChar key);

  // Enabling rules.
  KeyActionRules keyActionRules() const;
  ValueActionRules valueActionRules() const;
  void pmKeysPopup();
  void pmValuesPopup();
  void miFileClick();
  void MirrorEditMenu(QMenu* menu);

  // Status bar panel texts.
  QString statusText(int panel) const;

  // The value list and the hex dump.
  // Refills the list with the values of the key and makes sure the monitor
  // watches it. `keyPath` has a leading "\".
  void FillValueList(platform::HKEY root, const QString& keyPath, TRegistryView view);
  void RefreshValueList();
  // The monitor's report, in the main thread. `keyPath` has no leading "\".
  void MonitorChange(platform::HKEY root, const std::string& keyPath);
  void lvDataClick();
  // The list's hint for the row at viewport position `pos`.
  void lvDataMouseMove(const QPoint& pos);
  // The hex dump's bytes: FValueData from `start`, 0 past its end.
  void lvHexDumpGetBinaryData(std::uint64_t start, std::uint64_t count, std::vector<std::uint8_t>& data) const;
  void SelectValueByName(const QString& name);
  ValueListModel* valueModel() const { return valueModel_; }
  // The selected row of the list (the current row while it is selected), or -1.
  int selectedValueRow() const;
  // The list's "editor open" flag: set while a value is edited or its type
  // changed, so that the monitor's reports are dropped meanwhile.
  bool ValueEditorOpen() const { return FValueEditorOpen; }
  void SetValueEditorOpen(bool open) { FValueEditorOpen = open; }
  // Stops the key monitor and waits for its end (at close).
  void StopMonitor();
  const TRegMonitorThread* monitor() const { return FMonitor.get(); }

  // The .reg file view: a top node for the file at the end of the tree, with
  // the file's keys and values, compared with the registry when `compare`.
  // Nothing happens when the file does not exist.
  void ShowRegFile(const QString& fileName, bool compare);
  // Fills the value list from the records of a .reg file view's node.
  void ShowRegFileValues(KeyNode* node);
  // Export and import of .reg files. The bookmark window hands its keys
  // ("ROOTNAME\path") to ExportBookmarkKeys; the captions are not used.
  void ExportBookmarkKeys(const QStringList& captions, const QStringList& keyPaths);
  void ImportKeyEvent(platform::HKEY root, const std::string& keyPath, bool deleted);
  void ImportProgressEvent(int lineIndex, int lastLineIndex);
  TformImportProgress* formImportProgress();
  // The search window, made on first use; it lives as long as this window.
  TformSearch* formSearch();
  // The remote-connect window, made on first use (at start-up in the
  // program) and kept, with its list of computer names, until the end.
  TformRemoteConnect* formRemoteConnect();
  // The root keys of the computer node's computer that connect, each with
  // its first level of keys; deeper levels come when a node is expanded.
  void AddRemoteRootKeys(KeyNode* computer);

  // The bookmarks: the manager window (made on first use, its click and
  // export handlers set), the menu's file read at the first show, and the
  // jump of a chosen bookmark. SaveBookmarks shows an error box naming the
  // file when it cannot be written and returns false.
  TformBookmarks* formBookmarks();
  void LoadBookmarks();
  bool SaveBookmarks();
  void JumpToBookmark(QAction* item);

  // The bytes of the value shown in the hex dump.
  std::vector<std::uint8_t> FValueData;

  // Value editing. Both act on the selected node's key and the list's row.
  // A failure shows an error box and leaves the value as it was.
  void EditValue(int row);
  void ChangeValueType(int row);
  // Draws the number of a temporary value name (0 to 2147483646).
  std::function<std::int32_t()> FRandomNumber;

  // The change logs. Paths have their leading "\"; the view is the one the
  // change was made in: the exports read it and the history records it.
  void LogKeyCreate(platform::HKEY root, const QString& keyPath, TRegistryView view = rvDefault);
  // Before the deletion.
  void LogKeyDelete(platform::HKEY root, const QString& keyPath, TRegistryView view = rvDefault);
  // The undo entry before the move, the redo entry after it.
  void LogKeyRename(platform::HKEY root, const QString& oldPath, LogPane pane, const QString& newPath,
                    TRegistryView view = rvDefault);
  // Before the deletion.
  void LogValueDelete(platform::HKEY root, const QString& keyPath, const QString& valueName,
                      TRegistryView view = rvDefault);
  // After the write; `previousLines` as the value was exported before it.
  void LogValueChange(platform::HKEY root, const QString& keyPath, const QString& valueName,
                      const std::vector<std::string>& previousLines, TRegistryView view = rvDefault);
  // The undo entry before the rename, the redo entry after it.
  void LogValueRename(LogPane pane, platform::HKEY root, const QString& nameToDelete, const QString& nameToExport,
                      const QString& keyPath, TRegistryView view = rvDefault);
  CodeEditLines& logLines(LogPane pane);
  // A change-log pane: a read-only editor with numbered lines and the INI
  // highlighter.
  codeedit::TCodeEdit* makeChangeLogEditor(QWidget* parent);
  // Pane lines and history rows written between these two calls are kept
  // only when EndChange is told the registry call succeeded: a deletion's
  // before-image is taken while the key is still there, and a failed
  // change leaves no trace.
  void BeginChange();
  void EndChange(bool done);
  // Writes the pane's lines as 8-bit text with CR LF; false (and an error
  // box) when the file cannot be written.
  bool SaveChangeLog(LogPane pane, const QString& fileName);
  // Imports the pane's lines into the registry.
  void ApplyChangeLog(LogPane pane);

  // Key and value actions. A change is logged and recorded once it has
  // happened; a failed one says why and leaves no pane line or history row.
  // Direct children only, text compared without regard to case.
  bool ChildKeyExists(const KeyNode* node, const QString& name) const;
  // `name` followed by the first number from 1 that no child has.
  QString MakeUniqueKeyName(const KeyNode* node, const QString& name) const;
  // Asks until the name is free under `node`; false when cancelled.
  bool AskNewKeyName(const KeyNode* node, QString& name);
  // Whether a row's caption equals `name`, case ignored.
  bool ValueNameExists(const QString& name) const;
  QString MakeUniqueValueName(const QString& name) const;
  bool AskNewValueName(TRegDataType kind, QString& name);
  // Creates a value of `kind` in the selected key and opens its editor.
  void AddValue(TRegDataType kind);

  // Drag and drop onto the key tree. The rows dragged are the list's
  // selected rows, the key dragged is the selected node; `copy` copies them,
  // else they move. DragOver says whether a drop onto `target` is taken and
  // shows in the status bar what it would do; drops that could not end well
  // (a value onto its own key, a key onto itself, its parent or its own
  // subtree, names the 8-bit calls cannot reach) are not taken. DragDrop
  // does the drop; like DragOver it refuses those, and says why.
  bool tvKeysDragOver(KeyNode* target, TreeDragSource source, bool copy);
  void tvKeysDragLeave();
  void tvKeysDragDrop(KeyNode* target, TreeDragSource source, bool copy);

  // The change history. Opened at start-up; until then (or when a test sets
  // none) the first change opens the default file. A history that cannot be
  // opened is said once, and changes go on unrecorded.
  std::unique_ptr<TRegistryChangeHistory> FHistory;
  bool OpenHistory(const std::string& fileName);
  TRegistryChangeHistory* History();
  // The history window, made on first use and handed FHistory whenever that
  // changes; a window of its own above this one.
  TformHistory* formHistory();

  // The security and information-database pages (FormUnitMainSecurity.cpp).
  // The notes of a key ("HKEY_LOCAL_MACHINE\SOFTWARE\x") into the key memo;
  // both save buttons hidden.
  void ShowKeyInfo(const QString& keyText);
  // Refills the security tree for a key of the local tree.
  void ShowSelectedKeySecurity(const NodeLocation& location);
  // The lines of the key's security report as a file would hold them.
  QString SecurityReportText(const NodeLocation& location) const;
  // Writes the report as 8-bit text with CR LF; false (and an error box) when
  // the file cannot be written.
  bool SaveSecurityReport(const NodeLocation& location, const QString& fileName);
  // The information database, loaded at start-up (an empty one without).
  TRegistryInfo& InfoDatabase();
  void mInfoDBKeyKeyPress();
  void mInfoDBValueKeyPress();
  void bnInfoDBAddClick();
  // Load and save the whole database; no control calls them.
  void bnInfoDBLoadClick();
  void bnInfoDBSaveClick();

public slots:
  void aFileExitExecute();
  void aFileOpenRegExecute();
  void aFileDiffOpenRegExecute();
  void aFileConnectRegExecute();
  void aFileLogonUserExecute();
  void aFileOpenHiveExecute();
  void aShowHistoryExecute();
  void aKeyDeleteExecute();
  void aKeyAddExecute();
  void aKeyRenameExecute();
  void aKeyCopyPathExecute();
  void aKeyRefreshExecute();
  void aKeyJumpExecute();
  void aKeyExportExecute();
  void aKeyImportExecute();
  void aKeyAddBookmarkExecute();
  void aKeyJumpToHKCRCLSIDExecute();
  void aKeyCreateRuleExecute();
  void aValueDeleteExecute();
  void aValueRenameExecute();
  void aValueChangeExecute();
  void aValueChangeTypeExecute();
  void aValueAddExecute() {}
  void aValueAddStringExecute();
  void aValueAddExpandStringExecute();
  void aValueAddMultiStringExecute();
  void aValueAddIntegerExecute();
  void aValueAddLEIntegerExecute();
  void aValueAddBEIntegerExecute();
  void aValueAddInt64Execute();
  void aValueAddLEInt64Execute();
  void aValueAddBinaryExecute();
  void aValueAddLinkExecute();
  void aValueAddResourceListExecute();
  void aValueAddFullResourceDescriptorExecute();
  void aValueAddResourceRequirementsListExecute();
  void aValueAddNoneExecute();
  void aValueSelectAllExecute();
  void aValueJumpToHKCRCLSIDExecute();
  void aValueCreateRuleExecute();
  void aSecurityInformationExportToFileExecute();
  void aSecurityInformationExportToClipboardExecute();
  void aSecurityInformationGrantAllExecute();
  // Opens the search window for the selected key.
  void aSearchExecute();
  void aBookmarksManageExecute();
  void aAboutExecute();
  void aInfoDBSaveKeyInfoExecute();
  void aInfoDBSaveValueInfoExecute();
  void aHelpContentsExecute();
  void aHelpIndexExecute();
  void aMenuHelpExecute() {}
  void aChangeLogRedoSaveExecute();
  void aChangeLogUndoSaveExecute();
  void aChangeLogRedoApplyExecute();
  void aChangeLogUndoApplyExecute();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  QAction* makeAction(const char* name, const char* caption, const char* category, int image = -1,
                      const QKeySequence& shortcut = {}, bool enabled = true);
  void createActions();
  void createMenus();
  void createLayout();
  void connectAll();
  void connectSecurityPages();
  // Saves the database to the user's data folder; false (and an error box)
  // when it cannot be written, the notes staying in memory.
  bool SaveInfoDatabase();
  void tvKeysKeyDown(int key);
  void tvKeysKeyUp(int key);
  void lvDataKeyDown(int key);
  void addToAddressBox(const QString& shownPath, int image);
  // Drag and drop (FormUnitMainDragDrop.cpp).
  void InstallKeyTreeDrops();
  // Whether the drop may go; `why` is set when the refusal is worth saying.
  bool DropAllowed(KeyNode* target, TreeDragSource source, QString* why) const;
  void DropValues(KeyNode* target, bool copy);
  void DropKey(KeyNode* target, bool copy);
  // Value editing through the native interface, for names with a NUL.
  void EditNativeValue(int row);
  void ChangeNativeValueType(const TRegistryValueListItem& item, TRegDataType kind);
  void showError(const QString& text);
  void recordChange(const std::function<void(TRegistryChangeHistory&)>& record);
  void saveChangeLogAs(LogPane pane);
  bool historyTried_ = false;
  // Lines written while a change is in the making; they reach their pane
  // when the change has happened.
  struct HeldLines final : CodeEditLines {
    explicit HeldLines(CodeEditLines& pane) : target(pane) {}
    CodeEditLines& target;
    QStringList lines;
    int Count() const override { return target.Count() + static_cast<int>(lines.size()); }
    void Add(const QString& line) override { lines << line; }
    void AddStrings(const std::vector<std::string>& more) override {
      for (const std::string& line : more) lines << ansiToQString(line);
    }
    QString Text() const override {
      QString text = target.Text();
      for (const QString& line : lines) text += line + QStringLiteral("\r\n");
      return text;
    }
  };
  std::unique_ptr<HeldLines> held_[2];
  // Where the undo pane's entries begin, so Apply can run them newest first.
  ChangeLogEntries undoEntries_;
  void markUndoEntry();
  long long heldHistoryId_ = -1;

  KeyLister* lister_ = nullptr;
  std::unique_ptr<KeyLister> emptyLister_;
  KeyTreeModel* model_ = nullptr;
  bool shown_ = false;
  QList<QAction*> mirrored_;  // items MirrorEditMenu put into "&Edit"
  ValueListModel* valueModel_ = nullptr;
  bool FValueEditorOpen = false;
  // Declared before the monitor: the monitor hands its reports to it, so it
  // must outlive the monitor.
  QtMainThreadQueue* mainThread_ = nullptr;
  std::unique_ptr<TRegMonitorThread> FMonitor;
  TformImportProgress* importProgress_ = nullptr;
  // A top-level window of its own, so no Qt parent owns it.
  std::unique_ptr<TformSearch> formSearch_;
  TformBookmarks* bookmarks_ = nullptr;
  TformRemoteConnect* remoteConnect_ = nullptr;
  // A remote key's children, listed over a connection to its computer.
  void ExpandRemoteNode(KeyNode* node);
  // The remote-connect window's list to and from the setting.
  void ReadRemoteListHistory();
  void WriteRemoteListHistory();
  // Declared after FHistory, so it goes before the history it lists.
  std::unique_ptr<TformHistory> formHistory_;

  // Start-up state (FormUnitMainStartup.cpp).
  bool FStarted = false, FClosed = false, FDestroyed = false, FTerminateRequested = false;
  bool FBartPE = false;
  TCommandLine FCommandLine;
  TMainSettings FSettings;
  std::optional<TCommandLineSearch> FCommandLineSearch;
public:
  // Hive files mounted for this run only: "mount name=file name" lines with
  // the root they are mounted under, unmounted when the window goes.
  struct TCustomHive {
    QString Line;
    platform::HKEY Root;
  };
  std::vector<TCustomHive> FCustomHives;
  // Users logged on by this window, their profiles given back when it goes.
  struct TUserLogonEntry {
    platform::HANDLE Token{};
    platform::PROFILEINFOA Profile;
  };
  std::vector<TUserLogonEntry> FLogons;
  void UnloadCustomHives();
  void UnloadLogonProfiles();
  // The hive-file and logon windows, made on first use and kept.
  TformOpenCustomHive* formOpenCustomHive();
  TformUserLogon* formUserLogon();

private:
  TformOpenCustomHive* openCustomHive_ = nullptr;
  TformUserLogon* userLogon_ = nullptr;
  std::unique_ptr<TRegistryInfo> FInfoDatabase;
  // Set while ShowKeyInfo fills the memos, so the filling shows no save button.
  bool fillingInfo_ = false;

public:
  // Controls and menus, named as designed.
  QToolBar* coolbarMain = nullptr;
  QWidget* toolbarMain = nullptr;
  QToolButton* bnSearch = nullptr;
  QComboBox* cbAddress = nullptr;
  QLabel* animSearch = nullptr;
  QSplitter* splitterLeft = nullptr;
  QTreeView* tvKeys = nullptr;
  QWidget* panelMain = nullptr;
  QTabWidget* pcMain = nullptr;
  QWidget* tsData = nullptr;
  QTreeView* lvData = nullptr;
  QSplitter* splitterHexDump = nullptr;
  THexView* lvHexDump = nullptr;
  QWidget* tsInfo = nullptr;
  QTreeWidget* tvInfo = nullptr;
  QWidget* tsDatabaseInfo = nullptr;
  QToolButton* bnInfoDBSaveKeyInfo = nullptr;
  QToolButton* bnInfoDBSaveValueInfo = nullptr;
  QPlainTextEdit* mInfoDBKey = nullptr;
  QPlainTextEdit* mInfoDBValue = nullptr;
  QWidget* tsDatabaseInfoDebug = nullptr;
  QWidget* tsChangeLogs = nullptr;
  codeedit::TCodeEdit* editRedoLog = nullptr;
  codeedit::TCodeEdit* editUndoLog = nullptr;
  codeedit::TCodeIniHighlighter* CodeIniHighlighter1 = nullptr;
  QProgressBar* pg = nullptr;
  QLabel* sbarPanel0 = nullptr;
  QLabel* sbarPanel1 = nullptr;
  QMenu* miFile = nullptr;
  QMenu* miEdit = nullptr;
  QMenu* miBookmarks = nullptr;
  QMenu* miLanguages = nullptr;
  QMenu* miHelp = nullptr;
  QMenu* pmKeys = nullptr;
  QMenu* pmValues = nullptr;
  QMenu* pmValuesAdd = nullptr;
  QMenu* pmSecurity = nullptr;

  QAction *aFileExit, *aFileOpenReg, *aFileDiffOpenReg, *aFileConnectReg, *aFileLogonUser, *aFileOpenHive,
      *aShowHistory;
  QAction *aKeyDelete, *aKeyAdd, *aKeyRename, *aKeyCopyPath, *aKeyRefresh, *aKeyJump, *aKeyExport, *aKeyImport,
      *aKeyAddBookmark, *aKeyJumpToHKCRCLSID, *aKeyCreateRule;
  QAction *aValueDelete, *aValueRename, *aValueChange, *aValueChangeType, *aValueAdd, *aValueAddString,
      *aValueAddExpandString, *aValueAddMultiString, *aValueAddInteger, *aValueAddLEInteger, *aValueAddBEInteger,
      *aValueAddInt64, *aValueAddLEInt64, *aValueAddBinary, *aValueAddLink, *aValueAddResourceList,
      *aValueAddFullResourceDescriptor, *aValueAddResourceRequirementsList, *aValueAddNone, *aValueSelectAll,
      *aValueJumpToHKCRCLSID, *aValueCreateRule;
  QAction *aSecurityInformationExportToFile, *aSecurityInformationExportToClipboard, *aSecurityInformationGrantAll;
  QAction *aSearch, *aBookmarksManage, *aAbout, *aKeyBack, *aKeyForward, *aInfoDBSaveKeyInfo, *aInfoDBSaveValueInfo,
      *aHelpContents, *aHelpIndex, *aMenuHelp, *aChangeLogRedoSave, *aChangeLogUndoSave, *aChangeLogRedoApply,
      *aChangeLogUndoApply;
};
