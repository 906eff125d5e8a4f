#include "download/LectureURL.h"

#include <algorithm>
#include <cctype>

namespace {

// The length of "<scheme>:" at the start of `text`, or 0 when it has no scheme.
std::size_t schemeLength(const std::string& text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == ':') return i + 1;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isWebScheme(const std::string& url) {
  std::size_t length = schemeLength(url);
  std::string scheme = lowered(url.substr(0, length));
  return scheme == "http:" || scheme == "https:";
}

// "scheme://authority" of an absolute URL, or absent.
std::optional<std::string> origin(const std::string& url) {
  std::size_t length = schemeLength(url);
  if (length == 0 || url.compare(length, 2, "//") != 0) return std::nullopt;
  std::size_t end = url.find_first_of("/?#", length + 2);
  return url.substr(0, end == std::string::npos ? url.size() : end);
}

}  // namespace

std::string LectureURL::folderOf(const std::string& url) {
  auto slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(0, slash);
}

std::string LectureURL::fileName(const std::string& url) {
  auto slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

std::string LectureURL::pathFileName(const std::string& url) {
  return fileName(url.substr(0, url.find_first_of("?#")));
}

bool LectureURL::isStorableFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // A control character (a carriage return above all) would not survive as a line of the stored
  // playlist: the player would read another name, or none, from it.
  return std::none_of(name.begin(), name.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

std::string LectureURL::fitFileName(const std::string& name, std::size_t limit) {
  if (name.size() <= limit) return name;
  constexpr std::size_t kLongestKeptExtension = 16;
  auto dot = name.rfind('.');
  std::string extension;
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= kLongestKeptExtension)
    extension = name.substr(dot);
  std::size_t keep = limit - extension.size();
  // Never cut inside a UTF-8 sequence: back up to the start of the character at the cut.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return name.substr(0, keep) + extension;
}

bool LectureURL::isFetchable(const std::string& url) {
  if (!isWebScheme(url)) return false;
  auto base = origin(url);
  return base && base->size() > schemeLength(url) + 2;
}

std::optional<std::string> LectureURL::resolve(const std::string& base,
                                               const std::string& reference) {
  if (reference.empty()) return std::nullopt;
  if (schemeLength(reference) > 0) {
    if (!isWebScheme(reference)) return std::nullopt;
    return reference;
  }
  if (reference.rfind("//", 0) == 0) {
    std::size_t length = schemeLength(base);
    if (length == 0) return std::nullopt;
    return base.substr(0, length) + reference;
  }
  if (reference.front() == '/') {
    auto start = origin(base);
    if (!start) return std::nullopt;
    return *start + reference;
  }
  return folderOf(base) + "/" + reference;
}
