#include "crashreport/qt/zebDetailsView.h"

#include <QAbstractTableModel>
#include <QFontDatabase>
#include <QHeaderView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "crashreport/qt/zebCrashUiText.h"

namespace zeb {

QColor ReportColour(std::uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

namespace {

bool IsHeading(const TItem& item) { return item.text.rfind(">>", 0) == 0; }

// The rows of one page; heading rows span the table and are never selected.
class DetailPageModel : public QAbstractTableModel {
public:
  DetailPageModel(const DetailPage& page, QObject* parent) : QAbstractTableModel(parent), page_(page) {
    for (const TItem& item : page_.items) cells_.push_back(RowCells(page_, item));
  }

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(page_.items.size()); }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : int(std::max<std::size_t>(page_.columns.size(), 1));
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || std::size_t(index.row()) >= page_.items.size()) return {};
    const TItem& item = page_.items[std::size_t(index.row())];
    const int column = index.column();
    const bool heading = IsHeading(item);
    switch (role) {
      case Qt::DisplayRole:
        if (heading) return column == 0 ? CrashUiText(item.text.size() > 3 ? item.text.substr(3) : std::string()) : QString();
        return std::size_t(column) < cells_[std::size_t(index.row())].size()
                   ? CrashUiText(cells_[std::size_t(index.row())][std::size_t(column)])
                   : QString();
      case Qt::BackgroundRole: {
        if (item.colour != 0) return ReportColour(item.colour);
        if (column % 2 == 1 || columnCount({}) == 1) return QColor(Qt::white);
        return ReportColour(column % 4 == 0 ? kRowPlus : kRowBang);
      }
      case Qt::ForegroundRole:
        if (heading && !item.groupStart) return QColor(0x60, 0x60, 0x60);
        return QColor(Qt::black);
      case Qt::FontRole:
        if (heading && item.groupStart) {
          QFont bold;
          if (page_.fixedPitch) bold = QFontDatabase::systemFont(QFontDatabase::FixedFont);
          bold.setBold(true);
          return bold;
        }
        return {};
      case Qt::TextAlignmentRole:
        if (!heading && std::size_t(column) < page_.columns.size() && page_.columns[std::size_t(column)].alignment == 1)
          return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
      default:
        return {};
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (std::size_t(section) < page_.columns.size()) return CrashUiText(page_.columns[std::size_t(section)].caption);
    return QString();
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    const TItem& item = page_.items[std::size_t(index.row())];
    if (item.colour == kRowWhite) return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }

private:
  DetailPage page_;
  std::vector<std::vector<std::string>> cells_;
};

// Draws the rows as the report reads best: the row colours (a shade darker
// when selected, with a grey frame), a light line under each block, heading
// rows across the table, bold with a line when they start a group.
class DetailRowDelegate : public QStyledItemDelegate {
public:
  DetailRowDelegate(const DetailPage& page, QObject* parent) : QStyledItemDelegate(parent), page_(page) {}

  // Room for the insets the cells are drawn with.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += 10;
    return size;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const std::size_t row = std::size_t(index.row());
    if (row >= page_.items.size()) return;
    const TItem& item = page_.items[row];
    const bool selected = (option.state & QStyle::State_Selected) && item.colour != kRowWhite;
    const bool lastColumn = index.column() + 1 >= index.model()->columnCount();
    QColor fill = index.data(Qt::BackgroundRole).value<QColor>();
    if (selected) fill = QColor(std::max(fill.red() - 16, 0), std::max(fill.green() - 16, 0), std::max(fill.blue() - 16, 0));
    painter->save();
    painter->fillRect(option.rect, fill);
    const QRect r = option.rect;
    if (IsHeading(item)) {
      QFont font = option.font;
      font.setBold(item.groupStart);
      painter->setFont(font);
      painter->setPen(item.groupStart ? QColor(Qt::black) : QColor(0x60, 0x60, 0x60));
      painter->drawText(r.adjusted(6, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, r.width() - 10));
      if (item.groupStart) painter->fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 2), selected ? QColor(0xA0, 0xA0, 0xA0) : QColor(0xC0, 0xC0, 0xC0));
      painter->restore();
      return;
    }
    if (selected) {
      painter->setPen(QColor(0xB0, 0xB0, 0xB0));
      painter->drawLine(r.topLeft(), r.topRight());
      painter->drawLine(r.bottomLeft(), r.bottomRight());
      if (index.column() == 0) painter->drawLine(r.topLeft(), r.bottomLeft());
      if (lastColumn) painter->drawLine(r.topRight(), r.bottomRight());
    } else if (row + 1 >= page_.items.size() || !page_.items[row + 1].groupStart) {
      painter->setPen(QColor(0xE0, 0xE0, 0xE0));
      painter->drawLine(r.bottomLeft(), r.bottomRight());
    }
    const QString text = index.data().toString();
    // A path keeps its ends; anything else its beginning.
    const bool path = text.size() >= 3 && ((text[0].isLetter() && text[1] == ':' && text[2] == '\\') || text[0] == '/');
    const QRect textRect = r.adjusted(index.column() == 0 ? 6 : 4, 0, -4, 0);
    painter->setPen(Qt::black);
    const int align = index.data(Qt::TextAlignmentRole).toInt();
    painter->drawText(textRect, align, option.fontMetrics.elidedText(text, path ? Qt::ElideMiddle : Qt::ElideRight, textRect.width()));
    painter->restore();
  }

private:
  DetailPage page_;
};

}  // namespace

TDetailsView::TDetailsView(QWidget* parent) : QTabWidget(parent) {
  setObjectName(QStringLiteral("tabControl"));
  connect(this, &QTabWidget::currentChanged, this, [this](int) { ShowCurrentTab(); });
}

void TDetailsView::SetReport(const CrashUiReport& report) {
  report_ = report;
  SyncTabs();
  ShowCurrentTab();
}

void TDetailsView::SyncTabs() {
  const std::vector<std::string> wanted = WantedDetailTabs(report_.sections);
  auto isWanted = [&](const QString& name) {
    return std::find(wanted.begin(), wanted.end(), name.toStdString()) != wanted.end();
  };
  const QSignalBlocker blocker(this);
  for (int k = count() - 1; k >= 0; --k) {
    if (isWanted(tabText(k))) continue;
    QWidget* page = widget(k);
    if (view_ && view_->parent() == page) view_ = nullptr, shownTab_ = -1;
    removeTab(k);
    delete page;
  }
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const QString name = QString::fromStdString(wanted[k]);
    bool present = false;
    for (int t = 0; t < count() && !present; ++t) present = tabText(t) == name;
    if (present) continue;
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(3, 3, 3, 3);
    insertTab(int(k), page, name);
  }
}

void TDetailsView::ShowCurrentTab() {
  const int tab = currentIndex();
  const DetailTabText text = DetailTabTextOf(tab, report_);
  if (tab == shownTab_ && view_ && text.text == shownText_) return;
  if (view_) {
    view_->deleteLater();
    view_->hide();
    view_ = nullptr;
  }
  shownTab_ = tab;
  shownText_ = text.text;
  page_ = DetailPage{};
  if (tab < 0) return;
  page_ = ParseDetailPage(tab, text.sectionName, text.text);
  QWidget* container = widget(tab);
  if (!container) return;
  if (page_.IsList()) {
    auto* table = new QTableView(container);
    table->setObjectName(QStringLiteral("detailsList"));
    table->setModel(new DetailPageModel(page_, table));
    table->setItemDelegate(new DetailRowDelegate(page_, table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionsClickable(false);
    table->horizontalHeader()->setVisible(page_.columnHeaders);
    table->horizontalHeader()->setStretchLastSection(true);
    if (page_.fixedPitch) table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->verticalHeader()->setDefaultSectionSize(std::max(table->fontMetrics().height() + 3, 16));
    for (std::size_t row = 0; row < page_.items.size(); ++row)
      if (IsHeading(page_.items[row]) && page_.columns.size() > 1)
        table->setSpan(int(row), 0, 1, int(page_.columns.size()));
    table->resizeColumnsToContents();
    view_ = table;
  } else {
    auto* edit = new QPlainTextEdit(container);
    edit->setObjectName(QStringLiteral("detailsText"));
    edit->setReadOnly(true);
    edit->setPlainText(CrashUiText(text.text));
    view_ = edit;
  }
  container->layout()->addWidget(view_);
  view_->show();
}

QString TDetailsView::CellText(int row, int column) const {
  auto* table = qobject_cast<QTableView*>(view_);
  if (!table) return {};
  return table->model()->index(row, column).data().toString();
}

}  // namespace zeb
