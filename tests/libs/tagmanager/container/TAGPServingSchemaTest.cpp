// The container's wire form: messages built with the generated API, serialised and parsed back
// the way the loaders parse them, and the value tree read from and written to it.

#include <gtest/gtest.h>

#include "tagmanager/container/TAGPServingRoot.h"
#include "tagmanager/values/TAGPValue.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

using tagpb::TAGPOptionalResource;
using tagpb::TAGPResource;
using tagpb::TAGPResourceWithMetadata;

std::string exceptionName(const std::function<void()>& work) {
  try {
    work();
  } catch (const platform::Exception& e) {
    return e.name();
  }
  return "";
}

TAGPResource sampleResource() {
  TAGPResource resource;
  resource.add_key("function");
  resource.add_key("instance_name");
  auto* name = resource.add_value();
  name->set_type(tagpb::TAGPValue::STRING);
  name->set_string("greeting");
  auto* list = resource.add_value();
  list->set_type(tagpb::TAGPValue::LIST);
  auto* ext = list->MutableExtension(tagpb::TAGPServingValue::ext);
  ext->add_list_item(0);
  ext->add_list_item(0);
  auto* property = resource.add_property();
  property->set_key(1);
  property->set_value(0);
  auto* macro = resource.add_macro();
  macro->set_function(0);
  macro->add_property(0);
  resource.set_version("7");
  return resource;
}

TEST(TAGPServingSchemaTest, AResourceBuiltWithTheGeneratedApiParsesBackWhole) {
  TAGPResource resource = sampleResource();
  TAGPResourceWithMetadata saved;
  saved.set_time_stamp(1700000000123);
  *saved.mutable_resource() = resource;

  auto parsed = TAGPServingRoot::parseFromData<TAGPResourceWithMetadata>(saved.SerializeAsString());

  EXPECT_EQ(parsed.time_stamp(), 1700000000123);
  EXPECT_EQ(parsed.resource().SerializeAsString(), resource.SerializeAsString());
  const auto& list = parsed.resource().value(1);
  ASSERT_TRUE(list.HasExtension(tagpb::TAGPServingValue::ext));
  EXPECT_EQ(list.GetExtension(tagpb::TAGPServingValue::ext).list_item_size(), 2);
}

TEST(TAGPServingSchemaTest, AMissingRequiredFieldDoesNotParse) {
  TAGPResourceWithMetadata withoutStamp;
  *withoutStamp.mutable_resource() = sampleResource();
  TAGPResourceWithMetadata withoutResource;
  withoutResource.set_time_stamp(1);
  TAGPResource valueWithoutType;
  valueWithoutType.add_value()->set_string("no type");
  TAGPResource propertyWithoutValue;
  propertyWithoutValue.add_property()->set_key(0);

  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"saved copy without time stamp",
       [&] {
         TAGPServingRoot::parseFromData<TAGPResourceWithMetadata>(
             withoutStamp.SerializePartialAsString());
       }},
      {"saved copy without resource",
       [&] {
         TAGPServingRoot::parseFromData<TAGPResourceWithMetadata>(
             withoutResource.SerializePartialAsString());
       }},
      {"value without type",
       [&] {
         TAGPServingRoot::parseFromData<TAGPResource>(valueWithoutType.SerializePartialAsString());
       }},
      {"property without value",
       [&] {
         TAGPServingRoot::parseFromData<TAGPResource>(
             propertyWithoutValue.SerializePartialAsString());
       }},
  };
  for (const auto& [what, parse] : cases) {
    EXPECT_EQ(exceptionName(parse), "UninitializedMessageException") << what;
  }
}

TEST(TAGPServingSchemaTest, BytesThatAreNoMessageDoNotParse) {
  for (std::string bytes : {std::string("\xff\xff\xff", 3),
                            std::string("\x12\x05"
                                        "ab",
                                        4),
                            std::string("\x0a\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80", 11)}) {
    EXPECT_EQ(exceptionName([&] { TAGPServingRoot::parseFromData<TAGPResource>(bytes); }),
              "InvalidProtocolBufferException");
  }
}

TEST(TAGPServingSchemaTest, ZeroBytesAreAnEmptyResourceAndAnAnswerWithoutOne) {
  auto answer = TAGPServingRoot::parseFromData<TAGPOptionalResource>("");
  EXPECT_FALSE(answer.has_resource());

  auto resource = TAGPServingRoot::parseFromData<TAGPResource>("");
  EXPECT_EQ(resource.value_size(), 0);
  EXPECT_FALSE(resource.has_template_version_set());
  EXPECT_EQ(resource.template_version_set(), "0");
  EXPECT_EQ(resource.resource_format_version(), 0);

  EXPECT_EQ(exceptionName([] { TAGPServingRoot::parseFromData<TAGPResourceWithMetadata>(""); }),
            "UninitializedMessageException");
}

TEST(TAGPServingSchemaTest, EnumerationsAcceptExactlyTheirValues) {
  EXPECT_TRUE(tagpb::TAGPValue_Type_IsValid(1));
  EXPECT_TRUE(tagpb::TAGPValue_Type_IsValid(8));
  EXPECT_FALSE(tagpb::TAGPValue_Type_IsValid(0));
  EXPECT_FALSE(tagpb::TAGPValue_Type_IsValid(9));
  EXPECT_TRUE(tagpb::TAGPValue_Escaping_IsValid(17));
  EXPECT_FALSE(tagpb::TAGPValue_Escaping_IsValid(18));
  EXPECT_FALSE(tagpb::TAGPCacheOption_CacheLevel_IsValid(4));
  EXPECT_FALSE(tagpb::TAGPResourceState_IsValid(3));
  EXPECT_TRUE(tagpb::TAGPResourceType_IsValid(7));
  EXPECT_FALSE(tagpb::TAGPResourceType_IsValid(8));
  EXPECT_EQ(tagpb::TAGPCacheOption().level(), tagpb::TAGPCacheOption::NO_CACHE);
  EXPECT_EQ(tagpb::TAGPContainer().state(), tagpb::PREVIEW);
}

TEST(TAGPServingSchemaTest, AValueTreeCrossesTheWireUnchanged) {
  tagpb::TAGPValue message;
  message.set_type(tagpb::TAGPValue::MAP);
  auto* key = message.add_map_key();
  key->set_type(tagpb::TAGPValue::STRING);
  key->set_string("k");
  auto* value = message.add_map_value();
  value->set_type(tagpb::TAGPValue::INTEGER);
  value->set_integer(-5);
  message.set_contains_references(false);
  message.add_escaping(tagpb::TAGPValue::ESCAPE_URI);
  message.add_escaping(tagpb::TAGPValue::TEXT);
  auto* ext = message.MutableExtension(tagpb::TAGPServingValue::ext);
  ext->add_map_key(3);
  ext->add_map_value(-1);
  ext->set_macro_name_reference(2);

  TAGPValue::Ref node = TAGPValue::fromMessage(message);

  EXPECT_EQ(node->type(), TAGPValue_Type::Map);
  EXPECT_TRUE(node->hasContainsReferences());
  EXPECT_FALSE(node->containsReferences());
  EXPECT_FALSE(node->hasString());
  EXPECT_EQ(node->mapValueArray()[0]->integer(), -5);
  EXPECT_EQ(node->escapingArray(), (std::vector<std::int32_t>{12, 17}));
  ASSERT_NE(node->servingValue(), nullptr);
  EXPECT_EQ(node->servingValue()->mapValueArray, (std::vector<std::int32_t>{-1}));
  EXPECT_FALSE(node->servingValue()->macroReference.has_value());
  EXPECT_EQ(node->data(), message.SerializeAsString());
  EXPECT_EQ(node->serializedSize(), message.ByteSizeLong());
  EXPECT_TRUE(node->isEqual(*TAGPValue::fromMessage(message)));
}

TEST(TAGPServingSchemaTest, PresenceTellsAnUnsetFieldFromADefaultOne) {
  auto unset = TAGPValue::Builder().setType(TAGPValue_Type::String).build();
  auto empty = TAGPValue::Builder().setType(TAGPValue_Type::String).setString("").build();
  EXPECT_FALSE(unset->hasString());
  EXPECT_TRUE(empty->hasString());
  EXPECT_FALSE(unset->isEqual(*empty));
  EXPECT_NE(unset->serializedSize(), empty->serializedSize());

  auto noType = TAGPValue::Builder().build();
  EXPECT_FALSE(noType->hasType());
  EXPECT_EQ(noType->type(), TAGPValue_Type::String);
}

TEST(TAGPServingSchemaTest, TheHashFollowsTheTagManagersRule) {
  auto integer =
      TAGPValue::Builder().setType(TAGPValue_Type::Integer).setInteger(0x100000007).build();
  EXPECT_EQ(integer->hash(), 31u * (31u + 7u) + 0u);
  auto yes = TAGPValue::Builder()
                 .setType(TAGPValue_Type::Boolean)
                 .setBoolean(true)
                 .setContainsReferences(true)
                 .build();
  EXPECT_EQ(yes->hash(), 31u * 32u + 1u);
  auto list = TAGPValue::Builder()
                  .setType(TAGPValue_Type::List)
                  .addListItem(integer)
                  .addListItem(yes)
                  .build();
  EXPECT_EQ(list->hash(), 31u * ((31u * 1u + integer->hash()) * 31u + yes->hash()));
  auto map =
      TAGPValue::Builder().setType(TAGPValue_Type::Map).addMapKey(integer).addMapValue(yes).build();
  EXPECT_EQ(map->hash(), 31u * (31u * (31u + integer->hash()) + yes->hash()));
  // Escapings do not enter the hash; equal nodes hash alike.
  auto escaped = TAGPValue::Builder()
                     .setType(TAGPValue_Type::Integer)
                     .setInteger(0x100000007)
                     .addEscaping(12)
                     .build();
  EXPECT_EQ(escaped->hash(), integer->hash());
  EXPECT_FALSE(escaped->isEqual(*integer));
  auto again =
      TAGPValue::Builder().setType(TAGPValue_Type::Integer).setInteger(0x100000007).build();
  EXPECT_TRUE(again->isEqual(*integer));
}

TEST(TAGPServingSchemaTest, ASharedSubtreeIsSizedOncePerReference) {
  TAGPValue::Ref leaf = TAGTypes::objectToValue(TAGObject::string("abc"));
  TAGPValue::Ref level = leaf;
  for (int i = 0; i < 4; ++i) {
    level = TAGPValue::Builder()
                .setType(TAGPValue_Type::List)
                .addListItem(level)
                .addListItem(level)
                .build();
  }
  tagpb::TAGPValue message;
  level->toMessage(&message);
  EXPECT_EQ(level->serializedSize(), message.ByteSizeLong());
  EXPECT_EQ(TAGPValue::fromMessage(message)->hash(), level->hash());
}

}  // namespace
