// A program whose crash-UI process plays a user: CRASHUI_TEST_SCRIPT says
// what it does with each dialog, CRASHUI_TEST_OUT where it notes what it saw.
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "crashreport/qt/zebAssistant.h"
#include "crashreport/qt/zebCrashUiServer.h"
#include "crashreport/qt/zebDetailsView.h"
#include "crashreport/qt/zebExceptDialog.h"
#include "crashreport/qt/zebProgressWindow.h"

namespace {

void Note(const std::string& text) {
  if (const char* out = std::getenv("CRASHUI_TEST_OUT")) std::ofstream(out, std::ios::app) << text << "\n";
}

void Play(zeb::TExceptionBox* box) {
  const std::string script = std::getenv("CRASHUI_TEST_SCRIPT") ? std::getenv("CRASHUI_TEST_SCRIPT") : "";
  if (box->DetailsView()) {
    std::string tabs;
    for (int k = 0; k < box->DetailsView()->count(); ++k) tabs += box->DetailsView()->tabText(k).toStdString() + ",";
    Note("tabs " + tabs);
    box->reject();
    return;
  }
  if (script == "escape") box->reject();
  else if (script == "close") box->RunButton(zeb::kCloseButton);
  else if (script == "close-kept") {
    // A handler takes close over: the dialog stays, and the user continues.
    QObject::connect(box, &zeb::TExceptionBox::actionFinished, box, [box](int code, bool handled) {
      Note("action " + std::to_string(code) + (handled ? " taken over, " : " done, ") +
           (box->isVisible() ? "still shown" : "gone"));
      box->reject();
    });
    box->RunButton(zeb::kCloseButton);
  }
  else if (script == "restart") box->RunButton(zeb::kRestartButton);
  else if (script == "show") box->RunButton(zeb::kShowButton);
  else if (script == "send" || script == "slow-send") {
    // The dialog takes one action at a time: Escape waits for the send's end.
    QObject::connect(box, &zeb::TExceptionBox::actionFinished, box, [box](int code, bool) {
      if (code == zeb::kActionSend) box->reject();
    }, Qt::QueuedConnection);
    box->RunButton(zeb::kSendButton);
  } else if (script == "hang") {
    // The event loop stops for good: no beat, no answer.
    for (;;) ::pause();
  } else if (script == "close-request") {
    QCloseEvent request;
    QApplication::sendEvent(box, &request);
    Note(std::string("close request ") + (request.isAccepted() ? "accepted" : "ignored") +
         (box->isVisible() ? ", still shown" : ", gone"));
    box->reject();
  } else if (script == "die") {
    std::_Exit(9);
  }
}

}  // namespace

// The send assistant: a name, an address and a description.
void Fill(zeb::TAssistantForm* form) {
  if (auto* name = qobject_cast<QLineEdit*>(form->ItemWidget("NameEdit"))) name->setText("Joe");
  if (auto* email = qobject_cast<QLineEdit*>(form->ItemWidget("EmailEdit"))) email->setText("joe@example.com");
  if (auto* memo = qobject_cast<QPlainTextEdit*>(form->ItemWidget("DetailsMemo"))) memo->setPlainText("saving a key");
  auto* next = qobject_cast<QPushButton*>(form->ItemWidget("ContinueBtn"));
  // A user who takes longer than the failing side's patience with silence.
  const char* script = std::getenv("CRASHUI_TEST_SCRIPT");
  if (script && std::string(script) == "slow-send")
    QTimer::singleShot(4000, next, [next] { next->click(); });
  else
    next->click();
}

// The windows a delivery shows: the progress window is noted once shown,
// a box is noted and closed; with HIVESCOPE_SCREENSHOT_DIR both are
// pictured for a person to look at.
void WatchDelivery(zeb::CrashUiController* controller) {
  auto* poll = new QTimer(controller);
  auto progressSeen = std::make_shared<bool>(false);
  QObject::connect(poll, &QTimer::timeout, [controller, progressSeen] {
    const char* dir = std::getenv("HIVESCOPE_SCREENSHOT_DIR");
    zeb::TProgressWindow* progress = controller->Progress();
    if (progress && progress->IsShown() && !*progressSeen) {
      *progressSeen = true;
      Note("progress " + progress->windowTitle().toStdString());
      if (dir) progress->grab().save(QString::fromLocal8Bit(dir) + "/crashui-progress.png");
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Note("box " + box->text().toStdString());
      if (dir) box->grab().save(QString::fromLocal8Bit(dir) + "/crashui-sendfail.png");
      box->accept();
    }
  });
  poll->start(20);
}

int main(int argc, char** argv) {
  zeb::CrashUiController::SetStartedHook(&WatchDelivery);
  zeb::TAssistantForm::SetShownHook([](zeb::TAssistantForm* form) { Fill(form); });
  zeb::TExceptionBox::SetCreatedHook([](zeb::TExceptionBox* box) {
    QTimer::singleShot(0, box, [box] { Play(box); });
  });
  crashreport::RunCrashUiIfAsked(argc, argv);
  return 3;  // not started as a crash-UI process
}
