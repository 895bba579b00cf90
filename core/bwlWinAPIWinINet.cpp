#include "core/bwlWinAPIWinINet.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <mutex>

#include "platform/ErrorText.h"

namespace {

std::mutex agentMutex;
std::string agentName = "kxWinINet";

std::string currentAgentName() {
  std::lock_guard lock(agentMutex);
  return agentName;
}

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The texts of the Internet client's own codes, which the system's table
// does not hold.
const char* internetCodeText(std::uint32_t code) {
  switch (code) {
    case ERROR_INTERNET_TIMEOUT: return "The operation timed out";
    case ERROR_INTERNET_INTERNAL_ERROR: return "An internal error occurred in the Internet client";
    case ERROR_INTERNET_INVALID_URL: return "The URL is invalid";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return "The URL scheme could not be recognized, or is not supported";
    case ERROR_INTERNET_CONNECTION_ABORTED: return "The connection with the server was terminated abnormally";
    case ERROR_INTERNET_CONNECTION_RESET: return "The connection with the server was reset";
    case ERROR_INTERNET_INVALID_CA: return "The certificate authority is invalid or incorrect";
    case ERROR_HTTP_REDIRECT_FAILED: return "The redirection failed";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "An error occurred in the secure channel support";
    default: return nullptr;
  }
}

std::uint32_t curlToInternetError(CURLcode rc) {
  switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_PEER_FAILED_VERIFICATION: return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_OUT_OF_MEMORY: return 8;  // ERROR_NOT_ENOUGH_MEMORY
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

// Names under the reserved "invalid" domain never resolve; they are refused
// without asking a resolver.
bool isReservedInvalidName(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  while (!host.empty() && host.back() == '.') host.pop_back();
  return host == "invalid" || (host.size() > 8 && host.ends_with(".invalid"));
}

struct Transfer {
  TkxInternetHTTP* client;
  uni::TUniStream* stream;
  CURL* curl;
  long status = -1;  // -1 until the answer's head has been seen
  bool writeFailed = false;
};

// The answer's status and announced length, once its head has arrived.
// False when the status says the body is no answer.
bool takeHead(Transfer& t) {
  if (t.status >= 0) return t.status < 400;
  curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &t.status);
  t.client->DoLog("+ HttpQueryInfo status=" + std::to_string(t.status));
  curl_off_t length = -1;
  if (curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
    t.client->FBytesTotal = length;
  return t.status < 400;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  std::size_t total = size * count;
  if (!takeHead(t)) return 0;  // ends the transfer: an error page is not the file
  std::size_t block = std::max<std::size_t>(t.client->FBlockSize, 1);
  for (std::size_t off = 0; off < total; off += block) {
    std::size_t n = std::min(block, total - off);
    if (t.stream->Write(data + off, n) != n) {
      t.writeFailed = true;
      return 0;
    }
    t.client->FBytesDone += static_cast<std::int64_t>(n);
    t.client->DoProgress();
  }
  return total;
}

}  // namespace

TkxHttpTarget SplitHostPort(const std::string& host) {
  TkxHttpTarget t;
  std::size_t colon = host.find(':');
  t.Host = host.substr(0, colon);
  if (colon != std::string::npos) {
    std::string_view text(host);
    text.remove_prefix(colon + 1);
    int port = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec == std::errc() && end == text.data() + text.size() && port > 0 && port <= 65535) t.Port = port;
  }
  return t;
}

TkxInternet::TkxInternet() : FAgentName(currentAgentName()) {
  initialiseCurlOnce();
  FSession = curl_easy_init();
  if (!FSession) FLastError = ERROR_INTERNET_INTERNAL_ERROR;
}

TkxInternet::~TkxInternet() {
  if (FSession) curl_easy_cleanup(static_cast<CURL*>(FSession));
}

void TkxInternet::DoProgress() {
  if (!OnProgress) return;
  std::uint8_t percent = 0;
  if (FBytesTotal > 0) {
    if (FBytesDone == FBytesTotal)
      percent = 100;
    else
      percent = static_cast<std::uint8_t>(
          std::min<double>(100, std::round(static_cast<double>(FBytesDone) * 100 / static_cast<double>(FBytesTotal))));
  }
  OnProgress(percent, FBytesDone, FBytesTotal);
}

void TkxInternet::DoLog(const std::string& text) {
  if (OnLog) OnLog(text);
}

bool TkxInternetHTTP::Get(const std::string& url, uni::TUniStream& stream) {
  std::size_t sep = url.find("://");
  if (sep == std::string::npos) {
    FLastError = kInternetBadUrl;
    return false;
  }
  std::string rest = url.substr(sep + 3);
  std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return fetch(url.substr(0, sep), rest, "/", stream);
  return fetch(url.substr(0, sep), rest.substr(0, slash), rest.substr(slash), stream);
}

bool TkxInternetHTTP::GetFromHost(const std::string& host, const std::string& path, uni::TUniStream& stream) {
  return fetch("http", host, path, stream);
}

bool TkxInternetHTTP::fetch(const std::string& scheme, const std::string& hostPort, const std::string& path,
                            uni::TUniStream& stream) {
  FLastError = 0;
  FBytesDone = 0;
  FBytesTotal = 0;
  TkxHttpTarget target = SplitHostPort(hostPort);
  bool tls = scheme.size() == 5 && std::equal(scheme.begin(), scheme.end(), "https", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
             });
  if (tls && hostPort.find(':') == std::string::npos) target.Port = 443;
  if (!FSession) {
    FLastError = 6;  // ERROR_INVALID_HANDLE: there is no session to connect with
    return false;
  }
  if (isReservedInvalidName(target.Host)) {
    FLastError = ERROR_INTERNET_NAME_NOT_RESOLVED;
    return false;
  }

  CURL* curl = static_cast<CURL*>(FSession);
  curl_easy_reset(curl);
  std::string url = scheme + "://" + target.Host + ":" + std::to_string(target.Port) + path;
  Transfer t{this, &stream, curl};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, FAgentName.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(std::clamp<std::uint32_t>(FBlockSize, 1024, 512 * 1024)));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A server that stops sending for a minute is given up, as is one that
  // does not accept the connection within a minute.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);

  CURLcode rc = curl_easy_perform(curl);
  bool statusOk = true;
  if (rc == CURLE_OK || t.status >= 0) statusOk = takeHead(t);
  if (!statusOk) {
    // Nothing of an error answer was written to the stream.
    FLastError = t.status == 404 ? kInternetFileNotFound : kInternetHttpStatusBase + static_cast<std::uint32_t>(t.status);
    return false;
  }
  if (t.writeFailed || rc != CURLE_OK) {
    FLastError = t.writeFailed ? 29 /* ERROR_WRITE_FAULT */ : curlToInternetError(rc);
    stream.SetPosition(0);
    return false;
  }
  DoProgress();
  DoProgress();
  stream.SetPosition(0);
  return true;
}

bool DownloadToStream(const std::string& url, uni::TUniMemoryStream& stream, std::uint32_t& lastError) {
  TkxInternetHTTP http;
  bool ok = http.Get(url, stream);
  lastError = http.FLastError;
  return ok;
}

bool DownloadToStrings(const std::string& url, std::vector<std::string>& lines, std::uint32_t& lastError) {
  uni::TUniMemoryStream stream;
  bool ok = DownloadToStream(url, stream, lastError);
  lines.clear();
  const std::string& text = stream.Bytes();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return ok;
}

std::string InternetErrorText(std::uint32_t code) {
  switch (code) {
    case kInternetFileNotFound: return "File not found on server!";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "Could not find server!";
    case ERROR_INTERNET_CANNOT_CONNECT: return "Could not connect to server!";
    default: break;
  }
  if (code > kInternetHttpStatusBase && code < kInternetHttpStatusBase + 1000)
    return "The server answered with status " + std::to_string(code - kInternetHttpStatusBase) + ".";
  std::string text;
  if (const char* own = internetCodeText(code)) text = own;
  else text = platform::systemErrorText(code);
  if (text.empty()) return "Unknown error #" + std::to_string(code);
  return std::to_string(code) + ": " + text;
}

void SetInternetAgentName(const std::string& name) {
  std::lock_guard lock(agentMutex);
  agentName = name;
}
