#include "plugin/overlay/OsdOverlay.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/sys/Utf.h"
#include "plugin/overlay/DeviceSpace.h"

namespace ksplugs {

namespace {

// What the date/time item measures in the local-time format: the widest
// text that format draws, so the frame does not change with the clock.
constexpr char16_t kDateTimeSample[] = u"1111-11-11 11:11:11";
// Text and frames: opaque red, frames 2 pixels wide.
constexpr double kFrameWidth = 2.0;
// The editor's font is given in points; the overlay draws at 96 dots per inch.
constexpr double kResolution = 96.0;

// The one font of every OSD editor; shared read-only by all threads.
const PangoFontDescription* editorFont() {
  static const PangoFontDescription* const font = pango_font_description_from_string("sans-serif 12");
  return font;
}

// A layout of `utf8` in the editor's font for drawing on `cr`.
PangoLayout* makeLayout(cairo_t* cr, const std::string& utf8) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_cairo_context_set_resolution(pango_layout_get_context(layout), kResolution);
  pango_layout_context_changed(layout);
  pango_layout_set_font_description(layout, editorFont());
  pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  return layout;
}

std::u16string localTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {};
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::u16string(text, text + length);
}

// A dragged item's new place on one axis: whole pixels, inside the cell.
double dragWithin(double position, double delta, double size, int cellSize) {
  double moved = std::trunc(position + delta);
  if (moved < 0) {
    moved = 0;
  } else if (moved + size > cellSize) {
    moved = cellSize - size;
  }
  return moved;
}

}  // namespace

OsdOverlay::OsdOverlay(int cellWidth, int cellHeight) : OsdOverlay(cellWidth, cellHeight, Hooks{}) {}

OsdOverlay::OsdOverlay(int cellWidth, int cellHeight, Hooks hooks)
    : OverlayEditor(cellWidth, cellHeight), hooks_(std::move(hooks)) {
  Item dateTime;
  dateTime.isDateTime = true;
  dateTime.text = kDateTimeSample;
  items_.push_back(std::move(dateTime));
}

OsdOverlay::~OsdOverlay() = default;

OsdOverlay::TextSize OsdOverlay::measureText(std::u16string_view text) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = makeLayout(cr, sys::utf16ToUtf8(text));
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return {static_cast<double>(width), static_cast<double>(height)};
}

std::u16string OsdOverlay::convertLine(std::string_view utf8) {
  std::u16string text = sys::utf8ToUtf16(utf8);
  for (char16_t& unit : text) {
    if (unit == u'^') unit = u'\n';
  }
  return text;
}

std::optional<std::vector<OsdOverlay::NewLine>> OsdOverlay::linesFromRecord(const OsdBlock& block) const {
  if (block.count > kMaxLines) return std::nullopt;
  if (block.count > 0 && (block.text == nullptr || block.textX == nullptr || block.textY == nullptr)) {
    return std::nullopt;
  }
  std::vector<NewLine> lines;
  lines.reserve(block.count);
  for (uint32_t i = 0; i < block.count; ++i) {
    const char* text = block.text[i];
    if (text == nullptr) return std::nullopt;
    const size_t length = strnlen(text, kMaxLineBytes + 1);
    if (length > kMaxLineBytes) return std::nullopt;
    NewLine line;
    line.item.text = convertLine(std::string_view(text, length));
    const TextSize size = hooks_.measure(line.item.text);
    line.item.width = size.width;
    line.item.height = size.height;
    line.gridX = block.textX[i];
    line.gridY = block.textY[i];
    lines.push_back(std::move(line));
  }
  return lines;
}

void OsdOverlay::place(Item& item, int32_t gridX, int32_t gridY) const {
  item.x = DeviceSpace::kOsdGrid.toPixelX(gridX, cellWidth_);
  item.y = DeviceSpace::kOsdGrid.toPixelY(gridY, cellHeight_);
  // Only the far edges pull an item back; a place left of or above the cell
  // stays where the page put it.
  if (item.x + item.width > cellWidth_) item.x = cellWidth_ - item.width;
  if (item.y + item.height > cellHeight_) item.y = cellHeight_ - item.height;
}

void OsdOverlay::forgetHover() {
  // Nothing is hovered any more and the cursor goes back to the arrow.
  for (Item& item : items_) item.hover = false;
  hoverAny_ = false;
  cursorReset_ = true;
}

bool OsdOverlay::isLineIndex(int32_t blockId) const {
  return blockId >= 0 && static_cast<size_t>(blockId) < lineCount();
}

int OsdOverlay::apply(const DeviceSettingsParam& record) {
  const OsdBlock& block = record.block.osd;
  // Everything read from the record is converted and measured before the
  // lock, so a malformed record changes nothing.
  std::vector<NewLine> lines;
  switch (record.subType) {
    case kReplaceAll:
    case kAddLines: {
      std::optional<std::vector<NewLine>> fromRecord = linesFromRecord(block);
      if (!fromRecord) return KS_E_INVALID;
      lines = std::move(*fromRecord);
      break;
    }
    case kChangeText: {
      if (block.count == 0 || block.text == nullptr || block.text[0] == nullptr) return KS_E_INVALID;
      const size_t length = strnlen(block.text[0], kMaxLineBytes + 1);
      if (length > kMaxLineBytes) return KS_E_INVALID;
      NewLine line;
      line.item.text = convertLine(std::string_view(block.text[0], length));
      lines.push_back(std::move(line));
      break;
    }
    default:
      break;
  }
  std::lock_guard lock(mutex_);
  return applyLocked(record, lines);
}

int OsdOverlay::applyLocked(const DeviceSettingsParam& record, std::vector<NewLine>& lines) {
  const OsdBlock& block = record.block.osd;
  switch (record.subType) {
    case kReplaceAll: {
      Item& dateTime = items_.front();
      dateTime.format = block.datetimeFormat;
      if (dateTime.format == kFormatLocalTime) dateTime.text = kDateTimeSample;
      const TextSize size = hooks_.measure(dateTime.text);
      dateTime.width = size.width;
      dateTime.height = size.height;
      place(dateTime, block.datetimeX, block.datetimeY);
      items_.resize(1);
      for (NewLine& line : lines) {
        place(line.item, line.gridX, line.gridY);
        items_.push_back(std::move(line.item));
      }
      forgetHover();
      active_ = true;
      return KS_OK;
    }
    case kAddLines:
      if (lineCount() + lines.size() > kMaxLines) return KS_E_INVALID;
      for (NewLine& line : lines) {
        place(line.item, line.gridX, line.gridY);
        items_.push_back(std::move(line.item));
      }
      forgetHover();
      return KS_OK;
    case kChangeText:
      // The frame keeps its measured size.
      if (isLineIndex(record.blockId)) items_[record.blockId + 1].text = std::move(lines.front().item.text);
      return KS_OK;
    case kDeleteLine:
      if (isLineIndex(record.blockId)) {
        items_.erase(items_.begin() + record.blockId + 1);
        forgetHover();
      }
      return KS_OK;
    case kShowLines:
    case kHideLines: {
      const bool show = record.subType == kShowLines;
      // Showing lines also shows the editor, so lines hidden by a clear of
      // the settings view come back.
      if (show) active_ = true;
      if (record.blockId == -1) {
        for (size_t i = 1; i < items_.size(); ++i) items_[i].visible = show;
      } else if (isLineIndex(record.blockId)) {
        items_[record.blockId + 1].visible = show;
      }
      return KS_OK;
    }
    case kShowDateTime:
      active_ = true;
      items_.front().visible = true;
      return KS_OK;
    case kHideDateTime:
      items_.front().visible = false;
      return KS_OK;
    case kSetDateTimeFormat:
      items_.front().format = block.datetimeFormat;
      return KS_OK;
    case kDeleteAllLines:
      items_.resize(1);
      forgetHover();
      return KS_OK;
    default:
      return KS_OK;
  }
}

int OsdOverlay::readBack(DeviceSettingsParam& record) {
  OsdResult& out = record.result.osd;
  std::lock_guard lock(mutex_);
  if (cellWidth_ <= 0 || cellHeight_ <= 0) return KS_OK;
  const size_t lines = lineCount();
  char16_t** texts = nullptr;
  int32_t* places = nullptr;
  bool failed = false;
  if (lines > 0) {
    texts = static_cast<char16_t**>(hooks_.allocate(lines, sizeof(char16_t*)));
    failed = texts == nullptr;
    for (size_t i = 0; i < lines && !failed; ++i) {
      const std::u16string& text = items_[i + 1].text;
      texts[i] = static_cast<char16_t*>(hooks_.allocate(text.size() + 1, sizeof(char16_t)));
      if (texts[i] == nullptr) {
        failed = true;
      } else {
        std::memcpy(texts[i], text.c_str(), (text.size() + 1) * sizeof(char16_t));
      }
    }
    if (!failed) {
      places = static_cast<int32_t*>(hooks_.allocate(lines * 2, sizeof(int32_t)));
      failed = places == nullptr;
    }
  }
  if (failed) {
    // Half an answer would read as "no lines" to a page that saves it.
    if (texts != nullptr) {
      for (size_t i = 0; i < lines; ++i) std::free(texts[i]);
    }
    std::free(texts);
    std::free(places);
    out.outCount = 0;
    out.outDatetimeX = 0;
    out.outDatetimeY = 0;
    out.outText = nullptr;
    out.outTextPos = nullptr;
    return KS_E_NO_MEMORY;
  }
  for (size_t i = 0; i < lines; ++i) {
    const Item& item = items_[i + 1];
    places[2 * i] = DeviceSpace::kOsdGrid.toDeviceX(item.x, cellWidth_);
    places[2 * i + 1] = DeviceSpace::kOsdGrid.toDeviceY(item.y, cellHeight_);
  }
  out.outCount = static_cast<uint32_t>(lines);
  out.outText = texts;
  out.outTextPos = places;
  out.outDatetimeX = DeviceSpace::kOsdGrid.toDeviceX(items_.front().x, cellWidth_);
  out.outDatetimeY = DeviceSpace::kOsdGrid.toDeviceY(items_.front().y, cellHeight_);
  return KS_OK;
}

void OsdOverlay::paint(cairo_t* cr) {
  if (cr == nullptr) return;
  std::lock_guard lock(mutex_);
  if (!active_) return;
  cairo_save(cr);
  cairo_set_source_rgba(cr, 1.0, 0.0, 0.0, 1.0);
  cairo_set_line_width(cr, kFrameWidth);
  for (Item& item : items_) {
    if (!item.visible) continue;
    // Any other date/time format draws an empty frame.
    if (item.isDateTime) item.text = item.format == kFormatLocalTime ? localTimeText() : std::u16string();
    if (!item.text.empty()) {
      PangoLayout* layout = makeLayout(cr, sys::utf16ToUtf8(item.text));
      cairo_move_to(cr, item.x, item.y);
      pango_cairo_show_layout(cr, layout);
      g_object_unref(layout);
    }
    cairo_new_path(cr);
    cairo_rectangle(cr, item.x, item.y, item.width, item.height);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

std::optional<ui::CursorShape> OsdOverlay::mouseDown(int, int) {
  std::lock_guard lock(mutex_);
  if (active_) mouseDown_ = true;
  return std::nullopt;
}

std::optional<ui::CursorShape> OsdOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const double dx = static_cast<double>(x) - lastX_;
  const double dy = static_cast<double>(y) - lastY_;
  lastX_ = x;
  lastY_ = y;
  if (mouseDown_) {
    for (Item& item : items_) {
      if (!item.hover) continue;
      item.x = dragWithin(item.x, dx, item.width, cellWidth_);
      item.y = dragWithin(item.y, dy, item.height, cellHeight_);
      break;
    }
    return std::nullopt;
  }
  // Hidden items take the hover too: a drag may move an item not drawn.
  bool any = false;
  for (Item& item : items_) {
    const double left = std::trunc(item.x);
    const double top = std::trunc(item.y);
    const double right = std::trunc(item.x + item.width);
    const double bottom = std::trunc(item.y + item.height);
    item.hover = x >= left && x < right && y >= top && y < bottom;
    any = any || item.hover;
  }
  if (any == hoverAny_) return std::nullopt;
  hoverAny_ = any;
  return any ? ui::CursorShape::SizeAll : ui::CursorShape::Arrow;
}

std::optional<ui::CursorShape> OsdOverlay::mouseUp(int, int) {
  std::lock_guard lock(mutex_);
  // A button let go while the editor was hidden ends the drag as well.
  mouseDown_ = false;
  // The items stop being hovered; the cursor stays until the next move.
  if (active_)
    for (Item& item : items_) item.hover = false;
  return std::nullopt;
}

}  // namespace ksplugs
