// app-simulator.exe: the desktop application's side of the host's pipe, for
// the integration tests and the demo.
//
//   app-simulator.exe <behaviour> [args] [--connections N] [--quiet]
//
// It creates a fresh pipe, publishes it with a fresh nonce in the runtime
// endpoint file under %APPDATA%, prints "ready <pipe path>", then serves N
// connections (1 unless given) one after another and exits. Everything it
// sees and does is logged on standard output, one line each:
//   handshake ok | handshake refused <body>
//   recv <length> <body>   (or recv <length> fnv1a=<16 hex> for a long or multi-line body)
//   sent <length>          a whole frame written
//   sent-raw <count>       raw bytes written (send-hex)
//   sent-header <length>   a length header written with no body (bad-size)
//   closed eof | closed error <code> | closed refused | closed self | closed too-long <length>
// --quiet leaves out the recv and sent lines, so that a benchmark measures
// the relay and not this log.
// Exit code: 0 when its connections are served, 1 when it cannot set up,
// 2 on a usage error, 3 when a handshake was refused.

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "sim_frames.h"
#include "sim_io.h"
#include "windows/unique_handle.h"

namespace sim {
namespace {

using host::win::UniqueHandle;

constexpr std::string_view approved_origin = "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";
constexpr int exit_ok = 0, exit_setup_failed = 1, exit_usage = 2, exit_refused = 3;

enum class Behaviour { Echo, AnswerFirst, CloseAfterHandshake, Flood, BadSize, BadJson, Maintenance, Busy, SendHex };

struct Options {
  Behaviour behaviour = Behaviour::Echo;
  unsigned long flood_count = 0;
  std::string raw;  // send-hex
  unsigned long connections = 1;
  bool quiet = false;
};

constexpr std::string_view usage =
    "usage: app-simulator.exe <behaviour> [args] [--connections N] [--quiet]\n"
    "behaviours: echo | answer-first | close-after-handshake | flood N | bad-size | bad-json |\n"
    "            maintenance | busy | send-hex HEX";

std::optional<unsigned long> parse_count(std::wstring_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned long value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

std::optional<Options> parse_options(int argc, wchar_t** argv) {
  if (argc < 2) return std::nullopt;
  const std::wstring_view name = argv[1];
  Options options;
  int next = 2;
  const auto argument = [&]() -> std::optional<std::wstring_view> {
    if (next >= argc) return std::nullopt;
    return std::wstring_view(argv[next++]);
  };
  if (name == L"echo") {
    options.behaviour = Behaviour::Echo;
  } else if (name == L"answer-first") {
    options.behaviour = Behaviour::AnswerFirst;
  } else if (name == L"close-after-handshake") {
    options.behaviour = Behaviour::CloseAfterHandshake;
  } else if (name == L"flood") {
    options.behaviour = Behaviour::Flood;
    const auto count = argument();
    const auto n = count ? parse_count(*count) : std::nullopt;
    if (!n) return std::nullopt;
    options.flood_count = *n;
  } else if (name == L"bad-size") {
    options.behaviour = Behaviour::BadSize;
  } else if (name == L"bad-json") {
    options.behaviour = Behaviour::BadJson;
  } else if (name == L"maintenance") {
    options.behaviour = Behaviour::Maintenance;
  } else if (name == L"busy") {
    options.behaviour = Behaviour::Busy;
  } else if (name == L"send-hex") {
    options.behaviour = Behaviour::SendHex;
    const auto hex = argument();
    auto bytes = hex ? parse_hex(*hex) : std::nullopt;
    if (!bytes || bytes->empty()) return std::nullopt;
    options.raw = std::move(*bytes);
  } else {
    return std::nullopt;
  }
  while (next < argc) {
    const std::wstring_view option = argv[next++];
    if (option == L"--quiet") {
      options.quiet = true;
      continue;
    }
    if (option != L"--connections") return std::nullopt;
    const auto count = argument();
    const auto n = count ? parse_count(*count) : std::nullopt;
    if (!n || *n == 0) return std::nullopt;
    options.connections = *n;
  }
  return options;
}

std::wstring widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A byte-mode instance of the pipe, overlapped so that the flood behaviour
// can read and write at once. max_instances 2 lets the next connection's
// instance exist before the current one is closed; only one ever listens.
UniqueHandle create_instance(const std::wstring& name, DWORD max_instances, bool first) {
  return UniqueHandle(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, max_instances, 64 * 1024, 64 * 1024, 0, nullptr));
}

// %APPDATA%\com.velmorantix.lab\browser-context-runtime.json, folder made
// if needed. 0 or the error code.
DWORD publish_endpoint(const std::string& endpoint, const std::string& nonce) {
  std::wstring appdata(32768, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", appdata.data(), DWORD(appdata.size()));
  if (n == 0 || n >= appdata.size()) return ERROR_ENVVAR_NOT_FOUND;
  appdata.resize(n);
  const std::wstring folder = appdata + L"\\com.velmorantix.lab";
  for (const auto& dir : {appdata, folder}) {
    if (!::CreateDirectoryW(dir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return ::GetLastError();
  }
  const std::string text = "{\"endpoint\":\"" + json_escape(endpoint) + "\",\"nonce\":\"" + nonce + "\"}";
  const UniqueHandle file(::CreateFileW((folder + L"\\browser-context-runtime.json").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  DWORD wrote = 0;
  if (!::WriteFile(file.get(), text.data(), DWORD(text.size()), &wrote, nullptr)) return ::GetLastError();
  return wrote == text.size() ? 0 : ERROR_WRITE_FAULT;
}

std::string closed_line(const Incoming& in) {
  switch (in.kind) {
    case Incoming::Kind::End:
      return "closed eof";
    case Incoming::Kind::TooLong:
      return "closed too-long " + std::to_string(in.announced);
    default:
      return "closed error " + std::to_string(in.code);
  }
}

std::string write_failed_line(DWORD code) { return "closed error " + std::to_string(code); }

// False with --quiet: no line per frame received or sent.
bool log_frames = true;

// Sends one frame and logs it; 0 or the error code.
DWORD send_frame(HANDLE pipe, std::string_view body) {
  const DWORD code = write_all(pipe, frame(body));
  if (code == 0 && log_frames) log_line("sent " + std::to_string(body.size()));
  return code;
}

// Reads and logs frames until the client leaves; with echo, writes each
// back unchanged. Returns the closing line.
std::string receive_loop(HANDLE pipe, bool echo) {
  for (;;) {
    Incoming in = receive_frame(pipe);
    if (in.kind != Incoming::Kind::Frame) return closed_line(in);
    if (log_frames) log_line("recv " + std::to_string(in.body.size()) + " " + describe_body(in.body));
    if (echo) {
      if (const DWORD code = send_frame(pipe, in.body)) return write_failed_line(code);
    }
  }
}

// flood N: N frames out as fast as the pipe takes them while another thread
// reads and logs what comes in; ends when the client has left.
std::string flood(HANDLE pipe, unsigned long count) {
  std::string reader_end;
  std::thread reader([&] { reader_end = receive_loop(pipe, false); });
  DWORD failed = 0;
  for (unsigned long i = 0; i < count && failed == 0; ++i) {
    const std::string body = "{\"seq\":" + std::to_string(i) + ",\"pad\":\"" + std::string(i % 1000, 'x') + "\"}";
    failed = send_frame(pipe, body);
  }
  reader.join();
  return reader_end;
}

// One connection on a listening instance. Returns the closing line; sets
// refused when the handshake was not the expected bytes.
std::string serve_connection(HANDLE pipe, const Options& options, const std::string& handshake, bool& refused) {
  if (const DWORD code = accept_client(pipe)) return "closed error " + std::to_string(code);
  const Incoming first = receive_frame(pipe);
  if (first.kind != Incoming::Kind::Frame) return closed_line(first);
  if (first.body != handshake) {
    log_line("handshake refused " + describe_body(first.body));
    refused = true;
    return "closed refused";
  }
  log_line("handshake ok");

  DWORD code = 0;
  switch (options.behaviour) {
    case Behaviour::Echo:
      return receive_loop(pipe, true);
    case Behaviour::AnswerFirst:
      code = send_frame(pipe, "{\"type\":\"hello\"}");
      return code ? write_failed_line(code) : receive_loop(pipe, true);
    case Behaviour::CloseAfterHandshake:
      return "closed self";
    case Behaviour::Flood:
      return flood(pipe, options.flood_count);
    case Behaviour::BadSize:
      code = write_all(pipe, frame_header(max_body + 1));
      if (code) return write_failed_line(code);
      log_line("sent-header " + std::to_string(max_body + 1));
      return receive_loop(pipe, false);
    case Behaviour::BadJson:
      code = send_frame(pipe, "{\"a\":");
      return code ? write_failed_line(code) : receive_loop(pipe, false);
    case Behaviour::Maintenance:
      return receive_loop(pipe, false);
    case Behaviour::SendHex:
      code = write_all(pipe, options.raw);
      if (code) return write_failed_line(code);
      log_line("sent-raw " + std::to_string(options.raw.size()));
      return receive_loop(pipe, true);
    case Behaviour::Busy:
      break;
  }
  return "closed self";
}

// busy: the only instance taken by the simulator's own client, so every
// other open gets ERROR_PIPE_BUSY. Returns that client, or nothing.
UniqueHandle occupy(HANDLE pipe, const std::wstring& name) {
  UniqueHandle own_client(
      ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!own_client) {
    complain("cannot connect to its own pipe: error " + std::to_string(::GetLastError()));
    return {};
  }
  if (const DWORD code = accept_client(pipe)) {
    complain("cannot accept its own client: error " + std::to_string(code));
    return {};
  }
  return own_client;
}

// Standard input ending (or failing) is the busy simulator's signal to go.
void wait_for_stdin_end() {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD got = 0;
  while (::ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
}

int run(int argc, wchar_t** argv) {
  const auto options = parse_options(argc, argv);
  if (!options) {
    complain(usage);
    return exit_usage;
  }
  log_frames = !options->quiet;
  const std::string suffix = random_hex(8), nonce = random_hex(16);
  if (suffix.empty() || nonce.empty()) {
    complain("no random bytes from the system");
    return exit_setup_failed;
  }
  const std::string endpoint = "\\\\.\\pipe\\velmorantix-sim-" + suffix;
  const std::wstring name = widen(endpoint);
  const bool busy = options->behaviour == Behaviour::Busy;
  UniqueHandle pipe = create_instance(name, busy ? 1 : 2, true);
  if (!pipe) {
    complain("cannot create the pipe: error " + std::to_string(::GetLastError()));
    return exit_setup_failed;
  }
  UniqueHandle own_client;
  if (busy) {
    own_client = occupy(pipe.get(), name);
    if (!own_client) return exit_setup_failed;
  }
  if (const DWORD code = publish_endpoint(endpoint, nonce)) {
    complain("cannot write the runtime endpoint file: error " + std::to_string(code));
    return exit_setup_failed;
  }
  log_line("ready " + endpoint);
  if (busy) {
    wait_for_stdin_end();
    return exit_ok;
  }

  const std::string handshake =
      "{\"nonce\":\"" + nonce + "\",\"origin\":\"" + std::string(approved_origin) + "\",\"type\":\"transportAuth\"}";
  bool any_refused = false;
  for (unsigned long served = 0; served < options->connections; ++served) {
    bool refused = false;
    const std::string end = serve_connection(pipe.get(), *options, handshake, refused);
    any_refused = any_refused || refused;
    // The next instance listens before this one closes and before the log
    // says so, so a test that starts the next host on "closed" finds it.
    UniqueHandle next;
    if (served + 1 < options->connections) {
      next = create_instance(name, 2, false);
      if (!next) {
        complain("cannot create the next pipe instance: error " + std::to_string(::GetLastError()));
        return exit_setup_failed;
      }
    }
    pipe = std::move(next);  // closing the served instance: the client sees a broken pipe
    log_line(end);
  }
  return any_refused ? exit_refused : exit_ok;
}

}  // namespace
}  // namespace sim

int wmain(int argc, wchar_t** argv) { return sim::run(argc, argv); }
