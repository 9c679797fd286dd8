#include "json/json.h"
#include "peers.h"

namespace bench {

std::string roundtrip_host(std::string_view bytes) {
  auto value = host::json::parse_json(bytes);
  if (!value) return std::string();
  return host::json::to_json_bytes(*value);
}

}  // namespace bench
