#pragma once

// Wide caption and hint of any widget, the hint's two halves, tooltips, and
// the hotkeys of controls whose captions mark them the Windows way.
//
// A control's caption may differ from what Qt holds (a button's caption keeps
// every "&" while Qt gets QtMnemonicText of it), so the caption is kept on the
// widget itself. A hint is "short|long": the tooltip shows the short half, the
// status bar the long one.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <functional>
#include <vector>

namespace uni {

// The caption: a line edit's text, a button's or label's wide caption, any
// other widget's window title.
QString UniControlGetText(const QWidget* Control);
// Sets it; a text equal to the current one changes nothing (no signal).
void UniControlSetText(QWidget* Control, const QString& Text);

// The whole hint as it was set; the tooltip is its short half and the status
// tip its long half.
QString UniControlGetHint(const QWidget* Control);
void UniControlSetHint(QWidget* Control, const QString& Hint);
// The hint of Control or of its nearest parent that has one; empty when none
// has (or for no control).
QString GetWideHintUpParents(const QWidget* Control);

// The text before the first "|" and the text after it; the whole hint when
// it has none.
QString WideShortHint(QStringView Hint);
QString WideLongHint(QStringView Hint);

// The program-wide switch that adds an action's shortcut to tooltips.
bool ShowShortCutsInHints();
void SetShowShortCutsInHints(bool Show);

// The tooltip of Control: the short hint of GetWideHintUpParents, and with the
// switch on and a control whose action (a tool button's default action) has a
// shortcut, "short (shortcut text)".
QString WideToolTipText(const QWidget* Control);

// The hotkey of a control, pressed as Alt plus a character, whatever the
// keyboard layout. A control registers with a reaction that answers whether
// it took the key; the key is offered, in order of registration, to the
// registered controls of the window it was pressed in that are enabled and
// visible and whose caption's hotkey equals the typed character, case
// ignored. Qt's own mnemonic for the same key is held back, so a control
// reacts once. A control leaves by itself when destroyed.
using THotkeyReaction = std::function<bool()>;
void RegisterHotkeyControl(QWidget* Control, THotkeyReaction Reaction);
void UnregisterHotkeyControl(QWidget* Control);

// The typed character equals the caption's hotkey character, case ignored.
bool IsWideCharAccel(QStringView Typed, QStringView Caption);

// A widget with the wide caption and hint of the functions above.
template <class Base>
class TWideCaptioned : public Base {
 public:
  using Base::Base;
  QString caption() const { return UniControlGetText(this); }
  void setCaption(const QString& Caption) { UniControlSetText(this, Caption); }
  QString hint() const { return UniControlGetHint(this); }
  void setHint(const QString& Hint) { UniControlSetHint(this, Hint); }
};

// Makes sure the application-wide filter that routes hotkeys, tooltips,
// status tips and menu texts is installed (it needs a QApplication).
void EnsureUniEventFilter();

}  // namespace uni
