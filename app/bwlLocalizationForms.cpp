// The translator's side of the windows: which controls, menus and actions a
// window has as a language file sees them, their section and key names, and
// their captions, hints and list texts.
//
// Language files name controls by the designed parent chain: a control on a
// named container lies in the container's section + "." + its name. Qt puts
// widgets of its own between them (a tab widget's page stack, the main
// window's central widget, splitters that hold what they divide), so only
// named widgets count as containers; widgets without a name, with a "qt_"
// name, splitters, the central widget and those marked "hsLayoutOnly" are
// looked through.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <optional>

#include "app/IniFile.h"
#include "app/bwlLocalization.h"
#include "core/LanguageFileData.h"

namespace {

bool skippedName(const QString& name) { return name.isEmpty() || name.startsWith(QLatin1String("qt_")); }

// How the 8-bit text of one language file reads and writes.
struct TextKind {
  bool utf8 = false;
  std::uint8_t charset = 0;

  explicit TextKind(const IniFile& ini)
      : utf8(languageFileIsUtf8(ini)),
        charset(static_cast<std::uint8_t>(ini.ReadInteger("Main", "FontCharset", 0))) {}
  QString read(std::string_view text) const { return languageTextToQString(text, utf8, charset); }
  std::string write(const QString& text) const { return qStringToLanguageText(text, utf8, charset); }
};

// Line breaks are CR LF in language files and LF in Qt's texts.
QString fromFileLines(QString text) { return text.replace(QLatin1String("\r\n"), QLatin1String("\n")); }
QString toFileLines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return text.replace(u'\n', QLatin1String("\r\n"));
}

QTabWidget* tabWidgetOfPage(QWidget* w) {
  QWidget* stack = w->parentWidget();
  if (!qobject_cast<QStackedWidget*>(stack)) return nullptr;
  auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
  return tabs && tabs->indexOf(w) >= 0 ? tabs : nullptr;
}

bool layoutOnly(QWidget* w) {
  if (skippedName(w->objectName()) || qobject_cast<QSplitter*>(w) || w->property("hsLayoutOnly").toBool())
    return true;
  if (auto* main = qobject_cast<QMainWindow*>(w->parentWidget()); main && main->centralWidget() == w) return true;
  return false;
}

// Whether a widget holds controls of its own design rather than being one
// control made of Qt's parts (a combo box's line edit, a view's scroll bars).
bool holdsControls(QWidget* w) {
  const QMetaObject* meta = w->metaObject();
  if (meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject) return true;
  return qobject_cast<QGroupBox*>(w) || qobject_cast<QTabWidget*>(w) || qobject_cast<QStackedWidget*>(w) ||
         qobject_cast<QSplitter*>(w) || qobject_cast<QToolBar*>(w) || qobject_cast<QStatusBar*>(w) ||
         qobject_cast<QScrollArea*>(w) || qobject_cast<QDockWidget*>(w) || w->isWindow();
}

// The action a control stands for; it shows the action's texts.
bool linkedToAction(QWidget* w) {
  if (auto* tool = qobject_cast<QToolButton*>(w); tool && tool->defaultAction()) return true;
  return w->property("hsAction").value<QObject*>() != nullptr;
}

std::optional<QString> captionOf(QWidget* w) {
  if (QTabWidget* tabs = tabWidgetOfPage(w)) return tabs->tabText(tabs->indexOf(w));
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return memo->toPlainText();
  if (auto* rich = qobject_cast<QTextEdit*>(w)) return rich->toPlainText();
  if (auto* dock = qobject_cast<QDockWidget*>(w)) return dock->windowTitle();
  return std::nullopt;
}

void setCaption(QWidget* w, const QString& text) {
  if (QTabWidget* tabs = tabWidgetOfPage(w)) {
    tabs->setTabText(tabs->indexOf(w), text);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    // A label without a buddy shows "&" as it is, so a doubled one is one.
    label->setText(label->buddy() ? text : QString(text).replace(QLatin1String("&&"), QLatin1String("&")));
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    group->setTitle(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(text);
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
    memo->setPlainText(text);
  } else if (auto* rich = qobject_cast<QTextEdit*>(w)) {
    rich->setPlainText(text);
  } else if (auto* dock = qobject_cast<QDockWidget*>(w)) {
    dock->setWindowTitle(text);
  }
}

QHeaderView* columnHeader(QWidget* w) {
  if (auto* tree = qobject_cast<QTreeView*>(w)) return tree->isHeaderHidden() ? nullptr : tree->header();
  if (auto* table = qobject_cast<QTableView*>(w))
    return table->horizontalHeader()->isHidden() ? nullptr : table->horizontalHeader();
  return nullptr;
}

// The list text: the items of a list or combo box, the column captions of a
// view with a header; none for other controls.
std::optional<QStringList> itemsOf(QWidget* w) {
  QStringList items;
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
  }
  if (auto* list = qobject_cast<QListWidget*>(w)) {
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
  }
  if (QHeaderView* header = columnHeader(w); header && header->model()) {
    QAbstractItemModel* model = header->model();
    for (int i = 0; i < model->columnCount(); ++i) items << model->headerData(i, Qt::Horizontal).toString();
    return items;
  }
  return std::nullopt;
}

// Lines beyond the control's items are ignored, and missing lines leave items
// as they are: the windows rely on their items' count and order.
void setItems(QWidget* w, const QStringList& items) {
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    for (int i = 0; i < combo->count() && i < items.size(); ++i) combo->setItemText(i, items[i]);
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    for (int i = 0; i < list->count() && i < items.size(); ++i) list->item(i)->setText(items[i]);
  } else if (QHeaderView* header = columnHeader(w); header && header->model()) {
    QAbstractItemModel* model = header->model();
    for (int i = 0; i < model->columnCount() && i < items.size(); ++i)
      model->setHeaderData(i, Qt::Horizontal, items[i]);
  }
}

bool hasOwnText(QWidget* w) { return captionOf(w).has_value() || itemsOf(w).has_value(); }

// The controls of a container in the designed sense, in order: named
// widgets, and unnamed ones that carry texts; widgets Qt or the layout put
// between are looked through.
void collectControls(QWidget* container, QList<QWidget*>& out, int depth = 0) {
  if (depth > 64) return;
  if (auto* tabs = qobject_cast<QTabWidget*>(container)) {
    for (int i = 0; i < tabs->count(); ++i) {
      QWidget* page = tabs->widget(i);
      if (!layoutOnly(page)) {
        out << page;
      } else {
        collectControls(page, out, depth + 1);
      }
    }
    return;
  }
  if (auto* scroll = qobject_cast<QScrollArea*>(container)) {
    if (QWidget* inner = scroll->widget()) {
      if (!layoutOnly(inner))
        out << inner;
      else
        collectControls(inner, out, depth + 1);
    }
    return;
  }
  for (QObject* child : container->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w->isWindow() || qobject_cast<QMenuBar*>(w)) continue;
    if (!layoutOnly(w)) {
      out << w;
      continue;
    }
    if (hasOwnText(w)) out << w;
    if (holdsControls(w)) collectControls(w, out, depth + 1);
  }
}

// The container a control's unnamed key is built from: its nearest named
// parent, as the looked-through widgets are not part of the design.
QString designedParentName(QWidget* w) {
  for (QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
    if (!layoutOnly(p) || p->isWindow()) return p->objectName();
  }
  return {};
}

QString controlKey(QWidget* w, int index) {
  return skippedName(w->objectName()) ? designedParentName(w) + u'.' + QString::number(index) : w->objectName();
}

// The window's actions that make up its action list: named actions it owns
// directly.
QList<QAction*> windowActions(QWidget& form) {
  QList<QAction*> actions;
  for (QAction* a : form.findChildren<QAction*>(Qt::FindDirectChildrenOnly))
    if (!skippedName(a->objectName())) actions << a;
  return actions;
}

QString actionListName(QWidget& form) {
  const QString set = form.property("hsActionList").toString();
  if (!set.isEmpty()) return set;
  QString name = form.objectName();
  if (name.startsWith(QLatin1String("form"))) name.remove(0, 4);
  return QStringLiteral("al") + name;
}

// The menus a window owns: its menu bar and the pop-up menus it is parent of.
QList<QWidget*> windowMenus(QWidget& form) {
  QList<QWidget*> menus;
  for (QObject* child : form.children()) {
    if (auto* bar = qobject_cast<QMenuBar*>(child); bar && !skippedName(bar->objectName())) menus << bar;
    if (auto* menu = qobject_cast<QMenu*>(child); menu && !skippedName(menu->objectName())) menus << menu;
  }
  return menus;
}

std::string key(const QString& text) { return text.toStdString(); }

// The controls of a named container, each in the container's section; a
// failure in one does not stop the others.
template <class Visitor>
void visitChildren(Visitor& visitor, const QString& section, QWidget* w, int depth) {
  if (skippedName(w->objectName()) || !holdsControls(w)) return;
  QList<QWidget*> children;
  collectControls(w, children);
  const QString inner = section + u'.' + w->objectName();
  for (int i = 0; i < children.size(); ++i) {
    try {
      visitor.control(inner, children[i], i, depth + 1);
    } catch (...) {
    }
  }
}

// A window's controls, then its menus, then its action list.
template <class Visitor>
void visitForm(Visitor& visitor, QWidget& form) {
  const QString name = form.objectName();
  QList<QWidget*> controls;
  collectControls(&form, controls);
  for (int i = 0; i < controls.size(); ++i) {
    try {
      visitor.control(name, controls[i], i, 0);
    } catch (...) {
    }
  }
  for (QWidget* menu : windowMenus(form)) {
    try {
      visitor.menuItems(name + u'.' + menu->objectName(), menu, 0);
    } catch (...) {
    }
  }
  visitor.actionList(name + u'.' + actionListName(form));
}

class FormTranslator {
public:
  FormTranslator(const IniFile& ini, QWidget& form) : ini_(ini), kind_(ini), actions_(windowActions(form)) {}

  void control(const QString& section, QWidget* w, int index, int depth) {
    if (depth > 64) return;
    const std::string s = key(section);
    const std::string k = key(controlKey(w, index));
    if (!linkedToAction(w)) {
      try {
        if (captionOf(w) && ini_.ValueExists(s, k)) {
          const QString text = fromFileLines(kind_.read(unescapeCaptionText(ini_.ReadString(s, k, ""))));
          if (captionOf(w) != text) setCaption(w, text);
        }
        if (ini_.ValueExists(s, k + ".Hint")) w->setToolTip(kind_.read(ini_.ReadString(s, k + ".Hint", "")));
      } catch (...) {
      }
    }
    if (w->property("tag").toInt() == 0 && itemsOf(w) && ini_.ValueExists(s, k + ".Items")) {
      const QString text = kind_.read(unescapeMessageText(ini_.ReadString(s, k + ".Items", "")));
      setItems(w, text.split(QLatin1String("\r\n")));
    }
    visitChildren(*this, section, w, depth);
  }

  void menuItems(const QString& section, QWidget* menu, int depth) {
    if (depth > 32) return;
    for (QAction* item : menu->actions()) {
      if (item->isSeparator() || actions_.contains(item)) continue;
      QMenu* sub = item->menu();
      const QString name = sub ? sub->objectName() : item->objectName();
      if (skippedName(name)) continue;
      const std::string s = key(section), k = key(name);
      if (!item->property("hsAction").value<QObject*>() && ini_.ValueExists(s, k)) {
        const QString text = kind_.read(ini_.ReadString(s, k, ""));
        item->setText(text);
        if (sub) sub->setTitle(text);
      }
      if (sub) menuItems(section + u'.' + name, sub, depth + 1);
    }
  }

  void actionList(const QString& section) {
    const std::string s = key(section);
    for (QAction* a : actions_) {
      const std::string k = key(a->objectName());
      if (ini_.ValueExists(s, k)) a->setText(kind_.read(ini_.ReadString(s, k, "")));
      if (ini_.ValueExists(s, k + ".Hint")) {
        const QString hint = kind_.read(ini_.ReadString(s, k + ".Hint", ""));
        a->setStatusTip(hint);
        a->setToolTip(hint);
      }
    }
  }

private:
  const IniFile& ini_;
  TextKind kind_;
  QList<QAction*> actions_;
};

class FormSaver {
public:
  FormSaver(IniFile& ini, QWidget& form) : ini_(ini), kind_(ini), actions_(windowActions(form)) {}

  void control(const QString& section, QWidget* w, int index, int depth) {
    if (depth > 64) return;
    const std::string s = key(section);
    const std::string k = key(controlKey(w, index));
    if (!linkedToAction(w) && w->property("tag").toInt() <= 0) {
      if (const auto caption = captionOf(w); caption && !caption->isEmpty() && *caption != QLatin1String("-"))
        ini_.WriteString(s, k, escapeLanguageText(kind_.write(toFileLines(*caption))));
      if (const QString hint = w->toolTip(); !hint.isEmpty())
        ini_.WriteString(s, k + ".Hint", escapeLanguageText(kind_.write(toFileLines(hint))));
      if (const auto items = itemsOf(w); items && !items->isEmpty() && !items->join(QString()).isEmpty())
        ini_.WriteString(s, k + ".Items", escapeLanguageText(kind_.write(toFileLines(items->join(u'\n')))));
    }
    visitChildren(*this, section, w, depth);
  }

  void menuItems(const QString& section, QWidget* menu, int depth) {
    if (depth > 32) return;
    for (QAction* item : menu->actions()) {
      if (item->isSeparator()) continue;
      QMenu* sub = item->menu();
      const bool hasAction = actions_.contains(item) || item->property("hsAction").value<QObject*>();
      const QString name = sub ? sub->objectName() : item->objectName();
      if (!hasAction && !skippedName(name)) {
        const std::string s = key(section), k = key(name);
        const QString caption = item->text();
        if (!caption.isEmpty() && caption != QLatin1String("-")) ini_.WriteString(s, k, kind_.write(caption));
        if (!item->statusTip().isEmpty()) ini_.WriteString(s, k + ".Hint", kind_.write(item->statusTip()));
      }
      if (sub && !skippedName(name)) menuItems(section + u'.' + name, sub, depth + 1);
    }
  }

  void actionList(const QString& section) {
    const std::string s = key(section);
    for (QAction* a : actions_) {
      const std::string k = key(a->objectName());
      if (!a->text().isEmpty() && a->text() != QLatin1String("-")) ini_.WriteString(s, k, kind_.write(a->text()));
      if (!a->statusTip().isEmpty()) ini_.WriteString(s, k + ".Hint", kind_.write(a->statusTip()));
    }
  }

private:
  IniFile& ini_;
  TextKind kind_;
  QList<QAction*> actions_;
};

}  // namespace

void TAppTranslator::TranslateForm(QWidget& form, const IniFile& ini) {
  const TextKind kind(ini);
  LoadedFont.Name = ini.ReadString("Main", "FontName", TFontSettings().Name);
  LoadedFont.Size = ini.ReadInteger("Main", "FontSize", TFontSettings().Size);
  LoadedFont.Charset = kind.charset;
  LoadedFont.BiDiMode = bidiModeFromText(ini.ReadString("Main", "BiDiMode", "LR"));

  const QString name = form.objectName();
  form.setLayoutDirection(LoadedFont.BiDiMode != 0 ? Qt::RightToLeft : Qt::LeftToRight);
  if (ini.ValueExists("Forms", key(name)))
    form.setWindowTitle(fromFileLines(kind.read(ini.ReadString("Forms", key(name), ""))));

  FormTranslator translator(ini, form);
  visitForm(translator, form);
}

void TAppTranslator::SaveForm(QWidget& form, IniFile& ini, bool withFont) {
  const TextKind kind(ini);
  const QString name = form.objectName();
  if (form.property("tag").toInt() == 0) ini.WriteString("Forms", key(name), kind.write(form.windowTitle()));
  if (withFont) {
    ini.WriteString("Main", "FontName", key(form.font().family()));
    ini.WriteString("Main", "FontSize", std::to_string(form.font().pointSize()));
    ini.WriteString("Main", "FontCharset", std::to_string(LoadedFont.Charset));
    ini.WriteString("Main", "HelpFile", HelpFile);
  }
  FormSaver saver(ini, form);
  visitForm(saver, form);
}
