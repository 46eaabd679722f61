#pragma once
// The "Simulated programmer" panel of --sim mode: plug and unplug the
// programmer, put another chip in its socket and load the chip's contents
// from a file, and inject the simulator's faults (a chip byte that differs
// at an address, a programmer that stops answering, the boot loader state).

#include <QWidget>
#include <optional>
#include <string>

#include "romwright/chips/chip_database.h"
#include "romwright/settings/settings_file.h"
#include "sim/programmer/sim_programmer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace romwright::ui {

// The chip the simulated programmer of --sim holds: `wanted`, else the
// DefaultChipName of the settings at `settings_host_path`, else EN25T80, from
// the chip database the settings name (taken against `folder`). Nothing when
// the database cannot be used or holds none of them; `error` then says so,
// "Database error!" first.
std::optional<ChipRecord> SimulatedChip(app::ChipDatabase& db, const app::SettingsFile& settings,
                                        const std::string& folder, const std::string& wanted, std::string& error);

class SimPanel : public QWidget {
 public:
  SimPanel(sim::programmer::SimProgrammer& sim, const app::ChipDatabase& db, QWidget* parent = nullptr);

  QCheckBox* plugged;
  QComboBox* chip;
  QPushButton* insert;
  QPushButton* load;
  QLineEdit* fault_address;
  QPushButton* corrupt;
  QCheckBox* silent;
  QPushButton* boot;
  QLabel* state;

  // Puts `contents` into the chip in the socket, cut or padded with 0xFF to
  // its capacity.
  void LoadContents(const QByteArray& contents);
  // Inverts the chip's byte at the hexadecimal address `text`; false when the
  // text is no address of the chip.
  bool CorruptByte(const QString& text);
  void ShowState();

 private:
  sim::programmer::SimProgrammer& sim_;
  const app::ChipDatabase& db_;
};

}  // namespace romwright::ui
