#pragma once

// The task-dialog component: a description of a dialog (title, icon,
// instruction, content, expandable details, footer, header, common and
// custom buttons, radio buttons, verification box, progress, help link,
// timer) that Execute shows as a window of its own drawing and answers with
// the modal result of the button that closed it.
//
// The option objects report every change through OnChange; the dialog
// listens and lays out again while it is shown. Layout (TdDialogLayout.cpp)
// measures through a TTdTextMetrics, so tests run it with fixed numbers and
// no window; the window and its painting and keys are TdDialogForm.

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <stdexcept>
#include <memory>
#include <vector>

#include "taskdialog/TdMessageTypes.h"
#include "taskdialog/TdTypes.h"
#include "taskdialog/TdUnicode.h"

class QKeyEvent;
class QPainter;
class QTimer;
class QWidget;
class TTdCaptionControl;
class TTdCheckBox;
class TTdMoreLabel;
class TTdRichEdit;
class TTdTaskDialogForm;
class TTdCustomDialog;
class TTdCommandLinkButton;
class QAbstractButton;
class QGroupBox;
class QPushButton;

// A font with its colour: Qt fonts carry none.
struct TTdFont {
  QFont Font;
  QColor Color = Qt::black;
  bool operator==(const TTdFont&) const = default;
};

// The five default fonts of every dialog: 0 the dialog font (content,
// buttons, expand label), 1 the main instruction, 2 unused, 3 the footer,
// 4 the expanded details. Built at first use from the application font.
class TTdDefaultFonts {
 public:
  TTdDefaultFonts();
  TTdFont& font(int Index) { return FFonts.at(static_cast<std::size_t>(Index)); }

 private:
  std::array<TTdFont, 5> FFonts;
};
TTdDefaultFonts& DefaultDialogFonts();
void SetDefaultDialogFont(int Index, const TTdFont& Font);
TTdFont& GetDefaultDialogFont(int Index);

enum TControlType {
  ctButton,
  ctCommandLink,
  ctCheckBox,
  ctMoreButton,
  ctRichEdit,
  ctLinkLabel,
  ctURLLabel,
  ctRadioButton,
  ctProgressBar,
  ctRadioGroup
};

enum TDialogOption {
  doShowHelpLink,
  doRadioButtons,
  doCommandLinks,
  doCommandLinksNoIcon,
  doProgressBar,
  doProgressBarMarquee,
  doTimer,
  doTopMost,
  doModal
};
using TDialogOptions = unsigned;
constexpr TDialogOptions optionBit(TDialogOption o) { return 1u << o; }

enum TTdMoreFormat { mfText, mfRTF };
enum TTdMoreSource { msDefault, msStream, msFile };
enum TTdIconSize { isSmall, isMedium, isLarge };
enum TTdHelpType { htKeyword, htContext };
enum TTdBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TProgressBarState { pbstNormal, pbstError, pbstPaused };

// A property of an option object: a getter, and a setter that stores a
// different value and reports the change.
#define TD_PROPERTY(Type, Name, getter)                  \
 public:                                                 \
  const Type& getter() const { return F##Name; }         \
  void set##Name(const Type& Value) {                    \
    if (F##Name == Value) return;                        \
    F##Name = Value;                                     \
    Changed();                                           \
  }                                                      \
                                                         \
 private:                                                \
  Type F##Name

// An option object that knows its dialog. Assigning one copies the
// settings only: it stays with its dialog and keeps its change handler.
class TTdDialogOwnedPersistent : public TTdChangePersistent {
 public:
  explicit TTdDialogOwnedPersistent(TTdCustomDialog* Dialog) : FDialog(Dialog) {}
  TTdDialogOwnedPersistent(const TTdDialogOwnedPersistent&) = delete;
  TTdDialogOwnedPersistent& operator=(const TTdDialogOwnedPersistent&) { return *this; }
  TTdCustomDialog* dialog() const { return FDialog; }

 private:
  TTdCustomDialog* FDialog;
};

// Makes a control on Parent; the dialog's control classes.
using TTdControlClass = std::function<QWidget*(QWidget* Parent)>;

// A picture that compares by its pixels' identity, so it can be a property.
struct TTdPicture {
  QPixmap Pixmap;
  bool empty() const { return Pixmap.isNull(); }
  bool operator==(const TTdPicture& Other) const { return Pixmap.cacheKey() == Other.Pixmap.cacheKey(); }
};

class TTdTextSection : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(TTdFont, Font, font);
};

class TTdInstruction : public TTdTextSection {
 public:
  explicit TTdInstruction(TTdCustomDialog* Dialog);
  TD_PROPERTY(QString, Text, text);
  // Another colour than the invalid one fills the band of header and
  // instruction when the dialog has no main icon.
  TD_PROPERTY(QColor, Color, color);
  TD_PROPERTY(bool, ShowAtTop, showAtTop) = false;
  TD_PROPERTY(bool, ShowGlyph, showGlyph) = false;
  TD_PROPERTY(TTdPicture, Glyph, glyph);

 public:
  TTaskDialogIcon icon() const { return FIcon; }
  // Any icon but tdiCustom drops the glyph.
  void setIcon(TTaskDialogIcon Icon);

 private:
  TTaskDialogIcon FIcon = tdiNone;
};

class TTdExpando : public TTdTextSection {
 public:
  explicit TTdExpando(TTdCustomDialog* Dialog);
  TD_PROPERTY(QStringList, Lines, lines);
  TD_PROPERTY(bool, Visible, visible) = false;
  // Expanded.
  TD_PROPERTY(bool, Showing, showing) = false;
  TD_PROPERTY(bool, ShowInFooter, showInFooter) = false;
  TD_PROPERTY(int, MoreHeight, moreHeight) = 0;
  TD_PROPERTY(TTdMoreFormat, MoreFormat, moreFormat) = mfText;
  TD_PROPERTY(TTdMoreSource, MoreSource, moreSource) = msDefault;
  // The expand label's captions, collapsed and expanded.
  TD_PROPERTY(QString, ShowText, showText);
  TD_PROPERTY(QString, HideText, hideText);
};

// Text, glyph, icon, font, colour and visibility of a header or footer.
class TTdBaseOptions : public TTdDialogOwnedPersistent {
 public:
  TTdBaseOptions(TTdCustomDialog* Dialog, QColor Color);
  TD_PROPERTY(QString, Text, text);
  TD_PROPERTY(TTdPicture, Glyph, glyph);
  TD_PROPERTY(TTaskDialogIcon, Icon, icon) = tdiNone;
  TD_PROPERTY(TTdFont, Font, font);
  TD_PROPERTY(QColor, Color, color);
  TD_PROPERTY(bool, Visible, visible) = false;
};

class TTdHeader : public TTdBaseOptions {
 public:
  explicit TTdHeader(TTdCustomDialog* Dialog);
  TD_PROPERTY(TTdIconSize, IconSize, iconSize) = isLarge;

 public:
  TTdGradient Gradient;
};

class TTdFooter : public TTdBaseOptions {
 public:
  explicit TTdFooter(TTdCustomDialog* Dialog);
};

class TTdButtonBarOptions : public TTdDialogOwnedPersistent {
 public:
  explicit TTdButtonBarOptions(TTdCustomDialog* Dialog);
  TD_PROPERTY(TCommonButtons, Buttons, buttons) = buttonBit(cbOK) | buttonBit(cbCancel);
  TD_PROPERTY(bool, Visible, visible) = true;
  TD_PROPERTY(QColor, Color, color);
  TD_PROPERTY(TCommonButton, Default, defaultButton) = cbOK;
  TD_PROPERTY(TCommonButton, Cancel, cancelButton) = cbCancel;
  TD_PROPERTY(bool, ShowDivider, showDivider) = true;
  TD_PROPERTY(bool, UseDefault, useDefault) = true;
  TD_PROPERTY(bool, UseCancel, useCancel) = true;
};

class TTdVerification : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(bool, Visible, visible) = false;
  TD_PROPERTY(QString, Text, text);
  TD_PROPERTY(bool, InitialState, initialState) = false;
};

class TTdProgress : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(int, Min, min) = 0;
  TD_PROPERTY(int, Max, max) = 100;
  TD_PROPERTY(int, Position, position) = 0;
  TD_PROPERTY(int, Step, step) = 1;
  TD_PROPERTY(TProgressBarState, State, state) = pbstNormal;
  TD_PROPERTY(int, Interval, interval) = 100;
};

class TTdHelpLink : public TTdDialogOwnedPersistent {
 public:
  explicit TTdHelpLink(TTdCustomDialog* Dialog);
  TD_PROPERTY(QString, Text, text);
  TD_PROPERTY(TTdHelpType, HelpType, helpType) = htContext;
  TD_PROPERTY(int, HelpContext, helpContext) = 0;
  TD_PROPERTY(QString, HelpKeyword, helpKeyword);
  TD_PROPERTY(TTdFont, Font, font);
};

class TTdBorder : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(bool, Visible, visible) = false;
  TD_PROPERTY(QColor, Color, color) = QColor(0x80, 0x80, 0x80);
  TD_PROPERTY(int, Width, width) = 1;
};

class TTdTimer : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(int, Interval, interval) = 1000;
};

class TTdRadioButton : public TTdDialogOwnedPersistent {
 public:
  using TTdDialogOwnedPersistent::TTdDialogOwnedPersistent;
  TD_PROPERTY(bool, ShowBorder, showBorder) = false;
  TD_PROPERTY(QString, Caption, caption);
  TD_PROPERTY(int, Columns, columns) = 1;
};

#undef TD_PROPERTY

struct TTdLocation {
  int Left = -1;
  int Top = -1;
};

// One custom button or command link. Value is given when the item is added
// (100 for the first) and names the item's control in clicks.
struct TTdCustomButtonItem {
  QString Caption;
  QString Hint;
  int Value = 0;
  int ModalResult = 0;
  bool Default = false;
  bool Cancel = false;
  QStringList Info;  // a command link's note
  bool ElevationRequired = false;
  bool Enabled = true;
  bool Visible = true;
  QPixmap Glyph;
  QPixmap Picture;
  int ImageIndex = -1;
  int PictureIndex = -1;
  // The caption, or "caption - note" with a note.
  QString displayName() const;
};

class TTdCustomButtons {
 public:
  TTdCustomButtonItem& add();
  std::vector<TTdCustomButtonItem>& items() { return FItems; }
  const std::vector<TTdCustomButtonItem>& items() const { return FItems; }
  bool empty() const { return FItems.empty(); }
  void clear() { FItems.clear(); }

 private:
  std::vector<TTdCustomButtonItem> FItems;
};

struct TTdRadioButtonItem {
  QString Caption;
  int Value = 0;
  bool Checked = false;
  bool Enabled = true;
};

class TTdRadioButtons {
 public:
  // A new item is captioned "Radio Button N" by its index; values from 200.
  TTdRadioButtonItem& add();
  std::vector<TTdRadioButtonItem>& items() { return FItems; }
  const std::vector<TTdRadioButtonItem>& items() const { return FItems; }

 private:
  std::vector<TTdRadioButtonItem> FItems;
};

// The window areas the layout cuts the client rectangle into.
enum TTdArea {
  taGlyph = 0,
  taInstruction = 1,
  taContent = 2,
  taExpandedText = 3,
  taRadioButtons = 4,
  taCommandLinks = 5,
  taHeader = 6,
  taFooter = 7,
  taFooterDetails = 8,
  taButtonBar = 9,
  taHelpLink = 10,
  taProgressBar = 11,
  taHeaderAndInstruction = 12
};

class TTdCustomDialog : public QObject {
  Q_OBJECT
  friend class TTdTaskDialogForm;

 public:
  explicit TTdCustomDialog(QObject* Owner = nullptr);
  ~TTdCustomDialog() override;

  // --- Properties -----------------------------------------------------------
  QString title() const { return FTitle; }
  void setTitle(const QString& Title);
  TTaskDialogIcon mainIcon() const { return FMainIcon; }
  // A standard icon loads its picture into Glyph; tdiNone clears it;
  // tdiCustom leaves it.
  void setMainIcon(TTaskDialogIcon Icon);
  const QPixmap& glyph() const { return FGlyph; }
  void setGlyph(const QPixmap& Glyph);
  const QStringList& content() const { return FContent; }
  void setContent(const QStringList& Content);
  TDialogOptions dialogOptions() const { return FDialogOptions; }
  bool hasOption(TDialogOption Option) const { return (FDialogOptions & optionBit(Option)) != 0; }
  void setDialogOptions(TDialogOptions Options);
  int width() const { return FWidth; }
  // A fixed client width; 0 lets the layout choose.
  void setWidth(int Width);
  QColor color() const { return FColor; }
  void setColor(const QColor& Color);
  const TTdFont& font() const { return FFont; }
  void setFont(const TTdFont& Font);

  TTdInstruction Instruction{this};
  TTdExpando Expando{this};
  TTdButtonBarOptions ButtonBar{this};
  TTdCustomButtons CustomButtons;
  TTdRadioButtons RadioButtons;
  TTdRadioButton RadioButton{this};
  TTdVerification Verification{this};
  TTdFooter Footer{this};
  TTdHeader Header{this};
  TTdHelpLink HelpLink{this};
  TTdProgress Progress{this};
  TTdTimer Timer{this};
  TTdBorder Border{this};

  TControlType ActiveControlType = ctButton;
  TDialogPosition Position = dpScreenCenter;
  TTdLocation Location;
  bool UseDefaultFonts = true;
  TTdBorderStyle BorderStyle = bsDialog;
  QIcon Icon;
  bool AllowCancel = true;
  bool AllowMinimize = false;
  int HelpContext = 0;
  TTdHelpType HelpType = htContext;
  QString HelpKeyword;
  Qt::LayoutDirection BiDiMode = Qt::LeftToRight;
  bool ShowHint = false;
  bool UseOldStyleSetting = true;

  // --- Events ---------------------------------------------------------------
  std::function<void(TTdCustomDialog*)> OnCreated, OnDestroyed, OnDialogConstructed, OnDialogClose,
      OnCleanUpDialog, OnDialogExpand, OnDialogCollapse;
  // Handled keeps the dialog open.
  std::function<void(TTdCustomDialog*, TControlType, QWidget* Control, int Value, bool& Handled)> OnControlClick;
  std::function<void(TTdCustomDialog*, bool& Handled)> OnHelpButtonClick, OnHelpLinkClick;
  // Item is the custom button item, nullptr for the other controls.
  std::function<void(TTdCustomDialog*, TControlType, QWidget* Control, const TTdCustomButtonItem* Item,
                     bool& Handled)>
      OnInitControl;
  // Another class for a kind of control; one that does not derive from the
  // default class's base (QPushButton for buttons, else the default class)
  // is not taken.
  std::function<void(TTdCustomDialog*, TControlType, TTdControlClass& ControlClass)> OnGetControlClass;
  std::function<void(TTdCustomDialog*, QString& FileName)> OnGetMoreFileName;
  std::function<void(TTdCustomDialog*, QByteArray& Stream)> OnGetMoreStream;
  std::function<void(TTdCustomDialog*, QWidget* Control, bool& VerificationResult)> OnGetVerificationResult;
  std::function<void(TTdCustomDialog*, QWidget* Control, bool& Checked, bool& Handled)> OnGetRadioButtonChecked;
  std::function<void(TTdCustomDialog*, bool Checked)> OnVerificationClick;
  // A key went down in the window, before the dialog's own keys.
  std::function<void(TTdCustomDialog*, QKeyEvent*)> OnKeyPress;
  std::function<void(TTdCustomDialog*, int Position)> OnProgress;
  std::function<void(TTdCustomDialog*, QWidget* Control, int Position, bool& CloseDialog)> OnUpdateProgressBar;
  std::function<void(TTdCustomDialog*, QWidget* Control, TProgressBarState State)> OnUpdateProgressBarState;
  // Milliseconds since the previous tick, 0 at the first.
  std::function<void(TTdCustomDialog*, unsigned TimeSince)> OnTimer;

  // Copies every setting and event handler of Source; its own window and
  // controls stay as they are and are laid out again.
  void Assign(const TTdCustomDialog& Source);

  // --- Running --------------------------------------------------------------
  // Shows the dialog over the active window (or Owner when it is a widget)
  // and returns its modal result.
  virtual int Execute();
  // Ends a shown dialog with Result; -1 when it is not shown.
  int CloseDialog(int Result);
  // The window while shown.
  TTdTaskDialogForm* form() const;

  // --- Layout (TdDialogLayout.cpp) -----------------------------------------
  // The metrics and logical dpi the layout measures with; the screen's by
  // default.
  void setLayoutMetrics(const TTdTextMetrics* Metrics, int PixelsPerInch);
  const TTdTextMetrics& metrics() const { return *FMetrics; }
  int pixelsPerInch() const { return FPixelsPerInch; }

  virtual void PrepareTexts();
  virtual void CalculateLayout();
  QRect GetAreaRect(int Area) const;
  virtual int GetMinWidth() const;
  virtual int GetExpandoAreaHeight() const;
  virtual bool UseMinimumHeight() const { return true; }
  virtual int GetExtraHeight() const { return 0; }
  virtual int GetExtraWidth() const { return 0; }

  // The size of every common button of this dialog, and their rectangles
  // in ButtonBar.Buttons order (cbClose included) from the last layout.
  QSize commonButtonSize() const;
  std::vector<std::pair<TCommonButton, QRect>> commonButtonRects() const;
  // The expand label's rectangle and the width reserved for it.
  QRect moreLabelRect() const;
  int moreLabelWidth() const;
  bool detailsExpanded() const { return Expando.visible() && Expando.showing(); }

  int FTextLeft = 10;
  int FTextRightMargin = 10;
  const int FSectionGap = 8;
  const int FItemGap = 4;
  const int FEdgeMargin = 8;
  const int FButtonGap = 4;
  int FButtonBarHeight = 41;
  int FClientWidth = 0;
  int FClientHeight = 0;
  int FButtonsLeft = -1;

  // --- Controls (TdDialogControls.cpp) --------------------------------------
  const std::vector<QPushButton*>& commonButtons() const { return FCommonButtons; }
  QPushButton* commonButton(TCommonButton Button) const;
  // The class a kind of control is made with: the default one unless
  // OnGetControlClass names another. Empty for kinds this dialog does not
  // make (progress bars, radio groups).
  virtual TTdControlClass GetDefaultControlClass(TControlType ControlType) const;
  TTdControlClass GetControlClass(TControlType ControlType);
  TTdMoreLabel* moreLabel() const { return FMoreLabel; }
  TTdRichEdit* moreEdit() const { return FMoreEdit; }
  TTdCaptionControl* footerText() const { return FFooterText; }
  TTdCheckBox* verificationBox() const { return FVerificationBox; }
  // The custom buttons' or command links' controls, in item order (hidden
  // items have none); the radio buttons, and their group with a border.
  const std::vector<QPushButton*>& customButtonControls() const { return FCustomButtonControls; }
  const std::vector<QAbstractButton*>& radioControls() const { return FRadioControls; }
  QGroupBox* radioGroup() const { return FRadioGroup; }
  TTdCaptionControl* helpLink() const { return FHelpLink; }
  // A TTdProgressBarEx or TTdProgressBarMarquee unless OnGetControlClass
  // chose the self-drawn TTdProgressBar.
  QWidget* progressBar() const { return FProgressBar; }
  bool hasProgressBar() const { return hasOption(doProgressBar) || hasOption(doProgressBarMarquee); }
  // A click on the help link: OnHelpLinkClick, else the application's help;
  // with neither, throws TdNoHelpFileException.
  virtual void DoHelpLinkClick();
  // Restarts the progress bar's marquee.
  virtual void StartProgress();
  bool commandLinks() const { return hasOption(doCommandLinks) || hasOption(doCommandLinksNoIcon); }
  // Enables or disables a custom button item (Value 100 and up) or the
  // common button whose modal result is Value, and its control while shown.
  void setButtonEnabled(int Value, bool Enabled);
  // A plain custom button's width: at least the common base width, and room
  // for its caption (and a shield).
  int customButtonWidth(const TTdCustomButtonItem& Item) const;
  // The height of one radio button's line.
  int radioTextHeight() const;
  QWidget* defaultControl() const { return FDefaultControl; }
  QWidget* cancelControl() const { return FCancelControl; }

  // Runs a click of a common button (not Help) or a custom button.
  virtual void ButtonClick(QWidget* Control);
  // Expands or collapses the details as a click on the expand label does.
  void ToggleExpando();

  // --- Painting (TdDialogPaint.cpp) ----------------------------------------
  // The whole client area, in the order the parts overlap.
  virtual void Paint(QPainter& Canvas);
  virtual void PaintInstruction(QPainter& Canvas, const QRect& Rect);
  virtual void PaintContent(QPainter& Canvas, const QRect& Rect);
  virtual void PaintExpandedText(QPainter& Canvas, const QRect& Rect);
  virtual void PaintGlyph(QPainter& Canvas, const QRect& Rect);
  virtual void PaintHeader(QPainter& Canvas, const QRect& Rect);
  virtual void PaintExtra(QPainter&, const QRect&) {}
  virtual void PaintButtonBar(QPainter& Canvas, const QRect& Rect);
  virtual void PaintFooter(QPainter& Canvas);
  // A divider line with a white line below it.
  virtual void PaintDivider(QPainter& Canvas, const QRect& Rect);

  // Results after closing.
  int FModalResult = 0;
  bool FVerificationChecked = false;
  int FRadioResult = -1;
  int FLastControlValue = 0;

 protected:
  virtual int ShowDialogForm(QWidget* Owner);
  virtual void RealignControls();
  virtual void CreateControls();
  virtual void CreateCommonButtons();
  virtual void PositionCommonButtons();
  virtual void CreateCustomButtons();
  virtual void PositionCustomButtons();
  virtual void CreateRadioButtons();
  virtual void PositionRadioButtons();
  // Frees the buttons, links, radio buttons, expand label and verification
  // box; a shown dialog keeps the box's state as its initial state.
  virtual void FreeButtonControls();
  virtual bool GetRadioButtonChecked(QAbstractButton* Control);
  virtual void CreateHelpLink();
  virtual void PositionHelpLink();
  virtual void CreateProgressBar();
  virtual void PositionProgressBar();
  virtual void DoControlClick(TControlType ControlType, QWidget* Control, int Value, bool& Handled);
  virtual void CreateMoreLabel();
  virtual void PositionMoreLabel();
  virtual void CreateFooterText();
  virtual void PositionFooterText();
  virtual void CreateMoreEdit();
  virtual void CreateVerification();
  virtual void PositionVerification();
  virtual void LoadMoreText();
  virtual void FreeDialogControls();
  virtual QWidget* GetActiveControl() const;
  virtual void DoHelpButtonClick();
  virtual void DoDialogExpand();
  virtual void DoDialogCollapse();
  virtual void DoDialogClose();
  virtual bool GetVerificationResult() const;

 private:
  void optionChanged(TTdChangePersistent* Source);
  void reloadMainIcon();
  void applyFormSize();
  void expandedChanged(bool Expanded);
  void formDestroying();
  void startTimer();
  // Where the parts below the content start: after the content and the
  // details shown in the body.
  int bodyBottom() const;
  int radioAreaHeight() const;
  int commandLinksHeight() const;
  void recreateButtonControls();
  void verificationChanged();
  int radioResult();
  int helpLinkHeight() const;
  // Copies Progress to the bar.
  void applyProgress();
  // A control made by the class of ControlType, as a T; the default class
  // when the chosen one makes something else.
  template <class T>
  T* makeControl(TControlType ControlType);

  QString FTitle;
  TTaskDialogIcon FMainIcon = tdiNone;
  QPixmap FGlyph;
  QStringList FContent;
  TDialogOptions FDialogOptions = optionBit(doModal);
  int FWidth = 0;
  QColor FColor;
  TTdFont FFont;

  const TTdTextMetrics* FMetrics;
  int FPixelsPerInch = 96;
  mutable int FExpandLabelWidth = -1;

  QPointer<TTdTaskDialogForm> FForm;
  std::vector<QPushButton*> FCommonButtons;
  TTdMoreLabel* FMoreLabel = nullptr;
  TTdRichEdit* FMoreEdit = nullptr;
  TTdCaptionControl* FFooterText = nullptr;
  TTdCheckBox* FVerificationBox = nullptr;
  std::vector<QPushButton*> FCustomButtonControls;
  std::vector<QAbstractButton*> FRadioControls;
  QGroupBox* FRadioGroup = nullptr;
  TTdCaptionControl* FHelpLink = nullptr;
  QWidget* FProgressBar = nullptr;
  QWidget* FDefaultControl = nullptr;
  QWidget* FCancelControl = nullptr;
  QTimer* FTimer = nullptr;
  qint64 FLastTick = 0;
  int FResult = 0;
  bool FClosedByButton = false;
  bool FLayingOut = false;
  bool FRealigning = false;
  bool FApplyingFonts = false;
  bool FExpanding = false;
  bool FAssigning = false;
  bool FCloseRecorded = false;
};

// Publishes the properties and events; adds no behaviour.
class TTdDialog : public TTdCustomDialog {
  Q_OBJECT
 public:
  using TTdCustomDialog::TTdCustomDialog;
};

// Raised by a help-link click that nothing can answer.
class TdNoHelpFileException : public std::runtime_error {
 public:
  explicit TdNoHelpFileException(const QString& Message)
      : std::runtime_error(Message.toStdString()), FMessage(Message) {}
  QString message() const { return FMessage; }

 private:
  QString FMessage;
};

// Where the Help button goes when no OnHelpButtonClick handles it: the
// application's help for a help context. Unset, Help does nothing.
extern std::function<void(int HelpContext)> TdApplicationHelp;

// The main icon of a standard kind at Size pixels: the desktop theme's,
// else the widget style's; the shield is our own drawing. Null for tdiNone
// and tdiCustom.
QPixmap TdStandardIcon(TTaskDialogIcon Icon, int Size = 32);
bool TdIsStandardIcon(TTaskDialogIcon Icon);

// The modal result a control carries in its tag (common buttons) or the
// value of its item (custom buttons); 0 when it has none.
int TdControlTag(const QWidget* Control);

// The text Ctrl+C copies from a dialog.
QString GetDialogText(const TTdCustomDialog& Dialog);
