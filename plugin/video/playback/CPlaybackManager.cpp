#include "plugin/video/playback/CPlaybackManager.h"

#include <utility>

namespace ksplugs {

CPlaybackManager::CPlaybackManager(std::shared_ptr<const VideoServices> services) : DockWindow(std::move(services)) {}

ui::LRESULT CPlaybackManager::handleMessage(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
  if (msg == ui::WM_WINDOWPOSCHANGING) {
    keepShownState(reinterpret_cast<ui::WINDOWPOS*>(lParam));
    return 0;
  }
  return defaultHandle(msg, wParam, lParam);
}

}  // namespace ksplugs
