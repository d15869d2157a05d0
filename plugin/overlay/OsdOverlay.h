#pragma once
// The on-screen text editor: the device's date/time item and its text lines,
// each drawn in opaque red (sans-serif 12 pt at 96 dpi) inside a red frame
// 2 pixels wide at its place over the settings cell, and dragged there with
// the mouse. Places cross the record in the OSD grid.
//
// The list always starts with the date/time item. Items are kept in cell
// pixels as doubles, so a place the page sent reads back unchanged unless
// the item had to be pulled back inside the cell's right or bottom edge;
// only a drag truncates an item to whole pixels. An item is placed from the
// grid once, when it arrives; a later resize of the cell does not move it.
// The drag target is the item's own hover flag, never an index, so a list
// change cannot leave one pointing at an item that went.
//
// Threads: as for every editor, the base's `mutex_` guards all of the state
// below, paint included. Text is measured with Pango on a scratch surface of
// the calling thread, never on the context that paint draws into.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/overlay/OverlayEditor.h"

namespace ksplugs {

class OsdOverlay : public OverlayEditor {
 public:
  struct TextSize {
    double width = 0;
    double height = 0;
  };
  // What the editor measures with and allocates result arrays from; tests
  // put fixed sizes and failing allocations here.
  struct Hooks {
    std::function<TextSize(std::u16string_view)> measure = measureText;
    void* (*allocate)(size_t count, size_t size) = std::calloc;
  };

  // Sub-types of an apply.
  enum SubType : int32_t {
    kReplaceAll = 1,
    kAddLines = 2,
    kChangeText = 3,
    kDeleteLine = 4,
    kShowLines = 5,
    kHideLines = 6,
    kShowDateTime = 7,
    kHideDateTime = 8,
    kSetDateTimeFormat = 9,
    kDeleteAllLines = 10,
  };

  // Most text lines a list holds, and the longest line in bytes: a record
  // beyond either is refused.
  static constexpr uint32_t kMaxLines = 4096;
  static constexpr size_t kMaxLineBytes = 64 * 1024;
  // The date/time format that shows the local time.
  static constexpr int32_t kFormatLocalTime = 1;

  OsdOverlay(int cellWidth, int cellHeight);
  OsdOverlay(int cellWidth, int cellHeight, Hooks hooks);
  ~OsdOverlay() override;

  int apply(const DeviceSettingsParam& record) override;
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;

  // The logical size of a text in the editor's font, line feeds breaking
  // lines, measured on a scratch image surface.
  static TextSize measureText(std::u16string_view text);

  // A record line as the item keeps it: UTF-16, each '^' a line feed.
  static std::u16string convertLine(std::string_view utf8);

 private:
  struct Item {
    bool isDateTime = false;
    bool hover = false;  // under the pointer; also what a drag moves
    bool visible = true;
    std::u16string text;
    double x = 0;  // top-left corner in cell pixels
    double y = 0;
    double width = 0;  // measured size in cell pixels
    double height = 0;
    int32_t format = kFormatLocalTime;
  };

  // A record line on its way into the list: measured, its place still in
  // grid units.
  struct NewLine {
    Item item;
    int32_t gridX = 0;
    int32_t gridY = 0;
  };

  // The record's text lines, measured; nothing when the record is malformed
  // (a null array or entry, too many lines, a line too long).
  std::optional<std::vector<NewLine>> linesFromRecord(const OsdBlock& block) const;
  // Grid units to cell pixels, pulled back inside the right and bottom
  // edges of the cell; the caller holds mutex_.
  void place(Item& item, int32_t gridX, int32_t gridY) const;
  // After the list changed no item is hovered, so neither a drag nor the
  // next move reaches an item that went; the caller holds mutex_.
  void forgetHover();
  int applyLocked(const DeviceSettingsParam& record, std::vector<NewLine>& lines);
  size_t lineCount() const { return items_.size() - 1; }
  bool isLineIndex(int32_t blockId) const;

  const Hooks hooks_;  // read-only after construction

  std::vector<Item> items_;  // guarded by mutex_; items_[0] is the date/time item
  bool mouseDown_ = false;   // guarded by mutex_
  bool hoverAny_ = false;    // guarded by mutex_; last hover answer, for the cursor
  int lastX_ = 0;            // guarded by mutex_
  int lastY_ = 0;            // guarded by mutex_
};

}  // namespace ksplugs
