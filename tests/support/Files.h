#pragma once
// Small file helpers every test folder needs: read a whole file, write one, list a folder.

#include <string>
#include <vector>

namespace testsupport {

// The whole file as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file with `content` (creating it).
void writeFile(const std::string& path, const std::string& content);
bool exists(const std::string& path);
// The names (not paths) of the entries of `folder`, sorted; empty when it does not exist.
std::vector<std::string> filesIn(const std::string& folder);

}  // namespace testsupport
