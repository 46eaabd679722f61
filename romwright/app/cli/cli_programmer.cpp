#include "romwright/app/cli/cli_programmer.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <stop_token>

#include "platform/linux/host_services.h"
#include "platform/linux/programmer_usb_libusb.h"
#include "platform/path_access.h"
#include "platform/replace_file.h"
#include "romwright/app/cli/cli_database.h"
#include "romwright/data/data_file.h"
#include "romwright/settings/settings_file.h"
#include "sim/programmer/chip_image_file.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/cli/progress_line.h"

namespace romwright::cli {

namespace {

constexpr std::uint32_t kTextNoProgrammer = 1;
constexpr std::uint32_t kTextOpenFileError = 26;
constexpr std::uint32_t kTextVersionSetting = 91;
constexpr std::uint32_t kTextLogFileSetting = 95;

std::string ForTerminal(const std::string& text) {
  std::string s;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    s.push_back(text[i] == '\r' ? '\n' : text[i]);
  }
  return s;
}

// The window's info line and progress bar, as lines of text, and the
// progress line on a terminal.
class TerminalStatus final : public app::StatusView {
 public:
  TerminalStatus(std::ostream& out, std::ostream& terminal)
      : out_(out), progress_(terminal, command_line::StderrIsTerminal()) {}
  void SetProgressBytes(std::uint64_t bytes) { bytes_ = bytes; }
  void InfoChanged(const std::string& text, app::Rgb colour) override {
    const std::string shown = ForTerminal(text);
    if (progress_.Drawn()) {
      // The operation ended: done, or failed where the line stands.
      if (colour != app::kErrorRed) progress_.Update(100);
      progress_.Finish();
    } else if (shown.size() > 3 && shown.compare(shown.size() - 3, 3, "...") == 0) {
      label_ = shown;  // "Reading...": what the coming progress is about
      progress_.SetLabel(label_);
    }
    out_ << (colour == app::kErrorRed ? "! " : "") << shown << "\n";
    out_.flush();
  }
  void ProgressChanged(int position, const std::string& text, app::Rgb, app::Rgb) override {
    if (position == 0) progress_.Start(label_, bytes_);  // a new operation or phase
    if (text != "ERROR") progress_.Update(position);
    // A line for every tenth of the way and for the error state; the 0 every
    // operation starts with is not worth one.
    const std::string step = text == "ERROR" ? text : std::to_string(position / 10);
    if (step == last_step_) return;
    last_step_ = step;
    if (position == 0) return;
    // The progress line says it on a terminal that stdout shares.
    if (progress_.Enabled() && ::isatty(STDOUT_FILENO) == 1 && text != "ERROR") return;
    out_ << "Progress: " << text << "\n";
    out_.flush();
  }

 private:
  std::ostream& out_;
  command_line::ProgressLine progress_;
  std::uint64_t bytes_ = 0;
  std::string label_;
  std::string last_step_ = "0";
};

}  // namespace

struct CliProgrammer::Parts {
  platform::SteadyClock steady_clock = platform::linux_host::MakeSystemClock();
  platform::Clock* clock = &steady_clock;
  std::unique_ptr<platform::ProgrammerUsb> own_usb;
  platform::ProgrammerUsb* usb = nullptr;
  sim::programmer::SimProgrammer* sim = nullptr;
  std::string sim_image;
  std::unique_ptr<TerminalStatus> view;
  std::unique_ptr<app::StatusDisplay> status;
  std::unique_ptr<link::ProgrammerLink> link;
  std::unique_ptr<link::TransferEngine> engine;
  std::stop_source stop;  // Ctrl-C
};

CliProgrammer::CliProgrammer(CliContext& ctx) : ctx_(ctx), parts_(std::make_unique<Parts>()) {}

void CliProgrammer::SetProgressBytes(std::uint64_t bytes) { parts_->view->SetProgressBytes(bytes); }

void CliProgrammer::Stop() { parts_->stop.request_stop(); }

CliProgrammer::~CliProgrammer() {
  if (parts_->engine) parts_->engine->AbortTransfer();
  if (parts_->sim && !parts_->sim_image.empty()) {
    if (!sim::programmer::KeepChipImage(*parts_->sim, parts_->sim_image)) ctx_.err << "romwright-cli: cannot keep the simulated chip in " << parts_->sim_image << "\n";
  }
}

std::unique_ptr<CliProgrammer> CliProgrammer::Start(CliContext& ctx, int& exit_code,
                                                    bool need_link) {
  std::unique_ptr<CliProgrammer> p(new CliProgrammer(ctx));
  exit_code = kExitFailed;
  if (!LoadCliDatabase(ctx, p->database_)) return nullptr;
  const auto chip = SelectCliChip(ctx, p->database_);
  exit_code = kExitUsage;
  if (!chip) return nullptr;

  // The texts of config.ini's language (English when it names none).
  if (const std::string folder = platform::linux_host::ExecutableFolder(); !folder.empty()) {
    p->texts_ = app::LanguageTable(app::SettingsFile::ForProgram(folder));
  }
  if (p->texts_.Language() != app::kLanguageEnglish && p->texts_.Language() != app::kLanguageChinese) {
    p->texts_.SetLanguage(std::string(app::kLanguageEnglish));
  }

  Parts& parts = *p->parts_;
  if (ctx.devices) {
    parts.clock = &ctx.devices->clock;
    parts.usb = &ctx.devices->usb;
  } else if (ctx.options.sim) {
    const std::string name = ctx.options.sim_chip.empty() ? app::NameOf(*chip) : ctx.options.sim_chip;
    const auto sim_chip = p->database_.FindByName(name);
    if (!sim_chip) {
      ctx.err << "romwright-cli: chip \"" << name << "\" for --sim is not in the database\n";
      return nullptr;
    }
    sim::programmer::SimProgrammerOptions options;
    options.erase_base_ms = 300;
    options.erase_ms_per_kib = 0;
    options.bytes_per_second = ctx.options.sim_rate;
    auto sim = std::make_unique<sim::programmer::SimProgrammer>(*parts.clock, *sim_chip, options);
    parts.sim_image = ctx.options.sim_image;
    sim::programmer::LoadChipImage(*sim, parts.sim_image);
    parts.sim = sim.get();
    parts.own_usb = std::move(sim);
  } else {
    parts.own_usb = std::make_unique<platform::linux_host::LibusbProgrammer>();
  }
  if (!parts.usb) parts.usb = parts.own_usb.get();

  p->buffer_ = app::DataBuffer::Create();
  if (!p->buffer_) {
    ctx.sink.Show(p->texts_.TextOf(19));  // "Memory overflow!"
    exit_code = kExitFailed;
    return nullptr;
  }
  p->buffer_->SetViewLength(chip->capacity);

  const std::string log_setting = p->texts_.TextOf(kTextLogFileSetting);
  const std::string log = log_setting.empty()
                              ? std::string()
                              : platform::ToHostPath(log_setting, platform::linux_host::CurrentDirectory());
  parts.view = std::make_unique<TerminalStatus>(ctx.out, ctx.err);
  parts.status = std::make_unique<app::StatusDisplay>(*parts.clock, log, parts.view.get());
  parts.link = std::make_unique<link::ProgrammerLink>(*parts.usb, ctx.sink);
  parts.engine = std::make_unique<link::TransferEngine>(*parts.clock);
  parts.engine->SetLink(parts.link.get());
  app::ProgrammerContext pc{*parts.clock, ctx.sink,        *parts.status,         p->texts_,
                            *parts.link,  *parts.engine, parts.stop.get_token()};
  p->ops_ = std::make_unique<app::ChipOperations>(pc, *p->buffer_, p->database_);
  p->ops_->SetSelectedChip(*chip);
  p->ops_->on_chip_detected = [buffer = p->buffer_.get()](const ChipRecord& c) {
    buffer->SetViewLength(c.capacity);
  };
  p->maintenance_ = std::make_unique<app::Maintenance>(pc, p->texts_.TextOf(kTextVersionSetting));

  if (need_link && !parts.link->OpenLink()) {
    ctx.sink.Show(p->texts_.TextOf(kTextNoProgrammer));
    exit_code = kExitUsage;
    return nullptr;
  }
  exit_code = kExitOk;
  return p;
}

bool CliProgrammer::LoadDataFile(const std::string& host_path) {
  const app::LoadOutcome loaded = app::LoadFile(*buffer_, host_path, ctx_.sink, texts_);
  if (!loaded) {
    ctx_.sink.Show(texts_.TextOf(kTextOpenFileError) + "\n" + loaded.fault);
    return false;
  }
  if (loaded.moved_down != 0) ctx_.err << app::MovedDownText(loaded) << "\n";
  return true;
}

}  // namespace romwright::cli
