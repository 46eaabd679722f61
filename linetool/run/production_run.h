#pragma once
// The production run of the station: the port table and its refresh, the
// checks behind Start, the JobController and one PortWorker per port, the
// AutoStarter of auto mode and the SafeRemover.
//
// Threads are std::jthread. A stop is a request: a worker ends at its next
// safe point (between stages, inside a wait or a barrier), never in the middle
// of a device request and never holding a lock; StopAllJobs waits for that.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "linetool/app/line_tool_presenter.h"
#include "linetool/app/station_run.h"
#include "linetool/device/bridge_operations.h"
#include "linetool/device/device_table.h"
#include "linetool/device/kelv_usb_lib.h"
#include "linetool/disk/disk_services.h"
#include "linetool/disk/fat32_format.h"
#include "linetool/records/records_store.h"
#include "linetool/run/station_services.h"
#include "platform/latest_request_worker.h"

namespace linetool::app {

inline constexpr int kPortCount = 16;
// A run that has not finished after this many polls of 500 ms ends.
inline constexpr std::uint32_t kPollLimit = 65536;
inline constexpr std::chrono::milliseconds kPollPause{500};
inline constexpr std::int64_t kUnknownTestLength = -1;
inline constexpr std::uint32_t kMaxTestFileLength = 0xB400000;

// The stage count of a run: one per switch, two for Partition / Format.
int StageCount(const profile::ProfileSettings& s);
// The chip code a firmware file is for: "00" when the path holds "091027",
// else the 8th and 9th characters of the file name.
std::string FirmwareChipCode(const std::string& firmware_path);

enum class PortState : std::uint8_t { kRunning = 0, kFinished = 1, kNotInRun = 2, kAtBarrier = 3 };

struct PortJob {
  int port = 0;
  std::uint8_t selected_count = 0;
  std::uint8_t capacity_count = 0;
  std::uint8_t stage_count = 0;
  std::atomic<float> progress{0.0f};
  std::atomic<PortState> state{PortState::kNotInRun};
};

struct JobControl {
  std::array<std::uint8_t, kPortCount> selected{};
  std::uint8_t selected_count = 0;
  std::uint8_t capacity_count = 0;
  std::uint8_t stage_count = 0;
  std::uint8_t disk_count_base = 0;
  int highest_cdrom = -1;
};

// Where the station keeps a record of every unit it finishes, and whether its
// serial numbers come from the line's counter in that store.
struct RecordsSetting {
  records::RecordsStore* store = nullptr;  // none: no records (the log alone, as ever)
  bool line_serials = false;
  std::string station;  // the station's name in its records
};

class ProductionRun final : public StationRun {
 public:
  ProductionRun(LineToolPresenter& presenter, StationServices services);
  ~ProductionRun() override;
  ProductionRun(const ProductionRun&) = delete;
  ProductionRun& operator=(const ProductionRun&) = delete;

  // StationRun
  bool RefreshPorts() override;
  void StartRun() override;
  void SafelyRemove() override;
  void StopAllJobs() override;
  void AutoStartCheck() override;
  EngineeringAccess Engineering() override { return {&table_, &lib_, &services_.clock}; }

  // Where plug events are handled. By default on the thread that reports them
  // (the simulator's caller, the udev watch); a window hands in a function
  // that runs its argument later on the window thread. Whether a run or a
  // removal forbids the refresh is decided again when it runs.
  using EventDispatch = std::function<void(std::function<void()>)>;
  void SetEventDispatch(EventDispatch dispatch);

  // Rewrites the device columns of the grid; with `rebuild`, empties columns
  // 1-13 first and the stage columns again after.
  void Repaint(bool rebuild);
  // Columns 1-6 of one port's row from its record.
  void RepaintRow(int port);

  // True while the JobController runs.
  bool RunActive() const { return run_active_.load(); }
  bool Removing() const { return removing_.load(); }
  // Blocks until the current run (if any) and the safe removal have ended.
  void WaitIdle();
  // Number of runs finished (counters, serial and log done).
  int RunsFinished() const { return runs_finished_.load(); }

  const device::DeviceTable& Table() const { return table_; }
  const JobControl& Control() const { return control_; }
  // The job record of a port: its progress and state in the current or last run.
  const PortJob& Job(int port) const { return jobs_.at(static_cast<std::size_t>(port)); }
  // The physical drive path of a port's log record, as a station path.
  std::string LogFilePath() const;

  // Set while no run is active; the store outlives the run.
  void SetRecords(RecordsSetting setting);
  // True when the serial numbers of a run come from the line's counter: line
  // serials on, a store, Update Config on and serial mode INCREASE.
  bool LineSerialsWanted() const;
  // Shows the line's next free serial number in the Serial Number field.
  // False (the field unchanged) when line serials are not wanted or the store
  // cannot be read.
  bool ShowNextLineSerial();
  // With line serials wanted, asks the reader thread for the line's next free
  // serial of the profile now in the panel; it replaces the profile's serial
  // there when the field still shows it and no run has begun.
  void ProfileLoaded() override;

 private:
  void JobController(std::stop_token stop);
  void PortWorker(std::stop_token stop, int port);
  void AutoStarter(std::stop_token stop);
  void SafeRemover();
  void ReadNextSerial(const std::array<std::string, 3>& wanted);
  void FinishRun();
  void OnDeviceEvent(const platform::DeviceEvent& event);
  void RefreshOnPlug();
  // One walk of the devices into the table and the grid; false after an
  // unexpected error.
  bool WalkDevices();
  void Subscribe();
  void Unsubscribe();
  disk::DiskServices DiskServicesFor(std::stop_token stop);
  char DriveLetterOf(std::uint8_t physical_drive);
  bool ControllerExists() const;
  // False when the hub of a port's bridge reports its port empty: the bridge
  // was pulled out, and its drive number may since name another disk.
  bool StillOnPort(const device::BridgeDeviceRecord& r);
  // Takes the volumes of a disk bridge's disk off (Volumes::UnmountDisk):
  // before the bridge restarts or leaves the bus, and at the end of its job.
  void ReleaseVolumes(const device::BridgeDeviceRecord& r);
  // The letter a port's volume gets: its own, or the first one from E on that
  // no volume holds and no other port of the run has claimed. A volume that
  // is dismounted for a moment (after a format) leaves its letter looking
  // free, so the ports of a run keep their letters apart themselves.
  char ClaimLetter(int port, char current);

  // The records of the run Start begins: its identifier, the files it uses
  // and, per port, what the device was and the serial number it gets.
  void PrepareRecords(const JobControl& control, const std::vector<std::string>& line_serials);
  void WriteRecords(const std::array<bool, kPortCount>& passed);

  LineToolPresenter& presenter_;
  profile::CLineEngine& engine_;
  StationServices services_;
  device::CKelvUSBLib lib_;
  device::DeviceTable table_;
  device::BridgeOperations ops_;

  JobControl control_;
  std::array<PortJob, kPortCount> jobs_;
  std::atomic<bool> polling_allowed_{true};
  std::mutex letters_mutex_;
  std::array<char, kPortCount> claimed_{};

  // Serialises refreshes, Start and the thread slots.
  std::recursive_mutex slots_;
  std::jthread controller_;
  std::array<std::jthread, kPortCount> workers_;
  std::jthread auto_starter_;
  std::jthread safe_remover_;

  std::atomic<bool> run_active_{false};
  std::atomic<bool> removing_{false};
  // The walk of the devices a refresh makes: whether one runs, on which
  // thread, and whether a plug event from another thread came meanwhile (the
  // walk may have passed that device already, so it walks once more).
  std::mutex walk_mutex_;
  bool walking_ = false;
  bool walk_again_ = false;
  std::thread::id walker_;
  std::atomic<int> runs_finished_{0};
  // True from Start until the JobController has returned, after its last event.
  std::atomic<bool> controller_working_{false};
  int subscription_ = -1;
  std::mutex subscription_mutex_;
  std::mutex dispatch_mutex_;
  EventDispatch dispatch_;

  RecordsSetting records_;
  struct PortRecord {
    records::DeviceIdentity before;
    std::string serial_written;
    std::array<std::int64_t, records::kRecordStages> stage_ms{};
  };
  std::array<PortRecord, kPortCount> port_records_;
  std::string run_id_;
  std::string firmware_file_, firmware_sha256_, profile_file_, profile_sha256_;

  // Reads the line's next free serial for the newest profile asked about:
  // VID, PID, serial. Last, so it stops before the rest goes.
  platform::LatestRequestWorker<std::array<std::string, 3>> serial_reader_{
      [this](std::array<std::string, 3> wanted) { ReadNextSerial(wanted); }};
};

}  // namespace linetool::app
