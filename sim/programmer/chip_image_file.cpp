#include "sim/programmer/chip_image_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/replace_file.h"

namespace sim::programmer {

void LoadChipImage(SimProgrammer& programmer, const std::string& image) {
  std::error_code ec;
  if (image.empty() || !std::filesystem::exists(image, ec)) return;
  std::ifstream in(image, std::ios::binary);
  std::vector<std::uint8_t> contents(programmer.ChipInSocket().capacity, 0xFF);
  in.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
  programmer.SetChipContents(contents);
}

bool KeepChipImage(const SimProgrammer& programmer, const std::string& image) {
  const auto contents = programmer.ChipContents();
  return platform::ReplaceFile(image, contents) == platform::WriteOutcome::kWritten;
}

}  // namespace sim::programmer
