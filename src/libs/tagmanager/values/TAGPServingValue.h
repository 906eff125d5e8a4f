#pragma once
// TAGPServingValue: the serving form of a composite value as a container resource carries it:
// instead of nested values, indices into the resource's value table (list items, map keys and
// values, template tokens) and, for a macro reference, the index of the value that names the
// macro. It rides on a value node as its extension (field 101) and is read only by the
// resource expansion. Immutable once made; any thread may read it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tagpb {
class TAGPServingValue;
}

struct TAGPServingValue {
  std::vector<std::int32_t> listItemArray;
  std::vector<std::int32_t> mapKeyArray;
  std::vector<std::int32_t> mapValueArray;
  std::optional<std::int32_t> macroReference;
  std::vector<std::int32_t> templateTokenArray;
  std::optional<std::int32_t> macroNameReference;

  // The length of its serialised form, in bytes.
  std::size_t serializedSize() const;

  static TAGPServingValue fromMessage(const tagpb::TAGPServingValue& message);
  void toMessage(tagpb::TAGPServingValue* message) const;

  bool operator==(const TAGPServingValue&) const = default;
};
