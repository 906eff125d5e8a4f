#pragma once
// TAGPropertyListUtil: small property lists kept as files in the Documents folder, one file per
// name (the name as given, no extension), for what the tag manager must remember across
// launches (click referrers, pixels already fired). Files are written in the binary format,
// atomically (a temporary sibling renamed over the old file), and read in any format.
//
// Any thread may call. Asynchronous writes run one after another on a background queue of
// their own, in the order asked for, so the last write asked for is what the file ends up
// holding; each takes the file path when it is asked for.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class TAGPropertyListUtil {
 public:
  TAGPropertyListUtil() = delete;

  static std::string plistFilePath(const std::string& name);
  // The stored list; nullopt when there is no file (logged at debug level) or it does not read
  // (logged at info level with the format it looked like).
  static std::optional<platform::Value> readPropertyList(const std::string& name);
  // False, with a warning, when the list holds a value the format cannot hold (the old file then
  // stays as it was) or the file cannot be written.
  static bool writePropertyList(const std::string& name, const platform::Value& data);
  // writePropertyList on the background queue; the outcome is dropped.
  static void writePropertyListAsync(const std::string& name, platform::Value data);
  // The outcome of removing the file; a missing file is not logged, any other failure is.
  static bool removePropertyList(const std::string& name);
};
