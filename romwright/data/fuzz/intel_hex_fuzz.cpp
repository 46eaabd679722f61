// The data file loader on any file: the Intel HEX reader gives the same
// bytes and end from a file in memory and from a stream read in blocks, and
// the loader of the data buffer takes the same file as HEX and as binary.
// The first two bytes of the input choose the view length (up to 64 KiB).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/data_file.h"
#include "romwright/settings/language_table.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using namespace romwright::app;

void WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder scratch("intel_hex_fuzz");
  static const auto buffer = DataBuffer::Create();
  static const LanguageTable texts;
  if (size < 2) return 0;
  const std::uint32_t view_length = data[0] | (static_cast<std::uint32_t>(data[1]) << 8);
  const std::uint8_t* file = data + 2;
  const std::size_t file_size = size - 2;

  std::vector<std::uint8_t> whole(view_length, 0xFF);
  std::vector<std::uint8_t> streamed(view_length, 0xFF);
  const IntelHexResult a = ReadIntelHex(std::span(file, file_size), whole);
  std::istringstream in(std::string(reinterpret_cast<const char*>(file), file_size));
  const IntelHexResult b = ReadIntelHex(in, streamed);
  fuzz::Check(a.ok == b.ok && a.end == b.end && a.moved_down == b.moved_down && whole == streamed,
              "the HEX reader differs between a file in memory and a stream");

  buffer->SetViewLength(view_length);
  platform::RecordingSink sink;
  const auto hex = scratch.Path() / "data.hex";
  WriteFile(hex, file, file_size);
  const bool loaded = LoadFile(*buffer, hex.string(), sink, texts).ok;
  fuzz::Check(loaded == a.ok, "the loader and the HEX reader disagree on a file");
  if (loaded) {
    fuzz::Check(std::equal(whole.begin(), whole.end(), buffer->View().begin(), buffer->View().end()),
                "the loader stores other bytes than the HEX reader");
  }

  const auto bin = scratch.Path() / "data.bin";
  WriteFile(bin, file, file_size);
  fuzz::Check(LoadFile(*buffer, bin.string(), sink, texts).ok, "a binary file does not load");
  const auto view = buffer->View();
  const std::size_t copied = std::min<std::size_t>(file_size, view.size());
  fuzz::Check(std::equal(file, file + copied, view.begin()) &&
                  std::all_of(view.begin() + static_cast<std::ptrdiff_t>(copied), view.end(),
                              [](std::uint8_t x) { return x == 0xFF; }),
              "a binary file loads other bytes than it holds");
  return 0;
}
