#include "sim/station/world_file.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sim/station/sim_disk.h"

namespace sim::station {

namespace {

using nlohmann::json;

// Walks the text once before it is read, to learn the line of every member
// and element (by JSON pointer) and to stop a text nested deeper than any
// world can be before anything recurses over it.
class LineIndex final : public nlohmann::json_sax<json> {
 public:
  // A character iterator that counts the lines it has passed.
  struct Chars {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    const char* at = nullptr;
    int* line = nullptr;
    reference operator*() const { return *at; }
    Chars& operator++() {
      if (*at == '\n') ++*line;
      ++at;
      return *this;
    }
    Chars operator++(int) {
      Chars before = *this;
      ++*this;
      return before;
    }
    bool operator==(const Chars& other) const { return at == other.at; }
  };

  // False with `error` set when the text is no JSON or nested too deep.
  bool Index(std::string_view text) {
    Chars first{text.data(), &line_};
    Chars last{text.data() + text.size(), &line_};
    return json::sax_parse(first, last, this);
  }
  const std::map<std::string, int>& Lines() const { return lines_; }
  const std::string& Error() const { return error_; }

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(false); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    std::string escaped;
    for (char c : name) {
      if (c == '~') {
        escaped += "~0";
      } else if (c == '/') {
        escaped += "~1";
      } else {
        escaped += c;
      }
    }
    frames_.back().member = escaped;
    lines_[Pointer()] = line_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = e.what();
    return false;
  }

 private:
  struct Frame {
    bool array = false;
    std::size_t next = 0;  // the next element's index
    std::string member;    // the current member's name, escaped
  };

  std::string Pointer() const {
    std::string p;
    for (const Frame& f : frames_) p += "/" + (f.array ? std::to_string(f.next) : f.member);
    return p;
  }
  // A value begins: an array element gets its line.
  void Begin() {
    if (!frames_.empty() && frames_.back().array) lines_[Pointer()] = line_;
  }
  // A value has ended.
  void End() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().next;
  }
  bool Value() {
    Begin();
    End();
    return true;
  }
  bool Open(bool array) {
    Begin();
    if (frames_.size() >= kMaxWorldNesting) {
      error_ = "line " + std::to_string(line_) + ": nested deeper than " + std::to_string(kMaxWorldNesting) +
               " levels";
      return false;
    }
    frames_.push_back({array, 0, {}});
    if (frames_.size() == 1) lines_[""] = line_;
    return true;
  }
  bool Close() {
    frames_.pop_back();
    End();
    return true;
  }

  int line_ = 1;
  std::vector<Frame> frames_;
  std::map<std::string, int> lines_;
  std::string error_;
};

struct Reader {
  std::string error;
  int next_device = 0;
  std::map<const json*, int> lines;  // the line of each value of the text

  int LineOf(const json& where) const {
    const auto it = lines.find(&where);
    return it == lines.end() ? 0 : it->second;
  }
  // Fails with "line N: what", N the line of `where`.
  bool Fail(const json& where, const std::string& what) {
    if (error.empty()) {
      const int line = LineOf(where);
      error = line > 0 ? "line " + std::to_string(line) + ": " + what : what;
    }
    return false;
  }

  // A whole number in [min, max] from a number or (with `hex`) a hex text.
  bool Number(const json& j, const char* key, std::uint64_t min, std::uint64_t max, std::uint64_t& out,
              bool hex = false) {
    const json& v = j.at(key);
    const auto range = [&] {
      return Fail(v, std::string(key) + ": expected a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + (hex ? " (or a hex text)" : ""));
    };
    if (v.is_number_unsigned()) {
      out = v.get<std::uint64_t>();
    } else if (hex && v.is_string()) {
      std::string s = v.get<std::string>();
      if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
      const auto r = std::from_chars(s.data(), s.data() + s.size(), out, 16);
      if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        return Fail(v, std::string(key) + ": bad hex text \"" + v.get<std::string>() + "\"");
      }
    } else {
      return range();  // negative, fractional or not a number
    }
    return out >= min && out <= max ? true : range();
  }
  template <typename T>
  bool Number(const json& j, const char* key, std::uint64_t min, std::uint64_t max, T& out, bool hex = false) {
    if (!j.contains(key)) return true;
    std::uint64_t n = 0;
    if (!Number(j, key, min, max, n, hex)) return false;
    out = static_cast<T>(n);
    return true;
  }
  bool Text(const json& j, const char* key, std::size_t max_length, std::string& out) {
    if (!j.contains(key)) return true;
    const json& v = j.at(key);
    if (!v.is_string()) return Fail(v, std::string(key) + ": expected a text");
    if (v.get_ref<const std::string&>().size() > max_length) {
      return Fail(v, std::string(key) + ": longer than " + std::to_string(max_length) + " characters");
    }
    out = v.get<std::string>();
    return true;
  }
  bool Flag(const json& j, const char* key, bool& out) {
    if (!j.contains(key)) return true;
    const json& v = j.at(key);
    if (!v.is_boolean()) return Fail(v, std::string(key) + ": expected true or false");
    out = v.get<bool>();
    return true;
  }

  // Bytes as a number, or as a text with a unit: "2TB", "512 GiB".
  bool Size(const json& j, const char* key, std::uint64_t min, std::uint64_t& out) {
    if (!j.contains(key)) return true;
    const json& v = j.at(key);
    const auto limits = [&](const std::string& said) {
      return Fail(v, std::string(key) + ": " + said + " is not a size from " + std::to_string(min) + " to " +
                         std::to_string(kMaxSimDiskBytes) + " bytes");
    };
    if (v.is_number_unsigned()) {
      out = v.get<std::uint64_t>();
      return out >= min && out <= kMaxSimDiskBytes ? true : limits(v.dump());
    }
    if (!v.is_string()) return limits(v.dump());
    const std::string s = v.get<std::string>();
    std::uint64_t n = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
    if (r.ptr == s.data()) return Fail(v, std::string(key) + ": bad size \"" + s + "\"");
    if (r.ec != std::errc()) return limits("\"" + s + "\"");
    std::string unit(r.ptr, s.data() + s.size());
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
      if (unit != name) continue;
      // Checked before multiplying, so no size wraps around.
      if (n > kMaxSimDiskBytes / factor || n * factor < min) return limits("\"" + s + "\"");
      out = n * factor;
      return true;
    }
    return Fail(v, std::string(key) + ": unknown unit in \"" + s + "\"");
  }

  bool Device(const json& j, bool stick, BridgeSpec& b) {
    if (!j.is_object()) return Fail(j, "a bridge must be an object");
    b = DefaultBridge(next_device++);
    b.mass_storage_only = stick;
    if (stick) {
      b.factory.manufacturer = "Generic";
      b.factory.product = "Flash Disk";
      b.factory.vendor_id = 0x1D6B;
      b.factory.product_id = 0x0A10;
      b.disk_size = 16ULL << 30;
    }
    if (!Text(j, "serial", kMaxUsbText, b.factory.serial) ||
        !Text(j, "manufacturer", kMaxUsbText, b.factory.manufacturer) ||
        !Text(j, "product", kMaxUsbText, b.factory.product) ||
        !Number(j, "vendor_id", 0, 0xFFFF, b.factory.vendor_id, true) ||
        !Number(j, "product_id", 0, 0xFFFF, b.factory.product_id, true) ||
        !Number(j, "release", 0, 0xFFFF, b.factory.device_release, true) ||
        !Number(j, "chip_variant", 0, 0xFF, b.chip_variant, true)) {
      return false;
    }
    if (j.contains("firmware_version")) {
      std::string s;
      if (!Text(j, "firmware_version", 14, s)) return false;
      if ((s.size() != 12 && s.size() != 14) ||
          s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return Fail(j.at("firmware_version"), "firmware_version: expected 12 or 14 hex digits");
      }
      b.firmware_version.fill(0);
      for (std::size_t i = 0; i < s.size() / 2; ++i) {
        std::from_chars(s.data() + 2 * i, s.data() + 2 * i + 2, b.firmware_version[i], 16);
      }
    }
    if (j.contains("speed")) {
      std::string s;
      if (!Text(j, "speed", 5, s)) return false;
      if (s == "super") {
        b.speed = platform::UsbSpeed::kSuper;
      } else if (s == "high") {
        b.speed = platform::UsbSpeed::kHigh;
      } else if (s == "full") {
        b.speed = platform::UsbSpeed::kFull;
      } else {
        return Fail(j.at("speed"), "speed: expected super, high or full");
      }
    }
    if (j.contains("sector_size")) {
      if (!Number(j, "sector_size", 0, kSim4KnSectorSize, b.sector_size)) return false;
      if (b.sector_size != kSimSectorSize && b.sector_size != kSim4KnSectorSize) {
        return Fail(j.at("sector_size"), "sector_size: expected 512 or 4096");
      }
    }
    if (j.contains("disk_backing")) {
      const json& v = j.at("disk_backing");
      if (v == "loop") {
        b.disk_backing = DiskBacking::kLoop;
      } else if (v == "image") {
        b.disk_backing = DiskBacking::kImage;
      } else {
        return Fail(v, "disk_backing: expected image or loop");
      }
    }
    if (!Size(j, "disk_size", 0, b.disk_size) || !Text(j, "ata_serial", kMaxAtaSerial, b.ata_serial) ||
        !Text(j, "in_use", kMaxPathText, b.in_use) || !Flag(j, "cdrom", b.presents_cdrom) || !Text(j, "instance_id", kMaxPathText, b.instance_id) ||
        !Text(j, "driver_key_class", kMaxPathText, b.driver_key_class)) {
      return false;
    }
    if (j.contains("faults")) {
      const json& f = j.at("faults");
      if (!f.is_object()) return Fail(f, "faults: expected an object");
      if (f.contains("fail_from_call")) {
        const json& calls = f.at("fail_from_call");
        if (!calls.is_object()) return Fail(calls, "fail_from_call: expected an object of opcodes");
        for (const auto& [op, n] : calls.items()) {
          std::uint8_t code = 0;
          std::uint32_t from = 0;
          const json tmp = {{"op", op}};
          if (!Number(tmp, "op", 0, 0xFF, code, true)) {
            error.clear();
            return Fail(calls, "fail_from_call: bad opcode \"" + op + "\"");
          }
          if (!Number(calls, op.c_str(), 1, 0xFFFFFFFF, from)) return false;
          b.faults.fail_from_call[code] = from;
        }
      }
      std::uint32_t delay = 0;
      if (!Flag(f, "reject_identify", b.faults.reject_identify) ||
          !Flag(f, "never_returns", b.faults.never_returns) ||
          !Number(f, "return_delay_ms", 0, kMaxDelayMs, delay)) {
        return false;
      }
      if (f.contains("return_delay_ms")) b.faults.return_delay_ms = delay;
    }
    return Registers(j, b) && ConfigSlots(j, b);
  }

  // "registers": { "0xC890": "0x04", "9000": 128 }: register address to byte,
  // set after every other field.
  bool Registers(const json& j, BridgeSpec& b) {
    if (!j.contains("registers")) return true;
    const json& regs = j.at("registers");
    if (!regs.is_object()) return Fail(regs, "registers: expected an object of address: byte");
    for (const auto& [name, value] : regs.items()) {
      std::uint16_t address = 0;
      const json tmp = {{"address", name}};
      if (!Number(tmp, "address", 0, 0xFFFF, address, true)) {
        error.clear();
        return Fail(regs.at(name), "registers: \"" + name + "\" is not a register address from 0 to 0xFFFF");
      }
      std::uint8_t byte = 0;
      if (!Number(regs, name.c_str(), 0, 0xFF, byte, true)) return false;
      b.registers[address] = byte;
    }
    return true;
  }

  // "config_slots": [ slot 0, slot 1 ], each 128 bytes as 256 hex digits
  // (blanks between them allowed), or null for an erased slot.
  bool ConfigSlots(const json& j, BridgeSpec& b) {
    if (!j.contains("config_slots")) return true;
    const json& slots = j.at("config_slots");
    if (!slots.is_array() || slots.size() > 2) {
      return Fail(slots, "config_slots: expected a list of at most two slots");
    }
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
      const json& text = slots.at(slot);
      if (text.is_null()) continue;
      const std::string field = "config_slots[" + std::to_string(slot) + "]";
      if (!text.is_string()) return Fail(text, field + ": expected a text of 128 hex bytes");
      std::string digits;
      for (char c : text.get_ref<const std::string&>()) {
        if (c == ' ' || c == '\t' || c == '\n') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
          return Fail(text, field + ": '" + std::string(1, c) + "' is not a hex digit");
        }
        digits += c;
      }
      SimConfigBlock block{};
      if (digits.size() != 2 * block.size()) {
        return Fail(text, field + ": expected 128 bytes, found " + std::to_string(digits.size() / 2) +
                              (digits.size() % 2 != 0 ? " and a half" : ""));
      }
      for (std::size_t i = 0; i < block.size(); ++i) {
        std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, block[i], 16);
      }
      (slot == 0 ? b.config_slot0 : b.config_slot1) = block;
    }
    return true;
  }

  // `depth` counts the external hubs above this one (0: a root hub).
  bool Hub(const json& j, HubSpec& hub, int depth, int& devices) {
    if (!j.is_object()) return Fail(j, "a hub must be an object");
    if (!Number(j, "ports", 1, kMaxHubPorts, hub.port_count)) return false;
    if (!j.contains("devices")) return true;
    const json& list = j.at("devices");
    if (!list.is_array()) return Fail(list, "devices: expected a list");
    for (const json& d : list) {
      if (!d.is_object()) return Fail(d, "a port entry must be an object");
      PortSpec p;
      if (!d.contains("port")) return Fail(d, "a port entry needs a \"port\"");
      if (!Number(d, "port", 1, kMaxHubPorts, p.port)) return false;
      if (p.port > hub.port_count) {
        return Fail(d.at("port"), "port " + std::to_string(p.port) + " is not on a hub of " +
                                      std::to_string(hub.port_count) + " ports");
      }
      for (const auto& other : hub.ports) {
        if (other.port == p.port) return Fail(d.at("port"), "port " + std::to_string(p.port) + " is used twice");
      }
      if (++devices > kMaxDevicesPerController) {
        return Fail(d, "more than " + std::to_string(kMaxDevicesPerController) +
                           " devices on one controller (USB addresses them with 7 bits)");
      }
      if (d.contains("bridge") || d.contains("stick")) {
        BridgeSpec b;
        if (!Device(d.contains("bridge") ? d.at("bridge") : d.at("stick"), !d.contains("bridge"), b)) {
          return false;
        }
        p.device = std::move(b);
      } else if (d.contains("hub")) {
        if (depth >= kMaxHubChain) {
          return Fail(d.at("hub"), "hub: more than " + std::to_string(kMaxHubChain) +
                                       " hubs in a chain below the root hub (USB allows no more)");
        }
        p.hub = std::make_shared<HubSpec>();
        if (!Hub(d.at("hub"), *p.hub, depth + 1, devices)) return false;
      } else {
        return Fail(d, "a port entry needs \"bridge\", \"stick\" or \"hub\"");
      }
      hub.ports.push_back(std::move(p));
    }
    return true;
  }

  bool World(const json& j, WorldSpec& w) {
    if (!j.is_object()) return Fail(j, "the world must be a JSON object");
    if (!Number(j, "reload_delay_ms", 0, kMaxDelayMs, w.reload_delay_ms) ||
        !Size(j, "system_disk_size", 1, w.system_disk_size) ||
        !Text(j, "disk_folder", kMaxPathText, w.disk_folder)) {
      return false;
    }
    if (!j.contains("controllers") || !j.at("controllers").is_array()) return Fail(j, "no \"controllers\" list");
    const json& list = j.at("controllers");
    if (list.size() > kMaxControllers) {
      return Fail(list, "controllers: more than " + std::to_string(kMaxControllers));
    }
    for (const json& c : list) {
      if (!c.is_object()) return Fail(c, "a controller must be an object");
      ControllerSpec cs;
      if (!Flag(c, "driver_key_fails", cs.driver_key_fails)) return false;
      if (!c.contains("root_hub")) return Fail(c, "a controller needs a \"root_hub\"");
      int devices = 0;
      if (!Hub(c.at("root_hub"), cs.root_hub, 0, devices)) return false;
      w.controllers.push_back(std::move(cs));
    }
    return true;
  }
};

}  // namespace

std::optional<WorldSpec> ParseWorld(std::string_view text, std::string& error) {
  LineIndex index;
  if (!index.Index(text)) {
    error = index.Error();
    return std::nullopt;
  }
  Reader r;
  WorldSpec w;
  try {
    const json j = json::parse(text);
    for (const auto& [pointer, line] : index.Lines()) {
      const json::json_pointer at(pointer);
      // A member named twice leaves only its last value in the document.
      if (j.contains(at)) r.lines[&j.at(at)] = line;
    }
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
