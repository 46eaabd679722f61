#pragma once
// The programmer application's data side, put together at start-up: the
// settings file, the text table, the chip database, the data buffer, the hex
// view model and the presenters of the chip panel and the data commands.
//
// Start-up, in order: the text table is built from "config.ini" (its
// DefaultLanguage is the language); the database named by the DataBaseFile
// setting of that language is loaded ("Database error!" and nothing more when
// it fails: no buffer, so no chip operation can run); the buffer is
// allocated ("Memory overflow!" when it cannot be); the chip named by the
// DefaultChipName setting, or EN25T80, is selected. Opening the link and a
// file named on the command line come after, from the window.

#include <memory>
#include <string>

#include "platform/message_sink.h"
#include "romwright/app/chip_selection_presenter.h"
#include "romwright/app/data_commands_presenter.h"
#include "romwright/chips/chip_database.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"

namespace romwright::app {

// "Database error!" with the file and why it cannot be used on a second line.
std::string DatabaseErrorText(const std::string& text, const std::string& host_path, const std::string& fault);

class ProgrammerData {
 public:
  enum class StartResult { kReady, kDatabaseError, kMemoryOverflow };

  // `settings`: the program's config.ini (SettingsFile::ForProgram); `host_workdir`:
  // the folder relative setting paths (the database) are taken against.
  ProgrammerData(SettingsFile settings, std::string host_workdir, platform::MessageSink& sink,
                 DataCommandHooks hooks);
  // The presenters hold references into this object.
  ProgrammerData(const ProgrammerData&) = delete;
  ProgrammerData& operator=(const ProgrammerData&) = delete;

  // Runs the start-up steps above and shows their message boxes.
  StartResult StartUp();
  // True after a successful StartUp: the buffer and a chip exist.
  bool Ready() const { return chip_panel_ != nullptr; }

  SettingsFile& Settings() { return settings_; }
  LanguageTable& Texts() { return texts_; }
  const LanguageTable& Texts() const { return texts_; }
  const ChipDatabase& Database() const { return db_; }
  // Valid only when Ready().
  DataBuffer& Buffer() { return *buffer_; }
  HexViewModel& HexView() { return *hex_view_; }
  ChipSelectionPresenter& ChipPanel() { return *chip_panel_; }
  DataCommandsPresenter& DataCommands() { return *data_commands_; }
  const ChipRecord& SelectedChip() const { return chip_panel_->Selected(); }

 private:
  SettingsFile settings_;
  std::string host_workdir_;
  platform::MessageSink& sink_;
  DataCommandHooks hooks_;
  LanguageTable texts_;
  ChipDatabase db_;
  std::unique_ptr<DataBuffer> buffer_;
  std::unique_ptr<HexViewModel> hex_view_;
  std::unique_ptr<ChipSelectionPresenter> chip_panel_;
  std::unique_ptr<DataCommandsPresenter> data_commands_;
};

}  // namespace romwright::app
