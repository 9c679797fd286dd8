// Deep nesting on a small stack: the parser, the endpoint decoder and the
// relay's pumps, run on a thread with a painted stack of known size. A
// decoder that recursed per level would need stack in proportion to the
// depth; these need the same few KiB at any depth.
#include <gtest/gtest.h>

#include "app_link/runtime_endpoint.h"
#include "json/json.h"
#include "main/framing.h"
#include "main/relay.h"
#include "support/memory_channel.h"
#include "support/memory_connection.h"
#include "support/small_stack.h"

namespace host {
namespace {

using test::frame_bytes;

// Small next to any real thread's stack (1 MiB by default on Windows), and
// still room for sanitizer builds, whose frames are larger.
constexpr std::size_t stack_size = 256 * 1024;
// What two runs of the same non-recursive code may differ by. The
// decoder's bracket stack grows through the allocator's large-block path,
// which takes a few KiB more under AddressSanitizer; recursing on a million
// levels would take megabytes.
constexpr std::size_t same_use = 2 * 1024;
constexpr std::size_t same_use_with_large_blocks = 8 * 1024;

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// Alternating arrays and objects, each object with one member, to `depth`.
std::string nested_mixed(std::size_t depth, std::string_view inner) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += i % 2 == 0 ? "[" : "{\"k\":";
  text += inner;
  for (std::size_t i = depth; i-- > 0;) text += i % 2 == 0 ? "]" : "}";
  return text;
}

std::size_t stack_used(const std::function<void()>& body) {
  const auto used = test::run_on_small_stack(stack_size, body);
  EXPECT_TRUE(used.has_value()) << "no small-stack thread";
  return used.value_or(0);
}

TEST(SmallStack, ParseAccepts127AndRefuses128AtAnyDepthWithoutRecursing) {
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {nested_arrays(1), true},
      {nested_arrays(127), true},
      {nested_mixed(127, "0"), true},
      {nested_arrays(128), false},
      {nested_mixed(128, "0"), false},
      {std::string(1'000'000, '['), false},
      {nested_arrays(1'000'000), false},
  };
  std::size_t shallow = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.text.find_first_not_of("[{\"k:") << " of " << c.text.size());
    std::optional<json::JsonValue> kept;  // destroyed on this thread, not measured here
    bool accepted = false;
    const std::size_t used = stack_used([&] {
      auto value = json::parse_json(c.text);
      accepted = value.has_value();
      if (value) kept = std::move(*value);
    });
    EXPECT_EQ(accepted, c.accepted);
    if (shallow == 0) shallow = used;
    EXPECT_LE(used, shallow + same_use) << "parsing used " << used << " bytes of stack, depth 1 used " << shallow;
  }
}

TEST(SmallStack, EndpointFileWithAMillionNestedBracketsInAnUnknownMemberDecodes) {
  const RuntimeEndpoint expected{R"(\\.\pipe\app)", "n"};
  const auto file = [](std::string_view extra) {
    return std::string(R"({"endpoint":"\\\\.\\pipe\\app","extra":)") + std::string(extra) + R"(,"nonce":"n"})";
  };
  struct Case {
    const char* name;
    std::string text;
    bool decoded;
  };
  const Case cases[] = {
      {"flat member", file("0"), true},
      {"a million nested arrays", file(nested_arrays(1'000'000)), true},
      {"a million nested arrays and objects", file(nested_mixed(1'000'000, "null")), true},
      {"a million open brackets never closed", file(std::string(1'000'000, '[')), false},
      {"a million brackets closed wrongly", file(std::string(1'000'000, '[') + std::string(1'000'000, '}')), false},
  };
  std::size_t flat = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<HostResult<RuntimeEndpoint>> result;
    const std::size_t used = stack_used([&] { result = RuntimeEndpoint::parse(c.text); });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->has_value(), c.decoded) << (*result ? "" : result->error().message());
    if (c.decoded && *result) {
      EXPECT_EQ(**result, expected);
    }
    if (!c.decoded && !*result) {
      EXPECT_EQ(result->error().kind(), ErrorKind::Other);
    }
    if (flat == 0) flat = used;
    EXPECT_LE(used, flat + same_use_with_large_blocks) << "decoding used " << used << " bytes of stack, a flat file " << flat;
  }
}

// A message at the nesting limit goes through each pump (read, parse,
// compact write, release) on the small stack; the first frame over the
// limit ends the pump there.
TEST(SmallStack, PumpsCarryTheDeepestMessageAndStopAtTheLimit) {
  const std::string deepest = nested_mixed(127, "\"x\"");
  const std::string input = frame_bytes(deepest) + frame_bytes(nested_arrays(128)) + frame_bytes("[1]");

  auto connection = std::make_shared<test::MemoryConnection>();
  auto stream = std::make_shared<test::ByteStream>();
  stream->push(input);
  stream->close();
  const std::size_t to_app = stack_used(
      [&] { pump_browser_to_app(connection, std::make_shared<test::StreamReader>(stream)); });
  EXPECT_EQ(connection->to_app->contents(), frame_bytes(deepest));
  EXPECT_EQ(connection->effective_shutdowns, 1);

  auto app = std::make_shared<test::MemoryConnection>();
  app->from_app->push(input);
  test::BrowserOutput browser;
  std::optional<HostResult<void>> result;
  const std::size_t to_browser = stack_used([&] { result = pump_app_to_browser(*app, browser); });
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(*result);
  EXPECT_EQ(browser.stream.contents(), frame_bytes(deepest));

  // Writing and releasing a value recurse once per level, to 127 at most:
  // bounded, and reported so that a change in frame size shows.
  RecordProperty("stack_bytes_browser_to_app", std::to_string(to_app));
  RecordProperty("stack_bytes_app_to_browser", std::to_string(to_browser));
  EXPECT_LT(to_app, stack_size / 2);
  EXPECT_LT(to_browser, stack_size / 2);
}

}  // namespace
}  // namespace host
