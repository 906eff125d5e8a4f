#include "tagmanager/values/TAGPServingValue.h"

#include <google/protobuf/io/coded_stream.h>

#include "tagmanager/proto/serving.pb.h"

namespace {

using google::protobuf::io::CodedOutputStream;

// Every field here has a number below 16, so its key takes one byte; int32 fields are written
// sign-extended, as the wire format has it, and repeated ones are not packed.
std::size_t int32FieldSize(std::int32_t value) {
  return 1 + CodedOutputStream::VarintSize32SignExtended(value);
}

std::size_t repeatedSize(const std::vector<std::int32_t>& values) {
  std::size_t size = 0;
  for (std::int32_t v : values) size += int32FieldSize(v);
  return size;
}

}  // namespace

std::size_t TAGPServingValue::serializedSize() const {
  std::size_t size = repeatedSize(listItemArray) + repeatedSize(mapKeyArray) +
                     repeatedSize(mapValueArray) + repeatedSize(templateTokenArray);
  if (macroReference) size += int32FieldSize(*macroReference);
  if (macroNameReference) size += int32FieldSize(*macroNameReference);
  return size;
}

TAGPServingValue TAGPServingValue::fromMessage(const tagpb::TAGPServingValue& message) {
  TAGPServingValue value;
  value.listItemArray.assign(message.list_item().begin(), message.list_item().end());
  value.mapKeyArray.assign(message.map_key().begin(), message.map_key().end());
  value.mapValueArray.assign(message.map_value().begin(), message.map_value().end());
  if (message.has_macro_reference()) value.macroReference = message.macro_reference();
  value.templateTokenArray.assign(message.template_token().begin(), message.template_token().end());
  if (message.has_macro_name_reference()) value.macroNameReference = message.macro_name_reference();
  return value;
}

void TAGPServingValue::toMessage(tagpb::TAGPServingValue* message) const {
  message->Clear();
  for (std::int32_t v : listItemArray) message->add_list_item(v);
  for (std::int32_t v : mapKeyArray) message->add_map_key(v);
  for (std::int32_t v : mapValueArray) message->add_map_value(v);
  if (macroReference) message->set_macro_reference(*macroReference);
  for (std::int32_t v : templateTokenArray) message->add_template_token(v);
  if (macroNameReference) message->set_macro_name_reference(*macroNameReference);
}
