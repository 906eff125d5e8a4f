#pragma once
// HeaderFields: HTTP header fields with case-insensitive names, kept in the order first set.
// Adding a value to a field that has one joins them with ", ", as the platform's requests do.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class HeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  // The value of `name` (any case), absent when not set.
  std::optional<std::string> value(const std::string& name) const;
  bool contains(const std::string& name) const { return value(name).has_value(); }
  // Replaces the value (keeps the first spelling of the name and its position).
  void set(const std::string& name, std::string value);
  // Appends `value` to an existing one with ", ", or sets it.
  void add(const std::string& name, const std::string& value);
  void remove(const std::string& name);

  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  bool operator==(const HeaderFields& other) const { return fields_ == other.fields_; }

 private:
  std::vector<Field>::iterator find(const std::string& name);
  std::vector<Field> fields_;
};

bool equalsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace platform
