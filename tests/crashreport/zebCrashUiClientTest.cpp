#include "crashreport/zebCrashUiClient.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "crashreport/zebExceptObject.h"
#include "tests/support/TempDir.h"

using namespace zeb;

TEST(zebCrashUiClient, ExceptionFactsReportAndYieldRoundTrip) {
  ExceptionFacts given;
  given.exception = std::make_exception_ptr(std::runtime_error("Disk full"));
  given.canContinue = false;
  auto exception = NewExceptionObject(given);
  exception->ReportHeader()->Assign("exception message", "Disk full.");
  exception->ReportSections()->Assign("modules", "0000555500000000  crashprobe");

  const CrashUiFacts facts = CrashUiFactsOf(*exception, 2, true, "/tmp/shot.bmp");
  EXPECT_EQ(facts.message, "Disk full.");
  EXPECT_EQ(facts.className, "runtime_error");
  EXPECT_FALSE(facts.canContinue);
  EXPECT_EQ(facts.showSetting, 2);
  EXPECT_EQ(facts.settings.Text("SendBtnTxt"), "send bug report");
  EXPECT_TRUE(facts.settings.Bool("SendBtnVis"));
  EXPECT_EQ(facts.settings.Text("SendAssis"), "SendAssistant");
  EXPECT_NE(facts.settings.Text("Assistant1").find("ContactForm"), std::string::npos);

  const CrashUiReport report = CrashUiReportOf(*exception);
  EXPECT_EQ(report.header, (ReportFieldList{{"exception message", "Disk full."}}));
  EXPECT_EQ(report.sections.size(), 1u);

  testsupport::TempDir dir;
  const std::string edited = (dir / "edited.bmp").string();
  ASSERT_TRUE(TINVBitmap::Create(6, 4)->SaveAsBmp(edited));
  CrashUiMessage yield;
  yield.type = kUiAction;
  AddYield(yield, {{"contact email", "joe@example.com"}}, {{"error details", "saving"}});
  yield.Add("mailFrom", "Joe <joe@example.com>");
  yield.AddInt("attach", 0);
  yield.Add("screenshot", edited);
  ApplyCrashUiYield(*exception, yield);
  EXPECT_EQ(exception->ReportHeader()->ValueOf("contact email"), "joe@example.com");
  EXPECT_EQ(exception->ReportSections()->ValueOf("error details"), "saving");
  EXPECT_EQ(exception->MailFrom(), "Joe <joe@example.com>");
  EXPECT_FALSE(exception->AppendScreenshot());
  ASSERT_TRUE(exception->Screenshot());
  EXPECT_EQ(exception->Screenshot()->PixelWidth(), 6);
}
