// The vendor command transport of CKelvUSBDev2K: every command built byte by
// byte into one request with its data area of 64 KiB.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "linetool/device/kelv_usb_dev2k.h"

namespace linetool::device {

namespace {

using platform::ScsiDirection;

constexpr std::uint32_t kTimeoutRead = 3;
constexpr std::uint32_t kTimeoutWrite = 60;
constexpr std::uint32_t kTimeoutIdentify = 65535;

// One request and its data area, zero-filled for every request.
struct PassThroughBuffer {
  platform::ScsiRequest request;
  std::vector<std::uint8_t> data = std::vector<std::uint8_t>(kMaxTransferBytes, 0);

  void Reset(std::initializer_list<std::uint8_t> cdb, std::uint8_t cdb_length, ScsiDirection dir,
             std::uint32_t length, std::uint32_t timeout) {
    request = {};
    std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
    request.cdb_length = cdb_length;
    request.direction = dir;
    request.transfer_length = length;
    request.timeout_seconds = timeout;
    std::fill(data.begin(), data.end(), std::uint8_t{0});
  }

  bool Send(platform::DeviceHandle& handle) { return handle.Scsi(request, data).Good(); }
};

}  // namespace

bool IsBridgeInquiry(std::span<const std::uint8_t> inquiry) {
  if (inquiry.size() < kBridgeInquiryBytes) return false;
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", inquiry[37], inquiry[36]);
  std::string t(text);
  for (auto& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return t == "2105";
}

std::string FirmwareVersionText(std::span<const std::uint8_t> b) {
  if (b.size() < 6) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

CmdStatus CKelvUSBDev2K::ScsiInquiry(platform::DeviceHandle* handle, std::span<std::uint8_t> destination) {
  std::fill(destination.begin(), destination.end(), std::uint8_t{0});
  const auto n = static_cast<std::uint32_t>(destination.size());
  if (!handle || n == 0 || n > 255) return kCmdTransferFailed;
  PassThroughBuffer b;
  b.Reset({0x12, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(n), 0x00}, 12, ScsiDirection::kIn, n,
          kTimeoutRead);
  if (!b.Send(*handle)) return kCmdTransferFailed;
  std::copy_n(b.data.begin(), n, destination.begin());
  return kCmdDone;
}

namespace {

// ATA PASS-THROUGH(12) IDENTIFY DEVICE into `b`; false when the bridge rejects it.
bool SendIdentify(platform::DeviceHandle& handle, PassThroughBuffer& b) {
  b.Reset({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 12, ScsiDirection::kIn,
          512, kTimeoutIdentify);
  return b.Send(handle);
}

// The characters of IDENTIFY words [first, first + count), each word's bytes swapped.
std::string IdentifyText(const PassThroughBuffer& b, std::size_t first, std::size_t count) {
  std::string text;
  for (std::size_t i = 2 * first; i < 2 * (first + count); i += 2) {
    text.push_back(static_cast<char>(b.data[i + 1]));
    text.push_back(static_cast<char>(b.data[i]));
  }
  return text;
}

std::string WithoutPadding(std::string text) {
  const auto end = text.find_last_not_of(std::string(" \0", 2));
  text.erase(end == std::string::npos ? 0 : end + 1);
  const auto start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

CmdStatus CKelvUSBDev2K::AtaIdentifySerial(platform::DeviceHandle* handle, std::string& text) {
  if (!handle) return kCmdBadArgument;
  PassThroughBuffer b;
  // A rejected IDENTIFY leaves the data area zero: append nothing then, so
  // the matcher's text does not end in NUL characters.
  if (SendIdentify(*handle, b)) text += IdentifyText(b, 10, 10);
  return kCmdDone;
}

CmdStatus CKelvUSBDev2K::AtaIdentity(platform::DeviceHandle* handle, std::string& model, std::string& serial) {
  model.clear();
  serial.clear();
  if (!handle) return kCmdBadArgument;
  PassThroughBuffer b;
  if (!SendIdentify(*handle, b)) return kCmdTransferFailed;
  serial = WithoutPadding(IdentifyText(b, 10, 10));
  model = WithoutPadding(IdentifyText(b, 27, 20));
  return kCmdDone;
}

CmdStatus CKelvUSBDev2K::ConfigTable(platform::DeviceHandle* handle, int direction,
                                     std::span<std::uint8_t> buffer, std::uint32_t length,
                                     std::uint32_t slot) {
  if (!handle || length != kConfigTableBytes || buffer.size() < kConfigTableBytes) return kCmdBadArgument;
  const bool read = direction == 0;
  PassThroughBuffer b;
  b.Reset({static_cast<std::uint8_t>(read ? 0xE0 : 0xE1), static_cast<std::uint8_t>(slot & 0xFF), 0, 0, 0, 0},
          6, read ? ScsiDirection::kIn : ScsiDirection::kOut, kConfigTableBytes,
          read ? kTimeoutRead : kTimeoutWrite);
  if (!read) std::copy_n(buffer.begin(), kConfigTableBytes, b.data.begin());
  if (!b.Send(*handle)) return kCmdTransferFailed;
  if (read) std::copy_n(b.data.begin(), kConfigTableBytes, buffer.begin());
  return kCmdDone;
}

CmdStatus CKelvUSBDev2K::FirmwareData(platform::DeviceHandle* handle, int mode, std::span<std::uint8_t> buffer,
                                      std::uint32_t length, std::uint32_t slot) {
  if (!handle || buffer.size() < length) return kCmdBadArgument;
  const auto ss = static_cast<std::uint8_t>(slot & 0xFF);
  PassThroughBuffer b;
  if (mode == 1) {
    std::uint32_t done = 0;
    while (done < length) {
      // Every chunk carries the same CDB: the bridge appends them in order.
      const std::uint32_t chunk = std::min(length - done, kMaxTransferBytes);
      b.Reset({0xE3, ss, 0, 0, 0, 0}, 6, ScsiDirection::kOut, chunk, kTimeoutWrite);
      std::copy_n(buffer.begin() + done, chunk, b.data.begin());
      if (!b.Send(*handle)) return kCmdTransferFailed;
      done += chunk;
    }
    return kCmdDone;
  }
  if (length > kMaxTransferBytes) return kCmdBadArgument;
  if (mode == 0) {
    b.Reset({0xE2, ss, 0, 0, 0, 0}, 6, ScsiDirection::kIn, length, kTimeoutRead);
    if (!b.Send(*handle)) return kCmdTransferFailed;
    std::copy_n(b.data.begin(), length, buffer.begin());
    return kCmdDone;
  }
  b.Reset({0xE3, ss, 0, 0, 0, 0}, 6, ScsiDirection::kOut, length, kTimeoutWrite);
  return b.Send(*handle) ? kCmdDone : kCmdTransferFailed;
}

CmdStatus CKelvUSBDev2K::Registers(platform::DeviceHandle* handle, int direction, std::uint16_t address,
                                   std::span<std::uint8_t> buffer, std::uint32_t length) {
  if (!handle || length > kMaxRegisterBytes || buffer.size() < std::min<std::uint32_t>(length, 1)) {
    return kCmdBadArgument;
  }
  const auto ah = static_cast<std::uint8_t>(address >> 8);
  const auto al = static_cast<std::uint8_t>(address & 0xFF);
  PassThroughBuffer b;
  if (direction != 0) {
    if (buffer.empty()) return kCmdBadArgument;
    // One byte, carried in the CDB; no data phase.
    b.Reset({0xE5, buffer[0], 0, ah, al, 0}, 6, ScsiDirection::kOut, 0, kTimeoutWrite);
    return b.Send(*handle) ? kCmdDone : kCmdTransferFailed;
  }
  if (buffer.size() < length) return kCmdBadArgument;
  const std::size_t lead = std::min<std::size_t>(4, buffer.size());
  std::fill_n(buffer.begin(), lead, std::uint8_t{0});
  if (length == 0) return kCmdDone;
  b.Reset({0xE4, static_cast<std::uint8_t>(length % 256), 0, ah, al, 0}, 6, ScsiDirection::kIn, length,
          kTimeoutRead);
  if (!b.Send(*handle)) {
    std::fill_n(buffer.begin(), lead, std::uint8_t{0});
    return kCmdTransferFailed;
  }
  std::copy_n(b.data.begin(), length, buffer.begin());
  return kCmdDone;
}

CmdStatus CKelvUSBDev2K::ReloadFirmware(platform::DeviceHandle* handle) {
  if (!handle) return kCmdTransferFailed;
  PassThroughBuffer b;
  b.Reset({0xE8, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, ScsiDirection::kIn, 0, kTimeoutRead);
  return b.Send(*handle) ? kCmdDone : kCmdTransferFailed;
}

CmdStatus CKelvUSBDev2K::SafeRemove(platform::DeviceHandle* handle) {
  if (!handle) return kCmdTransferFailed;
  PassThroughBuffer b;
  b.Reset({0xE8, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, ScsiDirection::kIn, 0, kTimeoutRead);
  return b.Send(*handle) ? kCmdDone : kCmdTransferFailed;
}

}  // namespace linetool::device
