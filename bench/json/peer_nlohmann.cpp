// nlohmann::json keeps objects in a std::map<std::string, ...>, whose order
// is the keys' bytes compared as unsigned: dump() writes them sorted.
#include <nlohmann/json.hpp>

#include "peers.h"

namespace bench {

std::string roundtrip_nlohmann(std::string_view bytes) {
  const nlohmann::json tree = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (tree.is_discarded()) return std::string();
  return tree.dump();
}

}  // namespace bench
