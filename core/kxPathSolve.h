#pragma once

// Path placeholders: "<$" + NAME + ">" tokens such as "<$APPDATA>" or
// "<$WINDIR>" stand for the system and user folders of this computer. The
// table of what each stands for is built at first use from the special
// folders and the registry; every folder in it is in Windows form
// ("C:\home\joe\.local\share"), so callers turn an expanded path into a
// native one where they open a file (platform::windowsToLinuxPath).
//
// Beside it a second table keeps, per token, every folder it was seen to
// have: in both registry views, in every user hive under HKEY_USERS and in
// every Windows installation whose hives are mounted.

#include <string>
#include <utility>
#include <vector>

// Lines token=folder. A token may have several lines; reading and setting a
// token's value address its first line (tokens compare without regard to
// case), setting a token without a line appends one, and setting the empty
// folder removes the first line.
class PlaceholderList {
public:
  bool Has(const std::string& token) const;
  std::string Value(const std::string& token) const;
  void SetValue(const std::string& token, const std::string& folder);
  void Append(const std::string& token, const std::string& folder) { lines_.emplace_back(token, folder); }
  void ReplaceFirst(const std::string& token, const std::string& folder);
  const std::vector<std::pair<std::string, std::string>>& Lines() const { return lines_; }

private:
  std::vector<std::pair<std::string, std::string>>::iterator find(const std::string& token);
  std::vector<std::pair<std::string, std::string>>::const_iterator find(const std::string& token) const;
  std::vector<std::pair<std::string, std::string>> lines_;
};

// Tokens in the order they were first seen, each with its folders kept
// sorted without duplicates (case ignored); the empty folder may be one.
class PlaceholderAlternatives {
public:
  void Add(const std::string& token, const std::string& folder);
  // Null for a token never seen.
  const std::vector<std::string>* Folders(const std::string& token) const;
  const std::vector<std::pair<std::string, std::vector<std::string>>>& Tokens() const { return tokens_; }

private:
  std::vector<std::pair<std::string, std::vector<std::string>>> tokens_;
};

// The two tables of this run, built at first use.
PlaceholderList& PathPlaceholders();
PlaceholderAlternatives& PathPlaceholderAlternatives();
// Builds both tables afresh from the registry in use now (tests point the
// registry elsewhere first).
void RebuildPathPlaceholders();

// "\\" runs become one "\", then one trailing "\" goes.
std::string NormalizeFolderPath(std::string path);

// Fills list for this computer (empty prefix) or for a mounted installation
// whose hives' mount names begin with prefix ("PE_D_"); pass 64 or 32 is the
// registry view of the pass.
void BuildPlaceholderTable(PlaceholderList& list, const std::string& prefix, int pass);
// Adds every line's folder to its token's folders in PathPlaceholderAlternatives.
void GroupPlaceholderAlternatives(const PlaceholderList& list);
// The folders of every user hive under HKEY_USERS into the alternatives.
void AddUserHivePlaceholders();
// The folders of every installation whose hives are mounted ("PE_<drive>_...")
// into the alternatives.
void AddMountedInstallationPlaceholders();

// text with every token of the table replaced by its folder. A token is
// looked for as written (case counts); once found, it is replaced in every
// case. In a regular-expression pattern ("<regexpr>..." or "...=<regexpr>...")
// the folder goes in escaped. Unknown tokens stay.
std::string ExpandPathPlaceholders(const std::string& text);
// Appends to list every text that choosing one folder per token of the
// alternatives makes of text.
void ExpandPlaceholderAlternatives(const std::string& text, std::vector<std::string>& list);
