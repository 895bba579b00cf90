#pragma once

// Mail delivery over SMTP: one session on a TCP connection to a configured
// server, or to the recipient's mail exchanger found in the DNS. The message
// is plain text, or MIME multipart/mixed with the attachments in base64.

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "crashreport/zebSendTypes.h"

namespace zeb {

// The progress window's texts of a session's steps.
struct MailTexts {
  std::string lookup;      // MxLookMsg
  std::string connecting;  // ConnMsg
  std::string auth;        // AuthMsg
  std::string sendMail;    // SendMailMsg
  std::string attachment;  // SendAttMsg
  std::string final;       // SendFinalMsg
};

struct SmtpTransfer {
  std::string server;  // empty: the recipient's mail server is looked up
  int port = 25;
  std::string account;
  std::string password;  // plain
  std::string sender;    // empty: the recipients
  std::string subject;
  std::string body;
  AttachmentLists attachments;
  SendProgress* progress = nullptr;  // null: none
  MailTexts texts;
  // Given in MAIL FROM instead of the sender when set.
  std::string envelopeSender;
  // The subject as UTF-8 base64 instead of ISO-8859-1 quoted-printable.
  bool subjectUtf8 = false;
  int replyTimeout = 7;  // seconds per reply, and for the connection
  std::string heloName;  // empty: the computer's name
  // The mail server of an address; empty: FindMailServer with the system's
  // DNS servers.
  std::function<std::string(const std::string& address)> findMailServer;
};

// One session delivering the mail to every recipient of the ","-list. True
// when the server took the message for at least one of them.
bool SmtpSession(SmtpTransfer& transfer, const std::string& recipients);

// Adds the areas one session finishes, in its order; the number added.
int AddMailProgressAreas(bool withLookup, const SmtpTransfer& transfer, SendProgress& progress);

// "11 Dec 2026 05:04:09 UT" for a UTC time.
std::string MailDateText(std::time_t time);
// "<" 16 hexadecimal digits of the time in 100 ns since 1601 "@zebExcept>".
std::string NewMessageId();

// The Subject header's value: "=?ISO-8859-1?Q?...?=" with every byte but
// letters and digits as "=XX", or "=?UTF-8?B?...?=".
std::string EncodedSubject(std::string_view subject, bool utf8);

// The body as the DATA section carries it: every line ended by CR LF (a bare
// LF or CR becomes one) and a "." at a line's start doubled, so no line of the
// text can end the message early.
std::string TransparentBody(std::string_view body);

}  // namespace zeb
