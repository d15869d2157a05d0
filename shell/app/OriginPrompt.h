#pragma once
// The question a page from an unknown origin raises: a small window in the
// middle of the screen, "Allow <origin> to control your cameras?", with
// Allow once, Always and Deny. Escape and closing it deny, and so does
// waiting: after the time-out the window closes itself with Deny. Clicks in
// the first moment after it appears are ignored: a page that knows where the
// question will show up cannot have the user click Allow while aiming at
// something of the page's.
//
// Threads: created, clicked and destroyed on the user-interface thread; the
// answer callback runs there once.
#include <chrono>
#include <functional>
#include <string>

#include "platform/ui/Window.h"

namespace kestrova {

class OriginPrompt : public ui::Window {
 public:
  enum class Choice { AllowOnce, Always, Deny };
  using Answer = std::function<void(Choice)>;

  OriginPrompt(std::string origin, Answer answer);
  ~OriginPrompt() override;

  // Shows the window on the primary monitor; false when it cannot be made.
  bool show(std::chrono::milliseconds timeout);
  // Ends the question with `choice` (also what a click does) and closes the window.
  void choose(Choice choice);

  // The buttons, in client coordinates, for tests that click them.
  static ui::Rect buttonRect(Choice choice);
  static constexpr int kWidth = 480;
  static constexpr int kHeight = 168;
  static constexpr std::chrono::milliseconds kArmDelay{600};

  ui::LRESULT handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

 private:
  void paint();

  const std::string origin_;
  Answer answer_;  // UI thread; emptied once answered
  std::chrono::steady_clock::time_point shownAt_;  // UI thread
  ui::HFONT font_ = 0;
  ui::HFONT boldFont_ = 0;
};

}  // namespace kestrova
