#include "romwright/link/chip_params.h"

namespace romwright::link {

bool DeriveChipParams(const ChipRecord& record, ChipParams& params) {
  const std::uint8_t high_supply = record.voltage > 40 ? 1 : 0;
  switch (static_cast<ChipType>(record.type)) {
    case ChipType::kSpiFlash:
      params.type_code = 1;
      params.cfg0 = 0x03;
      params.cfg2 = 0;
      return true;
    case ChipType::kEeprom24:
      params.type_code = 2;
      if (record.device_id == 0xFE) {
        params.cfg0 = 0x04;
      } else {
        params.cfg0 = record.capacity <= 2048 ? 0x14 : 0x24;
      }
      params.cfg2 = high_supply;
      return true;
    case ChipType::kEeprom25:
      params.type_code = 3;
      params.cfg0 = record.capacity <= 512 ? 0x01 : 0x11;
      params.cfg2 = high_supply;
      return true;
    case ChipType::kEeprom93:
      params.type_code = 4;
      params.cfg0 = static_cast<std::uint8_t>((record.address_bits << 4) | 0x08);
      params.cfg1 = record.organisation == 8 ? 3 : 1;
      params.cfg2 = high_supply;
      return true;
  }
  return false;
}

}  // namespace romwright::link
