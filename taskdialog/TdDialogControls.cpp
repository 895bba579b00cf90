// The controls of the drawn task dialog: created in tab order when the
// dialog is shown, placed after every layout, freed with the window.

#include <QFile>
#include <QFileInfo>

#include "taskdialog/TdCheckBox.h"
#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdDialogLayout.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"
#include "taskdialog/TdRichEdit.h"
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
    case ctButton:
    case ctCommandLink: return [](QWidget* Parent) -> QWidget* { return new uni::TUniButton(Parent); };
    case ctCheckBox: return [](QWidget* Parent) -> QWidget* { return new TTdCheckBox(Parent); };
    case ctMoreButton: return [](QWidget* Parent) -> QWidget* { return new TTdMoreLabel(Parent); };
    case ctRichEdit: return [](QWidget* Parent) -> QWidget* { return new TTdRichEdit(Parent); };
    case ctLinkLabel:
    case ctURLLabel: return [](QWidget* Parent) -> QWidget* { return new TTdCaptionControl(Parent); };
    case ctRadioButton: return [](QWidget* Parent) -> QWidget* { return new uni::TUniRadioButton(Parent); };
    case ctProgressBar:
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
  CreateCommonButtons();
  CreateMoreLabel();
  CreateVerification();
  CreateFooterText();
  CreateMoreEdit();
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
  QString text = Expando.lines().join(QStringLiteral("\n"));
  if (Expando.moreSource() == msFile && OnGetMoreFileName) {
    QString name;
    OnGetMoreFileName(this, name);
    QFile file(name);
    if (QFileInfo(name).isFile() && file.open(QIODevice::ReadOnly))
      text = QString::fromUtf8(file.readAll());
  } else if (Expando.moreSource() == msStream && OnGetMoreStream) {
    QByteArray stream;
    OnGetMoreStream(this, stream);
    text = QString::fromUtf8(stream);
  }
  FMoreEdit->setDetails(text);
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
  PositionCommonButtons();
  PositionMoreLabel();
  PositionVerification();
  LoadMoreText();
  PositionFooterText();
  FRealigning = false;
  FForm->update();
}

void TTdCustomDialog::FreeDialogControls() {
  for (QPushButton* button : FCommonButtons)
    delete button;
  FCommonButtons.clear();
  delete FMoreLabel;
  FMoreLabel = nullptr;
  delete FVerificationBox;
  FVerificationBox = nullptr;
  delete FMoreEdit;
  FMoreEdit = nullptr;
  delete FFooterText;
  FFooterText = nullptr;
  FDefaultControl = nullptr;
  FCancelControl = nullptr;
}
