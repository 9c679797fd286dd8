// Deterministic corpus: std::mt19937_64 is defined bit for bit by the
// standard, and every value is derived from its raw output (the standard
// distributions are not portable), so a given seed gives the same bytes
// everywhere.
#include "corpus.h"

#include <charconv>
#include <cstdint>
#include <random>

namespace bench {

namespace {

class Source {
 public:
  explicit Source(std::uint64_t seed) : engine_(seed) {}
  // A value in [0, n); n small enough that the modulo bias does not matter.
  std::uint64_t below(std::uint64_t n) { return engine_() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }
  std::uint64_t bits() { return engine_(); }

 private:
  std::mt19937_64 engine_;
};

constexpr std::string_view kWords[] = {
    "context", "browser", "window",  "session", "request", "document", "render", "stream",
    "message", "native",  "element", "section", "heading", "paragraph", "link",  "image",
    "table",   "cell",    "frame",   "script",  "style",   "token",    "value", "record"};

std::string word(Source& s) { return std::string(kWords[s.below(std::size(kWords))]); }

void append_uint(std::string& out, std::uint64_t v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void append_int(std::string& out, std::int64_t v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// A double in its shortest digits, plain or scientific, whichever is
// shorter; an integral value gets ".0" so that it stays a float literal.
void append_double(std::string& out, double d) {
  char buf[40];
  const std::string_view text(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, d).ptr - buf));
  out += text;
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

double some_double(Source& s) {
  switch (s.below(4)) {
    case 0:  // full precision in [0, 1000), e.g. a coordinate or a score
      return static_cast<double>(s.bits() >> 11) / 9007199254740992.0 * 1000.0 + 0.5;
    case 1:  // a short decimal, e.g. 12.25 or -0.375
      return (static_cast<double>(s.below(200000)) + 0.125) / 8.0 * (s.chance(30) ? -1 : 1);
    case 2:  // small magnitudes
      return static_cast<double>((s.bits() >> 11) | 1) * 1e-22;
    default:  // large magnitudes, written in scientific notation
      return (static_cast<double>(s.bits() >> 11) + 0.5) * 1e12 * (s.chance(50) ? -1 : 1);
  }
}

void append_key(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}

// Printable ASCII text of about `size` bytes from the word list.
std::string sentence(Source& s, std::size_t size) {
  std::string text;
  while (text.size() < size) {
    if (!text.empty()) text += ' ';
    text += word(s);
  }
  return text;
}

// (a) A typical message from an extension: 20 string members, a nested
// array of small objects, a few integers and floats.
std::string message_2k(Source& s) {
  std::string out = "{\"type\":\"pageContext\",";
  append_key(out, "requestId");
  append_uint(out, 10000 + s.below(90000));
  out += ',';
  const char* names[] = {"title",   "url",      "origin",   "referrer", "language", "charset", "selection",
                         "summary", "author",   "keywords", "canonical", "favicon", "viewport", "theme",
                         "section", "heading",  "locale",   "platform", "userAgent"};
  for (const char* name : names) {
    append_key(out, name);
    out += '"';
    out += sentence(s, 30 + s.below(40));
    out += "\",";
  }
  append_key(out, "frames");
  out += '[';
  for (int i = 0; i < 6; ++i) {
    if (i) out += ',';
    out += "{\"id\":";
    append_uint(out, s.below(1000));
    out += ",\"url\":\"https://example.org/";
    out += word(s);
    out += "\",\"visible\":";
    out += s.chance(50) ? "true" : "false";
    out += ",\"ratio\":";
    append_double(out, some_double(s));
    out += '}';
  }
  out += "],";
  append_key(out, "tabId");
  append_uint(out, s.below(5000));
  out += ',';
  append_key(out, "windowId");
  append_int(out, -static_cast<std::int64_t>(s.below(5000)) - 1);
  out += ',';
  append_key(out, "scroll");
  append_double(out, some_double(s));
  out += ',';
  append_key(out, "zoom");
  out += "1.25,";
  append_key(out, "timestamp");
  append_uint(out, 1700000000000 + s.below(100000000));
  out += '}';
  return out;
}

// The escapes a page's text brings along, and text beyond ASCII.
constexpr std::string_view kEscaped[] = {"\\n", "\\t", "\\\"", "\\\\", "\\/", "\\r", "\\u00e9", "\\u2014",
                                         "\\ud83d\\ude00", "\\u0001"};
constexpr std::string_view kNonAscii[] = {"\xC3\xA9t\xC3\xA9", "gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC",
                                          "\xD0\xBC\xD0\xB8\xD1\x80", "\xF0\x9F\x8C\x8D", "na\xC3\xAFve"};

// (b) Page context: a few metadata members and one large string.
std::string page_context_500k(Source& s) {
  std::string out = "{\"url\":\"https://example.org/articles/2024/native-hosts\",\"title\":\"";
  out += sentence(s, 60);
  out += "\",\"lang\":\"en\",\"wordCount\":";
  append_uint(out, 80000 + s.below(1000));
  out += ",\"readingTime\":";
  append_double(out, some_double(s));
  out += ",\"text\":\"";
  const std::size_t target = 500 * 1024;
  while (out.size() < target) {
    const std::uint64_t pick = s.below(100);
    if (pick < 8) {
      out += kEscaped[s.below(std::size(kEscaped))];
    } else if (pick < 16) {
      out += ' ';
      out += kNonAscii[s.below(std::size(kNonAscii))];
    } else {
      out += ' ';
      out += word(s);
    }
  }
  out += "\"}";
  return out;
}

// (c) 5,000 small objects of 8 mixed members, about 100 bytes each.
std::string objects_500k(Source& s) {
  std::string out = "[";
  for (int i = 0; i < 5000; ++i) {
    if (i) out += ',';
    out += "{\"id\":";
    append_uint(out, static_cast<std::uint64_t>(i) * 7919 % 100003);
    out += ",\"name\":\"";
    out += word(s);
    out += "\",\"kind\":\"";
    out += word(s);
    out += "\",\"x\":";
    append_double(out, static_cast<double>(s.below(20000) * 4 + 1) / 16.0);
    out += ",\"dx\":";
    append_int(out, -static_cast<std::int64_t>(s.below(1000)) - 1);
    out += ",\"on\":";
    out += s.chance(50) ? "true" : "false";
    out += ",\"up\":";
    if (s.chance(50)) {
      out += "null";
    } else {
      append_uint(out, s.below(5000));
    }
    out += ",\"tags\":[\"";
    out += word(s);
    out += "\"]}";
  }
  out += ']';
  return out;
}

// (d) An array of doubles.
std::string doubles_500k(Source& s) {
  std::string out = "[";
  while (out.size() < 500 * 1024) {
    if (out.size() > 1) out += ',';
    append_double(out, some_double(s));
  }
  out += ']';
  return out;
}

// (e) A 100-byte message.
std::string message_100(Source& s) {
  std::string out = "{\"type\":\"ping\",\"id\":";
  append_uint(out, 100 + s.below(900));
  out += ",\"tabId\":";
  append_uint(out, 1000 + s.below(9000));
  out += ",\"url\":\"https://example.org/";
  while (out.size() < 84) out += static_cast<char>('a' + s.below(26));
  out += "\",\"ok\":true}";
  return out;
}

CorpusFile file(std::string name, std::string bytes) {
  bytes.append(CorpusFile::kPadding, '\0');
  return CorpusFile{std::move(name), std::move(bytes)};
}

}  // namespace

std::vector<CorpusFile> make_corpus() {
  Source s(0x5EED'2024'0001ull);
  std::vector<CorpusFile> files;
  files.push_back(file("message_2k", message_2k(s)));
  files.push_back(file("page_context_500k", page_context_500k(s)));
  files.push_back(file("objects_500k", objects_500k(s)));
  files.push_back(file("doubles_500k", doubles_500k(s)));
  files.push_back(file("message_100", message_100(s)));
  return files;
}

}  // namespace bench
