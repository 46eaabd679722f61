#pragma once
// Presenter state onto widgets: a control's ControlState (enabled, visible,
// read-only, checked, text, list entries and selection, tooltip, icon) copied
// onto the widget that shows it, for the main window and every dialog.

#include <QWidget>
#include <map>

#include "linetool/app/panel_state.h"

namespace linetool::ui {

// An edit marked so stays read-only whatever its state says (the counters).
inline constexpr const char* kAlwaysReadOnly = "alwaysReadOnly";

void ApplyControlState(QWidget* widget, const app::ControlState& state);
// Every control of `panel` that has a widget in `widgets`.
void ApplyPanel(const std::map<int, QWidget*>& widgets, const app::Panel& panel);

}  // namespace linetool::ui
