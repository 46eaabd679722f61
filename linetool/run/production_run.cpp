#include "linetool/run/production_run.h"

#include <cstdio>
#include <exception>
#include <random>

#include "linetool/app/control_ids.h"
#include "linetool/disk/disk_queries.h"
#include "linetool/disk/format_step.h"
#include "linetool/disk/partition_step.h"
#include "linetool/disk/preload_copy.h"
#include "linetool/disk/production_log.h"
#include "linetool/disk/write_read_test.h"
#include "linetool/profile/station_files.h"
#include "linetool/records/file_digest.h"
#include "linetool/records/line_serials.h"
#include "platform/path_access.h"

namespace linetool::app {

namespace {

using profile::MessageId;
using profile::ProfileSettings;
using profile::TextOf;

constexpr std::string_view kPass = "PASS";
constexpr std::string_view kFail = "FAIL";

int Column(int stage) { return kFirstStageColumn + stage; }

// Cuts a text field to the panel's limit.
void CutField(profile::ProfileText& field, std::size_t limit) {
  const std::string_view t = TextOf(field);
  if (limit != 0 && t.size() > limit) profile::SetText(field, std::string(t.substr(0, limit)));
}

}  // namespace

int StageCount(const ProfileSettings& s) {
  return (s.config_enable != 0) + (s.fw_enable != 0) + (s.fw_reload != 0) + 2 * (s.format_enable != 0) +
         (s.wr_test_enable != 0) + (s.preload_enable != 0);
}

std::string FirmwareChipCode(const std::string& firmware_path) {
  if (firmware_path.find("091027") != std::string::npos) return "00";
  const std::string_view name = platform::FileNameOf(firmware_path);
  return name.size() >= 9 ? std::string(name.substr(7, 2)) : std::string(name.substr(std::min<std::size_t>(7, name.size())));
}

ProductionRun::ProductionRun(LineToolPresenter& presenter, StationServices services)
    : presenter_(presenter),
      engine_(presenter.Engine()),
      services_(services),
      lib_(services.devices),
      ops_(lib_, table_, services.clock, engine_.WorkDir(),
           device::ReloadSync{engine_.ReloadLock(), engine_.ReloadCounter()},
           [this](std::uint8_t n) { return DriveLetterOf(n); }) {
  for (int p = 0; p < kPortCount; ++p) jobs_[static_cast<std::size_t>(p)].port = p;
  Subscribe();
}

ProductionRun::~ProductionRun() {
  Unsubscribe();
  StopAllJobs();
  std::lock_guard lock(slots_);
  if (safe_remover_.joinable()) safe_remover_.join();
}

// --- Plug events ------------------------------------------------------------------

void ProductionRun::Subscribe() {
  std::lock_guard lock(subscription_mutex_);
  if (subscription_ >= 0) return;
  subscription_ = services_.devices.events.Subscribe([this](const platform::DeviceEvent& e) { OnDeviceEvent(e); });
}

void ProductionRun::Unsubscribe() {
  std::lock_guard lock(subscription_mutex_);
  if (subscription_ < 0) return;
  services_.devices.events.Unsubscribe(subscription_);
  subscription_ = -1;
}

void ProductionRun::OnDeviceEvent(const platform::DeviceEvent& event) {
  // Arrivals of disks and every removal; not while a removal or a run works.
  const bool disk = event.device_name.find("PHYSICALDRIVE") != std::string::npos;
  if (event.kind == platform::DeviceEventKind::kArrival && !disk) return;
  EventDispatch dispatch;
  {
    std::lock_guard lock(dispatch_mutex_);
    dispatch = dispatch_;
  }
  if (dispatch) {
    dispatch([this] { RefreshOnPlug(); });
  } else {
    RefreshOnPlug();
  }
}

void ProductionRun::SetEventDispatch(EventDispatch dispatch) {
  std::lock_guard lock(dispatch_mutex_);
  dispatch_ = std::move(dispatch);
}

void ProductionRun::RefreshOnPlug() {
  if (removing_.load() || run_active_.load() || !polling_allowed_.load()) return;
  {
    std::lock_guard lock(walk_mutex_);
    if (walking_) {
      // An event from inside the walk (on its own thread) is what that walk
      // sees. One from elsewhere may concern a device the walk has passed
      // already: the walk then goes round once more.
      if (walker_ != std::this_thread::get_id()) walk_again_ = true;
      return;
    }
  }
  RefreshPorts();
}

char ProductionRun::DriveLetterOf(std::uint8_t physical_drive) {
  return disk::DriveLetterOfDisk(DiskServicesFor({}), physical_drive);
}

disk::DiskServices ProductionRun::DiskServicesFor(std::stop_token stop) {
  return disk::DiskServices{services_.disks, services_.volumes, services_.tools,  services_.files,
                            services_.access, services_.clock,  engine_.WorkDir(), &polling_allowed_,
                            std::move(stop)};
}

// --- Port table ---------------------------------------------------------------------

bool ProductionRun::RefreshPorts() {
  if (removing_.load()) return true;
  std::unique_lock lock(slots_);
  if (run_active_.load()) return true;
  {
    std::lock_guard walk(walk_mutex_);
    if (walking_) return true;  // asked for from inside the walk itself
    walking_ = true;
    walk_again_ = false;
    walker_ = std::this_thread::get_id();
  }
  bool ok = true;
  for (;;) {
    ok = WalkDevices() && ok;
    std::lock_guard walk(walk_mutex_);
    if (!walk_again_) {
      walking_ = false;
      break;
    }
    walk_again_ = false;
  }
  const bool any = table_.device_count != 0;
  // The auto starter that runs now decided on the old count; the check below
  // replaces it. Told before the slots are let go, it presses Start no more,
  // so no run is begun only to be stopped by that check.
  if (any && engine_.Settings().auto_mp != 0 && !presenter_.Unlocked()) auto_starter_.request_stop();
  lock.unlock();
  if (any) {
    AutoStartCheck();
  } else {
    presenter_.ApplyRestState();
  }
  return ok;
}

bool ProductionRun::WalkDevices() {
  try {
    table_.cd_rom_present = 0;
    const device::CKelvUSBDev2K::Options options{engine_.Settings().cd_rom_mode != 0,
                                                 [this](std::uint8_t n) { return DriveLetterOf(n); }};
    lib_.Refresh(table_, options);
    Repaint(true);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ProductionRun::Repaint(bool rebuild) {
  if (rebuild) {
    // The devices may sit on other ports now: whatever order a header click
    // made no longer holds.
    presenter_.UnsortGrid();
    presenter_.ClearGridColumns(1, 13);
  }
  for (int p = 0; p < kPortCount; ++p) RepaintRow(p);
  if (rebuild) presenter_.ClearGridColumns(kFirstStageColumn, kGridColumns - 1);
}

void ProductionRun::RepaintRow(int p) {
  const device::BridgeDeviceRecord& r = table_.records[static_cast<std::size_t>(p)];
  if (!r.Present()) return;
  presenter_.ShowDevice(p, DeviceRowTexts{r.usb_speed, r.vendor_id, r.product_id, r.serial_number,
                                          r.firmware_version, device::CapacityText(r.capacity)});
}

// --- Start ---------------------------------------------------------------------------------

void ProductionRun::StartRun() {
  std::unique_lock lock(slots_);
  if (run_active_.load() || removing_.load()) return;
  ProfileSettings& s = engine_.Settings();
  platform::MessageSink& sink = presenter_.Sink();

  // 1. The panel's values, cut to the edit limits.
  CutField(s.vendor_id, 4);
  CutField(s.product_id, 4);
  CutField(s.device_revision, 4);
  CutField(s.serial_number, std::min<std::size_t>(20, engine_.Limits().serial_length));
  CutField(s.manufacturer_string, std::min<std::size_t>(44, engine_.Limits().manufacturer_length));
  CutField(s.product_string, std::min<std::size_t>(48, engine_.Limits().product_length));
  CutField(s.drive_label_name, s.format_drive_type != 0 ? 11 : 32);

  // 2. Formats.
  bool blocked = !presenter_.CheckFormats(true);
  // 3.
  const int stage_count = StageCount(s);
  // 4. Dual image.
  if (s.image0 == 0 && s.image1 == 0) {
    sink.Show(std::string(engine_.Text(MessageId::kCheckDualImage)));
    blocked = true;
  }
  // 5. Test file.
  const std::string test_path =
      platform::JoinStationPath(platform::ToStationPath(engine_.WorkDir()), TextOf(s.wr_test_binary_name));
  std::int64_t test_length = kUnknownTestLength;
  if (s.wr_test_enable != 0 && engine_.CheckPathAccess(test_path, true)) {
    const auto size = profile::FileSize(engine_.HostPath(test_path));
    if (!size) {
      sink.Show(std::string(engine_.Text(MessageId::kWrTestFileError)));
      blocked = true;
    } else if (*size > kMaxTestFileLength) {
      sink.Show(test_path + " " + std::string(engine_.Text(MessageId::kWrTestFileTooLarge)));
    } else {
      test_length = static_cast<std::int64_t>(*size);
    }
  }
  // 6. A configuration update goes with a firmware update of an accepted name.
  const std::string firmware(TextOf(s.fw_binary_name));
  if (!blocked && s.config_enable != 0) {
    engine_.SetFirmwarePath(firmware);
    if (s.fw_enable == 0 || !engine_.CheckFirmwareName()) {
      sink.Show(std::string(engine_.Text(MessageId::kCheckSettings)));
      blocked = true;
    }
  }
  // 7.-9.
  if (s.fw_enable != 0 && !engine_.CheckPathAccess(firmware, true)) return;
  const std::string preload_folder(TextOf(s.preload_folder_path));
  if (s.preload_enable != 0 && !engine_.CheckPathAccess(preload_folder, true)) return;
  if (s.wr_test_enable != 0 && test_length == kUnknownTestLength) return;
  if (stage_count == 0 || blocked) return;

  // 10.-11. Ports.
  const std::string chip_code = FirmwareChipCode(firmware);
  JobControl control;
  control.stage_count = static_cast<std::uint8_t>(stage_count);
  std::string mismatch;
  for (int p = 0; p < kPortCount; ++p) {
    device::BridgeDeviceRecord& r = table_.records[static_cast<std::size_t>(p)];
    r.test_file_length = 0;
    if (!r.Present() || r.firmware_version.empty()) continue;
    bool usable = true;
    if (s.fw_enable != 0) {
      std::string read_code;
      bool match = false;
      usable = ops_.ReadChipVariant(p, chip_code, read_code, match) == 1 && match;
      if (usable) engine_.SetChipCode(read_code);
    }
    if (!usable) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%d .", r.slot);
      mismatch += buf;
      continue;
    }
    ++control.selected_count;
    if (r.capacity != -1) ++control.capacity_count;
    control.selected[static_cast<std::size_t>(p)] = 1;
    r.test_file_length = test_length > 0 ? static_cast<std::uint32_t>(test_length) : 0;
    if (r.presents_cdrom != 0 && r.cdrom_number != device::kNoDriveNumber)
      control.highest_cdrom = std::max(control.highest_cdrom, static_cast<int>(r.cdrom_number));
  }
  if (!mismatch.empty()) {
    sink.Show(std::string(engine_.Text(MessageId::kChipFwMismatch)) + mismatch);
    return;
  }
  if (control.selected_count == 0) return;

  // The line's serial numbers are taken before the panel is disabled: a
  // database that cannot be reached starts no run, and says why.
  std::vector<std::string> line_serials;
  if (LineSerialsWanted()) {
    const auto taken = records::TakeLineSerials(*records_.store, TextOf(s.vendor_id), TextOf(s.product_id),
                                                TextOf(s.serial_number), control.selected_count);
    if (!taken) {
      sink.Show(std::string(engine_.Text(MessageId::kLineSerialsUnavailable)) + "\r\n" + records_.store->Error());
      return;
    }
    line_serials = *taken;
  }

  // 12.
  // The standby time the Idle Timer list shows (greyed by the lock or not).
  presenter_.ShowIdleTimer();
  presenter_.DisableForRun();
  engine_.SetFirmwarePath(firmware);
  if (s.config_enable != 0) {
    // With line serials the ports of the run take the line's numbers in port order.
    std::size_t next = 0;
    for (int p = 0; p < kPortCount; ++p) {
      device::BridgeDeviceRecord& r = table_.records[static_cast<std::size_t>(p)];
      if (!r.Present() || r.firmware_version.empty()) continue;
      if (next < line_serials.size()) {
        engine_.ComposeBlockWithSerial(line_serials[next++], r.config);
      } else {
        engine_.ComposePortBlock(p, r.config);
      }
    }
  }
  // A run never starts without the image it is to flash: with an empty
  // "TempBinData.bin" every port would report a firmware update it never made.
  if (s.fw_enable != 0 &&
      !engine_.BuildFlashImage(s.config_enable != 0 ? profile::FlashImageKind::kConfig
                                                    : profile::FlashImageKind::kUnConfig,
                               s.crc32 != 0)) {
    sink.Show(engine_.ImageFailureText());
    presenter_.ApplyRestState();
    return;
  }
  if (s.fw_reload != 0) {
    control.disk_count_base = static_cast<std::uint8_t>(services_.devices.system.DiskCount() - 1);
  }
  control_ = control;
  if (records_.store) PrepareRecords(control, line_serials);
  if (controller_.joinable()) controller_.join();
  run_active_.store(true);
  controller_working_.store(true);
  controller_ = std::jthread([this](std::stop_token st) {
    JobController(st);
    controller_working_.store(false);
  });
}

// --- JobController -------------------------------------------------------------------------

void ProductionRun::JobController(std::stop_token stop) {
  platform::Clock& clock = services_.clock;
  const ProfileSettings& s = engine_.Settings();
  Unsubscribe();
  for (auto& r : table_.records)
    for (int i = 0; i < disk::kStagePreload; ++i) r.stage_results[static_cast<std::size_t>(i)] = 0;
  presenter_.ClearGridColumns(kFirstStageColumn, kGridColumns - 1);
  presenter_.SetProgress(presenter_.ProgressText(), 0);
  {
    std::lock_guard lock(letters_mutex_);
    claimed_.fill(disk::kNoDriveLetter);
  }

  for (int p = 0; p < kPortCount; ++p) {
    PortJob& job = jobs_[static_cast<std::size_t>(p)];
    job.selected_count = control_.selected_count;
    job.capacity_count = control_.capacity_count;
    job.progress.store(0.0f);
    // The worker slots are shared with StopAllJobs: fill them under the slot lock,
    // and start no worker once a stop has been requested.
    std::lock_guard slots(slots_);
    if (control_.selected[static_cast<std::size_t>(p)] != 0 && !stop.stop_requested()) {
      job.stage_count = control_.stage_count;
      job.state.store(PortState::kRunning);
      workers_[static_cast<std::size_t>(p)] = std::jthread([this, p](std::stop_token st) { PortWorker(st, p); });
    } else {
      job.stage_count = 0;
      job.state.store(PortState::kNotInRun);
    }
  }

  int bar = 0;
  std::uint32_t polls = 0;
  bool stopped = false;
  for (;;) {
    if (!clock.WaitFor(kPollPause, stop)) {
      stopped = true;
      break;
    }
    bar = bar >= 100 ? 0 : bar + 1;
    float sum = 0.0f;
    int finished = 0;
    for (const PortJob& job : jobs_) {
      const PortState state = job.state.load();
      if (state == PortState::kNotInRun) continue;
      if (state == PortState::kFinished) ++finished;
      sum += job.progress.load();
    }
    char text[32];
    std::snprintf(text, sizeof text, "%3d %%", static_cast<int>(sum / static_cast<float>(control_.selected_count)));
    presenter_.SetProgress(text, bar);
    if (finished >= control_.selected_count) break;
    if (++polls >= kPollLimit) break;
  }
  // Workers still running (the poll limit, or a stop) end at their next safe
  // point; their missing results stay 0.
  // StopAllJobs may be joining the same slots: take the threads out under the
  // slot lock and join them outside it.
  std::array<std::jthread, kPortCount> running;
  {
    std::lock_guard slots(slots_);
    for (std::size_t i = 0; i < running.size(); ++i) {
      workers_[i].request_stop();
      running[i] = std::move(workers_[i]);
    }
  }
  for (auto& w : running)
    if (w.joinable()) w.join();

  if (stopped) {
    presenter_.ApplyRestState();
    Subscribe();
    run_active_.store(false);
    return;
  }
  presenter_.SetProgress(presenter_.ProgressText(), 100);
  presenter_.ApplyRestState();
  if (s.config_enable != 0 && s.serial_number_increase == 1) {
    if (LineSerialsWanted()) {
      ShowNextLineSerial();
    } else {
      presenter_.AdvanceSerial(control_.selected_count);
    }
  }
  FinishRun();
  Subscribe();
  run_active_.store(false);
  runs_finished_.fetch_add(1);
  presenter_.Notify(PresenterEvent::Kind::kRunEnded);
}

void ProductionRun::FinishRun() {
  const ProfileSettings& s = engine_.Settings();
  std::array<bool, kPortCount> passed{};
  for (int p = 0; p < kPortCount; ++p) {
    if (control_.selected[static_cast<std::size_t>(p)] == 0) continue;
    const auto& res = table_.records[static_cast<std::size_t>(p)].stage_results;
    bool fail = false;
    if (s.config_enable != 0 && res[disk::kStageConfig] == 0) fail = true;
    if (s.fw_enable != 0 && res[disk::kStageFirmware] == 0) fail = true;
    if (s.fw_reload != 0 && res[disk::kStageRelink] == 0) fail = true;
    if (s.format_enable != 0 && (res[disk::kStagePartition] == 0 || res[disk::kStageFormat] == 0)) fail = true;
    if (s.wr_test_enable != 0 && res[disk::kStageWriteRead] == 0) fail = true;
    passed[static_cast<std::size_t>(p)] = !fail;
  }
  // Each port's log record is on the medium (WriteLogRecord flushes it)
  // before the next port's is written, and all of them before the counters
  // show the run: after a power cut the log never lags behind the counters
  // an operator saw, and holds whole records.
  const disk::DiskServices ds = DiskServicesFor({});
  for (int p = 0; p < kPortCount; ++p) {
    if (control_.selected[static_cast<std::size_t>(p)] == 0) continue;
    const device::BridgeDeviceRecord& r = table_.records[static_cast<std::size_t>(p)];
    disk::LogPort port;
    port.slot = r.slot;
    port.usb_port = r.port;
    port.vid = r.vendor_id;
    port.pid = r.product_id;
    port.version = r.device_release;
    port.manufacturer = r.manufacturer;
    port.product = r.product;
    port.serial_number = r.serial_number;
    port.fw_version = r.firmware_version;
    port.usb_speed = r.usb_speed;
    port.drive_number = r.physical_drive_number;
    port.drive_letter = r.drive_letter;
    for (int i = 0; i < disk::kStageCount; ++i)
      port.results[static_cast<std::size_t>(i)] = r.stage_results[static_cast<std::size_t>(i)];
    disk::WriteLogRecord(ds, port, s);
  }
  for (int p = 0; p < kPortCount; ++p) {
    if (control_.selected[static_cast<std::size_t>(p)] != 0) presenter_.AddCounts(passed[static_cast<std::size_t>(p)]);
  }
  if (records_.store) WriteRecords(passed);
}

// --- Unit records -------------------------------------------------------------------------------

void ProductionRun::SetRecords(RecordsSetting setting) {
  std::lock_guard lock(slots_);
  records_ = std::move(setting);
}

bool ProductionRun::LineSerialsWanted() const {
  const ProfileSettings& s = engine_.Settings();
  return records_.store && records_.line_serials && s.config_enable != 0 && s.serial_number_increase == 1;
}

void ProductionRun::ProfileLoaded() {
  if (!LineSerialsWanted()) return;
  const ProfileSettings& s = engine_.Settings();
  serial_reader_.Post({std::string(TextOf(s.vendor_id)), std::string(TextOf(s.product_id)),
                       std::string(TextOf(s.serial_number))});
}

void ProductionRun::ReadNextSerial(const std::array<std::string, 3>& wanted) {
  const auto& [vid, pid, serial] = wanted;
  // A store that cannot be read leaves the profile's serial; a run says why.
  const auto next = records::NextLineSerial(*records_.store, vid, pid, serial);
  if (next && !run_active_.load()) presenter_.ReplaceSerial(serial, *next);
}

bool ProductionRun::ShowNextLineSerial() {
  if (!LineSerialsWanted()) return false;
  const ProfileSettings& s = engine_.Settings();
  const auto next =
      records::NextLineSerial(*records_.store, TextOf(s.vendor_id), TextOf(s.product_id), TextOf(s.serial_number));
  if (!next) return false;
  presenter_.ShowSerial(*next);
  return true;
}

namespace {

std::string DigestOf(const std::string& host_path) {
  const auto bytes = profile::ReadFileBytes(host_path);
  return bytes ? records::Sha256Hex(*bytes) : std::string();
}

std::string RecordTime(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

records::DeviceIdentity IdentityOf(const device::BridgeDeviceRecord& r) {
  return {r.vendor_id, r.product_id, r.serial_number, r.firmware_version};
}

}  // namespace

void ProductionRun::PrepareRecords(const JobControl& control, const std::vector<std::string>& line_serials) {
  const ProfileSettings& s = engine_.Settings();
  const platform::LocalTime t = services_.clock.LocalNow();
  std::random_device random;
  char id[64];
  std::snprintf(id, sizeof id, "%04d%02d%02dT%02d%02d%02d-%08x%08x", t.year, t.month, t.day, t.hour, t.minute,
                t.second, random(), random());
  run_id_ = id;
  firmware_file_ = s.fw_enable != 0 ? std::string(TextOf(s.fw_binary_name)) : std::string();
  firmware_sha256_ = firmware_file_.empty() ? std::string() : DigestOf(engine_.HostPath(firmware_file_));
  profile_file_ = engine_.ProfilePath();
  profile_sha256_ = profile_file_.empty() ? std::string() : DigestOf(engine_.HostPath(profile_file_));
  std::size_t next = 0;
  for (int p = 0; p < kPortCount; ++p) {
    PortRecord& pr = port_records_[static_cast<std::size_t>(p)];
    pr = PortRecord{};
    if (control.selected[static_cast<std::size_t>(p)] == 0) continue;
    pr.before = IdentityOf(table_.records[static_cast<std::size_t>(p)]);
    if (s.config_enable != 0) pr.serial_written = next < line_serials.size() ? line_serials[next++] : engine_.PortSerial(p);
  }
}

void ProductionRun::WriteRecords(const std::array<bool, kPortCount>& passed) {
  const ProfileSettings& s = engine_.Settings();
  const std::string time = RecordTime(services_.clock.LocalNow());
  for (int p = 0; p < kPortCount; ++p) {
    const auto pi = static_cast<std::size_t>(p);
    if (control_.selected[pi] == 0) continue;
    const device::BridgeDeviceRecord& r = table_.records[pi];
    const PortRecord& pr = port_records_[pi];
    records::UnitRecord u;
    u.run_id = run_id_;
    u.station = records_.station;
    u.time = time;
    u.port = p;
    u.usb_location = r.hub_path + " port " + std::to_string(r.port);
    u.before = pr.before;
    u.after = IdentityOf(r);
    u.serial_written = pr.serial_written;
    u.firmware_file = firmware_file_;
    u.firmware_sha256 = firmware_sha256_;
    u.profile_file = profile_file_;
    u.profile_sha256 = profile_sha256_;
    // The stages as the log shows them: a CD-ROM port does no preload.
    const std::array<bool, records::kRecordStages> on = {
        s.config_enable != 0, s.fw_enable != 0,     s.fw_reload != 0,
        s.format_enable != 0, s.format_enable != 0, s.wr_test_enable != 0,
        s.preload_enable != 0 && r.presents_cdrom == 0};
    for (std::size_t i = 0; i < records::kRecordStages; ++i) {
      if (!on[i]) continue;
      u.stages[i] = {r.stage_results[i] == 1 ? records::StageResult::kPass : records::StageResult::kFail,
                     pr.stage_ms[i]};
    }
    u.capacity = r.capacity;
    ops_.ReadAtaIdentity(p, u.ata_model, u.ata_serial);
    u.passed = passed[pi];
    if (!records_.store->Add(u))
      presenter_.Notify({PresenterEvent::Kind::kRecordLost, p, -1, records_.store->Error()});
  }
}

std::string ProductionRun::LogFilePath() const {
  return engine_.HostPath(disk::LogFileName(services_.clock.LocalNow()));
}

// --- PortWorker --------------------------------------------------------------------------------

void ProductionRun::PortWorker(std::stop_token stop, int p) {
  const auto pi = static_cast<std::size_t>(p);
  PortJob& job = jobs_[pi];
  device::BridgeDeviceRecord& r = table_.records[pi];
  const ProfileSettings& s = engine_.Settings();
  platform::Clock& clock = services_.clock;
  const disk::DiskServices ds = DiskServicesFor(stop);
  const bool cdrom = r.presents_cdrom != 0;
  const float step = static_cast<float>(100 / std::max<int>(1, job.stage_count));
  int ok = r.slot > 16 ? 0 : 1;

  // How long each stage took, for the unit's record.
  platform::Clock::Millis stage_start = clock.Now();
  auto took = [&](int stage) {
    const platform::Clock::Millis now = clock.Now();
    port_records_[pi].stage_ms[static_cast<std::size_t>(stage)] = (now - stage_start).count();
    stage_start = now;
  };
  auto record = [&](int stage, int result, bool show) {
    took(stage);
    r.stage_results[static_cast<std::size_t>(stage)] = static_cast<std::uint8_t>(result);
    if (show) presenter_.SetResultCell(p, Column(stage), std::string(result != 0 ? kPass : kFail));
    job.progress.store(job.progress.load() + step);
  };
  // The progress first: a controller that sees the port finished then reads
  // its 100, so the last mean shown is "100 %". The station is done with the
  // disk: its volumes are taken off, so a bridge pulled now leaves nothing of
  // the host holding its disk.
  auto finish = [&] {
    ReleaseVolumes(r);
    job.progress.store(100.0f);
    job.state.store(PortState::kFinished);
  };

  // 1. Configuration.
  if (s.config_enable != 0) {
    int result = ok;
    if (ok != 0 && s.image0 != 0) result = ops_.ConfigSlotTransfer(p, 1, r.config, 0);
    if (ok != 0 && result != 0 && s.image1 != 0) result = ops_.ConfigSlotTransfer(p, 1, r.config, 1);
    ok = result;
    record(disk::kStageConfig, result, true);
  } else if (s.fw_enable != 0) {
    // The firmware update keeps the bridge's configuration: each enabled slot
    // is read and written back unchanged. A slot that cannot be read is not
    // written (writing back what a failed read left would erase it).
    int result = ok;
    for (int slot = 0; slot < 2 && result != 0; ++slot) {
      if ((slot == 0 ? s.image0 : s.image1) == 0) continue;
      r.config.fill(0);
      result = ops_.ConfigSlotTransfer(p, 0, r.config, slot) == 1 ? ops_.ConfigSlotTransfer(p, 1, r.config, slot) : 0;
    }
    ok = result;
    took(disk::kStageConfig);
    r.stage_results[disk::kStageConfig] = static_cast<std::uint8_t>(result);
  } else {
    presenter_.SetCellText(p, Column(disk::kStageConfig), {});
  }
  if (stop.stop_requested()) return finish();

  // 2. Firmware.
  if (s.fw_enable != 0) {
    int result = ok;
    if (ok != 0 && s.image0 != 0) result = ops_.FirmwareWrite(p, 0);
    if (ok != 0 && result != 0 && s.image1 != 0) result = ops_.FirmwareWrite(p, 1);
    ok = result;
    record(disk::kStageFirmware, result, true);
  } else {
    presenter_.SetCellText(p, Column(disk::kStageFirmware), {});
  }
  if (stop.stop_requested()) return finish();

  // 3. Restart and re-find, then the barrier of all ports of the run.
  if (s.fw_reload != 0) {
    int result = ok;
    if (ok != 0) {
      // The restart takes the disk off the bus: nothing may hold it then.
      ReleaseVolumes(r);
      result = ops_.FirmwareReload(p, control_.selected_count, control_.disk_count_base, control_.highest_cdrom, stop);
    }
    if (!clock.WaitFor(kPollPause, stop)) return finish();
    // Only this port's row: the other workers write their own records now.
    RepaintRow(p);
    ok = result;
    record(disk::kStageRelink, result, true);
    job.state.store(PortState::kAtBarrier);
    // A port keeps its barrier state until it finishes, and a finished port
    // still counts as arrived: the ports leave together, and no port waits
    // for one that has already gone on.
    for (;;) {
      int arrived = 0;
      for (const PortJob& other : jobs_) {
        const PortState st = other.state.load();
        if (st == PortState::kAtBarrier || st == PortState::kFinished) ++arrived;
      }
      if (arrived >= control_.selected_count) break;
      if (!clock.WaitFor(kPollPause, stop)) return finish();
    }
    if (!clock.WaitFor(kPollPause, stop)) return finish();
  } else {
    presenter_.SetCellText(p, Column(disk::kStageRelink), {});
  }

  // 4.-5. Partition and format.
  stage_start = clock.Now();
  disk::PortDisk port{r.physical_drive_number == device::kNoDriveNumber ? -1 : r.physical_drive_number,
                      r.drive_letter, r.bytes_per_sector};
  if (s.format_enable != 0) {
    int result = 0;
    // The disk is the station's alone from the new table to the new file
    // system: the system neither probes it nor re-reads its table meanwhile.
    // (Drive 0 and a port without a drive are the partition step's to refuse.)
    std::unique_ptr<platform::DiskHold> hold;
    bool partition_disk = !cdrom && ok != 0 && StillOnPort(r);
    if (partition_disk && port.drive_number > 0) {
      hold = services_.disks.Hold(port.drive_number);
      if (!hold) {
        partition_disk = false;
        presenter_.NoteFailure(p, Column(disk::kStagePartition),
                               "the disk could not be held for the station alone (another program holds it, or it is gone)");
      }
    }
    if (partition_disk) {
      port.drive_letter = ClaimLetter(p, port.drive_letter);
      disk::PartitionStep partition;
      result = partition.Run(ds, engine_.PartitionLock(), port) ? 1 : 0;
      r.drive_letter = port.drive_letter;
      if (result == 0) presenter_.NoteFailure(p, Column(disk::kStagePartition), partition.Reason());
      // The system takes in the new partitions before the format opens one.
      if (result != 0 && hold && !hold->AwaitNewPartitions()) {
        result = 0;
        presenter_.NoteFailure(p, Column(disk::kStagePartition),
                               "the disk could not be held again after its new table (another program took it, or it is gone)");
      }
    }
    ok = result;
    record(disk::kStagePartition, result, true);
    if (stop.stop_requested()) return finish();

    result = 0;
    if (ok != 0) {
      port.drive_letter = disk::DriveLetterOfDisk(ds, port.drive_number);
      r.drive_letter = port.drive_letter;
      if (port.drive_letter != disk::kNoDriveLetter) {
        disk::FormatStep format;
        disk::CFat32Format formatter(services_.disks, clock);
        result = format.Run(ds, formatter, s, port) ? 1 : 0;
        if (result == 0 && !format.Reason().empty()) {
          presenter_.NoteFailure(p, Column(disk::kStageFormat), format.Reason());
        }
      }
    }
    hold.reset();
    ok = result;
    record(disk::kStageFormat, result, true);
  } else {
    presenter_.SetCellText(p, Column(disk::kStagePartition), {});
    presenter_.SetCellText(p, Column(disk::kStageFormat), {});
  }
  if (stop.stop_requested()) return finish();

  // 6. Write/read test.
  if (s.wr_test_enable != 0) {
    int result = 0;
    if (!cdrom && ok != 0) {
      port.drive_letter = disk::DriveLetterOfDisk(ds, port.drive_number);
      r.drive_letter = port.drive_letter;
      disk::WriteReadTest test;
      result = test.Run(ds, port.drive_letter, std::string(TextOf(s.wr_test_binary_name)), r.test_file_length,
                        s.wr_test_count) == disk::WriteReadTest::Outcome::kPassed
                   ? 1
                   : 0;
    }
    ok = result;
    record(disk::kStageWriteRead, result, true);
  } else {
    presenter_.SetCellText(p, Column(disk::kStageWriteRead), {});
  }
  if (stop.stop_requested()) return finish();

  // 7. Preload.
  if (s.preload_enable != 0 && !cdrom) {
    int result = 0;
    if (ok != 0) {
      std::string folder(TextOf(s.preload_folder_path));
      if (!folder.empty() && folder.back() == '\\') folder.pop_back();
      disk::PreloadCopy copy;
      result = copy.Run(ds, engine_.PreloadLock(), port, folder) == disk::PreloadCopy::Outcome::kCopied ? 1 : 0;
      r.drive_letter = port.drive_letter;
    }
    record(disk::kStagePreload, result, true);
  } else {
    presenter_.SetCellText(p, Column(disk::kStagePreload), {});
  }
  finish();
}

// --- Auto mode, removal, stops ----------------------------------------------------------------

char ProductionRun::ClaimLetter(int port, char current) {
  std::lock_guard lock(letters_mutex_);
  auto claimed_by_other = [&](char l) {
    for (int q = 0; q < kPortCount; ++q)
      if (q != port && claimed_[static_cast<std::size_t>(q)] == l) return true;
    return false;
  };
  char letter = current;
  if (letter == disk::kNoDriveLetter || claimed_by_other(letter)) {
    letter = disk::kNoDriveLetter;
    for (char l = 'E'; l <= 'Z'; ++l) {
      if (claimed_by_other(l) || disk::LetterTaken(services_.volumes, l)) continue;
      letter = l;
      break;
    }
  }
  claimed_[static_cast<std::size_t>(port)] = letter;
  return letter;
}

bool ProductionRun::StillOnPort(const device::BridgeDeviceRecord& r) {
  // A hub that cannot be asked proves nothing: only an empty port fails.
  const auto hub = services_.devices.usb.OpenHub(r.hub_path);
  if (!hub) return true;
  const auto connection = hub->Connection(r.port);
  return !connection || connection->status == platform::kUsbDeviceConnected;
}

void ProductionRun::ReleaseVolumes(const device::BridgeDeviceRecord& r) {
  if (r.presents_cdrom != 0 || r.physical_drive_number == device::kNoDriveNumber || r.physical_drive_number == 0) return;
  services_.volumes.UnmountDisk(r.physical_drive_number);
}

bool ProductionRun::ControllerExists() const { return controller_.joinable(); }

void ProductionRun::AutoStartCheck() {
  if (engine_.Settings().auto_mp == 0 || presenter_.Unlocked()) return;
  StopAllJobs();
  std::lock_guard lock(slots_);
  auto_starter_ = std::jthread([this](std::stop_token st) { AutoStarter(st); });
}

void ProductionRun::AutoStarter(std::stop_token stop) {
  platform::Clock& clock = services_.clock;
  while (!stop.stop_requested()) {
    // A run of a device that has gone (or of one among several) is stopped.
    // The controller is joined outside the slot lock, which it needs to end.
    std::jthread ended;
    {
      std::lock_guard lock(slots_);
      const std::uint32_t count = table_.device_count;
      if (count == 0 || count != engine_.Settings().auto_mp) ended = std::move(controller_);
    }
    if (ended.joinable()) {
      ended.request_stop();
      ended.join();
    }
    // Decided and pressed under the slot lock, so a refresh that changes the
    // count in between stops this starter first.
    bool started = false;
    {
      std::lock_guard lock(slots_);
      const std::uint32_t count = table_.device_count;
      if (!stop.stop_requested() && count != 0 && count == engine_.Settings().auto_mp && !ControllerExists()) {
        StartRun();
        started = true;
      }
    }
    if (started) {
      if (!clock.WaitFor(kPollPause, stop)) return;
      std::lock_guard lock(slots_);
      if (control_.selected_count == 0) break;
    }
    if (!clock.WaitFor(kPollPause, stop)) return;
  }
  // The loop ends only when a Start started nothing: the starter presses Lock,
  // which stops the auto-mode threads and asks for the password.
  if (!stop.stop_requested()) presenter_.SendCommand(ids::kLock);
}

void ProductionRun::StopAllJobs() {
  std::unique_lock lock(slots_);
  if (auto_starter_.joinable()) {
    auto_starter_.request_stop();
    if (auto_starter_.get_id() != std::this_thread::get_id()) {
      std::jthread t = std::move(auto_starter_);
      lock.unlock();  // the starter may be waiting for the slots
      t.join();
      lock.lock();
    }
  }
  for (auto& w : workers_) w.request_stop();
  if (controller_.joinable()) {
    controller_.request_stop();
    std::jthread t = std::move(controller_);
    lock.unlock();
    if (t.get_id() != std::this_thread::get_id()) t.join();
    lock.lock();
  }
  for (auto& w : workers_)
    if (w.joinable() && w.get_id() != std::this_thread::get_id()) w.join();
}

void ProductionRun::SafelyRemove() {
  std::lock_guard lock(slots_);
  if (run_active_.load() || removing_.load()) return;
  presenter_.DisableForRun();
  if (safe_remover_.joinable()) safe_remover_.join();
  removing_.store(true);
  safe_remover_ = std::jthread([this] { SafeRemover(); });
}

void ProductionRun::SafeRemover() {
  for (int p = 0; p < kPortCount; ++p) {
    const device::BridgeDeviceRecord& r = table_.records[static_cast<std::size_t>(p)];
    if (!r.Present() || r.firmware_version.empty()) continue;
    ReleaseVolumes(r);
    ops_.SafeRemoveBridge(p);
  }
  removing_.store(false);
  presenter_.ApplyIdleStateOnly();
}

void ProductionRun::WaitIdle() {
  // The controller's slot is left as it is: an empty slot tells the auto
  // starter that no run has been started for the device that is plugged, so
  // emptying it here would begin a second run on the same device.
  while (controller_working_.load()) services_.clock.WaitFor(std::chrono::milliseconds(50));
  std::jthread remover;
  {
    std::lock_guard lock(slots_);
    if (safe_remover_.joinable()) remover = std::move(safe_remover_);
  }
  if (remover.joinable()) remover.join();
}

}  // namespace linetool::app
