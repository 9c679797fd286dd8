#include "results_table.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json/json.h"

namespace bench {

namespace {

using host::json::JsonValue;

constexpr double kSpeedTarget = 2.0;  // host at least this many times the fastest peer
constexpr double kHeapTarget = 3.0;   // peak heap at most this many times the file

double number(const JsonValue& object, std::string_view key) {
  const JsonValue* v = object.get(key);
  if (v == nullptr || !v->as_number()) return -1;
  return v->as_number()->to_double();
}

struct FileResults {
  std::map<std::string, double> bytes_per_second;  // by implementation
  double host_heap_ratio = -1;
};

}  // namespace

int print_results_table(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto doc = host::json::parse_json(text);
  const JsonValue* list = doc ? doc->get("benchmarks") : nullptr;
  if (list == nullptr || !list->as_array()) {
    std::fprintf(stderr, "no benchmark results in %s\n", path);
    return 1;
  }
  // With repetitions the medians are used, else the single runs.
  std::vector<std::string> order;
  std::map<std::string, FileResults> files;
  for (const bool medians : {true, false}) {
    for (const JsonValue& b : *list->as_array()) {
      const JsonValue* run_name = b.get("run_name");
      const JsonValue* aggregate = b.get("aggregate_name");
      const bool is_median = aggregate != nullptr && aggregate->as_string() == "median";
      const bool is_single = b.get("run_type") != nullptr && b.get("run_type")->as_string() == "iteration";
      if (run_name == nullptr || !run_name->as_string() || (medians ? !is_median : !is_single)) continue;
      // roundtrip/<file>/<impl>
      const std::string name(*run_name->as_string());
      const std::size_t a = name.find('/');
      const std::size_t c = name.rfind('/');
      if (a == std::string::npos || c == a) continue;
      const std::string file = name.substr(a + 1, c - a - 1);
      const std::string impl = name.substr(c + 1);
      if (!files.count(file)) order.push_back(file);
      FileResults& r = files[file];
      if (r.bytes_per_second.count(impl)) continue;
      r.bytes_per_second[impl] = number(b, "bytes_per_second");
      if (impl == "host") r.host_heap_ratio = number(b, "peak_heap_per_file_byte");
    }
  }
  // The corpus order, whatever order the runs were interleaved in.
  constexpr std::string_view kCorpusOrder[] = {"message_2k", "page_context_500k", "objects_500k", "doubles_500k",
                                               "message_100"};
  std::stable_sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
    const auto rank = [&](const std::string& f) {
      return std::find(std::begin(kCorpusOrder), std::end(kCorpusOrder), f) - std::begin(kCorpusOrder);
    };
    return rank(a) < rank(b);
  });
  std::printf("%-18s %10s  %-10s %10s  %6s %6s  %10s %6s\n", "file", "host MB/s", "fastest", "MB/s", "ratio",
              "target", "peak heap", "target");
  bool any_host = false;
  for (const std::string& file : order) {
    const FileResults& r = files[file];
    const auto host = r.bytes_per_second.find("host");
    if (host == r.bytes_per_second.end()) continue;
    any_host = true;
    std::string fastest = "-";
    double fastest_rate = 0;
    for (const auto& [impl, rate] : r.bytes_per_second) {
      if (impl != "host" && rate > fastest_rate) {
        fastest = impl;
        fastest_rate = rate;
      }
    }
    const double ratio = fastest_rate > 0 ? host->second / fastest_rate : 0;
    std::printf("%-18s %10.0f  %-10s %10.0f  %5.2fx %5.1fx %s", file.c_str(), host->second / 1e6, fastest.c_str(),
                fastest_rate / 1e6, ratio, kSpeedTarget, ratio >= kSpeedTarget ? "ok    " : "MISSED");
    if (r.host_heap_ratio >= 0) {
      std::printf(" %8.2fx %5.1fx %s\n", r.host_heap_ratio, kHeapTarget,
                  r.host_heap_ratio <= kHeapTarget ? "ok" : "MISSED");
    } else {
      std::printf(" %8s\n", "-");
    }
  }
  if (!any_host) {
    std::fprintf(stderr, "no host results in %s\n", path);
    return 1;
  }
  std::printf("MB/s = 10^6 bytes per second of CPU time; peak heap = bytes live at once during one round trip "
              "on a fresh thread, per byte of the file\n");
  return 0;
}

}  // namespace bench
