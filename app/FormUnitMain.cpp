#include "app/FormUnitMain.h"
#include "app/FormUnitSearch.h"
#include "app/FormUnitHistory.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimeZone>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/DataImages.h"
#include "app/FormUnitBookmarks.h"
#include "app/FormUnitEditType.h"
#include "app/QtMainThreadQueue.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "core/UnitRegistryInfo.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "core/kxDate.h"

namespace {

QCollator makeCollator(bool caseSensitive) {
  QCollator c{QLocale()};
  c.setCaseSensitivity(caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
  return c;
}

bool inBraces(const QString& text) { return text.startsWith(u'{') && text.endsWith(u'}'); }

}  // namespace

int compareKeyNames(const QString& a, const QString& b, bool caseSensitive) {
  static const QCollator insensitive = makeCollator(false);
  static const QCollator sensitive = makeCollator(true);
  return (caseSensitive ? sensitive : insensitive).compare(a, b);
}

KeyNode* FindChildNode(const KeyNode* node, const QString& text, bool caseSensitive) {
  if (!node) return nullptr;
  int low = 0, high = node->count() - 1;
  while (low <= high) {
    const int middle = low + (high - low) / 2;
    const int c = compareKeyNames(text, node->child(middle)->text, caseSensitive);
    if (c == 0) return node->child(middle);
    if (c > 0)
      low = middle + 1;
    else
      high = middle - 1;
  }
  for (int i = 0; i < node->count(); ++i) {
    if (compareKeyNames(text, node->child(i)->text, caseSensitive) == 0) return node->child(i);
  }
  return nullptr;
}

QDateTime dateTimeToQDateTime(double value) {
  if (!(value > 0)) return {};
  const double days = std::floor(value);
  const auto msecs = static_cast<int>(std::min<long long>(std::llround((value - days) * 86400000.0), 86399999));
  const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
  if (!date.isValid()) return {};
  // The reading is already local: built from date and time of day, never
  // shifted by a zone conversion.
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(msecs));
}

bool IsCtrlKeyDown() { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier); }

TformMain::TformMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("formMain"));
  setWindowTitle(QStringLiteral("Hivescope"));
  emptyLister_ = std::make_unique<EmptyKeyLister>();
  mainThread_ = new QtMainThreadQueue(this);
  lister_ = emptyLister_.get();
  AppTranslator()->SetDefaultMessages(kMessageTable, kMessageHighIndex);
  FRootKeyNames = {QStringLiteral("HKEY_CLASSES_ROOT"),     QStringLiteral("HKEY_CURRENT_USER"),
                   QStringLiteral("HKEY_LOCAL_MACHINE"),    QStringLiteral("HKEY_USERS"),
                   QStringLiteral("HKEY_PERFORMANCE_DATA"), QStringLiteral("HKEY_CURRENT_CONFIG"),
                   QStringLiteral("HKEY_DYN_DATA")};
  createActions();
  createLayout();
  createMenus();
  connectAll();
  // Neither the tree nor the list has the focus yet.
  MirrorEditMenu(nullptr);
  resize(900, 757);
}

TformMain::~TformMain() {
  StopMonitor();
  FormDestroy();
}

void TformMain::setKeyLister(KeyLister* lister) { lister_ = lister ? lister : emptyLister_.get(); }

QString TformMain::Msg(int index) const { return MessageText(index); }

QAction* TformMain::makeAction(const char* name, const char* caption, const char* category, int image,
                               const QKeySequence& shortcut, bool enabled) {
  auto* a = new QAction(QString::fromUtf8(caption), this);
  a->setObjectName(QString::fromLatin1(name));
  a->setProperty("category", QString::fromLatin1(category));
  a->setProperty("imageIndex", image);
  if (image >= 0) a->setIcon(dataImage(image));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  a->setEnabled(enabled);
  // Actions live on the window, so their shortcuts work whatever menu shows
  // them and even while the Edit menu is disabled.
  addAction(a);
  return a;
}

void TformMain::createActions() {
  const bool off = false;
  aFileExit = makeAction("aFileExit", "E&xit", "File");
  aFileOpenReg = makeAction("aFileOpenReg", "&Open registry file...", "File", 2, QKeySequence(Qt::CTRL | Qt::Key_O));
  aFileDiffOpenReg = makeAction("aFileDiffOpenReg", "Open registry file (&difference only)...", "File");
  aFileConnectReg = makeAction("aFileConnectReg", "Connect to &remote registry...", "File", 9);
  aFileLogonUser = makeAction("aFileLogonUser", "Open user registry (logon)...", "File", 5);
  aFileOpenHive = makeAction("aFileOpenHive", "Load hive file...", "File");
  aShowHistory = makeAction("aShowHistory", "Show history...", "File", -1, QKeySequence(Qt::CTRL | Qt::Key_H));

  aKeyDelete = makeAction("aKeyDelete", "&Delete key", "Key", 7, {}, off);
  aKeyAdd = makeAction("aKeyAdd", "&New key...", "Key", 6, {}, off);
  aKeyRename = makeAction("aKeyRename", "&Rename key...", "Key", -1, {}, off);
  aKeyCopyPath = makeAction("aKeyCopyPath", "Copy key name to clipboard", "Key", 10);
  aKeyRefresh = makeAction("aKeyRefresh", "&Refresh", "Key", -1, QKeySequence(Qt::Key_F5), off);
  aKeyJump = makeAction("aKeyJump", "Jump to key...", "Key", -1, QKeySequence(Qt::CTRL | Qt::Key_J));
  aKeyExport = makeAction("aKeyExport", "&Export...", "Key", -1, {}, off);
  aKeyImport = makeAction("aKeyImport", "&Import...", "Key");
  aKeyAddBookmark = makeAction("aKeyAddBookmark", "Add to bookmarks...", "Key", -1, QKeySequence(Qt::CTRL | Qt::Key_B));
  aKeyJumpToHKCRCLSID = makeAction("aKeyJumpToHKCRCLSID", "Jump to CLSID in HKCR", "Key", 14, {}, off);
  aKeyCreateRule = makeAction("aKeyCreateRule", "Copy OpenQEL rule to clipboard", "Key");

  aValueDelete = makeAction("aValueDelete", "&Delete value", "Value", 7, {}, off);
  aValueRename = makeAction("aValueRename", "&Rename value...", "Value", -1, {}, off);
  aValueChange = makeAction("aValueChange", "&Change data...", "Value", -1, {}, off);
  aValueChangeType = makeAction("aValueChangeType", "Change type", "Value", -1, {}, off);
  aValueAdd = makeAction("aValueAdd", "New", "Value", 6);
  aValueAddString = makeAction("aValueAddString", "String", "Value", 3);
  aValueAddExpandString = makeAction("aValueAddExpandString", "String (with placeholders)", "Value", 3);
  aValueAddMultiString = makeAction("aValueAddMultiString", "String (multi-line)", "Value", 3);
  aValueAddInteger = makeAction("aValueAddInteger", "Numeric value (32 bit)", "Value", 4);
  aValueAddLEInteger = makeAction("aValueAddLEInteger", "Numeric value (32 bit, little endian)", "Value", 4);
  aValueAddBEInteger = makeAction("aValueAddBEInteger", "Numeric value (32 bit, big endian)", "Value", 4);
  aValueAddInt64 = makeAction("aValueAddInt64", "Numeric value (64 bit)", "Value", 4);
  aValueAddLEInt64 = makeAction("aValueAddLEInt64", "Numeric value (64 bit, little endian)", "Value", 4);
  aValueAddBinary = makeAction("aValueAddBinary", "Binary data", "Value", 4);
  aValueAddLink = makeAction("aValueAddLink", "Link", "Value", 4);
  aValueAddResourceList = makeAction("aValueAddResourceList", "Resource List", "Value", 4);
  aValueAddFullResourceDescriptor =
      makeAction("aValueAddFullResourceDescriptor", "Full Resource Descriptor", "Value", 4);
  aValueAddResourceRequirementsList =
      makeAction("aValueAddResourceRequirementsList", "Resource Requirements List", "Value", 4);
  aValueAddNone = makeAction("aValueAddNone", "None (empty type)", "Value", 6);
  aValueSelectAll = makeAction("aValueSelectAll", "Select all", "Value", -1, QKeySequence(Qt::CTRL | Qt::Key_A));
  aValueJumpToHKCRCLSID = makeAction("aValueJumpToHKCRCLSID", "Jump to CLSID in HKCR", "Value", 14);
  aValueCreateRule = makeAction("aValueCreateRule", "Copy OpenQEL rule to clipboard", "Value");

  aSecurityInformationExportToFile =
      makeAction("aSecurityInformationExportToFile", "Export security information to file...", "Security");
  aSecurityInformationExportToClipboard = makeAction("aSecurityInformationExportToClipboard",
                                                     "Copy security information to clipboard", "Security", 10);
  aSecurityInformationGrantAll =
      makeAction("aSecurityInformationGrantAll", "Grant all rights to everyone on this key", "Security");

  aSearch = makeAction("aSearch", "&Search...", "", 11, QKeySequence(Qt::CTRL | Qt::Key_F));
  aBookmarksManage = makeAction("aBookmarksManage", "&Manage bookmarks", "", -1, QKeySequence(Qt::CTRL | Qt::Key_M));
  aAbout = makeAction("aAbout", "About...", "");
  aKeyBack = makeAction("aKeyBack", "Back", "", 0, {}, off);
  aKeyForward = makeAction("aKeyForward", "Forward", "", 1, {}, off);
  aInfoDBSaveKeyInfo = makeAction("aInfoDBSaveKeyInfo", "Save key info", "");
  aInfoDBSaveValueInfo = makeAction("aInfoDBSaveValueInfo", "Save value info", "");
  aHelpContents = makeAction("aHelpContents", "Contents", "", -1, QKeySequence(Qt::Key_F1));
  aHelpIndex = makeAction("aHelpIndex", "Index", "");
  aMenuHelp = makeAction("aMenuHelp", "Help", "");
  aChangeLogRedoSave = makeAction("aChangeLogRedoSave", "Save", "", 13);
  aChangeLogUndoSave = makeAction("aChangeLogUndoSave", "Save", "", 13);
  aChangeLogRedoApply = makeAction("aChangeLogRedoApply", "Apply", "", 8);
  aChangeLogUndoApply = makeAction("aChangeLogUndoApply", "Apply", "", 8);
}

void TformMain::createLayout() {
  // Address bar: the search button, the address box, the (hidden) animation.
  coolbarMain = new QToolBar(this);
  coolbarMain->setObjectName(QStringLiteral("coolbarMain"));
  coolbarMain->setMovable(false);
  coolbarMain->setFloatable(false);
  coolbarMain->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, coolbarMain);
  toolbarMain = new QWidget(coolbarMain);
  toolbarMain->setObjectName(QStringLiteral("toolbarMain"));
  auto* tb = new QHBoxLayout(toolbarMain);
  tb->setContentsMargins(2, 2, 2, 2);
  tb->setSpacing(4);
  bnSearch = new QToolButton(toolbarMain);
  bnSearch->setObjectName(QStringLiteral("bnSearch"));
  bnSearch->setDefaultAction(aSearch);
  bnSearch->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bnSearch->setAutoRaise(true);
  cbAddress = new QComboBox(toolbarMain);
  cbAddress->setObjectName(QStringLiteral("cbAddress"));
  cbAddress->setEditable(true);
  cbAddress->setInsertPolicy(QComboBox::NoInsert);
  cbAddress->setMaxVisibleItems(12);
  cbAddress->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // Typed paths must not be completed into another key's path.
  cbAddress->setCompleter(nullptr);
  animSearch = new QLabel(toolbarMain);
  animSearch->setObjectName(QStringLiteral("animSearch"));
  animSearch->setVisible(false);
  tb->addWidget(bnSearch);
  tb->addWidget(cbAddress, 1);
  tb->addWidget(animSearch);
  coolbarMain->addWidget(toolbarMain);

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  splitterLeft = new QSplitter(Qt::Horizontal, central);
  splitterLeft->setObjectName(QStringLiteral("splitterLeft"));
  splitterLeft->setHandleWidth(6);
  splitterLeft->setChildrenCollapsible(false);

  model_ = new KeyTreeModel(this);
  model_->iconProvider = &dataNodeIcon;
  model_->onExpanding = [this](KeyNode* node) { tvKeysExpanding(node); };
  model_->noteOf = [this](const KeyNode* node) { return MountNote(node); };
  tvKeys = new QTreeView(splitterLeft);
  tvKeys->setObjectName(QStringLiteral("tvKeys"));
  tvKeys->setModel(model_);
  tvKeys->setHeaderHidden(true);
  tvKeys->setUniformRowHeights(true);
  tvKeys->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvKeys->setSelectionMode(QAbstractItemView::SingleSelection);
  tvKeys->setContextMenuPolicy(Qt::CustomContextMenu);
  tvKeys->setIconSize(QSize(16, 16));
  tvKeys->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tvKeys->header()->setStretchLastSection(false);
  splitterLeft->addWidget(tvKeys);

  panelMain = new QWidget(splitterLeft);
  panelMain->setObjectName(QStringLiteral("panelMain"));
  // Only a frame here: language files name the pages as lying on the window.
  panelMain->setProperty("hsLayoutOnly", true);
  auto* pm = new QVBoxLayout(panelMain);
  pm->setContentsMargins(4, 4, 4, 4);
  pcMain = new QTabWidget(panelMain);
  pcMain->setObjectName(QStringLiteral("pcMain"));
  pm->addWidget(pcMain);
  splitterLeft->addWidget(panelMain);
  splitterLeft->setStretchFactor(0, 0);
  splitterLeft->setStretchFactor(1, 1);
  splitterLeft->setSizes({273, 632 - 273});

  // Data: the value list above the hex dump.
  tsData = new QWidget;
  tsData->setObjectName(QStringLiteral("tsData"));
  auto* dl = new QVBoxLayout(tsData);
  dl->setContentsMargins(0, 0, 0, 0);
  splitterHexDump = new QSplitter(Qt::Vertical, tsData);
  splitterHexDump->setObjectName(QStringLiteral("splitterHexDump"));
  valueModel_ = new ValueListModel(this);
  lvData = new QTreeView(splitterHexDump);
  lvData->setObjectName(QStringLiteral("lvData"));
  lvData->setModel(valueModel_);
  lvData->setRootIsDecorated(false);
  lvData->setItemsExpandable(false);
  // Every row is one line high: the view need not measure 100,000 rows.
  lvData->setUniformRowHeights(true);
  lvData->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvData->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvData->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvData->setContextMenuPolicy(Qt::CustomContextMenu);
  lvData->setIconSize(QSize(16, 16));
  lvData->header()->setStretchLastSection(false);
  lvData->setColumnWidth(0, 120);
  lvData->setColumnWidth(1, 100);
  lvData->header()->setSectionResizeMode(2, QHeaderView::Stretch);
  lvData->setColumnHidden(3, true);  // width 0 in the design
  lvData->setColumnHidden(4, true);
  // The hint follows the row under the mouse.
  lvData->viewport()->setMouseTracking(true);
  lvHexDump = new THexView(splitterHexDump);
  lvHexDump->setObjectName(QStringLiteral("lvHexDump"));
  lvHexDump->setMinimumHeight(40);
  lvHexDump->setVisible(false);
  lvHexDump->SetOnGetBinaryData([this](std::uint64_t start, std::uint64_t count, std::vector<std::uint8_t>& data) {
    lvHexDumpGetBinaryData(start, count, data);
  });
  splitterHexDump->addWidget(lvData);
  splitterHexDump->addWidget(lvHexDump);
  dl->addWidget(splitterHexDump);
  pcMain->addTab(tsData, QStringLiteral("Data"));

  tsInfo = new QWidget;
  tsInfo->setObjectName(QStringLiteral("tsInfo"));
  auto* il = new QVBoxLayout(tsInfo);
  il->setContentsMargins(0, 0, 0, 0);
  tvInfo = new QTreeWidget(tsInfo);
  tvInfo->setObjectName(QStringLiteral("tvInfo"));
  tvInfo->setHeaderHidden(true);
  tvInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvInfo->setContextMenuPolicy(Qt::CustomContextMenu);
  il->addWidget(tvInfo);
  pcMain->addTab(tsInfo, QStringLiteral("Security information"));

  tsDatabaseInfo = new QWidget;
  tsDatabaseInfo->setObjectName(QStringLiteral("tsDatabaseInfo"));
  auto* db = new QVBoxLayout(tsDatabaseInfo);
  db->setContentsMargins(0, 0, 0, 0);
  auto header = [this](const QString& text, QToolButton*& button, const char* name, QAction* action) {
    auto* row = new QWidget(tsDatabaseInfo);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(text, row);
    button = new QToolButton(row);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(dataImage(13));
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, action, &QAction::trigger);
    h->addWidget(label, 1);
    h->addWidget(button);
    return row;
  };
  db->addWidget(header(QStringLiteral("Key information:"), bnInfoDBSaveKeyInfo, "bnInfoDBSaveKeyInfo", aInfoDBSaveKeyInfo));
  mInfoDBKey = new QPlainTextEdit(tsDatabaseInfo);
  mInfoDBKey->setObjectName(QStringLiteral("mInfoDBKey"));
  db->addWidget(mInfoDBKey);
  db->addWidget(
      header(QStringLiteral("Value information:"), bnInfoDBSaveValueInfo, "bnInfoDBSaveValueInfo", aInfoDBSaveValueInfo));
  mInfoDBValue = new QPlainTextEdit(tsDatabaseInfo);
  mInfoDBValue->setObjectName(QStringLiteral("mInfoDBValue"));
  db->addWidget(mInfoDBValue);
  pcMain->addTab(tsDatabaseInfo, QStringLiteral("Info database"));

  tsDatabaseInfoDebug = new QWidget;
  tsDatabaseInfoDebug->setObjectName(QStringLiteral("tsDatabaseInfoDebug"));
  {
    auto* g = new QVBoxLayout(tsDatabaseInfoDebug);
    auto* editKey = new QLineEdit(QStringLiteral("key name here"), tsDatabaseInfoDebug);
    editKey->setObjectName(QStringLiteral("editInfoDBKey"));
    auto* editValue = new QLineEdit(QStringLiteral("value name here"), tsDatabaseInfoDebug);
    editValue->setObjectName(QStringLiteral("editInfoDBValue"));
    auto* memo = new QPlainTextEdit(QStringLiteral("text to be stored here"), tsDatabaseInfoDebug);
    memo->setObjectName(QStringLiteral("memoInfoDBInfo"));
    auto* add = new QToolButton(tsDatabaseInfoDebug);
    add->setObjectName(QStringLiteral("bnInfoDBAdd"));
    add->setText(QStringLiteral("add ->"));
    g->addWidget(editKey);
    g->addWidget(editValue);
    g->addWidget(memo);
    g->addWidget(add);
  }
  const int debugTab = pcMain->addTab(tsDatabaseInfoDebug, QStringLiteral("DBG"));
  pcMain->setTabVisible(debugTab, false);

  // Change logs: two read-only editors that share one INI highlighter.
  CodeIniHighlighter1 = new codeedit::TCodeIniHighlighter(this);
  CodeIniHighlighter1->setObjectName(QStringLiteral("CodeIniHighlighter1"));
  tsChangeLogs = new QWidget;
  tsChangeLogs->setObjectName(QStringLiteral("tsChangeLogs"));
  auto* cl = new QVBoxLayout(tsChangeLogs);
  cl->setContentsMargins(0, 0, 0, 0);
  auto* pcLogs = new QTabWidget(tsChangeLogs);
  pcLogs->setObjectName(QStringLiteral("pcChangeLogs"));
  auto logPage = [this, pcLogs](const char* pageName, const char* editName, QAction* save, QAction* apply,
                                codeedit::TCodeEdit*& edit) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(pageName));
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    auto* bar = new QToolBar(page);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    bar->addAction(save);
    bar->addAction(apply);
    edit = makeChangeLogEditor(page);
    edit->setObjectName(QString::fromLatin1(editName));
    v->addWidget(bar);
    v->addWidget(edit);
    return page;
  };
  pcLogs->addTab(logPage("tsRedoLog", "editRedoLog", aChangeLogRedoSave, aChangeLogRedoApply, editRedoLog),
                 QStringLiteral("Redo log"));
  pcLogs->addTab(logPage("tsUndoLog", "editUndoLog", aChangeLogUndoSave, aChangeLogUndoApply, editUndoLog),
                 QStringLiteral("Undo log"));
  cl->addWidget(pcLogs);
  pcMain->addTab(tsChangeLogs, QStringLiteral("Change logs"));
  pcMain->setCurrentWidget(tsData);

  outer->addWidget(splitterLeft, 1);
  pg = new QProgressBar(central);
  pg->setObjectName(QStringLiteral("pg"));
  pg->setTextVisible(false);
  pg->setMaximumHeight(12);
  pg->setRange(0, 100);
  pg->setValue(0);
  outer->addWidget(pg);
  setCentralWidget(central);

  statusBar()->setObjectName(QStringLiteral("sbar"));
  sbarPanel0 = new QLabel(statusBar());
  sbarPanel0->setObjectName(QStringLiteral("sbarPanel0"));
  sbarPanel0->setMinimumWidth(380);
  sbarPanel0->setTextFormat(Qt::PlainText);
  sbarPanel1 = new QLabel(statusBar());
  sbarPanel1->setObjectName(QStringLiteral("sbarPanel1"));
  // 220 wide as designed, wider when the date and time of the user's font
  // and locale need it, so the seconds are never cut off.
  sbarPanel1->setMinimumWidth(220);
  sbarPanel1->setTextFormat(Qt::PlainText);
  // Panel 0 takes the width panel 1 leaves.
  statusBar()->addWidget(sbarPanel0, 1);
  statusBar()->addPermanentWidget(sbarPanel1);
}

void TformMain::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("menuMain"));

  miFile = bar->addMenu(QStringLiteral("&File"));
  miFile->setObjectName(QStringLiteral("miFile"));
  miFile->addActions({aKeyImport, aKeyExport});
  miFile->addSeparator();
  miFile->addActions({aFileOpenReg, aFileDiffOpenReg, aFileOpenHive, aFileLogonUser, aFileConnectReg});
  miFile->addSeparator();
  miFile->addAction(aShowHistory);
  miFile->addSeparator();
  miFile->addAction(aSecurityInformationExportToFile);
  miFile->addSeparator();
  miFile->addAction(aFileExit);

  miEdit = bar->addMenu(QStringLiteral("&Edit"));
  miEdit->setObjectName(QStringLiteral("miEdit"));
  miEdit->addSeparator();
  miEdit->addAction(aKeyJump);
  miEdit->addSeparator();
  miEdit->addAction(aSearch);

  miBookmarks = bar->addMenu(QStringLiteral("Bookmarks"));
  miBookmarks->setObjectName(QStringLiteral("miBookmarks"));
  // The fixed entries: the bookmarks go above them and never touch them.
  SetGroupIndex(miBookmarks->addSeparator(), kFixedGroupIndex);
  miBookmarks->addAction(aBookmarksManage);
  SetGroupIndex(aBookmarksManage, kFixedGroupIndex);

  miLanguages = bar->addMenu(QStringLiteral("&Languages"));
  miLanguages->setObjectName(QStringLiteral("miLanguages"));

  miHelp = bar->addMenu(aMenuHelp->text());
  miHelp->setObjectName(QStringLiteral("miHelp"));
  miHelp->addActions({aHelpContents, aHelpIndex});
  miHelp->addSeparator();
  miHelp->addAction(aAbout);

  pmKeys = new QMenu(this);
  pmKeys->setObjectName(QStringLiteral("pmKeys"));
  pmKeys->addAction(aKeyAdd);
  pmKeys->addSeparator();
  pmKeys->addActions({aKeyDelete, aKeyRename});
  pmKeys->addSeparator();
  pmKeys->addActions({aKeyImport, aKeyExport});
  pmKeys->addSeparator();
  pmKeys->addActions({aKeyRefresh, aKeyCopyPath, aSecurityInformationExportToClipboard, aKeyCreateRule,
                      aKeyJumpToHKCRCLSID, aSecurityInformationGrantAll, aKeyAddBookmark});

  pmValues = new QMenu(this);
  pmValues->setObjectName(QStringLiteral("pmValues"));
  pmValuesAdd = new QMenu(aValueAdd->text(), pmValues);
  pmValuesAdd->setObjectName(QStringLiteral("pmValuesAdd"));
  pmValuesAdd->setIcon(aValueAdd->icon());
  pmValuesAdd->addActions({aValueAddString, aValueAddExpandString, aValueAddMultiString, aValueAddInteger,
                           aValueAddLEInteger, aValueAddBEInteger, aValueAddInt64, aValueAddLEInt64,
                           aValueAddBinary});
  pmValuesAdd->addSeparator();
  pmValuesAdd->addActions({aValueAddLink, aValueAddResourceList, aValueAddResourceRequirementsList,
                           aValueAddFullResourceDescriptor, aValueAddNone});
  // The sub-menu stands for the action aValueAdd (caption, enabled state).
  QAction* addItem = pmValues->addMenu(pmValuesAdd);
  addItem->setProperty("hsAction", QVariant::fromValue<QObject*>(aValueAdd));
  connect(aValueAdd, &QAction::changed, addItem, [this, addItem] {
    addItem->setText(aValueAdd->text());
    addItem->setEnabled(aValueAdd->isEnabled());
  });
  pmValues->addSeparator();
  pmValues->addActions({aValueChange, aValueChangeType, aValueJumpToHKCRCLSID});
  pmValues->addSeparator();
  pmValues->addActions({aValueDelete, aValueRename});
  pmValues->addSeparator();
  pmValues->addAction(aValueSelectAll);
  pmValues->addSeparator();
  pmValues->addAction(aValueCreateRule);

  pmSecurity = new QMenu(this);
  pmSecurity->setObjectName(QStringLiteral("pmSecurity"));
  pmSecurity->addAction(aSecurityInformationExportToClipboard);
}

void TformMain::connectAll() {
  const struct {
    QAction* action;
    void (TformMain::*handler)();
  } handlers[] = {
      {aFileExit, &TformMain::aFileExitExecute},
      {aFileOpenReg, &TformMain::aFileOpenRegExecute},
      {aFileDiffOpenReg, &TformMain::aFileDiffOpenRegExecute},
      {aFileConnectReg, &TformMain::aFileConnectRegExecute},
      {aFileLogonUser, &TformMain::aFileLogonUserExecute},
      {aFileOpenHive, &TformMain::aFileOpenHiveExecute},
      {aShowHistory, &TformMain::aShowHistoryExecute},
      {aKeyDelete, &TformMain::aKeyDeleteExecute},
      {aKeyAdd, &TformMain::aKeyAddExecute},
      {aKeyRename, &TformMain::aKeyRenameExecute},
      {aKeyCopyPath, &TformMain::aKeyCopyPathExecute},
      {aKeyRefresh, &TformMain::aKeyRefreshExecute},
      {aKeyJump, &TformMain::aKeyJumpExecute},
      {aKeyExport, &TformMain::aKeyExportExecute},
      {aKeyImport, &TformMain::aKeyImportExecute},
      {aKeyAddBookmark, &TformMain::aKeyAddBookmarkExecute},
      {aKeyJumpToHKCRCLSID, &TformMain::aKeyJumpToHKCRCLSIDExecute},
      {aKeyCreateRule, &TformMain::aKeyCreateRuleExecute},
      {aValueDelete, &TformMain::aValueDeleteExecute},
      {aValueRename, &TformMain::aValueRenameExecute},
      {aValueChange, &TformMain::aValueChangeExecute},
      {aValueChangeType, &TformMain::aValueChangeTypeExecute},
      {aValueAdd, &TformMain::aValueAddExecute},
      {aValueAddString, &TformMain::aValueAddStringExecute},
      {aValueAddExpandString, &TformMain::aValueAddExpandStringExecute},
      {aValueAddMultiString, &TformMain::aValueAddMultiStringExecute},
      {aValueAddInteger, &TformMain::aValueAddIntegerExecute},
      {aValueAddLEInteger, &TformMain::aValueAddLEIntegerExecute},
      {aValueAddBEInteger, &TformMain::aValueAddBEIntegerExecute},
      {aValueAddInt64, &TformMain::aValueAddInt64Execute},
      {aValueAddLEInt64, &TformMain::aValueAddLEInt64Execute},
      {aValueAddBinary, &TformMain::aValueAddBinaryExecute},
      {aValueAddLink, &TformMain::aValueAddLinkExecute},
      {aValueAddResourceList, &TformMain::aValueAddResourceListExecute},
      {aValueAddFullResourceDescriptor, &TformMain::aValueAddFullResourceDescriptorExecute},
      {aValueAddResourceRequirementsList, &TformMain::aValueAddResourceRequirementsListExecute},
      {aValueAddNone, &TformMain::aValueAddNoneExecute},
      {aValueSelectAll, &TformMain::aValueSelectAllExecute},
      {aValueJumpToHKCRCLSID, &TformMain::aValueJumpToHKCRCLSIDExecute},
      {aValueCreateRule, &TformMain::aValueCreateRuleExecute},
      {aSecurityInformationExportToFile, &TformMain::aSecurityInformationExportToFileExecute},
      {aSecurityInformationExportToClipboard, &TformMain::aSecurityInformationExportToClipboardExecute},
      {aSecurityInformationGrantAll, &TformMain::aSecurityInformationGrantAllExecute},
      {aSearch, &TformMain::aSearchExecute},
      {aBookmarksManage, &TformMain::aBookmarksManageExecute},
      {aAbout, &TformMain::aAboutExecute},
      {aInfoDBSaveKeyInfo, &TformMain::aInfoDBSaveKeyInfoExecute},
      {aInfoDBSaveValueInfo, &TformMain::aInfoDBSaveValueInfoExecute},
      {aHelpContents, &TformMain::aHelpContentsExecute},
      {aHelpIndex, &TformMain::aHelpIndexExecute},
      {aMenuHelp, &TformMain::aMenuHelpExecute},
      {aChangeLogRedoSave, &TformMain::aChangeLogRedoSaveExecute},
      {aChangeLogUndoSave, &TformMain::aChangeLogUndoSaveExecute},
      {aChangeLogRedoApply, &TformMain::aChangeLogRedoApplyExecute},
      {aChangeLogUndoApply, &TformMain::aChangeLogUndoApplyExecute},
  };
  for (const auto& h : handlers) connect(h.action, &QAction::triggered, this, h.handler);

  connect(miFile, &QMenu::aboutToShow, this, &TformMain::miFileClick);
  connect(pmKeys, &QMenu::aboutToShow, this, &TformMain::pmKeysPopup);
  connect(pmValues, &QMenu::aboutToShow, this, &TformMain::pmValuesPopup);

  connect(tvKeys, &QTreeView::clicked, this, [this] { tvKeysClick(); });
  connect(tvKeys, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    // A right click selects the node under the mouse first.
    const QModelIndex index = tvKeys->indexAt(pos);
    if (index.isValid()) tvKeys->setCurrentIndex(index);
    pmKeys->popup(tvKeys->viewport()->mapToGlobal(pos));
  });
  connect(lvData, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pmValues->popup(lvData->viewport()->mapToGlobal(pos)); });
  connect(tvInfo, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pmSecurity->popup(tvInfo->viewport()->mapToGlobal(pos)); });
  connect(lvData, &QTreeView::doubleClicked, this, [this] { lvDataKeyDown(Qt::Key_Return); });
  connect(lvData, &QTreeView::clicked, this, [this] { lvDataClick(); });
  connect(cbAddress, &QComboBox::activated, this, [this] { cbAddressSelect(); });

  connectSecurityPages();

  tvKeys->installEventFilter(this);
  lvData->installEventFilter(this);
  lvData->viewport()->installEventFilter(this);
  // The box, not its line edit, has the focus (the line edit's focus proxy
  // is the box), and the box hands keys to the line edit by a direct call
  // that passes no filter: Enter is caught on the box.
  cbAddress->installEventFilter(this);
  InstallKeyTreeDrops();
}

void TformMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void TformMain::BuildKeyTree() {
  tvKeys->setUpdatesEnabled(false);
  model_->clear();
  FMyComputerNode = model_->addChild(model_->root(), Msg(msgMyComputer), nullptr, 0, 0);
  for (const QString& name : FRootKeyNames) AddKeyNode(FMyComputerNode, name, rvDefault);
  tvKeys->setUpdatesEnabled(true);
  tvKeys->expand(model_->indexOf(FMyComputerNode));
}

KeyNode* TformMain::selectedNode() const {
  if (!tvKeys->selectionModel()) return nullptr;
  const QModelIndexList rows = tvKeys->selectionModel()->selectedRows();
  if (!rows.isEmpty()) return model_->nodeOf(rows.first());
  return nullptr;
}

void TformMain::selectNode(KeyNode* node) {
  const QModelIndex index = model_->indexOf(node);
  tvKeys->scrollTo(index);
  tvKeys->setCurrentIndex(index);
}

KeyNode* TformMain::AddKeyNode(KeyNode* parent, const QString& rawName, TRegistryView view, int position) {
  const QString shown = ShownKeyName(rawName);
  if (rawName.isEmpty() || shown == QStringLiteral("<0x00>")) return nullptr;
  auto data = std::make_unique<TKeyNodeData>();
  data->Name = rawName;
  int image = 1, selected = 2;
  const int parentImage = parent ? parent->imageIndex : -1;
  if (parentImage >= 15 && parentImage <= 18 && view == rvDefault) {
    image = parent->imageIndex;
    selected = parent->selectedIndex;
  } else if (view == rv32Bit) {
    image = 15;
    selected = 16;
  } else if (view == rv64Bit) {
    image = 17;
    selected = 18;
  }
  if (!parent) parent = model_->root();
  if (position < 0) position = parent->count();
  KeyNode* node = model_->insertChild(parent, position, shown, std::move(data), image, selected);
  node->hasChildren = true;
  return node;
}

int TformMain::GetNodeKind(const KeyNode* node, QString* topText) const {
  if (!node) return nkNone;
  const KeyNode* top = node;
  while (top->parent && top->parent != model_->root()) top = top->parent;
  if (topText) *topText = top->text;
  switch (top->imageIndex) {
    case 0: return nkLocal;
    case 8: return nkRegFile;
    case 9: return nkRemote;
    default: return nkNone;
  }
}

NodeLocation TformMain::GetNodeLocation(const KeyNode* node) const {
  NodeLocation loc;
  if (!node) return loc;
  if (node->imageIndex == 15)
    loc.view = rv32Bit;
  else if (node->imageIndex == 17)
    loc.view = rv64Bit;
  loc.displayPath = node->name();
  const KeyNode* n = node;
  while (n->level() >= 1) {
    if (n->level() == 1)
      loc.root = NameToRootKey(qStringToAnsi(n->name()));
    else
      loc.keyPath = QStringLiteral("\\") + n->name() + loc.keyPath;
    n = n->parent;
    loc.displayPath = n->name() + QStringLiteral("\\") + loc.displayPath;
  }
  return loc;
}

void TformMain::tvKeysExpanding(KeyNode* node) {
  if (!node || !node->hasChildren || !node->children.empty()) return;
  const int kind = GetNodeKind(node);
  if (kind == nkLocal && node->level() == 0) {
    // "My Computer" holds the root keys. Its location (HKEY_LOCAL_MACHINE,
    // empty key path) is no key of its own: listing it would put that root's
    // keys in place of the roots when the node is refreshed.
    for (const QString& name : FRootKeyNames) AddKeyNode(node, name, rvDefault);
    return;
  }
  const NodeLocation loc = GetNodeLocation(node);
  if (kind == nkLocal) {
    QStringList names;
    if (auto listed = lister_->subKeyNames(loc.root, loc.keyPath + QStringLiteral("\\"), loc.view)) {
      names = *listed;
      model_->setHasChildren(node, !names.isEmpty());
    } else {
      model_->setHasChildren(node, false);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return compareKeyNames(a, b) < 0; });
    tvKeys->setUpdatesEnabled(false);
    pg->setMinimum(0);
    pg->setValue(0);
    // Qt draws a 0..0 range as a busy indicator, so one child still gets a
    // range of 1.
    if (!names.isEmpty()) pg->setMaximum(std::max(1, static_cast<int>(names.size()) - 1));
    KeyNode* last = nullptr;
    try {
      for (int i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (name.isEmpty()) continue;
        pg->setValue(i);
        if (name == QLatin1String("Wow6432Node") &&
            (loc.keyPath == QLatin1String("\\SOFTWARE") || loc.keyPath == QLatin1String("\\SOFTWARE\\Classes")))
          continue;
        KeyNode* child = AddKeyNode(node, name, rvDefault);
        if (!child) continue;
        last = child;
        child->hasChildren = lister_->hasSubKeys(loc.root, loc.keyPath + QStringLiteral("\\") + name, loc.view);
        if (loc.keyPath.isEmpty() && name == QLatin1String("SOFTWARE") && lister_->isWow64()) {
          model_->setImages(child, 17, 18);
          KeyNode* twin = AddKeyNode(node, QStringLiteral("SOFTWARE"), rv32Bit);
          if (twin) {
            twin->hasChildren = true;
            last = twin;
          }
        }
      }
    } catch (...) {
      if (last) model_->setHasChildren(last, false);
    }
    tvKeys->setUpdatesEnabled(true);
  } else if (kind == nkRemote && node->level() >= 1) {
    ExpandRemoteNode(node);
  }
  // .reg file trees fill their nodes when they are read.
}

void TformMain::aKeyRefreshExecute() {
  KeyNode* node = selectedNode();
  if (!node) return;
  model_->deleteChildren(node);
  model_->setHasChildren(node, true);
  tvKeysExpanding(node);
  tvKeys->expand(model_->indexOf(node));
}

// ---- enabling rules -------------------------------------------------------

KeyActionRules TformMain::keyActionRules() const {
  KeyActionRules r;
  const KeyNode* node = selectedNode();
  if (!node) return r;
  r.keyRefresh = true;
  const bool local = GetNodeKind(node) == nkLocal;
  const int level = node->level();
  r.keyDelete = r.keyRename = local && level > 1;
  r.keyAdd = r.keyExport = local && level > 0;
  // A root is no key a descriptor could be set on.
  r.securityGrantAll = local && level > 1;
  r.keyCopyPath = level > 0;
  const bool securityVisible = pcMain->isTabVisible(pcMain->indexOf(tsInfo));
  r.securityToClipboard = r.securityToFile = local && level > 0 && securityVisible;
  r.valueAdd = local;
  r.keyJumpToHKCRCLSID = inBraces(node->text);
  // "My Computer" and a root have no key of their own to write a rule for.
  r.keyCreateRule = level > 1;
  return r;
}

void TformMain::pmKeysPopup() {
  const KeyActionRules r = keyActionRules();
  aValueAdd->setEnabled(false);
  aKeyRefresh->setEnabled(r.keyRefresh);
  aKeyDelete->setEnabled(r.keyDelete);
  aKeyRename->setEnabled(r.keyRename);
  aKeyAdd->setEnabled(r.keyAdd);
  aKeyExport->setEnabled(r.keyExport);
  aKeyCopyPath->setEnabled(r.keyCopyPath);
  aSecurityInformationExportToClipboard->setEnabled(r.securityToClipboard);
  aSecurityInformationExportToFile->setEnabled(r.securityToFile);
  aSecurityInformationGrantAll->setEnabled(r.securityGrantAll);
  aKeyJumpToHKCRCLSID->setEnabled(r.keyJumpToHKCRCLSID);
  aKeyCreateRule->setEnabled(r.keyCreateRule);
  aValueAdd->setEnabled(r.valueAdd);
}

ValueActionRules TformMain::valueActionRules() const {
  ValueActionRules r;
  const int row = selectedValueRow();
  if (row < 0) return r;
  const TRegistryValueListItem& item = valueModel_->item(row);
  const bool local = GetNodeKind(selectedNode()) == nkLocal;
  const int kind = item.DataInfo.RegData;
  switch (kind) {
    case rdString: case rdExpandString: case rdInteger: case rdLittleEndianInteger: case rdBigEndianInteger:
    case rdMultiString: case rdInt64: case rdLittleEndianInt64:
    // Kinds without an editor of their own change as bytes.
    case rdNone: case rdBinary: case rdLink: case rdResourceList: case rdFullResourceDescriptor:
      r.valueChange = local;
      break;
    default:
      break;
  }
  r.valueChangeType = local && CanChangeValueType(kind);
  r.valueDelete = r.valueRename = local;
  r.valueJumpToHKCRCLSID = inBraces(item.Caption);
  return r;
}

void TformMain::pmValuesPopup() {
  aValueJumpToHKCRCLSID->setEnabled(false);
  if (selectedValueRow() < 0) return;
  sbarPanel1->clear();
  const ValueActionRules r = valueActionRules();
  aValueChange->setEnabled(r.valueChange);
  aValueChangeType->setEnabled(r.valueChangeType);
  aValueDelete->setEnabled(r.valueDelete);
  aValueRename->setEnabled(r.valueRename);
  aValueJumpToHKCRCLSID->setEnabled(r.valueJumpToHKCRCLSID);
}

void TformMain::miFileClick() { pmKeysPopup(); }

void TformMain::MirrorEditMenu(QMenu* menu) {
  for (QAction* a : mirrored_) {
    miEdit->removeAction(a);
    if (a->parent() == miEdit) delete a;  // separators made here
  }
  mirrored_.clear();
  miEdit->menuAction()->setEnabled(menu != nullptr);
  if (!menu) return;
  const QList<QAction*> items = menu->actions();
  QAction* before = miEdit->actions().isEmpty() ? nullptr : miEdit->actions().first();
  for (QAction* item : items) {
    QAction* mirror = item;
    if (item->isSeparator()) {
      mirror = new QAction(miEdit);
      mirror->setSeparator(true);
    } else if (item->menu()) {
      // A sub-menu shows as its action alone; its sub-items are not mirrored.
      if (auto* a = qobject_cast<QAction*>(item->property("hsAction").value<QObject*>())) mirror = a;
    }
    miEdit->insertAction(before, mirror);
    mirrored_.push_back(mirror);
  }
}

QString TformMain::statusText(int panel) const { return panel == 0 ? sbarPanel0->text() : sbarPanel1->text(); }

// ---- keyboard -------------------------------------------------------------

bool TformMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (lvData && watched == lvData->viewport() && type == QEvent::MouseMove) {
    lvDataMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
  } else if (watched == tvKeys || watched == lvData) {
    if (type == QEvent::FocusIn) {
      MirrorEditMenu(watched == tvKeys ? pmKeys : pmValues);
    } else if (type == QEvent::FocusOut) {
      // Opening a menu takes the focus only for a moment; the Edit menu must
      // keep the mirrored items while it is open.
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason) MirrorEditMenu(nullptr);
    } else if (type == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (watched == tvKeys) {
        if (key == Qt::Key_Insert || key == Qt::Key_Delete || key == Qt::Key_F2 || key == Qt::Key_F5) {
          tvKeysKeyDown(key);
          return true;
        }
      } else if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Insert || key == Qt::Key_Delete ||
                 key == Qt::Key_F2 || key == Qt::Key_F5) {
        lvDataKeyDown(key);
        return true;
      }
    } else if (type == QEvent::KeyRelease && watched == tvKeys) {
      auto* ke = static_cast<QKeyEvent*>(event);
      if (!ke->isAutoRepeat()) tvKeysKeyUp(ke->key());
    }
  } else if (watched == cbAddress && type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      cbAddressKeyPress(QChar(13));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TformMain::tvKeysKeyDown(int key) {
  const KeyActionRules r = keyActionRules();
  switch (key) {
    case Qt::Key_Insert:
      if (r.keyAdd) aKeyAddExecute();
      break;
    case Qt::Key_Delete:
      if (r.keyDelete) aKeyDeleteExecute();
      break;
    case Qt::Key_F2:
      if (r.keyRename) aKeyRenameExecute();
      break;
    case Qt::Key_F5:
      tvKeysClick();
      break;
    default:
      break;
  }
}

void TformMain::lvDataKeyDown(int key) {
  const ValueActionRules r = valueActionRules();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (r.valueChange) aValueChangeExecute();
      break;
    case Qt::Key_Insert:
      pmValues->popup(QCursor::pos());
      break;
    case Qt::Key_Delete:
      if (r.valueDelete) aValueDeleteExecute();
      break;
    case Qt::Key_F2:
      if (r.valueRename) aValueRenameExecute();
      break;
    case Qt::Key_F5:
      FillValueList(GetSelectedLocation().root, GetSelectedLocation().keyPath, GetSelectedLocation().view);
      break;
    default:
      break;
  }
}

void TformMain::tvKeysClick() {
  if (KeyNode* node = selectedNode()) {
    const NodeLocation loc = GetNodeLocation(node);
    ShowKeyInfo(QString::fromStdString(RootKeyToLongName(loc.root)) + loc.keyPath);
    const QString shownPath = ShownKeyName(loc.displayPath);
    sbarPanel0->setText(shownPath);
    // Compared in the shown form: a path with NULs must match its own item.
    addToAddressBox(shownPath, node->imageIndex);
    if (GetNodeKind(node) == nkLocal) {
      if (node->level() == 0)
        valueModel_->clear();
      else
        FillValueList(loc.root, loc.keyPath, loc.view);
      sbarPanel1->clear();
      if (node->level() > 0) {
        if (auto time = lister_->lastWriteTime(loc.root, loc.keyPath, loc.view)) {
          const QDateTime when = dateTimeToQDateTime(FileTimeToDateTime(platform::u64ToFileTime(*time)));
          if (when.isValid()) {
            const QLocale locale;
            QString text = locale.toString(when.date(), QLocale::ShortFormat);
            if (when.time() != QTime(0, 0)) text += u' ' + when.time().toString(QStringLiteral("HH:mm:ss"));
            sbarPanel1->setText(QStringLiteral("Last write access: ") + text);
          }
        } else {
          // A key that does not open looks empty: say why it is.
          sbarPanel1->setText(KeyRefusalNote(loc.root, loc.keyPath, loc.view));
        }
        // A key of a hive that takes no changes says so whenever selected.
        const QString readOnly = ReadOnlyHiveNote(loc.root, loc.keyPath);
        sbarPanel1->setToolTip(readOnly);
        if (!readOnly.isEmpty()) sbarPanel1->setText(QStringLiteral("Read-only hive. ") + sbarPanel1->text());
      }
      if (pcMain->isTabVisible(pcMain->indexOf(tsInfo))) {
        // "My Computer" stands for no key of its own.
        if (node->level() == 0)
          tvInfo->clear();
        else
          ShowSelectedKeySecurity(loc);
      }
    } else {
      tvInfo->clear();
      if (GetNodeKind(node) == nkRegFile) ShowRegFileValues(node);
    }
  }
  lvDataClick();
}

void TformMain::aKeyCopyPathExecute() {
  KeyNode* node = selectedNode();
  if (!node) return;
  const NodeLocation loc = GetNodeLocation(node);
  QApplication::clipboard()->setText(QString::fromStdString(RootKeyToLongName(loc.root)) + loc.keyPath);
}

void TformMain::aFileExitExecute() { close(); }

