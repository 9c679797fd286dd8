#include "json/json_cursor.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace host::json {
namespace {

// Skips one value and requires nothing but whitespace after it, the way a
// typed decoder reads a whole document.
std::expected<JsonKind, JsonError> skip_document(std::string_view text) {
  JsonCursor cursor(text);
  auto kind = cursor.skip_value();
  if (!kind) return kind;
  cursor.skip_whitespace();
  if (!cursor.at_end()) return std::unexpected(cursor.error_here(JsonErrorCategory::TrailingCharacters));
  return kind;
}

TEST(JsonCursor, ReadsStringsWithEscapesResolved) {
  JsonCursor cursor(R"( "plain" "a\u00e9\n\uD83D\uDE00" "")");
  cursor.skip_whitespace();
  EXPECT_EQ(cursor.peek(), '"');
  EXPECT_EQ(cursor.peek_kind(), JsonKind::String);
  EXPECT_EQ(cursor.read_string(), "plain");
  cursor.skip_whitespace();
  EXPECT_EQ(cursor.read_string(), "a\xC3\xA9\n\xF0\x9F\x98\x80");
  cursor.skip_whitespace();
  auto empty = cursor.read_string_view();
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, "");
  EXPECT_TRUE(cursor.at_end());
  EXPECT_EQ(cursor.peek(), std::nullopt);
  EXPECT_EQ(cursor.peek_kind(), std::nullopt);
}

TEST(JsonCursor, RefusesBadStringsLikeTheParser) {
  for (std::string_view text : {std::string_view("\"a\tb\""), std::string_view("\"\\x\""), std::string_view("\"\\uDE00\""),
                                std::string_view("\"\xC0\xAF\""), std::string_view("\"abc")}) {
    JsonCursor cursor(text);
    auto read = cursor.read_string();
    ASSERT_FALSE(read) << text;
    EXPECT_EQ(read.error(), parse_json(text).error()) << text;
  }
}

TEST(JsonCursor, SkipsEveryKindOfValueAndReportsItsKind) {
  struct Case {
    const char* text;
    JsonKind kind;
  };
  const Case cases[] = {
      {"null", JsonKind::Null},
      {"true", JsonKind::Bool},
      {"false", JsonKind::Bool},
      {"-12.5e3", JsonKind::Number},
      {"\"s\\n\"", JsonKind::String},
      {"[]", JsonKind::Array},
      {"[1, [2, {\"a\": [3]}], \"x\"]", JsonKind::Array},
      {" {} ", JsonKind::Object},
      {"{\"a\": {\"b\": [null, {}]}, \"c\": \"d\"}", JsonKind::Object},
  };
  for (const Case& c : cases) {
    JsonCursor cursor(c.text);
    auto kind = cursor.skip_value();
    ASSERT_TRUE(kind) << c.text << ": " << kind.error().describe();
    EXPECT_EQ(*kind, c.kind) << c.text;
  }
  // The cursor stops right after the value.
  JsonCursor cursor("[1,2] ,");
  ASSERT_TRUE(cursor.skip_value());
  EXPECT_EQ(cursor.offset(), 5u);
}

TEST(JsonCursor, SkippingChecksTheSameSyntaxAsTheParser) {
  // For every text, skipping accepts exactly what parse_json accepts and
  // reports the same fault at the same byte. (Depth and number range are
  // the two differences, tested on their own below.)
  const char* const texts[] = {
      "", " ", "[", "[1,", "[1", "{", "{\"a\"", "{\"a\":", "{\"a\":1", "\"abc", "tru", "-", "{} x", "{}{}", "1 2",
      "\xEF\xBB\xBF{}", "[1,]", "{\"a\":1,}", "[,1]", "[1,,2]", "{a:1}", "{1:1}", "{\"a\" 1}", "{\"a\":1 \"b\":2}",
      "[1 2]", "]", "{\"a\":1]", "[1}", "True", "nulL", "NaN", "+1", "01", "-01", ".5", "5.", "[5.]", "1e", "[1e]",
      "1.e5", "\"\\x\"", "\"\\uD83D\"", "\"\\uD83D\\u0041\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"",
      "[\"a\tb\"]", "{\"\xC0\x80\":1}", "[\"\\u12\"]", "{\"a\":[1,{\"b\":nul}]}", "[[[[[[[]]]]]]", "[{]}",
      "{\"a\":[}", "[\"x\",{\"y\":\"z\",}]", "{\"k\":{\"k\":{\"k\":1}}}", "[1,[2,[3,[4]]],{\"5\":[6]}]",
      " [ 1 , { \"a\" : [ ] } ] ", "[-0,1.5e-3,\"\\uD83D\\uDE00\",true,false,null]",
  };
  for (const char* text : texts) {
    const auto parsed = parse_json(text);
    const auto skipped = skip_document(text);
    ASSERT_EQ(skipped.has_value(), parsed.has_value()) << testing::PrintToString(std::string(text));
    if (!parsed) {
      EXPECT_EQ(skipped.error(), parsed.error())
          << testing::PrintToString(std::string(text)) << ": skip says " << skipped.error().describe()
          << ", parse says " << parsed.error().describe();
    } else {
      EXPECT_EQ(*skipped, parsed->kind()) << text;
    }
  }
}

TEST(JsonCursor, SkipsAnyDepthWithoutRecursing) {
  constexpr int depth = 1'000'000;
  std::string arrays(depth, '[');
  arrays.append(depth, ']');
  EXPECT_EQ(skip_document(arrays), JsonKind::Array);

  std::string objects;
  for (int i = 0; i < depth; ++i) objects += "{\"k\":";
  objects += "[1,\"s\"]";
  objects.append(depth, '}');
  EXPECT_EQ(skip_document(objects), JsonKind::Object);

  // Unbalanced at the bottom: the fault is found, not a crash.
  std::string unclosed(depth, '[');
  auto result = skip_document(unclosed);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().category, JsonErrorCategory::EofWhileParsingArray);
  EXPECT_EQ(result.error().offset, static_cast<std::size_t>(depth));
  std::string mismatched = arrays;
  mismatched[depth + 1] = '}';  // "[[...[]}...]"
  result = skip_document(mismatched);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().category, JsonErrorCategory::ExpectedArrayCommaOrEnd);
  EXPECT_EQ(result.error().offset, static_cast<std::size_t>(depth + 1));
}

TEST(JsonCursor, SkippingChecksNumberGrammarNotRange) {
  // A skipped number is never converted, so its magnitude cannot fail.
  EXPECT_EQ(skip_document("[1e309,-1e99999,18446744073709551616]"), JsonKind::Array);
  EXPECT_FALSE(skip_document("[1e309x]"));
}

}  // namespace
}  // namespace host::json
