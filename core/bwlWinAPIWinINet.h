#pragma once

// A small HTTP download client: one URL fetched with GET into a stream, with
// progress and log events, and error codes in the numbering of the Windows
// Internet client (12007 host not found, 12029 no connection, ...) so the
// callers' messages read the same. Proxies come from the environment
// (http_proxy, https_proxy, no_proxy); redirects are followed.
//
// Failures never throw: they end in false with FLastError set, which
// InternetErrorText turns into a message.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "unicode/UniClasses.h"

// Error codes beyond the system's.
inline constexpr std::uint32_t kInternetFileNotFound = 18;          // an answer with status 404
inline constexpr std::uint32_t kInternetBadUrl = 1;                 // a URL without "://"
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr std::uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
// An answer with an error status other than 404: this base (the bit Windows
// leaves to applications' own codes) plus the status.
inline constexpr std::uint32_t kInternetHttpStatusBase = 0x20000000;

// Where a request goes: the host, the port and the path with its query.
struct TkxHttpTarget {
  std::string Host;
  int Port = 80;
  std::string Path = "/";
};
// "host" or "host:port" (a port text that is no number gives 80).
TkxHttpTarget SplitHostPort(const std::string& host);

class TkxInternet {
public:
  TkxInternet();
  virtual ~TkxInternet();
  TkxInternet(const TkxInternet&) = delete;
  TkxInternet& operator=(const TkxInternet&) = delete;

  void DoProgress();
  void DoLog(const std::string& text);

  std::uint32_t FLastError = 0;
  std::int64_t FBytesDone = 0;
  std::int64_t FBytesTotal = 0;  // the announced length, 0 when unknown
  std::string FAgentName;
  void* FSession = nullptr;  // the transfer handle; null when it could not be made

  std::function<void(std::uint8_t percent, std::int64_t done, std::int64_t total)> OnProgress;
  std::function<void(const std::string& text)> OnLog;
};

class TkxInternetHTTP : public TkxInternet {
public:
  TkxInternetHTTP() = default;

  // "scheme://host[:port][/path]"; false and FLastError 1 without "://".
  // The scheme is kept: https goes over TLS.
  bool Get(const std::string& url, uni::TUniStream& stream);
  // Over plain HTTP; `host` may carry ":port".
  bool GetFromHost(const std::string& host, const std::string& path, uni::TUniStream& stream);

  std::uint32_t FBlockSize = 4096;  // bytes per read, and per progress event

private:
  bool fetch(const std::string& scheme, const std::string& host, const std::string& path, uni::TUniStream& stream);
};

// Get into `stream`; `lastError` is the client's last error either way.
bool DownloadToStream(const std::string& url, uni::TUniMemoryStream& stream, std::uint32_t& lastError);
// DownloadToStream into memory, then `lines` becomes the lines of what
// arrived (lines end at CR LF, LF or CR), whatever the success.
bool DownloadToStrings(const std::string& url, std::vector<std::string>& lines, std::uint32_t& lastError);

// "File not found on server!" (18), "Could not find server!" (12007), "Could
// not connect to server!" (12029), "The server answered with status N." for
// an error status; any other code as "N: " + its text, or "Unknown error #N"
// when it has none.
std::string InternetErrorText(std::uint32_t code);

// The user-agent name of clients made from now on ("kxWinINet" at start).
void SetInternetAgentName(const std::string& name);
