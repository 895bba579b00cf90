#include "crashreport/zebCrashUiAssistant.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "crashreport/zebExcept.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

using namespace zeb;

namespace {

constexpr std::uintptr_t kCurrentUser = 0x80000001;
constexpr const char* kContactKey = "Software\\Pellward\\ContactForm";

NVForm CompiledForm(std::string_view name) {
  NVForm form;
  ReadFormResource(AssistantFormResource(name), form);
  return form;
}

std::vector<std::uint8_t> Resource(std::string_view description) {
  std::string error;
  auto bytes = WriteFormResource(description, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

void Type(NVForm& form, const char* item, std::string text, AssistantContext* context = nullptr) {
  NVItem* edit = form.Find(item, NVItemKind::Edit);
  ASSERT_NE(edit, nullptr);
  edit->text = std::move(text);
  FireFormAction(form, kFormItemEvent, edit, context);
  ValidateForm(form);
}

}  // namespace

TEST(zebCrashUiAssistant, EmailAddresses) {
  struct Case {
    const char* address;
    bool valid;
  } cases[] = {
      {"joe@example.com", true},
      {"o'neil+bugs@mail.example.org", true},
      {"joe@example", false},        // no "." in the host
      {".joe@example.com", false},   // begins with "."
      {"joe@example.com.", false},   // ends with "."
      {"joe@.example.com", false},   // "." right after "@"
      {"@example.com", false},       // nothing before "@"
      {"jo e@example.com", false},   // a blank
      {"joe@ex@ample.com", false},   // a second "@"
      {" joe@example.com", false},   // a blank at the start
      {"joe@example.com ", false},   // and at the end
      {"", false},
      {"joe@example.com;x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(IsValidEmailAddress(c.address), c.valid);
  }
}

TEST(zebCrashUiAssistant, CompiledFormsReadAsTheirDescriptions) {
  NVForm contact = CompiledForm("ContactForm");
  EXPECT_TRUE(contact.readError.empty());
  EXPECT_EQ(contact.name, "ContactForm");
  EXPECT_EQ(contact.message, "Contact Information");
  EXPECT_TRUE(contact.handler);
  ASSERT_EQ(contact.items.size(), 8u);
  EXPECT_EQ(contact.items[kContinueItem].caption, "Continue");
  EXPECT_FALSE(contact.items[kSkipItem].enabled);
  NVItem* email = contact.Find("EmailEdit", NVItemKind::Edit);
  ASSERT_NE(email, nullptr);
  EXPECT_EQ(email->outputName, "contact email");
  EXPECT_FALSE(email->optional);
  EXPECT_TRUE(email->colored);
  EXPECT_NE(contact.Find("MemCheck", NVItemKind::CheckBox), nullptr);

  NVForm details = CompiledForm("detailsform");  // names ignore letter case
  NVItem* memo = details.Find("DetailsMemo", NVItemKind::Edit);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->lines, 9);
  EXPECT_TRUE(memo->ownSection);
  EXPECT_FALSE(details.handler);

  NVForm shot = CompiledForm("ScrShotForm");
  EXPECT_EQ(shot.timerInterval, 250);
  EXPECT_EQ(shot.activeControl, "ContinueBtn");
  NVItem* image = shot.Find("ScrShotImg", NVItemKind::Image);
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image->clickable && image->border);
  EXPECT_TRUE(AssistantFormResource("NoSuchForm").empty());
}

TEST(zebCrashUiAssistant, ReaderEdgeCases) {
  // "AbortBtn" configures the cancel button; an unknown class makes no item.
  NVForm form;
  ReadFormResource(Resource("object F TZeqF\n Message text Hi\n object AbortBtn INVButton\n  Caption text Stop\n end\n"
                            " object X TSomethingElse\n  Message text ignored here\n end\n"
                            " object E INVEdit\n  Text text one%LF%two\n end\nend\n"),
                   form);
  EXPECT_TRUE(form.readError.empty());
  ASSERT_EQ(form.items.size(), 4u);
  EXPECT_EQ(form.items[kCancelItem].caption, "Stop");
  EXPECT_EQ(form.items[3].text, "one\r\ntwo");

  // A value type outside the table stops the reader with the internal error;
  // what came before stays.
  auto bytes = Resource("object F TZeqF\n Message text kept\n MinWidth int 400\nend\n");
  const std::size_t typeAt = bytes.size() - 2 - 2 - 1;  // the MinWidth value: type 3, two bytes; then two zeros
  ASSERT_EQ(bytes[typeAt], 3);
  bytes[typeAt] = 5;
  NVForm broken;
  ReadFormResource(bytes, broken);
  EXPECT_EQ(broken.readError, "Internal error: Invalid assistant resource (05).");
  EXPECT_EQ(broken.message, "kept");
  EXPECT_EQ(broken.minWidth, 0);

  // Cut anywhere, the reader stops inside the bytes.
  const auto whole = AssistantFormResource("ContactForm");
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    NVForm part;
    ReadFormResource(whole.first(cut), part);
  }
  // No signature: only the three buttons.
  NVForm none;
  ReadFormResource(std::span<const std::uint8_t>(), none);
  EXPECT_EQ(none.items.size(), 3u);
}

TEST(zebCrashUiAssistant, OnlyNamedHandlersAreReached) {
  EXPECT_TRUE(BuiltInFormHandler("ZEBEXCEPT.handlecontactform"));
  EXPECT_TRUE(BuiltInFormHandler("zebExcept.HandleScreenshotForm"));
  EXPECT_FALSE(BuiltInFormHandler("system"));
  EXPECT_FALSE(BuiltInFormHandler("zebExcept.HandleContactFormX"));
  NVForm form;
  ReadFormResource(Resource("object F TZeqF\n OnAction ident libc.abort\nend\n"), form);
  EXPECT_EQ(form.onAction, "libc.abort");
  EXPECT_FALSE(form.handler);
}

TEST(zebCrashUiAssistant, ValidationNavigationAndButtons) {
  NVForm form = CompiledForm("DetailsForm");
  ValidateForm(form);
  EXPECT_FALSE(form.items[kContinueItem].IsEnabled());
  Type(form, "DetailsMemo", "It crashed\r\nwhen I saved.");
  EXPECT_TRUE(form.items[kContinueItem].IsEnabled());

  NVForm contact = CompiledForm("ContactForm");
  ValidateForm(contact);
  // From cancel forward: the name edit (labels have no tab stop); the
  // disabled skip button is passed over.
  const int nameEdit = contact.IndexOf("NameEdit");
  EXPECT_EQ(NextFocusItem(contact, kCancelItem, true), nameEdit);
  EXPECT_EQ(NextFocusItem(contact, nameEdit, false), kCancelItem);
  EXPECT_EQ(NextFocusItem(contact, kContinueItem, false), contact.IndexOf("MemCheck"));

  const int widths[3] = {85, 85, 85};
  FormButtonPlacement p = PlaceFormButtons(contact, widths, 400);
  EXPECT_EQ(p.x[kContinueItem], 8);
  EXPECT_EQ(p.x[kCancelItem], 400 - 85 - 8);
  // Plain continue and cancel with skip hidden stand together at the right.
  NVForm plain;
  plain.items[kContinueItem].noOwnerDraw = plain.items[kCancelItem].noOwnerDraw = true;
  plain.items[kSkipItem].invisible = true;
  p = PlaceFormButtons(plain, widths, 400);
  EXPECT_EQ(p.x[kCancelItem], 307);
  EXPECT_EQ(p.x[kContinueItem], 307 - 8 - 85);
  EXPECT_EQ(FormClientWidth(plain, widths, 100), 315);
}

TEST(zebCrashUiAssistant, YieldsOnlyFromContinuedForms) {
  AssistantContext context;
  testsupport::TempRegistry registry;
  NVAssistant a = LoadAssistant("SendAssistant|Send Assistant|ContactForm|DetailsForm", &context);
  ASSERT_EQ(a.forms.size(), 2u);
  EXPECT_EQ(a.forms[1].step, 2);
  EXPECT_EQ(a.forms[1].steps, 2);
  Type(a.forms[0], "NameEdit", "Joe", &context);
  Type(a.forms[0], "EmailEdit", "joe@example.com", &context);
  Type(a.forms[1], "DetailsMemo", "saving a key");

  // Cancel in the second form: nothing at all.
  a.forms[0].modalResult = kFormContinue;
  a.forms[1].modalResult = kFormCancel;
  a.modalResult = kFormCancel;
  AssistantYield y = CollectAssistantYield(a);
  EXPECT_TRUE(y.header.empty() && y.sections.empty());
  // Skip in the second form: only the contact fields.
  a.forms[1].modalResult = kFormSkip;
  a.modalResult = kFormContinue;
  y = CollectAssistantYield(a);
  EXPECT_EQ(y.header, (ReportFieldList{{"contact name", "Joe"}, {"contact email", "joe@example.com"}}));
  EXPECT_TRUE(y.sections.empty());
  a.forms[1].modalResult = kFormContinue;
  y = CollectAssistantYield(a);
  EXPECT_EQ(y.sections, (ReportFieldList{{"error details", "saving a key"}}));
}

TEST(zebCrashUiAssistant, ContactFormRemembersTheUser) {
  testsupport::TempRegistry registry;
  AssistantContext context;
  {
    NVForm form = CompiledForm("ContactForm");
    FireFormAction(form, kFormCreated, nullptr, &context);
    Type(form, "NameEdit", "Joe Example", &context);
    Type(form, "EmailEdit", "joe@example", &context);
    EXPECT_FALSE(form.Find("EmailEdit", NVItemKind::Edit)->valid);
    EXPECT_FALSE(form.items[kContinueItem].IsEnabled());
    Type(form, "EmailEdit", "joe@example.com", &context);
    EXPECT_TRUE(form.Find("EmailEdit", NVItemKind::Edit)->valid);
    EXPECT_TRUE(form.items[kContinueItem].IsEnabled());
    form.Find("MemCheck", NVItemKind::CheckBox)->checked = true;
    form.modalResult = kFormContinue;
    FireFormAction(form, kFormClosing, nullptr, &context);
  }
  EXPECT_EQ(context.mailFrom, "Joe Example <joe@example.com>");
  EXPECT_EQ(ReadRegistryText(kCurrentUser, kContactKey, "RememberEmail"), "joe@example.com");
  {
    NVForm form = CompiledForm("ContactForm");
    FireFormAction(form, kFormCreated, nullptr, &context);
    EXPECT_EQ(form.Find("NameEdit", NVItemKind::Edit)->text, "Joe Example");
    EXPECT_TRUE(form.Find("MemCheck", NVItemKind::CheckBox)->checked);
    EXPECT_EQ(form.activeControl, "ContinueBtn");
    // Skip leaves the remembered values alone.
    form.Find("MemCheck", NVItemKind::CheckBox)->checked = false;
    form.modalResult = kFormSkip;
    FireFormAction(form, kFormClosing, nullptr, &context);
    EXPECT_EQ(ReadRegistryText(kCurrentUser, kContactKey, "RememberName"), "Joe Example");
    // Continue with "remember me" unchecked deletes them.
    form.modalResult = kFormContinue;
    FireFormAction(form, kFormClosing, nullptr, &context);
    EXPECT_EQ(ReadRegistryText(kCurrentUser, kContactKey, "RememberName"), "");
    EXPECT_EQ(ReadRegistryText(kCurrentUser, kContactKey, "RememberEmail"), "");
  }
  // An empty name leaves the sender as it was.
  AssistantContext other;
  NVForm form = CompiledForm("ContactForm");
  Type(form, "EmailEdit", "a@b.cd", &other);
  form.modalResult = kFormContinue;
  FireFormAction(form, kFormClosing, nullptr, &other);
  EXPECT_FALSE(other.mailFromSet);
}

TEST(zebCrashUiAssistant, ScreenshotFormEditsOnceAndReloads) {
  testsupport::TempDir dir;
  // A stand-in xdg-open on PATH that counts its starts and stays running.
  const std::string counter = (dir / "starts").string();
  const std::string editor = (dir / "xdg-open").string();
  {
    std::ofstream script(editor);
    script << "#!/bin/sh\necho started >> '" << counter << "'\nexec sleep 5\n";
  }
  ::chmod(editor.c_str(), 0755);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (dir.path().string() + ":" + oldPath).c_str(), 1);
  struct RestorePath {
    std::string path;
    ~RestorePath() { ::setenv("PATH", path.c_str(), 1); }
  } restore{oldPath};

  AssistantContext context;
  context.screenshot = TINVBitmap::Create(4, 3);
  context.attachScreenshot = true;
  context.screenshotFile = (dir / "screenShot.bmp").string();
  NVForm form = CompiledForm("ScrShotForm");
  FireFormAction(form, kFormCreated, nullptr, &context);
  NVItem* image = form.Find("ScrShotImg", NVItemKind::Image);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->bitmap, context.screenshot);
  EXPECT_TRUE(form.Find("AttachCheck", NVItemKind::CheckBox)->checked);

  FireFormAction(form, kFormItemEvent, image, &context);
  FireFormAction(form, kFormItemEvent, image, &context);
  ASSERT_TRUE(testsupport::waitUntil([&] { return std::ifstream(counter).good(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ifstream starts(counter);
  std::string all((std::istreambuf_iterator<char>(starts)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "started\n");  // one editor for two clicks

  // A tick without a change keeps the picture; a bigger picture saved over
  // the file is taken at the next tick.
  FireFormAction(form, kFormItemEvent, nullptr, &context);
  EXPECT_FALSE(context.screenshotChanged);
  ASSERT_TRUE(TINVBitmap::Create(8, 6)->SaveAsBmp(context.screenshotFile + ".new"));
  ASSERT_EQ(::rename((context.screenshotFile + ".new").c_str(), context.screenshotFile.c_str()), 0);
  FireFormAction(form, kFormItemEvent, nullptr, &context);
  EXPECT_TRUE(context.screenshotChanged);
  ASSERT_TRUE(context.screenshot);
  EXPECT_EQ(context.screenshot->PixelWidth(), 8);
  EXPECT_EQ(image->bitmap, context.screenshot);

  // Closing deletes the file and takes the attach box's state.
  form.Find("AttachCheck", NVItemKind::CheckBox)->checked = false;
  form.modalResult = kFormCancel;
  FireFormAction(form, kFormClosing, nullptr, &context);
  EXPECT_FALSE(context.attachScreenshot);
  EXPECT_NE(::access(context.screenshotFile.c_str(), F_OK), 0);
}
