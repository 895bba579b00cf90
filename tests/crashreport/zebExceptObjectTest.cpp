// The exception object: class filters over base classes, its own settings
// over the module's, report callbacks and change batches, phases, the
// screenshot slot, once-only counters and waiting for the completion.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "crashreport/zebExceptObject.h"
#include "tests/support/Waiting.h"

using namespace zeb;

namespace {

struct EDBEditError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct FieldMissing : EDBEditError {
  using EDBEditError::EDBEditError;
};
struct Unrelated : std::logic_error {
  using std::logic_error::logic_error;
};
// Two bases: the filter walks both.
struct Mixin {
  virtual ~Mixin() = default;
};
struct Combined : Mixin, FieldMissing {
  Combined() : FieldMissing("both") {}
};

class TestModule {
public:
  TestModule(ModuleId id, const std::string& table) : id_(id) {
    RegisterSettingsModule(id, WriteSettingsResource(ParseSettingsTable(table)), "module.so");
  }
  ~TestModule() { RegisterSettingsModule(id_, {}, {}); }
  IZeqSettings settings() const { return std::make_shared<TIZeqSettings>(id_, true); }

private:
  ModuleId id_;
};

template <class E>
std::exception_ptr thrown(E e) {
  return std::make_exception_ptr(std::move(e));
}

std::shared_ptr<TIZeqException> objectFor(std::exception_ptr e, IZeqSettings settings = nullptr) {
  ExceptionFacts facts;
  facts.exception = std::move(e);
  facts.moduleSettings = std::move(settings);
  return NewExceptionObject(std::move(facts));
}

struct CallbackLog {
  static inline std::vector<std::string> calls;
  static void record(bool complete, const std::string& report, IZeqException&) {
    calls.push_back(std::string(complete ? "complete:" : "partial:") + report);
  }
  static void method(void* data, bool, const std::string&, IZeqException&) { ++*static_cast<int*>(data); }
};

}  // namespace

TEST(zebExceptObject, ClassFiltersFollowTheProgramSettings) {
  struct Case {
    const char* what;
    std::exception_ptr exception;
    bool bugReport;
    bool handlers;
    int show;
  };
  const Case cases[] = {
      {"derived from a filter-1 class", thrown(FieldMissing("x")), false, false, 3},
      {"filter-1 class through a second base", thrown(Combined()), false, false, 3},
      {"other class", thrown(Unrelated("y")), true, true, 0},
      {"not a class", std::make_exception_ptr(42), true, true, 0},
      {"no exception", nullptr, true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto object = objectFor(c.exception);
    EXPECT_EQ(object->CreateBugReport(), c.bugReport);
    EXPECT_EQ(object->CallHandlers(), c.handlers);
    EXPECT_EQ(object->ShowSetting(), c.show);
    EXPECT_FALSE(object->CreateScreenshot() && !c.bugReport);
  }
}

TEST(zebExceptObject, FilterOneWinsAndNoScreenshotWithoutDepth) {
  TestModule module(201,
                    "Enabled bool true\nF1Classes text Nothing, EDBEditError\nF2Classes text runtime_error\n"
                    "F1Assis text One\nF2Assis text Two\nGnAssis text General\nPauseThreads bool true\n");
  auto first = objectFor(thrown(FieldMissing("x")), module.settings());
  EXPECT_EQ(first->AssistantName(), "One");
  EXPECT_FALSE(first->CreateScreenshot());  // ScrShotDepth 0 wins over the filter
  EXPECT_TRUE(first->PauseThreads());
  auto second = objectFor(thrown(std::runtime_error("x")), module.settings());
  EXPECT_EQ(second->AssistantName(), "Two");
  auto general = objectFor(thrown(Unrelated("x")), module.settings());
  EXPECT_EQ(general->AssistantName(), "General");

  TestModule withDepth(202, "ScrShotDepth int 8\nGnNoSuspend bool true\nPauseThreads bool true\n");
  auto shot = objectFor(thrown(Unrelated("x")), withDepth.settings());
  EXPECT_TRUE(shot->CreateScreenshot());
  EXPECT_TRUE(shot->AppendScreenshot());
  EXPECT_FALSE(shot->PauseThreads());
  EXPECT_TRUE(withDepth.settings()->PauseThreads());  // written for that exception only
}

TEST(zebExceptObject, OwnSettingsOverTheModulesThroughTheSettingsInterface) {
  TestModule module(203, "MailAddr text module@example.test\n");
  IZeqSettings moduleSettings = module.settings();
  auto object = objectFor(nullptr, moduleSettings);
  TIZeqSettings& asSettings = *object;
  EXPECT_EQ(asSettings.MailAddr(), "module@example.test");
  EXPECT_EQ(asSettings.SmtpPort(), 25);
  asSettings.SetMailAddr("own@example.test");
  EXPECT_EQ(asSettings.MailAddr(), "own@example.test");
  EXPECT_EQ(moduleSettings->MailAddr(), "module@example.test");
  auto assistant = object->AssistantByName("SendAssistant");
  EXPECT_FALSE(assistant);  // the module names none
}

TEST(zebExceptObject, ExceptionTexts) {
  auto object = objectFor(thrown(FieldMissing("  Field \x01missing!!")));
  EXPECT_EQ(object->ClassName(), "FieldMissing");
  EXPECT_EQ(object->Message(), "Field missing.");
  EXPECT_EQ(objectFor(nullptr)->ClassName(), "Unknown");
  EXPECT_EQ(objectFor(std::make_exception_ptr(7))->Message(), "int.");
}

TEST(zebExceptObject, CallbacksFireAtRegistrationAndOncePerBatch) {
  CallbackLog::calls.clear();
  auto object = objectFor(nullptr);
  object->AddReportCallback(&CallbackLog::record, false);
  ASSERT_EQ(CallbackLog::calls.size(), 1u);
  object->AddReportCallback(&CallbackLog::record, true);  // only the flag changes
  EXPECT_EQ(CallbackLog::calls.size(), 1u);
  EXPECT_TRUE(object->HasCriticalReportCallback());

  auto header = object->ReportHeader();
  object->BeginChange();
  header->Assign("date/time", "today");
  header->Assign("computer name", "box");
  header->Assign("date/time", "tomorrow");
  EXPECT_EQ(CallbackLog::calls.size(), 1u);
  object->EndChange();
  ASSERT_EQ(CallbackLog::calls.size(), 2u);
  EXPECT_EQ(CallbackLog::calls[1], "partial:date/time     : tomorrow\r\ncomputer name : box");

  int methodCalls = 0;
  object->AddReportCallback(&CallbackLog::method, &methodCalls, false);
  EXPECT_EQ(methodCalls, 1);
  object->ReportSections()->Assign("modules", "list");
  EXPECT_EQ(methodCalls, 2);
  EXPECT_EQ(CallbackLog::calls.size(), 3u);
  object->RemoveReportCallback(&CallbackLog::record);
  object->RemoveReportCallback(&CallbackLog::method, &methodCalls);
  object->ReportHeader()->Remove("computer name");
  EXPECT_EQ(CallbackLog::calls.size(), 3u);
  EXPECT_FALSE(object->HasCriticalReportCallback());
}

TEST(zebExceptObject, PhaseContinueCountersAndCrc) {
  ExceptionFacts facts;
  facts.canContinue = false;
  auto object = NewExceptionObject(facts);
  object->SetCanContinue(true);
  EXPECT_FALSE(object->CanContinue());
  object->SetPhase(3);
  EXPECT_EQ(object->Phase(), 3);
  object->MarkComplete();
  EXPECT_EQ(object->Phase(), 4);
  object->SetPhase(3);
  EXPECT_EQ(object->Phase(), 4);
  object->SetPhase(2);
  EXPECT_EQ(object->Phase(), 2);
  for (int i : {-1, 3}) EXPECT_EQ(object->CallstackCrc(i), 0u);
  EXPECT_TRUE(object->FirstCompletionCall());
  EXPECT_FALSE(object->FirstCompletionCall());
  EXPECT_TRUE(object->FirstAutoSaveCall());
  EXPECT_FALSE(object->FirstAutoSaveCall());
  EXPECT_NE(object->ThreadId(), 0);
}

TEST(zebExceptObject, FailedScreenshotIsNotRetried) {
  TestModule module(204, "ScrShotDepth int 8\n");
  int captures = 0;
  SetScreenCapture([&](bool) -> NVBitmapPtr {
    ++captures;
    return nullptr;
  });
  auto object = objectFor(nullptr, module.settings());
  EXPECT_FALSE(object->Screenshot());
  EXPECT_FALSE(object->Screenshot());
  EXPECT_EQ(captures, 1);
  EXPECT_FALSE(object->CreateScreenshot());
  object->SetScreenshot(TINVBitmap::Create(2, 2));
  EXPECT_TRUE(object->Screenshot());
  SetScreenCapture(nullptr);
}

// The destructor tells a running completion to stop and waits for it.
TEST(zebExceptObject, DestructionAbortsAndAwaitsTheCompletion) {
  std::atomic<bool> started{false}, sawAbort{false};
  {
    auto object = objectFor(nullptr);
    object->StartCompletion([&](TIZeqException&, const std::atomic<bool>& abort) {
      started = true;
      while (!abort) std::this_thread::yield();
      sawAbort = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return started.load(); }));
  }
  EXPECT_TRUE(sawAbort);
}

TEST(zebExceptObject, CompleteReportTextWaitsForTheCompletion) {
  auto object = objectFor(nullptr);
  object->SetPhase(3);
  object->StartCompletion([](TIZeqException& e, const std::atomic<bool>&) { e.ReportSections()->Assign("stack", "frames"); });
  EXPECT_EQ(object->CompleteReportText(), "stack:\r\nframes");
  EXPECT_TRUE(object->IsComplete());
  EXPECT_EQ(object->Phase(), 4);
}
