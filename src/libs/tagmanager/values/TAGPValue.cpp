#include "tagmanager/values/TAGPValue.h"

#include <google/protobuf/io/coded_stream.h>

#include <algorithm>
#include <functional>
#include <limits>

#include "platform/foundation/Assert.h"
#include "tagmanager/proto/serving.pb.h"

namespace {

using google::protobuf::io::CodedOutputStream;

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

std::size_t addSaturating(std::size_t a, std::size_t b) {
  return a > kMaxSize - b ? kMaxSize : a + b;
}

// A length-delimited field (string or nested message) of a field number below 16.
std::size_t delimitedFieldSize(std::size_t keySize, std::size_t length) {
  return addSaturating(keySize + CodedOutputStream::VarintSize64(length), length);
}

std::size_t messagesSize(const std::vector<TAGPValue::Ref>& values) {
  std::size_t size = 0;
  for (const auto& v : values)
    size = addSaturating(size, delimitedFieldSize(1, v->serializedSize()));
  return size;
}

std::uint32_t stringHash(const std::string& text) {
  return static_cast<std::uint32_t>(std::hash<std::string>{}(text));
}

std::size_t deepestOf(const std::vector<TAGPValue::Ref>& values) {
  std::size_t deepest = 0;
  for (const auto& v : values) deepest = std::max(deepest, v->depth());
  return deepest;
}

std::uint32_t itemsHash(std::uint32_t h, const std::vector<TAGPValue::Ref>& values) {
  for (const auto& v : values) h = 31u * h + v->hash();
  return h;
}

bool sameValues(const std::vector<TAGPValue::Ref>& a, const std::vector<TAGPValue::Ref>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !a[i]->isEqual(*b[i])) return false;
  }
  return true;
}

void addMessages(const std::vector<TAGPValue::Ref>& values,
                 google::protobuf::RepeatedPtrField<tagpb::TAGPValue>* field) {
  for (const auto& v : values) v->toMessage(field->Add());
}

}  // namespace

void TAGPValue::seal() {
  std::uint32_t h = 1;
  switch (_type) {
    case TAGPValue_Type::String:
      h = 31u + stringHash(_string);
      break;
    case TAGPValue_Type::MacroReference:
      h = 31u + stringHash(_macroReference);
      break;
    case TAGPValue_Type::FunctionId:
      h = 31u + stringHash(_functionId);
      break;
    case TAGPValue_Type::Integer:
      h = 31u + static_cast<std::uint32_t>(static_cast<std::uint64_t>(_integer));
      break;
    case TAGPValue_Type::Boolean:
      h = 31u + (_boolean ? 1u : 0u);
      break;
    case TAGPValue_Type::List:
      h = itemsHash(h, _listItemArray);
      break;
    case TAGPValue_Type::Template:
      h = itemsHash(h, _templateTokenArray);
      break;
    case TAGPValue_Type::Map:
      h = itemsHash(itemsHash(h, _mapKeyArray), _mapValueArray);
      break;
  }
  hash_ = 31u * h + (_containsReferences ? 1u : 0u);

  std::size_t size = 0;
  if (hasType()) {
    size += 1 + CodedOutputStream::VarintSize32SignExtended(static_cast<std::int32_t>(_type));
  }
  if (hasString()) size = addSaturating(size, delimitedFieldSize(1, _string.size()));
  size = addSaturating(size, messagesSize(_listItemArray));
  size = addSaturating(size, messagesSize(_mapKeyArray));
  size = addSaturating(size, messagesSize(_mapValueArray));
  if (hasMacroReference())
    size = addSaturating(size, delimitedFieldSize(1, _macroReference.size()));
  if (hasFunctionId()) size = addSaturating(size, delimitedFieldSize(1, _functionId.size()));
  if (hasInteger()) {
    size += 1 + CodedOutputStream::VarintSize64(static_cast<std::uint64_t>(_integer));
  }
  if (hasContainsReferences()) size += 2;
  for (std::int32_t e : _escapingArray) size += 1 + CodedOutputStream::VarintSize32SignExtended(e);
  size = addSaturating(size, messagesSize(_templateTokenArray));
  if (hasBoolean()) size += 2;
  // Field 101 takes a two-byte key.
  if (servingValue_)
    size = addSaturating(size, delimitedFieldSize(2, servingValue_->serializedSize()));
  serializedSize_ = size;

  depth_ = 1 + std::max({deepestOf(_listItemArray), deepestOf(_mapKeyArray),
                         deepestOf(_mapValueArray), deepestOf(_templateTokenArray)});
}

TAGPValue::~TAGPValue() {
  // A child whose last owner is this node would otherwise be destroyed from inside this
  // destructor, and its children from inside that one: a chain as deep as the tree. Instead the
  // children are collected here and each one this loop owns alone is emptied before it goes, so
  // every destructor it triggers finds no children left.
  std::vector<Ref> released;
  releaseChildrenInto(released);
  while (!released.empty()) {
    Ref node = std::move(released.back());
    released.pop_back();
    // Only the last owner may take a node apart; a node still shared elsewhere is left whole.
    // Nodes are built mutable by Builder and only published as const.
    if (node.use_count() == 1) const_cast<TAGPValue&>(*node).releaseChildrenInto(released);
  }
}

void TAGPValue::releaseChildrenInto(std::vector<Ref>& out) {
  for (auto* children : {&_listItemArray, &_mapKeyArray, &_mapValueArray, &_templateTokenArray}) {
    for (auto& child : *children) out.push_back(std::move(child));
    children->clear();
  }
}

bool TAGPValue::isEqual(const TAGPValue& other) const {
  if (this == &other) return true;
  if (hash_ != other.hash_ || has_ != other.has_ || serializedSize_ != other.serializedSize_) {
    return false;
  }
  if (_type != other._type || _string != other._string ||
      _macroReference != other._macroReference || _functionId != other._functionId ||
      _integer != other._integer || _containsReferences != other._containsReferences ||
      _boolean != other._boolean || _escapingArray != other._escapingArray) {
    return false;
  }
  if (static_cast<bool>(servingValue_) != static_cast<bool>(other.servingValue_)) return false;
  if (servingValue_ && servingValue_ != other.servingValue_ &&
      !(*servingValue_ == *other.servingValue_)) {
    return false;
  }
  return sameValues(_listItemArray, other._listItemArray) &&
         sameValues(_mapKeyArray, other._mapKeyArray) &&
         sameValues(_mapValueArray, other._mapValueArray) &&
         sameValues(_templateTokenArray, other._templateTokenArray);
}

std::string TAGPValue::data() const {
  tagpb::TAGPValue message;
  toMessage(&message);
  return message.SerializePartialAsString();
}

std::string TAGPValue::description() const {
  tagpb::TAGPValue message;
  toMessage(&message);
  return message.ShortDebugString();
}

TAGPValue::Ref TAGPValue::fromMessage(const tagpb::TAGPValue& message) {
  Builder builder;
  if (message.has_type()) builder.setType(static_cast<TAGPValue_Type>(message.type()));
  if (message.has_string()) builder.setString(message.string());
  for (const auto& item : message.list_item()) builder.addListItem(fromMessage(item));
  for (const auto& key : message.map_key()) builder.addMapKey(fromMessage(key));
  for (const auto& value : message.map_value()) builder.addMapValue(fromMessage(value));
  if (message.has_macro_reference()) builder.setMacroReference(message.macro_reference());
  if (message.has_function_id()) builder.setFunctionId(message.function_id());
  if (message.has_integer()) builder.setInteger(message.integer());
  if (message.has_contains_references())
    builder.setContainsReferences(message.contains_references());
  for (int e : message.escaping()) builder.addEscaping(e);
  for (const auto& token : message.template_token()) builder.addTemplateToken(fromMessage(token));
  if (message.has_boolean()) builder.setBoolean(message.boolean());
  if (message.HasExtension(tagpb::TAGPServingValue::ext)) {
    builder.setServingValue(std::make_shared<const TAGPServingValue>(
        TAGPServingValue::fromMessage(message.GetExtension(tagpb::TAGPServingValue::ext))));
  }
  return builder.build();
}

void TAGPValue::toMessage(tagpb::TAGPValue* message) const {
  message->Clear();
  // Numbers outside an enumeration cannot go through the typed setters; they are written as the
  // raw field, the same bytes.
  auto addRaw = [message](int field, std::int32_t number) {
    message->mutable_unknown_fields()->AddVarint(
        field, static_cast<std::uint64_t>(static_cast<std::int64_t>(number)));
  };
  if (hasType()) {
    auto type = static_cast<std::int32_t>(_type);
    if (tagpb::TAGPValue_Type_IsValid(type)) {
      message->set_type(static_cast<tagpb::TAGPValue_Type>(type));
    } else {
      addRaw(1, type);
    }
  }
  if (hasString()) message->set_string(_string);
  addMessages(_listItemArray, message->mutable_list_item());
  addMessages(_mapKeyArray, message->mutable_map_key());
  addMessages(_mapValueArray, message->mutable_map_value());
  if (hasMacroReference()) message->set_macro_reference(_macroReference);
  if (hasFunctionId()) message->set_function_id(_functionId);
  if (hasInteger()) message->set_integer(_integer);
  if (hasContainsReferences()) message->set_contains_references(_containsReferences);
  for (std::int32_t e : _escapingArray) {
    if (tagpb::TAGPValue_Escaping_IsValid(e)) {
      message->add_escaping(static_cast<tagpb::TAGPValue_Escaping>(e));
    } else {
      addRaw(10, e);
    }
  }
  addMessages(_templateTokenArray, message->mutable_template_token());
  if (hasBoolean()) message->set_boolean(_boolean);
  if (servingValue_)
    servingValue_->toMessage(message->MutableExtension(tagpb::TAGPServingValue::ext));
}

TAGPValue::Builder::Builder() : value_(new TAGPValue) {}

TAGPValue::Builder& TAGPValue::Builder::setType(TAGPValue_Type type) {
  value_->_type = type;
  value_->has_ |= kType;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setString(std::string string) {
  value_->_string = std::move(string);
  value_->has_ |= kString;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::addListItem(Ref item) {
  platform::assertThat(item != nullptr, "TAGPValue: null list item");
  value_->_listItemArray.push_back(std::move(item));
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::addMapKey(Ref key) {
  platform::assertThat(key != nullptr, "TAGPValue: null map key");
  value_->_mapKeyArray.push_back(std::move(key));
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::addMapValue(Ref value) {
  platform::assertThat(value != nullptr, "TAGPValue: null map value");
  value_->_mapValueArray.push_back(std::move(value));
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setMacroReference(std::string name) {
  value_->_macroReference = std::move(name);
  value_->has_ |= kMacroReference;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setFunctionId(std::string functionId) {
  value_->_functionId = std::move(functionId);
  value_->has_ |= kFunctionId;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setInteger(std::int64_t integer) {
  value_->_integer = integer;
  value_->has_ |= kInteger;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setContainsReferences(bool containsReferences) {
  value_->_containsReferences = containsReferences;
  value_->has_ |= kContainsReferences;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::addEscaping(std::int32_t escaping) {
  value_->_escapingArray.push_back(escaping);
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setEscapingArray(std::vector<std::int32_t> escapings) {
  value_->_escapingArray = std::move(escapings);
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::addTemplateToken(Ref token) {
  platform::assertThat(token != nullptr, "TAGPValue: null template token");
  value_->_templateTokenArray.push_back(std::move(token));
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setBoolean(bool boolean) {
  value_->_boolean = boolean;
  value_->has_ |= kBoolean;
  return *this;
}

TAGPValue::Builder& TAGPValue::Builder::setServingValue(
    std::shared_ptr<const TAGPServingValue> servingValue) {
  value_->servingValue_ = std::move(servingValue);
  return *this;
}

TAGPValue::Ref TAGPValue::Builder::build() {
  value_->seal();
  Ref built = std::move(value_);
  value_.reset(new TAGPValue);
  return built;
}
