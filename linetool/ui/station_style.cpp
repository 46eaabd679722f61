#include "linetool/ui/station_style.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

#include "linetool/ui/artwork.h"

namespace linetool::ui {

void ApplyStationStyle(QApplication& app) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  QFont font(QStringLiteral("Liberation Sans"));
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(13);
  QApplication::setFont(font);
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setApplicationName(QStringLiteral("LineTool"));
  (void)app;
}

}  // namespace linetool::ui
