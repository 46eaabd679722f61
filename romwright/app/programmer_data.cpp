#include "romwright/app/programmer_data.h"

#include "platform/path_access.h"

namespace romwright::app {

namespace {
constexpr std::uint32_t kTextDatabaseError = 18;
constexpr std::uint32_t kTextMemoryOverflow = 19;
constexpr std::uint32_t kTextCaption = 90;
constexpr std::uint32_t kTextDatabaseFile = 96;
constexpr std::uint32_t kTextDefaultChip = 100;
}  // namespace

ProgrammerData::ProgrammerData(SettingsFile settings, std::string host_workdir, platform::MessageSink& sink,
                               DataCommandHooks hooks)
    : settings_(std::move(settings)),
      host_workdir_(std::move(host_workdir)),
      sink_(sink),
      hooks_(std::move(hooks)),
      texts_(settings_) {}

ProgrammerData::StartResult ProgrammerData::StartUp() {
  const std::string db_path = texts_.TextOf(kTextDatabaseFile);
  if (db_path.empty() || !db_.LoadDatabase(platform::ToHostPath(db_path, host_workdir_))) {
    sink_.Show(texts_.TextOf(kTextDatabaseError));
    return StartResult::kDatabaseError;
  }
  buffer_ = DataBuffer::Create();
  if (!buffer_) {
    sink_.Show(texts_.TextOf(kTextMemoryOverflow));
    return StartResult::kMemoryOverflow;
  }
  hex_view_ = std::make_unique<HexViewModel>(*buffer_);
  data_commands_ = std::make_unique<DataCommandsPresenter>(*buffer_, *hex_view_, texts_, sink_, hooks_);
  data_commands_->SetCaption(texts_.TextOf(kTextCaption));
  auto panel = std::make_unique<ChipSelectionPresenter>(db_, *buffer_, settings_, texts_, sink_, hooks_.status,
                                                        hex_view_.get());
  if (!panel->SelectAtStartUp(texts_.TextOf(kTextDefaultChip))) {
    // Neither the default chip nor EN25T80 is in this database.
    sink_.Show(texts_.TextOf(kTextDatabaseError));
    return StartResult::kDatabaseError;
  }
  chip_panel_ = std::move(panel);
  data_commands_->Redraw(true);
  return StartResult::kReady;
}

}  // namespace romwright::app
