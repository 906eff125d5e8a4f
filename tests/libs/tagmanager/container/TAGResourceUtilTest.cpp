// Expanding a container resource from its serving form: values expanded once and shared, calls
// and rules resolved by index, and every defect (bad index, cycle, uneven map, missing serving
// form, nesting too deep, a value too large unfolded) making the whole resource invalid.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/foundation/Assert.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagResourceMaker.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/runtime/TAGExpandedFunctionCallBuilder.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGExpandedRuleBuilder.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/runtime/TAGMacroInfo.h"
#include "tagmanager/values/TAGBooleanAndStatic.h"
#include "tagmanager/values/TAGSetAndStatic.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

using testsupport::ResourceMaker;
using testsupport::TagLogRecorder;

std::string invalidResource(const tagpb::TAGPResource& resource, TagLogRecorder& log) {
  log.clear();
  try {
    TAGResourceUtil::expandResource(resource);
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), "InvalidResourceException");
    EXPECT_EQ(e.reason(), "Resource is invalid");
    auto errors = log.lines("error");
    return errors.empty() ? "(no log line)" : errors.back();
  }
  return "(valid)";
}

TEST(TAGResourceUtilTest, AnEmptyResourceExpandsToItsVersionsOnly) {
  tagpb::TAGPResource resource;
  resource.set_version("12");
  resource.set_resource_format_version(3);
  auto expanded = TAGResourceUtil::expandResource(resource);
  EXPECT_TRUE(expanded->rules().empty());
  EXPECT_TRUE(expanded->macros().empty());
  EXPECT_EQ(expanded->version(), "12");
  EXPECT_EQ(expanded->resourceFormatVersion(), 3);
  EXPECT_EQ(expanded->description(), "Rules: ()  Macros: {}  Version: 12 Format: 3");
}

TEST(TAGResourceUtilTest, MacrosAreGroupedByNameAndValuesShared) {
  ResourceMaker r;
  int shared = r.string("shared");
  int listA = r.composite(tagpb::TAGPValue::LIST, {shared});
  int listB = r.composite(tagpb::TAGPValue::LIST, {shared, shared});
  r.addMacro("m", listA);
  r.addMacro("other", listB);
  r.addMacro("m", shared);

  auto expanded = TAGResourceUtil::expandResource(r.resource);

  ASSERT_EQ(expanded->macros().size(), 2u);
  const auto* m = expanded->macrosByName("m");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->size(), 2u);
  auto a = (*m)[0]->propertyForKey("value");
  auto b = expanded->macrosByName("other")->at(0)->propertyForKey("value");
  ASSERT_EQ(a->type(), TAGPValue_Type::List);
  // One expanded object for the string, wherever it is referred to.
  EXPECT_EQ(a->listItemArray()[0], b->listItemArray()[0]);
  EXPECT_EQ(b->listItemArray()[0], b->listItemArray()[1]);
  EXPECT_EQ((*m)[1]->propertyForKey("value"), a->listItemArray()[0]);
  EXPECT_EQ(*TAGTypes::valueToString((*m)[0]->propertyForKey("instance_name")), "m");
  EXPECT_EQ((*m)[0]->propertyForKey("function")->functionId(), "_c");
  EXPECT_EQ(expanded->macrosByName("none"), nullptr);
}

TEST(TAGResourceUtilTest, CompositeValuesAreRebuiltFromTheirIndices) {
  ResourceMaker r;
  int k = r.string("k");
  int v = r.string("v");
  int map = r.composite(tagpb::TAGPValue::MAP, {k}, {v});
  int name = r.string("price");
  int ref = r.macroReference(name, {tagpb::TAGPValue::ESCAPE_URI});
  int templ = r.composite(tagpb::TAGPValue::TEMPLATE, {k, ref});
  r.addMacro("map", map);
  r.addMacro("template", templ);

  auto expanded = TAGResourceUtil::expandResource(r.resource);

  auto mapValue = expanded->macrosByName("map")->at(0)->propertyForKey("value");
  EXPECT_EQ(*TAGTypes::valueToString(mapValue), "{k=v}");
  EXPECT_EQ(mapValue->servingValue(), nullptr);
  auto templValue = expanded->macrosByName("template")->at(0)->propertyForKey("value");
  ASSERT_EQ(templValue->templateTokenArray().size(), 2u);
  auto reference = templValue->templateTokenArray()[1];
  EXPECT_EQ(reference->type(), TAGPValue_Type::MacroReference);
  EXPECT_EQ(reference->macroReference(), "price");
  EXPECT_TRUE(reference->containsReferences());
  EXPECT_EQ(reference->escapingArray(), (std::vector<std::int32_t>{12}));
}

TEST(TAGResourceUtilTest, LaterPropertiesWithTheSameKeyWin) {
  ResourceMaker r;
  int key = r.key("value");
  tagpb::TAGPFunctionCall call = r.call(r.functionId("_c"), {r.property(key, r.string("first")),
                                                             r.property(key, r.string("second"))});
  *r.resource.add_tag() = call;
  tagpb::TAGPRule* rule = r.resource.add_rule();
  rule->add_add_tag(0);
  auto expanded = TAGResourceUtil::expandResource(r.resource);
  EXPECT_EQ(expanded->rules()[0]->addTags()[0]->propertyForKey("value")->string(), "second");
}

TEST(TAGResourceUtilTest, RulesResolveTheirCalls) {
  ResourceMaker r;
  *r.resource.add_predicate() = r.call(r.functionId("_eq"));
  *r.resource.add_predicate() = r.call(r.functionId("_cn"));
  *r.resource.add_tag() = r.call(r.functionId("_img"));
  r.addMacro("m", r.string("x"));
  tagpb::TAGPRule* rule = r.resource.add_rule();
  rule->add_positive_predicate(1);
  rule->add_negative_predicate(0);
  rule->add_add_tag(0);
  rule->add_remove_tag(0);
  rule->add_add_macro(0);
  rule->add_remove_macro(0);
  rule->add_add_tag_rule_name(99);  // names of rules are not carried over, nor checked

  auto expanded = TAGResourceUtil::expandResource(r.resource);

  ASSERT_EQ(expanded->rules().size(), 1u);
  const auto& e = *expanded->rules()[0];
  EXPECT_EQ(e.positivePredicates()[0]->propertyForKey("function")->functionId(), "_cn");
  EXPECT_EQ(e.negativePredicates()[0]->propertyForKey("function")->functionId(), "_eq");
  EXPECT_EQ(e.addTags()[0], e.removeTags()[0]);
  EXPECT_EQ(e.addMacros()[0], expanded->macrosByName("m")->at(0));
  EXPECT_EQ(e.removeMacros()[0], e.addMacros()[0]);
}

TEST(TAGResourceUtilTest, DefectsMakeTheWholeResourceInvalid) {
  TagLogRecorder log;
  struct Case {
    const char* what;
    std::function<void(ResourceMaker&)> make;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"a value index equal to the table's length",
       [](ResourceMaker& r) { r.composite(tagpb::TAGPValue::LIST, {1}); },
       "Index out of bounds detected: 1 in value"},
      {"value index -1", [](ResourceMaker& r) { r.composite(tagpb::TAGPValue::LIST, {-1}); },
       "Index out of bounds detected: -1 in value"},
      {"a list that holds itself",
       [](ResourceMaker& r) {
         r.string("a");
         r.composite(tagpb::TAGPValue::LIST, {0, 1});
       },
       "Value cycle detected.  Current value reference: 1.  Previous value references: {(1)}."},
      {"a cycle through two lists",
       [](ResourceMaker& r) {
         r.composite(tagpb::TAGPValue::LIST, {1});
         r.composite(tagpb::TAGPValue::LIST, {0});
       },
       "Value cycle detected.  Current value reference: 0.  Previous value references: {(0, 1)}."},
      {"a map with two keys and one value",
       [](ResourceMaker& r) {
         int k = r.string("k");
         r.composite(tagpb::TAGPValue::MAP, {k, k}, {k});
       },
       "Uneven map keys (2) and map values (1)"},
      {"a list without its serving form",
       [](ResourceMaker& r) { r.resource.add_value()->set_type(tagpb::TAGPValue::LIST); },
       "Expected a ServingValue and didn't get one"},
      {"a macro reference without its name",
       [](ResourceMaker& r) {
         auto* v = r.resource.add_value();
         v->set_type(tagpb::TAGPValue::MACRO_REFERENCE);
         v->MutableExtension(tagpb::TAGPServingValue::ext);
       },
       "Missing macro name reference"},
      {"a defect in a value nothing refers to",
       [](ResourceMaker& r) {
         r.addMacro("m", r.string("fine"));
         r.composite(tagpb::TAGPValue::LIST, {7});
       },
       "Index out of bounds detected: 7 in value"},
      {"a property index out of range",
       [](ResourceMaker& r) {
         auto call = r.call(r.functionId("_c"));
         call.add_property(-1);
         *r.resource.add_macro() = call;
       },
       "Index out of bounds detected: -1 in properties"},
      {"a key index out of range",
       [](ResourceMaker& r) {
         auto call = r.call(r.functionId("_c"), {r.property(5, 0)});
         *r.resource.add_tag() = call;
       },
       "Index out of bounds detected: 5 in keys"},
      {"a property value index out of range",
       [](ResourceMaker& r) {
         auto call = r.call(r.functionId("_c"), {r.property(r.key("value"), 3)});
         *r.resource.add_predicate() = call;
       },
       "Index out of bounds detected: 3 in values"},
      {"a rule naming tag -1",
       [](ResourceMaker& r) {
         *r.resource.add_tag() = r.call(r.functionId("_img"));
         r.resource.add_rule()->add_add_tag(-1);
       },
       "Index out of bounds detected: -1 in tags"},
      {"a rule naming a predicate past the end",
       [](ResourceMaker& r) { r.resource.add_rule()->add_negative_predicate(0); },
       "Index out of bounds detected: 0 in predicates"},
      {"a rule naming a macro past the end",
       [](ResourceMaker& r) {
         r.addMacro("m", r.string("x"));
         r.resource.add_rule()->add_remove_macro(1);
       },
       "Index out of bounds detected: 1 in macros"},
  };
  for (const auto& c : cases) {
    ResourceMaker r;
    c.make(r);
    EXPECT_EQ(invalidResource(r.resource, log), c.message) << c.what;
  }
}

TEST(TAGResourceUtilTest, NestingDeeperThanTheBoundIsInvalidInsteadOfOverflowingTheStack) {
  TagLogRecorder log;
  auto chain = [](std::size_t depth) {
    ResourceMaker r;
    r.string("leaf");
    for (std::size_t i = 1; i < depth; ++i) {
      r.composite(tagpb::TAGPValue::LIST, {static_cast<int>(i) - 1});
    }
    // Expansion starts from index 0 and works upwards, so put the deepest list first.
    std::reverse(r.resource.mutable_value()->begin(), r.resource.mutable_value()->end());
    for (int i = 0; i < r.resource.value_size(); ++i) {
      auto* ext = r.resource.mutable_value(i)->MutableExtension(tagpb::TAGPServingValue::ext);
      if (ext->list_item_size()) ext->set_list_item(0, i + 1);
    }
    return r.resource;
  };
  EXPECT_EQ(invalidResource(chain(TAGResourceUtil::kMaxValueDepth), log), "(valid)");
  EXPECT_EQ(invalidResource(chain(TAGResourceUtil::kMaxValueDepth + 1), log),
            "Value nesting deeper than 100 references at value reference: 100.");
  EXPECT_EQ(invalidResource(chain(100000), log),
            "Value nesting deeper than 100 references at value reference: 100.");
}

// In index order each entry is expanded after the one it holds, so only one expansion is ever in
// progress; the depth of the value built is what the bound is judged on.
TEST(TAGResourceUtilTest, AChainInIndexOrderDeeperThanTheBoundIsInvalid) {
  TagLogRecorder log;
  auto chain = [](std::size_t depth) {
    ResourceMaker r;
    r.string("leaf");
    for (std::size_t i = 1; i < depth; ++i) {
      r.composite(tagpb::TAGPValue::LIST, {static_cast<int>(i) - 1});
    }
    return r.resource;
  };
  EXPECT_EQ(invalidResource(chain(TAGResourceUtil::kMaxValueDepth), log), "(valid)");
  for (std::size_t depth : {TAGResourceUtil::kMaxValueDepth + 1, std::size_t{40000}}) {
    EXPECT_EQ(invalidResource(chain(depth), log),
              "Value nesting deeper than 100 references at value reference: 100.")
        << depth;
  }
  // Maps and templates count their levels the same way.
  ResourceMaker mixed;
  int below = mixed.string("leaf");
  for (std::size_t i = 1; i <= TAGResourceUtil::kMaxValueDepth; ++i) {
    below = i % 2 ? mixed.composite(tagpb::TAGPValue::MAP, {mixed.string("k")}, {below})
                  : mixed.composite(tagpb::TAGPValue::TEMPLATE, {below});
  }
  EXPECT_EQ(invalidResource(mixed.resource, log),
            "Value nesting deeper than 100 references at value reference: " +
                std::to_string(below) + ".");
}

TEST(TAGResourceUtilTest, ASharedValueThatUnfoldsTooLargeIsInvalid) {
  TagLogRecorder log;
  // Each list holds the one before twice: 40 levels would unfold to 2^40 strings.
  ResourceMaker r;
  r.string(std::string(100, 'x'));
  for (int i = 1; i <= 40; ++i) r.composite(tagpb::TAGPValue::LIST, {i - 1, i - 1});
  std::string message = invalidResource(r.resource, log);
  EXPECT_EQ(message, "Value reference 14 expands to more than 1048576 bytes.");

  // Sharing that stays small is fine, and every reference gets the one object.
  ResourceMaker small;
  small.string("x");
  for (int i = 1; i <= 10; ++i) small.composite(tagpb::TAGPValue::LIST, {i - 1, i - 1});
  small.addMacro("m", 10);
  auto expanded = TAGResourceUtil::expandResource(small.resource);
  auto top = expanded->macrosByName("m")->at(0)->propertyForKey("value");
  EXPECT_EQ(top->listItemArray()[0], top->listItemArray()[1]);
}

TEST(TAGResourceUtilTest, ASummaryNamesSizeAndVersionWithAVersionCutShort) {
  tagpb::TAGPResource resource;
  EXPECT_EQ(TAGResourceUtil::summaryOfResource(resource), "0 bytes, no version");
  resource.set_version("12");
  EXPECT_EQ(TAGResourceUtil::summaryOfResource(resource), "4 bytes, version \"12\"");
  resource.set_version(std::string(100000, 'v'));
  EXPECT_EQ(TAGResourceUtil::summaryOfResource(resource),
            std::to_string(resource.ByteSizeLong()) + " bytes, version \"" +
                std::string(TAGResourceUtil::kMaxLoggedVersionBytes, 'v') + "...\" (100000 bytes)");
}

TEST(TAGResourceUtilTest, ValueBuilderCarriesTypeEscapingsAndReferencesOnly) {
  auto value = TAGPValue::Builder()
                   .setType(TAGPValue_Type::Template)
                   .setString("dropped")
                   .addEscaping(12)
                   .setContainsReferences(false)
                   .addTemplateToken(TAGTypes::defaultValue())
                   .build();
  auto copy = TAGResourceUtil::valueBuilderBasedOnValue(*value).build();
  EXPECT_EQ(copy->type(), TAGPValue_Type::Template);
  EXPECT_EQ(copy->escapingArray(), (std::vector<std::int32_t>{12}));
  EXPECT_TRUE(copy->hasContainsReferences());
  EXPECT_FALSE(copy->hasString());
  EXPECT_TRUE(copy->templateTokenArray().empty());
  EXPECT_FALSE(TAGResourceUtil::valueBuilderBasedOnValue(*TAGTypes::defaultValue())
                   .build()
                   ->hasContainsReferences());
}

TEST(TAGResourceUtilTest, ExpandedCallsKeepWrittenBackProperties) {
  auto call = TAGExpandedFunctionCall::builder()
                  .addPropertyWithValue(TAGTypes::objectToValue(TAGObject::string("ab")), "k")
                  .build();
  auto copy = call->copy();
  call->updateCacheablePropertyWithValue(TAGTypes::objectToValue(TAGObject::string("new")), "k");
  EXPECT_EQ(call->propertyForKey("k")->string(), "new");
  EXPECT_EQ(copy->propertyForKey("k")->string(), "ab");
  EXPECT_EQ(copy->propertyForKey("missing"), nullptr);
  // "k" is one UTF-16 unit; the value is six bytes on the wire (type, then the text).
  EXPECT_EQ(copy->approximateByteSize(), 1u + 6u);
}

TEST(TAGResourceUtilTest, CallsTakeWriteBacksFromSeveralThreadsAtOnce) {
  auto call = TAGExpandedFunctionCall::builder()
                  .addPropertyWithValue(TAGTypes::objectToValue(TAGObject::string("0")), "k")
                  .build();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([call, t] {
      for (int i = 0; i < 500; ++i) {
        call->updateCacheablePropertyWithValue(
            TAGTypes::objectToValue(TAGObject::string(std::to_string(t))), "k");
        EXPECT_EQ(call->propertyForKey("k")->string().size(), 1u);
        EXPECT_EQ(call->propertiesMap().size(), 1u);
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

class Implementation : public TAGFunctionCallImplementation {
 public:
  explicit Implementation(std::optional<std::set<std::string>> keys)
      : TAGFunctionCallImplementation("_test", std::move(keys)) {}
  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override { return TAGTypes::defaultValue(); }
};

TEST(TAGResourceUtilTest, RequiredKeysAndResultHolders) {
  Implementation none(std::set<std::string>{});
  EXPECT_TRUE(none.hasRequiredKeys({"function"}));
  Implementation two(std::set<std::string>{"arg0", "arg1"});
  EXPECT_TRUE(two.hasRequiredKeys({"arg0", "arg1", "function"}));
  EXPECT_FALSE(two.hasRequiredKeys({"arg0", "function"}));
  Implementation missing(std::nullopt);
  EXPECT_FALSE(missing.hasRequiredKeys({"arg0"}));
  EXPECT_EQ(two.instanceFunctionId(), "_test");

  auto no = TAGBooleanAndStatic::booleanWithBool(false, true);
  ASSERT_NE(no->boolean(), nullptr);
  EXPECT_FALSE(no->boolean()->boolValue());
  EXPECT_EQ(TAGBooleanAndStatic::booleanWithBoolean(nullptr, false)->boolean(), nullptr);
  auto set = std::make_shared<const TAGFunctionCallSet>();
  EXPECT_EQ(TAGSetAndStatic::setWithSet(set, true)->set(), set);
}

}  // namespace
