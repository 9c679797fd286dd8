// relay-bench.exe: the relay as a browser sees it. It runs the real
// browser-context-host.exe between itself (the browser) and app-simulator.exe
// (the application, echoing), and the same measurements against two baselines
// built only for this: baseline-relay.exe, which copies frames as bytes, and
// baseline-startup.exe, which only opens the pipe and writes the handshake.
//
//   relay-bench.exe [--rounds N] [--frames N] [--round-trips N] [--startups N]
//
// Host and baselines take turns within every round, so both see the same
// load of a shared machine; each figure is the median over the rounds.
// Results go to standard output as JSON, progress and a table to standard
// error. Exit code 0 when every measurement ran (whether or not the targets
// hold), 1 when one failed.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_app.h"
#include "common/temp_app_data.h"
#include "bench_messages.h"
#include "bench_session.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t frame_body = 524288;
constexpr std::size_t small_body = 100;
constexpr std::size_t warmup_frames = 3;
constexpr std::size_t warmup_round_trips = 50;
constexpr double mib = 1024.0 * 1024.0;

const std::wstring origin = L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";

struct Options {
  std::size_t rounds = 7;
  std::size_t frames = 40;
  std::size_t round_trips = 1000;
  std::size_t startups = 7;
};

std::optional<Options> parse_options(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return std::nullopt;
    const std::wstring name = argv[i];
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(argv[i + 1], &end, 10);
    if (*end != 0 || value == 0) return std::nullopt;
    if (name == L"--rounds") {
      options.rounds = value;
    } else if (name == L"--frames") {
      options.frames = value;
    } else if (name == L"--round-trips") {
      options.round_trips = value;
    } else if (name == L"--startups") {
      options.startups = value;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

void progress(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// What one program under test showed over all rounds.
struct Figures {
  std::vector<double> mb_per_s;         // frame bodies echoed, MB (10^6 bytes) per second
  std::vector<double> round_trips;      // per second
  std::vector<double> startup_ms;       // process start to the handshake at the application
  std::vector<double> peak_stream_mib;  // peak working set after the stream
  std::vector<double> peak_idle_mib;    // peak working set after the handshake, nothing relayed
};

class Bench {
 public:
  Bench(const Options& options, EchoApp& app, const std::wstring& appdata)
      : options_(options), app_(app), appdata_(appdata), dir_(host::tools::program_directory()) {}

  // One relay session of each kind: the stream of large frames, then the
  // round trips, in the same process.
  bool relay_session(bool is_host, Figures& figures) {
    Session session = start(is_host, is_host ? L"\\browser-context-host.exe" : L"\\baseline-relay.exe");
    const char* name = is_host ? "host" : "baseline-relay";
    if (!session.started() || !app_.wait_for_handshake(++connections_)) return fail(name, "no handshake", session);
    if (!session.stream(large_, warmup_frames)) return fail(name, "warm-up stream", session);
    const auto streamed = session.stream(large_, options_.frames);
    if (!streamed) return fail(name, "stream", session);
    const auto peak = session.peak_working_set();
    if (!session.ping_pong(small_, warmup_round_trips)) return fail(name, "warm-up round trips", session);
    const auto pinged = session.ping_pong(small_, options_.round_trips);
    if (!pinged) return fail(name, "round trips", session);
    if (session.finish() != 0u || !app_.wait_for_closed(connections_)) return fail(name, "ending", session);

    figures.mb_per_s.push_back(double(frame_body * options_.frames) / *streamed / 1e6);
    figures.round_trips.push_back(double(options_.round_trips) / *pinged);
    if (peak) figures.peak_stream_mib.push_back(double(*peak) / mib);
    progress(std::string("  ") + name + ": " + fixed(figures.mb_per_s.back(), 1) + " MB/s, " +
             fixed(figures.round_trips.back(), 0) + " round trips/s, peak working set " +
             (peak ? fixed(double(*peak) / mib, 2) + " MiB" : "unknown"));
    return true;
  }

  // One start: from before the process is created until the application
  // has accepted the handshake.
  bool startup(bool is_host, Figures& figures) {
    const auto start_time = Clock::now();
    Session session = start(is_host, is_host ? L"\\browser-context-host.exe" : L"\\baseline-startup.exe");
    const char* name = is_host ? "host" : "baseline-startup";
    if (!session.started() || !app_.wait_for_handshake(++connections_)) return fail(name, "no handshake", session);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start_time).count();
    const auto peak = session.peak_working_set();
    if (session.finish() != 0u || !app_.wait_for_closed(connections_)) return fail(name, "ending", session);
    figures.startup_ms.push_back(ms);
    if (peak) figures.peak_idle_mib.push_back(double(*peak) / mib);
    return true;
  }

 private:
  Session start(bool is_host, const wchar_t* program) {
    std::vector<std::wstring> arguments;
    if (is_host) {
      arguments = {origin};
    } else {
      arguments = {app_.pipe_path(), app_.nonce()};
    }
    return Session(dir_ + program, std::move(arguments), appdata_);
  }

  bool fail(const char* name, const char* phase, const Session& session) {
    progress(std::string("relay-bench: ") + name + ": " + phase + " failed: " + session.failure() +
             (session.started() ? "" : " (could not start: error " + std::to_string(session.start_error()) + ")"));
    return false;
  }

  static std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
  }

  const Options& options_;
  EchoApp& app_;
  const std::wstring& appdata_;
  const std::wstring dir_;
  const std::string large_ = frame(page_context_body(frame_body));
  const std::string small_ = frame(small_message_body(small_body));
  std::size_t connections_ = 0;
};

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

std::string list(const std::vector<double>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + number(values[i]);
  return out + "]";
}

struct Row {
  std::string key, label, unit;
  double host, baseline, ratio;
  std::string target;
  bool met;
  std::vector<double> host_runs, baseline_runs;
};

void report(const Options& options, const Figures& host, const Figures& base) {
  const double tp_h = median(host.mb_per_s), tp_b = median(base.mb_per_s);
  const double rt_h = median(host.round_trips), rt_b = median(base.round_trips);
  const double su_h = median(host.startup_ms), su_b = median(base.startup_ms);
  const double ws_h = median(host.peak_stream_mib), ws_b = median(base.peak_stream_mib);
  const std::vector<Row> rows = {
      {"throughput", "throughput (524288-byte frames)", "MB/s", tp_h, tp_b, tp_h / tp_b, ">= 0.8 x baseline",
       tp_h >= 0.8 * tp_b, host.mb_per_s, base.mb_per_s},
      {"round_trips", "round trips (100-byte messages)", "1/s", rt_h, rt_b, rt_h / rt_b, ">= 0.8 x baseline",
       rt_h >= 0.8 * rt_b, host.round_trips, base.round_trips},
      {"startup", "start-up to handshake", "ms", su_h, su_b, su_h / su_b, "<= 1.5 x baseline", su_h <= 1.5 * su_b,
       host.startup_ms, base.startup_ms},
      {"peak_working_set", "peak working set during throughput", "MiB", ws_h, ws_b, ws_h / ws_b, "<= 8 MiB",
       !host.peak_stream_mib.empty() && ws_h <= 8.0, host.peak_stream_mib, base.peak_stream_mib},
  };

  std::string json = "{\n  \"benchmark\": \"relay\",\n";
  json += "  \"rounds\": " + std::to_string(options.rounds) + ", \"frames_per_round\": " +
          std::to_string(options.frames) + ", \"round_trips_per_round\": " + std::to_string(options.round_trips) +
          ", \"startups_per_round\": " + std::to_string(options.startups) + ",\n";
  json += "  \"peak_working_set_idle_mib\": {\"host\": " + number(median(host.peak_idle_mib)) +
          ", \"baseline\": " + number(median(base.peak_idle_mib)) + "},\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    json += "  \"" + r.key + "\": {\"unit\": \"" + r.unit + "\", \"host\": " + number(r.host) +
            ", \"baseline\": " + number(r.baseline) + ", \"ratio\": " + number(r.ratio) + ", \"target\": \"" +
            r.target + "\", \"met\": " + (r.met ? "true" : "false") + ",\n    \"host_runs\": " + list(r.host_runs) +
            ", \"baseline_runs\": " + list(r.baseline_runs) + "}" + (i + 1 < rows.size() ? "," : "") + "\n";
  }
  json += "}\n";
  std::fwrite(json.data(), 1, json.size(), stdout);
  std::fflush(stdout);

  std::fprintf(stderr, "\n%-36s %10s %10s %8s  %-18s %s\n", "relay (medians)", "host", "baseline", "ratio", "target",
               "");
  for (const Row& r : rows) {
    std::fprintf(stderr, "%-36s %10s %10s %8s  %-18s %s\n", (r.label + " " + r.unit).c_str(), number(r.host).c_str(),
                 number(r.baseline).c_str(), number(r.ratio).c_str(), r.target.c_str(), r.met ? "met" : "NOT MET");
  }
  std::fprintf(stderr, "%-36s %10s %10s\n", "peak working set after handshake MiB",
               number(median(host.peak_idle_mib)).c_str(), number(median(base.peak_idle_mib)).c_str());
}

int run(int argc, wchar_t** argv) {
  const auto options = parse_options(argc, argv);
  if (!options) {
    progress("usage: relay-bench.exe [--rounds N] [--frames N] [--round-trips N] [--startups N]");
    return 2;
  }
  host::tools::TempAppData appdata(L"relay-bench");
  const unsigned long connections = options->rounds * (2 + 2 * options->startups);
  EchoApp app(appdata.path(), connections);
  if (!app.failure().empty()) {
    progress("relay-bench: " + app.failure());
    return 1;
  }
  Bench bench(*options, app, appdata.path());
  Figures host, base;
  for (std::size_t round = 0; round < options->rounds; ++round) {
    progress("round " + std::to_string(round + 1) + " of " + std::to_string(options->rounds));
    // Alternate who goes first, so that neither always meets a warmer machine.
    const bool host_first = round % 2 == 0;
    for (const bool is_host : {host_first, !host_first}) {
      if (!bench.relay_session(is_host, is_host ? host : base)) return 1;
    }
    for (std::size_t i = 0; i < options->startups; ++i) {
      for (const bool is_host : {host_first, !host_first}) {
        if (!bench.startup(is_host, is_host ? host : base)) return 1;
      }
    }
  }
  if (app.wait_for_end() != 0u) {
    progress("relay-bench: the simulator did not end cleanly: " + app.log());
    return 1;
  }
  report(*options, host, base);
  return 0;
}

}  // namespace
}  // namespace bench

int wmain(int argc, wchar_t** argv) { return bench::run(argc, argv); }
