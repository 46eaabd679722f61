#include "romwright/ui/app_font.h"

#include <QApplication>

namespace romwright::ui {

QFont WindowFont() {
  QFont f;
  f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei"),
                 QStringLiteral("Noto Sans CJK SC")});
  f.setPixelSize(11);
  return f;
}

void UseWindowFont() { QApplication::setFont(WindowFont()); }

}  // namespace romwright::ui
