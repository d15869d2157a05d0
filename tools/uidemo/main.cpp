// uidemo OUT.png
//
// Builds a 6 x 6 grid of differently coloured cells, each with a centred
// label, in one window on the headless desktop, and writes the window's
// capture to OUT.png. Exit status: 0 written, 1 failure, 2 usage.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/FontRegistry.h"
#include "platform/ui/backends/HeadlessDesktop.h"
#include "platform/ui/StaticLabel.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"

namespace {

using namespace ui;

constexpr int kColumns = 6;
constexpr int kCellWidth = 150;
constexpr int kCellHeight = 110;
constexpr int kGap = 2;

COLORREF hueColor(int i) {
  // Walk the colour wheel so neighbours differ clearly.
  double h = (i * 360.0 / 36.0);
  double x = 1.0 - std::abs(static_cast<int>(h / 60.0) % 2 + (h / 60.0 - static_cast<int>(h / 60.0)) - 1.0);
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h / 60.0)) {
    case 0: r = 1, g = x; break;
    case 1: r = x, g = 1; break;
    case 2: g = 1, b = x; break;
    case 3: g = x, b = 1; break;
    case 4: r = x, b = 1; break;
    default: r = 1, b = x; break;
  }
  auto scale = [](double v) { return static_cast<uint8_t>(40 + v * 180); };
  return RGB(scale(r), scale(g), scale(b));
}

// One cell: its colour as background and a label with white text on it.
class Cell : public Window {
 public:
  explicit Cell(COLORREF color) : color_(color) { setClassBackground(color); }

  bool build(HWND parent, const Rect& r, const std::string& text, HFONT font) {
    if (!create(parent, r, "", WS_CHILD | WS_VISIBLE)) return false;
    label_ = std::make_unique<StaticLabel>();
    HWND h = label_->createLabel(hwnd(), {0, 0, r.width(), r.height()}, text,
                                 WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE);
    if (!h) return false;
    ui::sendMessage(h, WM_SETFONT, font, 1);
    return true;
  }

  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_CTLCOLORSTATIC) {
      auto* dc = reinterpret_cast<DeviceContext*>(w);
      dc->setTextColor(RGB(255, 255, 255));
      dc->setBkMode(TRANSPARENT);
      return static_cast<LRESULT>(createSolidBrush(color_));
    }
    return defaultHandle(msg, w, l);
  }

 private:
  COLORREF color_;
  std::unique_ptr<StaticLabel> label_;
};

int run(const std::string& out) {
  auto backend = std::make_unique<HeadlessDesktop>();
  HeadlessDesktop* desktop = backend.get();
  if (!WindowSystem::install(std::move(backend))) return 1;
  int width = kColumns * (kCellWidth + kGap) + kGap;
  int height = kColumns * (kCellHeight + kGap) + kGap;
  int status = 1;
  {
    Window grid;
    grid.setClassBackground(RGB(32, 32, 32));
    HWND g = grid.create(0, {40, 40, 40 + width, 40 + height}, "uidemo", WS_POPUP | WS_VISIBLE);
    HFONT font = createFont("Segoe UI", 18, 700);
    std::vector<std::unique_ptr<Cell>> cells;
    bool ok = g != 0;
    for (int i = 0; ok && i < kColumns * kColumns; ++i) {
      int x = kGap + (i % kColumns) * (kCellWidth + kGap);
      int y = kGap + (i / kColumns) * (kCellHeight + kGap);
      cells.push_back(std::make_unique<Cell>(hueColor(i)));
      ok = cells.back()->build(g, Rect::fromSize(x, y, kCellWidth, kCellHeight), "Cell " + std::to_string(i + 1), font);
    }
    pumpPendingMessages();
    if (ok && desktop->captureWindow(g).writePng(out)) status = 0;
    destroyWindow(g);
    deleteFont(font);
  }
  WindowSystem::uninstall();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: uidemo OUT.png\n");
    return 2;
  }
  int status = run(argv[1]);
  if (status != 0) std::fprintf(stderr, "uidemo: could not write %s\n", argv[1]);
  return status;
}
