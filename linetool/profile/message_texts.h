#pragma once
// The station's fixed user-visible texts, looked up by their identifier. Every
// message box, grid cell text and log text of the station comes from this table.

#include <cstddef>
#include <string_view>

namespace linetool::profile {

enum class MessageId : std::size_t {
  // Profile reading, writing and validation.
  kUnknownError,
  kInvalidConfigType,
  kInvalidSnSize,
  kInvalidManufacturerSize,
  kInvalidProductSize,
  kInvalidSnString,
  kInvalidDiskLabelSize,
  kFilePathNotExist,
  kFilePathNotReadWrite,
  kInvalidIniLine,

  // Pre-start checks of a run.
  kVidFormatNotValid,
  kPidFormatNotValid,
  kRevisionFormatNotValid,
  kSerialNumberTooShort,
  kCheckDualImage,
  kWrTestFileError,
  kWrTestFileTooLarge,
  kCheckSettings,
  kChipFwMismatch,
  kLineSerialsUnavailable,  // then the reason

  // Composition of the firmware image (after the firmware path and a blank).
  kFwFileUnreadable,
  kFwFileEmpty,
  kFwFileTooLarge,
  kFwChipCodeUnknown,
  kCrcSourceUnreadable,
  kFwImageNotWritten,

  // Grid texts.
  kPass,
  kFail,
  kColumnPort,
  kColumnStatus,
  kColumnVid,
  kColumnPid,
  kColumnSerialNumber,
  kColumnFwVersion,
  kColumnCapacity,
  kColumnConfigUpdate,
  kColumnFwUpdate,
  kColumnReLink,
  kColumnPartition,
  kColumnFormat,
  kColumnRwTest,
  kColumnPreload,

  // Start-up.
  kAlreadyRunning,

  // Engineering dialogs: message boxes and their captions.
  kInvalidRegisterAddress,
  kInvalidRegisterLength,
  kOpenDevFail,
  kAccessDeviceFailed,    // "%d": the command status
  kAccessRegisterFailed,  // "%d": the command status
  kErrorCaption,
  kApplicationCaption,

  // Main window: title, version line, group boxes, labels, check boxes and
  // tooltips, the system menu's About entry and the About box.
  kWindowTitle,
  kVersionLine,
  kWarningMessage,
  kGroupDeviceConfiguration,
  kGroupDeviceFunction,
  kGroupFwBrowser,
  kGroupPreloadBrowser,
  kLabelFormat,
  kLabelVendorId,
  kLabelProductId,
  kLabelDeviceRevision,
  kLabelSerialNumber,
  kLabelSnIncrease,
  kLabelManufacturerString,
  kLabelProductString,
  kLabelIdleTimer,
  kLabelType,
  kLabelDriveLabel,
  kLabelPass,
  kLabelFail,
  kLabelTotal,
  kLabelProgressBar,
  kLabelProgress,
  kCheckAutoMode,
  kCheckUpdateConfig,
  kCheckUpdateFw,
  kCheckReloadFw,
  kCheckPartitionFormat,
  kCheckWrTest,
  kCheckPreloadFiles,
  kTipLoadIni,
  kTipSaveIni,
  kTipLock,
  kTipUnlock,
  kTipCheckConfig,
  kTipClose,
  kTipMinimise,
  kTipMoreConfig,
  kTipBrowseFw,
  kTipBrowsePreload,
  kTipStart,
  kTipSafelyRemove,
  kTipClearCount,
  kMenuAbout,
  kAboutTitle,
  kAboutOk,

  kCount  // keep last
};

// The text of one message. Never empty for an identifier below kCount.
std::string_view MessageText(MessageId id);

}  // namespace linetool::profile
