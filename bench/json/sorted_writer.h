// The compact writer for the peers whose trees cannot be reordered in place
// (simdjson's DOM, Boost.JSON's objects): they walk their tree, sort each
// object's members on the way and write through this. Strings are escaped
// the way the host escapes them; doubles take std::to_chars' shortest
// digits with ".0" added to integral values, so they read back as the same
// floats although their text may differ from the host's.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace bench {

class SortedWriter {
 public:
  explicit SortedWriter(std::size_t expected_size) { out_.reserve(expected_size); }

  void raw(char c) { out_ += c; }
  void raw(std::string_view s) { out_ += s; }

  void string(std::string_view s) {
    out_ += '"';
    const char* p = s.data();
    const char* const end = p + s.size();
    const char* run = p;
    for (; p != end; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(run, p);
      escape(c);
      run = p + 1;
    }
    out_.append(run, end);
    out_ += '"';
  }

  void number(std::uint64_t v) {
    char buf[24];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  }
  void number(std::int64_t v) {
    char buf[24];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  }
  void number(double d) {
    char buf[40];
    char* end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    if (std::memchr(buf, '.', static_cast<std::size_t>(end - buf)) == nullptr &&
        std::memchr(buf, 'e', static_cast<std::size_t>(end - buf)) == nullptr) {
      *end++ = '.';
      *end++ = '0';
    }
    out_.append(buf, end);
  }

  std::string take() { return std::move(out_); }

 private:
  void escape(unsigned char c) {
    switch (c) {
      case '"':
        out_ += "\\\"";
        return;
      case '\\':
        out_ += "\\\\";
        return;
      case '\b':
        out_ += "\\b";
        return;
      case '\t':
        out_ += "\\t";
        return;
      case '\n':
        out_ += "\\n";
        return;
      case '\f':
        out_ += "\\f";
        return;
      case '\r':
        out_ += "\\r";
        return;
      default: {
        constexpr char hex[] = "0123456789abcdef";
        const char u[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
        out_.append(u, sizeof u);
      }
    }
  }

  std::string out_;
};

}  // namespace bench
