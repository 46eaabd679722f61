#include "sim/station/world_file.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace sim::station {

namespace {

using nlohmann::json;

struct Reader {
  std::string error;
  int next_device = 0;

  bool Fail(const std::string& what) {
    if (error.empty()) error = what;
    return false;
  }

  bool Hex(const json& j, const char* key, std::uint16_t& out) {
    if (!j.contains(key)) return true;
    const json& v = j.at(key);
    if (v.is_number_unsigned()) {
      out = static_cast<std::uint16_t>(v.get<unsigned>());
      return true;
    }
    if (!v.is_string()) return Fail(std::string(key) + ": expected a hex text");
    const std::string s = v.get<std::string>();
    if (s.empty() || s.size() > 6) return Fail(std::string(key) + ": bad hex text \"" + s + "\"");
    std::size_t used = 0;
    unsigned long n = 0;
    try {
      n = std::stoul(s, &used, 16);
    } catch (...) {
      used = 0;
    }
    if (used != s.size() || n > 0xFFFF) return Fail(std::string(key) + ": bad hex text \"" + s + "\"");
    out = static_cast<std::uint16_t>(n);
    return true;
  }

  bool Size(const json& v, const char* key, std::uint64_t& out) {
    if (v.is_number_unsigned()) {
      out = v.get<std::uint64_t>();
      return true;
    }
    if (!v.is_string()) return Fail(std::string(key) + ": expected a size");
    const std::string s = v.get<std::string>();
    std::size_t i = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == 0) return Fail(std::string(key) + ": bad size \"" + s + "\"");
    const std::uint64_t n = std::stoull(s.substr(0, i));
    std::string unit = s.substr(i);
    while (!unit.empty() && unit.front() == ' ') unit.erase(unit.begin());
    for (auto& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::pair<const char*, std::uint64_t> kUnits[] = {
        {"", 1},
        {"B", 1},
        {"KB", 1000ULL},
        {"MB", 1000ULL * 1000},
        {"GB", 1000ULL * 1000 * 1000},
        {"TB", 1000ULL * 1000 * 1000 * 1000},
        {"KIB", 1ULL << 10},
        {"MIB", 1ULL << 20},
        {"GIB", 1ULL << 30},
        {"TIB", 1ULL << 40},
    };
    for (const auto& [name, factor] : kUnits) {
      if (unit == name) {
        out = n * factor;
        return true;
      }
    }
    return Fail(std::string(key) + ": unknown unit in \"" + s + "\"");
  }

  bool Device(const json& j, bool stick, BridgeSpec& b) {
    if (!j.is_object()) return Fail("a bridge must be an object");
    b = DefaultBridge(next_device++);
    b.mass_storage_only = stick;
    if (stick) {
      b.factory.manufacturer = "Generic";
      b.factory.product = "Flash Disk";
      b.factory.vendor_id = 0x1D6B;
      b.factory.product_id = 0x0A10;
      b.disk_size = 16ULL << 30;
    }
    if (j.contains("serial")) b.factory.serial = j.at("serial").get<std::string>();
    if (j.contains("manufacturer")) b.factory.manufacturer = j.at("manufacturer").get<std::string>();
    if (j.contains("product")) b.factory.product = j.at("product").get<std::string>();
    if (!Hex(j, "vendor_id", b.factory.vendor_id) || !Hex(j, "product_id", b.factory.product_id) ||
        !Hex(j, "release", b.factory.device_release)) {
      return false;
    }
    if (j.contains("chip_variant")) {
      std::uint16_t v = 0;
      if (!Hex(j, "chip_variant", v) || v > 0xFF) return Fail("chip_variant: expected one byte");
      b.chip_variant = static_cast<std::uint8_t>(v);
    }
    if (j.contains("firmware_version")) {
      const std::string s = j.at("firmware_version").get<std::string>();
      if ((s.size() != 12 && s.size() != 14) ||
          s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return Fail("firmware_version: expected 12 or 14 hex digits");
      }
      b.firmware_version.fill(0);
      for (std::size_t i = 0; i < s.size() / 2; ++i) {
        b.firmware_version[i] = static_cast<std::uint8_t>(std::stoul(s.substr(i * 2, 2), nullptr, 16));
      }
    }
    if (j.contains("speed")) {
      const std::string s = j.at("speed").get<std::string>();
      if (s == "super") {
        b.speed = platform::UsbSpeed::kSuper;
      } else if (s == "high") {
        b.speed = platform::UsbSpeed::kHigh;
      } else if (s == "full") {
        b.speed = platform::UsbSpeed::kFull;
      } else {
        return Fail("speed: expected super, high or full");
      }
    }
    if (j.contains("disk_size") && !Size(j.at("disk_size"), "disk_size", b.disk_size)) return false;
    if (j.contains("ata_serial")) b.ata_serial = j.at("ata_serial").get<std::string>();
    if (j.contains("cdrom")) b.presents_cdrom = j.at("cdrom").get<bool>();
    if (j.contains("instance_id")) b.instance_id = j.at("instance_id").get<std::string>();
    if (j.contains("driver_key_class")) b.driver_key_class = j.at("driver_key_class").get<std::string>();
    if (j.contains("faults")) {
      const json& f = j.at("faults");
      if (f.contains("fail_from_call")) {
        for (const auto& [op, n] : f.at("fail_from_call").items()) {
          std::uint16_t code = 0;
          json tmp = {{"op", op}};
          if (!Hex(tmp, "op", code) || code > 0xFF) return Fail("fail_from_call: bad opcode " + op);
          b.faults.fail_from_call[static_cast<std::uint8_t>(code)] = n.get<std::uint32_t>();
        }
      }
      b.faults.reject_identify = f.value("reject_identify", false);
      b.faults.never_returns = f.value("never_returns", false);
      if (f.contains("return_delay_ms")) b.faults.return_delay_ms = f.at("return_delay_ms").get<std::uint32_t>();
    }
    return true;
  }

  bool Hub(const json& j, HubSpec& hub) {
    if (!j.is_object()) return Fail("a hub must be an object");
    hub.port_count = j.value("ports", 4);
    if (hub.port_count < 1 || hub.port_count > 127) return Fail("ports: expected 1 to 127");
    if (!j.contains("devices")) return true;
    for (const json& d : j.at("devices")) {
      PortSpec p;
      p.port = d.value("port", 0);
      if (p.port < 1 || p.port > hub.port_count) {
        return Fail("port " + std::to_string(p.port) + " is not on a hub of " +
                    std::to_string(hub.port_count) + " ports");
      }
      for (const auto& other : hub.ports) {
        if (other.port == p.port) return Fail("port " + std::to_string(p.port) + " is used twice");
      }
      if (d.contains("bridge") || d.contains("stick")) {
        BridgeSpec b;
        if (!Device(d.contains("bridge") ? d.at("bridge") : d.at("stick"), !d.contains("bridge"), b)) {
          return false;
        }
        p.device = std::move(b);
      } else if (d.contains("hub")) {
        p.hub = std::make_shared<HubSpec>();
        if (!Hub(d.at("hub"), *p.hub)) return false;
      } else {
        return Fail("a port entry needs \"bridge\", \"stick\" or \"hub\"");
      }
      hub.ports.push_back(std::move(p));
    }
    return true;
  }

  bool World(const json& j, WorldSpec& w) {
    if (!j.is_object()) return Fail("the world must be a JSON object");
    if (j.contains("reload_delay_ms")) w.reload_delay_ms = j.at("reload_delay_ms").get<std::uint32_t>();
    if (j.contains("system_disk_size") && !Size(j.at("system_disk_size"), "system_disk_size", w.system_disk_size)) {
      return false;
    }
    if (!j.contains("controllers") || !j.at("controllers").is_array()) return Fail("no \"controllers\" list");
    for (const json& c : j.at("controllers")) {
      ControllerSpec cs;
      cs.driver_key_fails = c.value("driver_key_fails", false);
      if (!c.contains("root_hub")) return Fail("a controller needs a \"root_hub\"");
      if (!Hub(c.at("root_hub"), cs.root_hub)) return false;
      w.controllers.push_back(std::move(cs));
    }
    return true;
  }
};

}  // namespace

std::optional<WorldSpec> ParseWorld(std::string_view text, std::string& error) {
  Reader r;
  WorldSpec w;
  try {
    const json j = json::parse(text);
    if (!r.World(j, w)) {
      error = r.error;
      return std::nullopt;
    }
  } catch (const std::exception& e) {
    error = r.error.empty() ? e.what() : r.error;
    return std::nullopt;
  }
  return w;
}

std::optional<WorldSpec> ReadWorldFile(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot read " + file.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto w = ParseWorld(text.str(), error);
  if (!w) error = file.string() + ": " + error;
  return w;
}

}  // namespace sim::station
