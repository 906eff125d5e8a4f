#include "tagmanager/values/TAGObject.h"

#include <cmath>

#include "platform/foundation/Assert.h"

namespace {

int sign(bool less, bool greater) { return less ? -1 : greater ? 1 : 0; }

// Exact order of an integer and a double; NaN after every number.
int compareIntDouble(std::int64_t i, double d) {
  if (std::isnan(d)) return -1;
  if (d >= 9223372036854775808.0) return -1;
  if (d < -9223372036854775808.0) return 1;
  double whole = std::trunc(d);
  auto w = static_cast<std::int64_t>(whole);
  if (i != w) return sign(i<w, i> w);
  return sign(d > whole, d < whole);
}

int compareDoubles(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return sign(!std::isnan(a), !std::isnan(b));
  return sign(a<b, a> b);
}

// Numbers as (is integer, integer, double).
int compareNumbers(bool aInt, std::int64_t ai, double ad, bool bInt, std::int64_t bi, double bd) {
  if (aInt && bInt) return sign(ai<bi, ai> bi);
  if (aInt) return compareIntDouble(ai, bd);
  if (bInt) return -compareIntDouble(bi, ad);
  return compareDoubles(ad, bd);
}

int comparePlatformNumbers(const platform::Value& a, const platform::Value& b) {
  bool aInt = a.kind() != platform::Value::Kind::Double;
  bool bInt = b.kind() != platform::Value::Kind::Double;
  return compareNumbers(aInt, a.integerValue(), a.doubleValue(), bInt, b.integerValue(),
                        b.doubleValue());
}

}  // namespace

TAGObject::TAGObject(TAGString string) {
  if (string) object_ = std::move(string);
}

TAGObject::TAGObject(std::shared_ptr<const TAGTypedNumber> number) {
  if (number) object_ = std::move(number);
}

TAGObject::TAGObject(std::shared_ptr<const TAGBoolean> boolean) {
  if (boolean) object_ = std::move(boolean);
}

TAGObject::TAGObject(TAGPValue::Ref value) {
  if (value) object_ = std::move(value);
}

TAGObject TAGObject::string(std::string text) {
  return TAGObject(std::make_shared<const std::string>(std::move(text)));
}

TAGObject TAGObject::number(platform::Value number) {
  platform::assertThat(number.kind() == platform::Value::Kind::Bool ||
                           number.kind() == platform::Value::Kind::Integer ||
                           number.kind() == platform::Value::Kind::Double,
                       "TAGObject::number: not a number");
  TAGObject object;
  object.object_ = std::make_shared<const platform::Value>(std::move(number));
  return object;
}

TAGObject TAGObject::list(List items) {
  TAGObject object;
  object.object_ = std::make_shared<const List>(std::move(items));
  return object;
}

TAGObject TAGObject::map(Map entries) {
  TAGObject object;
  object.object_ = std::make_shared<const Map>(std::move(entries));
  return object;
}

TAGObject TAGObject::other(std::string className, std::string description) {
  TAGObject object;
  object.object_ =
      std::make_shared<const Other>(Other{std::move(className), std::move(description)});
  return object;
}

TAGObject TAGObject::fromPlatformValue(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Bool:
    case Kind::Integer:
    case Kind::Double:
      return number(value);
    case Kind::Text:
      return string(*value.asText());
    case Kind::Array: {
      List items;
      for (const auto& item : *value.asArray()) items.push_back(fromPlatformValue(item));
      return list(std::move(items));
    }
    case Kind::Dictionary: {
      Map entries;
      for (const auto& [key, item] : *value.asDictionary()) {
        entries.emplace(string(key), fromPlatformValue(item));
      }
      return map(std::move(entries));
    }
    case Kind::Null:
      return other("Null", value.description());
    case Kind::Bytes:
      return other("Bytes", value.description());
    case Kind::Date:
      return other("Date", value.description());
    case Kind::Object:
      return other("Object", value.description());
  }
  return TAGObject();
}

TAGString TAGObject::stringObject() const {
  auto* s = std::get_if<TAGString>(&object_);
  return s ? *s : nullptr;
}

const platform::Value* TAGObject::number() const {
  auto* n = std::get_if<std::shared_ptr<const platform::Value>>(&object_);
  return n ? n->get() : nullptr;
}

std::shared_ptr<const TAGTypedNumber> TAGObject::typedNumber() const {
  auto* n = std::get_if<std::shared_ptr<const TAGTypedNumber>>(&object_);
  return n ? *n : nullptr;
}

std::shared_ptr<const TAGBoolean> TAGObject::boolean() const {
  auto* b = std::get_if<std::shared_ptr<const TAGBoolean>>(&object_);
  return b ? *b : nullptr;
}

const TAGObject::List* TAGObject::list() const {
  auto* l = std::get_if<std::shared_ptr<const List>>(&object_);
  return l ? l->get() : nullptr;
}

const TAGObject::Map* TAGObject::map() const {
  auto* m = std::get_if<std::shared_ptr<const Map>>(&object_);
  return m ? m->get() : nullptr;
}

TAGPValue::Ref TAGObject::value() const {
  auto* v = std::get_if<TAGPValue::Ref>(&object_);
  return v ? *v : nullptr;
}

bool TAGObject::isSameObject(const TAGObject& other) const {
  if (object_.index() != other.object_.index()) return false;
  return std::visit(
      [&other](const auto& held) -> bool {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::monostate>) {
          return true;
        } else {
          return held == std::get<Held>(other.object_);
        }
      },
      object_);
}

int TAGObject::compare(const TAGObject& a, const TAGObject& b) {
  if (a.kind() != b.kind()) return sign(a.kind() < b.kind(), a.kind() > b.kind());
  if (a.isSameObject(b)) return 0;
  switch (a.kind()) {
    case Kind::None:
      return 0;
    case Kind::String: {
      int c = a.stringObject()->compare(*b.stringObject());
      return sign(c<0, c> 0);
    }
    case Kind::Number:
      return comparePlatformNumbers(*a.number(), *b.number());
    case Kind::TypedNumber: {
      auto x = a.typedNumber();
      auto y = b.typedNumber();
      return compareNumbers(x->isInt64(), x->int64Value(), x->doubleValue(), y->isInt64(),
                            y->int64Value(), y->doubleValue());
    }
    case Kind::Boolean: {
      bool x = a.boolean()->boolValue();
      bool y = b.boolean()->boolValue();
      return sign(x<y, x> y);
    }
    case Kind::List: {
      const List& x = *a.list();
      const List& y = *b.list();
      for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (int c = compare(x[i], y[i])) return c;
      }
      return sign(x.size() < y.size(), x.size() > y.size());
    }
    case Kind::Map: {
      const Map& x = *a.map();
      const Map& y = *b.map();
      for (auto i = x.begin(), j = y.begin(); i != x.end() && j != y.end(); ++i, ++j) {
        if (int c = compare(i->first, j->first)) return c;
        if (int c = compare(i->second, j->second)) return c;
      }
      return sign(x.size() < y.size(), x.size() > y.size());
    }
    case Kind::Value: {
      auto x = a.value();
      auto y = b.value();
      if (x->isEqual(*y)) return 0;
      int c = x->data().compare(y->data());
      if (c != 0) return sign(c<0, c> 0);
      return sign(x < y, y < x);
    }
    case Kind::Other: {
      auto* x = std::get<std::shared_ptr<const Other>>(a.object_).get();
      auto* y = std::get<std::shared_ptr<const Other>>(b.object_).get();
      return sign(std::less<>{}(x, y), std::less<>{}(y, x));
    }
  }
  return 0;
}

std::string TAGObject::className() const {
  switch (kind()) {
    case Kind::None:
      return "nil";
    case Kind::String:
      return "String";
    case Kind::Number:
      return "Number";
    case Kind::TypedNumber:
      return "TAGTypedNumber";
    case Kind::Boolean:
      return "TAGBoolean";
    case Kind::List:
      return "List";
    case Kind::Map:
      return "Map";
    case Kind::Value:
      return "TAGPValue";
    case Kind::Other:
      return std::get<std::shared_ptr<const Other>>(object_)->className;
  }
  return "";
}

std::string TAGObject::description() const {
  switch (kind()) {
    case Kind::None:
      return "nil";
    case Kind::String:
      return *stringObject();
    case Kind::Number:
      return number()->stringValue();
    case Kind::TypedNumber:
      return typedNumber()->description();
    case Kind::Boolean:
      return boolean()->description();
    case Kind::List: {
      std::string text = "[";
      for (const auto& item : *list()) {
        if (text.size() > 1) text += ", ";
        text += item.description();
      }
      return text + "]";
    }
    case Kind::Map: {
      std::string text = "{";
      for (const auto& [key, item] : *map()) {
        if (text.size() > 1) text += ", ";
        text += key.description() + "=" + item.description();
      }
      return text + "}";
    }
    case Kind::Value:
      return value()->description();
    case Kind::Other:
      return std::get<std::shared_ptr<const Other>>(object_)->description;
  }
  return "";
}
