#include "romwright/app/data_commands_presenter.h"

#include "romwright/data/buffer_edit.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/data_file.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/settings/language_table.h"

namespace romwright::app {

namespace {
constexpr std::uint32_t kTextBusy = 0;
constexpr std::uint32_t kTextLoadFile = 24;
constexpr std::uint32_t kTextLoadCancel = 25;
constexpr std::uint32_t kTextOpenError = 26;
constexpr std::uint32_t kTextSaveFile = 27;
constexpr std::uint32_t kTextSaveCancel = 28;
constexpr std::uint32_t kTextSaveOk = 29;
constexpr std::uint32_t kTextDropError = 30;
}  // namespace

std::string WindowTitle(std::string_view caption, std::string_view path) {
  if (path.size() > 60) return std::string(caption) + "   ..." + std::string(path.substr(path.size() - 50));
  return std::string(caption) + "   " + std::string(path);
}

DataCommandsPresenter::DataCommandsPresenter(DataBuffer& buffer, HexViewModel& hex_view, const LanguageTable& texts,
                                             platform::MessageSink& sink, DataCommandHooks hooks)
    : buffer_(buffer), hex_view_(hex_view), texts_(texts), sink_(sink), hooks_(std::move(hooks)) {
  Redraw(true);
}

const std::string& DataCommandsPresenter::T(std::uint32_t id) const { return texts_.TextOf(id); }

void DataCommandsPresenter::Log(const std::string& text) {
  if (hooks_.status.log_line) hooks_.status.log_line(text);
}

bool DataCommandsPresenter::Busy() {
  if (!hooks_.programmer_busy || !hooks_.programmer_busy()) return false;
  sink_.Show(T(kTextBusy));
  Log(T(kTextBusy));
  return true;
}

void DataCommandsPresenter::Redraw(bool with_checksum) {
  if (with_checksum) {
    checksum_text_ = buffer_.ChecksumText();
    checksum_length_ = buffer_.ViewLength();
  }
  ++redraws_;
}

const std::string& DataCommandsPresenter::ChecksumText() {
  // Another chip counts another length of the buffer.
  if (checksum_length_ != buffer_.ViewLength()) Redraw(true);
  return checksum_text_;
}

bool DataCommandsPresenter::Load(const std::string& path) {
  Log(path);
  const LoadOutcome outcome = LoadFile(buffer_, path, sink_, texts_);
  Redraw(true);
  if (!outcome) {
    // The buffer and the title keep what was loaded before.
    sink_.Show(T(kTextOpenError) + "\n" + outcome.fault);
    Log(T(kTextOpenError) + " " + outcome.fault);
    return false;
  }
  if (outcome.moved_down != 0 && hooks_.status.show_info) hooks_.status.show_info(MovedDownText(outcome));
  loaded_path_ = path;
  title_ = WindowTitle(caption_, path);
  return true;
}

void DataCommandsPresenter::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  title_ = loaded_path_.empty() ? caption_ : WindowTitle(caption_, loaded_path_);
}

bool DataCommandsPresenter::OpenStart() {
  Log(T(kTextLoadFile));
  return !Busy();
}

bool DataCommandsPresenter::OpenPicked(const std::optional<std::string>& path) {
  if (!path) {
    Log(T(kTextLoadCancel));
    return false;
  }
  return Load(*path);
}

bool DataCommandsPresenter::Drop(const std::vector<std::string>& paths) {
  if (paths.size() != 1) {
    sink_.Show(T(kTextDropError));
    return false;
  }
  if (Busy()) return false;
  return Load(paths.front());
}

bool DataCommandsPresenter::LoadCommandLineFile(const std::string& path) { return Load(path); }

bool DataCommandsPresenter::SaveStart() {
  Log(T(kTextSaveFile));
  return !Busy();
}

bool DataCommandsPresenter::SavePicked(const std::optional<std::string>& path) {
  if (!path) {
    Log(T(kTextSaveCancel));
    return false;
  }
  Log(*path);
  if (!SaveFile(buffer_, *path)) {
    // A file that could not be written is reported, never shown as saved.
    if (hooks_.show_error) hooks_.show_error(T(kTextOpenError));
    sink_.Show(T(kTextOpenError));
    return false;
  }
  if (hooks_.status.show_info) hooks_.status.show_info(T(kTextSaveOk));
  return true;
}

bool DataCommandsPresenter::FillStart() { return !Busy(); }

bool DataCommandsPresenter::FillOk(std::string_view address, std::string_view length, std::string_view data) {
  const EditResult r = BufferFill(buffer_, address, length, data);
  if (r != EditResult::kDone) {
    sink_.Show(T(static_cast<std::uint32_t>(r)));
    return false;
  }
  Redraw(true);
  return true;
}

bool DataCommandsPresenter::SwapBytes() {
  if (Busy()) return false;
  ByteSwap(buffer_);
  Redraw(true);
  return true;
}

bool DataCommandsPresenter::LocateOk(std::string_view address) {
  const LocationResult r = AddressLocation(address, buffer_.ViewLength());
  if (r.result != EditResult::kDone) {
    sink_.Show(T(static_cast<std::uint32_t>(r.result)));
    return false;
  }
  hex_view_.GoToAddress(r.address);
  Redraw(false);
  return true;
}

}  // namespace romwright::app
