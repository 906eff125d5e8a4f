#pragma once
// How a request target becomes a path under the served folder, shared by the connection's file
// lookup and by WebDAV's destinations, so that every road into the folder is held to the same
// rules: escapes decoded strictly, the path standardised, and the result kept inside the root.

#include <optional>
#include <string>
#include <string_view>

// Percent escapes removed; absent for a broken escape, a NUL byte (which would end the path the
// system opens before the path we checked ends) or bytes that are not UTF-8 text. A "+" stays.
std::optional<std::string> percentDecoded(std::string_view text);

// The path part of a request target, as a path relative to the served folder would be read:
// query and fragment dropped, the scheme and authority of an absolute URL dropped, escapes
// removed. Absent when the target names no path that can be read.
std::optional<std::string> relativePathOfURI(std::string_view uri);

// `root` + "/" + `relativePath`, standardised; "/" itself gives the root with a trailing "/".
// Absent when the result lies outside `root` (a sibling folder whose name merely begins with
// the root's name included).
std::optional<std::string> pathUnderRoot(const std::string& root, const std::string& relativePath);
