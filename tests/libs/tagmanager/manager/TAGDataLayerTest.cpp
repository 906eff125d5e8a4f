// The data layer: pushes merged into one model (dotted keys, dictionaries key by key, lists
// element by element), read back by paths as copies, listeners told of every update in push
// order, and a listener that keeps pushing stopped after 500 updates.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/foundation/Assert.h"
#include "tagmanager/manager/TAGDataLayer.h"

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

class RecordingListener : public TAGDataLayerListener {
 public:
  void changed(const Dictionary& update) override {
    updates.push_back(update);
    if (onChange) onChange(update);
  }
  std::vector<Dictionary> updates;
  std::function<void(const Dictionary&)> onChange;
};

Value list(std::initializer_list<Value> items) { return Value(Array(items)); }
Value map(std::initializer_list<std::pair<const std::string, Value>> entries) {
  return Value(Dictionary(entries));
}

TEST(TAGDataLayerTest, PushesMergeIntoTheModel) {
  struct Case {
    const char* what;
    std::vector<Dictionary> pushes;
    const char* path;
    Value expected;
  };
  const std::vector<Case> cases = {
      {"a dotted key then a dictionary merge key by key",
       {{{"a.b", Value(1)}}, {{"a", map({{"c", Value(2)}})}}},
       "a",
       map({{"b", Value(1)}, {"c", Value(2)}})},
      {"a shorter list leaves the tail",
       {{{"x", list({Value(1), Value(2), Value(3)})}}, {{"x", list({Value(9)})}}},
       "x",
       list({Value(9), Value(2), Value(3)})},
      {"a longer list is padded with nulls",
       {{{"x", list({Value(1)})}}, {{"x", list({Value(), Value(), Value(5)})}}},
       "x",
       list({Value(), Value(), Value(5)})},
      {"a dictionary replaces a scalar",
       {{{"x", Value(1)}}, {{"x", map({{"y", Value(2)}})}}},
       "x",
       map({{"y", Value(2)}})},
      {"a scalar replaces a dictionary",
       {{{"x", map({{"y", Value(2)}})}}, {{"x", Value(3)}}},
       "x",
       Value(3)},
      {"a list replaces a dictionary",
       {{{"x", map({{"y", Value(2)}})}}, {{"x", list({Value("a")})}}},
       "x",
       list({Value("a")})},
      {"lists of dictionaries merge element by element",
       {{{"p", list({map({{"id", Value(1)}, {"q", Value(2)}})})}},
        {{"p", list({map({{"q", Value(5)}}), map({{"id", Value(2)}})})}}},
       "p",
       list({map({{"id", Value(1)}, {"q", Value(5)}}), map({{"id", Value(2)}})})},
      {"nested lists merge too",
       {{{"m", list({list({Value(1), Value(2)})})}}, {{"m", list({list({Value(7)})})}}},
       "m",
       list({list({Value(7), Value(2)})})},
      {"an empty middle component is a key",
       {{{"a..b", Value(1)}}},
       "a",
       map({{"", map({{"b", Value(1)}})}})},
      {"null overwrites", {{{"x", Value(1)}}, {{"x", Value()}}}, "x", Value()},
  };
  for (const auto& c : cases) {
    TAGDataLayer dataLayer;
    for (const auto& update : c.pushes) dataLayer.push(update);
    EXPECT_EQ(dataLayer.get(c.path), c.expected) << c.what;
  }
}

TEST(TAGDataLayerTest, PathsReadThroughDictionariesOnly) {
  TAGDataLayer dataLayer;
  dataLayer.push(
      {{"n", Value()}, {"five", Value(5)}, {"a", map({{"b", map({{"c", Value("deep")}})}})}});
  EXPECT_EQ(dataLayer.get("a.b.c"), Value("deep"));
  EXPECT_EQ(dataLayer.get("n.y"), Value());  // null answers at once, steps left or not
  EXPECT_EQ(dataLayer.get("five.y"), std::nullopt);
  EXPECT_EQ(dataLayer.get("missing"), std::nullopt);
  EXPECT_EQ(dataLayer.get("a.missing.c"), std::nullopt);
  EXPECT_EQ(dataLayer.get(""), std::nullopt);
}

TEST(TAGDataLayerTest, ReadsAreCopiesThatCannotChangeTheModel) {
  TAGDataLayer dataLayer;
  dataLayer.push({{"a", map({{"list", list({Value(1)})}})}});
  std::optional<Value> read = dataLayer.get("a");
  ASSERT_TRUE(read && read->asDictionary());
  (*read->asDictionary())["list"] = Value("changed");
  (*read->asDictionary())["new"] = Value(1);
  EXPECT_EQ(dataLayer.get("a"), map({{"list", list({Value(1)})}}));

  // Neither do the caller's own containers stay linked to it.
  Dictionary update{{"b", list({Value(1)})}};
  dataLayer.push(update);
  update["b"].asArray()->push_back(Value(2));
  EXPECT_EQ(dataLayer.get("b"), list({Value(1)}));
}

TEST(TAGDataLayerTest, ListenersHearEveryUpdateAsPushed) {
  TAGDataLayer dataLayer;
  auto listener = std::make_shared<RecordingListener>();
  dataLayer.registerListener(listener);
  dataLayer.registerListener(listener);
  dataLayer.push({{"a.b", Value(1)}});
  dataLayer.push({});
  dataLayer.pushValue(Value("v"), "x.y");
  ASSERT_EQ(listener->updates.size(), 3u);
  EXPECT_EQ(listener->updates[0], (Dictionary{{"a.b", Value(1)}}));
  EXPECT_EQ(listener->updates[1], Dictionary{});
  EXPECT_EQ(listener->updates[2], (Dictionary{{"x", map({{"y", Value("v")}})}}));
  EXPECT_EQ(dataLayer.get("x.y"), Value("v"));

  dataLayer.unregisterListener(listener);
  dataLayer.push({{"c", Value(2)}});
  EXPECT_EQ(listener->updates.size(), 3u);
}

TEST(TAGDataLayerTest, PushesFromAListenerAreQueuedBehindTheCurrentUpdate) {
  TAGDataLayer dataLayer;
  auto first = std::make_shared<RecordingListener>();
  std::vector<std::string> order;
  first->onChange = [&](const Dictionary& update) {
    order.push_back(update.begin()->first);
    EXPECT_EQ(dataLayer.pushDepth(), 1);
    if (update.count("outer")) {
      dataLayer.push({{"inner1", Value(1)}});
      dataLayer.push({{"inner2", Value(2)}});
      // Queued, not yet merged.
      EXPECT_EQ(dataLayer.get("inner1"), std::nullopt);
    }
  };
  dataLayer.registerListener(first);
  dataLayer.push({{"outer", Value(0)}});
  EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner1", "inner2"}));
  EXPECT_EQ(dataLayer.pushDepth(), 0);
  EXPECT_EQ(dataLayer.get("inner2"), Value(2));
}

TEST(TAGDataLayerTest, AListenerThatKeepsPushingIsStoppedAfter500Updates) {
  for (int pushes : {499, 500, 1000}) {
    TAGDataLayer dataLayer;
    auto listener = std::make_shared<RecordingListener>();
    int pushed = 0;
    listener->onChange = [&](const Dictionary&) {
      if (pushed < pushes) dataLayer.push({{"n", Value(++pushed + 1)}});
    };
    dataLayer.registerListener(listener);
    std::string name;
    try {
      dataLayer.push({{"n", Value(1)}});
    } catch (const platform::Exception& e) {
      name = e.name() + ": " + e.reason();
    }
    if (pushes == 499) {
      // 500 updates in all drain normally.
      EXPECT_EQ(name, "") << pushes;
      EXPECT_EQ(dataLayer.get("n"), Value(500));
    } else {
      // The 501st update is processed, then the drain stops and the queue is emptied.
      EXPECT_EQ(name,
                "TAGListenerPushLoop: Seems like an infinite loop of pushing to the data layer?")
          << pushes;
      EXPECT_EQ(dataLayer.get("n"), Value(501)) << pushes;
      EXPECT_EQ(listener->updates.size(), 501u) << pushes;
    }
    EXPECT_EQ(dataLayer.pushDepth(), 0);
    // The data layer still works afterwards, and nothing of the old queue is left over.
    listener->onChange = nullptr;
    dataLayer.push({{"after", Value(true)}});
    EXPECT_EQ(dataLayer.get("after"), Value(true));
    EXPECT_LE(listener->updates.size(), 502u);
  }
}

TEST(TAGDataLayerTest, AListenerExceptionLeavesThroughPushAndTheMergeStays) {
  TAGDataLayer dataLayer;
  auto listener = std::make_shared<RecordingListener>();
  listener->onChange = [](const Dictionary&) { throw platform::Exception("Boom", "listener"); };
  dataLayer.registerListener(listener);
  EXPECT_THROW(dataLayer.push({{"kept", Value(1)}}), platform::Exception);
  EXPECT_EQ(dataLayer.get("kept"), Value(1));
  EXPECT_EQ(dataLayer.pushDepth(), 0);
}

TEST(TAGDataLayerTest, ThreadsPushAndReadWholeUpdates) {
  TAGDataLayer dataLayer;
  auto listener = std::make_shared<RecordingListener>();
  std::atomic<int> heard{0};
  listener->onChange = [&](const Dictionary&) { heard.fetch_add(1); };
  dataLayer.registerListener(listener);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&dataLayer, t] {
      for (int i = 0; i < 200; ++i) {
        // Both halves of one update always carry the same number.
        dataLayer.push({{"pair", map({{"left", Value(i)}, {"right", Value(i)}})},
                        {"t" + std::to_string(t), Value(i)}});
      }
    });
  }
  threads.emplace_back([&dataLayer] {
    for (int i = 0; i < 2000; ++i) {
      auto pair = dataLayer.get("pair");
      if (pair) {
        EXPECT_EQ((*pair)["left"], (*pair)["right"]);
      }
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(heard.load(), 800);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(dataLayer.get("t" + std::to_string(t)), Value(199));
}

TEST(TAGDataLayerTest, ExpandKeyBuildsNestedDictionaries) {
  EXPECT_EQ(TAGDataLayer::expandKey("a.b.c", Value("v")),
            (Dictionary{{"a", map({{"b", map({{"c", Value("v")}})}})}}));
  EXPECT_EQ(TAGDataLayer::expandKey("plain", Value(1)), (Dictionary{{"plain", Value(1)}}));
  EXPECT_EQ(TAGDataLayer::expandKey(".", Value(1)), (Dictionary{{"", map({{"", Value(1)}})}}));
}

}  // namespace
