#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <ostream>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "json/json.h"

namespace host::json {
namespace {

std::string compact(std::string_view text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value) << "parse of " << text << ": " << value.error().describe();
  return value ? to_json_bytes(*value) : std::string("<parse failed>");
}

JsonNumber number_of(std::string_view text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value) << text << ": " << value.error().describe();
  if (!value || !value->as_number()) {
    ADD_FAILURE() << text << " is not a number";
    return {};
  }
  return *value->as_number();
}

std::string nested(int depth, std::string_view open, std::string_view inner, std::string_view close) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  text += inner;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(JsonParse, AcceptsEveryKindOfValueAtTheTopLevel) {
  EXPECT_EQ(parse_json("null")->kind(), JsonKind::Null);
  EXPECT_EQ(parse_json("true")->as_bool(), true);
  EXPECT_EQ(parse_json("false")->as_bool(), false);
  EXPECT_EQ(parse_json("12")->as_number(), JsonNumber::from_unsigned(12));
  EXPECT_EQ(parse_json("\"x\"")->as_string(), "x");
  EXPECT_EQ(parse_json("[]")->as_array()->size(), 0u);
  EXPECT_EQ(parse_json("{}")->as_object()->size(), 0u);
}

TEST(JsonParse, BuildsNestedDocuments) {
  auto value = parse_json(R"( {"list": [1, -2, 3.5, "s", true, null, {"k": []}], "o": {"p": {"q": "deep"}}} )");
  ASSERT_TRUE(value) << value.error().describe();
  const JsonArray* list = value->get("list")->as_array();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->size(), 7u);
  EXPECT_EQ((*list)[0], JsonValue(1));
  EXPECT_EQ((*list)[1], JsonValue(-2));
  EXPECT_EQ((*list)[2], JsonValue(*JsonNumber::from_double(3.5)));
  EXPECT_EQ((*list)[3], JsonValue("s"));
  EXPECT_EQ((*list)[4], JsonValue(true));
  EXPECT_TRUE((*list)[5].is_null());
  EXPECT_EQ((*list)[6].get("k")->as_array()->size(), 0u);
  EXPECT_EQ(value->get("o")->get("p")->get("q")->as_string(), "deep");
}

TEST(JsonParse, WhitespaceIsExactlySpaceTabLineFeedAndCarriageReturn) {
  EXPECT_EQ(compact("  {} \r\n"), "{}");
  EXPECT_EQ(compact("\t[ 1 ,\n2\r]\t"), "[1,2]");
  EXPECT_EQ(compact(" { \"a\" \t:\n 1 } "), "{\"a\":1}");
  // Form feed, vertical tab, NUL and a no-break space are not whitespace.
  for (std::string_view text : {std::string_view("\f{}"), std::string_view("{}\v"), std::string_view("{}\0", 3),
                                std::string_view("\xC2\xA0{}")}) {
    EXPECT_FALSE(parse_json(text)) << testing::PrintToString(std::string(text));
  }
}

struct Refusal {
  std::string text;
  JsonErrorCategory category;
  std::size_t offset;

  // Names the case in test listings by its expected fault, in characters
  // that are safe in a test name.
  friend void PrintTo(const Refusal& r, std::ostream* out) {
    for (char c : JsonError{r.category, r.offset}.describe()) *out << (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  }
};

// Each text is refused with the given fault at the given byte.
class JsonParseRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(JsonParseRefuses, WithTheFaultAndItsPosition) {
  const Refusal& r = GetParam();
  auto value = parse_json(r.text);
  ASSERT_FALSE(value) << testing::PrintToString(r.text) << " parsed as " << to_json_bytes(*value);
  EXPECT_EQ(value.error().category, r.category) << testing::PrintToString(r.text) << ": " << value.error().describe();
  EXPECT_EQ(value.error().offset, r.offset) << testing::PrintToString(r.text) << ": " << value.error().describe();
}

using C = JsonErrorCategory;

INSTANTIATE_TEST_SUITE_P(
    Grammar, JsonParseRefuses,
    testing::Values(
        // End of input, empty input, whitespace alone.
        Refusal{"", C::EofWhileParsingValue, 0}, Refusal{" \t\r\n", C::EofWhileParsingValue, 4},
        Refusal{"[", C::EofWhileParsingArray, 1}, Refusal{"[1,", C::EofWhileParsingArray, 3},
        Refusal{"[1", C::EofWhileParsingArray, 2}, Refusal{"{", C::EofWhileParsingObject, 1},
        Refusal{"{\"a\"", C::EofWhileParsingObject, 4}, Refusal{"{\"a\":", C::EofWhileParsingObject, 5},
        Refusal{"{\"a\":1", C::EofWhileParsingObject, 6}, Refusal{"\"abc", C::EofWhileParsingString, 4},
        Refusal{"tru", C::EofWhileParsingValue, 3}, Refusal{"-", C::EofWhileParsingValue, 1},
        // Trailing bytes after the value.
        Refusal{"{} x", C::TrailingCharacters, 3}, Refusal{"{}{}", C::TrailingCharacters, 2},
        Refusal{"1 2", C::TrailingCharacters, 2}, Refusal{"truex", C::TrailingCharacters, 4},
        Refusal{"\"a\"\"b\"", C::TrailingCharacters, 3},
        // A byte-order mark, comments, trailing commas, quoting, keys.
        Refusal{"\xEF\xBB\xBF{}", C::ExpectedValue, 0}, Refusal{"// c\n{}", C::ExpectedValue, 0},
        Refusal{"[1 /* c */]", C::ExpectedArrayCommaOrEnd, 3}, Refusal{"[1,]", C::TrailingComma, 3},
        Refusal{"{\"a\":1,}", C::TrailingComma, 7}, Refusal{"[,1]", C::ExpectedValue, 1},
        Refusal{"[1,,2]", C::ExpectedValue, 3}, Refusal{"['a']", C::ExpectedValue, 1},
        Refusal{"{a:1}", C::KeyMustBeString, 1}, Refusal{"{1:1}", C::KeyMustBeString, 1},
        Refusal{"{\"a\" 1}", C::ExpectedColon, 5}, Refusal{"{\"a\":1 \"b\":2}", C::ExpectedObjectCommaOrEnd, 7},
        Refusal{"[1 2]", C::ExpectedArrayCommaOrEnd, 3}, Refusal{"]", C::ExpectedValue, 0},
        Refusal{"{\"a\":1]", C::ExpectedObjectCommaOrEnd, 6}, Refusal{"[1}", C::ExpectedArrayCommaOrEnd, 2},
        // Literals in other spellings.
        Refusal{"True", C::ExpectedValue, 0}, Refusal{"nul", C::EofWhileParsingValue, 3},
        Refusal{"nulL", C::InvalidLiteral, 3}, Refusal{"fals", C::EofWhileParsingValue, 4},
        Refusal{"NaN", C::ExpectedValue, 0}, Refusal{"Infinity", C::ExpectedValue, 0},
        Refusal{"-Infinity", C::InvalidNumber, 1},
        // Number grammar.
        Refusal{"+1", C::ExpectedValue, 0}, Refusal{"01", C::InvalidNumber, 1}, Refusal{"-01", C::InvalidNumber, 2},
        Refusal{"00", C::InvalidNumber, 1}, Refusal{".5", C::ExpectedValue, 0}, Refusal{"5.", C::EofWhileParsingValue, 2},
        Refusal{"[5.]", C::InvalidNumber, 3}, Refusal{"1e", C::EofWhileParsingValue, 2},
        Refusal{"1e+", C::EofWhileParsingValue, 3}, Refusal{"[1e]", C::InvalidNumber, 3},
        Refusal{"1.e5", C::InvalidNumber, 2}, Refusal{"0x10", C::TrailingCharacters, 1},
        Refusal{"- 1", C::InvalidNumber, 1},
        // Range.
        Refusal{"1e309", C::NumberOutOfRange, 0}, Refusal{"[-1e309]", C::NumberOutOfRange, 1},
        Refusal{"1.8e308", C::NumberOutOfRange, 0}, Refusal{"1e99999999999999999999", C::NumberOutOfRange, 0},
        Refusal{"123456789012345678901234567890e300", C::NumberOutOfRange, 0}));

INSTANTIATE_TEST_SUITE_P(
    Strings, JsonParseRefuses,
    testing::Values(
        // Raw control bytes.
        Refusal{"\"a\tb\"", C::ControlCharacterInString, 2}, Refusal{std::string("\"\0\"", 3), C::ControlCharacterInString, 1},
        Refusal{"\"\n\"", C::ControlCharacterInString, 1}, Refusal{"\"\x1F\"", C::ControlCharacterInString, 1},
        Refusal{"[\"0123456789abcdefghij\x01\"]", C::ControlCharacterInString, 22},
        // Escapes.
        Refusal{"\"\\x\"", C::InvalidEscape, 2}, Refusal{"\"\\'\"", C::InvalidEscape, 2},
        Refusal{"\"\\U0041\"", C::InvalidEscape, 2}, Refusal{"\"\\", C::EofWhileParsingString, 2},
        Refusal{"\"\\u12\"", C::InvalidUnicodeEscape, 5}, Refusal{"\"\\u12", C::EofWhileParsingString, 5},
        Refusal{"\"\\u00g0\"", C::InvalidUnicodeEscape, 5},
        // Surrogates: a high one alone, followed by text, by another
        // escape, by a second high one; a low one alone.
        Refusal{"\"\\uD83D\"", C::LoneSurrogate, 1}, Refusal{"\"\\uD83Dx\"", C::LoneSurrogate, 1},
        Refusal{"\"\\uD83D\\n\"", C::LoneSurrogate, 1}, Refusal{"\"\\uD83D\\uD83D\"", C::LoneSurrogate, 7},
        Refusal{"\"\\uD83D\\u0041\"", C::LoneSurrogate, 7}, Refusal{"\"\\uDE00\"", C::LoneSurrogate, 1},
        Refusal{"\"\\uDE00\\uD83D\"", C::LoneSurrogate, 1}, Refusal{"\"\\uD83D", C::EofWhileParsingString, 7},
        Refusal{"\"\\uD83D\\", C::EofWhileParsingString, 8}, Refusal{"\"\\uD83D\\uDE0", C::EofWhileParsingString, 12},
        // Ill-formed UTF-8: stray continuation, lead bytes that never
        // start a sequence, overlong forms, encoded surrogates, code points
        // beyond U+10FFFF, sequences cut short by the quote or the input.
        Refusal{"\"\x80\"", C::InvalidUtf8, 1}, Refusal{"\"a\xBF\"", C::InvalidUtf8, 2},
        Refusal{"\"\xC0\xAF\"", C::InvalidUtf8, 1}, Refusal{"\"\xC1\xBF\"", C::InvalidUtf8, 1},
        Refusal{"\"\xE0\x80\xAF\"", C::InvalidUtf8, 1}, Refusal{"\"\xE0\x9F\xBF\"", C::InvalidUtf8, 1},
        Refusal{"\"\xF0\x80\x80\xAF\"", C::InvalidUtf8, 1}, Refusal{"\"\xF0\x8F\xBF\xBF\"", C::InvalidUtf8, 1},
        Refusal{"\"\xED\xA0\x80\"", C::InvalidUtf8, 1}, Refusal{"\"\xED\xBF\xBF\"", C::InvalidUtf8, 1},
        Refusal{"\"\xF4\x90\x80\x80\"", C::InvalidUtf8, 1}, Refusal{"\"\xF5\x80\x80\x80\"", C::InvalidUtf8, 1},
        Refusal{"\"\xFF\"", C::InvalidUtf8, 1}, Refusal{"\"\xFE\"", C::InvalidUtf8, 1},
        Refusal{"\"\xC3\"", C::InvalidUtf8, 1}, Refusal{"\"\xE2\x82\"", C::InvalidUtf8, 1},
        Refusal{"\"\xF0\x9F\x98\"", C::InvalidUtf8, 1}, Refusal{"\"\xC3x\"", C::InvalidUtf8, 1},
        Refusal{"\"\xE2\x82", C::EofWhileParsingString, 3},
        // The same faults after an escape, on the decoding path.
        Refusal{"\"\\n\x80\"", C::InvalidUtf8, 3}, Refusal{"\"\\n\xED\xA0\x80\"", C::InvalidUtf8, 3},
        Refusal{"\"\\n0123456789abcdefghij\x01\"", C::ControlCharacterInString, 23},
        Refusal{"\"\\n0123456789abcdefghij", C::EofWhileParsingString, 23},
        // Inside a key, too.
        Refusal{"{\"\xC0\x80\":1}", C::InvalidUtf8, 2}));

TEST(JsonParse, ValidUtf8OfEveryLengthIsKeptByteForByte) {
  const std::string text =
      "A\x7F"                  // one byte, DEL included
      "\xC2\x80\xDF\xBF"       // two bytes, lowest and highest
      "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"  // three, around the surrogates
      "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";  // four, lowest and U+10FFFF
  for (const std::string& wrapped : {text, std::string(40, 'x') + text + std::string(40, 'y')}) {
    auto value = parse_json("\"" + wrapped + "\"");
    ASSERT_TRUE(value) << value.error().describe();
    EXPECT_EQ(value->as_string(), wrapped);
  }
}

// The offset of the first byte that does not start a well-formed UTF-8
// sequence (Unicode, table 3-7), or npos when every byte does.
std::size_t first_ill_formed(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return i;
    for (std::size_t j = 2; j < length; ++j) {
      if (byte(i + j) < 0x80 || byte(i + j) > 0xBF) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

// Text of every alignment made of valid sequences at the edges of their
// ranges and of faulty ones (stray, overlong, surrogate, too large, cut
// short), long enough to be checked 16 bytes at a time, with and without
// an escape in front (which takes the decoding path): accepted exactly when
// it is well-formed, else refused at the first faulty sequence.
TEST(JsonParse, Utf8InLongTextIsCheckedAsByteForByte) {
  const std::vector<std::string> valid = {
      "a", "xyz", "hello world ", "\xC3\xA9", "\xC2\x80", "\xDF\xBF", "\xE6\x97\xA5", "\xE0\xA0\x80",
      "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x9F\x8C\x8D", "\xF4\x8F\xBF\xBF",
      "\xF3\xBF\xBF\xBF"};
  const std::vector<std::string> faulty = {
      "\x80", "\xBF", "\xC0\xAF", "\xC1\xBF", "\xC2", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80",
      "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE6\x97", "\xF0\x9F\x8C",
      "\xC3\xA9\xA9"};
  std::uint64_t seed = 11;
  const auto below = [&seed](std::size_t bound) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::size_t>((seed >> 33) % bound);
  };
  int refused = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string text(below(17), 'p');  // shifts what follows across block boundaries
    const std::size_t target = 16 + below(80);
    const bool with_fault = below(2) == 0;
    const std::size_t fault_at = target / 2 + below(target / 2 + 1);
    bool placed = false;
    while (text.size() < target) {
      if (with_fault && !placed && text.size() >= fault_at) {
        text += faulty[below(faulty.size())];
        placed = true;
      } else {
        text += valid[below(valid.size())];
      }
    }
    const std::size_t bad = first_ill_formed(text);
    for (const std::string_view prefix : {"", "\\n"}) {
      const std::string document = "\"" + std::string(prefix) + text + "\"";
      auto value = parse_json(document);
      if (bad == std::string_view::npos) {
        ASSERT_TRUE(value) << testing::PrintToString(document) << ": " << value.error().describe();
        EXPECT_EQ(*value->as_string(), (prefix.empty() ? "" : "\n") + text) << testing::PrintToString(document);
      } else {
        ++refused;
        ASSERT_FALSE(value) << testing::PrintToString(document);
        EXPECT_EQ(value.error(), (JsonError{JsonErrorCategory::InvalidUtf8, 1 + prefix.size() + bad}))
            << testing::PrintToString(document) << ": " << value.error().describe();
      }
    }
  }
  EXPECT_GT(refused, 1000);  // both kinds of text were tried
}

TEST(JsonParse, ResolvesEveryEscape) {
  auto value = parse_json(R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u00E9\u20AC\uD83D\uDE00\u0000")");
  ASSERT_TRUE(value) << value.error().describe();
  EXPECT_EQ(*value->as_string(), std::string("\"\\/\b\f\n\r\tA\xC3\xA9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\0", 21));
  // Long strings with escapes spread over them take the bulk decoding path.
  std::string long_text, expected;
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    long_text.append("chunk ").append(n).append(" \\u00e9\\t\xE6\x97\xA5 ");
    expected.append("chunk ").append(n).append(" \xC3\xA9\t\xE6\x97\xA5 ");
  }
  value = parse_json("[\"" + long_text + "\",\"" + long_text + "\"]");
  ASSERT_TRUE(value) << value.error().describe();
  EXPECT_EQ((*value->as_array())[0].as_string(), expected);
  EXPECT_EQ((*value->as_array())[1].as_string(), expected);
}

TEST(JsonParse, EscapedStringsOfEveryLengthAndEscapePosition) {
  // Escapes of each size at each position of strings around the inline
  // limit, the 16-byte scan blocks and the small decoding buffer, with
  // backslash runs across block edges; decoded strings that shrink below
  // the inline limit from a long raw form included.
  struct Escape {
    std::string_view raw;
    std::string_view decoded;
  };
  const Escape escapes[] = {{"\\\\", "\\"}, {"\\\"", "\""}, {"\\n", "\n"},
                            {"\\u0041", "A"}, {"\\u20AC", "\xE2\x82\xAC"},
                            {"\\uD83D\\uDE00", "\xF0\x9F\x98\x80"}, {"\\\\\\\"", "\\\""}};
  for (const Escape& e : escapes) {
    for (std::size_t length = 0; length <= 70; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string raw = std::string(at, 'a') + std::string(e.raw) + std::string(length - at, 'b');
        const std::string decoded = std::string(at, 'a') + std::string(e.decoded) + std::string(length - at, 'b');
        const std::string text = "[\"" + raw + "\",\"" + raw + raw + "\",\"x\"]";
        auto value = parse_json(text);
        ASSERT_TRUE(value) << text << ": " << value.error().describe();
        const JsonArray& a = *value->as_array();
        ASSERT_EQ(a[0].as_string(), decoded) << text;
        ASSERT_EQ(a[1].as_string(), decoded + decoded) << text;
        ASSERT_EQ(a[2].as_string(), "x") << text;
      }
    }
  }
  // Long strings, with few escapes or with escapes throughout, and with
  // little or much of the document after them.
  for (const std::size_t length : {4000, 5000, 70000}) {
    for (const std::size_t every : {7, 1000}) {
      std::string raw, decoded;
      for (std::size_t i = 0; i < length; ++i) {
        if (i % every == 0) {
          raw += "\\u00e9\\\"";
          decoded += "\xC3\xA9\"";
        } else {
          raw += static_cast<char>('a' + i % 26);
          decoded += static_cast<char>('a' + i % 26);
        }
      }
      for (const std::size_t after : {0, 10, 100000}) {
        const std::string text = "[\"" + raw + "\",\"" + std::string(after, 'q') + "\"]";
        auto value = parse_json(text);
        ASSERT_TRUE(value) << value.error().describe();
        const JsonArray& a = *value->as_array();
        ASSERT_EQ(a[0].as_string(), decoded) << length << " " << every << " " << after;
        ASSERT_EQ(a[1].as_string(), std::string(after, 'q'));
      }
    }
  }
  std::string many_short;
  for (int i = 0; i < 12; ++i) many_short += "\\u0041";
  auto value = parse_json("\"" + many_short + "\"");
  ASSERT_TRUE(value) << value.error().describe();
  EXPECT_EQ(value->as_string(), std::string(12, 'A'));
}

TEST(JsonParse, FaultsAfterAnEscapeAreFoundAtEveryPosition) {
  // A fault behind an escape, in strings short and long: refused with the
  // fault's own position, also when the string never ends.
  struct Fault {
    std::string_view bytes;
    JsonErrorCategory category;
  };
  const Fault faults[] = {{"\x01", JsonErrorCategory::ControlCharacterInString},
                          {"\\q", JsonErrorCategory::InvalidEscape},
                          {"\\u12G4", JsonErrorCategory::InvalidUnicodeEscape},
                          {"\\uDC00", JsonErrorCategory::LoneSurrogate},
                          {"\xC3\x28", JsonErrorCategory::InvalidUtf8}};
  for (const Fault& f : faults) {
    for (std::size_t length : {0, 5, 15, 16, 17, 40, 100, 1000, 5000}) {
      const std::string head = "[\"\\n" + std::string(length, 'z');
      for (const std::string_view tail : {"\"]", "", "\\"}) {
        const std::string text = head + std::string(f.bytes) + std::string(length, 'y') + std::string(tail);
        auto value = parse_json(text);
        ASSERT_FALSE(value) << text;
        EXPECT_EQ(value.error().category, f.category) << text << ": " << value.error().describe();
        const std::size_t at = f.category == JsonErrorCategory::InvalidEscape || f.category == JsonErrorCategory::InvalidUnicodeEscape
                                   ? head.size() + (f.category == JsonErrorCategory::InvalidEscape ? 1 : 4)
                                   : head.size();
        EXPECT_EQ(value.error().offset, at) << text << ": " << value.error().describe();
      }
    }
    const std::string unterminated = "\"\\t" + std::string(100, 'w');
    auto value = parse_json(unterminated);
    ASSERT_FALSE(value);
    EXPECT_EQ(value.error(), (JsonError{JsonErrorCategory::EofWhileParsingString, unterminated.size()}));
  }
}

TEST(JsonParse, IntegerLiteralsTakeTheIntegerRepresentations) {
  EXPECT_EQ(number_of("0"), JsonNumber::from_unsigned(0));
  EXPECT_EQ(number_of("1234567890123456789"), JsonNumber::from_unsigned(1234567890123456789u));
  EXPECT_EQ(number_of("9999999999999999999"), JsonNumber::from_unsigned(9999999999999999999u));
  EXPECT_EQ(number_of("10000000000000000000"), JsonNumber::from_unsigned(10000000000000000000u));
  EXPECT_EQ(number_of("18446744073709551615"), JsonNumber::from_unsigned(UINT64_MAX));
  EXPECT_EQ(number_of("-1"), JsonNumber::from_signed(-1));
  EXPECT_EQ(number_of("-9223372036854775807"), JsonNumber::from_signed(INT64_MAX * -1));
  EXPECT_EQ(number_of("-9223372036854775808"), JsonNumber::from_signed(INT64_MIN));
}

TEST(JsonParse, OtherNumberLiteralsAreFloats) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.0", 1.0},
      {"1e2", 100.0},
      {"1E+2", 100.0},
      {"0.5e-1", 0.05},
      {"-2.5", -2.5},
      {"18446744073709551616", 18446744073709551616.0},
      {"100000000000000000000000", 1e23},
      {"-9223372036854775809", -9223372036854775809.0},
      {"-99999999999999999999", -99999999999999999999.0},
      {"0.1", 0.1},
      {"123456789012345678901234567890", 1.2345678901234568e29},
      {"0.000000000000000000000000000001", 1e-30},
      {"4.9406564584124654e-324", 5e-324},
      {"2.2250738585072014e-308", 2.2250738585072014e-308},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"9007199254740993", 9007199254740993.0},  // integer: unsigned, checked below
  };
  for (const Case& c : cases) {
    const JsonNumber n = number_of(c.text);
    if (std::string_view(c.text) == "9007199254740993") {
      EXPECT_EQ(n, JsonNumber::from_unsigned(9007199254740993u));
      continue;
    }
    ASSERT_TRUE(n.is_float()) << c.text;
    EXPECT_EQ(*n.as_f64(), c.value) << c.text;
  }
  // Long literals that the exact fast path must not take round correctly.
  EXPECT_EQ(*number_of("9007199254740993.0").as_f64(), 9007199254740992.0);
  EXPECT_EQ(*number_of("9007199254740995.0").as_f64(), 9007199254740996.0);
  EXPECT_EQ(*number_of("1e23").as_f64(), 1e23);
  EXPECT_EQ(*number_of("8.41e21").as_f64(), 8.41e21);
}

// Digit runs of every length in the integer and the fraction part, ended by
// each byte that can follow a number, with plenty of input after them and
// with none: the value must be the one the library reads from the text.
TEST(JsonParse, DigitRunsOfEveryLengthAndEnding) {
  std::uint64_t seed = 3;
  const auto digit = [&seed](bool nonzero) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return static_cast<char>((nonzero ? '1' : '0') + (seed >> 33) % (nonzero ? 9 : 10));
  };
  for (int integer_digits = 1; integer_digits <= 22; ++integer_digits) {
    for (int fraction_digits = 0; fraction_digits <= 22; ++fraction_digits) {
      std::string number;
      for (int i = 0; i < integer_digits; ++i) number += digit(i == 0);
      if (fraction_digits > 0) number += '.';
      for (int i = 0; i < fraction_digits; ++i) number += digit(false);
      double d = 0;
      std::from_chars(number.data(), number.data() + number.size(), d);
      const JsonNumber as_float = *JsonNumber::from_double(d);
      JsonNumber want = as_float;
      std::uint64_t u = 0;
      const auto read = std::from_chars(number.data(), number.data() + number.size(), u);
      if (fraction_digits == 0 && read.ec == std::errc()) want = JsonNumber::from_unsigned(u);
      for (const std::string_view after : {"]", ",0,0,0,0,0,0,0]", "e0]", "E+0,1,2,3,4,5,6]", " ]", "\n,1111111111]"}) {
        const std::string text = "[" + number + std::string(after);
        auto value = parse_json(text);
        ASSERT_TRUE(value) << text;
        const bool exponent = after[0] == 'e' || after[0] == 'E';
        EXPECT_EQ((*value->as_array())[0], JsonValue(exponent ? as_float : want)) << text;
      }
      EXPECT_EQ(number_of(number), want) << number;  // the input ends with the number
    }
  }
}

TEST(JsonParse, NegativeZeroAndUnderflowKeepTheirSign) {
  for (const char* text : {"-0", "-0.0", "-0e10", "-1e-400", "-2e-324"}) {
    const JsonNumber n = number_of(text);
    ASSERT_TRUE(n.is_float()) << text;
    EXPECT_EQ(*n.as_f64(), 0.0) << text;
    EXPECT_TRUE(std::signbit(*n.as_f64())) << text;
  }
  for (const char* text : {"0.0", "0e-999999999999", "1e-400", "2e-324", "0.0000000000000000000000000000001e-300"}) {
    const JsonNumber n = number_of(text);
    ASSERT_TRUE(n.is_float()) << text;
    EXPECT_EQ(*n.as_f64(), 0.0) << text;
    EXPECT_FALSE(std::signbit(*n.as_f64())) << text;
  }
  EXPECT_EQ(*number_of("3e-324").as_f64(), 5e-324);  // rounds up to the smallest subnormal
}

TEST(JsonParse, DuplicateKeysKeepTheLastValue) {
  EXPECT_EQ(compact(R"({"a":1,"a":2})"), R"({"a":2})");
  EXPECT_EQ(compact(R"({"b":0,"a":1,"b":2,"a":3,"b":4})"), R"({"a":3,"b":4})");
  EXPECT_EQ(compact(R"({"x":{"a":1},"x":[2]})"), R"({"x":[2]})");
  // Keys compared after escapes are resolved.
  EXPECT_EQ(compact(R"({"a":1,"\u0061":2})"), R"({"a":2})");
  // A large object takes the general sort: duplicates still collapse to
  // the last occurrence.
  std::string text = "{";
  for (int i = 0; i < 300; ++i) text.append("\"k").append(std::to_string(i % 100)).append("\":").append(std::to_string(i)).append(",");
  text.back() = '}';
  auto value = parse_json(text);
  ASSERT_TRUE(value);
  ASSERT_EQ(value->as_object()->size(), 100u);
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(*value->get(std::string("k").append(std::to_string(k))), JsonValue(200 + k)) << k;
  }
}

// Keys chosen to meet at every boundary the member order has: shared
// prefixes of up to 8 bytes and beyond, a key and its extension by a NUL
// byte, bytes above 0x7F (ordered as unsigned), the empty key, keys long
// enough to leave the value, and a key written with an escape. Each object
// takes a random order and random duplicates; the result must match a
// reference map in which the last occurrence wins.
TEST(JsonParse, MembersFollowKeyByteOrderWithTheLastDuplicateWinning) {
  struct Key {
    std::string bytes;    // as the map must hold it
    std::string literal;  // as it is written in the document
  };
  const std::vector<Key> keys = {
      {"", R"("")"},
      {"a", R"("a")"},
      {std::string("a\0", 2), R"("a\u0000")"},
      {"ab", R"("ab")"},
      {"abcdefg", R"("abcdefg")"},
      {"abcdefgh", R"("abcdefgh")"},
      {std::string("abcdefgh\0", 9), R"("abcdefgh\u0000")"},
      {"abcdefghi", R"("abcdefghi")"},
      {"abcdefghij", R"("abc\u0064efghij")"},
      {"abcdefghijklmnopqrst", R"("abcdefghijklmnopqrst")"},
      {"abcdefghijklmnopqrsu", R"("abcdefghijklmnopqrsu")"},
      {"abcdefgi", R"("abcdefgi")"},
      {"b", R"("b")"},
      {"\x7f", R"("\u007f")"},
      {"\xc3\xa9", "\"\xc3\xa9\""},
      {"\xc3\xa9t\xc3\xa9", "\"\xc3\xa9t\xc3\xa9\""},
      {"z\xc3\xa9", "\"z\xc3\xa9\""},
  };
  std::uint64_t seed = 0x9E3779B97F4A7C15u;
  const auto next = [&seed](std::uint64_t bound) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % bound;
  };
  for (int round = 0; round < 300; ++round) {
    const std::size_t count = 1 + next(round % 3 == 0 ? 60 : 12);
    std::map<std::string, int> expected;  // std::string orders its bytes as unsigned
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) {
      const Key& key = keys[next(keys.size())];
      const int value = static_cast<int>(i);
      expected[key.bytes] = value;
      if (i != 0) text += ',';
      text += key.literal + ":" + std::to_string(value);
    }
    text += '}';
    auto parsed = parse_json(text);
    ASSERT_TRUE(parsed) << text;
    const JsonMap& map = *parsed->as_object();
    ASSERT_EQ(map.size(), expected.size()) << text;
    auto want = expected.begin();
    for (const JsonMap::Entry member : map) {
      EXPECT_EQ(member.key, want->first) << text;
      EXPECT_EQ(member.value, JsonValue(want->second)) << text;
      ++want;
    }
  }
}

TEST(JsonParse, ContainersNestUpTo127Levels) {
  const auto mixed = [](int depth, std::string_view inner) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += i % 2 == 0 ? "[" : "{\"k\":";
    text += inner;
    for (int i = depth - 1; i >= 0; --i) text += i % 2 == 0 ? "]" : "}";
    return text;
  };
  struct Case {
    std::string text;
    bool accepted;
    std::size_t fault_offset;
  };
  const Case cases[] = {
      {nested(127, "[", "", "]"), true, 0},
      {nested(128, "[", "", "]"), false, 127},
      {nested(127, "[", "0", "]"), true, 0},  // a scalar does not count
      {nested(127, "[", "{}", "]"), false, 127},
      {nested(126, "[", "{}", "]"), true, 0},
      {nested(127, "{\"a\":", "1", "}"), true, 0},
      {nested(128, "{\"a\":", "1", "}"), false, 127 * 5},
      {mixed(127, "null"), true, 0},
      {mixed(128, "null"), false, 0},
      {mixed(127, "[]"), false, 0},
      {nested(100000, "[", "", "]"), false, 127},
  };
  for (const Case& c : cases) {
    auto value = parse_json(c.text);
    EXPECT_EQ(value.has_value(), c.accepted) << c.text.substr(0, 40) << "... (" << c.text.size() << " bytes)";
    if (!value) {
      EXPECT_EQ(value.error().category, JsonErrorCategory::RecursionLimitExceeded) << value.error().describe();
      if (c.fault_offset != 0) {
        EXPECT_EQ(value.error().offset, c.fault_offset);
      }
    }
  }
  // The accepted depth really is 127: walk down.
  auto value = parse_json(nested(127, "[", "7", "]"));
  ASSERT_TRUE(value);
  const JsonValue* v = &*value;
  for (int i = 0; i < 127; ++i) {
    ASSERT_TRUE(v->is_array()) << i;
    v = &(*v->as_array())[0];
  }
  EXPECT_EQ(*v, JsonValue(7));
}

TEST(JsonParse, SiblingContainersDoNotAddUp) {
  // Depth is given back on leaving: many containers side by side, each
  // nested deep, all fit.
  std::string text = "[";
  for (int i = 0; i < 50; ++i) text.append(i ? "," : "").append(nested(126, "[", "", "]"));
  text += "]";
  EXPECT_TRUE(parse_json(text));
}

TEST(JsonParse, FailsAsAWholeAndRecoversForTheNextDocument) {
  // A failure deep inside a large document leaves nothing behind that
  // affects the next parse on the same thread.
  std::string bad = "[";
  for (int i = 0; i < 1000; ++i) bad.append("{\"a\":[1,2,\"").append(30, 'x').append("\"]},");
  bad += "{\"a\":[1,2,x]}]";
  EXPECT_FALSE(parse_json(bad));
  EXPECT_EQ(compact(R"([{"b":1},[2]])"), R"([{"b":1},[2]])");
  EXPECT_FALSE(parse_json("[1,2,3,\"\\q\"]"));
  EXPECT_EQ(compact("[\"ok\"]"), "[\"ok\"]");
}

TEST(JsonParse, LongStringsOneDocumentAfterAnother) {
  // Long strings reuse a freed block on the same thread: each document must
  // get its own bytes whatever the block held before, also while earlier
  // strings and copies are still alive. The cases straddle the long-string
  // size (64 KiB) before and after escapes are decoded; in the last one the
  // raw text is long but the decoded one is not.
  struct Case {
    std::string raw;
    std::string decoded;
  };
  const auto repeat = [](std::string_view piece, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += piece;
    return s;
  };
  const std::vector<Case> cases = {
      {std::string(300000, 'a'), std::string(300000, 'a')},
      {repeat("b\\n", 100000), repeat("b\n", 100000)},
      {repeat("\\u00e9", 40000), repeat("\xC3\xA9", 40000)},
      {std::string(200000, 'c') + "\\t", std::string(200000, 'c') + "\t"},
      {std::string(62000, 'd') + repeat("\\u0041", 600), std::string(62000, 'd') + std::string(600, 'A')},
  };
  std::vector<JsonValue> alive;
  for (int pass = 0; pass < 2; ++pass) {
    for (const Case& c : cases) {
      auto value = parse_json("\"" + c.raw + "\"");
      ASSERT_TRUE(value) << value.error().describe();
      ASSERT_EQ(value->as_string(), c.decoded) << c.decoded.size();
      if (pass == 0) {
        alive.push_back(*value);  // a copy, made while the parsed one lives
        alive.push_back(std::move(*value));
      }
    }
  }
  for (std::size_t i = 0; i < alive.size(); ++i) EXPECT_EQ(alive[i].as_string(), cases[i / 2].decoded) << i;
}

TEST(JsonParse, InputIsTakenByLengthNotByTerminator) {
  const std::string with_nul("[1]\0[2]", 7);
  EXPECT_FALSE(parse_json(with_nul));
  EXPECT_TRUE(parse_json(std::string_view(with_nul.data(), 3)));
  // A string cut at the input's end, with readable bytes beyond it, fails.
  const std::string longer = "\"abc\"";
  EXPECT_FALSE(parse_json(std::string_view(longer.data(), 4)));
}

TEST(JsonError, DescribesTheFaultAndWhere) {
  auto value = parse_json("{\"a\":1} x");
  ASSERT_FALSE(value);
  EXPECT_EQ(value.error().message(), "trailing characters");
  EXPECT_EQ(value.error().describe(), "trailing characters at byte 8");
  EXPECT_EQ(parse_json("").error().describe(), "EOF while parsing a value at byte 0");
  EXPECT_EQ(parse_json(nested(128, "[", "", "]")).error().describe(), "recursion limit exceeded at byte 127");
  EXPECT_EQ(parse_json("1e400").error().describe(), "number out of range at byte 0");
}

}  // namespace
}  // namespace host::json
