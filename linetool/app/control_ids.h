#pragma once
// The control identifiers of the station's main window. Views and the CLI
// address controls and commands by these numbers.

namespace linetool::app::ids {

inline constexpr int kExit = 1;
inline constexpr int kLoadIni = 1000;
inline constexpr int kSaveIni = 1001;
inline constexpr int kLock = 1002;
inline constexpr int kFormatList = 1004;
inline constexpr int kVendorId = 1005;
inline constexpr int kProductId = 1006;
inline constexpr int kRevision = 1007;
inline constexpr int kSerialNumber = 1008;
inline constexpr int kSerialMode = 1009;
inline constexpr int kManufacturer = 1010;
inline constexpr int kProduct = 1011;
inline constexpr int kUpdateConfig = 1012;
inline constexpr int kUpdateFw = 1013;
inline constexpr int kReloadFw = 1014;
inline constexpr int kPartitionFormat = 1015;
inline constexpr int kWrTest = 1016;
inline constexpr int kDriveLabel = 1017;
inline constexpr int kFileSystem = 1018;
inline constexpr int kBrowseFw = 1019;
inline constexpr int kFwList = 1020;
inline constexpr int kGrid = 1021;
inline constexpr int kStart = 1022;
inline constexpr int kSafelyRemove = 1023;
inline constexpr int kPassCount = 1024;
inline constexpr int kFailCount = 1025;
inline constexpr int kTotalCount = 1026;
inline constexpr int kClear = 1027;
inline constexpr int kProgressText = 1028;
inline constexpr int kProgressBar = 1029;
inline constexpr int kBrowsePreload = 1032;
inline constexpr int kPreloadList = 1050;
inline constexpr int kPreload = 1051;
inline constexpr int kAutoMode = 1056;
inline constexpr int kIdleTimer = 1057;
inline constexpr int kMoreConfig = 1058;
inline constexpr int kCheckConfig = 1068;
inline constexpr int kWarning = 1075;
inline constexpr int kMinimise = 1094;
inline constexpr int kVersion = 1096;
inline constexpr int kLogo = 1044;

// Group boxes and labels.
inline constexpr int kGroupDeviceConfiguration = 1030;
inline constexpr int kGroupDeviceFunction = 1031;
inline constexpr int kGroupFwBrowser = 1033;
inline constexpr int kGroupPreloadBrowser = 1052;
inline constexpr int kLabelFormat = 1034;
inline constexpr int kLabelSerialNumber = 1035;
inline constexpr int kLabelManufacturer = 1036;
inline constexpr int kLabelProduct = 1037;
inline constexpr int kLabelVendorId = 1038;
inline constexpr int kLabelProductId = 1039;
inline constexpr int kLabelRevision = 1040;
inline constexpr int kLabelSerialMode = 1041;
inline constexpr int kLabelFileSystem = 1042;
inline constexpr int kLabelDriveLabel = 1043;
inline constexpr int kLabelPass = 1045;
inline constexpr int kLabelFail = 1046;
inline constexpr int kLabelTotal = 1047;
inline constexpr int kLabelProgressBar = 1048;
inline constexpr int kLabelProgress = 1049;
inline constexpr int kLabelIdleTimer = 1053;

// The system menu's "About" entry.
inline constexpr int kAbout = 0x10;
// The window menu's "Last Records..." entry: there and enabled only when the
// station keeps unit records.
inline constexpr int kLastRecords = 0x20;

// The six stage switches in stage order.
inline constexpr int kStageSwitches[6] = {kUpdateConfig, kUpdateFw, kReloadFw,
                                          kPartitionFormat, kWrTest, kPreload};

}  // namespace linetool::app::ids
