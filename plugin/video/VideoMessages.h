#pragma once
// Private messages between the live-view dock, its cells and their video
// surfaces.
#include "platform/ui/Messages.h"

namespace ksplugs {

// Cell -> dock: the cell (wParam) was double-clicked. Surface -> cell: the
// same with wParam 0.
constexpr ui::UINT MsgCellDoubleClick = 0x0578;
// Cell -> dock: the cell (wParam) was clicked and wants the selection.
constexpr ui::UINT MsgCellSelected = 0x0579;
// -> cell: a file is ready for download. wParam 1 video, 2 picture; lParam a
// malloc'd zero-terminated UTF-16 path that the cell frees.
constexpr ui::UINT MsgFileReady = 0x057A;
// Stream -> surface -> cell: the stream's picture size changed.
constexpr ui::UINT MsgVideoSizeChanged = 0x057B;

}  // namespace ksplugs
