// linetool-cli list, regs, config and info: the port table after one refresh,
// and the engineering dialogs' access to a bridge's registers, configuration
// slots and device information.

#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

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

// --port N: a port of the station.
CLI::Option* AddPortOption(CLI::App& app, int& port) {
  return command_line::AddCheckedOption(
             app, "--port",
             [&port](const std::string& v) -> std::string {
               const auto number = platform::ParseUnsigned(v, 10, device::kMaxBridges - 1);
               if (!number) return "--port N with N from 0 to 15 is required, not \"" + v + "\"";
               port = static_cast<int>(*number);
               return {};
             },
             "the port of the bridge, 0-15 (after one refresh)")
      ->type_name("N")
      ->required();
}

bool RequirePresent(const CliContext& ctx, const Station& s, int port) {
  if (s.table.records[static_cast<std::size_t>(port)].Present()) return true;
  ctx.err << "linetool-cli: no bridge on port " << port << " (" << s.table.device_count << " found)\n";
  return false;
}

// A number of the table, or null where the table shows "-".
nlohmann::json NumberOrNull(int n) { return n == device::kNoDriveNumber || n < 0 ? nlohmann::json() : nlohmann::json(n); }

void PrintListJson(CliContext& ctx, const device::DeviceTable& t) {
  nlohmann::json bridges = nlohmann::json::array();
  for (const auto& r : t.records) {
    if (!r.Present()) continue;
    bridges.push_back({{"port", r.slot},
                       {"status", r.usb_speed},
                       {"vid", r.vendor_id},
                       {"pid", r.product_id},
                       {"serial_number", r.serial_number},
                       {"firmware_version", r.firmware_version},
                       {"capacity", device::CapacityText(r.capacity)},
                       {"capacity_bytes", r.capacity < 0 ? nlohmann::json() : nlohmann::json(r.capacity)},
                       {"drive", NumberOrNull(r.physical_drive_number)},
                       {"cdrom", NumberOrNull(r.cdrom_number)},
                       {"location", r.location},
                       {"hub_port", r.port}});
  }
  const nlohmann::json doc = {{"bridges_found", t.device_count}, {"left_out", t.left_out}, {"bridges", bridges}};
  ctx.out << doc.dump(2) << "\n";
}

int RunList(CliContext& ctx, bool json) {
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (json) {
    PrintListJson(ctx, s.table);
    return kExitOk;
  }
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

struct RegsArgs {
  int port = 0;
  std::string addr, len, value;
};

int RunRegs(CliContext& ctx, const RegsArgs& p, bool read) {
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

int RunConfig(CliContext& ctx, int port, int image) {
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (!RequirePresent(ctx, s, port)) return kExitFailed;
  app::NoWindowDialogs no_window;
  app::CDebugDlg dialog(s.Access(), ctx.sink, no_window);
  dialog.Open();
  dialog.SelectPort(port);
  dialog.SelectItem(app::ids::debug::kImage, image);
  if (dialog.ReadConfigTable() != app::RegisterResult::kDone) {
    // The dialog shows nothing then; a script needs to know.
    ctx.err << "linetool-cli: configuration slot " << image << " of port " << port << " cannot be read\n";
    return kExitFailed;
  }
  PrintGrid(ctx, dialog.ShownBytes(), 0);
  return kExitOk;
}

int RunInfo(CliContext& ctx, int port, int image) {
  Station s;
  if (const int code = Refresh(ctx, s); code != kExitOk) return code;
  if (!RequirePresent(ctx, s, port)) return kExitFailed;
  app::CDeviceInfoDlg info(s.Access(), ctx.sink);
  const bool complete = info.Open(port, image);
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

// --port N and --image 0|1: a configuration slot of a port's bridge.
struct SlotArgs {
  int port = 0;
  int image = 0;
};

std::shared_ptr<SlotArgs> AddSlotOptions(CLI::App& app, bool image_required) {
  auto args = std::make_shared<SlotArgs>();
  AddPortOption(app, args->port);
  app.add_option("--image", args->image, "the configuration slot, 0 or 1")
      ->type_name("0|1")
      ->check(CLI::IsMember({0, 1}))
      ->required(image_required);
  return args;
}

}  // namespace

CliCommand AddList(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("list", "find the bridges once and print the port table");
  cmd->footer(
      "Finds the bridges once, as the station does on start-up, and prints the\n"
      "port table: Port#, Status (link speed), VID, PID, Serial Number, FW Version\n"
      "and Capacity as the grid shows them, then the physical drive number, the\n"
      "CD-ROM number, the location (port + 10 x hub depth + 100 x controller) and\n"
      "the port on its hub. A line says how many bridges were left out beyond 16.\n"
      "\n"
      "Exit status: 0 when the table was read, 1 when it could not be, 2 on a\n"
      "usage error (also a --sim that names no station).\n");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "print one JSON document instead of the table (fields: see the README)");
  return {cmd, [json](CliContext& ctx) { return RunList(ctx, *json); }};
}

CliCommand AddRegs(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("regs", "read or write bridge registers (engineering access)");
  cmd->require_subcommand(1);
  cmd->footer(
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
      "length\").\n");
  auto args = std::make_shared<RegsArgs>();
  CLI::App* read = cmd->add_subcommand("read", "read up to 0x100 registers and print them as a hex grid");
  CLI::App* write = cmd->add_subcommand("write", "write one register");
  for (CLI::App* sub : {read, write}) {
    AddPortOption(*sub, args->port);
    sub->add_option("--addr", args->addr, "the register address, hexadecimal, up to FFFF")
        ->type_name("HEX")
        ->required();
  }
  read->add_option("--len", args->len, "the number of registers, hexadecimal, up to 100")
      ->type_name("HEX")
      ->required();
  write->add_option("--value", args->value, "the value, hexadecimal; its low byte is written")
      ->type_name("HEX")
      ->required();
  return {cmd, [args, read](CliContext& ctx) { return RunRegs(ctx, *args, read->parsed()); }};
}

CliCommand AddConfig(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("config", "print a bridge's configuration slot as a hex grid");
  cmd->require_subcommand(1);
  CLI::App* read = cmd->add_subcommand("read", "read a configuration slot");
  read->footer(
      "Reads the 128-byte configuration block of image slot 0 or 1 from the bridge of\n"
      "port N (0-15, after one refresh), opened for exclusive use, and prints it as a\n"
      "hex grid.\n"
      "\n"
      "Exit status: 0 on success, 1 when the slot cannot be read, 2 on a usage error.\n");
  auto slot = AddSlotOptions(*read, true);
  return {cmd, [slot](CliContext& ctx) { return RunConfig(ctx, slot->port, slot->image); }};
}

CliCommand AddInfo(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand(
      "info", "print what the device information dialog shows for a port and configuration slot");
  cmd->footer(
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
      "usage error.\n");
  auto slot = AddSlotOptions(*cmd, false);
  return {cmd, [slot](CliContext& ctx) { return RunInfo(ctx, slot->port, slot->image); }};
}

}  // namespace linetool::cli
