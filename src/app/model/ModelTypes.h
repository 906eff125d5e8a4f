#pragma once
// Field types shared by the course data models. Every model field may be absent unless its
// class says otherwise, and absent stays different from zero or the empty text: a "number" is
// an optional 64-bit integer, a "text" an optional string, and a list an optional vector of
// shared objects (absent and empty lists mean different things to the screens).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace model {

using Number = std::optional<std::int64_t>;
using Text = std::optional<std::string>;

template <class T>
using List = std::vector<std::shared_ptr<T>>;

template <class T>
using OptionalList = std::optional<List<T>>;

}  // namespace model
