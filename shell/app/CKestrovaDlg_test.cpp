#include "shell/app/CKestrovaDlg.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/ui/FontRegistry.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "shell/command/ShellState.h"

namespace kestrova {
namespace {

using CKestrovaDlgTest = ui::test::HeadlessTest;

TEST_F(CKestrovaDlgTest, StaysHiddenWhateverAsksItToShow) {
  CKestrovaDlg dialog;
  ASSERT_TRUE(dialog.createHidden());
  EXPECT_FALSE(ui::isWindowVisible(dialog.hwnd()));
  ui::showWindow(dialog.hwnd(), ui::SW_SHOW);
  EXPECT_FALSE(ui::isWindowVisible(dialog.hwnd()));
  ui::setWindowPos(dialog.hwnd(), 0, 10, 10, 100, 100, ui::SWP_SHOWWINDOW | ui::SWP_NOZORDER);
  EXPECT_FALSE(ui::isWindowVisible(dialog.hwnd()));
  // Enter and Escape do not end it.
  dialog.sendMessage(ui::WM_KEYDOWN, 0x0D);
  dialog.sendMessage(ui::WM_KEYUP, 0x1B);
  EXPECT_TRUE(ui::isWindow(dialog.hwnd()));
  dialog.destroyWindow();
}

TEST_F(CKestrovaDlgTest, DpiChangeSetsTheScale) {
  CKestrovaDlg dialog;
  ASSERT_TRUE(dialog.createHidden());
  dialog.sendMessage(ui::WM_DPICHANGED, ui::MAKEWPARAM(144, 144));
  EXPECT_EQ(shellState().dpiRadio.load(), 150u);
  dialog.sendMessage(ui::WM_DPICHANGED, ui::MAKEWPARAM(96, 96));
  EXPECT_EQ(shellState().dpiRadio.load(), 100u);
  dialog.sendMessage(ui::WM_DPICHANGED, ui::MAKEWPARAM(120, 120));
  EXPECT_EQ(shellState().dpiRadio.load(), 125u);
  dialog.destroyWindow();
}

TEST_F(CKestrovaDlgTest, DockCreationFromACommandThreadCarriesTheWindowFont) {
  CKestrovaDlg dialog;
  ASSERT_TRUE(dialog.createHidden());
  const auto font = static_cast<KsFont>(dialog.sendMessage(ui::WM_GETFONT));
  ASSERT_NE(font, 0u);

  // A command thread asks the UI thread, which keeps pumping meanwhile. The
  // library is not started in this test, so it answers 1009; what matters is
  // the record that reached it.
  LiveControlParam live{};
  PlaybackControlParam playback{};
  std::atomic<int> done{0};
  ui::LRESULT liveResult = -1, playbackResult = -1, otherResult = -1;
  std::thread command([&] {
    liveResult = ui::sendMessage(dialog.hwnd(), WM_CREATE_DOCK, 1, reinterpret_cast<ui::LPARAM>(&live));
    playbackResult = ui::sendMessage(dialog.hwnd(), WM_CREATE_DOCK, 2, reinterpret_cast<ui::LPARAM>(&playback));
    otherResult = ui::sendMessage(dialog.hwnd(), WM_CREATE_DOCK, 3, reinterpret_cast<ui::LPARAM>(&live));
    done = 1;
  });
  EXPECT_TRUE(pumpUntil([&] { return done.load() == 1; }));
  command.join();
  EXPECT_EQ(live.preview.font, font);
  EXPECT_EQ(playback.preview.font, font);
  EXPECT_EQ(liveResult, 1009);
  EXPECT_EQ(playbackResult, 1009);
  EXPECT_EQ(otherResult, 1009);
  dialog.destroyWindow();
}

}  // namespace
}  // namespace kestrova
