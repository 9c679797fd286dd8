#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>

#include "json/json.h"

namespace host::json {
namespace {

std::string round_trip(std::string_view text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value) << text << ": " << value.error().describe();
  return value ? to_json_bytes(*value) : std::string("<parse failed>");
}

JsonValue float_value(double d) { return JsonValue(*JsonNumber::from_double(d)); }

TEST(JsonCompactForm, SortsMembersAndDropsWhitespace) {
  EXPECT_EQ(round_trip(R"({"b":1,"a":2})"), R"({"a":2,"b":1})");
  EXPECT_EQ(round_trip(R"({"a":1,"B":2})"), R"({"B":2,"a":1})");
  EXPECT_EQ(round_trip(" { \"z\" : [ 1 , { } , [ ] ] ,\n\t\"a\" : null } "), R"({"a":null,"z":[1,{},[]]})");
  // Unsigned byte order, a prefix first: "a" < "aa" < "b" < "z" < "é".
  EXPECT_EQ(round_trip("{\"\xC3\xA9\":5,\"z\":4,\"b\":3,\"aa\":2,\"a\":1,\"\":0}"),
            "{\"\":0,\"a\":1,\"aa\":2,\"b\":3,\"z\":4,\"\xC3\xA9\":5}");
  EXPECT_EQ(round_trip("[true,false,null]"), "[true,false,null]");
}

TEST(JsonCompactForm, WritesNumbersInTheirRepresentation) {
  EXPECT_EQ(round_trip("[1.0,1e2,-0,10000000000000000000000,18446744073709551616]"),
            "[1.0,100.0,-0.0,1e+22,1.8446744073709552e+19]");
  EXPECT_EQ(round_trip("[18446744073709551615,-9223372036854775808]"), "[18446744073709551615,-9223372036854775808]");
  EXPECT_EQ(round_trip("[0,7,-7,10,-10,1234567890]"), "[0,7,-7,10,-10,1234567890]");
  EXPECT_EQ(round_trip("1e-400"), "0.0");
  EXPECT_EQ(round_trip("-1e-400"), "-0.0");
  EXPECT_EQ(to_json_bytes(JsonValue(JsonNumber::from_signed(INT64_MIN))), "-9223372036854775808");
  EXPECT_EQ(to_json_bytes(JsonValue::number(UINT64_MAX)), "18446744073709551615");
}

TEST(JsonCompactForm, WritesFloatsInShortestPlainOrScientificForm) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {100.0, "100.0"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {123456789012345.6, "123456789012345.6"},
      {1234567890123456.7, "1234567890123456.8"},  // E = 15: still plain
      {12345678901234567.0, "1.2345678901234568e+16"},
      {123.456, "123.456"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {0.5, "0.5"},
      {0.00001, "0.00001"},
      {0.000012345, "0.000012345"},
      {0.000001, "1e-6"},
      {0.0000025, "2.5e-6"},
      {2.5e-7, "2.5e-7"},
      {1.5e300, "1.5e+300"},
      {1e100, "1e+100"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {-1.7976931348623157e308, "-1.7976931348623157e+308"},
      {9007199254740993.0, "9007199254740992.0"},
      {0.30000000000000004, "0.30000000000000004"},
      {1.0 / 3.0, "0.3333333333333333"},
      {-1e-5, "-0.00001"},
      {1e21, "1e+21"},
      {1e22, "1e+22"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_json_bytes(float_value(c.value)), c.text) << c.text;
}

TEST(JsonCompactForm, FloatsReadBackBitForBit) {
  std::mt19937_64 random(20240611);
  std::string text = "[";
  std::vector<double> values;
  const auto add = [&](double d) {
    if (!std::isfinite(d)) return;
    values.push_back(d);
    text += to_json_bytes(float_value(d));
    text += ',';
  };
  for (int i = 0; i < 20000; ++i) {
    add(std::bit_cast<double>(random()));                       // any bit pattern: all exponents, subnormals
    add(std::uniform_real_distribution<double>(-1e6, 1e6)(random));  // everyday magnitudes
    add(std::ldexp(static_cast<double>(random() >> 11), -53));     // [0, 1), full precision
  }
  for (double d : {std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                   std::numeric_limits<double>::max(), std::numeric_limits<double>::epsilon(), 1e-5, 1e-6, 1e15,
                   1e16, 9.999999999999999e14, 9.999999999999999e15, 0.1, 0.2, 0.3}) {
    add(d);
    add(-d);
  }
  text.back() = ']';
  auto parsed = parse_json(text);
  ASSERT_TRUE(parsed) << parsed.error().describe();
  const JsonArray& back = *parsed->as_array();
  ASSERT_EQ(back.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto n = back[i].as_number();
    ASSERT_TRUE(n && n->is_float()) << i;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*n->as_f64()), std::bit_cast<std::uint64_t>(values[i]))
        << "written " << to_json_bytes(float_value(values[i]));
  }
  // And the text is stable: writing the parsed values again gives it back.
  EXPECT_EQ(to_json_bytes(*parsed), text);
}

TEST(JsonCompactForm, EscapesOnlyQuoteBackslashAndControlBytes) {
  EXPECT_EQ(round_trip(R"("\u00e9")"), "\"\xC3\xA9\"");
  EXPECT_EQ(round_trip(R"("a\/b")"), R"("a/b")");
  EXPECT_EQ(round_trip(R"("\t")"), R"("\t")");
  EXPECT_EQ(round_trip(R"("\u001f")"), R"("\u001f")");
  EXPECT_EQ(round_trip(R"("\uD83D\uDE00")"), "\"\xF0\x9F\x98\x80\"");
  EXPECT_EQ(round_trip(R"("\u007f\u0080")"), "\"\x7F\xC2\x80\"");
  // Every byte below 0x20, in short or \u00xx form.
  std::string all;
  for (int c = 0; c < 0x20; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(to_json_bytes(JsonValue(all)),
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\"");
  EXPECT_EQ(to_json_bytes(JsonValue("say \"hi\" \\ bye")), R"("say \"hi\" \\ bye")");
}

TEST(JsonCompactForm, StringsOfEveryLengthAndEscapePosition) {
  // Around the inline limit and the 16-byte scan blocks, with the escaped
  // byte at each position, in keys and in values.
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::string raw(length, 'x');
      std::string expected(length, 'x');
      if (at < length) {
        raw[at] = '"';
        expected.replace(at, 1, "\\\"");
      }
      JsonValue object;
      object.set(raw, JsonValue(raw));
      ASSERT_EQ(to_json_bytes(object), "{\"" + expected + "\":\"" + expected + "\"}") << length << " " << at;
      ASSERT_EQ(to_json_bytes(*parse_json(to_json_bytes(object))), to_json_bytes(object)) << length << " " << at;
    }
  }
}

TEST(JsonCompactForm, LargeDocumentsSurviveARoundTrip) {
  std::string text = "{\"items\":[";
  for (int i = 0; i < 3000; ++i) {
    if (i) text += ',';
    const std::string n = std::to_string(i);
    text.append("{\"id\":").append(n).append(",\"name\":\"item \\\"").append(n);
    text.append("\\\" \xE6\x97\xA5\xE6\x9C\xAC\",\"ratio\":").append(n).append(".25,\"tags\":[\"a\",\"b\\n\"],\"x\":null}");
  }
  text += "]}";
  const std::string once = round_trip(text);
  EXPECT_EQ(once, text);  // already in compact, sorted form
  EXPECT_EQ(round_trip(once), once);
}

TEST(JsonCompactForm, LongTextsAreWrittenAsAnAppendWritesThem) {
  // Texts beyond a working buffer's size, with the parts that grow most
  // when written (escaped controls, long floats) in many small strings and
  // in one long one, before and after the point where they outgrow it.
  for (const std::size_t count : {100, 3000, 20000}) {
    JsonArray items;
    std::string long_string;
    for (std::size_t i = 0; i < count; ++i) {
      items.emplace_back(std::string("\x01\x1F\"") + std::to_string(i));
      items.emplace_back(*JsonNumber::from_double(-1.2345678901234567e-300 * static_cast<double>(i + 1)));
      items.emplace_back(JsonNumber::from_signed(INT64_MIN + static_cast<std::int64_t>(i)));
      long_string += "\x02\\\n";
    }
    JsonValue value = JsonMap{{"items", JsonValue(std::move(items))}, {"long", JsonValue(long_string)}};
    std::string appended = "prefix";
    append_json_bytes(appended, value);
    const std::string written = to_json_bytes(value);
    EXPECT_EQ("prefix" + written, appended) << count;
    auto back = parse_json(written);
    ASSERT_TRUE(back) << back.error().describe();
    EXPECT_EQ(*back, value) << count;
  }
}

// A long text goes straight into its result, sized beforehand. Where that
// size undercounts the escapes, the result grows on the way (to about twice
// its size); where it overcounts, the result keeps room it never uses.
// Each string below is made of bytes whose escapes the size counts exactly,
// so the result must fit it to within the writer's fixed margin.
TEST(JsonCompactForm, LongTextsAreSizedExactlyWhetherParsedOrBuilt) {
  constexpr std::size_t kMargin = 64;
  constexpr std::size_t n = 70000;
  const auto repeat = [](std::string_view piece, std::size_t times) {
    std::string s;
    for (std::size_t i = 0; i < times; ++i) s += piece;
    return s;
  };
  struct Case {
    const char* name;
    std::string content;
    std::string json;  // the string as a document, in the compact form
    std::string read;  // another document with the same content
  };
  const Case cases[] = {
      {"plain", repeat("a", n), '"' + repeat("a", n) + '"', ""},
      {"quotes and backslashes", repeat("\"x\\", n / 3), '"' + repeat("\\\"x\\\\", n / 3) + '"',
       '"' + repeat("\\u0022x\\u005C", n / 3) + '"'},
      {"escapes of bytes written as they are", repeat("/\xC3\xA9\"", n / 3), '"' + repeat("/\xC3\xA9\\\"", n / 3) + '"',
       '"' + repeat("\\/\\u00e9\\\"", n / 3) + '"'},
      {"control bytes", repeat("\x01" "b\x1F", n / 3), '"' + repeat("\\u0001b\\u001f", n / 3) + '"', ""},
      {"escapes after a long plain run", repeat("c", n) + repeat("\"", n), '"' + repeat("c", n) + repeat("\\\"", n) + '"',
       ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    for (const std::string& document : {c.json, c.read}) {
      if (document.empty()) continue;
      auto parsed = parse_json(document);
      ASSERT_TRUE(parsed) << c.name << ": " << parsed.error().describe();
      ASSERT_TRUE(parsed->as_string() == std::string_view(c.content)) << c.name;
      const std::string written = to_json_bytes(*parsed);
      EXPECT_TRUE(written == c.json) << c.name;
      EXPECT_LE(written.capacity(), written.size() + kMargin) << c.name;
    }
    // The next case's content, built from its bytes, mostly on storage that
    // this case's parsed string used before: what was known of that string
    // must not carry over.
    const Case& next = cases[(i + 1) % std::size(cases)];
    const JsonValue built(next.content);
    const std::string written = to_json_bytes(built);
    EXPECT_TRUE(written == next.json) << next.name;
    EXPECT_LE(written.capacity(), written.size() + kMargin) << next.name;
  }
}

TEST(JsonAppendForm, ComposesIntoAnExistingBuffer) {
  std::string out = "prefix:";
  append_json_bytes(out, *parse_json(R"({"b":[1,2],"a":"x"})"));
  out += '|';
  append_pretty_json_bytes(out, *parse_json("[1]"));
  EXPECT_EQ(out, "prefix:{\"a\":\"x\",\"b\":[1,2]}|[\n  1\n]");
  std::string big;
  for (int i = 0; i < 100; ++i) append_json_bytes(big, JsonValue(std::string(1000, 'a' + i % 26)));
  EXPECT_EQ(big.size(), 100u * 1002u);
  EXPECT_EQ(big.substr(1002, 3), "\"bb");
}

TEST(JsonPrettyForm, IndentsTwoSpacesPerLevel) {
  EXPECT_EQ(to_pretty_json_bytes(*parse_json(R"({"b":[1,{}],"a":"x"})")),
            "{\n  \"a\": \"x\",\n  \"b\": [\n    1,\n    {}\n  ]\n}");
  EXPECT_EQ(to_pretty_json_bytes(*parse_json("[]")), "[]");
  EXPECT_EQ(to_pretty_json_bytes(*parse_json("{}")), "{}");
  EXPECT_EQ(to_pretty_json_bytes(*parse_json("\"s\\n\"")), "\"s\\n\"");
  EXPECT_EQ(to_pretty_json_bytes(*parse_json("[[[]],[{\"k\":[null]}],-0.0,1e16]")),
            "[\n  [\n    []\n  ],\n  [\n    {\n      \"k\": [\n        null\n      ]\n    }\n  ],\n  -0.0,\n  1e+16\n]");
}

TEST(JsonPrettyForm, ReadsBackToTheSameValue) {
  const std::string text =
      R"({"name":"com.example.host","path":"C:\\Program Files\\host.exe","allowed_origins":["chrome-extension://abc/"],"type":"stdio","n":{"a":[1,2.5,-3,true,false,null,{}]}})";
  const JsonValue value = *parse_json(text);
  const std::string pretty = to_pretty_json_bytes(value);
  EXPECT_EQ(pretty.find('\r'), std::string::npos);
  EXPECT_NE(pretty.back(), '\n');
  EXPECT_EQ(*parse_json(pretty), value);
}

}  // namespace
}  // namespace host::json
