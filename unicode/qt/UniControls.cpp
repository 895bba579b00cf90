#include "unicode/qt/UniControls.h"

#include <QAbstractButton>
#include <QActionEvent>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QVariant>

#include <algorithm>

#include "unicode/qt/UniForms.h"
#include "unicode/qt/UniMenus.h"

namespace uni {

namespace {

// The wide caption and hint kept on the widget, beside what Qt holds.
constexpr const char* kCaptionProperty = "hivescope_wideCaption";
constexpr const char* kHintProperty = "hivescope_wideHint";

bool showShortCuts = false;

struct THotkeyEntry {
  QPointer<QWidget> Control;
  THotkeyReaction Reaction;
};

std::vector<THotkeyEntry>& hotkeyControls() {
  static std::vector<THotkeyEntry> entries;
  return entries;
}

// The registered controls of Window whose hotkey is Typed, in order.
std::vector<THotkeyEntry> hotkeyMatches(const QWidget* Window, const QString& Typed) {
  auto& entries = hotkeyControls();
  std::erase_if(entries, [](const THotkeyEntry& entry) { return entry.Control.isNull(); });
  std::vector<THotkeyEntry> matches;
  for (const THotkeyEntry& entry : entries) {
    QWidget* control = entry.Control;
    if (control->window() != Window || !control->isEnabled() || !control->isVisible())
      continue;
    if (IsWideCharAccel(Typed, UniControlGetText(control)))
      matches.push_back(entry);
  }
  return matches;
}

// The character of an Alt key press that may be a hotkey; empty otherwise.
QString hotkeyTyped(const QKeyEvent* Event) {
  const Qt::KeyboardModifiers modifiers = Event->modifiers();
  if (!(modifiers & Qt::AltModifier) || (modifiers & (Qt::ControlModifier | Qt::MetaModifier)))
    return {};
  const QString text = Event->text();
  if (text.isEmpty() || !text[0].isPrint())
    return {};
  return text;
}

class TUniEventFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    // Key events reach the window object first and then the focus widget:
    // only the widget's delivery counts, so a key reacts once.
    if (!Watched->isWidgetType())
      return false;
    auto* widget = static_cast<QWidget*>(Watched);
    switch (Event->type()) {
      case QEvent::ShortcutOverride:
      case QEvent::KeyPress:
        return hotkey(widget, static_cast<QKeyEvent*>(Event));
      case QEvent::ToolTip:
        if (widget->property(kHintProperty).isValid())
          widget->setToolTip(WideToolTipText(widget));
        return false;
      case QEvent::StatusTip:
        WideApplication().setHint(static_cast<QStatusTipEvent*>(Event)->tip());
        return false;
      case QEvent::ActionAdded:
      case QEvent::ActionChanged:
        if (auto* item = qobject_cast<TUniMenuItem*>(static_cast<QActionEvent*>(Event)->action()))
          item->updateMenuString();
        return false;
      default:
        return false;
    }
  }

 private:
  static bool hotkey(QWidget* Receiver, QKeyEvent* Event) {
    const QString typed = hotkeyTyped(Event);
    if (typed.isEmpty())
      return false;
    const std::vector<THotkeyEntry> matches = hotkeyMatches(Receiver->window(), typed);
    if (matches.empty())
      return false;
    if (Event->type() == QEvent::ShortcutOverride) {
      // Taking the override holds back Qt's own mnemonic shortcut for the
      // same key; the key press that follows comes here.
      Event->accept();
      return true;
    }
    for (const THotkeyEntry& entry : matches)
      if (entry.Control && entry.Reaction())
        return true;
    return false;
  }
};

}  // namespace

void EnsureUniEventFilter() {
  static QPointer<TUniEventFilter> filter;
  if (filter || QCoreApplication::instance() == nullptr)
    return;
  filter = new TUniEventFilter(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(filter);
}

QString UniControlGetText(const QWidget* Control) {
  if (Control == nullptr)
    return {};
  if (const auto* edit = qobject_cast<const QLineEdit*>(Control))
    return edit->text();
  const QVariant stored = Control->property(kCaptionProperty);
  if (stored.isValid())
    return stored.toString();
  if (const auto* button = qobject_cast<const QAbstractButton*>(Control))
    return button->text();
  if (const auto* label = qobject_cast<const QLabel*>(Control))
    return label->text();
  return Control->windowTitle();
}

void UniControlSetText(QWidget* Control, const QString& Text) {
  if (Control == nullptr || UniControlGetText(Control) == Text)
    return;
  if (auto* edit = qobject_cast<QLineEdit*>(Control)) {
    edit->setText(Text);
    return;
  }
  Control->setProperty(kCaptionProperty, Text);
  if (auto* button = qobject_cast<QAbstractButton*>(Control))
    button->setText(QtMnemonicText(Text));
  else if (auto* label = qobject_cast<QLabel*>(Control))
    label->setText(QtMnemonicText(Text));
  else
    Control->setWindowTitle(Text);
}

QString UniControlGetHint(const QWidget* Control) {
  if (Control == nullptr)
    return {};
  const QVariant stored = Control->property(kHintProperty);
  return stored.isValid() ? stored.toString() : Control->toolTip();
}

void UniControlSetHint(QWidget* Control, const QString& Hint) {
  if (Control == nullptr)
    return;
  EnsureUniEventFilter();
  Control->setProperty(kHintProperty, Hint);
  Control->setToolTip(WideToolTipText(Control));
  Control->setStatusTip(WideLongHint(Hint));
}

QString GetWideHintUpParents(const QWidget* Control) {
  for (const QWidget* control = Control; control != nullptr; control = control->parentWidget()) {
    QString hint = UniControlGetHint(control);
    if (!hint.isEmpty())
      return hint;
  }
  return {};
}

QString WideShortHint(QStringView Hint) {
  const qsizetype bar = Hint.indexOf(u'|');
  return (bar < 0 ? Hint : Hint.left(bar)).toString();
}

QString WideLongHint(QStringView Hint) {
  const qsizetype bar = Hint.indexOf(u'|');
  return (bar < 0 ? Hint : Hint.mid(bar + 1)).toString();
}

bool ShowShortCutsInHints() { return showShortCuts; }
void SetShowShortCutsInHints(bool Show) { showShortCuts = Show; }

QString WideToolTipText(const QWidget* Control) {
  const QString hint = WideShortHint(GetWideHintUpParents(Control));
  if (hint.isEmpty() || !showShortCuts)
    return hint;
  const auto* tool = qobject_cast<const QToolButton*>(Control);
  const QAction* action = tool ? tool->defaultAction() : nullptr;
  if (action == nullptr || action->shortcut().isEmpty())
    return hint;
  QString shortCut = WideShortCutText(KeySequenceToShortCut(action->shortcut()));
  if (shortCut.isEmpty())
    shortCut = action->shortcut().toString(QKeySequence::NativeText);
  return QStringLiteral("%1 (%2)").arg(hint, shortCut);
}

void RegisterHotkeyControl(QWidget* Control, THotkeyReaction Reaction) {
  EnsureUniEventFilter();
  UnregisterHotkeyControl(Control);
  hotkeyControls().push_back({Control, std::move(Reaction)});
}

void UnregisterHotkeyControl(QWidget* Control) {
  std::erase_if(hotkeyControls(), [Control](const THotkeyEntry& entry) {
    return entry.Control.isNull() || entry.Control == Control;
  });
}

bool IsWideCharAccel(QStringView Typed, QStringView Caption) {
  const QString hotkey = WideHotkeyChar(Caption);
  return !hotkey.isEmpty() && QString::compare(Typed, hotkey, Qt::CaseInsensitive) == 0;
}

}  // namespace uni
