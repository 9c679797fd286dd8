// roundtrip/<file>/<impl>: parse a document into a tree and write it back in
// the compact form with sorted members, for the host's JSON module and four
// widely used libraries. Before anything is timed, every peer's output is
// checked against the host's for the same input, so that all of them are
// known to do the same work; and the peak heap of one host round trip of
// each large file is measured with the counting allocator.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "corpus.h"
#include "heap_counter.h"
#include "json/json.h"
#include "peers.h"
#include "results_table.h"

namespace bench {

namespace {

struct Impl {
  const char* name;
  std::string (*roundtrip)(std::string_view);
};

constexpr Impl kImpls[] = {
    {"host", roundtrip_host},
    {"nlohmann", roundtrip_nlohmann},
    {"rapidjson", roundtrip_rapidjson},
    {"simdjson", roundtrip_simdjson},
    {"boostjson", roundtrip_boostjson},
};

// How a peer's output compared with the host's.
enum class Agreement { SameBytes, SameTree, SameTreeWithinUlp, Differs };

// Tree equality that lets floats differ by one unit in the last place.
bool equal_within_ulp(const host::json::JsonValue& a, const host::json::JsonValue& b) {
  if (a.is_array() && b.is_array()) {
    const auto& x = *a.as_array();
    const auto& y = *b.as_array();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (!equal_within_ulp(x[i], y[i])) return false;
    }
    return true;
  }
  if (a.is_object() && b.is_object()) {
    if (a.as_object()->size() != b.as_object()->size()) return false;
    auto i = a.as_object()->begin();
    auto j = b.as_object()->begin();
    for (; i != a.as_object()->end(); ++i, ++j) {
      if ((*i).key != (*j).key || !equal_within_ulp((*i).value, (*j).value)) return false;
    }
    return true;
  }
  const auto x = a.as_number();
  const auto y = b.as_number();
  if (x && y && x->is_float() && y->is_float()) {
    const double d = *x->as_f64();
    return d == *y->as_f64() || std::nextafter(d, HUGE_VAL) == *y->as_f64() ||
           std::nextafter(d, -HUGE_VAL) == *y->as_f64();
  }
  return a == b;
}

// Same bytes is the rule. Where the bytes differ, the output must still
// parse to the host's tree: the peers write some doubles in other forms
// (1e16 for 1e+16, 1e-06 for 1e-6, fewer or more fraction digits that read
// back to the same double), and RapidJSON escapes control bytes with
// upper-case hex digits. Equality of trees compares floats as doubles, so
// a peer that rounds a literal differently is caught; Boost.JSON 1.81 does
// so for some 17-digit literals (one unit in the last place), which is let
// through as such and named in the benchmark's label.
Agreement compare(const std::string& host_out, const std::string& peer_out) {
  if (peer_out == host_out) return Agreement::SameBytes;
  auto a = host::json::parse_json(host_out);
  auto b = host::json::parse_json(peer_out);
  if (a && b && *a == *b) return Agreement::SameTree;
  if (a && b && equal_within_ulp(*a, *b)) return Agreement::SameTreeWithinUlp;
  return Agreement::Differs;
}

// The path of the first value where two trees differ, for the report of a
// failed check.
std::string first_difference(const host::json::JsonValue& a, const host::json::JsonValue& b) {
  if (a.is_array() && b.is_array() && a.as_array()->size() == b.as_array()->size()) {
    for (std::size_t i = 0; i < a.as_array()->size(); ++i) {
      if (!((*a.as_array())[i] == (*b.as_array())[i])) {
        return "[" + std::to_string(i) + "]" + first_difference((*a.as_array())[i], (*b.as_array())[i]);
      }
    }
  }
  if (a.is_object() && b.is_object() && a.as_object()->size() == b.as_object()->size()) {
    for (auto [key, value] : *a.as_object()) {
      const host::json::JsonValue* other = b.get(key);
      if (other != nullptr && !(value == *other)) return "." + std::string(key) + first_difference(value, *other);
    }
  }
  return ": " + host::json::to_json_bytes(a).substr(0, 60) + " against " + host::json::to_json_bytes(b).substr(0, 60);
}

const char* label_of(Agreement a) {
  switch (a) {
    case Agreement::SameBytes:
      return "same bytes as host";
    case Agreement::SameTree:
      return "same tree as host (number or escape forms differ)";
    case Agreement::SameTreeWithinUlp:
      return "same tree as host but for doubles one ULP off (its parser rounds some literals so)";
    case Agreement::Differs:
      break;
  }
  return "DIFFERS";
}

// Peak heap growth of one round trip on a fresh thread, so that memory the
// implementation keeps per thread between documents is counted as well.
std::size_t peak_heap_of(const Impl& impl, std::string_view bytes) {
  std::size_t peak = 0;
  std::thread([&] {
    HeapMeasurement m;
    benchmark::DoNotOptimize(impl.roundtrip(bytes));
    peak = m.peak();
  }).join();
  return peak;
}

bool is_large(const CorpusFile& f) { return f.bytes().size() > 100 * 1024; }

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  // --table=FILE: print the summary of an earlier run's JSON output.
  if (argc == 2 && std::string_view(argv[1]).starts_with("--table=")) {
    return print_results_table(argv[1] + std::strlen("--table="));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // Kept for the whole run: the benchmarks refer to the files.
  static const std::vector<CorpusFile> corpus = make_corpus();
  bool all_agree = true;
  for (const CorpusFile& file : corpus) {
    const std::string_view bytes = file.bytes();
    const std::string host_out = roundtrip_host(bytes);
    if (host_out.empty()) {
      std::fprintf(stderr, "host refused corpus file %s\n", file.name.c_str());
      return 1;
    }
    for (const Impl& impl : kImpls) {
      std::string label;
      if (impl.roundtrip != roundtrip_host) {
        const std::string peer_out = impl.roundtrip(bytes);
        const Agreement agreement = compare(host_out, peer_out);
        if (agreement == Agreement::Differs) {
          std::size_t at = 0;
          while (at < host_out.size() && at < peer_out.size() && host_out[at] == peer_out[at]) ++at;
          const std::size_t from = at < 40 ? 0 : at - 40;
          std::fprintf(stderr, "%s: %s output differs from the host's at byte %zu:\n  host: %.80s\n  %s: %.80s\n",
                       file.name.c_str(), impl.name, at, host_out.c_str() + from, impl.name,
                       peer_out.c_str() + std::min(from, peer_out.size()));
          auto reparsed = host::json::parse_json(peer_out);
          if (reparsed) {
            std::fprintf(stderr, "  first different value: root%s\n",
                         first_difference(*host::json::parse_json(host_out), *reparsed).c_str());
          }
          all_agree = false;
        }
        label = label_of(agreement);
      }
      // RapidJSON allocates with malloc, which the counter does not see.
      const bool heap_counted = is_large(file) && impl.roundtrip != roundtrip_rapidjson;
      const double peak = heap_counted ? static_cast<double>(peak_heap_of(impl, bytes)) : 0.0;
      const std::string name = "roundtrip/" + file.name + "/" + impl.name;
      auto* b = benchmark::RegisterBenchmark(name.c_str(), [&file, impl, label, peak,
                                                            heap_counted](benchmark::State& state) {
        const std::string_view input = file.bytes();
        for (auto _ : state) {
          std::string out = impl.roundtrip(input);
          benchmark::DoNotOptimize(out.data());
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                                static_cast<std::int64_t>(input.size()));
        state.counters["file_bytes"] = static_cast<double>(input.size());
        if (heap_counted) {
          state.counters["peak_heap_bytes"] = peak;
          state.counters["peak_heap_per_file_byte"] = peak / static_cast<double>(input.size());
        }
        if (!label.empty()) state.SetLabel(label);
      });
      b->Unit(benchmark::kMicrosecond);
    }
  }
  if (!all_agree) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
