#include "linetool/app/panel_state.h"

#include <initializer_list>

#include "linetool/app/control_ids.h"

namespace linetool::app {

namespace {

const ControlState kDefaultState{};

void Enable(Panel& p, std::initializer_list<int> ids, bool on) {
  for (int id : ids) p[id].enabled = on;
}

void ReadOnly(Panel& p, std::initializer_list<int> ids, bool on) {
  for (int id : ids) p[id].read_only = on;
}

// The configuration fields: the six edits read-only and the three lists
// disabled, or the reverse.
void LockConfigFields(Panel& p, bool locked) {
  Enable(p, {ids::kVendorId, ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer,
             ids::kProduct, ids::kDriveLabel},
         true);
  ReadOnly(p, {ids::kVendorId, ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer,
               ids::kProduct},
           locked);
  Enable(p, {ids::kFormatList, ids::kSerialMode, ids::kIdleTimer}, !locked);
}

void CountersReadOnly(Panel& p) {
  ReadOnly(p, {ids::kPassCount, ids::kFailCount, ids::kTotalCount, ids::kProgressText}, true);
}

}  // namespace

const ControlState& Panel::At(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? kDefaultState : it->second;
}

std::string Panel::SelectedText(int id) const {
  const ControlState& c = At(id);
  if (c.selection < 0 || c.selection >= static_cast<int>(c.items.size())) return {};
  return c.items[static_cast<std::size_t>(c.selection)];
}

void Panel::Select(int id, int index) {
  ControlState& c = controls_[id];
  if (index < 0 || index >= static_cast<int>(c.items.size())) {
    c.selection = -1;
    c.text.clear();
    return;
  }
  c.selection = index;
  c.text = c.items[static_cast<std::size_t>(index)];
}

void ApplyBusyState(Panel& p, bool unlocked) {
  Enable(p, {ids::kLoadIni, ids::kExit, ids::kMinimise, ids::kLock, ids::kSafelyRemove, ids::kProgressBar}, true);
  p[ids::kAutoMode].enabled = unlocked;
  Enable(p, {ids::kStart, ids::kClear, ids::kSaveIni, ids::kUpdateConfig, ids::kUpdateFw, ids::kReloadFw,
             ids::kPartitionFormat, ids::kWrTest, ids::kPreload, ids::kFileSystem, ids::kBrowseFw, ids::kFwList,
             ids::kPreloadList, ids::kBrowsePreload, ids::kMoreConfig, ids::kCheckConfig},
         false);
  CountersReadOnly(p);
  p[ids::kDriveLabel].read_only = true;
  LockConfigFields(p, true);
}

void ApplyIdleState(Panel& p, const IdleInputs& in) {
  Enable(p, {ids::kLoadIni, ids::kExit, ids::kMinimise, ids::kStart, ids::kSafelyRemove, ids::kProgressBar,
             ids::kLock},
         true);
  CountersReadOnly(p);
  if (!in.unlocked) {
    Enable(p, {ids::kAutoMode, ids::kUpdateConfig, ids::kUpdateFw, ids::kReloadFw, ids::kPartitionFormat,
               ids::kWrTest, ids::kPreload, ids::kFileSystem, ids::kSaveIni, ids::kClear, ids::kBrowseFw,
               ids::kFwList, ids::kPreloadList, ids::kBrowsePreload, ids::kMoreConfig, ids::kCheckConfig},
           false);
    p[ids::kDriveLabel].read_only = true;
    LockConfigFields(p, true);
    return;
  }
  Enable(p, {ids::kAutoMode, ids::kUpdateConfig, ids::kUpdateFw, ids::kReloadFw, ids::kPartitionFormat,
             ids::kWrTest, ids::kPreload, ids::kSaveIni, ids::kClear, ids::kCheckConfig},
         true);
  LockConfigFields(p, !in.update_config);
  // Without the standby option the list shows "Never"; the presenter puts
  // the setting there too.
  if (in.update_config) p[ids::kIdleTimer].enabled = in.idle_timer_option;
  p[ids::kFileSystem].enabled = in.partition_format;
  p[ids::kDriveLabel].read_only = !in.partition_format;
  Enable(p, {ids::kBrowseFw, ids::kFwList}, in.update_fw);
  p[ids::kMoreConfig].enabled = in.update_config && in.update_fw;
  Enable(p, {ids::kPreloadList, ids::kBrowsePreload}, in.preload);
}

void ApplyRunDisabledState(Panel& p) {
  Enable(p, {ids::kLoadIni, ids::kExit, ids::kMinimise, ids::kStart, ids::kSafelyRemove, ids::kClear, ids::kLock,
             ids::kSaveIni, ids::kProgressBar, ids::kAutoMode, ids::kUpdateConfig, ids::kUpdateFw, ids::kReloadFw,
             ids::kPartitionFormat, ids::kWrTest, ids::kPreload, ids::kFileSystem, ids::kDriveLabel, ids::kBrowseFw,
             ids::kFwList, ids::kPreloadList, ids::kBrowsePreload, ids::kMoreConfig, ids::kVendorId,
             ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer, ids::kProduct,
             ids::kFormatList, ids::kSerialMode, ids::kIdleTimer, ids::kCheckConfig},
         false);
}

}  // namespace linetool::app
