// simdjson's DOM is read-only: the round trip walks it, sorting each
// object's members (views of key and element) on one reused stack.
#include <simdjson.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "peers.h"
#include "sorted_writer.h"

namespace bench {

namespace {

using Members = std::vector<std::pair<std::string_view, simdjson::dom::element>>;

void write(SortedWriter& w, simdjson::dom::element e, Members& stack) {
  using simdjson::dom::element_type;
  switch (e.type()) {
    case element_type::OBJECT: {
      const std::size_t base = stack.size();
      for (auto [key, value] : simdjson::dom::object(e)) stack.emplace_back(key, value);
      const std::size_t n = stack.size() - base;
      std::sort(stack.begin() + static_cast<std::ptrdiff_t>(base), stack.end(),
                [](const auto& a, const auto& b) { return a.first < b.first; });
      w.raw('{');
      for (std::size_t i = 0; i < n; ++i) {
        if (i) w.raw(',');
        w.string(stack[base + i].first);
        w.raw(':');
        write(w, stack[base + i].second, stack);
      }
      w.raw('}');
      stack.resize(base);
      return;
    }
    case element_type::ARRAY: {
      w.raw('[');
      bool first = true;
      for (simdjson::dom::element child : simdjson::dom::array(e)) {
        if (!first) w.raw(',');
        first = false;
        write(w, child, stack);
      }
      w.raw(']');
      return;
    }
    case element_type::STRING:
      w.string(std::string_view(e));
      return;
    case element_type::INT64:
      w.number(static_cast<std::int64_t>(e));
      return;
    case element_type::UINT64:
      w.number(static_cast<std::uint64_t>(e));
      return;
    case element_type::DOUBLE:
      w.number(static_cast<double>(e));
      return;
    case element_type::BOOL:
      w.raw(bool(e) ? "true" : "false");
      return;
    case element_type::NULL_VALUE:
      w.raw("null");
      return;
  }
}

}  // namespace

std::string roundtrip_simdjson(std::string_view bytes) {
  // One parser per thread, as simdjson is meant to be used: its buffers
  // are kept from document to document.
  thread_local simdjson::dom::parser parser;
  thread_local Members stack;
  simdjson::dom::element root;
  // The input is followed by the padding simdjson reads ahead into.
  if (parser.parse(bytes.data(), bytes.size(), false).get(root) != simdjson::SUCCESS) return std::string();
  SortedWriter w(bytes.size());
  write(w, root, stack);
  return w.take();
}

}  // namespace bench
