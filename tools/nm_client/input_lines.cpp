#include "nm_client/input_lines.h"

#include <algorithm>

#include "json/json.h"
#include "main/framing.h"

namespace nm_client {
namespace {

constexpr std::size_t chunk_size = 64 * 1024;

std::string too_long_reason(std::size_t length, std::string_view what) {
  return std::string(what) + " " + std::to_string(length) + " bytes, more than one frame holds (" +
         std::to_string(host::MAX_FRAME_LEN) + ")";
}

}  // namespace

LineReader::LineReader(host::ByteReader& input, std::size_t max_line)
    : input_(input), max_line_(max_line), chunk_(chunk_size) {}

bool LineReader::fill() {
  if (ended_) return false;
  for (;;) {
    auto got = input_.read(chunk_);
    if (!got) {
      if (got.error().kind() == host::ErrorKind::Interrupted) continue;
      error_ = std::move(got.error());
      ended_ = true;
      return false;
    }
    if (*got == 0) {
      ended_ = true;
      return false;
    }
    begin_ = 0;
    end_ = *got;
    return true;
  }
}

std::optional<InputLine> LineReader::next() {
  InputLine line;
  bool any = false;          // a byte or a line end of this line was seen
  bool last_was_cr = false;  // the line's last byte so far is a carriage return
  for (;;) {
    if (begin_ == end_ && !fill()) break;
    any = true;
    const char* from = chunk_.data() + begin_;
    const char* stop = chunk_.data() + end_;
    const char* lf = std::find(from, stop, '\n');
    const std::size_t n = static_cast<std::size_t>(lf - from);
    if (n > 0) {
      // One byte beyond the limit is kept so that a carriage return there
      // can still be told from text.
      const std::size_t room = max_line_ + 1 > line.text.size() ? max_line_ + 1 - line.text.size() : 0;
      line.text.append(from, std::min(n, room));
      line.length += n;
      last_was_cr = from[n - 1] == '\r';
    }
    begin_ += n;
    if (lf != stop) {
      ++begin_;  // the line feed
      break;
    }
  }
  if (!any) return std::nullopt;
  if (last_was_cr) {
    --line.length;
    if (line.text.size() > line.length) line.text.resize(line.length);
  }
  if (line.text.size() > max_line_) line.text.resize(max_line_);
  line.number = ++number_;
  return line;
}

LineVerdict judge_line(const InputLine& line) {
  if (line.too_long()) return {LineVerdict::Kind::Refused, too_long_reason(line.length, "the line has")};
  if (std::all_of(line.text.begin(), line.text.end(), [](char c) { return c == ' ' || c == '\t'; })) {
    return {LineVerdict::Kind::Blank, {}};
  }
  auto value = host::json::parse_json(line.text);
  if (!value) return {LineVerdict::Kind::Refused, "not JSON: " + value.error().describe()};
  if (line.text.size() > host::MAX_FRAME_LEN) {
    return {LineVerdict::Kind::Refused, too_long_reason(line.text.size(), "the line has")};
  }
  const std::size_t forwarded = host::json::to_json_bytes(*value).size();
  if (forwarded > host::MAX_FRAME_LEN) {
    return {LineVerdict::Kind::Refused, too_long_reason(forwarded, "the host would forward it as")};
  }
  return {LineVerdict::Kind::Send, {}};
}

}  // namespace nm_client
