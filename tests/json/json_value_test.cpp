#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "json/json.h"

namespace host::json {
namespace {

JsonValue float_value(double d) { return JsonValue(*JsonNumber::from_double(d)); }

TEST(JsonNumber, KeepsThreeRepresentations) {
  EXPECT_EQ(JsonNumber::from_unsigned(UINT64_MAX).as_u64(), UINT64_MAX);
  EXPECT_EQ(JsonNumber::from_unsigned(UINT64_MAX).as_i64(), std::nullopt);
  // A signed value >= 0 is unsigned; only values < 0 are negative.
  EXPECT_TRUE(JsonNumber::from_signed(0).is_unsigned());
  EXPECT_TRUE(JsonNumber::from_signed(INT64_MAX).is_unsigned());
  EXPECT_EQ(JsonNumber::from_signed(5), JsonNumber::from_unsigned(5));
  EXPECT_TRUE(JsonNumber::from_signed(-1).is_negative());
  EXPECT_EQ(JsonNumber::from_signed(INT64_MIN).as_i64(), INT64_MIN);
  EXPECT_EQ(JsonNumber::from_signed(INT64_MIN).as_u64(), std::nullopt);
  EXPECT_EQ(JsonNumber::from_double(2.5)->as_f64(), 2.5);
  EXPECT_EQ(JsonNumber::from_double(2.5)->as_i64(), std::nullopt);
  EXPECT_EQ(JsonNumber::from_signed(-3).to_double(), -3.0);
}

TEST(JsonNumber, RefusesNonFiniteFloats) {
  EXPECT_FALSE(JsonNumber::from_double(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(JsonNumber::from_double(-std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(JsonNumber::from_double(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_TRUE(JsonNumber::from_double(std::numeric_limits<double>::max()));
  EXPECT_TRUE(JsonNumber::from_double(std::numeric_limits<double>::denorm_min()));
}

TEST(JsonNumber, EqualityNeedsTheSameRepresentation) {
  EXPECT_NE(JsonNumber::from_unsigned(1), *JsonNumber::from_double(1.0));
  EXPECT_NE(JsonNumber::from_signed(-1), *JsonNumber::from_double(-1.0));
  EXPECT_EQ(*JsonNumber::from_double(0.0), *JsonNumber::from_double(-0.0));
  EXPECT_NE(*JsonNumber::from_double(0.1), *JsonNumber::from_double(0.2));
  EXPECT_NE(JsonNumber::from_unsigned(0), *JsonNumber::from_double(0.0));
}

TEST(JsonValue, ConstructsEachKindWithoutSurprises) {
  EXPECT_TRUE(JsonValue().is_null());
  EXPECT_TRUE(JsonValue(nullptr).is_null());
  EXPECT_EQ(JsonValue(true).kind(), JsonKind::Bool);
  // A string literal is a string, never a bool.
  EXPECT_EQ(JsonValue("text").kind(), JsonKind::String);
  EXPECT_EQ(JsonValue("").as_string(), "");
  EXPECT_EQ(JsonValue(std::string("s")).as_string(), "s");
  EXPECT_EQ(JsonValue(std::string_view("v")).as_string(), "v");
  // Integers keep their sign rule; the named factory takes any uint64_t.
  EXPECT_EQ(JsonValue(7).as_number(), JsonNumber::from_unsigned(7));
  EXPECT_EQ(JsonValue(-7).as_number(), JsonNumber::from_signed(-7));
  EXPECT_EQ(JsonValue(std::uint64_t{UINT64_MAX}).as_number(), JsonNumber::from_unsigned(UINT64_MAX));
  EXPECT_EQ(JsonValue::number(0).as_number(), JsonNumber::from_unsigned(0));
  EXPECT_EQ(JsonValue(JsonArray{1, "a", nullptr}).as_array()->size(), 3u);
  EXPECT_EQ(JsonValue(JsonMap{{"k", 1}}).get("k")->as_number(), JsonNumber::from_unsigned(1));
  // Neither a pointer nor a floating-point number converts silently.
  static_assert(!std::is_constructible_v<JsonValue, const int*>);
  static_assert(!std::is_constructible_v<JsonValue, double>);
  static_assert(!std::is_constructible_v<JsonValue, char>);
}

TEST(JsonValue, AccessorsAnswerOnlyForTheirKind) {
  const JsonValue s("x");
  EXPECT_EQ(s.as_bool(), std::nullopt);
  EXPECT_EQ(s.as_number(), std::nullopt);
  EXPECT_EQ(s.as_array(), nullptr);
  EXPECT_EQ(s.as_object(), nullptr);
  EXPECT_EQ(JsonValue(1).as_string(), std::nullopt);
  EXPECT_EQ(JsonValue().as_bool(), std::nullopt);
}

TEST(JsonValue, StringsKeepEveryByteAtEveryLength) {
  for (std::size_t n : {0, 1, 13, 14, 15, 16, 100, 70000}) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + i % 26));
    if (n > 2) text[1] = '\0';
    const JsonValue v(text);
    EXPECT_EQ(v.as_string(), text) << n;
    const JsonValue copy = v;
    EXPECT_EQ(copy.as_string(), text) << n;
  }
}

TEST(JsonValue, RepairsInvalidUtf8WhenBuilt) {
  // Strings are valid UTF-8 by construction, so the writers never emit an
  // invalid document.
  EXPECT_EQ(JsonValue("a\xFF" "b").as_string(), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(JsonValue("\xED\xA0\x80").as_string(), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(JsonValue("\xE2\x82").as_string(), "\xEF\xBF\xBD");  // cut short: one replacement
  EXPECT_EQ(JsonValue("ok \xC3\xA9").as_string(), "ok \xC3\xA9");
  JsonValue object;
  object.set("k\x80", JsonValue(1));
  EXPECT_NE(object.get("k\xEF\xBF\xBD"), nullptr);
}

// Values can outlive the memory a thread keeps for reuse: a thread-local
// object made before the thread's first long string is destroyed after
// that memory has been given back, and so are static objects at exit.
// Releasing a value then must free each of its blocks once, and nothing
// else.
// (Not on Windows: MinGW-w64 runs thread-local destructors after their
// storage is gone, so there the kept memory is left behind instead.)
#ifndef _WIN32
TEST(JsonValue, ValuesReleasedAfterTheirThreadsKeptMemoryAreFreedOnce) {
  struct Holder {
    JsonValue value;
  };
  std::thread([] {
    thread_local Holder holder;  // made first, so destroyed last
    holder.value = JsonMap{{"long", JsonValue(std::string(200000, 'h'))}, {"short", JsonValue(std::string(40, 's'))}};
    {
      // Their blocks are kept by the thread for reuse.
      const JsonValue dropped = JsonMap{{"long", JsonValue(std::string(70000, 'd'))}, {"short", JsonValue(std::string(40, 'd'))}};
    }
    EXPECT_EQ(holder.value.get("long")->as_string()->size(), 200000u);
  }).join();
}
#endif

TEST(JsonValue, GetFindsMembersByExactKey) {
  const JsonValue v = *parse_json(R"({"a":1,"A":2,"a ":3})");
  EXPECT_EQ(*v.get("a"), JsonValue(1));
  EXPECT_EQ(*v.get("A"), JsonValue(2));
  EXPECT_EQ(*v.get("a "), JsonValue(3));
  EXPECT_EQ(v.get("b"), nullptr);
  EXPECT_EQ(v.get(""), nullptr);
  EXPECT_EQ(JsonValue("a").get("a"), nullptr);
  EXPECT_EQ(JsonValue(JsonArray{1}).get("0"), nullptr);
  EXPECT_EQ(JsonValue().get("a"), nullptr);
}

TEST(JsonValue, SetTurnsNullIntoAnObjectAndReplacesMembers) {
  JsonValue v;
  EXPECT_TRUE(v.set("b", JsonValue(1)));
  EXPECT_TRUE(v.set("a", JsonValue("x")));
  EXPECT_TRUE(v.set("b", JsonValue(2)));
  EXPECT_EQ(to_json_bytes(v), R"({"a":"x","b":2})");
  JsonValue inner;
  inner.set("major", JsonValue::number(1));
  v.set("nested", std::move(inner));
  EXPECT_EQ(to_json_bytes(v), R"({"a":"x","b":2,"nested":{"major":1}})");
}

TEST(JsonValue, SetLeavesOtherKindsAlone) {
  for (JsonValue v : {JsonValue("s"), JsonValue(1), JsonValue(true), JsonValue(JsonArray{1})}) {
    const JsonValue before = v;
    EXPECT_FALSE(v.set("k", JsonValue(1)));
    EXPECT_EQ(v, before);
  }
}

TEST(JsonValue, CopiesAreDeepAndMovesLeaveNull) {
  JsonValue original = *parse_json(R"({"list":[1,{"deep":"a long string value here"}],"s":"short"})");
  JsonValue copy = original;
  copy.get("list")->as_array()->push_back(JsonValue(2));
  copy.get("list")->as_array()->at(1).set("deep", JsonValue("changed"));
  EXPECT_EQ(to_json_bytes(original), R"({"list":[1,{"deep":"a long string value here"}],"s":"short"})");
  EXPECT_EQ(to_json_bytes(copy), R"({"list":[1,{"deep":"changed"},2],"s":"short"})");

  JsonValue moved = std::move(copy);
  EXPECT_TRUE(copy.is_null());  // NOLINT(bugprone-use-after-move): documented state
  copy = moved;
  EXPECT_EQ(copy, moved);
  copy = copy;  // self-assignment keeps the value
  EXPECT_EQ(copy, moved);

  // A parsed object moved out of its value still works on its own.
  JsonMap members = std::move(*original.as_object());
  members.insert_or_assign("t", JsonValue(3));
  EXPECT_EQ(to_json_bytes(JsonValue(std::move(members))), R"({"list":[1,{"deep":"a long string value here"}],"s":"short","t":3})");
}

TEST(JsonValue, EqualityFollowsKindAndContent) {
  EXPECT_NE(JsonValue(1), float_value(1.0));
  EXPECT_EQ(float_value(0.0), float_value(-0.0));
  EXPECT_NE(*parse_json("[]"), *parse_json("{}"));
  EXPECT_NE(JsonValue(), JsonValue(false));
  EXPECT_NE(JsonValue(""), JsonValue());
  EXPECT_EQ(*parse_json(R"({"a":1,"b":[true,null]})"), *parse_json(R"({"b":[true,null],"a":1})"));
  EXPECT_NE(*parse_json(R"({"a":1})"), *parse_json(R"({"a":1,"b":2})"));
  EXPECT_NE(*parse_json(R"({"a":1})"), *parse_json(R"({"b":1})"));
  EXPECT_NE(*parse_json("[1,2]"), *parse_json("[2,1]"));
  EXPECT_NE(*parse_json("[1]"), *parse_json("[1,1]"));
  EXPECT_NE(JsonValue("a long string, longer than inline"), JsonValue("a long string, longer than inlinE"));
  // Objects built in different orders are equal.
  JsonValue one, two;
  one.set("x", JsonValue(1));
  one.set("y", JsonValue(2));
  two.set("y", JsonValue(2));
  two.set("x", JsonValue(1));
  EXPECT_EQ(one, two);
  EXPECT_EQ(one, *parse_json(R"({"y":2,"x":1})"));
}

TEST(JsonMap, IteratesInKeyByteOrderWithUniqueKeys) {
  JsonMap map{{"b", 1}, {"a", 2}, {"B", 3}, {"aa", 4}, {"\xC3\xA9", 5}, {"z", 6}, {"a", 7}};
  std::string order;
  for (const auto& [key, value] : map) order += std::string(key) + "=" + to_json_bytes(value) + " ";
  EXPECT_EQ(order, "B=3 a=7 aa=4 b=1 z=6 \xC3\xA9=5 ");
  EXPECT_EQ(map.size(), 6u);
  EXPECT_TRUE(map.contains("aa"));
  EXPECT_TRUE(map.erase("aa"));
  EXPECT_FALSE(map.erase("aa"));
  EXPECT_EQ(map.find("aa"), nullptr);
  map.insert_or_assign("0", JsonValue("first"));
  EXPECT_EQ((*map.begin()).key, "0");
  for (auto [key, value] : map) value = JsonValue(std::string(key));
  EXPECT_EQ(to_json_bytes(JsonValue(map)), "{\"0\":\"0\",\"B\":\"B\",\"a\":\"a\",\"b\":\"b\",\"z\":\"z\",\"\xC3\xA9\":\"\xC3\xA9\"}");
  map.clear();
  EXPECT_TRUE(map.empty());
}

TEST(JsonMap, StaysSortedUnderManyInsertionsAndRemovals) {
  JsonMap map;
  std::uint64_t state = 12345;
  for (int i = 0; i < 2000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const std::string key = std::string("k").append(std::to_string((state >> 33) % 500));
    if ((state >> 20) % 4 == 0) {
      map.erase(key);
    } else {
      map.insert_or_assign(key, JsonValue(i));
    }
  }
  std::string previous;
  bool first = true;
  for (const auto& entry : map) {
    if (!first) {
      EXPECT_LT(previous, std::string(entry.key));
    }
    previous = std::string(entry.key);
    first = false;
    EXPECT_EQ(map.find(entry.key), &entry.value);
  }
}

}  // namespace
}  // namespace host::json
