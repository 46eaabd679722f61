#include "linetool/ui/artwork.h"

#include <QPainter>
#include <QSvgRenderer>

#include "linetool/app/control_ids.h"

namespace linetool::ui {

namespace ids = app::ids;

QString ArtworkPath(int resource) {
  switch (resource) {
    case kBitmapLogo: return QStringLiteral(":/linetool/logo.svg");
    case 162: return QStringLiteral(":/linetool/load_ini.svg");
    case 163: return QStringLiteral(":/linetool/save_ini.svg");
    case 164: return QStringLiteral(":/linetool/unlocked.svg");
    case 165: return QStringLiteral(":/linetool/locked.svg");
    case 166: return QStringLiteral(":/linetool/check_config.svg");
    case 167: return QStringLiteral(":/linetool/browse.svg");
    case 169: return QStringLiteral(":/linetool/start.svg");
    case 171: return QStringLiteral(":/linetool/clear_count.svg");
    case 173: return QStringLiteral(":/linetool/safely_remove.svg");
    case 174: return QStringLiteral(":/linetool/more_config.svg");
    case kIconCheckOff: return QStringLiteral(":/linetool/check_off.svg");
    case kIconCheckOn: return QStringLiteral(":/linetool/check_on.svg");
    case kBitmapBackground: return QStringLiteral(":/linetool/background.svg");
    case 182: return QStringLiteral(":/linetool/close.svg");
    case 183: return QStringLiteral(":/linetool/minimise.svg");
    default: return {};
  }
}

QIcon ArtworkIcon(int resource) {
  const QString path = ArtworkPath(resource);
  return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap ArtworkPixmap(int resource, QSize size, qreal device_pixel_ratio) {
  QPixmap pixmap(size * device_pixel_ratio);
  pixmap.setDevicePixelRatio(device_pixel_ratio);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(ArtworkPath(resource));
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon ApplicationIcon() { return QIcon(QStringLiteral(":/linetool/linetool.svg")); }

int TemplateIconOf(int control_id) {
  switch (control_id) {
    case ids::kLoadIni: return 162;
    case ids::kSaveIni: return 163;
    case ids::kCheckConfig: return 166;
    case ids::kExit: return 182;
    case ids::kMinimise: return 183;
    case ids::kBrowseFw:
    case ids::kBrowsePreload: return 167;
    case ids::kStart: return 169;
    case ids::kSafelyRemove: return 173;
    case ids::kClear: return 171;
    case ids::kMoreConfig: return 174;
    default: return 0;
  }
}

}  // namespace linetool::ui
