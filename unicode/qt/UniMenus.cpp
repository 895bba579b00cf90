#include "unicode/qt/UniMenus.h"

#include <QActionEvent>
#include <QMenuBar>

#include <array>

#include "unicode/UniSystem.h"
#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniForms.h"

namespace uni {

int WideHotkeyPos(QStringView Caption) {
  int pos = 0;
  const qsizetype n = Caption.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (Caption[i] != u'&' || i + 1 >= n)
      continue;
    if (Caption[i + 1] == u'&') {
      ++i;  // a literal ampersand
      continue;
    }
    pos = static_cast<int>(i + 2);
    ++i;
  }
  return pos;
}

QString WideHotkeyChar(QStringView Caption) {
  const int pos = WideHotkeyPos(Caption);
  return pos == 0 ? QString() : Caption.mid(pos - 1, 1).toString();
}

bool IsFarEastCodePage(unsigned CodePage) {
  return CodePage == 932 || CodePage == 936 || CodePage == 949 || CodePage == 950;
}

namespace {

// One pass over a caption's markers. Stripping, every marker goes, "&&"
// becomes "&" and in the far-east form a "(&X)" group goes whole. For Qt,
// "&&" stays doubled and only the marker before the 1-based position Keep
// stays (a trailing "&" marks nothing and goes).
QString rewriteMarkers(QStringView Caption, bool ForQt, bool FarEast, int Keep) {
  QString result;
  result.reserve(Caption.size() + 1);
  const qsizetype n = Caption.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = Caption[i];
    if (c != u'&') {
      result += c;
      continue;
    }
    if (i + 1 < n && Caption[i + 1] == u'&') {
      result += ForQt ? QStringLiteral("&&") : QStringLiteral("&");
      ++i;
    } else if (ForQt && i + 2 == Keep) {
      result += u'&';
    } else if (!ForQt && FarEast && i > 0 && Caption[i - 1] == u'(' && i + 2 < n && Caption[i + 2] == u')') {
      result.chop(1);  // the "(" already copied
      i += 2;
    }
  }
  return result;
}

}  // namespace

QString WideStripHotkeys(QStringView Caption, bool FarEast) {
  return rewriteMarkers(Caption, false, FarEast, 0);
}

QString WideStripHotkeys(QStringView Caption) {
  return WideStripHotkeys(Caption, IsFarEastCodePage(DefaultAnsiCodePage()));
}

bool SameWideCaption(QStringView A, QStringView B) {
  return QString::compare(WideStripHotkeys(A), WideStripHotkeys(B), Qt::CaseInsensitive) == 0;
}

bool SameWideCaptionCase(QStringView A, QStringView B) {
  return WideStripHotkeys(A) == WideStripHotkeys(B);
}

QString QtMnemonicText(QStringView Caption) {
  return rewriteMarkers(Caption, true, false, WideHotkeyPos(Caption));
}

namespace {

struct TKeyName {
  unsigned VirtualKey;
  Qt::Key Key;
};

// The keys with names, between Windows virtual keys and Qt. Letters, digits
// and number-pad digits are computed, not listed.
constexpr std::array kKeyNames{
    TKeyName{0x08, Qt::Key_Backspace}, TKeyName{0x09, Qt::Key_Tab},
    TKeyName{0x0C, Qt::Key_Clear},     TKeyName{0x0D, Qt::Key_Enter},
    TKeyName{0x13, Qt::Key_Pause},     TKeyName{0x14, Qt::Key_CapsLock},
    TKeyName{0x1B, Qt::Key_Escape},    TKeyName{0x20, Qt::Key_Space},
    TKeyName{0x21, Qt::Key_PageUp},    TKeyName{0x22, Qt::Key_PageDown},
    TKeyName{0x23, Qt::Key_End},       TKeyName{0x24, Qt::Key_Home},
    TKeyName{0x25, Qt::Key_Left},      TKeyName{0x26, Qt::Key_Up},
    TKeyName{0x27, Qt::Key_Right},     TKeyName{0x28, Qt::Key_Down},
    TKeyName{0x29, Qt::Key_Select},    TKeyName{0x2A, Qt::Key_Printer},
    TKeyName{0x2B, Qt::Key_Execute},   TKeyName{0x2C, Qt::Key_Print},
    TKeyName{0x2D, Qt::Key_Insert},    TKeyName{0x2E, Qt::Key_Delete},
    TKeyName{0x2F, Qt::Key_Help},      TKeyName{0x5D, Qt::Key_Menu},
    TKeyName{0x5F, Qt::Key_Sleep},     TKeyName{0x6A, Qt::Key_Asterisk},
    TKeyName{0x6B, Qt::Key_Plus},      TKeyName{0x6D, Qt::Key_Minus},
    TKeyName{0x6E, Qt::Key_Period},    TKeyName{0x6F, Qt::Key_Slash},
    TKeyName{0x90, Qt::Key_NumLock},   TKeyName{0x91, Qt::Key_ScrollLock},
    TKeyName{0xA6, Qt::Key_Back},      TKeyName{0xA7, Qt::Key_Forward},
    TKeyName{0xA8, Qt::Key_Refresh},   TKeyName{0xA9, Qt::Key_Stop},
    TKeyName{0xAA, Qt::Key_Search},    TKeyName{0xAB, Qt::Key_Favorites},
    TKeyName{0xAC, Qt::Key_HomePage},  TKeyName{0xAD, Qt::Key_VolumeMute},
    TKeyName{0xAE, Qt::Key_VolumeDown}, TKeyName{0xAF, Qt::Key_VolumeUp},
    TKeyName{0xB0, Qt::Key_MediaNext}, TKeyName{0xB1, Qt::Key_MediaPrevious},
    TKeyName{0xB2, Qt::Key_MediaStop}, TKeyName{0xB3, Qt::Key_MediaTogglePlayPause},
    TKeyName{0xB4, Qt::Key_LaunchMail}, TKeyName{0xB5, Qt::Key_LaunchMedia},
    TKeyName{0xBA, Qt::Key_Semicolon}, TKeyName{0xBB, Qt::Key_Equal},
    TKeyName{0xBC, Qt::Key_Comma},     TKeyName{0xBD, Qt::Key_Minus},
    TKeyName{0xBE, Qt::Key_Period},    TKeyName{0xBF, Qt::Key_Slash},
    TKeyName{0xC0, Qt::Key_QuoteLeft}, TKeyName{0xDB, Qt::Key_BracketLeft},
    TKeyName{0xDC, Qt::Key_Backslash}, TKeyName{0xDD, Qt::Key_BracketRight},
    TKeyName{0xDE, Qt::Key_Apostrophe},
};

bool isCharacterKey(unsigned VirtualKey) {
  return (VirtualKey >= 0x30 && VirtualKey <= 0x39) || (VirtualKey >= 0x41 && VirtualKey <= 0x5A);
}

bool isNumPadDigit(unsigned VirtualKey) { return VirtualKey >= 0x60 && VirtualKey <= 0x69; }

// The Qt key of a virtual key; 0 when Qt has none.
int qtKeyOf(unsigned VirtualKey) {
  if (isCharacterKey(VirtualKey))
    return static_cast<int>(VirtualKey);  // Qt's keys for letters and digits are their codes
  if (isNumPadDigit(VirtualKey))
    return Qt::Key_0 + static_cast<int>(VirtualKey - 0x60);
  if (VirtualKey >= 0x70 && VirtualKey <= 0x87)
    return Qt::Key_F1 + static_cast<int>(VirtualKey - 0x70);
  for (const TKeyName& name : kKeyNames)
    if (name.VirtualKey == VirtualKey)
      return name.Key;
  return 0;
}

TShortCutPrefixes& prefixes() {
  static TShortCutPrefixes value;
  return value;
}

}  // namespace

QString WideKeyText(unsigned VirtualKey) {
  if (isCharacterKey(VirtualKey))
    return QString(QChar(static_cast<char16_t>(VirtualKey)));
  if (isNumPadDigit(VirtualKey))
    return QString(QChar(static_cast<char16_t>(u'0' + (VirtualKey - 0x60))));
  const int key = qtKeyOf(VirtualKey);
  if (key == 0)
    return {};
  return QKeySequence(key).toString(QKeySequence::NativeText);
}

const TShortCutPrefixes& ShortCutPrefixes() { return prefixes(); }
void SetShortCutPrefixes(const TShortCutPrefixes& Prefixes) { prefixes() = Prefixes; }

QString WideShortCutText(TShortCut ShortCut) {
  const QString key = WideKeyText(ShortCut & 0xFF);
  if (key.isEmpty())
    return {};
  QString result;
  if (ShortCut & scShift)
    result += prefixes().Shift;
  if (ShortCut & scCtrl)
    result += prefixes().Ctrl;
  if (ShortCut & scAlt)
    result += prefixes().Alt;
  return result + key;
}

bool isNumPadOperator(unsigned VirtualKey) { return VirtualKey >= 0x6A && VirtualKey <= 0x6F; }

QKeySequence ShortCutToKeySequence(TShortCut ShortCut) {
  const unsigned vk = ShortCut & 0xFF;
  int key = qtKeyOf(vk);
  if (key == 0)
    return {};
  // Qt's Enter is the number pad's; the main key, the one a user presses, is
  // Return. Its name stays "Enter".
  if (vk == 0x0D)
    key = Qt::Key_Return;
  Qt::KeyboardModifiers modifiers;
  if (ShortCut & scShift)
    modifiers |= Qt::ShiftModifier;
  if (ShortCut & scCtrl)
    modifiers |= Qt::ControlModifier;
  if (ShortCut & scAlt)
    modifiers |= Qt::AltModifier;
  if (isNumPadDigit(vk) || isNumPadOperator(vk))
    modifiers |= Qt::KeypadModifier;
  return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)));
}

TShortCut KeySequenceToShortCut(const QKeySequence& Sequence) {
  if (Sequence.isEmpty())
    return 0;
  const QKeyCombination combination = Sequence[0];
  const int key = combination.key();
  Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
  const bool keypad = modifiers & Qt::KeypadModifier;
  unsigned vk = 0;
  if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9)
    vk = 0x60 + static_cast<unsigned>(key - Qt::Key_0);
  else if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
    vk = static_cast<unsigned>(key);
  else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    vk = 0x70 + static_cast<unsigned>(key - Qt::Key_F1);
  else if (key == Qt::Key_Return || key == Qt::Key_Enter)
    vk = 0x0D;
  else if (key == Qt::Key_Backtab) {
    vk = 0x09;
    modifiers |= Qt::ShiftModifier;
  } else {
    // "+", "-", "*", "/" and "." are keys of their own on the number pad.
    for (const TKeyName& name : kKeyNames)
      if (name.Key == key && isNumPadOperator(name.VirtualKey) == keypad) {
        vk = name.VirtualKey;
        break;
      }
    if (vk == 0)
      for (const TKeyName& name : kKeyNames)
        if (name.Key == key) {
          vk = name.VirtualKey;
          break;
        }
  }
  if (vk == 0)
    return 0;
  TShortCut result = static_cast<TShortCut>(vk);
  if (modifiers & Qt::ShiftModifier)
    result |= scShift;
  if (modifiers & Qt::ControlModifier)
    result |= scCtrl;
  if (modifiers & Qt::AltModifier)
    result |= scAlt;
  return result;
}

TUniMenuItem::TUniMenuItem(QObject* Parent) : QAction(Parent) { EnsureUniEventFilter(); }

TUniMenuItem::TUniMenuItem(const QString& Caption, QObject* Parent) : TUniMenuItem(Parent) {
  setCaption(Caption);
}

void TUniMenuItem::setCaption(const QString& Caption) {
  if (Caption == FCaption)
    return;
  FCaption = Caption;
  updateMenuString();
}

void TUniMenuItem::setHint(const QString& Hint) {
  FHint = Hint;
  setToolTip(WideShortHint(Hint));
  setStatusTip(WideLongHint(Hint));
}

TShortCut TUniMenuItem::shortCut() const { return KeySequenceToShortCut(shortcut()); }

void TUniMenuItem::setShortCut(TShortCut ShortCut) {
  setShortcut(ShortCutToKeySequence(ShortCut));
  updateMenuString();
}

void TUniMenuItem::updateMenuString() {
  bool inMenuBar = false;
  for (QObject* place : associatedObjects())
    if (qobject_cast<QMenuBar*>(place))
      inMenuBar = true;
  QString text = QtMnemonicText(FCaption);
  // After a TAB Qt's menu shows the text as it stands; without one it would
  // add its own shortcut text, in its own modifier order. A key we cannot
  // name is left to Qt.
  if (menu() == nullptr && !inMenuBar) {
    const QString shortCutText = WideShortCutText(shortCut());
    if (!shortCutText.isEmpty())
      text += u'\t' + shortCutText;
  }
  setText(text);
}

QString WideMenuItemHint(const QAction* Item) {
  if (const auto* item = qobject_cast<const TUniMenuItem*>(Item))
    return item->hint();
  return Item ? Item->statusTip() : QString();
}

TUniPopupMenu::TUniPopupMenu(QWidget* Parent) : QMenu(Parent) {
  EnsureUniEventFilter();
  connect(this, &QMenu::hovered, this,
          [](QAction* Item) { WideApplication().setHint(WideLongHint(WideMenuItemHint(Item))); });
  connect(this, &QMenu::aboutToShow, this, [this] {
    for (QAction* action : actions())
      if (auto* item = qobject_cast<TUniMenuItem*>(action))
        item->updateMenuString();
  });
}

TUniMenuItem* TUniPopupMenu::addItem(const QString& Caption, TShortCut ShortCut) {
  auto* item = new TUniMenuItem(Caption, this);
  item->setShortCut(ShortCut);
  addAction(item);
  return item;
}

void TUniPopupMenu::actionEvent(QActionEvent* Event) {
  QMenu::actionEvent(Event);
  // The menu's window is a popup of its own, so the items' shortcuts would
  // only work while it is open; the parent's window carries them as well.
  QWidget* owner = parentWidget();
  if (owner == nullptr)
    return;
  if (Event->type() == QEvent::ActionAdded)
    owner->addAction(Event->action());
  else if (Event->type() == QEvent::ActionRemoved)
    owner->removeAction(Event->action());
}

}  // namespace uni
