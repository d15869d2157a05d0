#include "shell/app/OriginPrompt.h"

#include "platform/ui/DeviceContext.h"
#include "platform/ui/FontRegistry.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowApi.h"

namespace kestrova {
namespace {

constexpr ui::UINT kTimeoutTimer = 1;
constexpr ui::COLORREF kBackground = ui::RGB(250, 250, 250);
constexpr ui::COLORREF kBorder = ui::RGB(120, 120, 120);
constexpr ui::COLORREF kButton = ui::RGB(228, 231, 236);
constexpr ui::COLORREF kText = ui::RGB(20, 20, 20);

const char* labelOf(OriginPrompt::Choice choice) {
  switch (choice) {
    case OriginPrompt::Choice::AllowOnce: return "Allow once";
    case OriginPrompt::Choice::Always: return "Always";
    case OriginPrompt::Choice::Deny: return "Deny";
  }
  return "";
}

}  // namespace

OriginPrompt::OriginPrompt(std::string origin, Answer answer) : origin_(std::move(origin)), answer_(std::move(answer)) {
  setClassBackground(kBackground);
}

OriginPrompt::~OriginPrompt() {
  if (hwnd() != 0) destroyWindow();
  if (font_ != 0) ui::deleteFont(font_);
  if (boldFont_ != 0) ui::deleteFont(boldFont_);
}

ui::Rect OriginPrompt::buttonRect(Choice choice) {
  const int index = static_cast<int>(choice);
  const int width = (kWidth - 4 * 16) / 3;
  const int left = 16 + index * (width + 16);
  return ui::Rect{left, kHeight - 16 - 34, left + width, kHeight - 16};
}

bool OriginPrompt::show(std::chrono::milliseconds timeout) {
  font_ = ui::createFont("DejaVu Sans", 14);
  boldFont_ = ui::createFont("DejaVu Sans", 16, 700);
  const ui::Size screen = ui::getPrimaryScreenSize();
  const int left = (screen.cx - kWidth) / 2;
  const int top = (screen.cy - kHeight) / 3;
  if (create(0, ui::Rect{left, top, left + kWidth, top + kHeight}, std::string_view("Kestrova: allow this page?"),
             ui::WS_POPUP | ui::WS_VISIBLE, ui::WS_EX_TOPMOST) == 0) {
    return false;
  }
  shownAt_ = std::chrono::steady_clock::now();
  ui::setTimer(hwnd(), kTimeoutTimer, static_cast<uint32_t>(timeout.count()));
  ui::setForegroundWindow(hwnd());
  return true;
}

void OriginPrompt::choose(Choice choice) {
  Answer answer = std::move(answer_);
  answer_ = nullptr;
  if (hwnd() != 0) destroyWindow();
  if (answer) answer(choice);
}

ui::LRESULT OriginPrompt::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  switch (msg) {
    case ui::WM_PAINT:
      paint();
      return 0;
    case ui::WM_LBUTTONUP: {
      if (std::chrono::steady_clock::now() - shownAt_ < kArmDelay) return 0;
      const ui::Point at{ui::GET_X_LPARAM(lParam), ui::GET_Y_LPARAM(lParam)};
      for (const Choice choice : {Choice::AllowOnce, Choice::Always, Choice::Deny}) {
        if (buttonRect(choice).contains(at)) {
          choose(choice);
          return 0;
        }
      }
      return 0;
    }
    case ui::WM_KEYUP:
      if (wParam == ui::VK_ESCAPE) choose(Choice::Deny);
      return 0;
    case ui::WM_TIMER:
      if (wParam == kTimeoutTimer) choose(Choice::Deny);
      return 0;
    case ui::WM_CLOSE:
      choose(Choice::Deny);
      return 0;
    default:
      return defaultHandle(msg, wParam, lParam);
  }
}

void OriginPrompt::paint() {
  ui::PaintScope scope(hwnd());
  if (!scope.valid()) return;
  ui::DeviceContext& dc = scope.dc();
  const ui::Rect all{0, 0, kWidth, kHeight};
  dc.fillRect(all, kBackground);
  dc.frameRect(all, kBorder);
  dc.setBkMode(ui::TRANSPARENT);
  dc.setTextColor(kText);
  dc.selectFont(boldFont_);
  dc.drawText("Kestrova", ui::Rect{16, 12, kWidth - 16, 36}, ui::DT_LEFT | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  dc.selectFont(font_);
  dc.drawText("Allow " + origin_ + " to control your cameras?", ui::Rect{16, 44, kWidth - 16, kHeight - 60},
              ui::DT_LEFT | ui::DT_WORDBREAK | ui::DT_NOPREFIX | ui::DT_END_ELLIPSIS);
  for (const Choice choice : {Choice::AllowOnce, Choice::Always, Choice::Deny}) {
    const ui::Rect r = buttonRect(choice);
    dc.fillRect(r, kButton);
    dc.frameRect(r, kBorder);
    dc.drawText(labelOf(choice), r, ui::DT_CENTER | ui::DT_VCENTER | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  }
}

}  // namespace kestrova
