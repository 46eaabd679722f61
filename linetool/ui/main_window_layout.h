#pragma once
// The main window's dialog template: every control with its identifier, kind,
// template caption and place in dialog units. The window lays itself out from
// this table; a dialog unit is kPixelsPerUnit pixels at 100 % scale.

#include <string_view>
#include <vector>

namespace linetool::ui {

enum class ControlKind {
  kIconButton,    // an owner-drawn button showing an icon, with a tooltip
  kLabel,         // a transparent static text
  kGroup,         // a transparent group box
  kEdit,          // a single-line edit
  kReadOnlyEdit,  // an edit that only shows a value
  kDropList,      // a list the operator can only pick from
  kDropDown,      // a list of recent paths
  kCheck,         // a check box drawn with the two check icons
  kGrid,          // the status grid
  kProgressBar,
  kPicture,      // the logo
  kVersionLine,  // the red version line
};

struct Placement {
  int id;
  ControlKind kind;
  int x, y, width, height;  // dialog units
  std::string_view caption;
};

inline constexpr int kDialogWidth = 509;
inline constexpr int kDialogHeight = 320;
inline constexpr double kPixelsPerUnit = 2.1;

struct PixelRect {
  int x, y, width, height;
};

// Dialog units to pixels at 100 % scale.
int UnitsToPixels(int units);
PixelRect ToPixels(const Placement& p);

// The controls of the main window, groups before what they hold.
const std::vector<Placement>& MainWindowLayout();
// The placement of one control; nullptr for an identifier not in the template.
const Placement* PlacementOf(int id);

}  // namespace linetool::ui
