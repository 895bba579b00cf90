#include "crashreport/zebSend.h"

#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <set>

#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebHttp.h"
#include "crashreport/zebMail.h"
#include "crashreport/zebSmtp.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebZip.h"

namespace zeb {

namespace fs = std::filesystem;

namespace {

std::mutex servicesLock;
std::shared_ptr<DeliveryServices> installedServices;

bool fileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void removeFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// Everything one transfer needs, taken from the settings once.
struct Transfer {
  std::string url;
  std::string sender;
  std::string recipients;
  std::string mailServer;
  int port = 0;
  std::string account;
  std::string password;
  FormFields fields;
  std::string subject;
  std::string body;
};

bool transmitReport(const Transfer& t, TIZeqSettings& settings, SendProgress& progress,
                    const AttachmentLists& lists) {
  progress.ClearAreas();
  progress.AddArea(1000, settings.PrepAttMsg());
  bool result = false;
  if (!t.url.empty()) {
    HttpUploadParams params;
    params.url = t.url;
    params.port = t.port;
    params.account = t.account;
    params.password = t.password;
    params.sender = t.sender;
    params.texts = {settings.ConnMsg(), settings.FieldMsg(), settings.SendAttMsg(), settings.SendFinalMsg()};
    result = UploadByHttp(params, t.fields, lists, progress);
  } else if (!t.recipients.empty()) {
    SmtpTransfer mail;
    mail.server = t.mailServer;
    mail.port = t.port;
    mail.account = t.account;
    mail.password = t.password;
    mail.sender = t.sender;
    mail.subject = t.subject;
    mail.body = t.body;
    mail.attachments = lists;
    mail.progress = &progress;
    mail.texts = {settings.MxLookMsg(), settings.ConnMsg(),   settings.AuthMsg(),
                  settings.SendMailMsg(), settings.SendAttMsg(), settings.SendFinalMsg()};
    if (!t.mailServer.empty()) {
      const int n = AddMailProgressAreas(false, mail, progress);
      progress.AreaDone();
      result = SmtpSession(mail, t.recipients);
      progress.SetCurrentArea(n + 1);
    } else {
      // Every recipient's own mail server, one session each.
      std::string list = t.recipients;
      const int count = CountMailAddresses(list);
      int n = 0;
      for (int i = 0; i < count; ++i) n = AddMailProgressAreas(true, mail, progress);
      progress.AreaDone();
      for (int i = 1; i <= count; ++i) {
        mail.server.clear();
        result = SmtpSession(mail, ListItem(list, std::size_t(i), ',')) || result;
        progress.SetCurrentArea(1 + i * n);
      }
    }
  }
  progress.Close();
  return result;
}

}  // namespace

std::shared_ptr<DeliveryServices> DeliveryServices::BeginDelivery() { return shared_from_this(); }

std::shared_ptr<SendProgress> DeliveryServices::CreateProgressWindow(const std::string&) {
  return std::make_shared<NullSendProgress>();
}

void DeliveryServices::ShowSendFailure(const std::string&) {}

std::string DeliveryServices::BugReportFileName(TIZeqSettings& settings) {
  return ResolveBugReportFileName(settings);
}

bool DeliveryServices::WriteBugReportFile(const std::string& path, const std::string& report,
                                          TIZeqSettings& settings) {
  return zeb::WriteBugReportFile(path, report, true, settings);
}

void SetDeliveryServices(std::shared_ptr<DeliveryServices> services) {
  std::lock_guard lock(servicesLock);
  installedServices = std::move(services);
}

std::shared_ptr<DeliveryServices> CurrentDeliveryServices() {
  std::lock_guard lock(servicesLock);
  if (!installedServices) installedServices = std::make_shared<DeliveryServices>();
  return installedServices;
}

int ScreenshotFormat(int depth) {
  switch (depth) {
    case 4: return kPng16Greys;
    case 51200: return kPngLimit50K;
    case 102400: return kPngLimit100K;
    case 204800: return kPngLimit200K;
    case 307200: return kPngLimit300K;
    default: return kPng256Colours;
  }
}

std::string ReportExceptionMessage(const std::string& report) {
  const std::size_t at = report.find("\r\nexception message ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + 2;
  const std::size_t end = report.find("\r\n", start);
  std::string line = report.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const std::size_t colon = line.find(':');
  line = colon == std::string::npos ? std::string() : line.substr(colon + 1);
  TrimBlanks(line);
  return line;
}

void PrepareSendAttachments(const IZeqAttachments& collection, AttachmentLists& lists) {
  lists.Clear();
  if (!collection) return;
  collection->BeginAccess();
  std::vector<AttachmentItem> items;
  for (int i = 0; i < collection->Count(); ++i) {
    AttachmentItem item;
    if (!collection->ItemAt(i, item)) continue;
    item.file = ResolveSettingsPath(item.file).string();
    if (fileExists(item.file)) items.push_back(std::move(item));
  }
  collection->EndAccess();

  std::vector<std::string> seen;  // the ZIP names already written
  const std::string temp = TempFolder();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const AttachmentItem& item = items[i];
    if (item.zip.empty()) {
      lists.Add(item.file, item.sendAs, item.field);
      continue;
    }
    bool done = false;
    for (const std::string& s : seen) done = done || SameTextIgnoringCase(s, item.zip);
    if (done || temp.empty()) continue;
    seen.push_back(item.zip);
    std::vector<std::string> files, names;
    for (std::size_t j = i; j < items.size(); ++j) {
      if (!SameTextIgnoringCase(items[j].zip, item.zip)) continue;
      files.push_back(items[j].file);
      names.push_back(items[j].sendAs);
    }
    const std::string archive = temp + FileNameOf(item.zip);
    if (WriteZipArchive(archive, files, names)) lists.Add(archive, item.zip, item.zip);
  }
}

int DeliverBugReport(const std::string& report, NVBitmapPtr screenshot, bool silent, bool background,
                     IZeqSettings settings, bool inThread, std::thread* sendThread,
                     std::shared_ptr<DeliveryServices> windowServices) {
  try {
    if (!settings) return kNotSent;
    if (background && !inThread && !IsProcessLocked(250)) {
      try {
        std::thread worker([report, screenshot, silent, settings] {
          DeliverBugReport(report, screenshot, silent, true, settings, true, nullptr);
        });
        if (sendThread) {
          // The earlier send may use the exception this slot belongs to:
          // it ends (its waits are bounded) before the slot takes the new one.
          if (sendThread->joinable() && sendThread->get_id() != std::this_thread::get_id()) sendThread->join();
          *sendThread = std::move(worker);
        } else {
          worker.detach();
        }
        return kSent;
      } catch (const std::system_error&) {
        // No thread to be had: the delivery runs here.
      }
    }

    const std::shared_ptr<DeliveryServices> services =
        (windowServices ? windowServices : CurrentDeliveryServices())->BeginDelivery();
    TIZeqSettings& s = *settings;
    auto* exception = dynamic_cast<IZeqExceptionEx*>(settings.get());

    std::string subject = s.MailSubj();
    std::string body = s.MailBody();
    const std::string recipients = s.MailAddr();
    std::string sender = s.MailFrom();
    if (sender.empty() && !recipients.empty()) {
      std::string list = recipients;
      CountMailAddresses(list);
      sender = "zebExcept " + AngleMailAddress(ListItem(list, 1, ','), false);
    }
    const std::string message = ReportExceptionMessage(report);
    const std::string moduleName = ProgramFileName();
    subject = ExpandVariables(moduleName, subject, message, report, s.VersionText());
    body = ExpandVariables(moduleName, body, message, report, s.VersionText());

    const IZeqAttachments collection = NewAttachmentList();
    bool deleteFile = false;
    std::string reportFile;
    std::string screenshotFile;
    std::shared_ptr<SendProgress> progress;
    AttachmentLists lists;
    const bool smtpServer = s.MailAsSmtpServer(), smtpClient = s.MailAsSmtpClient();
    const bool http = s.UploadViaHttp(), mapi = s.MailViaMapi();
    if (smtpServer || smtpClient || http || mapi) {
      const std::string temp = TempFolder();
      if (s.AttachBugRep()) {
        reportFile = ResolveSettingsPath(services->BugReportFileName(s)).string();
        const std::string copy = temp.empty() || reportFile.empty() ? std::string() : temp + FileNameOf(reportFile);
        if (!copy.empty()) {
          bool append = true;
          if (s.AttachBugRepFile() && exception && exception->ReportSaved()) append = false;
          std::error_code ec;
          if (s.AttachBugRepFile() && fileExists(reportFile) &&
              fs::copy_file(reportFile, copy, fs::copy_options::overwrite_existing, ec)) {
            deleteFile = s.DelBugRepFile();
          } else {
            removeFile(copy);
            append = true;
          }
          if (append && !services->WriteBugReportFile(copy, report, s)) removeFile(copy);
        }
        if (fileExists(copy)) collection->Append(copy, s.BugRepSendAs(), s.BugRepZip(), "BugReport");
        else deleteFile = false;
      }
      if (screenshot && !temp.empty()) {
        screenshotFile = temp + "screenShot.png";
        removeFile(screenshotFile);
        if (screenshot->SaveAsPng(screenshotFile, ScreenshotFormat(s.ScrShotDepth())))
          collection->Append(screenshotFile, s.ScrShotSendAs(), s.ScrShotZip(), "ScreenShot");
      }
      if (const IZeqAttachments extra = s.ExtraAttachments()) {
        extra->BeginAccess();
        for (int i = 0; i < extra->Count(); ++i) {
          AttachmentItem item;
          if (extra->ItemAt(i, item)) collection->Append(item.file, item.sendAs, item.zip, item.field);
        }
        extra->EndAccess();
      }

      progress = services->CreateProgressWindow(s.SendBoxTitle());
      if (!progress) progress = std::make_shared<NullSendProgress>();
      progress->AddArea(100, s.PrepAttMsg());
      if (smtpServer || smtpClient || http) {
        if (smtpServer) progress->AddArea(100, s.MxLookMsg());
        progress->AddArea(100, s.ConnMsg());
        if (smtpServer || smtpClient) {
          progress->AddArea(200, s.AuthMsg());
          progress->AddArea(100, s.SendMailMsg());
        }
        if (http) progress->AddArea(100, s.FieldMsg());
        if (collection->Count() > 0) progress->AddArea(100, s.SendAttMsg());
        progress->AddArea(100, s.SendFinalMsg());
      }
      if (!silent || s.AutoSendBox()) progress->Show(!inThread);
      PrepareSendAttachments(collection, lists);
    }

    FormFields fields;
    {
      const IZeqFields copy = s.ExtraFields() ? s.ExtraFields()->Copy() : NewFieldList();
      if (!sender.empty()) copy->Assign("MailFrom", sender);
      if (!subject.empty()) copy->Assign("MailSubject", subject);
      if (!body.empty()) copy->Assign("MailBody", body);
      if (!recipients.empty()) copy->Assign("MailAddr", recipients);
      fields = FieldsOf(copy);
    }

    // The network method: the first one switched on, and only that one. The
    // check whether the machine is online is skipped: it needs a raw socket.
    bool sent = false;
    NullSendProgress noProgress;
    SendProgress& bar = progress ? *progress : noProgress;
    Transfer t;
    t.sender = sender;
    t.recipients = recipients;
    if (smtpServer) {
      if (!recipients.empty()) {
        t.port = 25;
        t.subject = subject;
        t.body = body;
        sent = transmitReport(t, s, bar, lists);
      }
    } else if (smtpClient) {
      if (!recipients.empty() && !s.SmtpServer().empty()) {
        t.mailServer = s.SmtpServer();
        t.port = s.SmtpPort();
        t.account = s.SmtpAccount();
        t.password = s.SmtpPassword();
        t.subject = subject;
        t.body = body;
        sent = transmitReport(t, s, bar, lists);
      }
    } else if (http) {
      if (!s.HttpServer().empty()) {
        t.url = s.HttpServer();
        t.recipients.clear();
        t.port = s.HttpPort();
        t.account = s.HttpAccount();
        t.password = s.HttpPassword();
        t.fields = fields;
        sent = transmitReport(t, s, bar, lists);
      }
    }
    if (progress) progress->Close();

    int result = sent ? kSent : kNotSent;
    // The mail program may still need the screenshot.
    if (!screenshotFile.empty() && (sent || !mapi)) removeFile(screenshotFile);
    if (result == kNotSent && mapi) result = SendMailByMapi(recipients, subject, body, lists.files);
    if (result == kNotSent && s.MailViaMailto() && !silent) {
      deleteFile = false;  // the mail program gets the text only, not the file
      result = SendMailByMailto(recipients, subject, report) ? kSent : kNotSent;
    }
    if (result == kNotSent && !silent) services->ShowSendFailure(s.SendFailMsg());
    if (result == kSent) {
      if (exception) exception->SetReportSent(true);
      if (deleteFile && s.DelBugRepFile() && !reportFile.empty()) {
        removeFile(reportFile);
      }
    }
    return result;
  } catch (...) {
    // A delivery never takes the program down.
    return kNotSent;
  }
}

void InstallReportDelivery() {
  SetReportDelivery([](IZeqException& exception, const DeliveryRequest& request) {
    auto* object = dynamic_cast<TIZeqException*>(&exception);
    if (!object) return;
    // Not owning: the exception object joins its send thread before it goes.
    const IZeqSettings settings(IZeqSettings(), object);
    const NVBitmapPtr screenshot = object->AppendScreenshot() ? object->Screenshot() : nullptr;
    const bool silent = request.byUser ? false : kSilentAutoSend;
    const bool background = request.byUser ? object->SendInBackgr() : true;
    DeliverBugReport(object->CompleteReportText(), screenshot, silent, background, settings, false,
                     &object->SendThread(), request.services);
  });
}

}  // namespace zeb
