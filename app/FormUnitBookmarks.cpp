#include "app/FormUnitBookmarks.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

#include "app/DataImages.h"
#include "app/FormUnitMain.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "platform/AtomicFile.h"

namespace {

constexpr int kKeyPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
// The images of the main window's list a menu entry shows.
constexpr int kMenuFolderImage = 1;
constexpr int kMenuBookmarkImage = 8;
const char* const kDragFormat = "application/x-hivescope-bookmark";

QString fromWide(const std::u16string& s) { return QString::fromStdU16String(s); }

QMenu* folderOf(const QAction* action) { return action->menu<QMenu*>(); }

std::vector<QTreeWidgetItem*> takeChildren(QTreeWidget* tree, QTreeWidgetItem* folder) {
  std::vector<QTreeWidgetItem*> out;
  if (folder) {
    while (folder->childCount() > 0) out.push_back(folder->takeChild(0));
  } else {
    while (tree->topLevelItemCount() > 0) out.push_back(tree->takeTopLevelItem(0));
  }
  return out;
}

}  // namespace

int GroupIndex(const QAction* action) { return action->property("groupIndex").toInt(); }

void SetGroupIndex(QAction* action, int index) { action->setProperty("groupIndex", index); }

TBookmarkMenuItem::TBookmarkMenuItem(const QString& caption, const QString& keyPath, QObject* parent)
    : QAction(caption, parent), KeyPath(keyPath) {}

// ---------------------------------------------------------------------------
// The menu and the file

TBookmarkMenuItem* TformBookmarks::newMenuBookmark(QMenu* menu, QAction* before, const QString& caption,
                                                   const QString& keyPath) {
  auto* item = new TBookmarkMenuItem(caption, keyPath, menu);
  SetGroupIndex(item, kBookmarkGroupIndex);
  item->setProperty("imageIndex", kMenuBookmarkImage);
  item->setIcon(dataImage(kMenuBookmarkImage));
  connect(item, &QAction::triggered, this, [this, item] {
    if (OnBookmarkClick) OnBookmarkClick(item);
  });
  menu->insertAction(before, item);
  return item;
}

QMenu* TformBookmarks::newMenuFolder(QMenu* menu, QAction* before, const QString& caption) {
  auto* folder = new QMenu(caption, menu);
  QAction* action = folder->menuAction();
  SetGroupIndex(action, kBookmarkGroupIndex);
  action->setProperty("imageIndex", kMenuFolderImage);
  folder->setIcon(dataImage(kMenuFolderImage));
  menu->insertMenu(before, folder);
  return folder;
}

void TformBookmarks::insertEntries(QMenu* menu, const std::vector<BookmarkEntry>& entries) {
  for (const BookmarkEntry& e : entries) {
    QAction* first = menu->actions().value(0);
    if (e.folder)
      insertEntries(newMenuFolder(menu, first, fromWide(e.caption)), e.entries);
    else
      newMenuBookmark(menu, first, fromWide(e.caption), fromWide(e.keyPath));
  }
}

std::vector<BookmarkEntry> TformBookmarks::MenuEntries(const QMenu* menu) {
  std::vector<BookmarkEntry> out;
  const QList<QAction*> actions = menu->actions();
  for (auto it = actions.crbegin(); it != actions.crend(); ++it) {
    const QAction* a = *it;
    if (GroupIndex(a) >= kFixedGroupIndex) continue;
    if (const QMenu* folder = folderOf(a)) {
      out.push_back(BookmarkEntry{true, a->text().toStdU16String(), {}, MenuEntries(folder)});
    } else if (const auto* item = qobject_cast<const TBookmarkMenuItem*>(a)) {
      out.push_back(BookmarkEntry{false, a->text().toStdU16String(), item->KeyPath.toStdU16String(), {}});
    }
  }
  return out;
}

void TformBookmarks::LoadFromFile(const std::filesystem::path& fileName, QMenu* menu) {
  if (!menu) return;
  QFile file(QString::fromStdString(fileName.string()));
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.readAll();
  insertEntries(menu, ParseBookmarkFile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

int TformBookmarks::SaveToFile(const std::filesystem::path& fileName, QMenu* menu) const {
  if (!menu) return EINVAL;
  const std::string text = BookmarkFileText(MenuEntries(menu));
  return platform::writeFileAtomically(fileName, std::as_bytes(std::span(text.data(), text.size())), 0600);
}

void TformBookmarks::ClearMenu(QMenu* menu) {
  if (!menu) return;
  for (QAction* a : menu->actions()) {
    if (GroupIndex(a) >= kFixedGroupIndex) continue;
    if (QMenu* folder = folderOf(a); folder && folder->parent() == menu)
      delete folder;  // its entry and its content go with it
    else if (a->parent() == menu)
      delete a;
    else
      menu->removeAction(a);
  }
}

QWidget* TformBookmarks::promptParent() { return isVisible() || !parentWidget() ? this : parentWidget(); }

bool TformBookmarks::AddBookmark(QMenu* menu, const QString& keyPath) {
  if (!menu) return false;
  QString caption = MessageText(msgBookmarkItemDefaultName);
  if (!prompter().inputQuery(promptParent(), MessageText(msgBookmarkItemAddTitle),
                             MessageText(msgBookmarkItemAddCaption), caption))
    return false;
  newMenuBookmark(menu, menu->actions().value(0), caption, keyPath);
  FLastPath = keyPath;
  return true;
}

// ---------------------------------------------------------------------------
// The manager window

TformBookmarks::TformBookmarks(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formBookmarks"));
  setWindowTitle(QStringLiteral("Bookmarks"));
  setModal(true);
  createLayout();
  resize(520, 420);
}

QAction* TformBookmarks::makeAction(const char* name, const QString& caption, void (TformBookmarks::*handler)()) {
  auto* a = new QAction(caption, this);
  a->setObjectName(QString::fromLatin1(name));
  // The buttons show the icon text, which would otherwise lose the "...".
  a->setIconText(caption);
  connect(a, &QAction::triggered, this, handler);
  return a;
}

void TformBookmarks::createLayout() {
  aAddBookmark = makeAction("aAddBookmark", QStringLiteral("Add bookmark..."), &TformBookmarks::aAddBookmarkExecute);
  aRenameBookmark =
      makeAction("aRenameBookmark", QStringLiteral("Rename bookmark..."), &TformBookmarks::aRenameBookmarkExecute);
  aDeleteBookmark =
      makeAction("aDeleteBookmark", QStringLiteral("Delete bookmark"), &TformBookmarks::aDeleteBookmarkExecute);
  aAddFolder = makeAction("aAddFolder", QStringLiteral("Add folder..."), &TformBookmarks::aAddFolderExecute);
  aRenameFolder = makeAction("aRenameFolder", QStringLiteral("Rename folder..."), &TformBookmarks::aRenameFolderExecute);
  aDeleteFolder = makeAction("aDeleteFolder", QStringLiteral("Delete folder"), &TformBookmarks::aDeleteFolderExecute);
  aSortOneLevel = makeAction("aSortOneLevel", QStringLiteral("Sort one level"), &TformBookmarks::aSortOneLevelExecute);
  aSortRecursive =
      makeAction("aSortRecursive", QStringLiteral("Sort recursive"), &TformBookmarks::aSortRecursiveExecute);
  aExportOneLevel =
      makeAction("aExportOneLevel", QStringLiteral("Export one level"), &TformBookmarks::aExportOneLevelExecute);
  aExportRecursive =
      makeAction("aExportRecursive", QStringLiteral("Export recursive"), &TformBookmarks::aExportRecursiveExecute);
  for (QAction* a : {aRenameBookmark, aDeleteBookmark, aRenameFolder, aDeleteFolder}) a->setEnabled(false);
  aAddBookmark->setIcon(dataImage(kMenuBookmarkImage));
  aAddFolder->setIcon(dataImage(kMenuFolderImage));

  tvBookmarks = new TBookmarkTree(*this, this);
  tvBookmarks->setObjectName(QStringLiteral("tvBookmarks"));
  tvBookmarks->setHeaderHidden(true);
  tvBookmarks->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvBookmarks->setSelectionMode(QAbstractItemView::SingleSelection);
  tvBookmarks->setContextMenuPolicy(Qt::CustomContextMenu);

  pmBookmarks = new QMenu(this);
  pmBookmarks->setObjectName(QStringLiteral("pmBookmarks"));
  pmBookmarks->addActions({aAddBookmark, aRenameBookmark, aDeleteBookmark});
  pmBookmarks->addSeparator();
  pmBookmarks->addActions({aAddFolder, aRenameFolder, aDeleteFolder});
  pmBookmarks->addSeparator();
  pmBookmarks->addActions({aSortOneLevel, aSortRecursive});
  pmBookmarks->addSeparator();
  pmBookmarks->addActions({aExportOneLevel, aExportRecursive});

  // One button per action, in the pop-up menu's groups.
  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(3);
  const std::vector<std::vector<QAction*>> groups{{aAddBookmark, aRenameBookmark, aDeleteBookmark},
                                                  {aAddFolder, aRenameFolder, aDeleteFolder},
                                                  {aSortOneLevel, aSortRecursive},
                                                  {aExportOneLevel, aExportRecursive}};
  for (const auto& group : groups) {
    for (QAction* a : group) {
      auto* b = new QToolButton(this);
      b->setObjectName(QStringLiteral("bn") + a->objectName().mid(1));
      b->setDefaultAction(a);
      b->setToolButtonStyle(Qt::ToolButtonTextOnly);
      b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
      buttons->addWidget(b);
    }
    buttons->addSpacing(8);
  }
  buttons->addStretch(1);

  bnOK = new QPushButton(QStringLiteral("OK"), this);
  bnOK->setObjectName(QStringLiteral("bnOK"));
  bnOK->setDefault(true);
  bnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  bnCancel->setObjectName(QStringLiteral("bnCancel"));
  auto* closing = new QHBoxLayout;
  closing->addStretch(1);
  closing->addWidget(bnOK);
  closing->addWidget(bnCancel);

  sbStatus = new QStatusBar(this);
  sbStatus->setObjectName(QStringLiteral("sbStatus"));
  sbStatus->setSizeGripEnabled(false);

  auto* body = new QHBoxLayout;
  body->addWidget(tvBookmarks, 1);
  body->addLayout(buttons);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(8, 8, 8, 0);
  outer->addLayout(body, 1);
  outer->addLayout(closing);
  outer->addWidget(sbStatus);

  connect(bnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tvBookmarks, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { tvBookmarksChange(current); });
  connect(tvBookmarks, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    // A right click selects the node under the mouse first.
    if (QTreeWidgetItem* node = tvBookmarks->itemAt(pos)) tvBookmarks->setCurrentItem(node);
    pmBookmarks->popup(tvBookmarks->viewport()->mapToGlobal(pos));
  });
}

bool TformBookmarks::IsBookmarkNode(const QTreeWidgetItem* node) {
  return node && !node->data(0, kFolderRole).toBool();
}

QString TformBookmarks::NodeKeyPath(const QTreeWidgetItem* node) {
  return node ? node->data(0, kKeyPathRole).toString() : QString();
}

QTreeWidgetItem* TformBookmarks::TargetFolder(QTreeWidgetItem* node) {
  while (node && node->parent() && IsBookmarkNode(node)) node = node->parent();
  return IsBookmarkNode(node) ? nullptr : node;
}

QTreeWidgetItem* TformBookmarks::newNode(QTreeWidgetItem* parent, bool folder, const QString& caption,
                                         const QString& keyPath, int position) {
  auto* node = new QTreeWidgetItem;
  node->setText(0, caption);
  node->setData(0, kFolderRole, folder);
  if (folder) {
    node->setIcon(0, dataNodeIcon(1, 2));
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
  } else {
    node->setIcon(0, dataImage(kMenuBookmarkImage));
    node->setData(0, kKeyPathRole, keyPath);
    node->setToolTip(0, keyPath);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
  }
  const int count = parent ? parent->childCount() : tvBookmarks->topLevelItemCount();
  if (position < 0 || position > count) position = count;
  if (parent)
    parent->insertChild(position, node);
  else
    tvBookmarks->insertTopLevelItem(position, node);
  return node;
}

void TformBookmarks::addMenuToTree(const QMenu* menu, QTreeWidgetItem* parent) {
  for (const QAction* a : menu->actions()) {
    if (GroupIndex(a) >= kFixedGroupIndex) continue;
    if (const QMenu* folder = folderOf(a))
      addMenuToTree(folder, newNode(parent, true, a->text(), {}));
    else if (const auto* item = qobject_cast<const TBookmarkMenuItem*>(a))
      newNode(parent, false, a->text(), item->KeyPath);
  }
}

void TformBookmarks::addTreeToMenu(QTreeWidgetItem* parent, QMenu* menu, QAction* before) {
  const int count = parent ? parent->childCount() : tvBookmarks->topLevelItemCount();
  for (int i = 0; i < count; ++i) {
    QTreeWidgetItem* node = parent ? parent->child(i) : tvBookmarks->topLevelItem(i);
    if (IsBookmarkNode(node))
      newMenuBookmark(menu, before, node->text(0), NodeKeyPath(node));
    else
      addTreeToMenu(node, newMenuFolder(menu, before, node->text(0)), nullptr);
  }
}

bool TformBookmarks::Manage(QMenu* menu) {
  if (!menu) return false;
  tvBookmarks->setUpdatesEnabled(false);
  tvBookmarks->clear();
  addMenuToTree(menu, nullptr);
  tvBookmarks->setUpdatesEnabled(true);
  tvBookmarksChange(nullptr);
  for (QAction* a : {aRenameBookmark, aDeleteBookmark, aRenameFolder, aDeleteFolder}) a->setEnabled(false);
  FDragNode = nullptr;
  if (exec() != QDialog::Accepted) return false;
  ClearMenu(menu);
  addTreeToMenu(nullptr, menu, menu->actions().value(0));
  return true;
}

void TformBookmarks::tvBookmarksChange(QTreeWidgetItem* node) {
  sbStatus->showMessage(IsBookmarkNode(node) ? NodeKeyPath(node) : QString());
  if (!node) return;
  const bool bookmark = IsBookmarkNode(node);
  aRenameBookmark->setEnabled(bookmark);
  aDeleteBookmark->setEnabled(bookmark);
  aRenameFolder->setEnabled(!bookmark);
  aDeleteFolder->setEnabled(!bookmark);
}

void TformBookmarks::aAddBookmarkExecute() {
  QString caption = MessageText(msgBookmarkItemDefaultName);
  if (!prompter().inputQuery(this, MessageText(msgBookmarkItemAddTitle), MessageText(msgBookmarkItemAddCaption),
                             caption))
    return;
  QString keyPath = FLastPath;
  if (!prompter().inputQuery(this, MessageText(msgBookmarkItemAddLocationTitle),
                             MessageText(msgBookmarkItemAddLocationCaption), keyPath))
    return;
  newNode(TargetFolder(tvBookmarks->currentItem()), false, caption, keyPath);
}

void TformBookmarks::aRenameBookmarkExecute() {
  QTreeWidgetItem* node = tvBookmarks->currentItem();
  if (!IsBookmarkNode(node)) return;
  QString caption = node->text(0);
  if (prompter().inputQuery(this, MessageText(msgBookmarkItemRenameTitle), MessageText(msgBookmarkItemRenameCaption),
                            caption))
    node->setText(0, caption);
}

void TformBookmarks::aDeleteBookmarkExecute() {
  QTreeWidgetItem* node = tvBookmarks->currentItem();
  if (!IsBookmarkNode(node)) return;
  if (messageBoxes().messageDlg(this, MessageText(msgBookmarkItemDeleteCaption), jmConfirmation,
                                buttonBit(cbYes) | buttonBit(cbNo)) == mrYes)
    delete node;
}

void TformBookmarks::aAddFolderExecute() {
  QString caption = MessageText(msgBookmarkFolderDefaultName);
  if (!prompter().inputQuery(this, MessageText(msgBookmarkFolderAddTitle), MessageText(msgBookmarkFolderAddCaption),
                             caption))
    return;
  QTreeWidgetItem* target = TargetFolder(tvBookmarks->currentItem());
  newNode(target, true, caption, {});
  if (target) target->setExpanded(true);
}

void TformBookmarks::aRenameFolderExecute() {
  QTreeWidgetItem* node = tvBookmarks->currentItem();
  if (!node || IsBookmarkNode(node)) return;
  QString caption = node->text(0);
  if (prompter().inputQuery(this, MessageText(msgBookmarkFolderRenameTitle),
                            MessageText(msgBookmarkFolderRenameCaption), caption))
    node->setText(0, caption);
}

void TformBookmarks::aDeleteFolderExecute() {
  QTreeWidgetItem* node = tvBookmarks->currentItem();
  if (!node || IsBookmarkNode(node)) return;
  if (messageBoxes().messageDlg(this, MessageText(msgBookmarkFolderDeleteCaption), jmConfirmation,
                                buttonBit(cbYes) | buttonBit(cbNo)) == mrYes)
    delete node;  // with its content
}

void TformBookmarks::sortLevel(QTreeWidgetItem* folder, bool recursive) {
  std::vector<QTreeWidgetItem*> nodes = takeChildren(tvBookmarks, folder);
  std::stable_sort(nodes.begin(), nodes.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return compareKeyNames(a->text(0), b->text(0)) < 0;
  });
  for (QTreeWidgetItem* node : nodes) {
    if (folder)
      folder->addChild(node);
    else
      tvBookmarks->addTopLevelItem(node);
  }
  if (!recursive) return;
  for (QTreeWidgetItem* node : nodes) {
    if (!IsBookmarkNode(node)) sortLevel(node, true);
  }
}

void TformBookmarks::aSortOneLevelExecute() { sortLevel(TargetFolder(tvBookmarks->currentItem()), false); }

void TformBookmarks::aSortRecursiveExecute() { sortLevel(TargetFolder(tvBookmarks->currentItem()), true); }

namespace {

// The bookmarks below `node` in tree order: all levels, or the node's own and
// those of its direct sub-folders.
void collectBookmarks(const QTreeWidgetItem* node, bool recursive, bool inSubFolder, QStringList& captions,
                      QStringList& keyPaths) {
  for (int i = 0; i < node->childCount(); ++i) {
    const QTreeWidgetItem* child = node->child(i);
    if (TformBookmarks::IsBookmarkNode(child)) {
      captions << child->text(0);
      keyPaths << TformBookmarks::NodeKeyPath(child);
    } else if (recursive || !inSubFolder) {
      collectBookmarks(child, recursive, true, captions, keyPaths);
    }
  }
}

}  // namespace

void TformBookmarks::exportBookmarks(bool recursive) {
  const QTreeWidgetItem* node = tvBookmarks->currentItem();
  if (!node || !OnExportBookmarks) return;
  QStringList captions, keyPaths;
  if (IsBookmarkNode(node)) {
    captions << node->text(0);
    keyPaths << NodeKeyPath(node);
  } else {
    collectBookmarks(node, recursive, false, captions, keyPaths);
  }
  OnExportBookmarks(captions, keyPaths);
}

void TformBookmarks::aExportOneLevelExecute() { exportBookmarks(false); }

void TformBookmarks::aExportRecursiveExecute() { exportBookmarks(true); }

bool TformBookmarks::BeginDrag(QTreeWidgetItem* node) {
  FDragNode = IsBookmarkNode(node) ? node : nullptr;
  return FDragNode != nullptr;
}

bool TformBookmarks::AcceptsDrop(const QTreeWidgetItem* target) const { return FDragNode && target != FDragNode; }

bool TformBookmarks::DropNode(QTreeWidgetItem* target) {
  if (!AcceptsDrop(target)) return false;
  QTreeWidgetItem* dragged = FDragNode;
  FDragNode = nullptr;
  const QString caption = dragged->text(0);
  const QString keyPath = NodeKeyPath(dragged);
  // Take the node out first: the target's position may move by it.
  delete dragged;
  QTreeWidgetItem* moved;
  if (!target) {
    moved = newNode(nullptr, false, caption, keyPath);
  } else if (!IsBookmarkNode(target)) {
    moved = newNode(target, false, caption, keyPath);
  } else {
    QTreeWidgetItem* parent = target->parent();
    const int at = parent ? parent->indexOfChild(target) : tvBookmarks->indexOfTopLevelItem(target);
    moved = newNode(parent, false, caption, keyPath, at);
  }
  tvBookmarks->setCurrentItem(moved);
  return true;
}

// ---------------------------------------------------------------------------
// The tree's drag and drop

TBookmarkTree::TBookmarkTree(TformBookmarks& form, QWidget* parent) : QTreeWidget(parent), form_(form) {
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
}

void TBookmarkTree::startDrag(Qt::DropActions) {
  QTreeWidgetItem* node = currentItem();
  if (!form_.BeginDrag(node)) return;
  auto* drag = new QDrag(this);
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kDragFormat), {});
  drag->setMimeData(mime);
  drag->setPixmap(node->icon(0).pixmap(16, 16));
  // The drop itself moves the node; whatever exec reports, nothing is left
  // to remove here.
  drag->exec(Qt::MoveAction);
  form_.FDragNode = nullptr;
}

void TBookmarkTree::dragEnterEvent(QDragEnterEvent* event) {
  if (form_.FDragNode) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void TBookmarkTree::dragMoveEvent(QDragMoveEvent* event) {
  QTreeWidget::dragMoveEvent(event);  // scrolls near the edges
  if (form_.AcceptsDrop(itemAt(event->position().toPoint()))) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void TBookmarkTree::dropEvent(QDropEvent* event) {
  if (form_.DropNode(itemAt(event->position().toPoint()))) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}
