#include "taskdialog/TdDialog.h"

#include <QApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "taskdialog/TdButton.h"
#include "taskdialog/TdCheckBox.h"
#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdDialogLayout.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"
#include "taskdialog/TdRichEdit.h"
#include "unicode/qt/UniStdCtrls.h"

std::function<void(int HelpContext)> TdApplicationHelp;

// --- Default fonts -----------------------------------------------------------

TTdDefaultFonts::TTdDefaultFonts() {
  const TTdFont dialog{QApplication::font(), Qt::black};
  FFonts.fill(dialog);
  FFonts[1].Font.setPointSize(12);
  FFonts[1].Color = TdColor(0x993300);
}

TTdDefaultFonts& DefaultDialogFonts() {
  static TTdDefaultFonts fonts;
  return fonts;
}

void SetDefaultDialogFont(int Index, const TTdFont& Font) { DefaultDialogFonts().font(Index) = Font; }

TTdFont& GetDefaultDialogFont(int Index) { return DefaultDialogFonts().font(Index); }

// --- Option objects -------------------------------------------------------------

TTdInstruction::TTdInstruction(TTdCustomDialog* Dialog) : TTdTextSection(Dialog) {
  setFont(GetDefaultDialogFont(1));
}

void TTdInstruction::setIcon(TTaskDialogIcon Icon) {
  if (Icon != tdiCustom)
    FGlyph = {};
  if (FIcon == Icon)
    return;
  FIcon = Icon;
  Changed();
}

TTdExpando::TTdExpando(TTdCustomDialog* Dialog) : TTdTextSection(Dialog) { setFont(GetDefaultDialogFont(0)); }

TTdBaseOptions::TTdBaseOptions(TTdCustomDialog* Dialog, QColor Color) : TTdDialogOwnedPersistent(Dialog) {
  FColor = Color;
  FFont = GetDefaultDialogFont(0);
}

TTdHeader::TTdHeader(TTdCustomDialog* Dialog)
    : TTdBaseOptions(Dialog, QApplication::palette().color(QPalette::Base)) {}

TTdFooter::TTdFooter(TTdCustomDialog* Dialog)
    : TTdBaseOptions(Dialog, QApplication::palette().color(QPalette::Button)) {}

TTdButtonBarOptions::TTdButtonBarOptions(TTdCustomDialog* Dialog) : TTdDialogOwnedPersistent(Dialog) {
  FColor = QApplication::palette().color(QPalette::Button);
}

TTdHelpLink::TTdHelpLink(TTdCustomDialog* Dialog) : TTdDialogOwnedPersistent(Dialog) {
  FFont = GetDefaultDialogFont(0);
  FFont.Font.setUnderline(true);
  FFont.Color = TdColor(0xFF0000);
}

QString TTdCustomButtonItem::displayName() const {
  const QString note = Info.join(QStringLiteral("\r\n"));
  return note.isEmpty() ? Caption : QStringLiteral("%1 - %2").arg(Caption, note);
}

TTdCustomButtonItem& TTdCustomButtons::add() {
  TTdCustomButtonItem item;
  item.Value = static_cast<int>(FItems.size()) + 100;
  return FItems.emplace_back(std::move(item));
}

TTdRadioButtonItem& TTdRadioButtons::add() {
  TTdRadioButtonItem item;
  item.Caption = QStringLiteral("Radio Button %1").arg(FItems.size());
  item.Value = static_cast<int>(FItems.size()) + 200;
  return FItems.emplace_back(std::move(item));
}

// --- Icons ---------------------------------------------------------------------

namespace {

QPixmap shieldIcon(int Size) {
  QPixmap pixmap(Size, Size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(Size / 32.0, Size / 32.0);
  QPainterPath shield;
  shield.moveTo(16, 1.5);
  shield.cubicTo(21, 4.5, 25, 5.5, 29, 5.5);
  shield.cubicTo(29, 18, 25, 26, 16, 30.5);
  shield.cubicTo(7, 26, 3, 18, 3, 5.5);
  shield.cubicTo(7, 5.5, 11, 4.5, 16, 1.5);
  shield.closeSubpath();
  painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.2));
  painter.setBrush(QColor(0x2B, 0x5C, 0xB8));
  painter.drawPath(shield);
  // Quartered in the colours of the system's security shield.
  painter.setClipPath(shield);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xF2, 0xC1, 0x1D));
  painter.drawRect(QRectF(16, 0, 16, 16));
  painter.drawRect(QRectF(0, 16, 16, 16));
  return pixmap;
}

}  // namespace

QPixmap TdStandardIcon(TTaskDialogIcon Icon, int Size) {
  const char* theme = nullptr;
  QStyle::StandardPixmap fallback = QStyle::SP_MessageBoxWarning;
  switch (Icon) {
    case tdiWarning: theme = "dialog-warning"; fallback = QStyle::SP_MessageBoxWarning; break;
    case tdiError: theme = "dialog-error"; fallback = QStyle::SP_MessageBoxCritical; break;
    case tdiInformation: theme = "dialog-information"; fallback = QStyle::SP_MessageBoxInformation; break;
    case tdiConfirmation: theme = "dialog-question"; fallback = QStyle::SP_MessageBoxQuestion; break;
    case tdiShield: return shieldIcon(Size);
    case tdiNone:
    case tdiCustom: return {};
  }
  QIcon icon = QIcon::fromTheme(QString::fromLatin1(theme));
  if (icon.isNull())
    icon = QApplication::style()->standardIcon(fallback);
  return icon.pixmap(Size, Size);
}

int TdControlTag(const QWidget* Control) { return Control ? Control->property("Tag").toInt() : 0; }

// --- The dialog -----------------------------------------------------------------

TTdCustomDialog::TTdCustomDialog(QObject* Owner)
    : QObject(Owner),
      FColor(QApplication::palette().color(QPalette::Base)),
      FFont(GetDefaultDialogFont(0)),
      FMetrics(&TdScreenMetrics()) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  setLayoutMetrics(&TdScreenMetrics(), screen ? qRound(screen->logicalDotsPerInch()) : 96);
  const auto listen = [this](TTdChangePersistent* Source) { optionChanged(Source); };
  for (TTdChangePersistent* option : std::initializer_list<TTdChangePersistent*>{
           &Instruction, &Expando, &ButtonBar, &RadioButton, &Verification, &Footer, &Header, &HelpLink, &Progress,
           &Timer, &Border})
    option->OnChange = listen;
}

TTdCustomDialog::~TTdCustomDialog() {
  // A dialog freed while its window is up takes the window with it.
  delete FForm.data();
}

void TTdCustomDialog::setTitle(const QString& Title) {
  FTitle = Title;
  if (FForm)
    FForm->setWindowTitle(Title);
}

void TTdCustomDialog::setMainIcon(TTaskDialogIcon Icon) {
  FMainIcon = Icon;
  reloadMainIcon();
}

void TTdCustomDialog::reloadMainIcon() {
  const QSize before = FGlyph.size();
  if (FMainIcon == tdiNone)
    FGlyph = {};
  else if (FMainIcon != tdiCustom)
    FGlyph = TdStandardIcon(FMainIcon, 32);
  if (FForm && FForm->isVisible()) {
    if (before != FGlyph.size()) {
      CalculateLayout();
      RealignControls();
    }
    FForm->update();
  }
}

void TTdCustomDialog::setGlyph(const QPixmap& Glyph) {
  FGlyph = Glyph;
  if (FForm)
    FForm->update(GetAreaRect(taGlyph));
}

void TTdCustomDialog::setContent(const QStringList& Content) {
  if (FContent == Content)
    return;
  FContent = Content;
  optionChanged(nullptr);
}

void TTdCustomDialog::setDialogOptions(TDialogOptions Options) {
  if (FDialogOptions == Options)
    return;
  FDialogOptions = Options;
  // The option set decides which buttons exist and what kind they are.
  if (FForm && !FAssigning)
    recreateButtonControls();
  optionChanged(nullptr);
}

void TTdCustomDialog::setWidth(int Width) {
  if (FWidth == Width)
    return;
  FWidth = Width;
  optionChanged(nullptr);
}

void TTdCustomDialog::setColor(const QColor& Color) {
  FColor = Color;
  if (FForm)
    FForm->update();
}

void TTdCustomDialog::setFont(const TTdFont& Font) {
  FFont = Font;
  // A font of its own: the default fonts no longer apply.
  if (!FApplyingFonts)
    UseDefaultFonts = false;
  optionChanged(nullptr);
}

void TTdCustomDialog::Assign(const TTdCustomDialog& S) {
  if (&S == this)
    return;
  FAssigning = true;
  OnCreated = S.OnCreated;
  OnDestroyed = S.OnDestroyed;
  OnDialogConstructed = S.OnDialogConstructed;
  OnDialogClose = S.OnDialogClose;
  OnCleanUpDialog = S.OnCleanUpDialog;
  OnDialogExpand = S.OnDialogExpand;
  OnDialogCollapse = S.OnDialogCollapse;
  OnControlClick = S.OnControlClick;
  OnHelpButtonClick = S.OnHelpButtonClick;
  OnHelpLinkClick = S.OnHelpLinkClick;
  OnInitControl = S.OnInitControl;
  OnGetMoreFileName = S.OnGetMoreFileName;
  OnGetMoreStream = S.OnGetMoreStream;
  OnGetVerificationResult = S.OnGetVerificationResult;
  OnGetRadioButtonChecked = S.OnGetRadioButtonChecked;
  OnVerificationClick = S.OnVerificationClick;
  OnKeyPress = S.OnKeyPress;
  OnProgress = S.OnProgress;
  OnUpdateProgressBar = S.OnUpdateProgressBar;
  OnUpdateProgressBarState = S.OnUpdateProgressBarState;
  OnTimer = S.OnTimer;
  Instruction = S.Instruction;
  Expando = S.Expando;
  ButtonBar = S.ButtonBar;
  CustomButtons = S.CustomButtons;
  RadioButtons = S.RadioButtons;
  RadioButton = S.RadioButton;
  Verification = S.Verification;
  Footer = S.Footer;
  Header = S.Header;
  HelpLink = S.HelpLink;
  Progress = S.Progress;
  Timer = S.Timer;
  Border = S.Border;
  FContent = S.FContent;
  FGlyph = S.FGlyph;
  FFont = S.FFont;
  FColor = S.FColor;
  FTitle = S.FTitle;
  FMainIcon = S.FMainIcon;
  FDialogOptions = S.FDialogOptions;
  UseDefaultFonts = S.UseDefaultFonts;
  Location = S.Location;
  Icon = S.Icon;
  BorderStyle = S.BorderStyle;
  AllowCancel = S.AllowCancel;
  AllowMinimize = S.AllowMinimize;
  Position = S.Position;
  FWidth = S.FWidth;
  HelpContext = S.HelpContext;
  HelpType = S.HelpType;
  HelpKeyword = S.HelpKeyword;
  ActiveControlType = S.ActiveControlType;
  BiDiMode = S.BiDiMode;
  ShowHint = S.ShowHint;
  UseOldStyleSetting = S.UseOldStyleSetting;
  FExpandLabelWidth = -1;
  FAssigning = false;
  if (FForm)
    FForm->setWindowTitle(FTitle);
  optionChanged(nullptr);
}

void TTdCustomDialog::optionChanged(TTdChangePersistent* Source) {
  if (Source == &Expando)
    FExpandLabelWidth = -1;
  if (!FForm || FLayingOut || FRealigning || FApplyingFonts || FExpanding || FAssigning)
    return;
  if (Source == &Progress) {
    applyProgress();
    return;
  }
  if (Source == &Timer) {
    if (FTimer)
      FTimer->setInterval(Timer.interval());
    return;
  }
  if (Source == &Verification)
    verificationChanged();
  if (FFooterText && Source == &Footer) {
    FFooterText->setText(Footer.text().split(QStringLiteral("\r\n")));
    FFooterText->setVisible(Footer.visible());
  }
  CalculateLayout();
  RealignControls();
  FForm->update();
}

void TTdCustomDialog::applyFormSize() {
  if (!FForm)
    return;
  const QSize size(FClientWidth, FClientHeight);
  if (FForm->size() != size)
    FForm->setClientSize(size);
}

int TTdCustomDialog::Execute() {
  QWidget* owner = qobject_cast<QWidget*>(parent());
  if (!owner) {
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible())
      owner = active;
  }
  if (!owner) {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (qobject_cast<QMainWindow*>(top) && top->isVisible()) {
        owner = top;
        break;
      }
  }
  return ShowDialogForm(owner);
}

int TTdCustomDialog::ShowDialogForm(QWidget* Owner) {
  if (FForm && FForm->isVisible()) {
    FForm->show();
    FForm->raise();
    FForm->activateWindow();
    return -1;
  }
  FClosedByButton = false;
  FCloseRecorded = false;
  FForm = new TTdTaskDialogForm(this, Owner ? Owner->window() : nullptr);
  if (OnCreated)
    OnCreated(this);

  if (UseDefaultFonts) {
    FApplyingFonts = true;
    FFont = GetDefaultDialogFont(0);
    Instruction.Updating = Footer.Updating = Expando.Updating = true;
    Instruction.setFont(GetDefaultDialogFont(1));
    Footer.setFont(GetDefaultDialogFont(3));
    Expando.setFont(GetDefaultDialogFont(4));
    Instruction.Updating = Footer.Updating = Expando.Updating = false;
    FApplyingFonts = false;
  }
  FForm->setFont(FFont.Font);
  FForm->setLayoutDirection(BiDiMode);

  CreateControls();
  reloadMainIcon();
  CalculateLayout();
  RealignControls();

  FForm->setWindowIcon(Icon);
  FForm->setWindowTitle(FTitle);
  FForm->setWindowButtons(AllowCancel, AllowMinimize, hasOption(doTopMost));

  // Placement, now that the size is known.
  const QSize size = FForm->size();
  QRect frame;
  switch (Position) {
    case dpDesigned: FForm->move(Location.Left, Location.Top); break;
    case dpDesktopCenter: frame = QGuiApplication::primaryScreen()->virtualGeometry(); break;
    case dpMainFormCenter:
      for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(top) && top->isVisible()) {
          frame = top->frameGeometry();
          break;
        }
      break;
    case dpOwnerFormCenter:
      if (Owner)
        frame = Owner->window()->frameGeometry();
      break;
    case dpScreenCenter: break;
  }
  if (Position != dpDesigned) {
    if (frame.isEmpty()) {
      const QScreen* screen = Owner ? Owner->screen() : QGuiApplication::primaryScreen();
      if (screen)
        frame = screen->availableGeometry();
    }
    FForm->move(frame.center() - QPoint(size.width() / 2, size.height() / 2));
  }

  if (AllowCancel)
    FResult = mrCancel;
  if (OnDialogConstructed)
    OnDialogConstructed(this);
  if (hasOption(doTimer))
    startTimer();

  if (!hasOption(doModal)) {
    FModalResult = 0;
    FForm->setAttribute(Qt::WA_DeleteOnClose);
    FForm->show();
    return -1;
  }
  FForm->exec();
  const int result = FModalResult;
  delete FForm.data();
  return result;
}

void TTdCustomDialog::startTimer() {
  FLastTick = 0;
  FTimer = new QTimer(FForm);
  FTimer->setInterval(Timer.interval());
  QObject::connect(FTimer, &QTimer::timeout, this, [this] {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const unsigned since = FLastTick == 0 ? 0 : static_cast<unsigned>(now - FLastTick);
    FLastTick = now;
    if (OnTimer)
      OnTimer(this, since);
  });
  FTimer->start();
}

int TTdCustomDialog::CloseDialog(int Result) {
  if (!FForm)
    return -1;
  FResult = FModalResult = Result;
  Progress.Updating = true;
  Progress.setPosition(0);
  Progress.Updating = false;
  FClosedByButton = true;
  FForm->close();
  return Result;
}

bool TTdCustomDialog::GetVerificationResult() const {
  bool result = FVerificationBox ? FVerificationBox->checked() : false;
  if (!FVerificationBox && OnGetVerificationResult)
    OnGetVerificationResult(const_cast<TTdCustomDialog*>(this), nullptr, result);
  return result;
}

void TTdCustomDialog::ButtonClick(QWidget* Control) {
  const int tag = TdControlTag(Control);
  TControlType type = ctButton;
  if (std::find(FCommonButtons.begin(), FCommonButtons.end(), Control) != FCommonButtons.end() && tag <= 10) {
    FResult = tag;
  } else {
    type = ctCommandLink;
    FResult = 0;
    for (const TTdCustomButtonItem& item : CustomButtons.items())
      if (item.Value == tag)
        FResult = item.ModalResult;
  }
  bool handled = false;
  DoControlClick(type, Control, tag, handled);
  if (!handled) {
    FClosedByButton = true;
    CloseDialog(FResult);
  }
}

void TTdCustomDialog::DoHelpButtonClick() {
  bool handled = false;
  if (OnHelpButtonClick)
    OnHelpButtonClick(this, handled);
  if (!handled && TdApplicationHelp)
    TdApplicationHelp(HelpContext);
}

void TTdCustomDialog::DoDialogClose() {
  if (FCloseRecorded)
    return;
  FCloseRecorded = true;
  if (!FClosedByButton)
    FResult = mrCancel;
  FModalResult = FResult;
  FVerificationChecked = GetVerificationResult();
  FRadioResult = radioResult();
  if (FTimer)
    FTimer->stop();
  if (OnDialogClose)
    OnDialogClose(this);
}

void TTdCustomDialog::ToggleExpando() {
  if (FMoreLabel)
    FMoreLabel->setExpanded(!FMoreLabel->expanded());
  else
    expandedChanged(!Expando.showing());
}

void TTdCustomDialog::expandedChanged(bool Expanded) {
  if (FMoreLabel)
    FMoreLabel->setCaption(Expanded ? Expando.hideText() : Expando.showText());
  FExpanding = true;
  if (Expanded)
    DoDialogExpand();
  else
    DoDialogCollapse();
  FExpanding = false;
  CalculateLayout();
  RealignControls();
  if (FForm)
    FForm->update();
}

void TTdCustomDialog::DoDialogExpand() {
  Expando.setShowing(true);
  if (OnDialogExpand)
    OnDialogExpand(this);
}

void TTdCustomDialog::DoDialogCollapse() {
  Expando.setShowing(false);
  if (OnDialogCollapse)
    OnDialogCollapse(this);
}

void TTdCustomDialog::formDestroying() {
  if (OnCleanUpDialog)
    OnCleanUpDialog(this);
  FreeDialogControls();
  FTimer = nullptr;
  if (OnDestroyed)
    OnDestroyed(this);
}

QWidget* TTdCustomDialog::GetActiveControl() const {
  QWidget* control = nullptr;
  switch (ActiveControlType) {
    case ctCheckBox: control = FVerificationBox; break;
    case ctMoreButton: control = FMoreLabel; break;
    case ctRichEdit: control = FMoreEdit; break;
    case ctURLLabel: control = FFooterText; break;
    case ctCommandLink:
      if (!FCustomButtonControls.empty())
        control = FCustomButtonControls.front();
      break;
    case ctRadioButton:
      if (!FRadioControls.empty())
        control = FRadioControls.front();
      break;
    case ctLinkLabel: control = FHelpLink; break;
    default: break;
  }
  return control ? control : FDefaultControl;
}

// --- Clipboard text -----------------------------------------------------------------

namespace {

const QString CRLF = QStringLiteral("\r\n");

QString withoutFirstAmpersand(QString Text) {
  const qsizetype at = Text.indexOf(u'&');
  if (at >= 0)
    Text.remove(at, 1);
  return Text;
}

QString listText(const QStringList& Lines) {
  QString text;
  for (const QString& line : Lines)
    text += line + CRLF;
  return text;
}

}  // namespace

QString GetDialogText(const TTdCustomDialog& D) {
  QString text = QStringLiteral("[Window Title]") + CRLF + D.title() + CRLF + CRLF;
  if (D.Header.visible())
    text += QStringLiteral("[Header]") + CRLF + D.Header.text() + CRLF + CRLF;
  if (!D.Instruction.text().isEmpty())
    text += QStringLiteral("[Main Instruction]") + CRLF + D.Instruction.text() + CRLF + CRLF;
  if (!D.content().isEmpty())
    text += QStringLiteral("[Content]") + CRLF + listText(D.content()) + CRLF + CRLF;
  if (D.Expando.visible() && !D.Expando.showInFooter())
    text += QStringLiteral("[Expanded Information]") + CRLF + listText(D.Expando.lines()) + CRLF + CRLF;
  const bool commandLinks = D.hasOption(doCommandLinks) || D.hasOption(doCommandLinksNoIcon);
  // The buttons as their controls show them while the dialog is up, else
  // as the items describe them.
  struct Shown {
    QString Caption;
    QStringList Note;
  };
  std::vector<Shown> custom;
  if (D.form()) {
    for (const QPushButton* control : D.customButtonControls()) {
      const auto* link = qobject_cast<const TTdCommandLinkButton*>(control);
      custom.push_back({uni::UniControlGetText(control), link ? link->info() : QStringList()});
    }
  } else {
    for (const TTdCustomButtonItem& item : D.CustomButtons.items())
      custom.push_back({item.Caption, item.Info});
  }
  if (commandLinks) {
    for (const Shown& link : custom) {
      text += QStringLiteral("[") + link.Caption + QStringLiteral("]") + CRLF;
      if (!link.Note.join(QString()).trimmed().isEmpty())
        text += QStringLiteral("  ") + listText(link.Note) + CRLF;
    }
    text += CRLF;
  }
  if (D.hasOption(doShowHelpLink) && !D.HelpLink.text().isEmpty())
    text += QStringLiteral("[HelpLink]") + CRLF + D.HelpLink.text() + CRLF + CRLF;
  if (D.Expando.visible()) {
    const bool expanded = D.moreLabel() ? D.moreLabel()->expanded() : D.Expando.showing();
    text += (expanded ? QStringLiteral("[^] ") : QStringLiteral("[V] ")) +
            withoutFirstAmpersand(expanded ? D.Expando.hideText() : D.Expando.showText()) + QStringLiteral("  ");
    if (D.Verification.visible())
      text += CRLF;
  }
  if (D.Verification.visible()) {
    const bool checked = D.verificationBox() ? D.verificationBox()->checked() : D.Verification.initialState();
    text += (checked ? QStringLiteral("[X] ") : QStringLiteral("[ ] ")) + withoutFirstAmpersand(D.Verification.text()) +
            QStringLiteral("  ");
  }
  if (D.CustomButtons.empty() || (commandLinks && D.ButtonBar.visible())) {
    for (int b = 0; b < CommonButtonCount; ++b)
      if (hasButton(D.ButtonBar.buttons(), static_cast<TCommonButton>(b)))
        text += QStringLiteral("[") + withoutFirstAmpersand(TdCommonButtonCaption(static_cast<TCommonButton>(b))) +
                QStringLiteral("] ");
    text += CRLF + CRLF;
  } else if (!D.Verification.visible() && !D.Expando.visible()) {
    text += CRLF;
  }
  if (!D.CustomButtons.empty() && !commandLinks) {
    for (const Shown& button : custom)
      text += QStringLiteral("[") + button.Caption + QStringLiteral("] ");
    text += CRLF;
  }
  if (D.Footer.visible())
    text += QStringLiteral("[Footer]") + CRLF + D.Footer.text() + CRLF;
  if (D.Expando.visible() && D.Expando.showInFooter()) {
    text += CRLF + QStringLiteral("[Expanded Information]") + CRLF + listText(D.Expando.lines());
    if (D.moreEdit())
      text += CRLF + CRLF;
  }
  return text;
}

TTdTaskDialogForm* TTdCustomDialog::form() const { return FForm.data(); }
