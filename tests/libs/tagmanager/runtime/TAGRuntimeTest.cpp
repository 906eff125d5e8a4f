// The runtime: which tags fire for an event (rules add and remove them, negative predicates
// first), which call a macro name runs (rules choose, else its default), how properties expand,
// and the caches and write-backs that keep constant work from being done twice.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGExpandedRuleBuilder.h"
#include "tagmanager/runtime/TAGRuntime.h"

namespace {

using namespace tagtest;
using platform::Value;
using testsupport::TagLogRecorder;
using Calls = std::vector<std::shared_ptr<TAGExpandedFunctionCall>>;

// A tag that records the text of its "name" property each time it fires.
class RecordingTag : public TAGFunctionCallImplementation {
 public:
  RecordingTag() : TAGFunctionCallImplementation("_rec", std::set<std::string>{"name"}) {}
  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override {
    platform::MutexLock lock(mutex_);
    fired_.push_back(*TAGTypes::valueToString(parameters.at("name")));
    return TAGTypes::defaultValue();
  }
  // Sorted: the order tags fire in is not promised.
  std::vector<std::string> takeFired() {
    platform::MutexLock lock(mutex_);
    std::vector<std::string> fired;
    fired.swap(fired_);
    std::sort(fired.begin(), fired.end());
    return fired;
  }

 private:
  platform::Mutex mutex_;
  std::vector<std::string> fired_ GUARDED_BY(mutex_);
};

// A cacheable implementation that counts its evaluations and answers its "value" property (or
// "arg0" as a boolean, as a predicate).
class Counting : public TAGFunctionCallImplementation {
 public:
  explicit Counting(std::string id) : TAGFunctionCallImplementation(std::move(id), {{}}) {}
  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override {
    ++count;
    if (auto value = propertyOf(parameters, "value")) return value;
    return boolean(TAGTypes::valueToBoolean(propertyOf(parameters, "arg0"))->boolValue());
  }
  std::atomic<int> count{0};
};

// A predicate (or, given "value", a macro) that is slow by the clock, not by the machine: each
// run takes "cost" milliseconds (25 unless given) of the manual clock, as a regular expression
// that runs into its time limit takes real time. As a predicate it answers "arg0" (true when
// absent).
class SlowByTheClock : public TAGFunctionCallImplementation {
 public:
  SlowByTheClock(std::string id, platform::ManualClock& clock)
      : TAGFunctionCallImplementation(std::move(id), {{}}), clock_(clock) {}
  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override {
    ++count;
    auto cost = propertyOf(parameters, "cost");
    clock_.advance(
        std::chrono::milliseconds(cost ? std::stoi(*TAGTypes::valueToString(cost)) : 25));
    if (auto value = propertyOf(parameters, "value")) return value;
    auto holds = propertyOf(parameters, "arg0");
    return boolean(!holds || TAGTypes::valueToBoolean(holds)->boolValue());
  }
  std::atomic<int> count{0};

 private:
  platform::ManualClock& clock_;
};

auto eq(TAGPValue::Ref a, TAGPValue::Ref b) { return call("_eq", {{"arg0", a}, {"arg1", b}}); }
auto tag(const std::string& name) { return call("_rec", {{"name", str(name)}}); }
auto tagWith(TAGPValue::Ref name) { return call("_rec", {{"name", name}}); }
auto constant(const std::string& name, TAGPValue::Ref value) {
  return macro(name, "_c", {{"value", value}});
}
auto notDefault(const std::string& name, TAGPValue::Ref value) {
  return macro(name, "_c", {{"value", value}, {"not_default_macro", boolean(true)}});
}
auto dataLayerValue(const std::string& name, const std::string& key) {
  return macro(name, "_v", {{"name", str(key)}});
}

class TAGRuntimeTest : public ::testing::Test {
 protected:
  // A runtime over these rules and macros, with the recording tag and counting implementations.
  std::shared_ptr<TAGRuntime> makeRuntime(const std::vector<TAGRuleRef>& rules,
                                          const Calls& macros = {}) {
    TAGExpandedResourceBuilder builder;
    for (const auto& rule : rules) builder.addRule(rule);
    for (const auto& m : macros) builder.addMacro(m);
    auto runtime =
        TAGRuntime::runtimeWithResource(builder.build(), dataLayer_, nullptr, nullptr, {tags_});
    runtime->addPredicate(countingPredicate_);
    runtime->addMacro(countingMacro_);
    return runtime;
  }

  // Evaluations have a time budget on the clock: on a manual one, only the limits a test sets
  // out to reach are reached, however loaded the machine.
  platform::ScopedManualClock manualClock_;
  std::shared_ptr<TAGDataLayer> dataLayer_ = std::make_shared<TAGDataLayer>();
  std::shared_ptr<RecordingTag> tags_ = std::make_shared<RecordingTag>();
  std::shared_ptr<Counting> countingPredicate_ = std::make_shared<Counting>("_countp");
  std::shared_ptr<Counting> countingMacro_ = std::make_shared<Counting>("_countm");
};

using Fired = std::vector<std::string>;

TEST_F(TAGRuntimeTest, ATagRemovedByAnyPassedRuleNeverFires) {
  auto t1 = tag("t1"), t2 = tag("t2"), t3 = tag("t3"), t4 = tag("t4");
  auto yes = eq(str("a"), str("a"));
  auto no = eq(str("a"), str("b"));
  auto runtime = makeRuntime({
      TAGExpandedRule::builder().addPositivePredicate(yes).addAddTag(t1).addAddTag(t2).build(),
      TAGExpandedRule::builder().addPositivePredicate(yes).addRemoveTag(t2).build(),
      // Fails, so neither its addition nor its removal counts.
      TAGExpandedRule::builder().addPositivePredicate(no).addAddTag(t3).addRemoveTag(t1).build(),
      // No predicates: passes.
      TAGExpandedRule::builder().addAddTag(t4).build(),
  });
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), (Fired{"t1", "t4"}));
  // Tags are not cacheable: they fire on every event.
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), (Fired{"t1", "t4"}));
}

TEST_F(TAGRuntimeTest, ARemovingRuleThatStopsPassingLetsTheTagFire) {
  auto t = tag("t");
  auto flagOn = eq(macroRef("flag"), str("on"));
  auto runtime =
      makeRuntime({TAGExpandedRule::builder().addAddTag(t).build(),
                   TAGExpandedRule::builder().addPositivePredicate(flagOn).addRemoveTag(t).build()},
                  {dataLayerValue("flag", "flag")});
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{"t"});
  dataLayer_->push({{"flag", Value("on")}});
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{});
  dataLayer_->push({{"flag", Value("off")}});
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{"t"});
}

TEST_F(TAGRuntimeTest, ATrueNegativePredicateFailsTheRuleBeforeAnyPositiveOneRuns) {
  auto counted = call("_countp", {{"arg0", boolean(true)}});
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addNegativePredicate(eq(str("a"), str("a")))
                                  .addPositivePredicate(counted)
                                  .addAddTag(tag("t"))
                                  .build()});
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{});
  EXPECT_EQ(countingPredicate_->count, 0);
}

TEST_F(TAGRuntimeTest, AConstantPredicateIsComputedOncePerRuntime) {
  auto shared = call("_countp", {{"arg0", boolean(true)}});
  auto runtime = makeRuntime(
      {TAGExpandedRule::builder().addPositivePredicate(shared).addAddTag(tag("a")).build(),
       TAGExpandedRule::builder().addPositivePredicate(shared).addAddTag(tag("b")).build()});
  for (int i = 0; i < 3; ++i) runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), (Fired{"a", "a", "a", "b", "b", "b"}));
  EXPECT_EQ(countingPredicate_->count, 1);
}

TEST_F(TAGRuntimeTest, APredicateOnTheDataLayerIsComputedEveryTime) {
  auto shared = call("_countp", {{"arg0", macroRef("dl")}});
  auto runtime = makeRuntime(
      {TAGExpandedRule::builder().addPositivePredicate(shared).addAddTag(tag("a")).build(),
       TAGExpandedRule::builder().addPositivePredicate(shared).addAddTag(tag("b")).build()},
      {dataLayerValue("dl", "go")});
  dataLayer_->push({{"go", Value("true")}});
  for (int i = 0; i < 3; ++i) runtime->evaluateTags("e");
  EXPECT_EQ(countingPredicate_->count, 6);  // two rules, three events
  EXPECT_EQ(tags_->takeFired().size(), 6u);
}

TEST_F(TAGRuntimeTest, ACachedCallIsNeitherExpandedNorEvaluatedAgain) {
  // Too costly for the macro cache, so only the calls' caching keeps it from running again.
  std::string big(TAGRuntime::kCacheCostLimit + 1, 'x');
  auto bigMacro = macro("big", "_countm", {{"value", str(big)}});
  auto predicate = eq(macroRef("big"), str("x"));
  auto runtime = makeRuntime(
      {TAGExpandedRule::builder().addNegativePredicate(predicate).addAddTag(tag("t")).build()},
      {bigMacro});
  for (int i = 0; i < 3; ++i) runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), (Fired{"t", "t", "t"}));
  EXPECT_EQ(countingMacro_->count, 1);
  // The static expansion was written back into the call.
  EXPECT_EQ(text(predicate->propertyForKey("arg0")), big);
  EXPECT_EQ(runtime->macroEvaluationCache().count(), 0u);
}

TEST_F(TAGRuntimeTest, TheCallCacheKnowsCallsByIdentity) {
  auto first = call("_countp", {{"arg0", boolean(true)}});
  auto second = call("_countp", {{"arg0", boolean(true)}});  // equal, but another call
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addPositivePredicate(first)
                                  .addPositivePredicate(second)
                                  .addAddTag(tag("t"))
                                  .build()});
  runtime->evaluateTags("e");
  runtime->evaluateTags("e");
  EXPECT_EQ(countingPredicate_->count, 2);
}

TEST_F(TAGRuntimeTest, RulesChooseAMacrosCallElseItsDefault) {
  auto chosen = notDefault("m", str("chosen"));
  auto flagOn = eq(macroRef("flag"), str("on"));
  auto runtime = makeRuntime(
      {TAGExpandedRule::builder().addPositivePredicate(flagOn).addAddMacro(chosen).build()},
      {constant("m", str("default")), chosen, dataLayerValue("flag", "flag")});
  EXPECT_EQ(text(runtime->evaluateMacroReference("m")->value()), "default");
  dataLayer_->push({{"flag", Value("on")}});
  EXPECT_EQ(text(runtime->evaluateMacroReference("m")->value()), "chosen");
  // The choice rests on the data layer, so nothing of it was cached.
  EXPECT_FALSE(runtime->evaluateMacroReference("m")->isStatic());
}

TEST_F(TAGRuntimeTest, ARemovedMacroCallFallsBackToTheDefault) {
  auto chosen = notDefault("m", str("chosen"));
  auto runtime = makeRuntime({TAGExpandedRule::builder().addAddMacro(chosen).build(),
                              TAGExpandedRule::builder().addRemoveMacro(chosen).build()},
                             {constant("m", str("default")), chosen});
  EXPECT_EQ(text(runtime->evaluateMacroReference("m")->value()), "default");
}

TEST_F(TAGRuntimeTest, TwoActiveCallsWarnOnceAndOneIsUsed) {
  auto one = notDefault("m", str("one"));
  auto two = notDefault("m", str("two"));
  auto runtime = makeRuntime({TAGExpandedRule::builder().addAddMacro(one).build(),
                              TAGExpandedRule::builder().addAddMacro(two).build()},
                             {one, two});
  TagLogRecorder log;
  std::string value = text(runtime->evaluateMacroReference("m")->value());
  EXPECT_TRUE(value == "one" || value == "two") << value;
  EXPECT_EQ(log.lines("warning"),
            std::vector<std::string>{"Multiple macros active for macroName m"});
  // Static: the second look is the cached one, without a second warning.
  EXPECT_EQ(text(runtime->evaluateMacroReference("m")->value()), value);
  EXPECT_EQ(log.lines("warning").size(), 1u);
}

TEST_F(TAGRuntimeTest, TheLastCallNotMarkedNotDefaultIsTheDefault) {
  auto runtime = makeRuntime({}, {constant("m", str("first")), constant("m", str("second")),
                                  notDefault("m", str("marked")), notDefault("only", str("x"))});
  EXPECT_EQ(text(runtime->evaluateMacroReference("m")->value()), "second");
  TagLogRecorder log;
  EXPECT_EQ(runtime->evaluateMacroReference("only"), TAGRuntime::defaultResult());
  EXPECT_EQ(runtime->evaluateMacroReference("nothing"), TAGRuntime::defaultResult());
  EXPECT_EQ(log.lines("error"),
            (std::vector<std::string>{"Invalid macro: only", "Invalid macro: nothing"}));
}

TEST_F(TAGRuntimeTest, AMacroCycleGivesTheDefaultResultAndIsReportedOnce) {
  auto runtime = makeRuntime({}, {constant("self", macroRef("self")), constant("a", macroRef("b")),
                                  constant("b", list({str("x"), macroRef("a")}))});
  TagLogRecorder log;
  EXPECT_EQ(runtime->evaluateMacroReference("self"), TAGRuntime::defaultResult());
  EXPECT_EQ(log.lines("error"),
            std::vector<std::string>{"Macro cycle detected.  Current macro reference: self.  "
                                     "Previous macro reference: {(self)}."});
  // The failure is cached under the name: asking again reports nothing new.
  EXPECT_EQ(runtime->evaluateMacroReference("self"), TAGRuntime::defaultResult());
  EXPECT_EQ(log.lines("error").size(), 1u);

  log.clear();
  EXPECT_EQ(runtime->evaluateMacroReference("a"), TAGRuntime::defaultResult());
  EXPECT_EQ(log.lines("error"),
            std::vector<std::string>{"Macro cycle detected.  Current macro reference: b.  "
                                     "Previous macro reference: {(a, b)}."});
}

TEST_F(TAGRuntimeTest, AChainOfMacrosDeeperThanTheLimitGivesTheDefaultResult) {
  constexpr int kLength = static_cast<int>(TAGRuntime::kMaxExpansionDepth) + 100;
  Calls macros;
  for (int i = 0; i < kLength; ++i) {
    macros.push_back(constant("m" + std::to_string(i), macroRef("m" + std::to_string(i + 1))));
  }
  macros.push_back(constant("m" + std::to_string(kLength), str("end")));
  auto runtime = makeRuntime({}, macros);

  TagLogRecorder log;
  EXPECT_EQ(runtime->evaluateMacroReference("m0"), TAGRuntime::defaultResult());
  ASSERT_EQ(log.lines("error").size(), 1u);
  EXPECT_NE(log.lines("error")[0].find("deeper than"), std::string::npos);
  // What was cut off is not remembered as a failure: from closer to the end the chain resolves.
  EXPECT_EQ(text(runtime->evaluateMacroReference("m150")->value()), "end");
  EXPECT_EQ(text(runtime->evaluateMacroReference("m0")->value()), "end");
}

TEST_F(TAGRuntimeTest, WhatACutOffEvaluationDecidedIsNeitherCachedNorWrittenBack) {
  constexpr int kLength = static_cast<int>(TAGRuntime::kMaxExpansionDepth) + 100;
  Calls macros;
  for (int i = 0; i < kLength; ++i) {
    macros.push_back(constant("m" + std::to_string(i), macroRef("m" + std::to_string(i + 1))));
  }
  macros.push_back(constant("m" + std::to_string(kLength), str("end")));
  // "pick" is "chosen" unless the chain ends in "end"; cut off, the chain reads as failed.
  auto chosen = notDefault("pick", str("chosen"));
  macros.push_back(constant("pick", str("default")));
  macros.push_back(chosen);
  auto outer = constant("outer", macroRef("pick"));
  macros.push_back(outer);
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addNegativePredicate(eq(macroRef("m0"), str("end")))
                                  .addAddMacro(chosen)
                                  .build()},
                             macros);
  {
    TagLogRecorder log;
    EXPECT_EQ(text(runtime->evaluateMacroReference("outer")->value()), "chosen");
  }
  EXPECT_EQ(outer->propertyForKey("value")->type(), TAGPValue_Type::MacroReference);
  // Once the far end of the chain is known, the same question is decided in full.
  EXPECT_EQ(text(runtime->evaluateMacroReference("m150")->value()), "end");
  EXPECT_EQ(text(runtime->evaluateMacroReference("outer")->value()), "default");
}

TEST_F(TAGRuntimeTest, MacrosThatReferToTheNextTwiceEndWithinTheStepBudget) {
  // 2^40 expansions in full: nothing of it is constant, so nothing is cached.
  constexpr int kLevels = 40;
  Calls macros;
  for (int i = 0; i < kLevels; ++i) {
    auto next = macroRef("m" + std::to_string(i + 1));
    macros.push_back(macro("m" + std::to_string(i), "_jn", {{"arg0", list({next, next})}}));
  }
  macros.push_back(dataLayerValue("m" + std::to_string(kLevels), "leaf"));
  auto runtime = makeRuntime({}, macros);
  dataLayer_->push({{"leaf", Value("x")}});

  TagLogRecorder log;
  EXPECT_EQ(runtime->evaluateMacroReference("m0"), TAGRuntime::defaultResult());
  EXPECT_EQ(log.lines("error"),
            std::vector<std::string>{"Macro expansion took more than " +
                                     std::to_string(TAGRuntime::kMaxExpansionSteps) + " steps"});
  // A part small enough is evaluated in full.
  EXPECT_EQ(text(runtime->evaluateMacroReference("m36")->value()), "xxxxxxxxxxxxxxxx");
}

// --- The time budget ---------------------------------------------------------------------------

class TAGRuntimeTimeBudgetTest : public TAGRuntimeTest {
 protected:
  std::shared_ptr<TAGRuntime> makeSlowRuntime(const std::vector<TAGRuleRef>& rules,
                                              const Calls& macros = {}) {
    auto runtime = makeRuntime(rules, macros);
    runtime->addPredicate(slowPredicate_);
    runtime->addMacro(slowMacro_);
    return runtime;
  }
  std::vector<std::string> budgetLines(const TagLogRecorder& log) const {
    std::vector<std::string> lines;
    for (const auto& line : log.lines("error"))
      if (line.rfind("Evaluation took longer than 250 ms", 0) == 0) lines.push_back(line);
    return lines;
  }

  platform::ScopedManualClock clock_;
  std::shared_ptr<SlowByTheClock> slowPredicate_ =
      std::make_shared<SlowByTheClock>("_slow", *clock_);
  std::shared_ptr<SlowByTheClock> slowMacro_ = std::make_shared<SlowByTheClock>("_slowm", *clock_);
};

TEST_F(TAGRuntimeTimeBudgetTest, RunawayPredicatesCostAnEventItsBudgetOnceAndTheRestAreFalse) {
  // 300 predicates of 25 ms each would hold every push for 7.5 s.
  std::vector<TAGRuleRef> rules;
  for (int i = 0; i < 300; ++i)
    rules.push_back(
        TAGExpandedRule::builder().addPositivePredicate(call("_slow")).addAddTag(tag("t")).build());
  auto runtime = makeSlowRuntime(rules);
  TagLogRecorder log;
  const platform::MonoTime start = clock_->monotonicNow();
  runtime->evaluateTags("e");
  EXPECT_EQ(slowPredicate_->count, 10);
  EXPECT_EQ(clock_->monotonicNow() - start, TAGRuntime::kEvaluationTimeBudget);
  EXPECT_EQ(tags_->takeFired().size(), 10u);
  EXPECT_EQ(budgetLines(log).size(), 1u);
  // The next event has a budget of its own, and nothing of the first was kept as if decided.
  runtime->evaluateTags("e");
  EXPECT_EQ(slowPredicate_->count, 20);
  EXPECT_EQ(tags_->takeFired().size(), 10u);
  EXPECT_EQ(budgetLines(log).size(), 2u);
}

TEST_F(TAGRuntimeTimeBudgetTest, ANegativePredicateMetAfterTheBudgetFailsItsRule) {
  // Whichever rule goes first spends the budget; the negative predicate left over must not let
  // "guarded" fire as if it did not hold.
  auto slowFalse = call("_slow", {{"arg0", boolean(false)}, {"cost", str("300")}});
  auto runtime = makeSlowRuntime({TAGExpandedRule::builder()
                                      .addPositivePredicate(call("_slow", {{"cost", str("300")}}))
                                      .addAddTag(tag("slow"))
                                      .build(),
                                  TAGExpandedRule::builder()
                                      .addNegativePredicate(slowFalse)
                                      .addNegativePredicate(eq(str("a"), str("b")))
                                      .addAddTag(tag("guarded"))
                                      .build()});
  TagLogRecorder log;
  runtime->evaluateTags("e");
  EXPECT_EQ(slowPredicate_->count, 1);
  Fired fired = tags_->takeFired();
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "guarded"), 0);
  EXPECT_EQ(budgetLines(log).size(), 1u);
}

TEST_F(TAGRuntimeTimeBudgetTest, MacrosShareTheBudgetAndAMacroPastItHasNoValue) {
  Calls macros;
  std::vector<TAGPValue::Ref> parts;
  for (int i = 0; i < 30; ++i) {
    std::string name = "s" + std::to_string(i);
    macros.push_back(macro(name, "_slowm", {{"value", str("x")}}));
    parts.push_back(macroRef(name));
  }
  macros.push_back(macro("all", "_jn", {{"arg0", list(parts)}}));
  macros.push_back(macro("few", "_jn", {{"arg0", list({parts[0], parts[1]})}}));
  // A rule whose predicate reads the slow macros shares the event's budget with them.
  auto runtime = makeSlowRuntime({TAGExpandedRule::builder()
                                      .addPositivePredicate(eq(macroRef("all"), str("x")))
                                      .addAddTag(tag("t"))
                                      .build()},
                                 macros);
  TagLogRecorder log;
  EXPECT_EQ(runtime->evaluateMacroReference("all"), TAGRuntime::defaultResult());
  EXPECT_EQ(slowMacro_->count, 10);
  EXPECT_EQ(budgetLines(log).size(), 1u);
  // Not cached: each question has its own budget, and a small one is answered in full.
  EXPECT_EQ(runtime->evaluateMacroReference("all"), TAGRuntime::defaultResult());
  EXPECT_EQ(slowMacro_->count, 20);
  EXPECT_EQ(text(runtime->evaluateMacroReference("few")->value()), "xx");
  runtime->evaluateTags("e");
  EXPECT_EQ(slowMacro_->count, 32);
  EXPECT_EQ(tags_->takeFired(), Fired{});
  EXPECT_EQ(budgetLines(log).size(), 3u);
}

TEST_F(TAGRuntimeTest, ListsMapsAndTemplatesExpandTheirReferences) {
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addAddTag(tagWith(list({str("a"), macroRef("x")})))
                                  .addAddTag(tagWith(tmpl({str("q="), macroRef("x", true)})))
                                  .addAddTag(tagWith(map({{macroRef("x"), str("v")}})))
                                  .build()},
                             {constant("x", str("x y"))});
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), (Fired{"[a, x y]", "q=x%20y", "{x y=v}"}));
}

TEST_F(TAGRuntimeTest, AFailedReferenceAnywhereInAPropertyStopsTheCall) {
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addAddTag(tagWith(list({str("a"), macroRef("missing")})))
                                  .addAddTag(tagWith(tmpl({str("q="), macroRef("missing", true)})))
                                  .addAddTag(tagWith(map({{str("k"), macroRef("missing")}})))
                                  .addAddTag(tag("fine"))
                                  .build()});
  TagLogRecorder log;
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{"fine"});
  EXPECT_EQ(log.lines("error"), std::vector<std::string>(3, "Invalid macro: missing"));
}

TEST_F(TAGRuntimeTest, TheEventMacroAnswersTheEventBeingFired) {
  auto runtime =
      makeRuntime({TAGExpandedRule::builder().addAddTag(tagWith(macroRef("event"))).build()},
                  {macro("event", "_e")});
  runtime->evaluateTags("purchase");
  EXPECT_EQ(tags_->takeFired(), Fired{"purchase"});
  EXPECT_FALSE(runtime->currentEventName());
  EXPECT_EQ(runtime->evaluateMacroReference("event")->value(), TAGTypes::defaultValue());
}

TEST_F(TAGRuntimeTest, BadCallsAreLoggedAndDoNothing) {
  TAGExpandedFunctionCallBuilder noFunction;
  noFunction.addPropertyWithValue(str("x"), "name");
  auto runtime = makeRuntime({TAGExpandedRule::builder()
                                  .addAddTag(call("_rec"))
                                  .addAddTag(noFunction.build())
                                  .addAddTag(call("_nope", {{"name", str("x")}}))
                                  .build()});
  TagLogRecorder log;
  runtime->evaluateTags("e");
  EXPECT_EQ(tags_->takeFired(), Fired{});
  auto errors = log.lines("error");
  std::sort(errors.begin(), errors.end());
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "Incorrect keys for function _rec required {(name)} had {(function)}",
                        "No function id in properties", "_nope has no backing implementation."}));
}

TEST_F(TAGRuntimeTest, RegisteringAnIdTwiceOrNoIdRaises) {
  auto resource = TAGExpandedResource::builder().build();
  struct Named : TAGFunctionCallImplementation {
    explicit Named(std::string id) : TAGFunctionCallImplementation(std::move(id), {{}}) {}
    bool isCacheable() const override { return false; }
    TAGPValue::Ref evaluate(const TAGPropertyMap&) override { return TAGTypes::defaultValue(); }
  };
  const std::pair<std::string, std::string> cases[] = {
      {"_func", "Duplicate function type name: _func"},
      {"", "instanceFunctionId should be set"},
  };
  for (const auto& [id, reason] : cases) {
    try {
      TAGRuntime::runtimeWithResource(resource, nullptr, nullptr, nullptr,
                                      {std::make_shared<Named>(id)});
      FAIL() << "no exception for " << id;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.name(), "IllegalArgumentException");
      EXPECT_EQ(e.reason(), reason);
    }
  }
  // The same id in two maps is fine: "_func" is a tag and a macro.
  auto runtime = TAGRuntime::runtimeWithResource(resource, nullptr, nullptr, nullptr);
  EXPECT_EQ(runtime->trackingTagMap().count("_func"), 1u);
  EXPECT_EQ(runtime->macroMap().count("_func"), 1u);
  EXPECT_THROW(runtime->addMacro(std::make_shared<Named>("_c")), platform::Exception);
}

TEST_F(TAGRuntimeTest, AMissingResourceGivesNoRuntime) {
  TagLogRecorder log;
  EXPECT_EQ(TAGRuntime::runtimeWithResource(nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(log.lines("error"), std::vector<std::string>{"resource cannot be nil"});
}

TEST_F(TAGRuntimeTest, ThreadsEvaluateMacrosWhileEventsFireAndWriteBack) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  Calls macros{dataLayerValue("dl", "n"), constant("c", str("k"))};
  std::vector<TAGRuleRef> rules;
  for (int i = 0; i < 8; ++i) {
    std::string name = "m" + std::to_string(i);
    // A static part (written back into the call on first use) and a changing one.
    macros.push_back(
        macro(name, "_jn", {{"arg0", list({macroRef("c"), str(name), macroRef("dl")})}}));
    rules.push_back(TAGExpandedRule::builder()
                        .addPositivePredicate(eq(macroRef("c"), str("k")))
                        .addAddTag(tagWith(macroRef(name)))
                        .build());
  }
  auto runtime = makeRuntime(rules, macros);
  dataLayer_->push({{"n", Value(0)}});

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        std::string name = "m" + std::to_string((t + round) % 8);
        std::string value = text(runtime->evaluateMacroReference(name)->value());
        if (value.rfind("k" + name, 0) != 0) ++wrong;
      }
    });
  }
  threads.emplace_back([&] {
    for (int round = 0; round < kRounds / 4; ++round) {
      dataLayer_->push({{"n", Value(round)}});
      runtime->evaluateTags("e");
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(tags_->takeFired().size(), 8u * (kRounds / 4));
}

TEST(TAGCostLimitedCacheTest, DropsTheOldestEntriesPastTheLimitAndNeverKeepsAnOversizedOne) {
  TAGCostLimitedCache<std::string, int> cache(10);
  cache.setObject("a", 1, 4);
  cache.setObject("b", 2, 4);
  cache.setObject("c", 3, 4);  // 12 > 10: "a" goes
  EXPECT_FALSE(cache.objectForKey("a"));
  EXPECT_EQ(cache.objectForKey("b"), 2);
  EXPECT_EQ(cache.totalCost(), 8u);
  cache.setObject("b", 5, 2);  // replacing costs the new cost only
  EXPECT_EQ(cache.objectForKey("b"), 5);
  EXPECT_EQ(cache.totalCost(), 6u);
  cache.setObject("huge", 9, 11);
  EXPECT_FALSE(cache.objectForKey("huge"));
  EXPECT_EQ(cache.count(), 2u);
}

}  // namespace
