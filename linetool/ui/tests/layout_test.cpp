#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QRect>
#include <set>

#include "linetool/app/control_ids.h"
#include "linetool/app/tests/presenter_fixture.h"
#include "linetool/ui/main_window_layout.h"
#include "linetool/ui/texts.h"

namespace linetool::ui {
namespace {

QRect RectOf(const Placement& p) {
  const PixelRect r = ToPixels(p);
  return QRect(r.x, r.y, r.width, r.height);
}

TEST(MainWindowLayout, EveryControlFitsTheWindowItsGroupAndNoOtherControl) {
  const QRect window(0, 0, UnitsToPixels(kDialogWidth), UnitsToPixels(kDialogHeight));
  std::set<int> seen;
  std::vector<const Placement*> groups;
  for (const auto& p : MainWindowLayout()) {
    EXPECT_TRUE(seen.insert(p.id).second) << "twice: " << p.id;
    EXPECT_TRUE(window.contains(RectOf(p))) << p.id;
    if (p.kind == ControlKind::kGroup) groups.push_back(&p);
  }
  for (const auto& a : MainWindowLayout()) {
    if (a.kind == ControlKind::kGroup) continue;
    // Inside a group box wholly, or clear of it.
    for (const Placement* g : groups) {
      const QRect inner = RectOf(*g).adjusted(1, 1, -1, -1);
      EXPECT_TRUE(inner.contains(RectOf(a)) || !RectOf(*g).intersects(RectOf(a))) << a.id << " across " << g->id;
    }
    for (const auto& b : MainWindowLayout()) {
      if (&a < &b && b.kind != ControlKind::kGroup) {
        EXPECT_FALSE(RectOf(a).intersects(RectOf(b))) << a.id << " overlaps " << b.id;
      }
    }
  }
}

TEST(MainWindowLayout, EveryPanelControlIsPlacedAndEveryCaptionFitsItsPlace) {
  // Every control the presenter keeps state for has its place.
  app::testing::PresenterRig rig("layout");
  const app::Panel panel = rig.presenter.Controls();
  for (const auto& [id, state] : panel.All())
    EXPECT_NE(PlacementOf(id), nullptr) << "control " << id << " has no place";
  // Captions in the window's font are not clipped (a check box needs room for its box).
  const QFontMetrics metrics(QApplication::font());
  for (const auto& p : MainWindowLayout()) {
    const int room = ToPixels(p).width - (p.kind == ControlKind::kCheck ? 24 : 0);
    const std::string caption(p.caption);
    const std::string presenter_text = rig.presenter.Control(p.id).text;
    for (const std::string& text : {caption, presenter_text}) {
      if (p.kind != ControlKind::kLabel && p.kind != ControlKind::kCheck) continue;
      EXPECT_LE(metrics.horizontalAdvance(QtText(text)), room) << p.id << " \"" << text << "\"";
    }
  }
}

TEST(StationTexts, PickerFiltersAndLineEnds) {
  EXPECT_EQ(QtFileFilter("Config .ini File (*.ini)|*.ini||"), "Config .ini File (*.ini)");
  EXPECT_EQ(QtFileFilter("Images|*.bin;*.hex|All|*.*||"), "Images (*.bin *.hex);;All (*.*)");
  EXPECT_EQ(QtText("a\r\nb\rc\n"), "a\nb\nc\n");
  EXPECT_EQ(StationText(QtText("Kelv \xb5")), "Kelv \xb5");
  // Beyond the single-byte set: one byte above 127 per UTF-16 unit, never "?".
  const std::string wide = StationText(QString::fromUtf8("a\xe2\x82\xac\xf0\x9f\x98\x80" "b"));
  ASSERT_EQ(wide.size(), 5u);
  EXPECT_EQ(wide.front(), 'a');
  EXPECT_EQ(wide.back(), 'b');
  for (std::size_t i = 1; i < 4; ++i) EXPECT_GT(static_cast<unsigned char>(wide[i]), 127u) << i;
}

}  // namespace
}  // namespace linetool::ui
