#include "main/path_join.h"

namespace host {
namespace {

bool is_bare_drive(std::string_view p) {
  return p.size() == 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

}  // namespace

std::string join_path(std::string_view first, std::string_view second) {
  std::string out;
  out.reserve(first.size() + 1 + second.size());
  out.append(first);
  const bool separated = first.empty() || first.back() == '\\' || first.back() == '/' || is_bare_drive(first);
  if (!separated) out.push_back('\\');
  out.append(second);
  return out;
}

}  // namespace host
