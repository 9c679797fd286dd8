#include "bench_messages.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace bench {
namespace {

// A fixed-seed generator: the same text on every run and machine.
class Lcg {
 public:
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint64_t state_ = 0x5eed;
};

// Pieces of page text as the writer spells them: escapes in their written
// forms, non-ASCII as raw UTF-8.
constexpr std::array<std::string_view, 12> special = {
    "\\n",          "\\t",   "\\\"",           "\\\\",        "\\u0001",   "caf\xc3\xa9",
    "\xc3\xbc" "ber", "stra\xc3\x9f" "e", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "\xf0\x9f\x98\x80", "na\xc3\xafve", "\xe2\x80\x94",
};

std::string page_text(std::size_t size) {
  Lcg random;
  std::string text;
  text.reserve(size);
  // Words of ASCII letters between spaces, now and then a special piece.
  while (text.size() + 16 < size) {
    if (random.below(8) == 0) {
      text += special[random.below(special.size())];
    } else {
      const std::uint32_t letters = 2 + random.below(9);
      for (std::uint32_t i = 0; i < letters; ++i) text.push_back(static_cast<char>('a' + random.below(26)));
    }
    text.push_back(' ');
  }
  text.append(size - text.size(), '.');
  return text;
}

}  // namespace

std::string page_context_body(std::size_t size) {
  const std::string head =
      R"({"context":{"lang":"en","selection":"","text":")";
  const std::string tail =
      R"(","title":"Benchmark page )" "\xe2\x80\x94" R"( a long article","url":"https://example.org/articles/2026/relay?page=1"},)"
      R"("frameId":0,"tabId":1234,"timestamp":1765368000000,"type":"pageContext"})";
  return head + page_text(size - head.size() - tail.size()) + tail;
}

std::string small_message_body(std::size_t size) {
  const std::string head = R"({"id":42,"payload":")";
  const std::string tail = R"(","type":"ping"})";
  return head + std::string(size - head.size() - tail.size(), 'p') + tail;
}

std::string frame(const std::string& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string out{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
  return out + body;
}

}  // namespace bench
