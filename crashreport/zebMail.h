#pragma once

// Mail addresses as the delivery methods share them, and the two methods that
// hand the report to the user's own mail program: xdg-email with the files
// attached, and a mailto: URL through xdg-open. Programs are started from
// argument vectors, never through a shell, so nothing in a report or an
// address is ever interpreted as a command.

#include <string>
#include <string_view>
#include <vector>

#include "crashreport/zebStrings.h"

namespace zeb {

// Recipients: addresses separated by "," (";" is accepted too), each perhaps
// `name <address>`. Normalises the text in place to entries joined by ","
// without blanks, controls or empty entries; the number of entries.
int CountMailAddresses(std::string& recipients);

// "<text>" for a text without "<"; with one, the text itself when names are
// kept, else the text from the "<" on.
std::string AngleMailAddress(std::string_view text, bool keepNames);

// An entry's display name (the text before "<", untrimmed) and address (after
// "<" up to ">" or the end); without "<" both are the whole entry.
void SplitMailAddress(std::string_view entry, std::string& name, std::string& address);

// Every byte of `set` as `escape` and two upper-case hexadecimal digits.
std::string HexEscape(std::string_view text, const CharSet& set, char escape);

// The bytes a mailto: URL escapes: LF, CR, blank, '"', '#', '%', '&', '+',
// '<', '>', '?'.
const CharSet& MailtoEscapeSet();

// "mailto:" + recipients + "?subject=" + subject + "&body=" + body, subject
// and body escaped. A URL longer than 32766 bytes is cut there, never inside
// an escape.
std::string MailtoUrl(std::string recipients, std::string_view subject, std::string_view body);

// Starts a program found on the PATH with these arguments (argv[0] is the
// program). With `exitCode` the call waits and stores the exit status (-1 when
// the program did not end normally); without, the child is reaped in the
// background. False when it could not be started.
bool StartProgram(const std::vector<std::string>& argv, int* exitCode = nullptr);

// Hands the mail to the desktop's mail program: xdg-email --subject --body,
// one --attach per file that exists, then the recipients. 1 when xdg-email
// ended with 0, else 0. (The mail program decides whether it asks the user;
// there is no silent mode and no "cancelled" answer.)
int SendMailByMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                   const std::vector<std::string>& filePaths);

// Opens MailtoUrl with xdg-open; true when it was started.
bool SendMailByMailto(const std::string& recipients, const std::string& subject, const std::string& body);

}  // namespace zeb
