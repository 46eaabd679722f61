#pragma once
// Loading a data file into the data buffer, and saving the buffer.
//
// A path whose last three characters are "HEX" or "hex" is read as Intel HEX,
// any other as a plain binary image. Either way the view length's bytes are
// first set to 0xFF and their change marks cleared, so a failed load leaves
// 0xFF with whatever was placed before the fault.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "platform/message_sink.h"

namespace romwright::app {

class DataBuffer;
class LanguageTable;

struct IntelHexResult {
  bool ok = false;
  // One past the last byte of data that is not 0xFF, in buffer positions
  // (also counting data that lay beyond the view and was not stored).
  std::uint64_t end = 0;
  // How far the file's data were moved down to land in the buffer (see
  // below); 0 when every record sits at its own address.
  std::uint64_t moved_down = 0;
  // The lowest address the file's data have as written.
  std::uint64_t lowest = 0;
  // Why a load failed: the line of the bad record (from 1; 0 when the fault
  // is the file's as a whole) and what was wrong with it.
  std::uint64_t line = 0;
  std::string fault;
};

// Intel HEX reader. Characters outside records are skipped; inside a record
// only "0"-"9" and "A"-"F" are digits. The buffer is indexed by chip address:
// a data record lands at offset + address, where the offset is set by each
// extended address record (type 04: upper address x 65536, type 02:
// segment x 16). A file whose first extended record is a type 02 segment,
// before any data, is taken relative to that segment (its data start at 0),
// and a segment below it is invalid. A file whose data all lie above the
// 16 MiB of the largest chip (an image linked for a processor's memory map,
// such as 0x08000000) is moved down by the extended address in force at its
// lowest record. Bytes at or beyond the end of `view` are not stored.
// Types 03 and 05 are skipped; type 01 ends the file. Anything else (a short
// record, a bad digit, a checksum that does not sum to 0, another type, no
// end record) fails.
IntelHexResult ReadIntelHex(std::span<const std::uint8_t> file, std::span<std::uint8_t> view);
// The same, reading the file from a stream in blocks of kIntelHexBlock bytes
// (a file moved down is read twice: the stream must be able to seek back to
// its start).
IntelHexResult ReadIntelHex(std::istream& file, std::span<std::uint8_t> view);
inline constexpr std::size_t kIntelHexBlock = 1 << 18;

// True when the path names an Intel HEX file ("...HEX" or "...hex").
bool IsIntelHexPath(std::string_view path);

struct LoadOutcome {
  bool ok = false;
  // Why the load failed, for the line under "Open file error!".
  std::string fault;
  // The data of a HEX file moved down by this much (see ReadIntelHex).
  std::uint64_t moved_down = 0;
  std::uint64_t lowest = 0;
  explicit operator bool() const { return ok; }
};

// Loads the file at `host_path` into the first view-length bytes of `buffer`.
// A file with data beyond the view length (trailing 0xFF bytes of a HEX file
// do not count) shows "File is too long!" with both sizes through `sink` and
// still loads. Fails when the file cannot be opened or read, or a HEX file is
// malformed; the buffer and its marks then stay as they were, so a write never
// programs part of a file.
LoadOutcome LoadFile(DataBuffer& buffer, const std::string& host_path, platform::MessageSink& sink,
                     const LanguageTable& texts);

// The info line after a HEX file was moved down.
std::string MovedDownText(const LoadOutcome& outcome);

// Writes the view length's bytes to `host_path`, replacing an existing file
// whole: it holds its old content or the new one, never a part. A path that
// IsIntelHexPath names is written as Intel HEX (see WriteIntelHex), any other
// as a binary image. False when the file cannot be created or written.
bool SaveFile(const DataBuffer& buffer, const std::string& host_path);

// `data` as Intel HEX for chip address 0: 32-byte data records, a type 04
// record before the first record of every 64 KiB above the first, and the end
// record; lines end in CR LF.
std::string WriteIntelHex(std::span<const std::uint8_t> data);

}  // namespace romwright::app
