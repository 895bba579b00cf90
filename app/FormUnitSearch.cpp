#include "app/FormUnitSearch.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "core/bwlRegTools.h"
#include "core/kxStrings.h"

namespace {

constexpr int kMsgFinished = 37;
constexpr int kMsgStopped = 38;
constexpr int kMsgRangeKey = 39;
constexpr int kMsgRangeAll = 40;
constexpr int kMsgPatience = 41;
constexpr int kMsgReplaced = 42;

// Rows reach the model at most this often while a search runs; merging costs
// a pass over every row, so merging per key would make a large search quadratic.
constexpr int kFlushMilliseconds = 250;
constexpr int kEventMilliseconds = 30;

bool isKeyImage(int image) { return image == siKey || image == siKey32 || image == siKey64; }

bool captionLess(const TSearchListItem& a, const TSearchListItem& b) {
  return QString::compare(ansiToQString(a.Caption), ansiToQString(b.Caption), Qt::CaseInsensitive) < 0;
}

// A caption without its accelerator marker ("&&" stays one "&").
QString plainCaption(QString text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') out += u'&', ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string dropTrailingBackslash(std::string text) {
  if (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

// The date and time as the export's comment lines show them: the short date
// and the long time, the time left out at midnight.
QString shownDateTime(const QDateTime& at) {
  const QLocale locale;
  QString text = locale.toString(at.date(), QLocale::ShortFormat);
  if (at.time() != QTime(0, 0)) text += u' ' + locale.toString(at.time(), QLocale::LongFormat);
  return text;
}

// Local date and time as days since 30 December 1899 with the time of day as
// the fraction, the form the engine's date test takes.
double toDayNumber(const QDate& date, const QTime& time) {
  const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(date));
  return days + time.msecsSinceStartOfDay() / 86400000.0;
}

// The one-call helpers take 8-bit names; a NUL inside one would cut it short
// and act on another key or value.
bool holdsNul(const TSearchListItem& item) {
  return item.KeyPath.find('\0') != std::string::npos || item.ValueName.find('\0') != std::string::npos;
}

Bitness bitnessOf(const TSearchListItem& item) { return item.View == rv64Bit ? Bitness::x64 : Bitness::x32; }
ViewByte viewByteOf(const TSearchListItem& item) { return item.View == rv64Bit ? ViewByte::v64 : ViewByte::v32; }

QDateTime fromDayNumber(double value) {
  const auto days = static_cast<qint64>(std::floor(value));
  const auto msecs = static_cast<int>(std::lround((value - static_cast<double>(days)) * 86400000.0));
  return QDateTime(QDate(1899, 12, 30).addDays(days), QTime(0, 0).addMSecs(msecs));
}

}  // namespace

int ReplaceOccurrences(QString& text, const QString& from, const QString& to, bool ignoreCase) {
  if (from.isEmpty()) return 0;
  const Qt::CaseSensitivity cs = ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
  int count = 0;
  qsizetype at = text.indexOf(from, 0, cs);
  while (at >= 0) {
    text.replace(at, from.size(), to);
    ++count;
    at = text.indexOf(from, at + to.size(), cs);
  }
  return count;
}

// ---------------------------------------------------------------------------

SearchResultsModel::SearchResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void SearchResultsModel::flush() {
  if (pending_.empty()) return;
  std::stable_sort(pending_.begin(), pending_.end(), captionLess);
  beginResetModel();
  const auto middle = static_cast<std::ptrdiff_t>(rows_.size());
  rows_.insert(rows_.end(), std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
  std::inplace_merge(rows_.begin(), rows_.begin() + middle, rows_.end(), captionLess);
  pending_.clear();
  endResetModel();
}

void SearchResultsModel::clear() {
  beginResetModel();
  rows_.clear();
  pending_.clear();
  endResetModel();
}

void SearchResultsModel::setChecked(int row, bool checked) {
  item(row).Checked = checked;
  const QModelIndex at = index(row, colKey);
  emit dataChanged(at, at, {Qt::CheckStateRole});
}

void SearchResultsModel::setFailed(int row) {
  item(row).Failed = true;
  emit dataChanged(index(row, colKey), index(row, colData), {Qt::ForegroundRole});
}

void SearchResultsModel::removeRow(int row) {
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }
int SearchResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count()) return {};
  const TSearchListItem& row = item(index.row());
  switch (role) {
  case Qt::DisplayRole:
    switch (index.column()) {
    case colKey: return ansiToQString(row.Caption);
    case colValue: return ansiToQString(row.SubItem1);
    case colData: return ansiToQString(row.SubItem2);
    default: return {};
    }
  case Qt::CheckStateRole:
    if (index.column() == colKey) return row.Checked ? Qt::Checked : Qt::Unchecked;
    return {};
  case Qt::ForegroundRole:
    if (row.Failed) return QColor(Qt::red);
    return {};
  default: return {};
  }
}

bool SearchResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != colKey || role != Qt::CheckStateRole) return false;
  setChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags SearchResultsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == colKey) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
  case colKey: return QStringLiteral("Key");
  case colValue: return QStringLiteral("Value");
  case colData: return QStringLiteral("Data");
  default: return {};
  }
}

// ---------------------------------------------------------------------------

TformSearch::TformSearch(TformMain* mainForm)
    : QWidget(nullptr, Qt::Window), mainForm_(mainForm), model_(new SearchResultsModel(this)) {
  setObjectName(QStringLiteral("formSearch"));
  setWindowTitle(QStringLiteral("Search"));
  // Closing only hides the window: its options and rows stay for next time.
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(560, 440);

  pcSearch = new QTabWidget(this);
  pcSearch->setObjectName(QStringLiteral("pcSearch"));
  buildCriteriaPage();
  buildByDatePage();
  buildResultsPage();
  buildReplacePage();
  buildActions();

  bnSearch = new QPushButton(QStringLiteral("Search"), this);
  bnSearch->setObjectName(QStringLiteral("bnSearch"));
  bnSearch->setDefault(true);
  bnStop = new QPushButton(QStringLiteral("Stop"), this);
  bnStop->setObjectName(QStringLiteral("bnStop"));
  bnStop->setEnabled(false);
  bnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  bnCancel->setObjectName(QStringLiteral("bnCancel"));
  animSearch = new QProgressBar(this);
  animSearch->setObjectName(QStringLiteral("animSearch"));
  animSearch->setRange(0, 0);
  animSearch->setTextVisible(false);
  animSearch->setMaximumWidth(80);
  animSearch->setVisible(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(animSearch);
  buttons->addStretch(1);
  buttons->addWidget(bnSearch);
  buttons->addWidget(bnStop);
  buttons->addWidget(bnCancel);

  sbar = new QStatusBar(this);
  sbar->setObjectName(QStringLiteral("sbar"));
  sbar->setSizeGripEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcSearch, 1);
  layout->addLayout(buttons);
  layout->addWidget(sbar);

  connectAll();
}

TformSearch::~TformSearch() = default;

void TformSearch::buildCriteriaPage() {
  tsCriteria = new QWidget;
  tsCriteria->setObjectName(QStringLiteral("tsCriteria"));
  pcSearch->addTab(tsCriteria, QStringLiteral("Search criteria"));

  labelSearchFor = new QLabel(QStringLiteral("Search &for:"));
  labelSearchFor->setObjectName(QStringLiteral("labelSearchFor"));
  editSearchTerm = new QLineEdit;
  editSearchTerm->setObjectName(QStringLiteral("editSearchTerm"));
  labelSearchFor->setBuddy(editSearchTerm);
  labelSearchStyle = new QLabel(QStringLiteral("Search &style:"));
  labelSearchStyle->setObjectName(QStringLiteral("labelSearchStyle"));
  cbSearchStyle = new QComboBox;
  cbSearchStyle->setObjectName(QStringLiteral("cbSearchStyle"));
  cbSearchStyle->addItems({QStringLiteral("Simple substring search"), QStringLiteral("Wildcard search (*, ?)"),
                           QStringLiteral("Boolean search (AND, OR, NOT)"), QStringLiteral("Regular expressions")});
  labelSearchStyle->setBuddy(cbSearchStyle);
  cbHex = new QCheckBox(QStringLiteral("Hex"));
  cbHex->setObjectName(QStringLiteral("cbHex"));

  auto check = [](const char* name, const char* caption, bool checked) {
    auto* box = new QCheckBox(QString::fromUtf8(caption));
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
  };
  gbFocus = new QGroupBox(QStringLiteral("Search focus"));
  gbFocus->setObjectName(QStringLiteral("gbFocus"));
  cbFocusKeys = check("cbFocusKeys", "&Keys", true);
  cbFocusValues = check("cbFocusValues", "&Values", true);
  cbFocusData = check("cbFocusData", "&Data", true);
  auto* focus = new QVBoxLayout(gbFocus);
  focus->addWidget(cbFocusKeys);
  focus->addWidget(cbFocusValues);
  focus->addWidget(cbFocusData);

  gbRange = new QGroupBox(QStringLiteral("Search range"));
  gbRange->setObjectName(QStringLiteral("gbRange"));
  rbRangeKey = new QRadioButton(QStringLiteral("This key &only"));
  rbRangeKey->setObjectName(QStringLiteral("rbRangeKey"));
  rbRangeKey->setChecked(true);
  rbRangeComplete = new QRadioButton(QStringLiteral("&Whole registry"));
  rbRangeComplete->setObjectName(QStringLiteral("rbRangeComplete"));
  labelSearchRange = new QLabel;
  labelSearchRange->setObjectName(QStringLiteral("labelSearchRange"));
  labelSearchRange->setWordWrap(true);
  auto* range = new QVBoxLayout(gbRange);
  range->addWidget(rbRangeKey);
  range->addWidget(rbRangeComplete);
  range->addWidget(labelSearchRange);

  gbMisc = new QGroupBox(QStringLiteral("Miscellaneous options"));
  gbMisc->setObjectName(QStringLiteral("gbMisc"));
  cbIgnoreCase = check("cbIgnoreCase", "&Ignore case", false);
  cbHighSpeed = check("cbHighSpeed", "High speed search", false);
  auto* misc = new QVBoxLayout(gbMisc);
  misc->addWidget(cbIgnoreCase);
  misc->addWidget(cbHighSpeed);

  gbDataTypes = new QGroupBox(QStringLiteral("Data types"));
  gbDataTypes->setObjectName(QStringLiteral("gbDataTypes"));
  cbDataTypeStrings = check("cbDataTypeStrings", "&Strings", true);
  cbDataTypeNumerics = check("cbDataTypeNumerics", "&Numerics", true);
  cbDataTypeBinary = check("cbDataTypeBinary", "&Binary data", false);
  auto* types = new QVBoxLayout(gbDataTypes);
  types->addWidget(cbDataTypeStrings);
  types->addWidget(cbDataTypeNumerics);
  types->addWidget(cbDataTypeBinary);

  auto* grid = new QGridLayout(tsCriteria);
  grid->addWidget(labelSearchFor, 0, 0);
  grid->addWidget(editSearchTerm, 0, 1);
  grid->addWidget(cbHex, 0, 2);
  grid->addWidget(labelSearchStyle, 1, 0);
  grid->addWidget(cbSearchStyle, 1, 1, 1, 2);
  grid->addWidget(gbFocus, 2, 0);
  grid->addWidget(gbRange, 2, 1, 1, 2);
  grid->addWidget(gbMisc, 3, 0);
  grid->addWidget(gbDataTypes, 3, 1, 1, 2);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(1, 1);
}

void TformSearch::buildByDatePage() {
  tsByDate = new QWidget;
  tsByDate->setObjectName(QStringLiteral("tsByDate"));
  pcSearch->addTab(tsByDate, QStringLiteral("... by date"));
  labelByDate = new QLabel(QStringLiteral("Search &for keys that are"));
  labelByDate->setObjectName(QStringLiteral("labelByDate"));
  cbByDateMode = new QComboBox;
  cbByDateMode->setObjectName(QStringLiteral("cbByDateMode"));
  cbByDateMode->addItems({QStringLiteral("of any date."), QStringLiteral("newer than:"), QStringLiteral("older than:"),
                          QStringLiteral("between:"), QStringLiteral("outside of:")});
  labelByDate->setBuddy(cbByDateMode);
  auto dateEdit = [](const char* name) {
    auto* edit = new QDateEdit(QDate::currentDate());
    edit->setObjectName(QString::fromLatin1(name));
    edit->setCalendarPopup(true);
    return edit;
  };
  auto timeEdit = [](const char* name) {
    auto* edit = new QTimeEdit(QTime(0, 0));
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return edit;
  };
  dtDate1 = dateEdit("dtDate1");
  dtTime1 = timeEdit("dtTime1");
  dtDate2 = dateEdit("dtDate2");
  dtTime2 = timeEdit("dtTime2");
  labelAnd = new QLabel(QStringLiteral("and:"));
  labelAnd->setObjectName(QStringLiteral("labelAnd"));
  auto* note = new QLabel(QStringLiteral(
      "This search criterion is only available on Windows NT, Windows 2000 and Windows XP systems. Windows 9x and "
      "Windows ME do not support registry key dates."));
  note->setObjectName(QStringLiteral("labelByDateNote"));
  note->setWordWrap(true);

  auto* grid = new QGridLayout(tsByDate);
  grid->addWidget(labelByDate, 0, 0);
  grid->addWidget(cbByDateMode, 0, 1, 1, 2);
  grid->addWidget(dtDate1, 1, 1);
  grid->addWidget(dtTime1, 1, 2);
  grid->addWidget(labelAnd, 2, 0, Qt::AlignRight);
  grid->addWidget(dtDate2, 2, 1);
  grid->addWidget(dtTime2, 2, 2);
  grid->addWidget(note, 3, 0, 1, 3);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(3, 1);
}

void TformSearch::buildResultsPage() {
  tsResults = new QWidget;
  tsResults->setObjectName(QStringLiteral("tsResults"));
  pcSearch->addTab(tsResults, QStringLiteral("Results"));
  lvResults = new QTreeView;
  lvResults->setObjectName(QStringLiteral("lvResults"));
  lvResults->setModel(model_);
  lvResults->setRootIsDecorated(false);
  lvResults->setUniformRowHeights(true);
  lvResults->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvResults->setContextMenuPolicy(Qt::CustomContextMenu);
  lvResults->header()->setMinimumSectionSize(0);
  lvResults->header()->setStretchLastSection(false);
  lvResults->setColumnWidth(SearchResultsModel::colKey, 300);
  lvResults->setColumnWidth(SearchResultsModel::colValue, 100);
  lvResults->setColumnWidth(SearchResultsModel::colData, 100);
  auto* layout = new QVBoxLayout(tsResults);
  layout->addWidget(lvResults);
}

void TformSearch::buildReplacePage() {
  tsReplace = new QWidget;
  tsReplace->setObjectName(QStringLiteral("tsReplace"));
  pcSearch->addTab(tsReplace, QStringLiteral("Replace"));
  auto* note = new QLabel(QStringLiteral(
      "Please select the entries that should be included in the replace on the Results tab. Replace will only work "
      "for key and value names and string data."));
  note->setObjectName(QStringLiteral("labelReplaceNote"));
  note->setWordWrap(true);
  auto* sourceLabel = new QLabel(QStringLiteral("Replace this:"));
  editReplaceSource = new QLineEdit;
  editReplaceSource->setObjectName(QStringLiteral("editReplaceSource"));
  auto* newLabel = new QLabel(QStringLiteral("With this Text:"));
  editReplaceNew = new QLineEdit;
  editReplaceNew->setObjectName(QStringLiteral("editReplaceNew"));
  bnReplace = new QPushButton(QStringLiteral("Replace"));
  bnReplace->setObjectName(QStringLiteral("bnReplace"));
  auto* misc = new QGroupBox(QStringLiteral("Miscellaneous options"));
  misc->setObjectName(QStringLiteral("gbReplaceMisc"));
  cbReplaceIgnoreCase = new QCheckBox(QStringLiteral("&Ignore case"));
  cbReplaceIgnoreCase->setObjectName(QStringLiteral("cbReplaceIgnoreCase"));
  cbReplaceOverwriteValues = new QCheckBox(QStringLiteral("Overwrite existing values"));
  cbReplaceOverwriteValues->setObjectName(QStringLiteral("cbReplaceOverwriteValues"));
  cbReplaceOverwriteKeys = new QCheckBox(QStringLiteral("Overwrite existing keys"));
  cbReplaceOverwriteKeys->setObjectName(QStringLiteral("cbReplaceOverwriteKeys"));
  auto* options = new QVBoxLayout(misc);
  options->addWidget(cbReplaceIgnoreCase);
  options->addWidget(cbReplaceOverwriteValues);
  options->addWidget(cbReplaceOverwriteKeys);
  animReplace = new QProgressBar;
  animReplace->setObjectName(QStringLiteral("animReplace"));
  animReplace->setRange(0, 0);
  animReplace->setTextVisible(false);
  animReplace->setMaximumWidth(80);
  animReplace->setVisible(false);

  auto* grid = new QGridLayout(tsReplace);
  grid->addWidget(note, 0, 0, 1, 3);
  grid->addWidget(sourceLabel, 1, 0);
  grid->addWidget(editReplaceSource, 1, 1, 1, 2);
  grid->addWidget(newLabel, 2, 0);
  grid->addWidget(editReplaceNew, 2, 1, 1, 2);
  grid->addWidget(misc, 3, 0, 1, 2);
  grid->addWidget(bnReplace, 3, 2, Qt::AlignTop);
  grid->addWidget(animReplace, 4, 2);
  grid->setRowStretch(5, 1);
  grid->setColumnStretch(1, 1);
}

void TformSearch::buildActions() {
  auto make = [this](const char* name, const char* caption, QKeySequence key = {}) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) {
      action->setShortcut(key);
      action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      addAction(action);
    }
    return action;
  };
  aSearchStart = make("aSearchStart", "Search");
  aReplace = make("aReplace", "Replace");
  aSearchResultsSelectAll = make("aSearchResultsSelectAll", "&Select all", QKeySequence(Qt::CTRL | Qt::Key_A));
  aSearchResultsDeSelectAll = make("aSearchResultsDeSelectAll", "&Deselect all");
  aSearchResultsSelectKeys = make("aSearchResultsSelectKeys", "Select key results");
  aSearchResultsDeSelectKeys = make("aSearchResultsDeSelectKeys", "Deselect key results");
  aSearchResultsSelectValues = make("aSearchResultsSelectValues", "Select value results");
  aSearchResultsDeSelectValues = make("aSearchResultsDeSelectValues", "Deselect value results");
  aSearchResultsSelectData = make("aSearchResultsSelectData", "Select data results");
  aSearchResultsDeSelectData = make("aSearchResultsDeSelectData", "Deselect data results");
  aSearchResultsExportKeyContents =
      make("aSearchResultsExportKeyContents", "Option: Export contents of key results as well");
  aSearchResultsExportKeyContents->setCheckable(true);
  aSearchResultsExportAll = make("aSearchResultsExportAll", "&Export all...", QKeySequence(Qt::CTRL | Qt::Key_S));
  aSearchResultsExportSelected = make("aSearchResultsExportSelected", "Export selected &only...");
  aSearchResultsDeleteSelected = make("aSearchResultsDeleteSelected", "Delete selected");

  pmResults = new QMenu(this);
  pmResults->setObjectName(QStringLiteral("pmResults"));
  pmResults->addActions({aSearchResultsSelectAll, aSearchResultsDeSelectAll});
  pmResults->addSeparator();
  pmResults->addActions({aSearchResultsSelectKeys, aSearchResultsDeSelectKeys, aSearchResultsSelectValues,
                         aSearchResultsDeSelectValues, aSearchResultsSelectData, aSearchResultsDeSelectData});
  pmResults->addSeparator();
  pmResults->addActions({aSearchResultsExportKeyContents, aSearchResultsExportAll, aSearchResultsExportSelected});
  pmResults->addSeparator();
  pmResults->addAction(aSearchResultsDeleteSelected);
}

void TformSearch::connectAll() {
  connect(bnSearch, &QPushButton::clicked, aSearchStart, &QAction::trigger);
  connect(aSearchStart, &QAction::triggered, this, &TformSearch::aSearchStartExecute);
  connect(bnStop, &QPushButton::clicked, this, &TformSearch::bnStopClick);
  connect(bnCancel, &QPushButton::clicked, this, &TformSearch::bnCancelClick);
  connect(bnReplace, &QPushButton::clicked, aReplace, &QAction::trigger);
  connect(aReplace, &QAction::triggered, this, &TformSearch::aReplaceExecute);
  connect(rbRangeKey, &QRadioButton::clicked, this, &TformSearch::rbRangeKeyClick);
  connect(rbRangeComplete, &QRadioButton::clicked, this, &TformSearch::rbRangeCompleteClick);
  connect(cbSearchStyle, &QComboBox::currentIndexChanged, this, &TformSearch::cbSearchStyleChange);
  connect(cbByDateMode, &QComboBox::currentIndexChanged, this, &TformSearch::cbByDateModeChange);
  connect(lvResults, &QTreeView::doubleClicked, this, [this](const QModelIndex& at) { lvResultsDblClick(at.row()); });
  connect(lvResults, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    pmResultsPopup();
    pmResults->popup(lvResults->viewport()->mapToGlobal(at));
  });
  connect(aSearchResultsSelectAll, &QAction::triggered, this, [this] { checkRows({0, 1, 2, 3, 4, 5}, true); });
  connect(aSearchResultsDeSelectAll, &QAction::triggered, this, [this] { checkRows({0, 1, 2, 3, 4, 5}, false); });
  connect(aSearchResultsSelectKeys, &QAction::triggered, this, [this] { checkRows({0, 4, 5}, true); });
  connect(aSearchResultsDeSelectKeys, &QAction::triggered, this, [this] { checkRows({0, 4, 5}, false); });
  connect(aSearchResultsSelectValues, &QAction::triggered, this, [this] { checkRows({1}, true); });
  connect(aSearchResultsDeSelectValues, &QAction::triggered, this, [this] { checkRows({1}, false); });
  connect(aSearchResultsSelectData, &QAction::triggered, this, [this] { checkRows({2, 3}, true); });
  connect(aSearchResultsDeSelectData, &QAction::triggered, this, [this] { checkRows({2, 3}, false); });
  connect(aSearchResultsExportAll, &QAction::triggered, this, &TformSearch::aSearchResultsExportAllExecute);
  connect(aSearchResultsExportSelected, &QAction::triggered, this,
          &TformSearch::aSearchResultsExportSelectedExecute);
  connect(aSearchResultsDeleteSelected, &QAction::triggered, this,
          &TformSearch::aSearchResultsDeleteSelectedExecute);
}

// ---------------------------------------------------------------------------
// Options.

TSearchOptions TformSearch::settings() const {
  TSearchOptions s;
  s.Style = cbSearchStyle->currentIndex();
  s.ForHex = cbHex->isChecked();
  s.Term = qStringToAnsi(editSearchTerm->text());
  s.FocusKeys = cbFocusKeys->isChecked();
  s.FocusValues = cbFocusValues->isChecked();
  s.FocusData = cbFocusData->isChecked();
  s.RangeComplete = rbRangeComplete->isChecked();
  s.IgnoreCase = cbIgnoreCase->isChecked();
  s.HighSpeed = cbHighSpeed->isChecked();
  s.TypeStrings = cbDataTypeStrings->isChecked();
  s.TypeNumerics = cbDataTypeNumerics->isChecked();
  s.TypeBinary = cbDataTypeBinary->isChecked();
  s.ByDateMode = cbByDateMode->currentIndex();
  s.DateTime1 = toDayNumber(dtDate1->date(), dtTime1->time());
  s.DateTime2 = toDayNumber(dtDate2->date(), dtTime2->time());
  s.ReplaceIgnoreCase = cbReplaceIgnoreCase->isChecked();
  s.ReplaceOverwriteValues = cbReplaceOverwriteValues->isChecked();
  s.ReplaceOverwriteKeys = cbReplaceOverwriteKeys->isChecked();
  return s;
}

void TformSearch::setSettings(const TSearchOptions& s) {
  cbSearchStyle->setCurrentIndex(std::clamp(s.Style, 0, cbSearchStyle->count() - 1));
  cbHex->setChecked(s.ForHex);
  editSearchTerm->setText(ansiToQString(s.Term));
  cbFocusKeys->setChecked(s.FocusKeys);
  cbFocusValues->setChecked(s.FocusValues);
  cbFocusData->setChecked(s.FocusData);
  (s.RangeComplete ? rbRangeComplete : rbRangeKey)->setChecked(true);
  cbIgnoreCase->setChecked(s.IgnoreCase);
  cbHighSpeed->setChecked(s.HighSpeed);
  cbDataTypeStrings->setChecked(s.TypeStrings);
  cbDataTypeNumerics->setChecked(s.TypeNumerics);
  cbDataTypeBinary->setChecked(s.TypeBinary);
  cbByDateMode->setCurrentIndex(std::clamp(s.ByDateMode, 0, cbByDateMode->count() - 1));
  for (auto [date, time, value] : {std::tuple{dtDate1, dtTime1, s.DateTime1}, std::tuple{dtDate2, dtTime2, s.DateTime2}}) {
    if (value == 0) continue;
    const QDateTime at = fromDayNumber(value);
    date->setDate(at.date());
    time->setTime(at.time());
  }
  cbReplaceIgnoreCase->setChecked(s.ReplaceIgnoreCase);
  cbReplaceOverwriteValues->setChecked(s.ReplaceOverwriteValues);
  cbReplaceOverwriteKeys->setChecked(s.ReplaceOverwriteKeys);
  cbSearchStyleChange();
  cbByDateModeChange();
}

// ---------------------------------------------------------------------------
// Showing and the criteria controls.

void TformSearch::ShowSearch(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  FRootKey = root;
  FKeyPath = keyPath.isEmpty() ? std::string("\\") : qStringToAnsi(keyPath);
  FView = view;
  pcSearch->setCurrentWidget(tsCriteria);
  if (rbRangeKey->isChecked()) rbRangeKeyClick();
  else rbRangeCompleteClick();
  show();
  raise();
  activateWindow();
}

void TformSearch::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TformSearch::FormShow() {
  pcSearch->setTabVisible(pcSearch->indexOf(tsReplace), model_->count() > 0);
  if (cbSearchStyle->currentIndex() < 0) cbSearchStyle->setCurrentIndex(0);
  if (cbByDateMode->currentIndex() < 0) cbByDateMode->setCurrentIndex(0);
  cbByDateModeChange();
  cbSearchStyleChange();
}

void TformSearch::rbRangeKeyClick() {
  labelSearchRange->setText(
      MessageText(kMsgRangeKey).replace(QStringLiteral("%s"), ansiToQString(RootKeyToLongName(FRootKey) + FKeyPath)));
}

void TformSearch::rbRangeCompleteClick() { labelSearchRange->setText(MessageText(kMsgRangeAll)); }

void TformSearch::cbSearchStyleChange() { cbIgnoreCase->setEnabled(cbSearchStyle->currentIndex() != cmpRegExpr); }

void TformSearch::cbByDateModeChange() {
  const int mode = cbByDateMode->currentIndex();
  const bool first = mode >= sdNewerThan && mode <= sdOutsideOf;
  const bool second = mode == sdBetween || mode == sdOutsideOf;
  dtDate1->setVisible(first);
  dtTime1->setVisible(first);
  dtDate2->setVisible(second);
  dtTime2->setVisible(second);
  labelAnd->setVisible(second);
}

// ---------------------------------------------------------------------------
// The search.

SearchOptions TformSearch::searchOptions() const {
  SearchOptions o;
  o.Keys = cbFocusKeys->isChecked();
  o.Values = cbFocusValues->isChecked();
  o.Data = cbFocusData->isChecked();
  o.Strings = cbDataTypeStrings->isChecked();
  o.Numerics = cbDataTypeNumerics->isChecked();
  o.Binary = cbDataTypeBinary->isChecked();
  o.IgnoreCase = cbIgnoreCase->isChecked();
  o.HighSpeed = cbHighSpeed->isChecked();
  o.CompareMode = static_cast<std::uint8_t>(FCompareMode);
  o.DateMode = static_cast<TSearchDateMode>(std::max(0, cbByDateMode->currentIndex()));
  o.Date1 = toDayNumber(dtDate1->date(), dtTime1->time());
  o.Date2 = toDayNumber(dtDate2->date(), dtTime2->time());
  const QString status = MessageText(36);
  if (!status.isEmpty()) o.StatusFormat = qStringToAnsi(status);
  return o;
}

void TformSearch::setBusy(bool busy, QProgressBar* anim) {
  anim->setVisible(busy);
  if (anim == animSearch && mainForm_ && mainForm_->animSearch) mainForm_->animSearch->setVisible(busy);
}

void TformSearch::aSearchStartExecute() {
  if (searching_) return;
  if (cbHex->isChecked()) {
    static const QRegularExpression hexTerm(QStringLiteral("^([0-9a-fA-F][0-9a-fA-F][ ]?)+$"));
    if (!hexTerm.match(editSearchTerm->text()).hasMatch()) {
      messageBoxes().messageDlg(this, QStringLiteral("Please enter a valid hex term first!"), jmError,
                                buttonBit(cbOK));
      editSearchTerm->setFocus();
      return;
    }
  }
  searching_ = true;
  setBusy(true, animSearch);
  FCompareMode = std::max(0, cbSearchStyle->currentIndex());
  const bool highSpeed = cbHighSpeed->isChecked();
  if (highSpeed) QApplication::setOverrideCursor(Qt::WaitCursor);
  QElapsedTimer elapsed;
  elapsed.start();
  FStopRequested = false;
  failure_.clear();
  model_->clear();

  std::string term = qStringToAnsi(editSearchTerm->text());
  if (cbHex->isChecked()) {
    term.erase(std::remove(term.begin(), term.end(), ' '), term.end());
    term = HexToBytes(term, false);
  }

  lvResults->setColumnWidth(SearchResultsModel::colData, cbFocusData->isChecked() ? 100 : 0);
  lvResults->setColumnWidth(SearchResultsModel::colValue,
                            cbFocusValues->isChecked() || cbFocusData->isChecked() ? 100 : 0);
  bnStop->setEnabled(true);
  bnSearch->setEnabled(false);
  pcSearch->setCurrentWidget(tsResults);
  if (highSpeed) sbar->showMessage(MessageText(kMsgPatience));
  sinceFlush_.start();
  sinceEvents_.invalidate();
  pendingStatus_.clear();

  const SearchOptions options = searchOptions();
  if (rbRangeKey->isChecked()) {
    RunSearch(*this, options, FRootKey, FKeyPath, FView, 0, term);
  } else {
    // HKEY_CLASSES_ROOT and HKEY_CURRENT_USER lie inside these roots.
    for (platform::HKEY root : {platform::HKEY_LOCAL_MACHINE, platform::HKEY_USERS, platform::HKEY_PERFORMANCE_DATA,
                                platform::HKEY_CURRENT_CONFIG, platform::HKEY_DYN_DATA}) {
      if (FStopRequested || !failure_.empty()) break;
      RunSearch(*this, options, root, "\\", rvDefault, 0, term);
    }
  }
  model_->flush();

  const QString time = QTime(0, 0).addMSecs(static_cast<int>(elapsed.elapsed())).toString(QStringLiteral("HH:mm:ss"));
  QString status;
  if (FStopRequested) status = MessageText(kMsgStopped);
  else if (!failure_.empty()) status = ansiToQString(failure_);
  else status = MessageText(kMsgFinished).replace(QStringLiteral("%d"), QString::number(model_->count()));
  sbar->showMessage(status + QStringLiteral(" (") + time + u')');

  bnStop->setEnabled(false);
  bnSearch->setEnabled(true);
  if (highSpeed) QApplication::restoreOverrideCursor();
  setBusy(false, animSearch);
  editReplaceSource->setText(editSearchTerm->text());
  editReplaceNew->clear();
  pcSearch->setTabVisible(pcSearch->indexOf(tsReplace), model_->count() > 0);
  searching_ = false;
}

void TformSearch::AddResult(TSearchListItem item) { model_->addPending(std::move(item)); }

// The engine sets the status and asks for event processing once per key; a
// hive has tens of thousands of keys, and a repaint per key would cost the
// search many times its own time. So the latest status waits here and is
// shown, with the events handled, a few dozen times a second.
void TformSearch::SetStatusText(const std::string& text) { pendingStatus_ = text; }

void TformSearch::ProcessMessages() {
  if (sinceEvents_.isValid() && sinceEvents_.elapsed() < kEventMilliseconds) return;
  sinceEvents_.start();
  if (sinceFlush_.elapsed() >= kFlushMilliseconds) {
    model_->flush();
    sinceFlush_.restart();
  }
  if (!pendingStatus_.empty()) sbar->showMessage(ansiToQString(pendingStatus_));
  QCoreApplication::processEvents();
}

void TformSearch::SearchFailed(const std::string& message) { failure_ = message; }

void TformSearch::bnStopClick() { FStopRequested = true; }

void TformSearch::bnCancelClick() {
  FStopRequested = true;
  close();
}

QString TformSearch::statusText() const { return sbar->currentMessage(); }

void TformSearch::lvResultsDblClick(int row) {
  if (!mainForm_ || row < 0 || row >= model_->count()) return;
  const TSearchListItem& item = model_->item(row);
  const QString caption = ansiToQString(item.Caption);
  const bool isValue = !item.SubItem1.empty();
  const QString name = ansiToQString(item.ValueName);
  mainForm_->JumpToPath(caption);
  if (isValue) {
    mainForm_->SelectValueByName(name);
    mainForm_->lvData->setFocus();
  }
}

// ---------------------------------------------------------------------------
// The result menu.

void TformSearch::pmResultsPopup() {
  const bool any = model_->count() > 0;
  aSearchResultsExportAll->setEnabled(any);
  aSearchResultsExportSelected->setEnabled(any);
  bool checked = false;
  for (int r = 0; r < model_->count() && !checked; ++r) checked = model_->item(r).Checked;
  aSearchResultsDeleteSelected->setEnabled(checked);
}

void TformSearch::checkRows(std::initializer_list<int> images, bool checked) {
  for (int r = 0; r < model_->count(); ++r)
    if (std::find(images.begin(), images.end(), model_->item(r).ImageIndex) != images.end())
      model_->setChecked(r, checked);
}

void TformSearch::aSearchResultsExportAllExecute() { exportWithDialog(false); }
void TformSearch::aSearchResultsExportSelectedExecute() { exportWithDialog(true); }

void TformSearch::exportWithDialog(bool checkedOnly) {
  const QString file = prompter().saveFileName(this, QStringLiteral("Export"),
                                               QStringLiteral("Win 9x/NT4 registry files (v4) (*.reg)"),
                                               QStringLiteral("reg"));
  if (file.isEmpty()) return;
  try {
    ExportResults(file, checkedOnly);
  } catch (const std::exception& e) {
    messageBoxes().messageDlg(this, QString::fromLocal8Bit(e.what()), jmError, buttonBit(cbOK));
  }
}

QString TformSearch::exportHeader() const {
  QStringList lines;
  lines << QStringLiteral("Search results from ") + shownDateTime(QDateTime::currentDateTime());
  lines << plainCaption(labelSearchStyle->text()) + u' ' + cbSearchStyle->currentText();
  lines << plainCaption(labelSearchFor->text()) + u' ' + editSearchTerm->text();
  const int mode = cbByDateMode->currentIndex();
  QString date = plainCaption(labelByDate->text()) + u' ' + cbByDateMode->currentText() + u' ';
  if (mode >= sdNewerThan && mode <= sdOutsideOf) date += shownDateTime(QDateTime(dtDate1->date(), dtTime1->time()));
  if (mode == sdBetween || mode == sdOutsideOf)
    date += u' ' + plainCaption(labelAnd->text()) + u' ' + shownDateTime(QDateTime(dtDate2->date(), dtTime2->time()));
  lines << date;
  auto joined = [](std::initializer_list<QCheckBox*> boxes) {
    QStringList names;
    for (QCheckBox* box : boxes)
      if (box->isChecked()) names << plainCaption(box->text());
    return names.join(QStringLiteral(", "));
  };
  lines << plainCaption(gbFocus->title()) + QStringLiteral(": ") + joined({cbFocusKeys, cbFocusValues, cbFocusData});
  lines << plainCaption(gbDataTypes->title()) + QStringLiteral(": ") +
               joined({cbDataTypeStrings, cbDataTypeNumerics, cbDataTypeBinary});
  lines << plainCaption(gbRange->title()) + QStringLiteral(": ") +
               (rbRangeKey->isChecked() ? ansiToQString(RootKeyToLongName(FRootKey) + FKeyPath)
                                        : plainCaption(rbRangeComplete->text()));
  if (cbIgnoreCase->isChecked()) lines << plainCaption(cbIgnoreCase->text());
  QString text;
  for (const QString& line : lines) text += QStringLiteral("; ") + line + QStringLiteral("\r\n");
  return text;
}

void TformSearch::ExportResults(const QString& fileName, bool checkedOnly) {
  std::string out = "REGEDIT4\r\n\r\n";
  out += qStringToAnsi(exportHeader());
  const bool contents = aSearchResultsExportKeyContents->isChecked();
  for (int r = 0; r < model_->count(); ++r) {
    const TSearchListItem& item = model_->item(r);
    if (checkedOnly && !item.Checked) continue;
    const std::string caption = dropTrailingBackslash(item.Caption);
    const std::string keyPath = dropTrailingBackslash(item.KeyPath);
    if (isKeyImage(item.ImageIndex)) {
      if (contents) ExportRegistryKey(item.RootKey, keyPath, out, false, Is64Flag::no);
      else out += "\r\n[" + caption + "]\r\n";
    } else {
      ExportRegistryValue(item.RootKey, keyPath, item.ValueName, out, false, Is64Flag::no);
    }
  }
  // A "REGEDIT4" file is in the Windows code page, as the reader takes it.
  out = RegFile4Bytes(out);
  QFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size()))
    throw std::runtime_error("Cannot create file \"" + fileName.toStdString() + "\". " +
                             file.errorString().toStdString());
}

// ---------------------------------------------------------------------------
// Delete and replace.

void TformSearch::aSearchResultsDeleteSelectedExecute() {
  if (messageBoxes().messageDlg(this, QStringLiteral("Are you sure you want to delete the selected search results?"),
                                jmConfirmation, buttonBit(cbYes) | buttonBit(cbNo)) != mrYes)
    return;
  for (int r = model_->count() - 1; r >= 0; --r) {
    const TSearchListItem& item = model_->item(r);
    if (!item.Checked) continue;
    if (holdsNul(item)) {
      model_->setFailed(r);
      continue;
    }
    const ViewByte view = viewByteOf(item);
    bool gone;
    if (isKeyImage(item.ImageIndex))
      gone = DeleteRegistryKey(item.RootKey, item.KeyPath, view) || !RegistryKeyExists(item.RootKey, item.KeyPath, view);
    else
      gone = DeleteRegistryValue(item.RootKey, item.KeyPath, item.ValueName, view) ||
             !RegistryValueExists(item.RootKey, item.KeyPath, item.ValueName, view);
    if (gone) model_->removeRow(r);
    else model_->setFailed(r);
  }
}

// One row's replace: the occurrences replaced once the new name or text is
// written, else 0. A failed rename or write marks the row and keeps it.
int TformSearch::replaceInRow(int row) {
  TSearchListItem& item = model_->item(row);
  const QString from = editReplaceSource->text();
  const QString to = editReplaceNew->text();
  const bool ignoreCase = cbReplaceIgnoreCase->isChecked();
  if (holdsNul(item)) {
    model_->setFailed(row);
    return 0;
  }
  int found = 0;
  bool done = false;
  try {
    if (item.ImageIndex == siValueName) {
      QString name = ansiToQString(item.ValueName);
      if ((found = ReplaceOccurrences(name, from, to, ignoreCase)) == 0) return 0;
      done = RenameRegistryValue(item.RootKey, item.KeyPath, item.ValueName, cbReplaceOverwriteValues->isChecked(),
                                 qStringToAnsi(name), bitnessOf(item));
    } else if (item.ImageIndex == siData || item.ImageIndex == siStringData) {
      if (item.DataType != rdString && item.DataType != rdExpandString && item.DataType != rdMultiString) return 0;
      std::string current;
      if (!ReadRegistryString(item.RootKey, item.KeyPath, item.ValueName, bitnessOf(item), current)) {
        model_->setFailed(row);
        return 0;
      }
      QString text = ansiToQString(current);
      if ((found = ReplaceOccurrences(text, from, to, ignoreCase)) == 0) return 0;
      done = WriteRegistryStringOfKind(item.RootKey, item.KeyPath, item.ValueName, bitnessOf(item), item.DataType,
                                       qStringToAnsi(text));
    } else {
      const std::size_t slash = item.KeyPath.rfind('\\');
      const std::string parent = slash == std::string::npos ? std::string() : item.KeyPath.substr(0, slash + 1);
      QString name = ansiToQString(item.KeyPath.substr(parent.size()));
      if ((found = ReplaceOccurrences(name, from, to, ignoreCase)) == 0) return 0;
      done = RenameRegistryKey(item.RootKey, item.KeyPath, parent + qStringToAnsi(name),
                               cbReplaceOverwriteKeys->isChecked(), bitnessOf(item));
    }
  } catch (...) {
    done = false;
  }
  if (!done) {
    model_->setFailed(row);
    return 0;
  }
  model_->removeRow(row);
  return found;
}

void TformSearch::aReplaceExecute() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setBusy(true, animReplace);
  int count = 0;
  // Keys last, deepest view first: renaming a key first would leave the
  // paths of the rows below it pointing nowhere.
  for (int image : {siKey64, siKey32, siStringData, siData, siValueName, siKey}) {
    for (int r = model_->count() - 1; r >= 0; --r) {
      const TSearchListItem& item = model_->item(r);
      if (!item.Checked || item.ImageIndex != image) continue;
      count += replaceInRow(r);
    }
  }
  sbar->showMessage(MessageText(kMsgReplaced).replace(QStringLiteral("%s"), QString::number(count)));
  setBusy(false, animReplace);
  QApplication::restoreOverrideCursor();
  pcSearch->setCurrentWidget(tsResults);
}
