// Boost.JSON keeps members in insertion order and cannot reorder them: the
// round trip walks the tree, sorting each object's members on one reused
// stack. The tree lives in a monotonic resource, the library's fast way
// to build a document that is dropped as a whole.
#include <boost/json.hpp>

#include <algorithm>
#include <vector>

#include "peers.h"
#include "sorted_writer.h"

namespace bench {

namespace {

using Members = std::vector<const boost::json::key_value_pair*>;

void write(SortedWriter& w, const boost::json::value& v, Members& stack) {
  switch (v.kind()) {
    case boost::json::kind::object: {
      const boost::json::object& o = v.get_object();
      const std::size_t base = stack.size();
      for (const auto& member : o) stack.push_back(&member);
      const std::size_t n = stack.size() - base;
      std::sort(stack.begin() + static_cast<std::ptrdiff_t>(base), stack.end(),
                [](const auto* a, const auto* b) { return a->key() < b->key(); });
      w.raw('{');
      for (std::size_t i = 0; i < n; ++i) {
        if (i) w.raw(',');
        const boost::json::key_value_pair* m = stack[base + i];
        w.string(m->key());
        w.raw(':');
        write(w, m->value(), stack);
      }
      w.raw('}');
      stack.resize(base);
      return;
    }
    case boost::json::kind::array: {
      w.raw('[');
      bool first = true;
      for (const boost::json::value& e : v.get_array()) {
        if (!first) w.raw(',');
        first = false;
        write(w, e, stack);
      }
      w.raw(']');
      return;
    }
    case boost::json::kind::string:
      w.string(v.get_string());
      return;
    case boost::json::kind::int64:
      w.number(static_cast<std::int64_t>(v.get_int64()));
      return;
    case boost::json::kind::uint64:
      w.number(static_cast<std::uint64_t>(v.get_uint64()));
      return;
    case boost::json::kind::double_:
      w.number(v.get_double());
      return;
    case boost::json::kind::bool_:
      w.raw(v.get_bool() ? "true" : "false");
      return;
    case boost::json::kind::null:
      w.raw("null");
      return;
  }
}

}  // namespace

std::string roundtrip_boostjson(std::string_view bytes) {
  thread_local boost::json::parser parser;
  thread_local Members stack;
  boost::json::monotonic_resource resource;
  parser.reset(&resource);
  boost::system::error_code ec;
  parser.write(bytes.data(), bytes.size(), ec);
  if (ec) return std::string();
  const boost::json::value tree = parser.release();
  SortedWriter w(bytes.size());
  write(w, tree, stack);
  return w.take();
}

}  // namespace bench
