#pragma once
// TAGRuntime: evaluates one expanded container resource. It answers two questions: which tags
// fire for an event (`evaluateTags`), and what value a macro has now (`evaluateMacroReference`).
// Rules pass when none of their negative predicates holds and all of their positive ones do;
// a passed rule adds and removes tags and macro calls, and what any passed rule removes is never
// selected. A call's properties are expanded (macro references resolved, lists, maps and
// templates expanded) before its implementation runs. Results that cannot change while the
// runtime lives (static ones) are kept in two cost-limited caches, and a static expansion is
// written back into its call. Every failure answers the one shared `defaultResult()`, which
// callers recognise by identity; evaluation never throws for a bad resource or call.
//
// How an implementation plugs in: every tag, predicate and macro is a subclass of
// TAGFunctionCallImplementation with a function id ("_img", "_ua", ...), its required property
// keys, `isCacheable` (a tag answers false: it must fire on every event that selects it) and
// `evaluate`, which receives the call's properties with every macro reference already expanded
// (tags act as a side effect and answer TAGTypes::defaultValue()). The runtime registers the
// custom function call "_func", the 9 predicates and the 25 macros itself; the container passes
// any further tag implementations to `runtimeWithResource` as `trackingTags`, made for this
// runtime (a tag that needs the data layer is given it there). They are registered after "_func"
// in the order given, and an id already registered raises platform::Exception
// "IllegalArgumentException" ("Duplicate function type name: <id>"), as does an implementation
// without an id. A call whose function id has no implementation is logged and does nothing.
//
// Threads: any thread may evaluate. `evaluateTags` holds the runtime's (recursive) lock for its
// whole run, so two events never interleave and `currentEventName` is stable meanwhile;
// `evaluateMacroReference` takes no runtime lock: the caches, the event name and each call's
// properties guard themselves. Register implementations only before the runtime is shared.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "tagmanager/runtime/TAGAddRemoveSetPopulator.h"
#include "tagmanager/runtime/TAGCostLimitedCache.h"
#include "tagmanager/runtime/TAGCustomEvaluator.h"
#include "tagmanager/runtime/TAGExpandedResource.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/runtime/TAGMacroInfo.h"
#include "tagmanager/values/TAGBooleanAndStatic.h"
#include "tagmanager/values/TAGPValueAndStatic.h"
#include "tagmanager/values/TAGSetAndStatic.h"

class TAGDataLayer;

using TAGFunctionCallImplementationRef = std::shared_ptr<TAGFunctionCallImplementation>;
// Function id to implementation.
using TAGImplementationMap = std::map<std::string, TAGFunctionCallImplementationRef>;

class TAGRuntime : public std::enable_shared_from_this<TAGRuntime> {
 public:
  using Result = std::shared_ptr<const TAGPValueAndStatic>;
  using TrackingTags = std::vector<TAGFunctionCallImplementationRef>;

  // Each cache holds static results up to this total cost (serialised bytes of the values, plus
  // the name's UTF-16 length for macro values).
  static constexpr std::size_t kCacheCostLimit = 1 << 20;
  // How deep one evaluation may nest expansions (a macro reference, a list, map or template
  // level each count one). A chain of macros that refer to one another further than this
  // answers the default result instead of running the stack out.
  static constexpr std::size_t kMaxExpansionDepth = 200;
  // How many expansions one evaluation may make in all. Macros that are not constant are not
  // cached, so a container whose macros each refer to the next twice would otherwise take time
  // exponential in its depth; past this budget the evaluation answers the default result.
  static constexpr std::size_t kMaxExpansionSteps = 100000;
  // How long one evaluation (one event's rules and tags, or one macro's value) may take, on the
  // shared clock, all its predicates and macros together. A fetched container can make each
  // predicate slow (a regular expression that runs into its own time limit), and without a
  // bound the event would cost that once per predicate. Once the time is spent every predicate
  // still to be met fails its rule and every macro still to be worked out is the default
  // result; an honest container takes far less than a millisecond.
  static constexpr platform::Duration kEvaluationTimeBudget = std::chrono::milliseconds(250);

  // Null (after an error line) when `resource` is null. `dataLayer` feeds the "_v" macro; the two
  // evaluators run the application's macro and tag handlers for "_func" (null: "_func" answers
  // what a handler that answers nothing gives).
  static std::shared_ptr<TAGRuntime> runtimeWithResource(
      std::shared_ptr<const TAGExpandedResource> resource, std::shared_ptr<TAGDataLayer> dataLayer,
      std::shared_ptr<TAGCustomEvaluator> functionCallMacroEvaluator,
      std::shared_ptr<TAGCustomEvaluator> functionCallTagEvaluator,
      const TrackingTags& trackingTags = {});

  TAGRuntime(const TAGRuntime&) = delete;
  TAGRuntime& operator=(const TAGRuntime&) = delete;

  // Fires every tag the rules select for the event.
  void evaluateTags(const std::string& eventName) EXCLUDES(evaluationMutex_);
  // The macro's value now; `defaultResult()` on any failure, never null.
  Result evaluateMacroReference(const std::string& name);

  // The event being evaluated; none outside `evaluateTags`.
  std::optional<std::string> currentEventName() const EXCLUDES(eventNameMutex_);
  void setCurrentEventName(std::optional<std::string> name) EXCLUDES(eventNameMutex_);

  // The one result every failure answers (TAGTypes::defaultValue(), static).
  static const Result& defaultResult();

  const std::shared_ptr<const TAGExpandedResource>& resource() const { return _resource; }
  const std::set<TAGRuleRef>& rules() const { return _rules; }
  const TAGImplementationMap& trackingTagMap() const { return _trackingTagMap; }
  const TAGImplementationMap& predicateMap() const { return _predicateMap; }
  const TAGImplementationMap& macroMap() const { return _macroMap; }
  const TAGCostLimitedCache<std::shared_ptr<TAGExpandedFunctionCall>, Result>& functionCallCache()
      const {
    return _functionCallCache;
  }
  const TAGCostLimitedCache<std::string, Result>& macroEvaluationCache() const {
    return _macroEvaluationCache;
  }

  // Register one implementation in the matching map (only before the runtime is shared).
  void addMacro(TAGFunctionCallImplementationRef implementation);
  void addTrackingTag(TAGFunctionCallImplementationRef implementation);
  void addPredicate(TAGFunctionCallImplementationRef implementation);
  // Raises "IllegalArgumentException" for an implementation without an id or an id already in
  // `map`.
  static void addFunctionImplToDict(TAGImplementationMap& map,
                                    TAGFunctionCallImplementationRef implementation);
  // The text of the call's "instance_name" property.
  static std::string functionNameFromFunctionCall(const TAGExpandedFunctionCall& call);
  static TAGMacroInfo& addOrGetMacroInfoForKey(const std::string& name,
                                               std::map<std::string, TAGMacroInfo>& macroLookup);

 private:
  // The time one evaluation may still take, shared by every pending set made for it (an
  // event's rule choice and each of its tags); spending it is logged once.
  struct TimeBudget {
    platform::MonoTime deadline;
    bool spentLogged = false;
  };
  static TimeBudget freshTimeBudget();

  // What one evaluation carries down its recursion: the macro names being expanded (a name met
  // again is a cycle), how deep it has nested, how many expansions it has made, its time
  // budget, and whether it was cut off by one of the limits (then none of its results is cached
  // or written back: from a shallower start, or with time left, they may well differ).
  struct Pending {
    explicit Pending(TimeBudget& budget) : timeBudget(budget) {}
    std::set<std::string> macroNames;
    std::size_t depth = 0;
    std::size_t steps = 0;
    bool cut = false;
    TimeBudget& timeBudget;
  };
  // True once the evaluation's time is spent (logged the first time, and the evaluation cut).
  static bool timeIsSpent(Pending& pending);

  TAGRuntime(std::shared_ptr<const TAGExpandedResource> resource,
             std::shared_ptr<TAGDataLayer> dataLayer);
  void registerImplementations(std::shared_ptr<TAGCustomEvaluator> functionCallMacroEvaluator,
                               std::shared_ptr<TAGCustomEvaluator> functionCallTagEvaluator,
                               const TrackingTags& trackingTags);
  void buildMacroLookup();

  std::shared_ptr<const TAGSetAndStatic> calculateTagsToRunForRules(
      const std::set<TAGRuleRef>& rules, TimeBudget& budget);
  std::shared_ptr<const TAGSetAndStatic> calculateMacrosToRunForRules(
      const std::set<TAGRuleRef>& rules, const TAGMacroInfo& info, Pending& pending);
  std::shared_ptr<const TAGSetAndStatic> calculateGenericToRunForRules(
      const std::set<TAGRuleRef>& rules, Pending& pending,
      const TAGAddRemoveSetPopulator& populator);
  std::shared_ptr<const TAGBooleanAndStatic> evaluatePredicatesInRule(const TAGExpandedRule& rule,
                                                                      Pending& pending);
  std::shared_ptr<const TAGBooleanAndStatic> evaluatePredicate(
      const std::shared_ptr<TAGExpandedFunctionCall>& predicate, Pending& pending);
  Result evaluateMacroReferenceWithCycleDetection(const std::string& name, Pending& pending);

  Result expandMacrosForValue(const TAGPValue::Ref& value, Pending& pending);
  Result expandListValue(const TAGPValue::Ref& value, Pending& pending);
  Result expandMapValue(const TAGPValue::Ref& value, Pending& pending);
  Result expandMacroReferenceValue(const TAGPValue::Ref& value, Pending& pending);
  Result expandTemplateValue(const TAGPValue::Ref& value, Pending& pending);
  Result executeFunction(const std::shared_ptr<TAGExpandedFunctionCall>& call,
                         const TAGImplementationMap& implementationMap, Pending& pending);

  // Set at creation, read-only afterwards.
  const std::shared_ptr<const TAGExpandedResource> _resource;
  const std::shared_ptr<TAGDataLayer> dataLayer_;
  const std::set<TAGRuleRef> _rules;
  TAGImplementationMap _trackingTagMap;
  TAGImplementationMap _predicateMap;
  TAGImplementationMap _macroMap;
  std::map<std::string, TAGMacroInfo> _macroLookup;

  // Guard themselves.
  TAGCostLimitedCache<std::shared_ptr<TAGExpandedFunctionCall>, Result> _functionCallCache{
      kCacheCostLimit};
  TAGCostLimitedCache<std::string, Result> _macroEvaluationCache{kCacheCostLimit};

  // Held for the whole of `evaluateTags`; a tag that pushes an event from inside may re-enter.
  platform::RecursiveMutex evaluationMutex_;

  mutable platform::Mutex eventNameMutex_;
  std::optional<std::string> _currentEventName GUARDED_BY(eventNameMutex_);
};
