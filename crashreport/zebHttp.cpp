#include "crashreport/zebHttp.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>

#include "crashreport/zebCrypt.h"
#include "crashreport/zebMail.h"
#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

constexpr std::string_view kCrLf = "\r\n";

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Names under the reserved "invalid" domain never resolve: refused without
// waiting for a resolver.
bool isReservedInvalidName(std::string host) {
  host = LowerText(host);
  const std::size_t colon = host.find(':');
  if (colon != std::string::npos) host.resize(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  return host == "invalid" || (host.size() > 8 && host.ends_with(".invalid"));
}

// Reads a file whole; false when it cannot be opened or read to its end.
bool readWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// What the answer's head told, as far as the upload needs it.
struct Answer {
  int status = 0;
  bool complete = false;  // the head of a final (not 1xx) answer was read
  std::string location;
};

std::size_t onHeadLine(char* data, std::size_t size, std::size_t count, void* user) {
  auto& answer = *static_cast<Answer*>(user);
  const std::size_t length = size * count;
  std::string line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.starts_with("HTTP/")) {
    const std::size_t blank = line.find(' ');
    answer.status = blank == std::string::npos ? 0 : int(ParseNumber(false, line.substr(blank + 1, 3)));
    answer.location.clear();
  } else if (line.empty()) {
    if (answer.status >= 200) {
      answer.complete = true;
      return 0;  // the status decides; the rest of the answer is not read
    }
  } else if (StartsWithIgnoringCase("location:", line)) {
    answer.location = TrimmedCopy(std::string_view(line).substr(9));
  }
  return length;
}

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// Moves the progress along as the body leaves: the first bytes out mean the
// connection stands; each area ends at a body offset.
struct UploadProgress {
  SendProgress* progress = nullptr;
  std::chrono::steady_clock::duration silenceLimit{};
  std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
  std::uint64_t lastBytes = 0;
  bool connected = false;
  std::vector<std::uint64_t> ends;    // body offsets at which the areas end
  std::vector<std::uint64_t> starts;  // where a file's area starts; ends[i] when not a file
  std::size_t next = 0;

  void advance(std::uint64_t sent) {
    if (sent == 0) return;
    if (!connected) {
      connected = true;
      progress->AreaDone();  // connecting
      progress->AreaDone();  // connected
    }
    while (next < ends.size() && sent >= ends[next]) {
      progress->AreaDone();
      ++next;
    }
    if (next < ends.size() && sent > starts[next] && ends[next] > starts[next])
      progress->SetPosition(int((sent - starts[next]) * 1000 / (ends[next] - starts[next])));
  }
};

// libcurl calls this at least once a second; a connection on which nothing
// moved for the answer's time-out is given up.
int onTransferInfo(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto& tracker = *static_cast<UploadProgress*>(user);
  tracker.advance(std::uint64_t(sent));
  const auto now = std::chrono::steady_clock::now();
  const std::uint64_t bytes = std::uint64_t(sent) + std::uint64_t(received);
  if (bytes != tracker.lastBytes) {
    tracker.lastBytes = bytes;
    tracker.lastChange = now;
  }
  return now - tracker.lastChange > tracker.silenceLimit ? 1 : 0;
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

FormFields FieldsOf(const IZeqFields& fields) {
  FormFields out;
  if (!fields) return out;
  fields->BeginAccess();
  for (int i = 0; i < fields->Count(); ++i) {
    const std::string name = fields->NameAt(i);
    out.emplace_back(name, fields->ValueOf(name));
  }
  fields->EndAccess();
  return out;
}

std::string FieldPartHead(const std::string& name) {
  return std::string(kCrLf) + "--" + std::string(kMultipartBoundary) + std::string(kCrLf) +
         "Content-Disposition: form-data; name=\"" + name + "\"" + std::string(kCrLf) + std::string(kCrLf);
}

std::string FilePartHead(const std::string& sendAs, const std::string& field) {
  return std::string(kCrLf) + "--" + std::string(kMultipartBoundary) + std::string(kCrLf) +
         "Content-Disposition: form-data; name=\"" + field + "\"; filename=\"" + sendAs + "\"" +
         std::string(kCrLf) + "Content-Type: application/octet-stream" + std::string(kCrLf) + std::string(kCrLf);
}

std::string ClosingLine() { return "--" + std::string(kMultipartBoundary) + "--" + std::string(kCrLf); }

std::string MultipartBody(const FormFields& fields, const std::vector<MultipartFile>& files) {
  std::string body;
  for (const auto& [name, value] : fields) body += FieldPartHead(name) + value;
  for (const MultipartFile& file : files) {
    if (file.bytes.empty()) continue;
    body += FilePartHead(file.sendAs, file.field) + file.bytes;
  }
  body += std::string(kCrLf) + ClosingLine();
  // The request's head ends with its own CR LF, so the body starts at "--".
  return body.substr(2);
}

std::vector<std::string> UploadHeadLines(const std::string& host, int port, const std::string& sender,
                                         const std::string& account, const std::string& password,
                                         std::size_t contentLength) {
  std::vector<std::string> lines = {
      "Host: " + host + ":" + DecimalText(port),
      "Connection: close",
      "Pragma: no-cache",
      "User-Agent: zebExcept/3.0",
      "Content-Type: multipart/form-data; boundary=" + std::string(kMultipartBoundary),
      "Content-Length: " + DecimalText(std::int64_t(contentLength)),
  };
  if (!sender.empty()) lines.push_back("From: " + AngleMailAddress(sender, false));
  if (!account.empty() || !password.empty())
    lines.push_back("Authorization: Basic " + Base64EncodeText(account + ":" + password));
  return lines;
}

void StripUrlScheme(std::string& text) {
  const std::size_t scheme = text.find("://");
  if (scheme != std::string::npos) text.erase(0, scheme + 3);
  const std::size_t http = FindTextIgnoringCase("http=", text, 1, text.size());
  if (http != 0) {
    text.erase(0, http - 1 + 5);
    const std::size_t blank = text.find(' ');
    if (blank != std::string::npos) text.resize(blank);
  }
}

bool IsBrowsableLocation(const std::string& url) {
  if (!StartsWithIgnoringCase("http://", url) && !StartsWithIgnoringCase("https://", url)) return false;
  for (const char c : url)
    if (static_cast<unsigned char>(c) <= 32) return false;
  return true;
}

bool UploadByHttp(const HttpUploadParams& params, const FormFields& fields, const AttachmentLists& attachments,
                  SendProgress& progress) {
  // The files that go out, read now so the length is known before sending.
  std::vector<MultipartFile> files;
  bool unreadable = false;
  for (std::size_t i = 0; i < attachments.Count(); ++i) {
    if (AttachmentFileSize(attachments.files[i]) == 0) continue;
    MultipartFile file{i < attachments.sendAs.size() ? attachments.sendAs[i] : std::string(),
                       i < attachments.fields.size() ? attachments.fields[i] : std::string(), {}};
    if (!readWholeFile(attachments.files[i], file.bytes)) unreadable = true;
    if (!file.bytes.empty()) files.push_back(std::move(file));
  }
  const std::string body = MultipartBody(fields, files);

  // The areas: connecting, connected, fields, each file, closing line, answer.
  // Each but the first two and the last ends at an offset of the body, which
  // starts 2 bytes into the parts (their first CR LF ends the head).
  std::uint64_t unshifted = 0;
  for (const auto& [name, value] : fields) unshifted += FieldPartHead(name).size() + value.size();
  progress.AddArea(100, params.texts.connecting);
  progress.AddArea(100, "");
  progress.AddArea(std::int64_t(unshifted) + 100, params.texts.fields);
  UploadProgress tracker;
  tracker.progress = &progress;
  auto bodyOffset = [](std::uint64_t u) { return u < 2 ? 0 : u - 2; };
  tracker.starts.push_back(bodyOffset(unshifted));
  tracker.ends.push_back(bodyOffset(unshifted));
  for (const MultipartFile& file : files) {
    const std::uint64_t head = FilePartHead(file.sendAs, file.field).size();
    progress.AddArea(std::int64_t((head + file.bytes.size()) / 16), params.texts.attachment);
    tracker.starts.push_back(bodyOffset(unshifted + head));
    unshifted += head + file.bytes.size();
    tracker.ends.push_back(bodyOffset(unshifted));
  }
  progress.AddArea(100, "");
  progress.AddArea(500, params.texts.final);
  tracker.starts.push_back(body.size());
  tracker.ends.push_back(body.size());
  progress.AreaDone();  // the preparation

  std::string target = params.url;
  std::string scheme = "http";
  const std::size_t schemeEnd = target.find("://");
  if (schemeEnd != std::string::npos) scheme = LowerText(target.substr(0, schemeEnd));
  StripUrlScheme(target);
  const std::size_t slash = target.find('/');
  if (unreadable || slash == std::string::npos || slash == 0) return false;
  const std::string host = target.substr(0, slash);
  const std::string path = target.substr(slash);
  if (isReservedInvalidName(host) || (scheme != "http" && scheme != "https")) return false;

  initialiseCurlOnce();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return false;
  std::unique_ptr<curl_slist, SlistDeleter> head;
  auto addLine = [&head](const std::string& line) {
    curl_slist* next = curl_slist_append(head.get(), line.c_str());
    if (next) {
      head.release();
      head.reset(next);
    }
  };
  for (const std::string& line :
       UploadHeadLines(host, params.port, params.sender, params.account, params.password, body.size()))
    addLine(line);
  // Lines libcurl would add on its own.
  addLine("Accept:");
  addLine("Expect:");
  addLine("Proxy-Connection:");

  const std::string url = scheme + "://" + host + ":" + DecimalText(params.port) + path;
  Answer answer;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, head.get());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, params.connectTimeout);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeadLine);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &answer);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discardBody);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &tracker);
  tracker.silenceLimit = std::chrono::seconds(params.answerTimeout);
  tracker.lastChange = std::chrono::steady_clock::now();
  const CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK && !answer.complete) return false;
  tracker.advance(body.size());
  progress.AreaDone();  // the answer

  if (answer.status == 302) {
    if (!IsBrowsableLocation(answer.location)) return false;
    StartProgram({"xdg-open", answer.location});
    return true;
  }
  return answer.status == 200;
}

std::uint64_t AttachmentFileSize(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  std::ifstream in(path, std::ios::binary);
  return in ? std::uint64_t(st.st_size) : 0;
}

}  // namespace zeb
