// Hex view benchmark: paints one full page (24 rows) of the hex view and, in
// the same run, fills the same pixels with one QPainter fill; prints both
// median times and their ratio. Then scrolls through a whole 16 MiB buffer
// page by page (the first 4 MiB with --quick), painting every page, and
// prints the time per page (it must
// stay under 2 ms; the exit status is 1 when it does not). The last lines are
// the figures for scripts/bench: FIGURE name ours reference unit ratio goal what.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string_view>
#include <vector>

#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/ui/hex_view_widget.h"

namespace {
using Clock = std::chrono::steady_clock;

template <typename F>
double MedianMicros(int runs, F&& f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string_view(argv[1]) == "--quick";
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  auto buffer = romwright::app::DataBuffer::Create();
  buffer->SetViewLength(romwright::app::kDataBufferSize);
  std::mt19937 rng(7);
  for (auto& b : buffer->Bytes()) b = static_cast<std::uint8_t>(rng());
  for (std::uint32_t a = 0; a < romwright::app::kDataBufferSize; a += 37) buffer->Mark(a);
  romwright::app::HexViewModel model(*buffer);
  romwright::ui::HexViewWidget view;
  view.resize(romwright::ui::HexViewWidget::kPageWidth, romwright::ui::HexViewWidget::kPageHeight);
  view.SetModel(&model);
  model.GoToAddress(0x1000);
  model.Drag(300, 200);  // a selection on the page

  QImage page(view.size(), QImage::Format_RGB32);
  const int runs = 400;
  const double paint = MedianMicros(runs, [&] {
    QPainter p(&page);
    view.PaintPage(p);
  });
  const double fill = MedianMicros(runs, [&] {
    QPainter p(&page);
    p.fillRect(page.rect(), Qt::white);
  });
  std::printf("hex view page (%dx%d px, 24 rows): paint %.1f us, one fill %.1f us, ratio %.1f\n", page.width(),
              page.height(), paint, fill, paint / fill);

  // Page by page through the whole buffer.
  model.GoToAddress(0);
  std::uint32_t pages = 0;
  const auto start = Clock::now();
  for (;;) {
    {
      QPainter p(&page);
      view.PaintPage(p);
    }
    ++pages;
    if (quick && model.TopRow() * 16u >= romwright::app::kDataBufferSize / 4) break;
    const std::uint32_t top = model.TopRow();
    model.Navigate(romwright::app::HexViewModel::Key::kPageDown);
    if (model.TopRow() == top) break;
  }
  const double per_page_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / pages;
  std::printf("scrolling %s page by page: %u pages, %.3f ms a page (limit 2 ms)\n", quick ? "4 MiB" : "16 MiB", pages,
              per_page_ms);
  std::printf("FIGURE hex_view_page_vs_fill %.1f %.1f us %.2f - time: painting one page of the hex view / one fill of "
              "its pixels (median of %d)\n",
              paint, fill, paint / fill, runs);
  std::printf("FIGURE hex_view_scroll_page %.3f 2 ms %.3f <=1 time: a page while scrolling %s page by page / "
              "the 2 ms limit\n",
              per_page_ms, per_page_ms / 2.0, quick ? "4 MiB" : "16 MiB");
  return per_page_ms < 2.0 ? 0 : 1;
}
