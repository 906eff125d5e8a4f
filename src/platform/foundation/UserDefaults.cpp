#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"

namespace platform {

namespace {

using json = nlohmann::json;

// Bytes and dates have no JSON form of their own, so they are written as one-member objects
// tagged by these names; a dictionary that would read like such a tag is wrapped in "$dict".
constexpr const char* kBytesTag = "$bytes";
constexpr const char* kDateTag = "$date";
constexpr const char* kDictionaryTag = "$dict";

bool looksTagged(const Dictionary& d) {
  if (d.size() != 1) return false;
  const std::string& key = d.begin()->first;
  return key == kBytesTag || key == kDateTag || key == kDictionaryTag;
}

std::optional<json> encode(const Value& v, int level, bool& tooDeep);

// The members of `d` as an object at nesting `level`.
json encodeMembers(const Dictionary& d, int level, bool& tooDeep) {
  json object = json::object();
  for (const auto& [key, value] : d) {
    if (auto encoded = encode(value, level + 1, tooDeep)) object[key] = std::move(*encoded);
  }
  return object;
}

// `v` as it stands in the file, where a container made for it would be at nesting `level` (the
// file's own object is level 1). Absent for what cannot be kept in a file (shared objects), and
// absent with `tooDeep` set for a value the reader would refuse as nested too deep.
std::optional<json> encode(const Value& v, int level, bool& tooDeep) {
  bool makesContainer = v.kind() == Value::Kind::Bytes || v.kind() == Value::Kind::Date ||
                        v.kind() == Value::Kind::Array || v.kind() == Value::Kind::Dictionary;
  if (makesContainer && level > Json::kMaxDepth) {
    tooDeep = true;
    return std::nullopt;
  }
  switch (v.kind()) {
    case Value::Kind::Null:
      return json(nullptr);
    case Value::Kind::Bool:
      return json(*v.asBool());
    case Value::Kind::Integer:
      return json(*v.asInteger());
    case Value::Kind::Double:
      return json(*v.asDouble());
    case Value::Kind::Text:
      return json(*v.asText());
    case Value::Kind::Bytes:
      return json{{kBytesTag, base64Encode(*v.asBytes())}};
    case Value::Kind::Date: {
      auto ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(v.asDate()->time_since_epoch());
      return json{{kDateTag, static_cast<std::int64_t>(ns.count())}};
    }
    case Value::Kind::Array: {
      json array = json::array();
      for (const auto& element : *v.asArray()) {
        if (auto encoded = encode(element, level + 1, tooDeep))
          array.push_back(std::move(*encoded));
      }
      return array;
    }
    case Value::Kind::Dictionary: {
      const Dictionary& d = *v.asDictionary();
      if (!looksTagged(d)) return encodeMembers(d, level, tooDeep);
      if (level + 1 > Json::kMaxDepth) {
        tooDeep = true;
        return std::nullopt;
      }
      return json{{kDictionaryTag, encodeMembers(d, level + 1, tooDeep)}};
    }
    case Value::Kind::Object:
      return std::nullopt;
  }
  return std::nullopt;
}

// The file's object. An entry nested too deep for the reader is left out (and stays in memory):
// written, it would make the next launch set the whole file aside.
json encodeFile(const Dictionary& values) {
  json object = json::object();
  for (const auto& [key, value] : values) {
    bool tooDeep = false;
    auto encoded = encode(value, 2, tooDeep);
    if (tooDeep) {
      std::fprintf(stderr, "UserDefaults: \"%s\" nests too deep to be kept; not written\n",
                   key.c_str());
      continue;
    }
    if (encoded) object[key] = std::move(*encoded);
  }
  return object;
}

Value decode(const json& j);

Dictionary decodeMembers(const json& object) {
  Dictionary d;
  for (auto it = object.begin(); it != object.end(); ++it) d.emplace(it.key(), decode(it.value()));
  return d;
}

Value decode(const json& j) {
  switch (j.type()) {
    case json::value_t::array: {
      Array a;
      for (const auto& element : j) a.push_back(decode(element));
      return Value(std::move(a));
    }
    case json::value_t::object: {
      if (j.size() == 1) {
        auto it = j.begin();
        if (it.key() == kBytesTag && it.value().is_string()) {
          if (auto bytes = base64Decode(it.value().get<std::string>())) return Value(*bytes);
        }
        if (it.key() == kDateTag && it.value().is_number_integer()) {
          return Value(Date(std::chrono::duration_cast<Date::duration>(
              std::chrono::nanoseconds(it.value().get<std::int64_t>()))));
        }
        if (it.key() == kDictionaryTag && it.value().is_object()) {
          return Value(decodeMembers(it.value()));
        }
      }
      return Value(decodeMembers(j));
    }
    default:
      return Json::toValue(j);  // scalars carry no tags
  }
}

// Writes `text` to a new file beside `path`, flushes it to disk and renames it over `path`, so
// a reader finds either the old file or the new one, never a part of it.
bool writeAtomically(const std::string& path, const std::string& text) {
  std::error_code ignored;
  auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);

  std::string pattern = path + ".XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return false;
  const char* data = text.data();
  std::size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  // mkstemp makes the file readable by its owner only, which suits remembered accounts.
  ok = ok && fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(pattern.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(pattern.c_str());
    return false;
  }
  // Make the rename itself durable.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return true;
}

// The defaults kept in the file at `path`: none when there is no file yet. A file that cannot be
// decoded is moved aside (kept for whoever wants to look at it; the next synchronize would
// otherwise replace it) and the defaults start empty.
Dictionary readDefaults(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  // Read with the depth bound of outside JSON: decoding walks the document recursively.
  auto parsed = Json::parse(text.str());
  if (parsed && parsed->is_object()) return decodeMembers(*parsed);
  std::string aside = path + ".corrupt";
  std::fprintf(stderr, "UserDefaults: %s is not a defaults file; moved to %s\n", path.c_str(),
               aside.c_str());
  std::rename(path.c_str(), aside.c_str());
  return {};
}

}  // namespace

UserDefaults& UserDefaults::standard() {
  struct Instances {
    Mutex mutex_;
    std::map<std::string, std::unique_ptr<UserDefaults>> byPath_ GUARDED_BY(mutex_);
  };
  // Never destroyed: the defaults may be written by threads that outlive static destruction.
  static auto* instances = new Instances;
  std::string path = Paths::join(Paths::preferences(), "defaults.json");
  MutexLock lock(instances->mutex_);
  auto& slot = instances->byPath_[path];
  if (!slot) slot = std::make_unique<UserDefaults>(path);
  return *slot;
}

UserDefaults::UserDefaults(std::string path)
    : path_(std::move(path)), values_(readDefaults(path_)) {}

std::optional<Value> UserDefaults::object(const std::string& key) const {
  MutexLock lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void UserDefaults::set(const std::string& key, Value value) {
  MutexLock lock(mutex_);
  values_[key] = std::move(value);
}

void UserDefaults::remove(const std::string& key) {
  MutexLock lock(mutex_);
  values_.erase(key);
}

std::string UserDefaults::stringForKey(const std::string& key) const {
  auto v = object(key);
  return v ? v->stringValue() : std::string();
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto v = object(key);
  return v && v->boolValue();
}

bool UserDefaults::synchronize() {
  MutexLock writing(writeMutex_);
  std::string text;
  {
    MutexLock lock(mutex_);
    // Texts that are not UTF-8 cannot go into JSON as they are; they are written with
    // replacement characters rather than failing the whole file.
    text = encodeFile(values_).dump(2, ' ', false, json::error_handler_t::replace);
  }
  text += '\n';
  return writeAtomically(path_, text);
}

}  // namespace platform
