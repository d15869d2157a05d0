#ifndef KESTROVA_PLATFORM_DEVLINK_DEVLINKSDK_H
#define KESTROVA_PLATFORM_DEVLINK_DEVLINKSDK_H
/*
 * DevLinkSdk: the device network SDK. It logs in to devices over TCP (the
 * DevLink protocol, docs/devlink-protocol.md), opens live and recorded
 * streams, queries recordings, forwards key-frame requests and sends talk
 * audio.
 *
 * Conventions of every function below:
 * - The answer is 0 on success, otherwise one of the DLSDK_ERR_* codes.
 * - Handles are 32-bit integers, -1 means none. Login, stream, query and
 *   talk handles share one space; a handle is never handed out again while
 *   it is open.
 * - Every function may be called from any thread unless its comment says
 *   otherwise; calls on different handles do not wait for each other.
 * - Records are read during the call only; the SDK keeps no pointer to them.
 *
 * Media frames reach the callback registered with DLSDK_StreamMediaCB on one
 * SDK thread per stream, in the order the device sent them. The frame bytes
 * are valid only during the callback.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
enum {
  DLSDK_OK = 0,
  DLSDK_ERR_FAILED = 1,             /* failure without a more specific code */
  DLSDK_ERR_NOT_INITIALISED = 2,    /* DLSDK_StartUp was not called */
  DLSDK_ERR_INVALID_PARAMETER = 3,  /* a null pointer, a bad record field, a channel the device lacks */
  DLSDK_ERR_INVALID_HANDLE = 4,     /* no open handle of the needed kind */
  DLSDK_ERR_PROTOCOL = 5,           /* the device sent something malformed; the connection was closed */
  DLSDK_ERR_TIMEOUT = 9,            /* no answer within the command time-out */
  DLSDK_ERR_CONNECT = 14,           /* device unreachable, or the connection was lost */
  DLSDK_ERR_BAD_PASSWORD = 21,
  DLSDK_ERR_UNKNOWN_USER = 22,
  DLSDK_ERR_SESSION = 23,           /* the device no longer knows the login */
  DLSDK_ERR_CONNECTION_LIMIT = 25,  /* the device accepts no more logins or streams */
  DLSDK_ERR_NOT_SUPPORTED = 30,     /* the device does not support this (codec, attribute) */
  DLSDK_ERR_NOT_AVAILABLE = 31,     /* not possible on this kind of stream or in this state */
  DLSDK_ERR_NO_PERMISSION = 35,     /* the account may not do this */
  DLSDK_ERR_NO_MORE_DATA = 40,      /* the record query has no further item */
  DLSDK_ERR_NO_MEMORY = 10003,
  DLSDK_ERR_NO_PICTURE = 10005,     /* a snapshot before any picture was decoded */
  DLSDK_ERR_FILE = 10203,           /* a file cannot be created or written */
  DLSDK_ERR_ALREADY = 10201         /* sound is already on (PlaySound) or off (StopSound) */
};

/* Attribute ids of DLSDK_SetAttribute. */
enum {
  DLSDK_ATTR_COMMAND_TIMEOUT_MS = 2,  /* 100 .. 600000, default 5000 */
  DLSDK_ATTR_RECEIVE_BUFFER = 9,      /* socket receive buffer bytes, 4 KiB .. 64 MiB */
  DLSDK_ATTR_SEND_BUFFER = 11         /* socket send buffer bytes, 4 KiB .. 64 MiB */
};

/* Stream types of DLSDK_LiveStreamRequest. */
enum { DLSDK_STREAM_MAIN = 1, DLSDK_STREAM_SUB = 4, DLSDK_STREAM_THIRD = 5 };

/* Frame kinds (DLSDK_MediaFrame.frameType and byte 8 of the frame bytes). */
enum {
  DLSDK_FRAME_KEY = 1,
  DLSDK_FRAME_DELTA = 2,
  DLSDK_FRAME_AUDIO = 8,
  DLSDK_FRAME_RECORDED_KEY = 16, /* with length 32 (no payload): end of a history stream */
  DLSDK_FRAME_FORCED_KEY = 17
};

/* Format codes (byte 9 of the frame bytes). */
enum { DLSDK_FORMAT_H264 = 2, DLSDK_FORMAT_H265 = 3, DLSDK_FORMAT_G711U = 10, DLSDK_FORMAT_G711A = 11 };

/* Talk codec codes of DLSDK_TalkRequest. */
enum { DLSDK_TALK_G711A = 1, DLSDK_TALK_G711U = 2, DLSDK_TALK_G726 = 5, DLSDK_TALK_AAC = 6 };

/* Login data, zero-filled by the caller. The texts end with a zero inside
 * their field. */
typedef struct DLSDK_LoginInfo {
  char address[256];    /* host name or IPv4/IPv6 address */
  uint32_t commandPort; /* 1 .. 65535 */
  char user[32];
  char password[32];
} DLSDK_LoginInfo;

typedef struct DLSDK_Time {
  uint16_t year, month, day, hour, minute, second; /* month 1-12 */
} DLSDK_Time;

typedef struct DLSDK_LiveStreamRequest {
  int32_t channel;    /* zero-based */
  int32_t reserved1;  /* 1 */
  int32_t streamType; /* DLSDK_STREAM_* */
  uint16_t mediaPort;
  uint8_t reserved[10];
} DLSDK_LiveStreamRequest;

typedef struct DLSDK_HistoryStreamRequest {
  int32_t reserved1; /* 1 */
  int32_t channel;
  int32_t reserved2; /* 0 */
  DLSDK_Time start;
  DLSDK_Time end;
  int32_t typeMask;  /* recording types, 63 for all */
  int32_t reserved3; /* 1 */
  uint8_t subStream; /* 1 sub stream, 0 main stream */
  uint8_t reserved4;
  uint16_t mediaPort;
} DLSDK_HistoryStreamRequest;

/* Times in the record query texts: "%04d%02d%02d%02d%02d%02d". */
typedef struct DLSDK_RecordQueryRequest {
  int32_t channel;
  int32_t reserved1; /* 1 */
  int32_t typeMask;  /* 63 for all */
  char begin[15];
  char end[15];
  uint8_t reserved2[2];
} DLSDK_RecordQueryRequest;

typedef struct DLSDK_RecordQueryItem {
  int32_t channel;
  int32_t recordType;
  char begin[15];
  char end[15];
  uint8_t reserved[6];
} DLSDK_RecordQueryItem;

typedef struct DLSDK_TalkRequest {
  int32_t handle;    /* out: the talk handle; -1 before the call */
  int32_t reserved1; /* 0 */
  int32_t codec;     /* DLSDK_TALK_* */
  int32_t reserved2; /* 1 */
} DLSDK_TalkRequest;

/* One media frame as handed to the media callback. The calendar fields are
 * those of the frame's time stamp on the device's calendar, in the bases of
 * the C library's struct tm: years since 1900, months from 0, day of week
 * from 0 (Sunday), so that they can be handed to mktime() as they are. */
typedef struct DLSDK_MediaFrame {
  int32_t streamHandle;
  const uint8_t* data; /* the whole frame: 32-byte header, then the payload */
  int32_t length;      /* bytes at data */
  uint16_t year;       /* since 1900 */
  uint16_t month;      /* 0-11 */
  uint16_t dayOfWeek;  /* 0-6, 0 = Sunday */
  uint16_t day;        /* 1-31 */
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
  int32_t frameType;   /* DLSDK_FRAME_* (the frame's kind byte) */
  int32_t formatCode;  /* DLSDK_FORMAT_* */
  int32_t channel;
  uint32_t timeStamp;  /* calendar seconds since 1970 on the device's calendar */
  int32_t width;       /* video picture size from the frame header, 0 when not given */
  int32_t height;
  int32_t flags;       /* 1: decode only, do not show (frames before a step-back target) */
  uint32_t sequence;
} DLSDK_MediaFrame;

/* Answer ignored. Runs on the stream's SDK thread; may call any DLSDK_
 * function, including those on its own stream. */
typedef int (*DLSDK_MediaCallback)(int32_t streamHandle, const DLSDK_MediaFrame* frame, void* context);

/* Initialises the SDK; a second call does nothing. Any thread. */
int DLSDK_StartUp(void);
/* Closes every handle (streams stop, threads end) and un-initialises. Must not
 * be called from a media callback. */
int DLSDK_CleanUp(void);
/* Sets a DLSDK_ATTR_* value; later connections use it. Unknown id: 30; value
 * out of range: 3. */
int DLSDK_SetAttribute(int32_t id, int32_t value);

/* Connects to the command port and logs in; blocks up to the command
 * time-out. *loginHandle is -1 on failure. */
int DLSDK_UserLogin(int32_t* loginHandle, const DLSDK_LoginInfo* info);
/* Logs out and closes the command connection. Streams opened through the
 * login keep running until they are closed. */
int DLSDK_UserLogout(int32_t loginHandle);

/* Opens a live stream on the media port; frames flow at once. */
int DLSDK_RealStreamConnect(int32_t* streamHandle, int32_t loginHandle, const DLSDK_LiveStreamRequest* request);
/* Stops the stream and waits until its callback has returned. Called from
 * the stream's own callback it does not wait. */
int DLSDK_RealStreamDisconnect(int32_t streamHandle);

/* Registers the media callback of a live or history stream; a null callback
 * unregisters it and waits for a callback in progress on another thread. */
int DLSDK_StreamMediaCB(int32_t streamHandle, DLSDK_MediaCallback callback, void* context);
/* Called once on the stream's SDK thread when a live or history stream ends
 * by itself, that is without DLSDK_RealStreamDisconnect or
 * DLSDK_HistoryStreamDestroy: `reason` is DLSDK_ERR_CONNECT when the
 * connection was lost, DLSDK_ERR_PROTOCOL when the device sent something
 * malformed, and DLSDK_OK when a history stream had delivered its end of
 * data before the device closed it. No media callback runs after it; the
 * handle stays open until the application closes it. */
typedef void (*DLSDK_StreamEndCallback)(int32_t streamHandle, int32_t reason, void* context);
/* Registers the end callback of a live or history stream; a null callback
 * unregisters it and waits for a call in progress on another thread. A
 * stream that has ended already answers DLSDK_ERR_CONNECT and keeps no
 * callback (nothing would call it). */
int DLSDK_StreamEndCB(int32_t streamHandle, DLSDK_StreamEndCallback callback, void* context);
/* Live and history streams: 1 start, 2 stop (pause) delivery. A history
 * stream started this way sends as fast as the frames are taken (download).
 * Talk handles: 1 starts sending audio, 2 stops. */
int DLSDK_StreamMediaControl(int32_t handle, int32_t command);
/* Asks the device for a key frame on every live stream of the channel. */
int DLSDK_ForceIFrame(int32_t loginHandle, int32_t channel);

/* Asks the device for the recordings of the request's window and keeps
 * them; DLSDK_HistoryStreamMultiTypeQueryNext hands them out one by one. */
int DLSDK_HistoryStreamMultiTypeQueryConnect(int32_t* queryHandle, int32_t loginHandle,
                                             const DLSDK_RecordQueryRequest* request);
/* Fills *item with the next recording; DLSDK_ERR_NO_MORE_DATA after the last. */
int DLSDK_HistoryStreamMultiTypeQueryNext(int32_t queryHandle, DLSDK_RecordQueryItem* item);
int DLSDK_HistoryStreamQueryDisconnect(int32_t queryHandle);

/* Opens the recordings of [start, end] of a channel, positioned at the
 * first recorded frame, paused until started. */
int DLSDK_HistoryStreamMultiTypeCreate(int32_t* streamHandle, int32_t loginHandle,
                                       const DLSDK_HistoryStreamRequest* request);
/* Same as DLSDK_RealStreamDisconnect for history streams. */
int DLSDK_HistoryStreamDestroy(int32_t streamHandle);
/* Rate steps: 1/8, 1/4, 1/2, 1, 2, 4, 8, 16. From 4 on, only key frames are
 * sent. 31 on a live stream. */
int DLSDK_HistoryStreamFast(int32_t streamHandle);
int DLSDK_HistoryStreamSlow(int32_t streamHandle);
/* Pauses and sends the next frame. */
int DLSDK_HistoryStreamOneByOne(int32_t streamHandle);
/* Pauses and sends the frame before the last one sent, preceded by the
 * frames from its key frame on, flagged decode-only. */
int DLSDK_HistoryStreamOneByOneBack(int32_t streamHandle);
/* Moves to the key frame at or before the time (mode 2: a DLSDK_Time);
 * frames delivered after the call returns come from the new position. */
int DLSDK_HistoryStreamPosition(int32_t streamHandle, int32_t mode, const DLSDK_Time* time);
/* The calendar seconds of the last frame delivered on the stream, 0 before
 * the first. */
int DLSDK_StreamGetAbsoluteTime(int32_t streamHandle, int64_t* seconds);

/* Opens a talk channel; request->handle receives the handle. `reserved` is
 * the request's second field. Audio is sent after DLSDK_StreamMediaControl(1):
 * bytes given to DLSDK_VoiceStreamSendData, silence while there are none. */
int DLSDK_VoiceStreamConnect(DLSDK_TalkRequest* request, int32_t loginHandle, int32_t reserved);
int DLSDK_VoiceStreamDisconnect(int32_t talkHandle);
/* Queues encoded audio for a started talk channel (at most 1 MiB waiting). */
int DLSDK_VoiceStreamSendData(int32_t talkHandle, const uint8_t* data, int32_t length);

/* ---- Display: decoding a live or history stream into a window ----------
 *
 * A stream opened for display decodes its video (H.264, H.265) on an SDK
 * thread, scales each picture into the window's backing image at the
 * window's current size, calls the draw hook and presents the picture. A
 * hidden window keeps decoding but is not drawn. Audio (G.711) goes to the
 * audio sink while sound is on. */

/* A window of the window layer (ui::HWND); 0 = none. */
typedef uint32_t DLSDK_Window;

typedef struct DLSDK_Rect {
  int32_t left, top, right, bottom; /* picture pixels */
} DLSDK_Rect;

/* Called on the SDK's drawing thread after a picture was drawn into the
 * window's image and before it is presented, once per drawn picture
 * (refreshes included). `deviceContext` is a ui::DeviceContext* on that
 * image, valid only during the call; the window's image lock is held, so
 * the hook must not send messages to the window's thread. */
typedef void (*DLSDK_DrawCallback)(int32_t streamHandle, void* deviceContext, void* context);

/* Prepares a live or history stream for display. The callers pass
 * (handle, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576): stream mode, buffer size and
 * the expected picture size, which is only a hint. */
int DLSDK_StreamOpenEx(int32_t streamHandle, int32_t mode, int32_t streamMode, int32_t bufferSize,
                       int32_t decodeMode, int32_t reserved1, int32_t reserved2, int32_t width, int32_t height);
/* Starts (or resumes) drawing into `window` (0: decode without drawing; a
 * window that does not exist: 3). History streams play at the normal rate
 * from here on, paced by their time stamps; Fast/Slow change the rate.
 * Display functions on a stream not opened with DLSDK_StreamOpenEx: 31. */
int DLSDK_StreamPlay(int32_t streamHandle, DLSDK_Window window);
/* 1 pauses (the last picture is held), 0 resumes at the current rate. A
 * paused live stream keeps decoding; a paused history stream is paused on
 * the device too. Frame steps (OneByOne, OneByOneBack) are shown while
 * paused. */
int DLSDK_StreamPause(int32_t streamHandle, int32_t pause);
/* Stops decoding and drawing; the network stream stays open.
 * DLSDK_StreamPlay starts again at the next key frame. */
int DLSDK_StreamStop(int32_t streamHandle);
/* Draws the held picture again (after the window moved or was covered). */
int DLSDK_StreamRefreshPlay(int32_t streamHandle);
/* Display lag of a live stream in frames, 1 .. 100 (the callers pass 5):
 * a decoded picture with this many newer frames waiting is not drawn, so a
 * window that falls behind catches up. */
int DLSDK_StreamSetFrameSize(int32_t streamHandle, int32_t frames);
/* Volume 0 .. 0xFFFF (full scale); sound starts off. */
int DLSDK_StreamSetVolume(int32_t streamHandle, int32_t volume);
/* DLSDK_ERR_ALREADY when sound is already on / off. */
int DLSDK_StreamPlaySound(int32_t streamHandle);
int DLSDK_StreamStopSound(int32_t streamHandle);
/* Writes the last decoded picture at its own size: BMP for ".bmp", JPEG for
 * ".jpg"/".jpeg", JPEG for any other name. DLSDK_ERR_NO_PICTURE before the
 * first picture (no file is written). */
int DLSDK_StreamSnapShot(int32_t streamHandle, const char* path);
/* Installs (or with a null callback removes) the draw hook; mode is 2.
 * Removing waits for a hook call in progress on another thread. */
int DLSDK_StreamResetDraw(int32_t streamHandle, int32_t mode, DLSDK_DrawCallback callback, void* context);
/* enable 1: only `rect` of the picture is shown, scaled to the window;
 * enable 0: the whole picture again (rect is not read). */
int DLSDK_SoftSetDisplayRegion(int32_t streamHandle, int32_t region, const DLSDK_Rect* rect, int32_t reserved,
                               int32_t enable);

#ifdef __cplusplus
}
#endif

#endif
