// RapidJSON keeps members in input order: the round trip sorts every
// object's members in place before writing. Parsed with full-precision
// doubles (the default may be one unit in the last place off, and then the
// trees would differ) and UTF-8 validation, as the host parses.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstring>

#include "peers.h"

namespace bench {

namespace {

struct NameLess {
  bool operator()(const rapidjson::Value::Member& a, const rapidjson::Value::Member& b) const {
    const std::string_view x(a.name.GetString(), a.name.GetStringLength());
    const std::string_view y(b.name.GetString(), b.name.GetStringLength());
    return x < y;
  }
};

void sort_members(rapidjson::Value& v) {
  if (v.IsObject()) {
    std::sort(v.MemberBegin(), v.MemberEnd(), NameLess());
    for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) sort_members(m->value);
  } else if (v.IsArray()) {
    for (auto e = v.Begin(); e != v.End(); ++e) sort_members(*e);
  }
}

}  // namespace

std::string roundtrip_rapidjson(std::string_view bytes) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag>(bytes.data(),
                                                                                        bytes.size());
  if (doc.HasParseError()) return std::string();
  sort_members(doc);
  rapidjson::StringBuffer buffer;
  buffer.Reserve(bytes.size());
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  doc.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace bench
