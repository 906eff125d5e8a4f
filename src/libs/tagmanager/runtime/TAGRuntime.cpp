#include "tagmanager/runtime/TAGRuntime.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/Utf16.h"
#include "platform/foundation/Value.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/macros/TAGAdClickReferrer.h"
#include "tagmanager/macros/TAGAdvertiserId.h"
#include "tagmanager/macros/TAGAdvertisingTrackingEnabledMacro.h"
#include "tagmanager/macros/TAGAppId.h"
#include "tagmanager/macros/TAGAppName.h"
#include "tagmanager/macros/TAGAppVersion.h"
#include "tagmanager/macros/TAGConstantMacro.h"
#include "tagmanager/macros/TAGCustomFunctionCall.h"
#include "tagmanager/macros/TAGDataLayerMacro.h"
#include "tagmanager/macros/TAGDeviceName.h"
#include "tagmanager/macros/TAGEncode.h"
#include "tagmanager/macros/TAGEventMacro.h"
#include "tagmanager/macros/TAGHashMacro.h"
#include "tagmanager/macros/TAGJoinerMacro.h"
#include "tagmanager/macros/TAGLanguage.h"
#include "tagmanager/macros/TAGMobileAdUniqueIdMacro.h"
#include "tagmanager/macros/TAGOsVersion.h"
#include "tagmanager/macros/TAGPlatform.h"
#include "tagmanager/macros/TAGRandom.h"
#include "tagmanager/macros/TAGRegexGroup.h"
#include "tagmanager/macros/TAGResolution.h"
#include "tagmanager/macros/TAGRuntimeVersion.h"
#include "tagmanager/macros/TAGSdkVersion.h"
#include "tagmanager/macros/TAGTime.h"
#include "tagmanager/macros/TAGTmVersionMacro.h"
#include "tagmanager/predicates/TAGContains.h"
#include "tagmanager/predicates/TAGEndsWith.h"
#include "tagmanager/predicates/TAGEquals.h"
#include "tagmanager/predicates/TAGGreaterEquals.h"
#include "tagmanager/predicates/TAGGreaterThan.h"
#include "tagmanager/predicates/TAGLessEquals.h"
#include "tagmanager/predicates/TAGLessThan.h"
#include "tagmanager/predicates/TAGRegex.h"
#include "tagmanager/predicates/TAGStartsWith.h"
#include "tagmanager/runtime/TAGAddRemoveMacrosPopulator.h"
#include "tagmanager/runtime/TAGAddRemoveTagsPopulator.h"
#include "tagmanager/values/TAGTypes.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

// A set of names as log lines show it: "{(a, b)}".
std::string describeNames(const std::set<std::string>& names) {
  std::string text = "{(";
  for (const auto& name : names) {
    if (text.size() > 2) text += ", ";
    text += name;
  }
  return text + ")}";
}

std::set<std::string> keysOf(const TAGPropertyMap& map) {
  std::set<std::string> keys;
  for (const auto& [key, value] : map) keys.insert(key);
  return keys;
}

// Counts one level of nesting for as long as it lives.
class DepthScope {
 public:
  explicit DepthScope(std::size_t& depth) : depth_(depth) { ++depth_; }
  ~DepthScope() { --depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  std::size_t& depth_;
};

}  // namespace

const TAGRuntime::Result& TAGRuntime::defaultResult() {
  static const Result result = TAGPValueAndStatic::valueWithValue(TAGTypes::defaultValue(), true);
  return result;
}

std::shared_ptr<TAGRuntime> TAGRuntime::runtimeWithResource(
    std::shared_ptr<const TAGExpandedResource> resource, std::shared_ptr<TAGDataLayer> dataLayer,
    std::shared_ptr<TAGCustomEvaluator> functionCallMacroEvaluator,
    std::shared_ptr<TAGCustomEvaluator> functionCallTagEvaluator,
    const TrackingTags& trackingTags) {
  if (!resource) {
    TAGLog::error("resource cannot be nil");
    return nullptr;
  }
  std::shared_ptr<TAGRuntime> runtime(new TAGRuntime(std::move(resource), std::move(dataLayer)));
  runtime->registerImplementations(std::move(functionCallMacroEvaluator),
                                   std::move(functionCallTagEvaluator), trackingTags);
  runtime->buildMacroLookup();
  return runtime;
}

TAGRuntime::TAGRuntime(std::shared_ptr<const TAGExpandedResource> resource,
                       std::shared_ptr<TAGDataLayer> dataLayer)
    : _resource(std::move(resource)),
      dataLayer_(std::move(dataLayer)),
      _rules(_resource->rules().begin(), _resource->rules().end()) {}

void TAGRuntime::registerImplementations(
    std::shared_ptr<TAGCustomEvaluator> functionCallMacroEvaluator,
    std::shared_ptr<TAGCustomEvaluator> functionCallTagEvaluator,
    const TrackingTags& trackingTags) {
  addTrackingTag(std::make_shared<TAGCustomFunctionCall>(std::move(functionCallTagEvaluator)));
  for (const auto& tag : trackingTags) addTrackingTag(tag);

  addPredicate(std::make_shared<TAGContains>());
  addPredicate(std::make_shared<TAGEndsWith>());
  addPredicate(std::make_shared<TAGEquals>());
  addPredicate(std::make_shared<TAGGreaterEquals>());
  addPredicate(std::make_shared<TAGGreaterThan>());
  addPredicate(std::make_shared<TAGLessEquals>());
  addPredicate(std::make_shared<TAGLessThan>());
  addPredicate(std::make_shared<TAGRegex>());
  addPredicate(std::make_shared<TAGStartsWith>());

  addMacro(std::make_shared<TAGAdvertiserId>());
  addMacro(std::make_shared<TAGAdvertisingTrackingEnabledMacro>());
  addMacro(std::make_shared<TAGAdClickReferrer>());
  addMacro(std::make_shared<TAGAppId>());
  addMacro(std::make_shared<TAGAppName>());
  addMacro(std::make_shared<TAGAppVersion>());
  addMacro(std::make_shared<TAGConstantMacro>());
  addMacro(std::make_shared<TAGCustomFunctionCall>(std::move(functionCallMacroEvaluator)));
  addMacro(std::make_shared<TAGDataLayerMacro>(dataLayer_));
  addMacro(std::make_shared<TAGDeviceName>());
  addMacro(std::make_shared<TAGEncode>());
  addMacro(std::make_shared<TAGEventMacro>(weak_from_this()));
  addMacro(std::make_shared<TAGTmVersionMacro>());
  addMacro(std::make_shared<TAGHashMacro>());
  addMacro(std::make_shared<TAGJoinerMacro>());
  addMacro(std::make_shared<TAGLanguage>());
  addMacro(std::make_shared<TAGMobileAdUniqueIdMacro>());
  addMacro(std::make_shared<TAGOsVersion>());
  addMacro(std::make_shared<TAGPlatform>());
  addMacro(std::make_shared<TAGRandom>());
  addMacro(std::make_shared<TAGRegexGroup>());
  addMacro(std::make_shared<TAGResolution>());
  addMacro(std::make_shared<TAGRuntimeVersion>());
  addMacro(std::make_shared<TAGSdkVersion>());
  addMacro(std::make_shared<TAGTime>());
}

void TAGRuntime::buildMacroLookup() {
  for (const auto& rule : _rules) {
    for (const auto& call : rule->addMacros()) {
      TAGMacroInfo& info =
          addOrGetMacroInfoForKey(functionNameFromFunctionCall(*call), _macroLookup);
      info.rules().insert(rule);
      info.addAddMacro(call, rule);
    }
    for (const auto& call : rule->removeMacros()) {
      TAGMacroInfo& info =
          addOrGetMacroInfoForKey(functionNameFromFunctionCall(*call), _macroLookup);
      info.rules().insert(rule);
      info.addRemoveMacro(call, rule);
    }
  }
  // The last call of a name not marked "not_default_macro" is the name's default.
  for (const auto& [name, calls] : _resource->allMacros()) {
    for (const auto& call : calls) {
      TAGPValue::Ref notDefault =
          call->propertyForKey(TAGExpandedFunctionCall::notDefaultMacroKey());
      if (notDefault && TAGTypes::valueToBoolean(notDefault)->boolValue()) continue;
      addOrGetMacroInfoForKey(name, _macroLookup).setDefaultFunctionCall(call);
    }
  }
}

void TAGRuntime::addMacro(TAGFunctionCallImplementationRef implementation) {
  addFunctionImplToDict(_macroMap, std::move(implementation));
}

void TAGRuntime::addTrackingTag(TAGFunctionCallImplementationRef implementation) {
  addFunctionImplToDict(_trackingTagMap, std::move(implementation));
}

void TAGRuntime::addPredicate(TAGFunctionCallImplementationRef implementation) {
  addFunctionImplToDict(_predicateMap, std::move(implementation));
}

void TAGRuntime::addFunctionImplToDict(TAGImplementationMap& map,
                                       TAGFunctionCallImplementationRef implementation) {
  if (!implementation || implementation->instanceFunctionId().empty()) {
    throw platform::Exception(kTAGIllegalArgumentException, "instanceFunctionId should be set");
  }
  const std::string& id = implementation->instanceFunctionId();
  if (map.count(id) != 0) {
    throw platform::Exception(kTAGIllegalArgumentException, "Duplicate function type name: " + id);
  }
  map.emplace(id, std::move(implementation));
}

std::string TAGRuntime::functionNameFromFunctionCall(const TAGExpandedFunctionCall& call) {
  return *TAGTypes::valueToString(call.propertyForKey(TAGExpandedFunctionCall::instanceNameKey()));
}

TAGMacroInfo& TAGRuntime::addOrGetMacroInfoForKey(
    const std::string& name, std::map<std::string, TAGMacroInfo>& macroLookup) {
  return macroLookup[name];
}

std::optional<std::string> TAGRuntime::currentEventName() const {
  platform::MutexLock lock(eventNameMutex_);
  return _currentEventName;
}

void TAGRuntime::setCurrentEventName(std::optional<std::string> name) {
  platform::MutexLock lock(eventNameMutex_);
  _currentEventName = std::move(name);
}

void TAGRuntime::evaluateTags(const std::string& eventName) {
  platform::RecursiveMutexLock lock(evaluationMutex_);
  // A tag may push an event from inside; the outer event is current again afterwards.
  std::optional<std::string> outerEvent = currentEventName();
  setCurrentEventName(eventName);
  TimeBudget budget = freshTimeBudget();
  auto tags = calculateTagsToRunForRules(_rules, budget);
  for (const auto& tag : *tags->set()) {
    Pending pending(budget);
    executeFunction(tag, _trackingTagMap, pending);
  }
  setCurrentEventName(std::move(outerEvent));
}

TAGRuntime::Result TAGRuntime::evaluateMacroReference(const std::string& name) {
  TimeBudget budget = freshTimeBudget();
  Pending pending(budget);
  return evaluateMacroReferenceWithCycleDetection(name, pending);
}

TAGRuntime::TimeBudget TAGRuntime::freshTimeBudget() {
  return TimeBudget{
      platform::saturatingAdd(platform::Clock::shared()->monotonicNow(), kEvaluationTimeBudget)};
}

bool TAGRuntime::timeIsSpent(Pending& pending) {
  TimeBudget& budget = pending.timeBudget;
  if (platform::Clock::shared()->monotonicNow() < budget.deadline) return false;
  if (!budget.spentLogged) {
    budget.spentLogged = true;
    TAGLog::error(
        "Evaluation took longer than " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(kEvaluationTimeBudget).count()) +
        " ms: the predicates left are false and the macros left have no value");
  }
  pending.cut = true;
  return true;
}

std::shared_ptr<const TAGSetAndStatic> TAGRuntime::calculateTagsToRunForRules(
    const std::set<TAGRuleRef>& rules, TimeBudget& budget) {
  Pending pending(budget);
  return calculateGenericToRunForRules(rules, pending, TAGAddRemoveTagsPopulator());
}

std::shared_ptr<const TAGSetAndStatic> TAGRuntime::calculateMacrosToRunForRules(
    const std::set<TAGRuleRef>& rules, const TAGMacroInfo& info, Pending& pending) {
  return calculateGenericToRunForRules(
      rules, pending, TAGAddRemoveMacrosPopulator(info.addMacros(), info.removeMacros()));
}

std::shared_ptr<const TAGSetAndStatic> TAGRuntime::calculateGenericToRunForRules(
    const std::set<TAGRuleRef>& rules, Pending& pending,
    const TAGAddRemoveSetPopulator& populator) {
  TAGFunctionCallSet add;
  TAGFunctionCallSet remove;
  bool isStatic = true;
  for (const auto& rule : rules) {
    auto passed = evaluatePredicatesInRule(*rule, pending);
    if (passed->boolean()) populator.rulePassed(rule, add, remove);
    isStatic = isStatic && passed->isStatic();
  }
  auto selected = std::make_shared<TAGFunctionCallSet>();
  for (const auto& call : add) {
    if (remove.count(call) == 0) selected->insert(call);
  }
  return TAGSetAndStatic::setWithSet(std::move(selected), isStatic);
}

std::shared_ptr<const TAGBooleanAndStatic> TAGRuntime::evaluatePredicatesInRule(
    const TAGExpandedRule& rule, Pending& pending) {
  // A predicate met after the time is spent is false; the rule fails whichever side it is on,
  // so running out of time never fires a tag that a negative predicate would have held back.
  const auto outOfTime = [] { return TAGBooleanAndStatic::booleanWithBoolean(nullptr, false); };
  bool isStatic = true;
  for (const auto& predicate : rule.negativePredicates()) {
    if (timeIsSpent(pending)) return outOfTime();
    auto result = evaluatePredicate(predicate, pending);
    if (result->boolean()->boolValue()) {
      return TAGBooleanAndStatic::booleanWithBoolean(nullptr, result->isStatic());
    }
    isStatic = isStatic && result->isStatic();
  }
  for (const auto& predicate : rule.positivePredicates()) {
    if (timeIsSpent(pending)) return outOfTime();
    auto result = evaluatePredicate(predicate, pending);
    if (!result->boolean() || !result->boolean()->boolValue()) {
      return TAGBooleanAndStatic::booleanWithBoolean(nullptr, result->isStatic());
    }
    isStatic = isStatic && result->isStatic();
  }
  return TAGBooleanAndStatic::booleanWithBoolean(TAGBoolean::booleanWithBool(true), isStatic);
}

std::shared_ptr<const TAGBooleanAndStatic> TAGRuntime::evaluatePredicate(
    const std::shared_ptr<TAGExpandedFunctionCall>& predicate, Pending& pending) {
  Result result = executeFunction(predicate, _predicateMap, pending);
  return TAGBooleanAndStatic::booleanWithBoolean(TAGTypes::valueToBoolean(result->value()),
                                                 result->isStatic());
}

TAGRuntime::Result TAGRuntime::evaluateMacroReferenceWithCycleDetection(const std::string& name,
                                                                        Pending& pending) {
  if (auto cached = _macroEvaluationCache.objectForKey(name)) return *cached;
  auto infoEntry = _macroLookup.find(name);
  if (infoEntry == _macroLookup.end()) {
    TAGLog::error("Invalid macro: " + name);
    return defaultResult();
  }
  if (timeIsSpent(pending)) return defaultResult();
  const TAGMacroInfo& info = infoEntry->second;
  auto active = calculateMacrosToRunForRules(info.rules(), info, pending);
  // Rules cut short by the time chose nothing for sure: their choice is not taken.
  if (timeIsSpent(pending)) return defaultResult();
  std::shared_ptr<TAGExpandedFunctionCall> call;
  if (!active->set()->empty()) {
    if (active->set()->size() > 1) TAGLog::warning("Multiple macros active for macroName " + name);
    call = *active->set()->begin();
  } else {
    call = info.defaultFunctionCall();
  }
  if (!call) return defaultResult();

  Result result = executeFunction(call, _macroMap, pending);
  if (result != defaultResult()) {
    result = TAGPValueAndStatic::valueWithValue(result->value(),
                                                active->isStatic() && result->isStatic());
  }
  if (result->isStatic() && !pending.cut) {
    _macroEvaluationCache.setObject(
        name, result, platform::utf16Length(name) + result->value()->serializedSize());
  }
  return result;
}

TAGRuntime::Result TAGRuntime::expandMacrosForValue(const TAGPValue::Ref& value, Pending& pending) {
  if (!value->containsReferences()) return TAGPValueAndStatic::valueWithValue(value, true);
  if (pending.depth >= kMaxExpansionDepth) {
    TAGLog::error("Macro expansion deeper than " + std::to_string(kMaxExpansionDepth) +
                  " levels: " + describeNames(pending.macroNames));
    pending.cut = true;
    return defaultResult();
  }
  if (++pending.steps > kMaxExpansionSteps) {
    // Logged once: what is left of the evaluation fails at its first expansion.
    if (pending.steps == kMaxExpansionSteps + 1) {
      TAGLog::error("Macro expansion took more than " + std::to_string(kMaxExpansionSteps) +
                    " steps");
    }
    pending.cut = true;
    return defaultResult();
  }
  DepthScope depth(pending.depth);
  switch (value->type()) {
    case TAGPValue_Type::List:
      return expandListValue(value, pending);
    case TAGPValue_Type::Map:
      return expandMapValue(value, pending);
    case TAGPValue_Type::MacroReference:
      return expandMacroReferenceValue(value, pending);
    case TAGPValue_Type::Template:
      return expandTemplateValue(value, pending);
    default:
      TAGLog::error("Unknown type: " + std::to_string(static_cast<int>(value->type())));
      return defaultResult();
  }
}

TAGRuntime::Result TAGRuntime::expandListValue(const TAGPValue::Ref& value, Pending& pending) {
  TAGPValue::Builder builder = TAGResourceUtil::valueBuilderBasedOnValue(*value);
  for (const auto& item : value->listItemArray()) {
    Result expanded = expandMacrosForValue(item, pending);
    if (expanded == defaultResult()) return defaultResult();
    builder.addListItem(expanded->value());
  }
  return TAGPValueAndStatic::valueWithValue(builder.build(), false);
}

TAGRuntime::Result TAGRuntime::expandTemplateValue(const TAGPValue::Ref& value, Pending& pending) {
  TAGPValue::Builder builder = TAGResourceUtil::valueBuilderBasedOnValue(*value);
  for (const auto& token : value->templateTokenArray()) {
    Result expanded = expandMacrosForValue(token, pending);
    if (expanded == defaultResult()) return defaultResult();
    builder.addTemplateToken(expanded->value());
  }
  return TAGPValueAndStatic::valueWithValue(builder.build(), false);
}

TAGRuntime::Result TAGRuntime::expandMapValue(const TAGPValue::Ref& value, Pending& pending) {
  const auto& keys = value->mapKeyArray();
  const auto& values = value->mapValueArray();
  if (keys.size() != values.size()) {
    TAGLog::error("Invalid serving value" + value->description());
    return defaultResult();
  }
  TAGPValue::Builder builder = TAGResourceUtil::valueBuilderBasedOnValue(*value);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Result key = expandMacrosForValue(keys[i], pending);
    if (key == defaultResult()) return defaultResult();
    Result item = expandMacrosForValue(values[i], pending);
    if (item == defaultResult()) return defaultResult();
    builder.addMapKey(key->value()).addMapValue(item->value());
  }
  return TAGPValueAndStatic::valueWithValue(builder.build(), false);
}

TAGRuntime::Result TAGRuntime::expandMacroReferenceValue(const TAGPValue::Ref& value,
                                                         Pending& pending) {
  const std::string& name = value->macroReference();
  if (pending.macroNames.count(name) != 0) {
    TAGLog::error("Macro cycle detected.  Current macro reference: " + name +
                  ".  Previous macro reference: " + describeNames(pending.macroNames) + ".");
    return defaultResult();
  }
  pending.macroNames.insert(name);
  Result result = evaluateMacroReferenceWithCycleDetection(name, pending);
  pending.macroNames.erase(name);
  // A failed macro stays the failure, escaped or not, so the call that refers to it fails too.
  if (result == defaultResult()) return result;
  return TAGValueEscapeUtil::applyEscapings(value->escapingArray(), result);
}

TAGRuntime::Result TAGRuntime::executeFunction(const std::shared_ptr<TAGExpandedFunctionCall>& call,
                                               const TAGImplementationMap& implementationMap,
                                               Pending& pending) {
  TAGPValue::Ref function = call->propertyForKey(TAGExpandedFunctionCall::functionKey());
  if (!function) {
    TAGLog::error("No function id in properties");
    return defaultResult();
  }
  const std::string& functionId = function->functionId();
  auto implementationEntry = implementationMap.find(functionId);
  if (implementationEntry == implementationMap.end()) {
    TAGLog::error(functionId + " has no backing implementation.");
    return defaultResult();
  }
  TAGFunctionCallImplementation& implementation = *implementationEntry->second;
  if (auto cached = _functionCallCache.objectForKey(call)) return *cached;

  bool isStatic = true;
  TAGPropertyMap expanded;
  // A snapshot: other threads may write static expansions back into the call meanwhile.
  for (const auto& [key, value] : call->propertiesMap()) {
    Result result = expandMacrosForValue(value, pending);
    if (result == defaultResult()) return defaultResult();
    if (result->isStatic() && result->value() != value && !pending.cut) {
      call->updateCacheablePropertyWithValue(result->value(), key);
    }
    isStatic = isStatic && result->isStatic();
    expanded.emplace(key, result->value());
  }

  if (!implementation.hasRequiredKeys(keysOf(expanded))) {
    std::string required = implementation.requiredKeys()
                               ? describeNames(*implementation.requiredKeys())
                               : std::string("(null)");
    TAGLog::error("Incorrect keys for function " + functionId + " required " + required + " had " +
                  describeNames(keysOf(expanded)));
    return defaultResult();
  }

  isStatic = isStatic && implementation.isCacheable();
  TAGPValue::Ref value = implementation.evaluate(expanded);
  if (!value) value = TAGTypes::defaultValue();
  Result result = TAGPValueAndStatic::valueWithValue(std::move(value), isStatic);
  if (isStatic && !pending.cut) {
    _functionCallCache.setObject(call, result, result->value()->serializedSize());
  }
  return result;
}
