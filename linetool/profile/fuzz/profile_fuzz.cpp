// The profile reader and its validation on any text: what is read and
// validated composes sound configuration blocks, and what the station saves
// it reads back to the same settings.

#include <cstddef>
#include <cstdint>
#include <string>

#include "linetool/profile/config_block.h"
#include "linetool/profile/line_engine.h"
#include "linetool/profile/profile_format.h"
#include "platform/message_sink.h"
#include "platform/path_access.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using namespace linetool::profile;

class NoPaths final : public platform::PathAccess {
 public:
  platform::PathState Check(const std::string&) const override { return platform::PathState::kMissing; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::RecordingSink sink;
  NoPaths paths;
  CLineEngine engine(sink, paths, "/nonexistent");
  engine.Reset();
  const ProfileReadResult read = ReadProfileText(fuzz::AsText(data, size), engine.Settings());
  if (read.config_format) engine.SetConfigType(*read.config_format);
  const std::uint8_t code = engine.ValidateProfile();

  // Saving, loading and saving again gives the same file (the texts of a
  // field end at its first NUL, whatever the bytes behind it).
  const std::string saved = WriteProfileText(engine.Settings());
  ProfileSettings again{};
  const ProfileReadResult reread = ReadProfileText(saved, again);
  fuzz::Check(reread.unrecognised.empty(), "a saved profile has a line its reader does not know");
  fuzz::Check(reread.line_count <= kProfileLineLimit, "a saved profile has more lines than a profile holds");
  // The reader fixes five fields whatever their lines say.
  ProfileSettings kept = engine.Settings();
  kept.low_power_mode = kept.image1 = kept.crc32 = kept.Win8WTG = 0;
  kept.image0 = 1;
  fuzz::Check(WriteProfileText(again) == WriteProfileText(kept), "a saved profile reads back different settings");

  if (code == 0) {
    for (int slot = 0; slot < CLineEngine::kPortCount; ++slot) {
      ConfigBlock block{};
      if (engine.ComposePortBlock(slot, block)) {
        fuzz::Check(ConfigBlockIsValid(block), "a composed configuration block is not valid");
      }
    }
    (void)engine.CheckFirmwareName();
  }
  return 0;
}
