#pragma once
// The "Simulated station" panel beside the main window in --sim mode: the
// simulated bridges with their state, Plug in and Pull out for the selected
// ones, and a fault to give them.

#include <QWidget>

#include "linetool/ui/sim_station_control.h"

class QComboBox;
class QListWidget;
class QLabel;

namespace linetool::ui {

class SimStationPanel final : public QWidget {
  Q_OBJECT
 public:
  SimStationPanel(SimStationControl& control, QWidget* parent = nullptr);
  // Selects bridges by index (for scripts and tests).
  void Select(const std::vector<int>& indexes);
  void Refresh();
  // The list of bridges (for tests).
  QListWidget& List() const { return *list_; }

 private:
  std::vector<int> Selected() const;
  void ForSelected(void (SimStationControl::*action)(int));
  void InjectFault();

  SimStationControl& control_;
  QListWidget* list_ = nullptr;
  QComboBox* faults_ = nullptr;
  QLabel* note_ = nullptr;
};

}  // namespace linetool::ui
