#include "platform/path_access.h"

#include <algorithm>
#include <cctype>

namespace platform {

std::string JoinStationPath(std::string_view a, std::string_view b) {
  std::string r(a);
  if (!r.empty() && r.back() != '\\') r += '\\';
  while (!b.empty() && b.front() == '\\' && !r.empty()) b.remove_prefix(1);
  r += b;
  return r;
}

bool IsAbsoluteStationPath(std::string_view path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string_view FileNameOf(std::string_view station_path) {
  const auto pos = station_path.find_last_of('\\');
  return pos == std::string_view::npos ? station_path : station_path.substr(pos + 1);
}

std::string ToHostPath(std::string_view station_path, std::string_view host_workdir,
                       std::string_view drive_root) {
  std::string p(station_path);
  std::replace(p.begin(), p.end(), '\\', '/');
  const bool has_drive = p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
  if (has_drive) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
    std::string rest = p.substr(2);
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    std::string root = drive_root.empty() ? std::string(host_workdir) : std::string(drive_root);
    if (!root.empty() && root.back() != '/') root += '/';
    return root + letter + (rest.empty() ? "" : "/" + rest);
  }
  if (!p.empty() && p.front() == '/') return p;
  std::string r(host_workdir);
  if (r.empty()) return p;
  if (r.back() != '/') r += '/';
  return r + p;
}

std::string ToStationPath(std::string_view host_path) {
  std::string p(host_path);
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

}  // namespace platform
