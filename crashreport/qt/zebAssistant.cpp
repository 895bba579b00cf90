#include "crashreport/qt/zebAssistant.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>

#include "crashreport/qt/zebCrashUiText.h"
#include "crashreport/qt/zebNVBitmapCapture.h"

namespace zeb {

namespace {

std::function<void(TAssistantForm*)>& ShownHook() {
  static std::function<void(TAssistantForm*)> hook;
  return hook;
}

std::string ToText(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return t.toStdString();
}

QFont HeadingFont() {
  QFont f;
  f.setPixelSize(15);
  f.setBold(true);
  return f;
}

QFont ButtonFont() {
  QFont f;
  f.setPixelSize(15);
  return f;
}

// Validity colours of a coloured edit.
QColor EditColour(const NVItem& item) {
  if (!item.colored) return Qt::black;
  return item.valid ? QColor(0, 0x80, 0) : QColor(0x80, 0, 0);
}

}  // namespace

void TAssistantForm::SetShownHook(std::function<void(TAssistantForm*)> hook) { ShownHook() = std::move(hook); }

TAssistantForm::TAssistantForm(NVForm& form, AssistantContext* context, QWidget* parent)
    : QDialog(parent), form_(form), context_(context) {
  setObjectName(QString::fromStdString(form.name));
  setWindowTitle(CrashUiText(form.title));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  Build();
}

void TAssistantForm::Build() {
  const QFontMetrics buttonMetrics(ButtonFont());
  int widths[3];
  for (int k = 0; k < 3; ++k) {
    const NVItem& b = form_.items[std::size_t(k)];
    const int w = buttonMetrics.horizontalAdvance(CrashUiText(b.Caption()));
    widths[k] = b.noOwnerDraw ? std::max(fontMetrics().horizontalAdvance(CrashUiText(b.Caption())) + 20, 75)
                              : (w <= 64 ? 85 : w + 20);
  }
  const int messageWidth = QFontMetrics(HeadingFont()).horizontalAdvance(CrashUiText(form_.message));
  const int width = FormClientWidth(form_, widths, messageWidth);

  widgets_.assign(form_.items.size(), nullptr);
  imageRects_.assign(form_.items.size(), QRect());
  const QFontMetrics metrics(font());
  const int lineHeight = std::max(metrics.height(), 13);
  int y = 40;
  const int x = 21;
  const int inner = width - 46;
  QWidget* previous = nullptr;
  auto isHeadLabel = [&](const NVItem& item) {
    return item.kind == NVItemKind::Label && !item.caption.empty() &&
           (item.caption.back() == ':' || item.caption.back() == '?') &&
           metrics.horizontalAdvance(CrashUiText(item.caption)) <= inner;
  };
  for (std::size_t k = 3; k < form_.items.size(); ++k) {
    NVItem& item = form_.items[k];
    QWidget* w = nullptr;
    QRect rect;
    switch (item.kind) {
      case NVItemKind::Button: {
        auto* button = new QPushButton(CrashUiText(item.Caption()), this);
        const int bw = std::max({metrics.horizontalAdvance(CrashUiText(item.Caption())) + 32, 70, item.minWidth});
        rect = QRect(x, y, bw, metrics.height() + 10);
        connect(button, &QPushButton::clicked, this, [this, k] { ItemEvent(k); });
        w = button;
        break;
      }
      case NVItemKind::Label: {
        auto* label = new QLabel(CrashUiText(item.Caption()), this);
        label->setWordWrap(true);
        const QRect r = metrics.boundingRect(QRect(0, 0, inner, 100000), Qt::TextWordWrap, CrashUiText(item.Caption()));
        rect = QRect(x, y - 2, r.width() + 1, r.height());
        w = label;
        break;
      }
      case NVItemKind::Edit: {
        const int lines = item.lines <= 1 ? 1 : item.lines;
        const int h = lineHeight * lines + 2;
        if (item.lines > 1) {
          auto* edit = new QPlainTextEdit(this);
          edit->setPlainText(CrashUiText(item.text));
          edit->setTabChangesFocus(true);
          connect(edit, &QPlainTextEdit::textChanged, this, [this, k, edit] {
            if (refreshing_) return;
            form_.items[k].text = ToText(edit->toPlainText());
            ItemEvent(k);
          });
          w = edit;
          rect = QRect(x, y, inner, h + 10);
        } else {
          auto* edit = new QLineEdit(CrashUiText(item.text), this);
          connect(edit, &QLineEdit::textChanged, this, [this, k](const QString& text) {
            if (refreshing_) return;
            form_.items[k].text = ToText(text);
            ItemEvent(k);
          });
          w = edit;
          rect = QRect(x, y, inner, std::max(h + 8, edit->sizeHint().height()));
        }
        break;
      }
      case NVItemKind::CheckBox: {
        auto* box = new QCheckBox(CrashUiText(item.Caption()), this);
        box->setChecked(item.checked);
        connect(box, &QCheckBox::toggled, this, [this, k](bool on) {
          if (refreshing_) return;
          form_.items[k].checked = on;
          ItemEvent(k);
        });
        rect = QRect(x, y, std::min(box->sizeHint().width(), inner), box->sizeHint().height());
        w = box;
        break;
      }
      case NVItemKind::Image: {
        const int extra = (item.clickable ? 6 : 0) + (item.border ? 2 : 0);
        int iw = item.width, ih = item.height;
        if (item.bitmap && !iw) iw = item.bitmap->PixelWidth();
        if (item.bitmap && !ih) ih = item.bitmap->PixelHeight();
        if (!iw) iw = 32;
        if (!ih) ih = 32;
        int screenHeight = 768;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) screenHeight = screen->availableGeometry().height();
        const FittedSize fit = FitSize(iw, ih, std::min(iw, width - extra - 42), std::min(ih, screenHeight / 3));
        rect = QRect(x, y, fit.width + 2 * extra, fit.height + 2 * extra);
        imageRects_[k] = rect;
        break;
      }
    }
    if (w) {
      w->setObjectName(QString::fromStdString(item.name));
      w->setGeometry(rect);
      w->setEnabled(item.IsEnabled());
      w->installEventFilter(this);
      if (previous) setTabOrder(previous, w);
      previous = w;
      widgets_[k] = w;
    }
    y = rect.y() + rect.height();
    if (k + 1 < form_.items.size()) y += ItemGap(form_, k, isHeadLabel(item));
  }

  const int buttonHeight = form_.items[kContinueItem].noOwnerDraw ? 23 : 32;
  const int height = buttonHeight + y + 33;
  const FormButtonPlacement placement = PlaceFormButtons(form_, widths, width);
  for (int k = 0; k < 3; ++k) {
    const NVItem& item = form_.items[std::size_t(k)];
    auto* button = new QPushButton(CrashUiText(item.Caption()), this);
    button->setObjectName(QString::fromStdString(item.name));
    if (!item.noOwnerDraw) button->setFont(ButtonFont());
    const int bh = item.noOwnerDraw ? 23 : 32;
    button->setGeometry(placement.x[k], height - bh - 9, widths[k], bh);
    button->setVisible(!item.invisible);
    button->setEnabled(item.IsEnabled());
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this, [this, k] { Finish(k + 1); });
    widgets_[std::size_t(k)] = button;
  }
  if (previous) setTabOrder(previous, widgets_[kContinueItem]);
  setTabOrder(widgets_[kContinueItem], widgets_[kSkipItem]);
  setTabOrder(widgets_[kSkipItem], widgets_[kCancelItem]);
  setFixedSize(width, height);

  if (form_.timerInterval > 0) {
    timer_ = new QTimer(this);
    timer_->setInterval(form_.timerInterval);
    connect(timer_, &QTimer::timeout, this, [this] {
      FireFormAction(form_, kFormItemEvent, nullptr, context_);
      Refresh();
    });
  }
}

QWidget* TAssistantForm::ItemWidget(std::string_view name) const {
  const int index = form_.IndexOf(name);
  return index < 0 ? nullptr : widgets_[std::size_t(index)].data();
}

void TAssistantForm::Refresh() {
  refreshing_ = true;
  ValidateForm(form_);
  for (std::size_t k = 0; k < form_.items.size(); ++k) {
    const NVItem& item = form_.items[k];
    QWidget* w = widgets_[k];
    if (!w) continue;
    w->setEnabled(item.IsEnabled());
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
      if (ToText(line->text()) != item.text) line->setText(CrashUiText(item.text));
      QPalette p = line->palette();
      p.setColor(QPalette::Text, EditColour(item));
      line->setPalette(p);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
      if (ToText(memo->toPlainText()) != item.text) memo->setPlainText(CrashUiText(item.text));
      QPalette p = memo->palette();
      p.setColor(QPalette::Text, EditColour(item));
      memo->setPalette(p);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      box->setChecked(item.checked);
    }
  }
  refreshing_ = false;
  update();
}

void TAssistantForm::ItemEvent(std::size_t index) {
  FireFormAction(form_, kFormItemEvent, &form_.items[index], context_);
  Refresh();
}

void TAssistantForm::Finish(int result) {
  if (finished_) return;
  if (result == kFormContinue && !form_.items[kContinueItem].IsEnabled()) return;
  finished_ = true;
  if (timer_) timer_->stop();
  form_.modalResult = result;
  FireFormAction(form_, kFormClosing, nullptr, context_);
  done(result);
}

void TAssistantForm::reject() {
  // Escape cancels only while cancel is offered.
  if (form_.items[kCancelItem].IsEnabled() && !form_.items[kCancelItem].invisible) Finish(kFormCancel);
}

void TAssistantForm::closeEvent(QCloseEvent* event) {
  if (!finished_) Finish(kFormCancel);
  event->accept();
}

bool TAssistantForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !qobject_cast<QPushButton*>(watched) &&
        !qobject_cast<QPlainTextEdit*>(watched)) {
      // Enter on an item that is not a button moves on, as Tab does.
      int from = -1;
      for (std::size_t k = 0; k < widgets_.size(); ++k)
        if (widgets_[k] == watched) from = int(k);
      const int next = NextFocusItem(form_, from, true);
      if (next >= 0 && widgets_[std::size_t(next)]) widgets_[std::size_t(next)]->setFocus(Qt::TabFocusReason);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TAssistantForm::ClickImage(std::string_view name) {
  const int index = form_.IndexOf(name);
  if (index < 0 || form_.items[std::size_t(index)].kind != NVItemKind::Image) return;
  ItemEvent(std::size_t(index));
}

void TAssistantForm::mouseReleaseEvent(QMouseEvent* event) {
  for (std::size_t k = 3; k < form_.items.size(); ++k) {
    const NVItem& item = form_.items[k];
    if (item.kind == NVItemKind::Image && item.clickable && imageRects_[k].contains(event->position().toPoint())) {
      ItemEvent(k);
      return;
    }
  }
  QDialog::mouseReleaseEvent(event);
}

void TAssistantForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor face = palette().color(QPalette::Button);
  painter.fillRect(rect(), face.lighter(104));
  const int continueTop = widgets_[kContinueItem] ? widgets_[kContinueItem]->y() : height() - 41;
  const QRect panel(8, 25, width() - 17, continueTop - 10 - 25);
  painter.fillRect(panel, face);
  QPen dotted(face.darker(112), 2, Qt::DotLine);
  painter.setPen(dotted);
  painter.drawRect(panel);

  painter.setFont(HeadingFont());
  painter.setPen(palette().color(QPalette::Shadow));
  painter.drawText(QPoint(11, 6 + QFontMetrics(HeadingFont()).ascent()), CrashUiText(form_.message));
  // The steps, the current one in a box.
  for (int n = 1; n <= form_.steps; ++n) {
    const int sx = width() - form_.steps * 19 - 3 + (n - 1) * 19;
    if (n == form_.step) {
      const int x0 = width() - (form_.steps - form_.step) * 19 - 29;
      painter.fillRect(QRect(x0, 2, 21, 21), palette().color(QPalette::Dark));
      painter.fillRect(QRect(x0 + 2, 4, 17, 17), palette().color(QPalette::Base));
      painter.setPen(palette().color(QPalette::WindowText));
    } else {
      painter.setPen(palette().color(QPalette::Dark));
    }
    painter.drawText(QRect(sx - 10, 2, 21, 21), Qt::AlignCenter, QString::number(n));
  }
  // Images are painted on the form itself.
  for (std::size_t k = 3; k < form_.items.size(); ++k) {
    const NVItem& item = form_.items[k];
    if (item.kind != NVItemKind::Image) continue;
    QRect r = imageRects_[k];
    if (item.clickable) {
      painter.fillRect(r, face.lighter(115));
      r.adjust(3, 3, -3, -3);
    }
    if (item.border) {
      painter.setPen(palette().color(QPalette::WindowText));
      painter.drawRect(r.adjusted(0, 0, -1, -1));
      r.adjust(1, 1, -1, -1);
    }
    painter.fillRect(r, face);
    if (item.bitmap) {
      const QImage image = ToQImage(*item.bitmap);
      painter.drawImage(r.topLeft(), image.scaled(r.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
  }
}

int ShowFormModally(NVForm& form, AssistantContext* context, QWidget* parent) {
  if (form.skip) return kFormSkip;
  form.modalResult = kFormNone;
  TAssistantForm window(form, context, parent);
  ValidateForm(form);
  window.Refresh();
  const int active = form.activeControl.empty() ? -1 : form.IndexOf(form.activeControl);
  const int focus = active >= 0 ? active : NextFocusItem(form, kCancelItem, true);
  FireFormAction(form, kFormShowing, nullptr, context);
  if (form.skip) return kFormSkip;
  window.Refresh();
  if (focus >= 0)
    if (QWidget* w = window.ItemWidget(form.items[std::size_t(focus)].name)) w->setFocus(Qt::OtherFocusReason);
  if (ShownHook()) QTimer::singleShot(0, &window, [&window] { ShownHook()(&window); });
  if (QTimer* timer = window.findChild<QTimer*>()) timer->start();
  window.exec();
  if (form.modalResult == kFormNone) form.modalResult = kFormCancel;
  return form.modalResult;
}

int ShowAssistantModally(NVAssistant& assistant, AssistantContext* context, QWidget* parent) {
  // The forms are modal: the parent takes no input meanwhile.
  assistant.modalResult = kFormContinue;
  for (NVForm& form : assistant.forms) {
    const int result = ShowFormModally(form, context, parent);
    if (result == kFormSkip) form.modalResult = kFormSkip;
    if (result == kFormCancel) {
      assistant.modalResult = kFormCancel;
      break;
    }
  }
  return assistant.modalResult;
}

}  // namespace zeb
