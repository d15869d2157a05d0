#include "plugin/overlay/OverlayHost.h"

#include <new>
#include <vector>

#include "plugin/overlay/CrossLineOverlay.h"
#include "plugin/overlay/FaceAreaOverlay.h"
#include "plugin/overlay/OsdOverlay.h"
#include "plugin/overlay/PassengerOverlay.h"
#include "plugin/overlay/PolygonOverlay.h"
#include "plugin/overlay/PrivacyMaskOverlay.h"

namespace ksplugs {

OverlayHost::OverlayHost() = default;
OverlayHost::~OverlayHost() = default;

int OverlayHost::slotOf(int type) {
  switch (type) {
    case SETTINGS_OSD:
      return 0;
    case SETTINGS_PRIVACY:
      return 1;
    case SETTINGS_CROSS_LINE:
      return 2;
    case SETTINGS_PASSENGER:
      return 3;
    case SETTINGS_FACE:
      return 4;
    case SETTINGS_POLYGON:
      return 5;
    default:
      return -1;
  }
}

std::unique_ptr<OverlayEditor> OverlayHost::makeEditor(int type, int cellWidth, int cellHeight) {
  switch (type) {
    case SETTINGS_OSD:
      return std::make_unique<OsdOverlay>(cellWidth, cellHeight);
    case SETTINGS_CROSS_LINE:
      return std::make_unique<CrossLineOverlay>(cellWidth, cellHeight);
    case SETTINGS_PASSENGER:
      return std::make_unique<PassengerOverlay>(cellWidth, cellHeight);
    case SETTINGS_POLYGON:
      return std::make_unique<PolygonOverlay>(cellWidth, cellHeight);
    case SETTINGS_PRIVACY:
      return std::make_unique<PrivacyMaskOverlay>(cellWidth, cellHeight);
    case SETTINGS_FACE:
      return std::make_unique<FaceAreaOverlay>(cellWidth, cellHeight);
    default:
      return nullptr;
  }
}

int OverlayHost::apply(const DeviceSettingsParam& record, std::optional<ui::CursorShape>* cursor) {
  OverlayEditor* editor = nullptr;
  bool unavailable = false;
  std::vector<OverlayEditor*> hidden;
  int videoWidth = 0;
  int videoHeight = 0;
  {
    std::lock_guard lock(mutex_);
    activeType_ = record.type;
    const int slot = slotOf(record.type);
    for (int i = 0; i < kEditorCount; ++i) {
      if (i != slot && editors_[i]) hidden.push_back(editors_[i].get());
    }
    if (slot >= 0) {
      if (!editors_[slot]) {
        try {
          editors_[slot] = makeEditor(record.type, cellWidth_, cellHeight_);
        } catch (const std::bad_alloc&) {
          return KS_E_NO_MEMORY;
        }
      }
      editor = editors_[slot].get();
      // A block type whose editor this build does not have.
      unavailable = editor == nullptr;
    }
    videoWidth = videoWidth_;
    videoHeight = videoHeight_;
  }
  for (OverlayEditor* other : hidden) other->setActive(false);
  if (unavailable) return KS_E_UNAVAILABLE;
  if (editor == nullptr) return 0;
  if (record.type == SETTINGS_FACE) editor->setVideoSize(videoWidth, videoHeight);
  int result = KS_E_NO_MEMORY;
  try {
    result = editor->apply(record);
  } catch (const std::bad_alloc&) {
  }
  if (editor->takeCursorReset() && cursor != nullptr) *cursor = ui::CursorShape::Arrow;
  return result;
}

int OverlayHost::readBack(DeviceSettingsParam& record) {
  OverlayEditor* editor = nullptr;
  {
    std::lock_guard lock(mutex_);
    const int slot = slotOf(record.type);
    if (slot < 0) return 0;
    editor = editors_[slot].get();
  }
  if (editor == nullptr) return KS_E_NOT_READY;
  try {
    return editor->readBack(record);
  } catch (const std::bad_alloc&) {
    return KS_E_NO_MEMORY;
  }
}

OverlayEditor* OverlayHost::shownEditor() const {
  std::lock_guard lock(mutex_);
  const int slot = slotOf(activeType_);
  return slot < 0 ? nullptr : editors_[slot].get();
}

int OverlayHost::paint(cairo_t* cr) {
  OverlayEditor* editor = shownEditor();
  if (editor == nullptr || cr == nullptr) return KS_E_NOT_READY;
  editor->paint(cr);
  return 0;
}

std::optional<ui::CursorShape> OverlayHost::mouseDown(int x, int y) {
  OverlayEditor* editor = shownEditor();
  return editor ? editor->mouseDown(x, y) : std::nullopt;
}

std::optional<ui::CursorShape> OverlayHost::mouseMove(int x, int y) {
  OverlayEditor* editor = shownEditor();
  return editor ? editor->mouseMove(x, y) : std::nullopt;
}

std::optional<ui::CursorShape> OverlayHost::mouseUp(int x, int y) {
  OverlayEditor* editor = shownEditor();
  return editor ? editor->mouseUp(x, y) : std::nullopt;
}

int OverlayHost::resize(int width, int height) {
  OverlayEditor* editor = nullptr;
  {
    std::lock_guard lock(mutex_);
    cellWidth_ = width;
    cellHeight_ = height;
    const int slot = slotOf(activeType_);
    if (slot >= 0) editor = editors_[slot].get();
  }
  if (editor == nullptr) return KS_E_NOT_READY;
  editor->resize(width, height);
  return 0;
}

int OverlayHost::setVideoSize(int width, int height) {
  OverlayEditor* editor = nullptr;
  {
    std::lock_guard lock(mutex_);
    videoWidth_ = width;
    videoHeight_ = height;
    if (activeType_ == SETTINGS_FACE) editor = editors_[slotOf(SETTINGS_FACE)].get();
  }
  if (editor == nullptr) return KS_E_NOT_READY;
  editor->setVideoSize(width, height);
  return 0;
}

int OverlayHost::activeType() const {
  std::lock_guard lock(mutex_);
  return activeType_;
}

}  // namespace ksplugs
