// Reading the messages to send, one per line, from standard input or a file,
// and judging each line before it becomes a frame. Platform-neutral.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "main/byte_channel.h"

namespace nm_client {

struct InputLine {
  std::size_t number = 0;  // 1 for the first line
  std::string text;        // without its line end; only the first bytes when the line is too long
  std::size_t length = 0;  // the whole line's length in bytes, without its line end
  bool too_long() const { return length > text.size(); }
};

// Splits the input at line feeds; a carriage return before the line feed is
// dropped, and a last line without a line end still counts. At most
// max_line bytes of a line are kept: a longer line is read to its end and
// counted but not stored, so no line can take more memory than that.
class LineReader {
 public:
  LineReader(host::ByteReader& input, std::size_t max_line);

  // The next line, or nothing at the end of the input. A read error ends the
  // input too; error() then holds it.
  std::optional<InputLine> next();
  const std::optional<host::HostError>& error() const { return error_; }

 private:
  bool fill();

  host::ByteReader& input_;
  std::size_t max_line_;
  std::vector<char> chunk_;
  std::size_t begin_ = 0, end_ = 0;
  std::size_t number_ = 0;
  bool ended_ = false;
  std::optional<host::HostError> error_;
};

// What becomes of one line.
struct LineVerdict {
  enum class Kind {
    Send,     // valid: the line's bytes go to the host as one frame, unchanged
    Blank,    // nothing but blanks and tabs: skipped without a word
    Refused,  // reason says why; nothing is sent
  };
  Kind kind = Kind::Send;
  std::string reason;
};

// A line is sent when it is one JSON text that fits a frame as written and
// also after the host has rewritten it in its compact form, which can be
// longer (1e5 becomes 100000.0): a frame the host could not forward would
// end the relay without a word.
LineVerdict judge_line(const InputLine& line);

}  // namespace nm_client
