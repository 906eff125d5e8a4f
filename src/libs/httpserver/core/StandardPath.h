#pragma once
// The lexical form of a file path the server compares and opens: "." components, repeated and
// trailing separators dropped, and ".." taking away the component before it (at the root of an
// absolute path it stays at the root; at the start of a relative path it is kept). Nothing is
// looked up on disk, so symbolic links stay as written.

#include <string>
#include <string_view>

std::string standardizePath(std::string_view path);
