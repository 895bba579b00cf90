#pragma once

// Sending a bug report: the one operation behind the dialog's send button and
// the automatic send. It collects the attachments (a copy of the bug-report
// file holding the new report, the screenshot as PNG, further configured
// files, packed into ZIP archives by name), shows the progress, tries the
// network method the settings switch on (SMTP as a server of its own, SMTP
// through a configured server, or the HTTP upload), falls back to the user's
// mail program, and tells the user when nothing worked.

#include <memory>
#include <string>
#include <thread>

#include "crashreport/zebExceptFields.h"
#include "crashreport/zebExceptSettings.h"
#include "crashreport/zebNVBitmap.h"
#include "crashreport/zebSendTypes.h"

namespace zeb {

// What the delivery needs of the windows and of the bug-report file. The
// defaults show nothing and use the bug-report file's own rules.
class DeliveryServices : public std::enable_shared_from_this<DeliveryServices> {
public:
  virtual ~DeliveryServices() = default;
  // The services one delivery uses from its start to its end (one window
  // session for its progress and its failure message, say); by default this
  // object itself.
  virtual std::shared_ptr<DeliveryServices> BeginDelivery();
  // A progress window with this title, not shown yet; null for none.
  virtual std::shared_ptr<SendProgress> CreateProgressWindow(const std::string& title);
  // Tells the user that the report could not be sent (a silent delivery never
  // calls it).
  virtual void ShowSendFailure(const std::string& text);
  // The configured bug-report file (may be relative).
  virtual std::string BugReportFileName(TIZeqSettings& settings);
  // Writes the report into the file at `path`; true when it was written.
  virtual bool WriteBugReportFile(const std::string& path, const std::string& report, TIZeqSettings& settings);
};

// Replaces the services; null restores the defaults.
void SetDeliveryServices(std::shared_ptr<DeliveryServices> services);
std::shared_ptr<DeliveryServices> CurrentDeliveryServices();

enum DeliveryResult : int { kNotSent = 0, kSent = 1, kSendCancelled = 2 };

// The automatic send works without the user: no mailto and no message.
inline constexpr bool kSilentAutoSend = true;

// Sends the report. With `background` (and not `inThread`) the work moves to
// a thread of its own and the call answers kSent at once; the thread goes to
// `sendThread` when given (an older thread there is waited for first), else
// runs detached. `silent` marks a delivery without the user: no
// mailto, no failure message, and the progress shown only with AutoSendBox.
// The settings are the exception's when the report belongs to one; its
// "report sent" flag is then set on success. `services` stand for the window
// the user sent from (its progress and failure message show there); null,
// and always on the background thread, which has no window: the installed
// services.
int DeliverBugReport(const std::string& report, NVBitmapPtr screenshot, bool silent, bool background,
                     IZeqSettings settings, bool inThread = false, std::thread* sendThread = nullptr,
                     std::shared_ptr<DeliveryServices> services = nullptr);

// Makes DeliverBugReport the send of every exception, the thread kept in the
// exception's send-thread slot: the automatic send (silent, in the
// background) and the user's (not silent, in the background when
// SendInBackgr says so). The screenshot goes along when the exception is to
// carry one.
void InstallReportDelivery();

// The attachments walked in order: files made absolute, missing ones left
// out, those with a ZIP name packed with every later one of the same name
// (letter case ignored) into one archive in the temporary folder.
void PrepareSendAttachments(const IZeqAttachments& collection, AttachmentLists& lists);

// The PNG format that a ScrShotDepth value asks for.
int ScreenshotFormat(int depth);

// The "exception message" header line's text after its ":"; empty when the
// report has none.
std::string ReportExceptionMessage(const std::string& report);

}  // namespace zeb
