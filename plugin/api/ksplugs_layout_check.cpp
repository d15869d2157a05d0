// Compiled with -m32 -fsyntax-only: the record layouts of ksplugs.h must match
// the offsets of a 32-bit process field by field, since both sides of the
// library boundary were designed against them.
#include "plugin/api/ksplugs.h"

#include <cstddef>

#if !defined(__i386__)
#error "this layout check is meant for a 32-bit compile (-m32)"
#endif

#define AT(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "." #field)
#define SIZE(type, size) static_assert(sizeof(type) == (size), "sizeof " #type)
// Offsets of union bodies are checked from the start of the whole record.
#define BODY(type, body, field, offset) \
  static_assert(offsetof(type, body) + offsetof(decltype(type::body), field) == (offset), #type "." #body "." #field)

SIZE(SystemTime, 16);
SIZE(KsFont, 4);

SIZE(DeviceCreateParam, 804);
AT(DeviceCreateParam, lowPower, 0);
AT(DeviceCreateParam, multilens, 1);
AT(DeviceCreateParam, totalChannel, 4);
AT(DeviceCreateParam, cmdPort, 8);
AT(DeviceCreateParam, mediaPort, 12);
AT(DeviceCreateParam, protocol, 16);
AT(DeviceCreateParam, uniqueId, 20);
AT(DeviceCreateParam, connectionId, 24);
AT(DeviceCreateParam, stream, 28);
AT(DeviceCreateParam, MAC, 32);
AT(DeviceCreateParam, role, 50);
AT(DeviceCreateParam, usr, 68);
AT(DeviceCreateParam, pwd, 100);
AT(DeviceCreateParam, privilege, 132);
AT(DeviceCreateParam, cert, 164);
AT(DeviceCreateParam, address, 228);
AT(DeviceCreateParam, resShowBitrate, 292);
AT(DeviceCreateParam, resMainStream, 420);
AT(DeviceCreateParam, resSubStream, 548);
AT(DeviceCreateParam, resThirdStream, 676);

SIZE(DestroyParam, 12);
AT(DestroyParam, type, 0);
AT(DestroyParam, byUniqueId, 4);
AT(DestroyParam, hWnd, 4);
AT(DestroyParam, uniqueId, 8);

SIZE(LiveControlParam, 68);
AT(LiveControlParam, type, 0);
AT(LiveControlParam, channel, 4);
AT(LiveControlParam, uniqueId, 8);
AT(LiveControlParam, connectionId, 12);
AT(LiveControlParam, settings, 16);
BODY(LiveControlParam, preview, open, 20);
BODY(LiveControlParam, preview, adjustPos, 21);
BODY(LiveControlParam, preview, openMode, 24);
BODY(LiveControlParam, preview, clientPort, 28);
BODY(LiveControlParam, preview, streamType, 32);
BODY(LiveControlParam, preview, font, 36);
BODY(LiveControlParam, preview, x, 40);
BODY(LiveControlParam, preview, y, 44);
BODY(LiveControlParam, preview, w, 48);
BODY(LiveControlParam, preview, h, 52);
BODY(LiveControlParam, preview, layout, 56);
BODY(LiveControlParam, preview, title, 60);
BODY(LiveControlParam, preview, channelName, 64);
BODY(LiveControlParam, audio, mute, 20);
BODY(LiveControlParam, audio, sampleRate, 24);
BODY(LiveControlParam, talk, open, 20);
BODY(LiveControlParam, talk, toDevice, 21);
BODY(LiveControlParam, talk, sampleRate, 24);
BODY(LiveControlParam, talk, bitPerSample, 28);
BODY(LiveControlParam, talk, codec, 32);
BODY(LiveControlParam, talk, soundChannel, 36);
BODY(LiveControlParam, digitalZoom, open, 20);
BODY(LiveControlParam, fullscreen, enter, 20);
BODY(LiveControlParam, aspectRatio, ratio, 20);
BODY(LiveControlParam, switchStream, newStream, 20);
BODY(LiveControlParam, switchStream, channelName, 24);
BODY(LiveControlParam, bitrate, kbpsMain, 20);
BODY(LiveControlParam, bitrate, kbpsSub, 24);
BODY(LiveControlParam, bitrate, kbpsThird, 28);
BODY(LiveControlParam, showDock, showMode, 20);
BODY(LiveControlParam, moveDock, x, 20);
BODY(LiveControlParam, moveDock, y, 24);
BODY(LiveControlParam, moveDock, w, 28);
BODY(LiveControlParam, moveDock, h, 32);
BODY(LiveControlParam, split, Count, 20);

SIZE(PlaybackControlParam, 80);
AT(PlaybackControlParam, type, 0);
AT(PlaybackControlParam, uniqueId, 4);
AT(PlaybackControlParam, connectionId, 8);
AT(PlaybackControlParam, channel, 12);
BODY(PlaybackControlParam, preview, remote, 16);
BODY(PlaybackControlParam, preview, adjustPos, 17);
BODY(PlaybackControlParam, preview, clientPort, 20);
BODY(PlaybackControlParam, preview, streamType, 24);
BODY(PlaybackControlParam, preview, play, 28);
BODY(PlaybackControlParam, preview, font, 32);
BODY(PlaybackControlParam, preview, x, 36);
BODY(PlaybackControlParam, preview, y, 40);
BODY(PlaybackControlParam, preview, w, 44);
BODY(PlaybackControlParam, preview, h, 48);
BODY(PlaybackControlParam, preview, playPos, 52);
BODY(PlaybackControlParam, preview, recordType, 68);
BODY(PlaybackControlParam, preview, path, 72);
BODY(PlaybackControlParam, preview, title, 76);
BODY(PlaybackControlParam, speed, fast, 16);
BODY(PlaybackControlParam, speed, revertToNormal, 17);
BODY(PlaybackControlParam, audio, mute, 16);
BODY(PlaybackControlParam, position, newPos, 16);
BODY(PlaybackControlParam, position, progress, 32);
BODY(PlaybackControlParam, fullscreen, enter, 16);
BODY(PlaybackControlParam, aspectRatio, ratio, 16);
BODY(PlaybackControlParam, showDock, showMode, 16);
BODY(PlaybackControlParam, moveDock, x, 16);
BODY(PlaybackControlParam, moveDock, h, 28);

SIZE(SnapshotParam, 24);
AT(SnapshotParam, live, 0);
AT(SnapshotParam, newMethod, 1);
AT(SnapshotParam, channel, 4);
AT(SnapshotParam, uniqueId, 8);
AT(SnapshotParam, connectionId, 12);
AT(SnapshotParam, format, 16);
AT(SnapshotParam, path, 20);

SIZE(StreamRecordParam, 20);
AT(StreamRecordParam, live, 0);
AT(StreamRecordParam, start, 1);
AT(StreamRecordParam, newMethod, 2);
AT(StreamRecordParam, channel, 4);
AT(StreamRecordParam, uniqueId, 8);
AT(StreamRecordParam, connectionId, 12);
AT(StreamRecordParam, path, 16);

SIZE(DownloadControlParam, 84);
AT(DownloadControlParam, operate, 0);
AT(DownloadControlParam, uniqueId, 4);
AT(DownloadControlParam, taskId, 8);
AT(DownloadControlParam, connectionId, 12);
AT(DownloadControlParam, remote, 16);
AT(DownloadControlParam, progress, 16);
AT(DownloadControlParam, mainStream, 17);
AT(DownloadControlParam, channel, 20);
AT(DownloadControlParam, format, 24);
AT(DownloadControlParam, recordType, 28);
AT(DownloadControlParam, startTime, 32);
AT(DownloadControlParam, endTime, 48);
AT(DownloadControlParam, startSeconds, 64);
AT(DownloadControlParam, endSeconds, 72);
AT(DownloadControlParam, path, 80);

SIZE(NotifyEvent, 24);
AT(NotifyEvent, type, 0);
AT(NotifyEvent, channel, 4);
AT(NotifyEvent, uniqueId, 8);
AT(NotifyEvent, connectionId, 12);
AT(NotifyEvent, enable, 16);
AT(NotifyEvent, switchedStream, 16);
AT(NotifyEvent, fileType, 16);
AT(NotifyEvent, bitrateStream, 20);
AT(NotifyEvent, url, 20);

SIZE(DeviceSettingsParam, 148);
AT(DeviceSettingsParam, type, 0);
AT(DeviceSettingsParam, uniqueId, 4);
AT(DeviceSettingsParam, operate, 8);
AT(DeviceSettingsParam, blockId, 12);
AT(DeviceSettingsParam, subType, 16);
AT(DeviceSettingsParam, block, 20);
AT(DeviceSettingsParam, result, 116);
BODY(DeviceSettingsParam, block, osd.count, 20);
BODY(DeviceSettingsParam, block, osd.datetimeFormat, 24);
BODY(DeviceSettingsParam, block, osd.datetimeX, 28);
BODY(DeviceSettingsParam, block, osd.datetimeY, 32);
BODY(DeviceSettingsParam, block, osd.text, 36);
BODY(DeviceSettingsParam, block, osd.textX, 40);
BODY(DeviceSettingsParam, block, osd.textY, 44);
BODY(DeviceSettingsParam, block, osd.underline, 48);
BODY(DeviceSettingsParam, block, osd.italic, 49);
BODY(DeviceSettingsParam, block, osd.strikeOut, 50);
BODY(DeviceSettingsParam, block, osd.bold, 51);
BODY(DeviceSettingsParam, block, osd.fontName, 52);
BODY(DeviceSettingsParam, block, privacy.fillColor, 20);
BODY(DeviceSettingsParam, block, privacy.count, 24);
BODY(DeviceSettingsParam, block, privacy.left, 28);
BODY(DeviceSettingsParam, block, privacy.top, 32);
BODY(DeviceSettingsParam, block, privacy.right, 36);
BODY(DeviceSettingsParam, block, privacy.bottom, 40);
BODY(DeviceSettingsParam, block, crossLine.orientation, 20);
BODY(DeviceSettingsParam, block, crossLine.x, 24);
BODY(DeviceSettingsParam, block, crossLine.y, 32);
BODY(DeviceSettingsParam, block, passenger.orientation, 20);
BODY(DeviceSettingsParam, block, passenger.edge, 24);
BODY(DeviceSettingsParam, block, passenger.x, 28);
BODY(DeviceSettingsParam, block, passenger.y, 32);
BODY(DeviceSettingsParam, block, passenger.boundaryLeft, 36);
BODY(DeviceSettingsParam, block, passenger.boundaryTop, 40);
BODY(DeviceSettingsParam, block, passenger.boundaryRight, 44);
BODY(DeviceSettingsParam, block, passenger.boundaryBottom, 48);
BODY(DeviceSettingsParam, block, face.detectLeft, 20);
BODY(DeviceSettingsParam, block, face.detectBottom, 32);
BODY(DeviceSettingsParam, block, face.detectDefLeft, 36);
BODY(DeviceSettingsParam, block, face.detectDefBottom, 48);
BODY(DeviceSettingsParam, block, face.width, 52);
BODY(DeviceSettingsParam, block, face.height, 60);
BODY(DeviceSettingsParam, block, face.defWidth, 68);
BODY(DeviceSettingsParam, block, face.defHeight, 76);
BODY(DeviceSettingsParam, block, face.widthQuoto, 84);
BODY(DeviceSettingsParam, block, face.heightQuoto, 96);
BODY(DeviceSettingsParam, block, polygon.edge, 20);
BODY(DeviceSettingsParam, block, polygon.x, 24);
BODY(DeviceSettingsParam, block, polygon.y, 28);
BODY(DeviceSettingsParam, result, osd.outCount, 116);
BODY(DeviceSettingsParam, result, osd.outDatetimeX, 120);
BODY(DeviceSettingsParam, result, osd.outDatetimeY, 124);
BODY(DeviceSettingsParam, result, osd.outText, 128);
BODY(DeviceSettingsParam, result, osd.outBase64, 128);
BODY(DeviceSettingsParam, result, osd.outTextPos, 132);
BODY(DeviceSettingsParam, result, osd.outWidth, 136);
BODY(DeviceSettingsParam, result, osd.outHeight, 140);
BODY(DeviceSettingsParam, result, osd.outLength, 144);
BODY(DeviceSettingsParam, result, counted.outCount, 116);
BODY(DeviceSettingsParam, result, counted.outData, 120);
BODY(DeviceSettingsParam, result, crossLine.outOrientation, 116);
BODY(DeviceSettingsParam, result, crossLine.outX, 120);
BODY(DeviceSettingsParam, result, crossLine.outY, 128);
BODY(DeviceSettingsParam, result, face.outDetectLeft, 116);
BODY(DeviceSettingsParam, result, face.outDetectBottom, 128);
BODY(DeviceSettingsParam, result, face.outFaceWidth, 132);
BODY(DeviceSettingsParam, result, face.outFaceHeight, 140);

int main() { return 0; }
