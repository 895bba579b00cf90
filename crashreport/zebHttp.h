#pragma once

// The HTTP upload of a bug report: one POST with a multipart/form-data body
// holding the form fields and the attachment files. The body is built here in
// full, so its length is known before the request goes out; libcurl carries
// it. Redirects are never followed: a 302 hands its Location to the user's
// browser (http and https only) and counts as accepted.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "crashreport/zebExceptFields.h"
#include "crashreport/zebSendTypes.h"

namespace zeb {

// The progress window's texts of the upload's steps.
struct UploadTexts {
  std::string connecting;  // ConnMsg
  std::string fields;      // FieldMsg
  std::string attachment;  // SendAttMsg
  std::string final;       // SendFinalMsg
};

struct HttpUploadParams {
  std::string url;  // "http://host/path"; without a scheme http is meant
  int port = 80;
  std::string account;
  std::string password;  // plain
  std::string sender;    // the From line's address; may be empty
  // Seconds to wait for the connection, and for the server's next byte.
  long connectTimeout = 7;
  long answerTimeout = 7;
  UploadTexts texts;
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

struct MultipartFile {
  std::string sendAs;
  std::string field;
  std::string bytes;
};

// The fields in list order (for a list of IZeqFields).
FormFields FieldsOf(const IZeqFields& fields);

// The text that precedes a field's content, or a file's bytes, in the body.
std::string FieldPartHead(const std::string& name);
std::string FilePartHead(const std::string& sendAs, const std::string& field);
// "--" boundary "--" CR LF.
std::string ClosingLine();

// The whole request body: every field, then every non-empty file, then the
// closing line. Each part begins with CR LF "--" boundary; the body starts
// after the first part's CR LF, so an empty form is the 39-byte closing line.
std::string MultipartBody(const FormFields& fields, const std::vector<MultipartFile>& files);

// The head lines after the request line, in the order they are sent.
std::vector<std::string> UploadHeadLines(const std::string& host, int port, const std::string& sender,
                                         const std::string& account, const std::string& password,
                                         std::size_t contentLength);

// Everything up to and including the first "://" removed; then, when the text
// holds "http=" (case ignored), everything up to and including it, and the
// text from the first blank on.
void StripUrlScheme(std::string& text);

// Where a 302 may send the user: http and https URLs only.
bool IsBrowsableLocation(const std::string& url);

// Posts the report, adding its areas to the progress after the caller's
// preparation area and finishing that one first. The files whose size is 0 or that cannot be opened are
// left out; one that exists but cannot be read whole fails the upload. True
// when the server answered 200, or 302 with a browsable Location.
bool UploadByHttp(const HttpUploadParams& params, const FormFields& fields, const AttachmentLists& attachments,
                  SendProgress& progress);

}  // namespace zeb
