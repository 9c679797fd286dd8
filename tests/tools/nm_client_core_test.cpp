// nm-client's own decisions, apart from any process: how input is cut into
// lines, which lines become frames, what its command line means, and which
// exit code and closing words a session's end gets.
#include <gtest/gtest.h>

#include <variant>

#include "main/framing.h"
#include "nm_client/client_options.h"
#include "nm_client/input_lines.h"
#include "nm_client/session_outcome.h"
#include "support/memory_channel.h"

namespace nm_client {
namespace {

using host::MAX_FRAME_LEN;
using host::test::ScriptedReader;

struct Line {
  std::string text;
  std::size_t length;
  friend bool operator==(const Line&, const Line&) = default;
};

std::vector<Line> read_all(const std::string& bytes, std::size_t max_line, std::size_t chunk) {
  ScriptedReader input(bytes, chunk);
  LineReader reader(input, max_line);
  std::vector<Line> lines;
  std::size_t expected_number = 0;
  while (auto line = reader.next()) {
    EXPECT_EQ(line->number, ++expected_number);
    lines.push_back({line->text, line->length});
  }
  EXPECT_FALSE(reader.error().has_value());
  EXPECT_FALSE(reader.next().has_value()) << "input again after its end";
  return lines;
}

TEST(NmClientLines, SplitAtLineFeedsWithCarriageReturnsDroppedAndLongLinesCounted) {
  struct Case {
    std::string input;
    std::size_t max_line;
    std::vector<Line> lines;
  };
  const std::vector<Case> cases = {
      {"", 16, {}},
      {"a", 16, {{"a", 1}}},
      {"a\nbc\n", 16, {{"a", 1}, {"bc", 2}}},
      {"a\r\nbc\r\n", 16, {{"a", 1}, {"bc", 2}}},
      {"\n\r\n", 16, {{"", 0}, {"", 0}}},
      {"x\ry\r\r\n", 16, {{"x\ry\r", 4}}},  // only the carriage return right before the line feed goes
      {"abcdefgh\nok", 4, {{"abcd", 8}, {"ok", 2}}},
      {"abcd\r\n", 4, {{"abcd", 4}}},  // at the limit, its line end not counted
      {"abcde\r\n", 4, {{"abcd", 5}}},
  };
  for (const auto& c : cases) {
    for (const std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(3), SIZE_MAX}) {
      SCOPED_TRACE(testing::Message() << "input '" << c.input << "' in chunks of " << chunk);
      EXPECT_EQ(read_all(c.input, c.max_line, chunk), c.lines);
    }
  }
}

TEST(NmClientLines, AReadErrorEndsTheInputAndIsKept) {
  ScriptedReader input("a\nb");
  input.then(host::HostError::os(6)).then(std::string("never read\n"));
  LineReader reader(input, 16);
  EXPECT_EQ(reader.next()->text, "a");
  EXPECT_EQ(reader.next()->text, "b");
  EXPECT_FALSE(reader.next().has_value());
  ASSERT_TRUE(reader.error().has_value());
  EXPECT_TRUE(reader.error()->is_os(6));
}

TEST(NmClientLines, AHugeLineTakesNoMoreThanTheLimit) {
  // 8 MiB without a line end: counted, not stored.
  ScriptedReader input(std::string(8 << 20, 'x') + "\n{}\n");
  LineReader reader(input, MAX_FRAME_LEN);
  const auto huge = reader.next();
  ASSERT_TRUE(huge.has_value());
  EXPECT_EQ(huge->length, std::size_t(8 << 20));
  EXPECT_LE(huge->text.capacity(), 2 * (MAX_FRAME_LEN + 1));
  EXPECT_TRUE(huge->too_long());
  EXPECT_EQ(reader.next()->text, "{}");
}

InputLine line_of(std::string text) {
  InputLine line;
  line.number = 1;
  line.length = text.size();
  line.text = std::move(text);
  return line;
}

TEST(NmClientLines, OnlyJsonThatFitsAFrameBothAsWrittenAndAsForwardedIsSent) {
  using Kind = LineVerdict::Kind;
  // 131071 times "1e5": 524284 bytes as written, 1179640 once the host
  // writes each as 100000.0.
  std::string growing = "[1e5";
  for (int i = 1; i < 131071; ++i) growing += ",1e5";
  growing += "]";
  ASSERT_LE(growing.size(), MAX_FRAME_LEN);
  const std::string largest = "\"" + std::string(MAX_FRAME_LEN - 2, 'x') + "\"";

  struct Case {
    std::string text;
    Kind kind;
    std::string reason_part;
  };
  const std::vector<Case> cases = {
      {R"({"z":1, "a":[1.0]})", Kind::Send, ""},
      {R"(  {"text":"caf\u00e9"}  )", Kind::Send, ""},
      {"7", Kind::Send, ""},
      {largest, Kind::Send, ""},
      {"", Kind::Blank, ""},
      {" \t ", Kind::Blank, ""},
      {"not json", Kind::Refused, "not JSON: "},
      {"{} {}", Kind::Refused, "not JSON: trailing characters"},
      {"{\"a\":1,}", Kind::Refused, "not JSON: "},
      {"\xEF\xBB\xBF{}", Kind::Refused, "not JSON: "},
      {growing, Kind::Refused, "the host would forward it as 1179640 bytes, more than one frame holds (524288)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const LineVerdict verdict = judge_line(line_of(c.text));
    EXPECT_EQ(verdict.kind, c.kind);
    EXPECT_NE(verdict.reason.find(c.reason_part), std::string::npos) << verdict.reason;
  }

  InputLine over = line_of(std::string(MAX_FRAME_LEN, ' '));
  over.length = MAX_FRAME_LEN + 1;  // as the reader leaves a longer line
  const LineVerdict verdict = judge_line(over);
  EXPECT_EQ(verdict.kind, Kind::Refused);
  EXPECT_EQ(verdict.reason, "the line has 524289 bytes, more than one frame holds (524288)");
}

TEST(NmClientOptions, CommandLines) {
  struct Case {
    std::vector<std::wstring_view> arguments;
    int which;  // 0 options, 1 usage shown, 2 usage error
    std::optional<std::wstring> host, file;
    unsigned linger_ms = 1000;
  };
  const std::vector<Case> cases = {
      {{}, 0, {}, {}},
      {{L"messages.txt"}, 0, {}, L"messages.txt"},
      {{L"--host", L"C:\\a b\\host.exe", L"m.txt"}, 0, L"C:\\a b\\host.exe", L"m.txt"},
      {{L"--linger-ms", L"0"}, 0, {}, {}, 0},
      {{L"m.txt", L"--linger-ms", L"3600000"}, 0, {}, L"m.txt", 3600000},
      {{L"--help"}, 1, {}, {}},
      {{L"m.txt", L"-h"}, 1, {}, {}},
      {{L"--host"}, 2, {}, {}},
      {{L"--host", L"a", L"--host", L"b"}, 2, {}, {}},
      {{L"a.txt", L"b.txt"}, 2, {}, {}},
      {{L"--origin", L"x"}, 2, {}, {}},
      {{L"-"}, 2, {}, {}},
      {{L"--linger-ms"}, 2, {}, {}},
      {{L"--linger-ms", L"-1"}, 2, {}, {}},
      {{L"--linger-ms", L"3600001"}, 2, {}, {}},
      {{L"--linger-ms", L"1s"}, 2, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case with " << c.arguments.size() << " arguments, expecting " << c.which);
    const auto parsed = parse_options(c.arguments);
    ASSERT_EQ(int(parsed.index()), c.which);
    if (c.which == 2) {
      EXPECT_FALSE(std::get<std::string>(parsed).empty());
    }
    if (c.which != 0) continue;
    const auto& options = std::get<ClientOptions>(parsed);
    EXPECT_EQ(options.host, c.host);
    EXPECT_EQ(options.messages_file, c.file);
    EXPECT_EQ(options.linger_ms, c.linger_ms);
  }
}

TEST(NmClientOutcome, ExitCodesAndClosingWords) {
  struct Case {
    SessionOutcome outcome;
    ExitCode code;
    std::string words;
  };
  const auto outcome = [](std::optional<std::uint32_t> exit, bool closed_first, bool reply) {
    SessionOutcome o;
    o.host_exit = exit;
    o.input_closed_first = closed_first;
    o.last_frame_is_error_reply = reply;
    return o;
  };
  SessionOutcome refused = outcome(0, true, false);
  refused.lines_refused = 2;
  SessionOutcome refused_early = outcome(0, false, false);
  refused_early.lines_refused = 1;
  SessionOutcome cut = outcome(std::nullopt, false, false);
  cut.malformed_output = "failed to fill whole buffer after 3 whole frame(s)";
  SessionOutcome noisy = outcome(0, true, false);
  noisy.stderr_bytes = 12;

  const std::vector<Case> cases = {
      {outcome(0, true, false), ExitCode::Ended, "the relay ended normally"},
      {outcome(0, true, true), ExitCode::Ended, "the relay ended normally"},  // the application may send that object
      {refused, ExitCode::LinesRefused, "2 line(s) refused"},
      {outcome(0, false, false), ExitCode::EndedEarly, "from the application's side"},
      {refused_early, ExitCode::EndedEarly, "1 line(s) refused"},
      {outcome(1, false, true), ExitCode::ErrorReply, "fixed error reply"},
      {outcome(1, true, true), ExitCode::ErrorReply, "fixed error reply"},
      {outcome(1, true, false), ExitCode::Unexpected, "without the error reply"},
      {outcome(2, true, false), ExitCode::Unexpected, "host ended, exit code 2"},
      {outcome(std::nullopt, true, false), ExitCode::Unexpected, "did not end after its input was closed"},
      {cut, ExitCode::Unexpected, "not native frames: failed to fill whole buffer after 3"},
      {noisy, ExitCode::Unexpected, "wrote 12 bytes to its standard error"},
  };
  for (const auto& c : cases) {
    const std::string words = describe_end(c.outcome);
    SCOPED_TRACE(words);
    EXPECT_EQ(exit_code(c.outcome), c.code);
    EXPECT_NE(words.find(c.words), std::string::npos);
    // Every line is a note of its own, and the last one names the end.
    EXPECT_TRUE(words.starts_with("nm-client: "));
    EXPECT_TRUE(words.ends_with("\n"));
    const std::string last = c.outcome.host_exit
                                 ? "nm-client: host ended, exit code " + std::to_string(*c.outcome.host_exit) + "\n"
                                 : "nm-client: nm-client ended the host\n";
    EXPECT_TRUE(words.ends_with(last));
  }
}

}  // namespace
}  // namespace nm_client
