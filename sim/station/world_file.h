#pragma once
// A simulated station described in JSON:
//
// {
//   "reload_delay_ms": 2000,            // a restarted bridge is back after this
//   "system_disk_size": "256GB",        // bytes as a number, or with kB/MB/GB/TB, KiB/MiB/GiB/TiB
//   "disk_folder": "sim-disks",         // where loop-backed disk images stay after a run
//   "controllers": [
//     { "root_hub": { "ports": 6, "devices": [
//         { "port": 1, "bridge": { "serial": "A1", "disk_size": "1TB" } },
//         { "port": 2, "stick": { "serial": "USB01" } },
//         { "port": 4, "hub": { "ports": 7, "devices": [ ... ] } } ] } } ]
// }
//
// A bridge starts as the default bridge of its position in the file (every
// "bridge" and "stick" counts) and takes these fields: serial, manufacturer,
// product, vendor_id, product_id, release (hex texts), chip_variant (number or
// hex text), firmware_version (12 or 14 hex digits), speed ("super", "high",
// "full"), disk_size, disk_backing ("image", or "loop": a loop device over the
// image in disk_folder, partitioned, formatted and mounted by the host's own
// backends), sector_size (512, or 4096 for a 4Kn disk), ata_serial,
// cdrom (bool), in_use (why the host uses the disk: the station must refuse
// it), driver_key_class,
// instance_id, faults
// { fail_from_call: { "E4": 3 }, reject_identify, never_returns,
// return_delay_ms }, registers (address: byte, numbers or hex texts,
// { "0xC890": "0x04" }; set after every other field), config_slots (slot 0
// and slot 1 as 128 bytes of hex digits, blanks allowed; null leaves a slot
// erased). A controller may carry "driver_key_fails": true.
//
// Every value is checked against what the devices allow and refused with
// its line and field ("line 4: vendor_id: ..."): ids of 16 bits (8 for the
// chip variant), whole numbers only, disks up to kMaxSimDiskBytes, delays up
// to an hour, 127 ports per hub and devices per controller, five hubs in a
// chain below a root hub, USB texts of 126 characters, ATA serials of 20.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sim/station/world_description.h"

namespace sim::station {

// nullopt with `error` set when the text is not a valid world ("line N: field: why").
std::optional<WorldSpec> ParseWorld(std::string_view json, std::string& error);
std::optional<WorldSpec> ReadWorldFile(const std::filesystem::path& file, std::string& error);

}  // namespace sim::station
