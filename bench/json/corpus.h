// The documents the JSON round-trip benchmark runs on, generated in memory
// from a fixed seed: the same bytes on every run and every machine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct CorpusFile {
  std::string name;
  // The document followed by kPadding zero bytes, so that parsers that read
  // ahead in blocks can be handed the bytes without a copy.
  std::string storage;
  std::string_view bytes() const { return std::string_view(storage.data(), storage.size() - kPadding); }

  static constexpr std::size_t kPadding = 64;
};

// message_2k, page_context_500k, objects_500k, doubles_500k, message_100.
std::vector<CorpusFile> make_corpus();

}  // namespace bench
