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

std::string DatabaseErrorText(const std::string& text, const std::string& host_path, const std::string& fault) {
  return text + "\n" + host_path + ": " + fault;
}

ProgrammerData::ProgrammerData(SettingsFile settings, std::string host_workdir, platform::MessageSink& sink,
                               DataCommandHooks hooks)
    : settings_(std::move(settings)),
      host_workdir_(std::move(host_workdir)),
      sink_(sink),
      hooks_(std::move(hooks)),
      texts_(settings_) {}

ProgrammerData::StartResult ProgrammerData::StartUp() {
  const std::string db_path = texts_.TextOf(kTextDatabaseFile);
  const std::string db_host_path = db_path.empty() ? std::string() : platform::ToHostPath(db_path, host_workdir_);
  if (db_path.empty()) {
    sink_.Show(texts_.TextOf(kTextDatabaseError) + "\nconfig.ini names no chip database (DataBaseFile)");
    return StartResult::kDatabaseError;
  }
  if (!db_.LoadDatabase(db_host_path)) {
    sink_.Show(DatabaseErrorText(texts_.TextOf(kTextDatabaseError), db_host_path, db_.LoadFault()));
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
    sink_.Show(DatabaseErrorText(texts_.TextOf(kTextDatabaseError), db_host_path,
                                 "neither \"" + texts_.TextOf(kTextDefaultChip) + "\" nor \"EN25T80\" is in it"));
    return StartResult::kDatabaseError;
  }
  chip_panel_ = std::move(panel);
  data_commands_->Redraw(true);
  return StartResult::kReady;
}

}  // namespace romwright::app
