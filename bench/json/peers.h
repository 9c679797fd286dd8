// The round trip as each implementation does it: parse the bytes into a
// tree, then write the tree in the compact form with every object's members
// in ascending order of their key bytes. `bytes` is followed by at least
// CorpusFile::kPadding readable bytes.
#pragma once

#include <string>
#include <string_view>

namespace bench {

std::string roundtrip_host(std::string_view bytes);
std::string roundtrip_nlohmann(std::string_view bytes);
std::string roundtrip_rapidjson(std::string_view bytes);
std::string roundtrip_simdjson(std::string_view bytes);
std::string roundtrip_boostjson(std::string_view bytes);

}  // namespace bench
