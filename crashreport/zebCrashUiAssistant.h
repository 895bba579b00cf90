#pragma once

// Assistants: small wizards of forms that ask the user for what a bug report
// should carry (contact data, a description, whether to attach the
// screenshot). The forms are read from streamed-form resources ("TPF0") into
// plain records; validation, focus order, the placement of the standard
// buttons and what a finished assistant adds to the report live here, away
// from the windows that show them.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/zebCrashUiTypes.h"
#include "crashreport/zebNVBitmap.h"

namespace zeb {

enum class NVItemKind : std::uint8_t { Button, Label, Edit, CheckBox, Image };

struct NVItem {
  NVItemKind kind = NVItemKind::Button;
  std::string name;
  bool tabStop = true;
  bool enabled = true;
  bool forceDisabled = false;  // the continue button while the form is not valid
  int spacing = 0;             // pixels below the item; 0 = automatic
  bool ownSection = false;     // output as a section (multi-line edits only) instead of a header field
  std::string outputName;
  // Buttons.
  std::string caption;  // labels and check boxes too; empty = the name
  int minWidth = 0;
  bool noOwnerDraw = false;
  bool invisible = false;
  // Edits.
  std::string text;
  int lines = 1;
  bool optional = false;
  bool colored = false;
  bool valid = true;
  // Check boxes.
  bool checked = false;
  // Images.
  std::string file;
  int width = 0, height = 0;
  bool clickable = false;
  bool border = false;
  NVBitmapPtr bitmap;

  std::string Caption() const { return caption.empty() ? name : caption; }
  bool IsEnabled() const { return enabled && !forceDisabled; }
};

inline constexpr int kContinueItem = 0;
inline constexpr int kSkipItem = 1;
inline constexpr int kCancelItem = 2;

enum FormResult : int { kFormNone = 0, kFormContinue = 1, kFormSkip = 2, kFormCancel = 3 };

// Action codes of an action handler.
enum FormAction : int { kFormCreated = 0, kFormShowing = 1, kFormClosing = 2, kFormItemEvent = 3 };

struct AssistantContext;
struct NVForm;
using FormHandler = std::function<void(NVForm& form, int action, NVItem* item, AssistantContext* context)>;

struct NVForm {
  std::string name;
  std::string title;
  std::string message;
  int minWidth = 0;
  std::string activeControl;
  int timerInterval = 0;
  std::string onAction;  // the handler's name as the resource gives it
  FormHandler handler;   // empty when the name selects no built-in handler
  std::vector<NVItem> items;  // continue, skip, cancel, then the resource's items
  int step = 1, steps = 1;
  int modalResult = kFormNone;
  bool skip = false;
  std::shared_ptr<void> handlerData;
  std::string readError;  // the internal-error text when the resource was not read to its end

  NVForm();
  // The first item of that name and kind; null when none.
  NVItem* Find(std::string_view name, NVItemKind kind);
  int IndexOf(std::string_view name) const;
};

// Reads a form resource: "TPF0", then objects (class, name, properties up to
// a zero byte, children up to a zero byte). Without the signature the form
// keeps only its three buttons. An unknown value type stops reading with
// readError "Internal error: Invalid assistant resource (<type in hex>).";
// what was read before stays.
void ReadFormResource(std::span<const std::uint8_t> bytes, NVForm& form);

// The resource of a readable form description, one statement a line:
//   object NAME CLASS        (children follow until "end")
//   end
//   PROPERTY text|ident|int|bool VALUE
// Lines starting with "#" and blank lines are skipped. `error` gets the
// number of a line that cannot be read.
std::vector<std::uint8_t> WriteFormResource(std::string_view description, std::string* error = nullptr);

// This program's compiled-in form resources by form name ("ContactForm"),
// looked up as "TZEQ" + the name in upper case; empty when there is none.
std::span<const std::uint8_t> AssistantFormResource(std::string_view formName);

// The built-in handler an "OnAction" value names (letter case ignored);
// empty for any other value: nothing else is ever called.
FormHandler BuiltInFormHandler(std::string_view name);

// Disables continue while any item from index 3 says no: an edit says yes
// when it is optional, or valid with some text.
void ValidateForm(NVForm& form);

// The item the focus moves to from `from` (forward or back through the ring
// of items): the next enabled one with a tab stop; -1 when the walk comes
// back to the start.
int NextFocusItem(const NVForm& form, int from, bool forward);

// The x positions of the continue, skip and cancel buttons for their widths
// in a form `clientWidth` wide; the client width a form needs.
struct FormButtonPlacement {
  int x[3] = {0, 0, 0};
};
FormButtonPlacement PlaceFormButtons(const NVForm& form, const int widths[3], int clientWidth);
int FormClientWidth(const NVForm& form, const int widths[3], int messageWidth);
// The gap below item `index` when it is not the last.
int ItemGap(const NVForm& form, std::size_t index, bool headLabel);

// An assistant: its title and forms, as the settings define it
// ("name|title|form|form...").
struct NVAssistant {
  std::string name;
  std::string title;
  std::vector<NVForm> forms;
  int modalResult = kFormNone;
};
// Builds the forms of a definition from the compiled-in resources (or those
// `resourceOf` gives) and runs their action 0 with `context`.
NVAssistant LoadAssistant(std::string_view definition, AssistantContext* context,
                          const std::function<std::span<const std::uint8_t>(std::string_view)>& resourceOf = {});
// The assistant's definition in the settings, by name (case ignored); empty
// when none.
std::string FindAssistantDefinition(const CrashUiSettings& settings, std::string_view name);

// What a finished assistant adds to the report: only after result 1, only
// forms left with continue.
struct AssistantYield {
  ReportFieldList header;
  ReportFieldList sections;
};
AssistantYield CollectAssistantYield(const NVAssistant& assistant);

// The e-mail address check of the contact form.
bool IsValidEmailAddress(std::string_view text);

// What the handlers reach of the exception in the window's process.
struct AssistantContext {
  std::string mailFrom;        // set by the contact form's handler
  bool mailFromSet = false;
  NVBitmapPtr screenshot;
  bool attachScreenshot = false;
  bool screenshotChanged = false;
  std::string screenshotFile;  // where the image is written for editing
  std::string editor = "xdg-open";  // started with the file's path as its only argument
  std::function<void()> beep;
};

// The handlers (also reachable through BuiltInFormHandler).
void HandleContactForm(NVForm& form, int action, NVItem* item, AssistantContext* context);
void HandleScreenshotForm(NVForm& form, int action, NVItem* item, AssistantContext* context);

// Fires a form's action: the form's handler; exceptions stay inside.
void FireFormAction(NVForm& form, int action, NVItem* item, AssistantContext* context);

}  // namespace zeb
