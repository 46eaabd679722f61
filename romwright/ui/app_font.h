#pragma once
// The window's font: a sans-serif face for Latin text with a CJK face behind
// it, so the simplified Chinese texts and menus show every glyph.

#include <QFont>

namespace romwright::ui {

QFont WindowFont();
// Makes WindowFont the application's font.
void UseWindowFont();

}  // namespace romwright::ui
