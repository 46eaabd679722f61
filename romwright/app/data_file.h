#pragma once
// Loading a data file into the data buffer, and saving the buffer.
//
// A path whose last three characters are "HEX" or "hex" is read as Intel HEX,
// any other as a plain binary image. Either way the view length's bytes are
// first set to 0xFF and their change marks cleared, so a failed load leaves
// 0xFF with whatever was placed before the fault.

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
};

// Intel HEX reader. Characters outside records are skipped; inside a record
// only "0"-"9" and "A"-"F" are digits. Data records land at
// offset + address - base, where the offset is set by each extended address
// record (type 02: segment x 16, type 04: upper address x 65536) and the base
// is the offset of the file's first extended address record when that comes
// before any data record, else 0; an offset below the base is invalid. Bytes
// at or beyond the end of `view` are not stored. Types 03 and 05 are skipped;
// type 01 ends the file. Anything else (a short record, a bad digit, a
// checksum that does not sum to 0, another type, no end record) fails.
IntelHexResult ReadIntelHex(std::span<const std::uint8_t> file, std::span<std::uint8_t> view);
// The same, reading the file from a stream in blocks.
IntelHexResult ReadIntelHex(std::istream& file, std::span<std::uint8_t> view);

// True when the path names an Intel HEX file ("...HEX" or "...hex").
bool IsIntelHexPath(std::string_view path);

// Loads the file at `host_path` into the first view-length bytes of `buffer`.
// A file with data beyond the view length (trailing 0xFF bytes of a HEX file
// do not count) shows "File is too long!" through `sink` and still loads.
// False when the file cannot be opened or a HEX file is malformed.
bool LoadFile(DataBuffer& buffer, const std::string& host_path, platform::MessageSink& sink,
              const LanguageTable& texts);

// Writes the view length's bytes to `host_path`, replacing an existing file
// whole: it holds its old content or the new one, never a part. False when
// the file cannot be created or written.
bool SaveFile(const DataBuffer& buffer, const std::string& host_path);

}  // namespace romwright::app
