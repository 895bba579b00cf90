#pragma once

// Hotkey and shortcut texts, and menu items and popup menus with wide
// captions and hints.
//
// A caption marks its hotkey the Windows way: the LAST single "&" counts and
// "&&" is a literal ampersand. Qt takes the first "&", so a control keeps its
// caption and hands Qt the text of QtMnemonicText, in which only the last
// marker is left.
//
// A shortcut is the Windows shortcut word: the virtual-key code in the low
// byte, Shift 0x2000, Ctrl 0x4000, Alt 0x8000.

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace uni {

using TShortCut = std::uint16_t;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// The 1-based position of the hotkey character: the character after the last
// "&" that is neither the last character nor followed by another "&"; 0 when
// there is none.
int WideHotkeyPos(QStringView Caption);
// The hotkey character, or an empty text.
QString WideHotkeyChar(QStringView Caption);

// The double-byte code pages, whose captions carry the hotkey as "(&F)" after
// the text.
bool IsFarEastCodePage(unsigned CodePage);

// Every "&" removed, "&&" becoming one "&". In the far-east form a "(&X)"
// group goes whole. The one-argument form takes the far-east form when the
// process's code page is a double-byte one.
QString WideStripHotkeys(QStringView Caption, bool FarEast);
QString WideStripHotkeys(QStringView Caption);

// Captions equal apart from their hotkeys, case ignored or not.
bool SameWideCaption(QStringView A, QStringView B);
bool SameWideCaptionCase(QStringView A, QStringView B);

// The caption with every marker but the hotkey's removed, so that Qt
// underlines and reacts to the same character as the caption means.
QString QtMnemonicText(QStringView Caption);

// The name of a virtual key: letters, digits and number-pad digits as their
// characters, the rest as Qt's menus name them; empty for a key Qt does not
// know.
QString WideKeyText(unsigned VirtualKey);

// The modifier prefixes of shortcut texts. A language may replace them.
struct TShortCutPrefixes {
  QString Shift = QStringLiteral("Shift+");
  QString Ctrl = QStringLiteral("Ctrl+");
  QString Alt = QStringLiteral("Alt+");
};
const TShortCutPrefixes& ShortCutPrefixes();
void SetShortCutPrefixes(const TShortCutPrefixes& Prefixes);

// "Shift+", "Ctrl+", "Alt+" in that order, then the key's name; empty when
// the key has no name.
QString WideShortCutText(TShortCut ShortCut);

// Between shortcut words and Qt's key sequences; 0 or an empty sequence for
// a key the other side cannot name. A sequence gives its first combination.
QKeySequence ShortCutToKeySequence(TShortCut ShortCut);
TShortCut KeySequenceToShortCut(const QKeySequence& Sequence);

// A menu item. Its text in a menu is the caption with the hotkey marker Qt
// understands and, for an item without a sub-menu that has a shortcut, a TAB
// and the shortcut text; in a menu bar the caption alone. The action keeps
// the shortcut, so the key triggers it wherever the item is reachable.
class TUniMenuItem : public QAction {
  Q_OBJECT
 public:
  explicit TUniMenuItem(QObject* Parent = nullptr);
  TUniMenuItem(const QString& Caption, QObject* Parent);

  QString caption() const { return FCaption; }
  void setCaption(const QString& Caption);
  QString hint() const { return FHint; }
  void setHint(const QString& Hint);
  // The shortcut is the action's: set through either name, read as a word.
  TShortCut shortCut() const;
  void setShortCut(TShortCut ShortCut);

  // Rewrites the item's text from its caption, shortcut and place; called
  // when any of them changes.
  void updateMenuString();

 private:
  QString FCaption;
  QString FHint;
};

// The hint of a menu item: the wide hint of a TUniMenuItem, the status tip of
// any other action.
QString WideMenuItemHint(const QAction* Item);

// A popup menu whose items are wide. Hovering an item sets the application's
// hint to the item's long hint (empty for an item without one). The items'
// shortcuts work in the window of the menu's parent widget.
class TUniPopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TUniPopupMenu(QWidget* Parent = nullptr);
  TUniMenuItem* addItem(const QString& Caption, TShortCut ShortCut = 0);

 protected:
  void actionEvent(QActionEvent* Event) override;
};

}  // namespace uni
