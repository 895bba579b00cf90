// The send assistant's forms on the screen, driven as a user would.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "crashreport/qt/zebAssistant.h"
#include "crashreport/zebExcept.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

constexpr const char* kSend = "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm";

// Runs each shown form through the next step of `steps`.
struct Script {
  std::vector<std::function<void(TAssistantForm*)>> steps;
  std::size_t next = 0;
  Script() {
    TAssistantForm::SetShownHook([this](TAssistantForm* form) {
      // A step that fails leaves its form open: it is closed after a while
      // so the test reports instead of hanging.
      QTimer::singleShot(30000, form, [form] { form->close(); });
      if (next < steps.size()) steps[next++](form);
    });
  }
  ~Script() { TAssistantForm::SetShownHook({}); }
};

QPushButton* Button(TAssistantForm* form, const char* name) {
  return qobject_cast<QPushButton*>(form->ItemWidget(name));
}

}  // namespace

TEST(zebAssistant, ContactThenCancelAddsNothing) {
  testsupport::TempRegistry registry;
  AssistantContext context;
  context.screenshot = TINVBitmap::Create(160, 100);
  NVAssistant assistant = LoadAssistant(kSend, &context);
  Script script;
  bool continueWasOff = false, focusOnName = false;
  script.steps.push_back([&](TAssistantForm* form) {
    saveScreenshot(*form, "assistant-contact");
    continueWasOff = !Button(form, "ContinueBtn")->isEnabled();
    focusOnName = form->focusWidget() == form->ItemWidget("NameEdit");
    QTest::keyClicks(form->ItemWidget("NameEdit"), "Joe");
    QTest::keyClicks(form->ItemWidget("EmailEdit"), "joe@example.com");
    EXPECT_TRUE(Button(form, "ContinueBtn")->isEnabled());
    EXPECT_EQ(qobject_cast<QLineEdit*>(form->ItemWidget("EmailEdit"))->palette().color(QPalette::Text),
              QColor(0, 0x80, 0));
    Button(form, "ContinueBtn")->click();
  });
  script.steps.push_back([&](TAssistantForm* form) {
    saveScreenshot(*form, "assistant-details");
    QTest::keyClick(form, Qt::Key_Escape);
  });
  EXPECT_EQ(ShowAssistantModally(assistant, &context, nullptr), kFormCancel);
  EXPECT_TRUE(continueWasOff);
  EXPECT_TRUE(focusOnName);
  const AssistantYield yield = CollectAssistantYield(assistant);
  EXPECT_TRUE(yield.header.empty());
  EXPECT_TRUE(yield.sections.empty());
  EXPECT_EQ(context.mailFrom, "Joe <joe@example.com>");
}

TEST(zebAssistant, SkippedDetailsAddOnlyTheContact) {
  testsupport::TempRegistry registry;
  AssistantContext context;
  context.screenshot = TINVBitmap::Create(160, 100);
  context.attachScreenshot = true;
  NVAssistant assistant = LoadAssistant(kSend, &context);
  Script script;
  script.steps.push_back([](TAssistantForm* form) {
    QTest::keyClicks(form->ItemWidget("NameEdit"), "Joe");
    QTest::keyClick(form->ItemWidget("NameEdit"), Qt::Key_Return);  // Enter moves on
    ASSERT_EQ(form->focusWidget(), form->ItemWidget("EmailEdit"));
    QTest::keyClicks(form->focusWidget(), "joe@example.com");
    Button(form, "ContinueBtn")->click();
  });
  script.steps.push_back([](TAssistantForm* form) {
    // Enter inside the memo starts a new line.
    QTest::keyClicks(form->ItemWidget("DetailsMemo"), "one");
    QTest::keyClick(form->ItemWidget("DetailsMemo"), Qt::Key_Return);
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(form->ItemWidget("DetailsMemo"))->blockCount(), 2);
    Button(form, "SkipBtn")->click();
  });
  script.steps.push_back([](TAssistantForm* form) {
    saveScreenshot(*form, "assistant-screenshot");
    EXPECT_EQ(form->focusWidget(), form->ItemWidget("ContinueBtn"));
    qobject_cast<QCheckBox*>(form->ItemWidget("AttachCheck"))->setChecked(false);
    Button(form, "ContinueBtn")->click();
  });
  EXPECT_EQ(ShowAssistantModally(assistant, &context, nullptr), kFormContinue);
  const AssistantYield yield = CollectAssistantYield(assistant);
  EXPECT_EQ(yield.header, (ReportFieldList{{"contact name", "Joe"}, {"contact email", "joe@example.com"}}));
  EXPECT_TRUE(yield.sections.empty());
  EXPECT_FALSE(context.attachScreenshot);
}

TEST(zebAssistant, RememberedValuesFillTheForm) {
  testsupport::TempRegistry registry;
  ASSERT_TRUE(WriteRegistryText(0x80000001, "Software\\Pellward\\ContactForm", "RememberName", "Ann"));
  ASSERT_TRUE(WriteRegistryText(0x80000001, "Software\\Pellward\\ContactForm", "RememberEmail", "ann@example.org"));
  AssistantContext context;
  NVAssistant assistant = LoadAssistant("A|A|ContactForm", &context);
  Script script;
  script.steps.push_back([](TAssistantForm* form) {
    EXPECT_EQ(qobject_cast<QLineEdit*>(form->ItemWidget("NameEdit"))->text(), "Ann");
    EXPECT_TRUE(qobject_cast<QCheckBox*>(form->ItemWidget("MemCheck"))->isChecked());
    EXPECT_EQ(form->focusWidget(), form->ItemWidget("ContinueBtn"));
    qobject_cast<QCheckBox*>(form->ItemWidget("MemCheck"))->setChecked(false);
    Button(form, "ContinueBtn")->click();
  });
  EXPECT_EQ(ShowAssistantModally(assistant, &context, nullptr), kFormContinue);
  EXPECT_EQ(ReadRegistryText(0x80000001, "Software\\Pellward\\ContactForm", "RememberName"), "");
}

TEST(zebAssistant, ScreenshotFormTicksReloadTheEditedPicture) {
  testsupport::TempDir dir;
  AssistantContext context;
  context.screenshot = TINVBitmap::Create(40, 30);
  context.screenshotFile = (dir / "screenShot.bmp").string();
  context.editor = "/bin/true";
  NVAssistant assistant = LoadAssistant("A|A|ScrShotForm", &context);
  Script script;
  script.steps.push_back([&](TAssistantForm* form) {
    form->ClickImage("ScrShotImg");
    ASSERT_TRUE(TINVBitmap::Create(50, 20)->SaveAsBmp(context.screenshotFile + ".new"));
    ASSERT_EQ(std::rename((context.screenshotFile + ".new").c_str(), context.screenshotFile.c_str()), 0);
    // The form's own timer takes it at its next tick.
    QTimer* poll = new QTimer(form);
    QObject::connect(poll, &QTimer::timeout, form, [form, &context] {
      if (context.screenshotChanged) qobject_cast<QPushButton*>(form->ItemWidget("ContinueBtn"))->click();
    });
    poll->start(20);
  });
  EXPECT_EQ(ShowAssistantModally(assistant, &context, nullptr), kFormContinue);
  ASSERT_TRUE(context.screenshot);
  EXPECT_EQ(context.screenshot->PixelWidth(), 50);
}
