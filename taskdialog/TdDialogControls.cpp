// The controls of the drawn task dialog: created in tab order when the
// dialog is shown, placed after every layout, freed with the window.

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QStyle>

#include <span>
#include <utility>

#include "taskdialog/TdButton.h"
#include "taskdialog/TdCheckBox.h"
#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdDialogLayout.h"
#include "taskdialog/TdDialogStrs.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"
#include "taskdialog/TdMessageDlg.h"
#include "taskdialog/TdProgressBar.h"
#include "taskdialog/TdRichEdit.h"
#include "unicode/qt/UniMenus.h"
#include "unicode/qt/UniStdCtrls.h"

namespace {

void setButtonColor(QWidget* Control, const QColor& Color) {
  QPalette palette = Control->palette();
  palette.setColor(QPalette::Button, Color);
  palette.setColor(QPalette::Window, Color);
  Control->setPalette(palette);
  Control->setAutoFillBackground(false);
}

}  // namespace

TTdControlClass TTdCustomDialog::GetDefaultControlClass(TControlType ControlType) const {
  switch (ControlType) {
    case ctCommandLink:
      if (commandLinks())
        return [](QWidget* Parent) -> QWidget* { return new TTdCommandLinkButton(Parent); };
      [[fallthrough]];
    case ctButton: return [](QWidget* Parent) -> QWidget* { return new uni::TUniButton(Parent); };
    case ctCheckBox: return [](QWidget* Parent) -> QWidget* { return new TTdCheckBox(Parent); };
    case ctMoreButton: return [](QWidget* Parent) -> QWidget* { return new TTdMoreLabel(Parent); };
    case ctRichEdit: return [](QWidget* Parent) -> QWidget* { return new TTdRichEdit(Parent); };
    case ctLinkLabel:
    case ctURLLabel: return [](QWidget* Parent) -> QWidget* { return new TTdCaptionControl(Parent); };
    case ctRadioButton: return [](QWidget* Parent) -> QWidget* { return new uni::TUniRadioButton(Parent); };
    case ctProgressBar:
      if (hasOption(doProgressBarMarquee))
        return [](QWidget* Parent) -> QWidget* { return new TTdProgressBarMarquee(Parent); };
      return [](QWidget* Parent) -> QWidget* { return new TTdProgressBarEx(Parent); };
    case ctRadioGroup: break;
  }
  return {};
}

TTdControlClass TTdCustomDialog::GetControlClass(TControlType ControlType) {
  TTdControlClass chosen = GetDefaultControlClass(ControlType);
  if (OnGetControlClass)
    OnGetControlClass(this, ControlType, chosen);
  return chosen ? chosen : GetDefaultControlClass(ControlType);
}

template <class T>
T* TTdCustomDialog::makeControl(TControlType ControlType) {
  QWidget* made = GetControlClass(ControlType)(FForm);
  if (auto* control = qobject_cast<T*>(made))
    return control;
  delete made;
  return qobject_cast<T*>(GetDefaultControlClass(ControlType)(FForm));
}

void TTdCustomDialog::CreateControls() {
  // Creation order is the tab order.
  CreateProgressBar();
  CreateHelpLink();
  CreateRadioButtons();
  CreateCustomButtons();
  CreateCommonButtons();
  CreateMoreLabel();
  CreateVerification();
  if (!FFooterText)
    CreateFooterText();
  if (!FMoreEdit)
    CreateMoreEdit();
}

void TTdCustomDialog::CreateHelpLink() {
  delete FHelpLink;
  FHelpLink = nullptr;
  if (!hasOption(doShowHelpLink))
    return;
  FHelpLink = makeControl<TTdCaptionControl>(ctLinkLabel);
  FHelpLink->setObjectName(QStringLiteral("HelpLink"));
  FHelpLink->setAutoSize(false);
  FHelpLink->setTreatAsLink(true);
  FHelpLink->setFont(HelpLink.font().Font);
  FHelpLink->setLinkFont(HelpLink.font().Font);
  QPalette palette = FHelpLink->palette();
  palette.setColor(QPalette::Window, FColor);
  palette.setColor(QPalette::WindowText, HelpLink.font().Color);
  FHelpLink->setPalette(palette);
  FHelpLink->setText(HelpLink.text().split(QStringLiteral("\r\n")));
  FHelpLink->resize(FHelpLink->width(), helpLinkHeight());
  // The link is the help, not an address: its click is never opened.
  FHelpLink->OnLinkClick = [](TTdCaptionControl*, const QString&, bool& Handled) { Handled = true; };
  QObject::connect(FHelpLink, &TTdCaptionControl::clicked, this, [this] {
    // An exception must not leave a Qt event handler: it is shown as the
    // class library shows an unhandled one.
    try {
      DoHelpLinkClick();
    } catch (const TdNoHelpFileException& e) {
      TdMessageDlg(e.message(), jmError, buttonBit(cbOK), 0);
    }
  });
  bool handled = false;
  if (OnInitControl)
    OnInitControl(this, ctLinkLabel, FHelpLink, nullptr, handled);
  FHelpLink->setVisible(true);
}

int TTdCustomDialog::helpLinkHeight() const {
  if (FClientWidth == 0)
    return 13;
  return std::max(13, MeasureCaptionHeight(HelpLink.text(), FClientWidth - FEdgeMargin - FTextLeft,
                                           HelpLink.font().Font, metrics()));
}

void TTdCustomDialog::PositionHelpLink() {
  if (!FHelpLink)
    return;
  const QRect area = GetAreaRect(taHelpLink);
  FHelpLink->setGeometry(FTextLeft, area.y(), FClientWidth - FTextLeft - FTextRightMargin, area.height());
}

void TTdCustomDialog::DoHelpLinkClick() {
  bool handled = false;
  if (OnHelpLinkClick)
    OnHelpLinkClick(this, handled);
  if (handled)
    return;
  if (!TdApplicationHelp)
    throw TdNoHelpFileException(LoadDialogText(DialogStrNoHelpFile));
  TdApplicationHelp(HelpLink.helpContext());
}

void TTdCustomDialog::CreateProgressBar() {
  if (!hasProgressBar())
    return;
  FProgressBar = makeControl<QWidget>(ctProgressBar);
  FProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  bool handled = false;
  if (OnInitControl)
    OnInitControl(this, ctProgressBar, FProgressBar, nullptr, handled);
  if (!handled) {
    if (auto* own = qobject_cast<TTdProgressBar*>(FProgressBar))
      own->setProgressStyle(hasOption(doProgressBarMarquee) ? psMarquee : psNormal);
    applyProgress();
    StartProgress();
  }
  FProgressBar->setVisible(true);
}

void TTdCustomDialog::applyProgress() {
  if (auto* own = qobject_cast<TTdProgressBar*>(FProgressBar)) {
    own->setInterval(Progress.interval());
    own->setMax(Progress.max());
    own->setStep(Progress.step());
    own->setState(Progress.state());
    own->setPosition(Progress.position());
  } else if (auto* bar = qobject_cast<TTdProgressBarEx*>(FProgressBar)) {
    bar->setInterval(Progress.interval());
    bar->setRangeMax(Progress.max());
    bar->setState(Progress.state());
    if (!bar->busy())
      bar->setValue(Progress.position());
  }
  if (FProgressBar && OnProgress)
    OnProgress(this, Progress.position());
}

void TTdCustomDialog::StartProgress() {
  if (!hasOption(doProgressBarMarquee))
    return;
  if (auto* own = qobject_cast<TTdProgressBar*>(FProgressBar)) {
    own->setActive(false);
    own->setActive(Progress.state() == pbstNormal);
  } else if (auto* bar = qobject_cast<TTdProgressBarEx*>(FProgressBar)) {
    bar->setActive(false);
    bar->setActive(true);
  }
}

void TTdCustomDialog::PositionProgressBar() {
  if (!FProgressBar)
    return;
  const QRect area = GetAreaRect(taProgressBar);
  // Centred in its band; the self-drawn bar sits two pixels lower.
  const int height = 15;
  const int lower = qobject_cast<TTdProgressBar*>(FProgressBar) ? 2 : 0;
  FProgressBar->setGeometry(FTextLeft, area.y() + (area.height() - height) / 2 + lower,
                            FClientWidth - FTextLeft - FTextRightMargin, height);
}

int TTdCustomDialog::customButtonWidth(const TTdCustomButtonItem& Item) const {
  const int base = TdMulDiv(50, TdAverageCharSize(metrics(), FFont.Font).width(), 4);
  const int caption =
      metrics().textWidth(FFont.Font, uni::WideStripHotkeys(Item.Caption)) - 7 + 16 + (Item.ElevationRequired ? 20 : 0);
  return std::max(base, caption);
}

void TTdCustomDialog::CreateCustomButtons() {
  const bool links = commandLinks();
  for (const TTdCustomButtonItem& item : CustomButtons.items()) {
    if (!item.Visible)
      continue;
    QPushButton* control = makeControl<QPushButton>(ctCommandLink);
    control->setProperty("Tag", item.Value);
    control->setAutoDefault(false);
    FCustomButtonControls.push_back(control);
    bool handled = false;
    if (OnInitControl)
      OnInitControl(this, ctCommandLink, control, &item, handled);
    if (!handled) {
      uni::UniControlSetText(control, item.Caption);
      uni::UniControlSetHint(control, item.Hint);
      control->setEnabled(item.Enabled);
      control->setDefault(item.Default);
      if (item.Default)
        FDefaultControl = control;
      if (item.Cancel)
        FCancelControl = control;
      QObject::connect(control, &QPushButton::clicked, this, [this, control] { ButtonClick(control); });
      if (auto* link = qobject_cast<TTdCommandLinkButton*>(control)) {
        link->setMetrics(&metrics());
        link->setShowIcon(!hasOption(doCommandLinksNoIcon));
        link->setModalResult(item.ModalResult);
        link->setCancel(item.Cancel);
        link->setInfo(item.Info);
        if (item.ElevationRequired)
          link->setElevationRequired(true);
        else if (!item.Glyph.isNull())
          link->setGlyph(item.Glyph);
        if (!item.Picture.isNull())
          link->setPicture(item.Picture);
        // Cues show when the style underlines access keys all the time;
        // otherwise the first Alt key turns them on.
        link->setShowKeyboardCues(link->style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, link) != 0);
      } else {
        control->resize(links ? control->width() : customButtonWidth(item), commonButtonSize().height());
      }
    }
    control->setVisible(true);
  }
}

void TTdCustomDialog::PositionCustomButtons() {
  if (commandLinks()) {
    const QRect area = GetAreaRect(taCommandLinks);
    int top = area.y() + 2;
    for (QPushButton* control : FCustomButtonControls) {
      control->setGeometry(FTextLeft, top, FClientWidth - FTextLeft - FTextRightMargin, control->height());
      if (auto* link = qobject_cast<TTdCommandLinkButton*>(control))
        link->AdjustBounds();
      top += control->height();
    }
    return;
  }
  // Right to left, left of the common buttons.
  const QRect bar = GetAreaRect(taButtonBar);
  const int height = commonButtonSize().height();
  int top = bar.y() + (bar.height() - height) / 2;
  if (Expando.visible() && Verification.visible())
    top -= 9;
  int right = FButtonsLeft >= 0 ? FButtonsLeft : bar.x() + bar.width();
  for (auto it = FCustomButtonControls.rbegin(); it != FCustomButtonControls.rend(); ++it) {
    const int left = right - (*it)->width() - 2 * FButtonGap - 2;
    (*it)->setGeometry(left, top, (*it)->width(), height);
    right = left + FButtonGap;
  }
}

void TTdCustomDialog::CreateRadioButtons() {
  if (!hasOption(doRadioButtons) || RadioButtons.items().empty())
    return;
  QWidget* parent = FForm;
  QGridLayout* grid = nullptr;
  const int columns = std::max(1, RadioButton.columns());
  if (RadioButton.showBorder()) {
    FRadioGroup = new QGroupBox(RadioButton.caption(), FForm);
    FRadioGroup->setObjectName(QStringLiteral("RadioGroup"));
    FRadioGroup->setFont(FFont.Font);
    grid = new QGridLayout(FRadioGroup);
    grid->setContentsMargins(FEdgeMargin, FItemGap, FEdgeMargin, FItemGap);
    grid->setVerticalSpacing(2 * FItemGap - 1);
    parent = FRadioGroup;
    FRadioGroup->setVisible(true);
  }
  int index = 0;
  for (const TTdRadioButtonItem& item : RadioButtons.items()) {
    QWidget* made = GetControlClass(ctRadioButton)(parent);
    auto* control = qobject_cast<QAbstractButton*>(made);
    if (!control) {
      delete made;
      control = qobject_cast<QAbstractButton*>(GetDefaultControlClass(ctRadioButton)(parent));
    }
    control->setObjectName(QStringLiteral("rb%1").arg(item.Value));
    control->setProperty("Tag", item.Value);
    FRadioControls.push_back(control);
    if (grid)
      grid->addWidget(control, index / columns, index % columns);
    ++index;
    bool handled = false;
    if (OnInitControl)
      OnInitControl(this, ctRadioButton, control, nullptr, handled);
    if (!handled) {
      uni::UniControlSetText(control, item.Caption);
      control->setFont(parent->font());
      control->setChecked(item.Checked);
      control->setEnabled(item.Enabled);
      QObject::connect(control, &QAbstractButton::clicked, this, [this, control] {
        bool ignored = false;
        DoControlClick(ctRadioButton, control, TdControlTag(control), ignored);
      });
    }
    control->setVisible(true);
  }
}

int TTdCustomDialog::radioTextHeight() const {
  return metrics().textHeight(FFont.Font, u"Text height test");
}

void TTdCustomDialog::PositionRadioButtons() {
  const QRect area = GetAreaRect(taRadioButtons);
  if (FRadioGroup) {
    FRadioGroup->setGeometry(FTextLeft, area.y(), FClientWidth - FTextRightMargin - FTextLeft, area.height());
    return;
  }
  const int height = radioTextHeight();
  int top = area.y();
  for (QAbstractButton* control : FRadioControls) {
    control->setGeometry(FTextLeft + 8, top, FClientWidth - FTextLeft - FTextRightMargin - 8, height);
    top += 2 * FItemGap + height - 1;
  }
}

bool TTdCustomDialog::GetRadioButtonChecked(QAbstractButton* Control) {
  bool checked = Control->isChecked();
  bool handled = false;
  if (OnGetRadioButtonChecked)
    OnGetRadioButtonChecked(this, Control, checked, handled);
  return checked;
}

int TTdCustomDialog::radioResult() {
  for (QAbstractButton* control : FRadioControls)
    if (GetRadioButtonChecked(control))
      return TdControlTag(control);
  // A group answers none; single buttons leave the last answer.
  return FRadioGroup ? -1 : FRadioResult;
}

void TTdCustomDialog::DoControlClick(TControlType ControlType, QWidget* Control, int Value, bool& Handled) {
  FLastControlValue = Value;
  if (OnControlClick)
    OnControlClick(this, ControlType, Control, Value, Handled);
}

void TTdCustomDialog::setButtonEnabled(int Value, bool Enabled) {
  if (Value >= 100) {
    for (TTdCustomButtonItem& item : CustomButtons.items())
      if (item.Value == Value)
        item.Enabled = Enabled;
    for (QPushButton* control : FCustomButtonControls)
      if (TdControlTag(control) == Value)
        control->setEnabled(Enabled);
    return;
  }
  for (QPushButton* control : FCommonButtons)
    if (TdControlTag(control) == Value)
      control->setEnabled(Enabled);
}

QPushButton* TTdCustomDialog::commonButton(TCommonButton Button) const {
  const QString name = TdCommonButtonName(Button);
  for (QPushButton* button : FCommonButtons)
    if (button->objectName() == name)
      return button;
  return nullptr;
}

void TTdCustomDialog::CreateCommonButtons() {
  if (!ButtonBar.visible())
    return;
  for (int b = 0; b < CommonButtonCount; ++b) {
    const auto kind = static_cast<TCommonButton>(b);
    if (!hasButton(ButtonBar.buttons(), kind))
      continue;
    QPushButton* button = makeControl<QPushButton>(ctButton);
    button->setObjectName(TdCommonButtonName(kind));
    button->setProperty("Tag", TdCommonButtonResult(kind));
    // Enter and Esc are the window's keys: Qt's own default-button
    // handling stays off.
    button->setAutoDefault(false);
    button->setVisible(true);
    FCommonButtons.push_back(button);
    bool handled = false;
    if (OnInitControl)
      OnInitControl(this, ctButton, button, nullptr, handled);
    if (handled)
      continue;
    uni::UniControlSetText(button, TdCommonButtonCaption(kind));
    const bool isDefault = ButtonBar.useDefault() && ButtonBar.defaultButton() == kind;
    const bool isCancel = ButtonBar.useCancel() && ButtonBar.cancelButton() == kind;
    button->setDefault(isDefault);
    if (isDefault)
      FDefaultControl = button;
    if (isCancel)
      FCancelControl = button;
    QObject::connect(button, &QPushButton::clicked, this, [this, button, kind] {
      if (kind == cbHelp)
        DoHelpButtonClick();
      else
        ButtonClick(button);
    });
  }
}

void TTdCustomDialog::PositionCommonButtons() {
  const auto rects = commonButtonRects();
  for (const auto& [kind, rect] : rects)
    if (QPushButton* button = commonButton(kind))
      button->setGeometry(rect);
  FButtonsLeft = rects.empty() ? -1 : rects.front().second.x() + FButtonGap;
}

void TTdCustomDialog::CreateMoreLabel() {
  if (!Expando.visible())
    return;
  FMoreLabel = makeControl<TTdMoreLabel>(ctMoreButton);
  FMoreLabel->setObjectName(QStringLiteral("MoreLabel"));
  FMoreLabel->setFont(FFont.Font);
  setButtonColor(FMoreLabel, ButtonBar.color());
  FMoreLabel->setCaptions(Expando.showText(), Expando.hideText());
  FMoreLabel->setExpanded(Expando.showing());
  FMoreLabel->setVisible(ButtonBar.visible());
  QObject::connect(FMoreLabel, &TTdMoreLabel::expandedChanged, this,
                   [this](bool Expanded) { expandedChanged(Expanded); });
  bool handled = false;
  if (OnInitControl)
    OnInitControl(this, ctMoreButton, FMoreLabel, nullptr, handled);
}

void TTdCustomDialog::PositionMoreLabel() {
  if (FMoreLabel)
    FMoreLabel->setGeometry(moreLabelRect());
}

void TTdCustomDialog::CreateVerification() {
  if (!Verification.visible())
    return;
  FVerificationBox = makeControl<TTdCheckBox>(ctCheckBox);
  FVerificationBox->setObjectName(QStringLiteral("VerificationBox"));
  FVerificationBox->setFont(FFont.Font);
  setButtonColor(FVerificationBox, ButtonBar.color());
  FVerificationBox->setCaption(QStringLiteral("  ") + Verification.text());
  FVerificationBox->setChecked(Verification.initialState());
  FVerificationBox->setVisible(ButtonBar.visible());
  QObject::connect(FVerificationBox, &TTdCheckBox::clicked, this, [this] {
    if (OnVerificationClick)
      OnVerificationClick(this, FVerificationBox->checked());
  });
  bool handled = false;
  if (OnInitControl)
    OnInitControl(this, ctCheckBox, FVerificationBox, nullptr, handled);
}

void TTdCustomDialog::PositionVerification() {
  if (!FVerificationBox)
    return;
  const QRect bar = GetAreaRect(taButtonBar);
  const int top = Expando.visible() && FMoreLabel ? bar.y() + FMoreLabel->height() + FItemGap + 11 : bar.y() + 15;
  const int width = metrics().textWidth(FFont.Font, QStringLiteral("  ") + Verification.text()) +
                    TdMulDiv(20, pixelsPerInch(), 96);
  FVerificationBox->setGeometry(bar.x() + 12, top, width, TdMulDiv(17, pixelsPerInch(), 96));
}

void TTdCustomDialog::CreateFooterText() {
  FFooterText = makeControl<TTdCaptionControl>(ctURLLabel);
  FFooterText->setObjectName(QStringLiteral("FooterText"));
  FFooterText->setFont(Footer.font().Font);
  QFont link = FFooterText->linkFont();
  link.setPointSizeF(Footer.font().Font.pointSizeF());
  FFooterText->setLinkFont(link);
  setButtonColor(FFooterText, Footer.color());
  FFooterText->setText(Footer.text().split(QStringLiteral("\r\n")));
  FFooterText->setVisible(Footer.visible());
}

void TTdCustomDialog::PositionFooterText() {
  if (!FFooterText)
    return;
  const QRect footer = GetAreaRect(taFooter);
  const int top = footer.y() + FSectionGap + 3;
  if (Footer.icon() != tdiNone)
    FFooterText->setGeometry(35, top, FClientWidth - 35 - FEdgeMargin, FFooterText->height());
  else
    FFooterText->setGeometry(11, top, FClientWidth - FTextRightMargin - 8, FFooterText->height());
  FFooterText->setVisible(Footer.visible());
}

void TTdCustomDialog::CreateMoreEdit() {
  if (!Expando.visible() || !Expando.showInFooter())
    return;
  FMoreEdit = makeControl<TTdRichEdit>(ctRichEdit);
  FMoreEdit->setObjectName(QStringLiteral("MoreEdit"));
  FMoreEdit->setReadOnly(true);
  FMoreEdit->setGeometry(FEdgeMargin, 0, FMoreEdit->width(), Expando.moreHeight());
  FMoreEdit->hide();
  bool handled = false;
  if (OnInitControl)
    OnInitControl(this, ctRichEdit, FMoreEdit, nullptr, handled);
}

void TTdCustomDialog::LoadMoreText() {
  if (!FMoreEdit || !detailsExpanded()) {
    if (FMoreEdit)
      FMoreEdit->hide();
    return;
  }
  FMoreEdit->setGeometry(FEdgeMargin, FClientHeight - FSectionGap - FMoreEdit->height(),
                         FClientWidth - 2 * FEdgeMargin, FMoreEdit->height());
  QByteArray bytes = Expando.lines().join(QStringLiteral("\n")).toUtf8();
  if (Expando.moreSource() == msFile && OnGetMoreFileName) {
    QString name;
    OnGetMoreFileName(this, name);
    QFile file(name);
    // The file is anyone's: only as much is read as the rich-text reader takes.
    if (QFileInfo(name).isFile() && file.open(QIODevice::ReadOnly))
      bytes = file.read(qint64(TdRtfMaxInput));
  } else if (Expando.moreSource() == msStream && OnGetMoreStream) {
    QByteArray stream;
    OnGetMoreStream(this, stream);
    bytes = std::move(stream);
  }
  const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                           std::size_t(bytes.size()));
  if (Expando.moreFormat() == mfRTF && TdIsRtf(view))
    FMoreEdit->setRtfDetails(bytes);
  else
    FMoreEdit->setDetails(QString::fromUtf8(bytes));
  // Plain details are painted in the footer area; the edit shows only
  // rich text and details from a file or stream, in the room MoreHeight
  // gives.
  FMoreEdit->setVisible(Expando.showInFooter() && FMoreEdit->height() > 0 &&
                        (Expando.moreFormat() == mfRTF || Expando.moreSource() != msDefault));
}

void TTdCustomDialog::RealignControls() {
  if (!FForm || FRealigning)
    return;
  FRealigning = true;
  PositionRadioButtons();
  PositionHelpLink();
  if (commandLinks())
    PositionCustomButtons();
  PositionProgressBar();
  PositionCommonButtons();
  if (!commandLinks())
    PositionCustomButtons();
  PositionMoreLabel();
  PositionVerification();
  LoadMoreText();
  PositionFooterText();
  FRealigning = false;
  FForm->update();
}

void TTdCustomDialog::FreeButtonControls() {
  if (FVerificationBox && FForm && FForm->isVisible()) {
    Verification.Updating = true;
    Verification.setInitialState(FVerificationBox->checked());
    Verification.Updating = false;
  }
  // The lists are emptied before the controls go: freeing a focused one
  // moves the focus, and whoever hears of that must not find it listed.
  const std::vector<QPushButton*> common = std::exchange(FCommonButtons, {});
  const std::vector<QPushButton*> custom = std::exchange(FCustomButtonControls, {});
  const std::vector<QAbstractButton*> radios = std::exchange(FRadioControls, {});
  FDefaultControl = nullptr;
  FCancelControl = nullptr;
  for (QPushButton* button : common)
    delete button;
  for (QPushButton* button : custom)
    delete button;
  for (QAbstractButton* button : radios)
    delete button;
  delete FRadioGroup;
  FRadioGroup = nullptr;
  delete FProgressBar;
  FProgressBar = nullptr;
  delete FMoreLabel;
  FMoreLabel = nullptr;
  delete FVerificationBox;
  FVerificationBox = nullptr;
  FDefaultControl = nullptr;
  FCancelControl = nullptr;
}

void TTdCustomDialog::recreateButtonControls() {
  FreeButtonControls();
  CreateControls();
  // Controls made on a shown window start hidden.
  if (FMoreLabel)
    FMoreLabel->setVisible(ButtonBar.visible());
  if (FVerificationBox)
    FVerificationBox->setVisible(ButtonBar.visible());
}

void TTdCustomDialog::verificationChanged() {
  if (Verification.visible() && !FVerificationBox) {
    CreateVerification();
    if (FVerificationBox)
      FVerificationBox->setVisible(ButtonBar.visible());
  } else if (!Verification.visible() && FVerificationBox) {
    delete FVerificationBox;
    FVerificationBox = nullptr;
  } else if (FVerificationBox) {
    FVerificationBox->setCaption(QStringLiteral("  ") + Verification.text());
  }
}

void TTdCustomDialog::FreeDialogControls() {
  FreeButtonControls();
  delete FHelpLink;
  FHelpLink = nullptr;
  delete FMoreEdit;
  FMoreEdit = nullptr;
  delete FFooterText;
  FFooterText = nullptr;
}
