// linetool-cli list, regs, config and info: the port table after one refresh,
// and the engineering dialogs' access to a bridge's registers, configuration
// slots and device information.

#include <cstdio>
#include <optional>
#include <ostream>

#include "linetool/app/cli/station_backend.h"
#include "linetool/app/debug_dlg.h"
#include "linetool/app/device_info_dlg.h"
#include "linetool/app/no_window_dialogs.h"
#include "linetool/device/hex_grid.h"
#include "linetool/device/kelv_usb_lib.h"
#include "platform/number_text.h"

namespace linetool::cli {

namespace {

struct Station {
  std::unique_ptr<StationBackend> backend;
  std::unique_ptr<device::CKelvUSBLib> lib;
  device::DeviceTable table;

  app::EngineeringAccess Access() { return {&table, lib.get(), &backend->GetClock()}; }
};

// Opens the backend and refreshes the table. kExitOk, or the exit code after
// saying why it cannot: a --sim that names no station is a usage error.
int Refresh(CliContext& ctx, Station& s) {
  std::string error;
  s.backend = StationBackend::Open(ctx, error);
  if (!s.backend) {
    ctx.err << "linetool-cli: " << error << "\n";
    return kExitUsage;
  }
  s.lib = std::make_unique<device::CKelvUSBLib>(s.backend->Services());
  if (s.lib->Refresh(s.table, {}) == device::kRefreshUnsupportedSystem) {
    ctx.err << "linetool-cli: the operating system is not supported\n";
    return kExitFailed;
  }
  return kExitOk;
}

std::string Pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

std::string Number(int n) { return n == device::kNoDriveNumber || n < 0 ? "-" : std::to_string(n); }

void PrintLeftOut(CliContext& ctx, const device::DeviceTable& t) {
  if (t.left_out > 0) {
    ctx.out << t.left_out << (t.left_out == 1 ? " bridge was" : " bridges were")
            << " left out: the station serves " << device::kMaxBridges << " ports.\n";
  }
}

// Prints bytes as the register dialog's grid: the column captions, then one
// line per 16 bytes with its address.
void PrintGrid(CliContext& ctx, std::span<const std::uint8_t> bytes, unsigned base) {
  const std::string grid = device::HexGridText(bytes);
  ctx.out << "      " << device::kHexGridColumnCaption << "\n";
  const std::size_t lines = (std::min<std::size_t>(bytes.size(), 256) + 15) / 16;
  for (std::size_t line = 0; line < lines; ++line) {
    char address[16];
    std::snprintf(address, sizeof address, "%04X  ", (base + static_cast<unsigned>(line) * 16) & 0xFFFF);
    std::string text = grid.substr(line * 48, 47);
    text.erase(text.find_last_not_of(' ') + 1);
    ctx.out << address << text << "\n";
  }
}

// "--name VALUE" or "--name=VALUE"
bool TakeOption(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& into,
                bool& seen) {
  const std::string& a = args[i];
  if (a == name && i + 1 < args.size()) {
    into = args[++i];
    seen = true;
    return true;
  }
  if (a.rfind(name + "=", 0) == 0) {
    into = a.substr(name.size() + 1);
    seen = true;
    return true;
  }
  return false;
}

struct PortArgs {
  int port = -1;
  std::string addr, len, value, image;
  bool has_port = false, has_addr = false, has_len = false, has_value = false, has_image = false;
};

bool ParsePortArgs(CliContext& ctx, const std::vector<std::string>& args, std::size_t from, PortArgs& p) {
  std::string port;
  for (std::size_t i = from; i < args.size(); ++i) {
    if (TakeOption(args, i, "--port", port, p.has_port) || TakeOption(args, i, "--addr", p.addr, p.has_addr) ||
        TakeOption(args, i, "--len", p.len, p.has_len) || TakeOption(args, i, "--value", p.value, p.has_value) ||
        TakeOption(args, i, "--image", p.image, p.has_image)) {
      continue;
    }
    ctx.err << "linetool-cli: unexpected argument " << args[i] << "\n";
    return false;
  }
  const auto number = platform::ParseUnsigned(port, 10, device::kMaxBridges - 1);
  if (!p.has_port || !number) {
    ctx.err << "linetool-cli: --port N with N from 0 to 15 is required";
    if (p.has_port) ctx.err << ", not \"" << port << "\"";
    ctx.err << "\n";
    return false;
  }
  p.port = static_cast<int>(*number);
  return true;
}

bool RequirePresent(CliContext& ctx, const Station& s, int port) {
  if (s.table.records[static_cast<std::size_t>(port)].Present()) return true;
  ctx.err << "linetool-cli: no bridge on port " << port << " (" << s.table.device_count << " found)\n";
  return false;
}

}  // namespace

int RunList(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    ctx.out << "Usage: linetool-cli [--sim[=N|=FILE]] list\n"
               "\n"
               "Finds the bridges once, as the station does on start-up, and prints the\n"
               "port table: Port#, Status (link speed), VID, PID, Serial Number, FW Version\n"
               "and Capacity as the grid shows them, then the physical drive number, the\n"
               "CD-ROM number, the location (port + 10 x hub depth + 100 x controller) and\n"
               "the port on its hub. A line says how many bridges were left out beyond 16.\n"
               "\n"
               "Exit status: 0 when the table was read, 1 when it could not be, 2 on a\n"
               "usage error (also a --sim that names no station).\n";
    return kExitOk;
  }
  if (!args.empty()) {
    ctx.err << "linetool-cli: list takes no arguments\n";
    return kExitUsage;
  }
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  const std::size_t w[] = {7, 8, 6, 6, 22, 14, 10, 7, 8, 10, 9};
  const char* head[] = {"Port#", "Status", "VID", "PID", "Serial Number", "FW Version", "Capacity",
                        "Drive", "CD-ROM", "Location", "Hub port"};
  std::string line;
  for (std::size_t i = 0; i < 11; ++i) line += Pad(head[i], w[i]);
  line.erase(line.find_last_not_of(' ') + 1);
  ctx.out << line << "\n";
  for (const auto& r : s.table.records) {
    if (!r.Present()) continue;
    const std::string cells[] = {std::to_string(r.slot), r.usb_speed, r.vendor_id, r.product_id, r.serial_number,
                                 r.firmware_version, device::CapacityText(r.capacity),
                                 Number(r.physical_drive_number), Number(r.cdrom_number),
                                 std::to_string(r.location), std::to_string(r.port)};
    line.clear();
    for (std::size_t i = 0; i < 11; ++i) line += Pad(cells[i], w[i]);
    line.erase(line.find_last_not_of(' ') + 1);
    ctx.out << line << "\n";
  }
  ctx.out << s.table.device_count << (s.table.device_count == 1 ? " bridge" : " bridges") << " found.\n";
  PrintLeftOut(ctx, s.table);
  return kExitOk;
}

int RunRegs(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args) || args.empty() || (args[0] != "read" && args[0] != "write")) {
    std::ostream& out = WantsHelp(args) ? ctx.out : ctx.err;
    out << "Usage: linetool-cli [--sim[=N|=FILE]] regs read --port N --addr HEX --len HEX\n"
           "       linetool-cli [--sim[=N|=FILE]] regs write --port N --addr HEX --value HEX\n"
           "\n"
           "Reads up to 0x100 bridge registers from a 16-bit address and prints them as a\n"
           "hex grid, or writes one register (the low byte of the value), as the register\n"
           "dialog does: the bridge of port N (0-15, after one refresh) is opened for\n"
           "exclusive use. A failed command prints \"Access Device is Failed ! (code)\"\n"
           "(1: the transfer failed, 3: a bad argument such as a length above 0x100).\n"
           "\n"
           "Exit status: 0 on success, 1 when the bridge cannot be reached or refuses,\n"
           "2 on a usage error: a port outside 0-15, an address that is not hexadecimal\n"
           "or above FFFF (\"Invalid value for register address\"), a length that is\n"
           "not hexadecimal, above FFFF, or zero written other than \"0\", or a value\n"
           "that is not hexadecimal or above FFFFFFFF (\"Invalid value for register\n"
           "length\").\n";
    return WantsHelp(args) ? kExitOk : kExitUsage;
  }
  const bool read = args[0] == "read";
  PortArgs p;
  if (!ParsePortArgs(ctx, args, 1, p) || p.has_image || (read && p.has_value) || (!read && p.has_len)) {
    if (p.has_image || (read && p.has_value) || (!read && p.has_len)) {
      ctx.err << "linetool-cli: regs " << args[0] << " takes --port, --addr and "
              << (read ? "--len" : "--value") << "\n";
    }
    return kExitUsage;
  }
  const app::RegisterInput in = read ? app::CheckRegisterRead(p.addr, p.len) : app::CheckRegisterWrite(p.addr, p.value);
  if (in.result != app::RegisterResult::kDone) {
    app::ShowInputError(ctx.sink, in.result);
    return kExitUsage;
  }
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (!RequirePresent(ctx, s, p.port)) return kExitFailed;
  app::NoWindowDialogs no_window;
  app::CDebugDlg dialog(s.Access(), ctx.sink, no_window);
  dialog.Open();
  dialog.SelectPort(p.port);
  if (read) {
    dialog.EditText(app::ids::debug::kReadAddress, p.addr);
    dialog.EditText(app::ids::debug::kReadLength, p.len);
    if (dialog.ReadRegister() != app::RegisterResult::kDone) return kExitFailed;
    PrintGrid(ctx, dialog.ShownBytes(), in.address);
    return kExitOk;
  }
  dialog.EditText(app::ids::debug::kWriteAddress, p.addr);
  dialog.EditText(app::ids::debug::kWriteValue, p.value);
  return dialog.WriteRegister() == app::RegisterResult::kDone ? kExitOk : kExitFailed;
}

int RunConfig(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args) || args.empty() || args[0] != "read") {
    std::ostream& out = WantsHelp(args) ? ctx.out : ctx.err;
    out << "Usage: linetool-cli [--sim[=N|=FILE]] config read --port N --image 0|1\n"
           "\n"
           "Reads the 128-byte configuration block of image slot 0 or 1 from the bridge of\n"
           "port N (0-15, after one refresh), opened for exclusive use, and prints it as a\n"
           "hex grid.\n"
           "\n"
           "Exit status: 0 on success, 1 when the slot cannot be read, 2 on a usage error.\n";
    return WantsHelp(args) ? kExitOk : kExitUsage;
  }
  PortArgs p;
  if (!ParsePortArgs(ctx, args, 1, p)) return kExitUsage;
  if (p.has_addr || p.has_len || p.has_value || !p.has_image || (p.image != "0" && p.image != "1")) {
    ctx.err << "linetool-cli: config read takes --port N and --image 0 or 1\n";
    return kExitUsage;
  }
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (!RequirePresent(ctx, s, p.port)) return kExitFailed;
  app::NoWindowDialogs no_window;
  app::CDebugDlg dialog(s.Access(), ctx.sink, no_window);
  dialog.Open();
  dialog.SelectPort(p.port);
  dialog.SelectItem(app::ids::debug::kImage, p.image == "1" ? 1 : 0);
  if (dialog.ReadConfigTable() != app::RegisterResult::kDone) {
    // The dialog shows nothing then; a script needs to know.
    ctx.err << "linetool-cli: configuration slot " << p.image << " of port " << p.port << " cannot be read\n";
    return kExitFailed;
  }
  PrintGrid(ctx, dialog.ShownBytes(), 0);
  return kExitOk;
}

int RunInfo(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    ctx.out << "Usage: linetool-cli [--sim[=N|=FILE]] info --port N [--image 0|1]\n"
               "\n"
               "Prints what the device information dialog shows for the bridge of port N\n"
               "(0-15, after one refresh) and configuration slot 0 (default) or 1: the ten\n"
               "column captions with the cells of the Status row (\"O\" an option that is on,\n"
               "\"X\" one that is off, then the idle timer), and the register report of the\n"
               "UASP group as it stands: a variant line, \"Support UASP : \" and\n"
               "\"Enable UASP : \". The bridge is opened for exclusive use. Message boxes of\n"
               "the dialog (\"OpenDev Fail\", \"Access Device is Failed ! (code)\", \"Access\n"
               "Register Failed ! (code)\") go to stderr; a slot that cannot be read leaves\n"
               "the cells empty.\n"
               "\n"
               "Exit status: 0 when the slot and every register were read, 1 when the port\n"
               "holds no bridge or a read failed (what was read is still printed), 2 on a\n"
               "usage error.\n";
    return kExitOk;
  }
  PortArgs p;
  if (!ParsePortArgs(ctx, args, 0, p)) return kExitUsage;
  if (p.has_addr || p.has_len || p.has_value || (p.has_image && p.image != "0" && p.image != "1")) {
    ctx.err << "linetool-cli: info takes --port N and optionally --image 0 or 1\n";
    return kExitUsage;
  }
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (!RequirePresent(ctx, s, p.port)) return kExitFailed;
  app::CDeviceInfoDlg info(s.Access(), ctx.sink);
  const bool complete = info.Open(p.port, p.image == "1" ? 1 : 0);
  const std::vector<std::string> head = app::CDeviceInfoDlg::Columns();
  const std::vector<std::string> row = info.StatusRow();
  std::string captions;
  std::string cells;
  for (std::size_t i = 0; i < head.size(); ++i) {
    const std::size_t width = std::max(head[i].size(), row[i].size()) + 2;
    captions += Pad(head[i], width);
    cells += Pad(row[i], width);
  }
  captions.erase(captions.find_last_not_of(' ') + 1);
  cells.erase(cells.find_last_not_of(' ') + 1);
  ctx.out << captions << "\n" << cells << "\n" << info.Report();
  if (!info.Report().empty() && info.Report().back() != '\n') ctx.out << "\n";
  return complete ? kExitOk : kExitFailed;
}

}  // namespace linetool::cli
