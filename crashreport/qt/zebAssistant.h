#pragma once

// The assistant's forms on the screen: one modal window per form, its items
// laid out top-down under the form's heading and step numbers, the continue,
// skip and cancel buttons along the bottom. The window only shows the form's
// record and turns the user's input into its item events; what is valid,
// where the focus goes and what the handlers do lives with the record.

#include <QDialog>
#include <QPointer>

#include <functional>
#include <vector>

#include "crashreport/zebCrashUiAssistant.h"

class QTimer;

namespace zeb {

class TAssistantForm : public QDialog {
  Q_OBJECT
public:
  TAssistantForm(NVForm& form, AssistantContext* context, QWidget* parent = nullptr);

  NVForm& Form() { return form_; }
  // The widget of an item; null for images and missing items.
  QWidget* ItemWidget(std::string_view name) const;
  // Clicks the image item as the user would.
  void ClickImage(std::string_view name);
  // Refreshes every widget from the form's record.
  void Refresh();

  // Called with every form window just before it is shown.
  static void SetShownHook(std::function<void(TAssistantForm*)> hook);

protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Build();
  void ItemEvent(std::size_t index);
  void Finish(int result);

  NVForm& form_;
  AssistantContext* context_;
  std::vector<QPointer<QWidget>> widgets_;  // one per item, null for images
  std::vector<QRect> imageRects_;
  QTimer* timer_ = nullptr;
  bool refreshing_ = false;
  bool finished_ = false;
};

// Shows one form modally: 1 continue, 2 skip (also a form marked to be
// skipped), 3 cancel.
int ShowFormModally(NVForm& form, AssistantContext* context, QWidget* parent);
// Shows the forms in order; 1 when all were passed, 3 when one was cancelled.
int ShowAssistantModally(NVAssistant& assistant, AssistantContext* context, QWidget* parent);

}  // namespace zeb
