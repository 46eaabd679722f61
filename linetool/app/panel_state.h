#pragma once
// The state of the main window's controls as data: for every control of the
// dialog, whether it is enabled, read-only, checked or visible, its text, its
// list entries and selection. The panel states of the station (busy, idle,
// disabled for a run) are functions over this record, so a view only copies
// them onto its widgets.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace linetool::app {

struct ControlState {
  bool enabled = true;
  bool read_only = false;
  bool checked = false;
  bool visible = true;
  std::string text;                // edit or label text; a list's selected text
  std::vector<std::string> items;  // entries of a drop list or drop-down
  int selection = -1;              // selected entry, -1 none
  std::size_t limit = 0;           // text limit of an edit (0: none)
  std::string tooltip;
  int icon = 0;

  bool operator==(const ControlState&) const = default;
};

class Panel {
 public:
  // The control's state; created with defaults on first use.
  ControlState& operator[](int id) { return controls_[id]; }
  // The control's state, or a default one for an unknown identifier.
  const ControlState& At(int id) const;
  const std::map<int, ControlState>& All() const { return controls_; }

  // The selected entry's text of a list (empty with no selection).
  std::string SelectedText(int id) const;
  // Selects an entry and mirrors its text; an index outside the list clears
  // the selection.
  void Select(int id, int index);

 private:
  std::map<int, ControlState> controls_;
};

// What the idle state depends on.
struct IdleInputs {
  bool unlocked = false;
  bool update_config = false;
  bool update_fw = false;
  bool partition_format = false;
  bool preload = false;
  bool idle_timer_option = false;  // fourth option flag of More Config
};

// Auto mode with the panel locked: only Load INI, Exit, minimise, Lock, Safely
// Remove and the progress bar stay usable (MP Auto Mode too when unlocked).
// The engineering dialogs (Check_Config) open only on an unlocked, idle panel.
void ApplyBusyState(Panel& panel, bool unlocked);
// Between runs: Start and the common buttons enabled; the rest follows the
// lock and the stage switches.
void ApplyIdleState(Panel& panel, const IdleInputs& in);
// During a run or a safe removal: the whole panel disabled.
void ApplyRunDisabledState(Panel& panel);

}  // namespace linetool::app
