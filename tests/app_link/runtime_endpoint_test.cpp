#include "app_link/runtime_endpoint.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace host {
namespace {

constexpr std::string_view pipe_name = R"(\\.\pipe\app-runtime-1234)";

RuntimeEndpoint decoded(std::string_view text) {
  auto record = RuntimeEndpoint::parse(text);
  EXPECT_TRUE(record) << testing::PrintToString(std::string(text)) << ": " << record.error().message();
  return record ? *record : RuntimeEndpoint{"<failed>", "<failed>"};
}

TEST(RuntimeEndpointParse, DecodesTheObjectFormInEitherOrder) {
  const RuntimeEndpoint expected{std::string(pipe_name), "n0nce"};
  EXPECT_EQ(decoded(R"({"endpoint":"\\\\.\\pipe\\app-runtime-1234","nonce":"n0nce"})"), expected);
  EXPECT_EQ(decoded(R"({"nonce":"n0nce","endpoint":"\\\\.\\pipe\\app-runtime-1234"})"), expected);
  EXPECT_EQ(decoded(" \r\n\t{ \"nonce\" : \"n0nce\" ,\n \"endpoint\" : \"\\\\\\\\.\\\\pipe\\\\app-runtime-1234\" }\n "),
            expected);
}

TEST(RuntimeEndpointParse, TakesValuesExactlyAsDecoded) {
  EXPECT_EQ(decoded(R"({"endpoint":"","nonce":""})"), (RuntimeEndpoint{"", ""}));
  EXPECT_EQ(decoded(R"({"endpoint":"p\u00e9\n\uD83D\uDE00","nonce":"a\/b"})"),
            (RuntimeEndpoint{"p\xC3\xA9\n\xF0\x9F\x98\x80", "a/b"}));
  EXPECT_EQ(decoded(R"({"endpoint":"x\u0000y","nonce":"  spaced  "})"),
            (RuntimeEndpoint{std::string("x\0y", 3), "  spaced  "}));
}

TEST(RuntimeEndpointParse, MatchesMemberNamesAfterDecodingEscapes) {
  EXPECT_EQ(decoded(R"({"\u0065ndpoint":"e","\u006eonce":"n"})"), (RuntimeEndpoint{"e", "n"}));
  // Names are case-sensitive and whole: these are unknown members.
  auto record = RuntimeEndpoint::parse(R"({"Endpoint":"e","nonce":"n","endpoint ":"x"})");
  ASSERT_FALSE(record);
  EXPECT_TRUE(record.error().message().starts_with("missing field `endpoint`")) << record.error().message();
}

TEST(RuntimeEndpointParse, SkipsUnknownMembersOfAnyTypeAndDepth) {
  EXPECT_EQ(decoded(R"({"version":3,"endpoint":"e","pid":-12.5e3,"flags":[true,false,null],)"
                    R"("meta":{"a":{"b":[1,{"c":"\u00e9"}]},"endpoint":"inner ones do not count"},"nonce":"n","z":"")"
                    R"(})"),
            (RuntimeEndpoint{"e", "n"}));
  // Far deeper than any parse_json would take.
  constexpr int depth = 1'000'000;
  std::string deep = R"({"endpoint":"e","extra":)";
  for (int i = 0; i < depth; ++i) deep += (i % 2 == 0) ? "[" : "{\"k\":";
  deep += "0";
  for (int i = depth - 1; i >= 0; --i) deep += (i % 2 == 0) ? "]" : "}";
  deep += R"(,"nonce":"n"})";
  EXPECT_EQ(decoded(deep), (RuntimeEndpoint{"e", "n"}));
  // Large numbers in skipped members are not converted, so cannot fail.
  EXPECT_EQ(decoded(R"({"big":1e400,"endpoint":"e","nonce":"n"})"), (RuntimeEndpoint{"e", "n"}));
}

TEST(RuntimeEndpointParse, DecodesTheArrayFormPositionally) {
  EXPECT_EQ(decoded(R"(["\\\\.\\pipe\\app-runtime-1234","n0nce"])"), (RuntimeEndpoint{std::string(pipe_name), "n0nce"}));
  EXPECT_EQ(decoded(" [ \"e\" ,\n\"n\" ] "), (RuntimeEndpoint{"e", "n"}));
}

struct Fault {
  std::string text;
  std::string message;

  // Names the case in test listings by its expected message, in characters
  // that are safe in a test name.
  friend void PrintTo(const Fault& f, std::ostream* out) {
    for (char c : f.message) *out << (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  }
};

// Each text fails with exactly this description, as a kind Other error.
class RuntimeEndpointFaults : public testing::TestWithParam<Fault> {};

// Stable names for the listing: the case's position and its message.
std::string fault_name(const testing::TestParamInfo<Fault>& info) {
  std::string name = "case" + std::to_string(info.index) + "_";
  for (char c : info.param.message) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

TEST_P(RuntimeEndpointFaults, AreDescribed) {
  const Fault& f = GetParam();
  auto record = RuntimeEndpoint::parse(f.text);
  ASSERT_FALSE(record) << testing::PrintToString(f.text);
  EXPECT_EQ(record.error().kind(), ErrorKind::Other);
  EXPECT_EQ(record.error().os_code(), std::nullopt);
  EXPECT_EQ(record.error().message(), f.message) << testing::PrintToString(f.text);
}

INSTANTIATE_TEST_SUITE_P(
    ObjectForm, RuntimeEndpointFaults,
    testing::Values(
        Fault{R"({"endpoint":"a","endpoint":"a","nonce":"n"})", "duplicate field `endpoint` at byte 16"},
        Fault{R"({"nonce":"n","nonce":"m","endpoint":"e"})", "duplicate field `nonce` at byte 13"},
        // Found before the value is read: what follows the name is not looked at.
        Fault{R"({"endpoint":"a","endpoint" ! )", "duplicate field `endpoint` at byte 16"},
        Fault{R"({})", "missing field `endpoint` at byte 2"},
        Fault{R"({"other":1})", "missing field `endpoint` at byte 11"},
        Fault{R"({"nonce":"n"})", "missing field `endpoint` at byte 13"},
        Fault{R"({"endpoint":"e"})", "missing field `nonce` at byte 16"},
        Fault{R"({"endpoint":1,"nonce":"n"})", "invalid type: number, expected a string at byte 12"},
        Fault{R"({"endpoint":"e","nonce":-0.5})", "invalid type: number, expected a string at byte 24"},
        Fault{R"({"endpoint":true,"nonce":"n"})", "invalid type: boolean, expected a string at byte 12"},
        Fault{R"({"endpoint":null,"nonce":"n"})", "invalid type: null, expected a string at byte 12"},
        Fault{R"({"endpoint":["e"],"nonce":"n"})", "invalid type: array, expected a string at byte 12"},
        Fault{R"({"endpoint":{"e":1},"nonce":"n"})", "invalid type: object, expected a string at byte 12"},
        // A malformed scalar reports its own syntax fault.
        Fault{R"({"endpoint":tru,"nonce":"n"})", "invalid literal at byte 15"},
        Fault{R"({"endpoint":01})", "invalid number at byte 13"},
        // Syntax around and inside members, skipped ones included.
        Fault{R"({"endpoint":"e","nonce":"n",})", "trailing comma at byte 28"},
        Fault{R"({"endpoint":"e" "nonce":"n"})", "expected `,` or `}` at byte 16"},
        Fault{R"({"endpoint" "e"})", "expected `:` at byte 12"},
        Fault{R"({endpoint:"e"})", "key must be a string at byte 1"},
        Fault{R"({"endpoint":"e","x":[1,2,}],"nonce":"n"})", "expected value at byte 25"},
        Fault{R"({"x":{"a":1,},"endpoint":"e","nonce":"n"})", "trailing comma at byte 12"},
        Fault{R"({"x":"\q","endpoint":"e","nonce":"n"})", "invalid escape at byte 7"},
        Fault{"{\"x\":\"\xC0\xAF\",\"endpoint\":\"e\",\"nonce\":\"n\"}", "invalid UTF-8 in string at byte 6"},
        Fault{"{\"endpoint\":\"\xED\xA0\x80\",\"nonce\":\"n\"}", "invalid UTF-8 in string at byte 13"},
        Fault{R"({"endpoint":"e\uD800","nonce":"n"})", "unpaired surrogate in \\u escape at byte 14"},
        Fault{"{\"endpoint\":\"a\tb\",\"nonce\":\"n\"}",
              "control character (\\u0000-\\u001F) found while parsing a string at byte 14"},
        Fault{R"({"endpoint":"e","nonce":"n")", "EOF while parsing an object at byte 27"},
        Fault{R"({"endpoint":"e","nonce":)", "EOF while parsing an object at byte 24"},
        Fault{R"({"endpoint":"e","x":[[)", "EOF while parsing an array at byte 22"},
        Fault{R"({"endpoint":"e","x":nul)", "EOF while parsing an object at byte 23"},
        Fault{R"({"endpoint":"e)", "EOF while parsing a string at byte 14"}), fault_name);

INSTANTIATE_TEST_SUITE_P(
    ArrayForm, RuntimeEndpointFaults,
    testing::Values(Fault{R"([])", "invalid length 0, expected struct RuntimeEndpoint with 2 elements at byte 1"},
                    Fault{R"([ "e" ])", "invalid length 1, expected struct RuntimeEndpoint with 2 elements at byte 6"},
                    Fault{R"(["e","n","x"])", "trailing characters at byte 9"},
                    Fault{R"(["e","n",])", "trailing comma at byte 9"},
                    Fault{R"(["e",])", "trailing comma at byte 5"},
                    Fault{R"(["e","n" "x"])", "trailing characters at byte 9"},
                    Fault{R"(["e" "n"])", "expected `,` or `]` at byte 5"},
                    Fault{R"([1,"n"])", "invalid type: number, expected a string at byte 1"},
                    Fault{R"(["e",{}])", "invalid type: object, expected a string at byte 5"},
                    Fault{R"(["e",])" "\n", "trailing comma at byte 5"},
                    Fault{R"(["e","n")", "EOF while parsing an array at byte 8"},
                    Fault{R"(["e",)", "EOF while parsing an array at byte 5"},
                    Fault{R"([)", "EOF while parsing an array at byte 1"}), fault_name);

INSTANTIATE_TEST_SUITE_P(
    TopLevel, RuntimeEndpointFaults,
    testing::Values(Fault{"", "EOF while parsing a value at byte 0"},
                    Fault{" \r\n\t ", "EOF while parsing a value at byte 5"},
                    Fault{"\xEF\xBB\xBF{\"endpoint\":\"e\",\"nonce\":\"n\"}", "expected value at byte 0"},
                    Fault{"x", "expected value at byte 0"},
                    Fault{R"("e")", "invalid type: string, expected struct RuntimeEndpoint at byte 0"},
                    Fault{" 42 ", "invalid type: number, expected struct RuntimeEndpoint at byte 1"},
                    Fault{"true", "invalid type: boolean, expected struct RuntimeEndpoint at byte 0"},
                    Fault{"null", "invalid type: null, expected struct RuntimeEndpoint at byte 0"},
                    Fault{"nul", "EOF while parsing a value at byte 3"},
                    Fault{"\"unterminated", "EOF while parsing a string at byte 13"},
                    Fault{R"({"endpoint":"e","nonce":"n"} x)", "trailing characters at byte 29"},
                    Fault{R"({"endpoint":"e","nonce":"n"}{})", "trailing characters at byte 28"},
                    Fault{std::string(R"({"endpoint":"e","nonce":"n"})") + '\0', "trailing characters at byte 28"}), fault_name);

}  // namespace
}  // namespace host
