#pragma once
// A popup menu built from items (command id, text, flags), changed with
// modify/remove/check, and tracked at a screen point for an owner window.
// The choice arrives as WM_COMMAND (low word = id) posted to the owner, or
// as the answer with TPM_RETURNCMD.
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/Types.h"

namespace ui {

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_SEPARATOR = 0x0800;

constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

class Menu {
 public:
  // False for id 0 or an id already present (ids name items).
  bool append(UINT id, std::string_view text, UINT flags = MF_STRING);
  bool append(UINT id, std::u16string_view text, UINT flags = MF_STRING);
  void appendSeparator();
  bool modify(UINT id, std::string_view text);
  bool modify(UINT id, std::u16string_view text);
  bool remove(UINT id);
  // Answers the previous state (MF_CHECKED or MF_UNCHECKED), -1 when absent.
  int check(UINT id, bool checked);
  bool isChecked(UINT id) const;
  bool enable(UINT id, bool enabled);
  bool contains(UINT id) const;
  std::string text(UINT id) const;
  const std::vector<MenuItemView>& items() const { return items_; }

  // Shows the menu (on the calling thread, which waits for the choice).
  // With TPM_RETURNCMD answers the chosen id (0 when dismissed); otherwise
  // posts WM_COMMAND to owner and answers whether an item was chosen.
  // Disabled items and separators are never chosen.
  UINT track(UINT flags, Point screen, HWND owner) const;

 private:
  MenuItemView* find(UINT id);
  const MenuItemView* find(UINT id) const;

  std::vector<MenuItemView> items_;
};

}  // namespace ui
