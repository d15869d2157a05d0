#include "platform/ui/Menu.h"

#include <algorithm>

#include "platform/sys/Utf.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

MenuItemView* Menu::find(UINT id) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [id](const MenuItemView& m) { return m.id == id && !(m.flags & MF_SEPARATOR); });
  return it == items_.end() ? nullptr : &*it;
}

const MenuItemView* Menu::find(UINT id) const { return const_cast<Menu*>(this)->find(id); }

bool Menu::append(UINT id, std::string_view text, UINT flags) {
  if (id == 0 || find(id)) return false;
  items_.push_back({id, std::string(text), flags & ~MF_SEPARATOR});
  return true;
}

bool Menu::append(UINT id, std::u16string_view text, UINT flags) { return append(id, sys::utf16ToUtf8(text), flags); }

void Menu::appendSeparator() { items_.push_back({0, {}, MF_SEPARATOR}); }

bool Menu::modify(UINT id, std::string_view text) {
  MenuItemView* item = find(id);
  if (!item) return false;
  item->text = std::string(text);
  return true;
}

bool Menu::modify(UINT id, std::u16string_view text) { return modify(id, sys::utf16ToUtf8(text)); }

bool Menu::remove(UINT id) {
  auto before = items_.size();
  std::erase_if(items_, [id](const MenuItemView& m) { return m.id == id && !(m.flags & MF_SEPARATOR); });
  return items_.size() != before;
}

int Menu::check(UINT id, bool checked) {
  MenuItemView* item = find(id);
  if (!item) return -1;
  int previous = static_cast<int>(item->flags & MF_CHECKED);
  item->flags = checked ? (item->flags | MF_CHECKED) : (item->flags & ~MF_CHECKED);
  return previous;
}

bool Menu::isChecked(UINT id) const {
  const MenuItemView* item = find(id);
  return item && (item->flags & MF_CHECKED);
}

bool Menu::enable(UINT id, bool enabled) {
  MenuItemView* item = find(id);
  if (!item) return false;
  item->flags = enabled ? (item->flags & ~(MF_GRAYED | MF_DISABLED)) : (item->flags | MF_GRAYED);
  return true;
}

bool Menu::contains(UINT id) const { return find(id) != nullptr; }

std::string Menu::text(UINT id) const {
  const MenuItemView* item = find(id);
  return item ? item->text : std::string{};
}

UINT Menu::track(UINT flags, Point screen, HWND owner) const {
  WindowSystem* ws = WindowSystem::current();
  if (!ws || items_.empty()) return 0;
  UINT chosen = ws->backend().trackPopupMenu(owner, items_, screen);
  // Only a live item counts: a backend cannot pick something not offered.
  const MenuItemView* item = find(chosen);
  if (!item || (item->flags & (MF_GRAYED | MF_DISABLED))) chosen = 0;
  if (flags & TPM_RETURNCMD) return chosen;
  if (chosen == 0) return 0;
  if (!(flags & TPM_NONOTIFY)) postMessage(owner, WM_COMMAND, MAKEWPARAM(static_cast<int>(chosen), 0), 0);
  return 1;
}

}  // namespace ui
