#include "platform/foundation/PropertyListSerialization.h"

#include "platform/foundation/BinaryPropertyList.h"
#include "platform/foundation/OpenStepPropertyList.h"
#include "platform/foundation/XmlPropertyList.h"

namespace platform {

namespace {

constexpr std::int64_t kReadCorruptError = 3840;
constexpr std::int64_t kWriteInvalidError = 3851;

// The format the data looks like: binary by its magic, XML by a leading declaration, document
// type or plist element (after a byte-order mark and white space), else the text format.
PropertyListFormat detectFormat(std::string_view data) {
  if (data.substr(0, 6) == "bplist") return PropertyListFormat::Binary;
  if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
  std::size_t start = data.find_first_not_of(" \t\r\n");
  if (start != std::string_view::npos) {
    std::string_view rest = data.substr(start);
    if (rest.substr(0, 2) == "<?" || rest.substr(0, 2) == "<!" || rest.substr(0, 6) == "<plist") {
      return PropertyListFormat::XML;
    }
  }
  return PropertyListFormat::OpenStep;
}

}  // namespace

std::optional<Value> PropertyListSerialization::propertyListWithData(std::string_view data,
                                                                     PropertyListFormat* format,
                                                                     Error* error) {
  PropertyListFormat detected = detectFormat(data);
  if (format) *format = detected;
  std::string reason;
  std::optional<Value> value;
  switch (detected) {
    case PropertyListFormat::Binary:
      value = BinaryPropertyList::read(data, &reason);
      break;
    case PropertyListFormat::XML:
      value = XmlPropertyList::read(data, &reason);
      break;
    case PropertyListFormat::OpenStep:
      value = OpenStepPropertyList::read(data, &reason);
      break;
  }
  if (!value && error) {
    *error = Error::withDescription(kCocoaErrorDomain, kReadCorruptError,
                                    "The data couldn't be read: " + reason + ".");
  }
  return value;
}

std::optional<std::string> PropertyListSerialization::binaryDataWithPropertyList(
    const Value& propertyList, Error* error) {
  std::string reason;
  std::optional<std::string> data = BinaryPropertyList::write(propertyList, &reason);
  if (!data && error) {
    *error = Error::withDescription(kCocoaErrorDomain, kWriteInvalidError,
                                    "Property list invalid for format: 200 (" + reason + ")");
  }
  return data;
}

}  // namespace platform
