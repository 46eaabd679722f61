#pragma once
// The station's own pictures, by the resource numbers the dialog template
// uses: the background, the logo, the button and check icons, the
// application icon. They are SVG files in resources/linetool.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace linetool::ui {

inline constexpr int kBitmapLogo = 131;
inline constexpr int kBitmapBackground = 181;
inline constexpr int kIconCheckOff = 175;
inline constexpr int kIconCheckOn = 176;

// The resource path of a picture; empty for a number the station does not have.
QString ArtworkPath(int resource);
QIcon ArtworkIcon(int resource);
// A picture drawn at `size` logical pixels, sharp at the screen's scale.
QPixmap ArtworkPixmap(int resource, QSize size, qreal device_pixel_ratio);
QIcon ApplicationIcon();

// The icon a button of the template shows (0: none).
int TemplateIconOf(int control_id);

}  // namespace linetool::ui
