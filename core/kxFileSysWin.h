#pragma once

// Lists the entries of one folder that match a path pattern.
//
// A plain pattern ("C:\dir\*.lng", "/opt/app/Languages\*.hsc") is a folder
// and a mask with "*" and "?", matched as the system's file search does:
// ignoring case, "*.*" taking every name. A pattern that starts with a mode tag
// ("<wc>", "<regexpr>", ...) tests the folder + name of every entry with
// MatchTaggedPattern, ignoring case, wildcard by default. Folders of the
// pattern in drive-letter form go through the drive table; others are native
// paths, "\" and "/" both separating.

#include <string>
#include <string_view>
#include <vector>

// The names (without folder) of the matching files and/or folders, trimmed of
// leading and trailing characters up to blank, in listing order. A folder that
// cannot be listed gives an empty list; "." and ".." are never listed.
std::vector<std::string> FindFilesByPattern(std::string_view pattern, bool filesWanted, bool foldersWanted);
