#pragma once
// The application-wide look of the station's windows: the font the dialog
// template is designed for (a sans serif of 13 pixels) and the icon.

class QApplication;

namespace linetool::ui {

void ApplyStationStyle(QApplication& app);

}  // namespace linetool::ui
