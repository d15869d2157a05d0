/*
 * ksplugs.h: the whole surface of the plug-in library libksplugs.so.
 *
 * Fourteen exported functions with C linkage, the parameter records the shell
 * passes to them, the result codes they answer, and the notify callback
 * through which the library reports events.
 *
 * Records are plain structures with natural alignment, never packed. Their
 * offsets are fixed for a 32-bit build (ksplugs_layout_check.cpp checks every
 * one with -m32); in a 64-bit build pointers are 8 bytes and the offsets move,
 * and nothing may depend on the 32-bit numbers at run time.
 *
 * Texts inside records are fixed zero-terminated arrays: `char` fields hold
 * UTF-8, `char16_t` fields UTF-16. Booleans are one byte (0 or 1).
 *
 * Memory: the shell allocates every record on its stack and every text or
 * array hung on a record with malloc, and frees them after the call. The
 * library takes over one block, DeviceCreateParam.stream (it then sets the
 * field to null), and gives back malloc blocks in DeviceSettingsParam's result
 * area, which the shell frees with free(). Both sides share the C heap.
 *
 * Threads: the exports are called on the shell's command threads, except
 * KsComCreatePreviewerDock, which the shell calls on its user-interface
 * thread (the thread that owns the dock windows). KsComGlobalInit,
 * KsComGlobalUninit and KsComInitActiveNotify are called from one thread,
 * before and after all commands.
 */
#ifndef KSPLUGS_H
#define KSPLUGS_H

#include <stdint.h>
#ifdef __cplusplus
#include <cstddef>
#else
#include <uchar.h>
#endif

#if defined(KSPLUGS_BUILDING)
#define KSPLUGS_API __attribute__((visibility("default")))
#else
#define KSPLUGS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes (one space across shell and library) ---------------- */
enum KsResult {
  KS_OK = 0,
  KS_E_INVALID = 1000,        /* malformed or incomplete request or record */
  KS_E_NOT_SUPPORTED = 1001,  /* local playback, record query */
  KS_E_NO_MEMORY = 1002,      /* memory exhausted, failure while building a device */
  KS_E_CHANNEL = 1003,        /* channel out of range, not logged in for a cell, cell missing */
  KS_E_WINDOW = 1005,         /* a window or process cannot be created or found */
  KS_E_UNAVAILABLE = 1006,    /* operation not available */
  KS_E_HTTP_STATUS = 1007,    /* other HTTP error status */
  KS_E_UPGRADING = 1008,      /* the shell is closing for an upgrade */
  KS_E_NOT_READY = 1009,      /* not initialised, not logged in, dock missing, stream not open */
  KS_E_CREATE_DOCK = 1010,    /* create the dock on the user-interface thread, then repeat */
  KS_E_BUSY = 1012,           /* a download already runs, or another channel plays back */
  KS_E_SDK = 1013,            /* device SDK failure without a specific code */
  KS_E_SDK_TIMEOUT = 1014,    /* device time-out; HTTP time-out */
  KS_E_SDK_1015 = 1015,       /* mapped device SDK code */
  KS_E_NO_DEVICE = 1016,      /* no device with this uniqueId */
  KS_E_CANCELLED = 1017,      /* the user cancelled the Save-As dialog */
  KS_E_DEVICE_LIMIT = 1018,   /* eight devices exist already */
  KS_E_NO_DATA = 1019,        /* service reply without the expected data */
  KS_E_NO_BROWSER = 2000,     /* browser window not found for a playback dock */
  KS_E_AUTH = 3001,           /* bad user or password */
  KS_E_CONNECT = 3002,        /* connection failure */
  KS_E_SDK_3005 = 3005,       /* mapped device SDK code */
  KS_E_FILE = 3006,           /* a local file cannot be created or opened */
  KS_E_LOGIN = 3007,          /* device login failed */
  KS_E_SDK_3008 = 3008,       /* connection limit of the device */
  KS_E_NO_RECORDING = 4000    /* no recording overlaps the requested range */
};

/* A font handle of the shell's window layer; 0 = none. Pointer-sized. */
typedef uintptr_t KsFont;

/* Calendar time with the fields of SYSTEMTIME (dayOfWeek 0 = Sunday). */
typedef struct SystemTime {
  uint16_t year;
  uint16_t month;
  uint16_t dayOfWeek;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
} SystemTime;

/* ---- Devices ------------------------------------------------------------ */

/* KsComCreateDevice. The shell zeroes it. */
typedef struct DeviceCreateParam {
  uint8_t lowPower;        /* not used by the library */
  uint8_t multilens;
  int32_t totalChannel;    /* number of channels, also the length of `stream` */
  uint32_t cmdPort;        /* must be non-zero */
  uint32_t mediaPort;      /* must be non-zero */
  uint32_t protocol;       /* the shell's default is 1 */
  uint32_t uniqueId;       /* out: the id the library assigned */
  uint32_t connectionId;   /* creating connection */
  uint8_t* stream;         /* malloc block of totalChannel stream codes; the library may take it (sets null) */
  char MAC[18];            /* must be non-empty */
  char role[18];
  char usr[32];            /* must be non-empty */
  char pwd[32];
  char privilege[32];      /* not used by the library */
  char cert[64];
  char address[64];        /* must be non-empty */
  char16_t resShowBitrate[64];  /* cell menu texts; each must be non-empty */
  char16_t resMainStream[64];
  char16_t resSubStream[64];
  char16_t resThirdStream[64];
} DeviceCreateParam;

/* KsComDestroyObject. type 1 = device, 2 = window (no action). */
typedef struct DestroyParam {
  int32_t type;
  union {
    uint8_t byUniqueId;    /* type 1: 1 = `uniqueId` names the device; 0 = it is a connectionId,
                              and every device that connection owns goes */
    uint32_t hWnd;         /* type 2 */
  };
  uint32_t uniqueId;       /* or the owner connectionId when byUniqueId is 0 */
} DestroyParam;

/* ---- Live view ---------------------------------------------------------- */

enum LiveControlType {
  LIVE_PREVIEW = 1, LIVE_AUDIO = 2, LIVE_TALK = 3, LIVE_DIGITAL_ZOOM = 4, LIVE_FULLSCREEN = 5,
  LIVE_ASPECT_RATIO = 6, LIVE_SWITCH_STREAM = 7, LIVE_BITRATE = 8, LIVE_SHOW_DOCK = 9,
  LIVE_MOVE_DOCK = 10, LIVE_SPLIT = 11
};

/* Preview openMode */
enum { OPEN_MODE_CHANNEL = 0, OPEN_MODE_CLOSE_ALL = 1, OPEN_MODE_OPEN_ALL = 2 };

typedef struct LivePreviewBody {
  uint8_t open;            /* [1] */
  uint8_t adjustPos;
  uint32_t openMode;       /* OPEN_MODE_* */
  uint32_t clientPort;     /* the browser's TCP port of the command's connection */
  int32_t streamType;      /* [1] 1 main, 2 sub, 3 third */
  KsFont font;             /* filled on the UI thread before dock creation */
  int32_t x, y, w, h;      /* dock rectangle relative to the browser's page area */
  uint32_t layout;         /* layout type; 0 = keep */
  char16_t* title;         /* 260-unit buffer: text the browser window's title contains */
  char16_t** channelName;  /* 64 slots of captions, one per channel */
} LivePreviewBody;

typedef struct LiveAudioBody { uint8_t mute; uint32_t sampleRate; } LiveAudioBody;
typedef struct LiveTalkBody {
  uint8_t open;            /* [1] */
  uint8_t toDevice;
  uint32_t sampleRate;     /* [8000] */
  uint32_t bitPerSample;   /* [16] */
  uint32_t codec;          /* [1] */
  uint32_t soundChannel;   /* [1] */
} LiveTalkBody;
typedef struct LiveSwitchStreamBody {
  uint32_t newStream;      /* [1] 1 main, 2 sub, 3 third */
  char16_t** channelName;  /* element 0 is the new caption */
} LiveSwitchStreamBody;
typedef struct LiveBitrateBody { uint32_t kbpsMain, kbpsSub, kbpsThird; } LiveBitrateBody;
typedef struct DockRectBody { int32_t x, y, w, h; } DockRectBody;

typedef struct LiveControlParam {
  uint32_t type;           /* LiveControlType */
  int32_t channel;
  uint32_t uniqueId;
  uint32_t connectionId;
  uint8_t settings;        /* the command comes from the settings view */
  union {
    LivePreviewBody preview;
    LiveAudioBody audio;
    LiveTalkBody talk;
    struct { uint8_t open; } digitalZoom;   /* [1] */
    struct { uint8_t enter; } fullscreen;   /* [1] */
    struct { uint8_t ratio; } aspectRatio;
    LiveSwitchStreamBody switchStream;
    LiveBitrateBody bitrate;
    struct { uint32_t showMode; } showDock; /* [1] */
    DockRectBody moveDock;
    struct { uint32_t Count; } split;        /* 1..18 */
  };
} LiveControlParam;

/* ---- Playback ----------------------------------------------------------- */

enum PlaybackControlType {
  PLAYBACK_PREVIEW = 1, PLAYBACK_SPEED = 2, PLAYBACK_AUDIO = 3, PLAYBACK_POSITION = 4,
  PLAYBACK_POSITION_QUERY = 5, PLAYBACK_FULLSCREEN = 6, PLAYBACK_ASPECT_RATIO = 7,
  PLAYBACK_SHOW_DOCK = 8, PLAYBACK_MOVE_DOCK = 9
};

typedef struct PlaybackPreviewBody {
  uint8_t remote;          /* 1 = from the device; 0 = local file (not supported) */
  uint8_t adjustPos;
  uint32_t clientPort;
  int32_t streamType;      /* [2] */
  int32_t play;            /* 1 start; 2 and 3 act on a running playback */
  KsFont font;
  int32_t x, y, w, h;
  SystemTime playPos;      /* local time */
  int32_t recordType;      /* [-1] */
  char* path;              /* 260-byte buffer */
  char16_t* title;         /* 260-unit buffer */
} PlaybackPreviewBody;

typedef struct PlaybackPositionBody {
  SystemTime newPos;       /* in for Position; out for the position query */
  int32_t progress;        /* in for Position; out for the query (-1: newPos holds the time) */
} PlaybackPositionBody;

typedef struct PlaybackControlParam {
  uint32_t type;           /* PlaybackControlType */
  uint32_t uniqueId;
  uint32_t connectionId;
  int32_t channel;
  union {
    PlaybackPreviewBody preview;
    struct { uint8_t fast; uint8_t revertToNormal; } speed;
    struct { uint8_t mute; } audio;
    PlaybackPositionBody position;  /* Position and position query */
    struct { uint8_t enter; } fullscreen;
    struct { uint8_t ratio; } aspectRatio;
    struct { uint32_t showMode; } showDock;
    DockRectBody moveDock;
  };
} PlaybackControlParam;

/* ---- Snapshot, recording, query, download ------------------------------- */

typedef struct SnapshotParam {
  uint8_t live;            /* [1] 1 live cell, 0 playback cell */
  uint8_t newMethod;
  int32_t channel;
  uint32_t uniqueId;
  uint32_t connectionId;
  int32_t format;          /* [1] */
  char* path;              /* 260-byte buffer: in the wanted path or empty, out the saved file */
} SnapshotParam;

typedef struct StreamRecordParam {
  uint8_t live;            /* [1] not used: recording always uses the live cell */
  uint8_t start;           /* [1] */
  uint8_t newMethod;
  int32_t channel;
  uint32_t uniqueId;
  uint32_t connectionId;
  char* path;              /* 260-byte buffer, written by the library */
} StreamRecordParam;

/* The shell's record for KsComPlaybackQuery; the library reads none of it. */
typedef struct PlaybackQueryParam {
  int32_t type;
  uint8_t remote;
  uint32_t uniqueId;
  uint32_t connectionId;
} PlaybackQueryParam;

typedef struct DownloadControlParam {
  int32_t operate;         /* 1 start, 2 query progress, 3 interrupt */
  uint32_t uniqueId;
  uint32_t taskId;         /* in for 2 and 3; out for 1 */
  uint32_t connectionId;
  union {
    struct {
      uint8_t remote;      /* [1] */
      uint8_t mainStream;  /* [0] */
    };
    uint32_t progress;     /* out for operate 2 */
  };
  int32_t channel;
  int32_t format;          /* [1] 1 MP4; other: the device's own format */
  int32_t recordType;      /* [-1] */
  SystemTime startTime;
  SystemTime endTime;
  int64_t startSeconds;    /* startTime as seconds since 1970 */
  int64_t endSeconds;
  char* path;              /* 260-byte buffer; empty = ask with a Save-As dialog */
} DownloadControlParam;

/* ---- Device settings ---------------------------------------------------- */

enum SettingsBlockType {
  SETTINGS_OSD = 1, SETTINGS_PRIVACY = 3, SETTINGS_CROSS_LINE = 5, SETTINGS_PASSENGER = 7,
  SETTINGS_FACE = 9, SETTINGS_POLYGON = 11
};

typedef struct OsdBlock {
  uint32_t count;          /* text lines */
  int32_t datetimeFormat;
  int32_t datetimeX;       /* font cell width for sub-type 11 */
  int32_t datetimeY;       /* font cell height for sub-type 11 */
  char** text;             /* count UTF-8 strings */
  int32_t* textX;
  int32_t* textY;
  uint8_t underline, italic, strikeOut, bold;
  char fontName[64];
} OsdBlock;

typedef struct PrivacyBlock {
  uint32_t fillColor;      /* 0x00BBGGRR */
  uint32_t count;          /* rectangles */
  int32_t* left;
  int32_t* top;
  int32_t* right;
  int32_t* bottom;
} PrivacyBlock;

typedef struct CrossLineBlock {
  int32_t orientation;
  int32_t x[2];
  int32_t y[2];
} CrossLineBlock;

typedef struct PassengerBlock {
  int32_t orientation;
  int32_t edge;            /* points */
  int32_t* x;
  int32_t* y;
  int32_t boundaryLeft, boundaryTop, boundaryRight, boundaryBottom;
} PassengerBlock;

typedef struct FaceBlock {
  int32_t detectLeft, detectTop, detectRight, detectBottom;
  int32_t detectDefLeft, detectDefTop, detectDefRight, detectDefBottom;
  int32_t width[2];
  int32_t height[2];
  int32_t defWidth[2];
  int32_t defHeight[2];
  int32_t widthQuoto[3];
  int32_t heightQuoto[3];
} FaceBlock;

typedef struct PolygonBlock {
  uint32_t edge;           /* points */
  int32_t* x;
  int32_t* y;
} PolygonBlock;

typedef struct OsdResult {
  uint32_t outCount;       /* text lines without the date/time item */
  int32_t outDatetimeX;
  int32_t outDatetimeY;
  union {
    char16_t** outText;    /* outCount UTF-16 lines */
    char* outBase64;       /* sub-type 11: 1 MiB buffer holding the lattice in base64 */
  };
  int32_t* outTextPos;     /* outCount pairs x, y */
  int32_t outWidth;        /* sub-type 11: lattice size */
  int32_t outHeight;
  uint32_t outLength;      /* sub-type 11: lattice bytes before encoding */
} OsdResult;

typedef struct CountedResult {
  uint32_t outCount;
  int32_t* outData;        /* privacy: groups of left, top, right, bottom; points: pairs x, y */
} CountedResult;

typedef struct CrossLineResult {
  int32_t outOrientation;
  int32_t outX[2];
  int32_t outY[2];
} CrossLineResult;

typedef struct FaceResult {
  int32_t outDetectLeft, outDetectTop, outDetectRight, outDetectBottom;
  int32_t outFaceWidth[2];
  int32_t outFaceHeight[2];
} FaceResult;

typedef struct DeviceSettingsParam {
  int32_t type;            /* SettingsBlockType; 0 = none */
  uint32_t uniqueId;
  int32_t operate;         /* 1 apply, 2 read back, 3 clear */
  int32_t blockId;         /* OSD line or polygon region */
  int32_t subType;
  union {                  /* apply */
    OsdBlock osd;
    PrivacyBlock privacy;
    CrossLineBlock crossLine;
    PassengerBlock passenger;
    FaceBlock face;
    PolygonBlock polygon;
  } block;
  union {                  /* read back; arrays are malloc blocks the shell frees */
    OsdResult osd;
    CountedResult counted; /* privacy, passenger, polygon */
    CrossLineResult crossLine;
    FaceResult face;
  } result;
} DeviceSettingsParam;

/* ---- Events ------------------------------------------------------------- */

enum NotifyEventType {
  NOTIFY_BITRATE = 1,      /* bitrate display toggled, or re-sent after a stream switch */
  NOTIFY_SELECTED = 2,     /* a cell was selected (devices with more than one channel) */
  NOTIFY_STREAM_SWITCHED = 3,
  NOTIFY_FILE_READY = 4    /* a file can be downloaded over the local HTTP server */
};

/* Valid only during the callback, like the text at `url`. Stream codes are the
 * page's (1 main, 2 sub, 3 third). */
typedef struct NotifyEvent {
  int32_t type;
  int32_t channel;
  uint32_t uniqueId;
  uint32_t connectionId;   /* the device's owner connection */
  union {
    uint8_t enable;        /* type 1 */
    int32_t switchedStream;/* type 3 */
    int32_t fileType;      /* type 4: 1 video, 2 image */
  };
  union {
    int32_t bitrateStream; /* type 1 */
    const char* url;       /* type 4 */
  };
} NotifyEvent;

/* Called synchronously on the thread that raised the event; the result is
 * ignored. Must be safe to call while commands run on other threads. */
typedef int (*NotifyCallback)(const NotifyEvent* event, void* user);

/* ---- Exports ------------------------------------------------------------ */
/* Each export carries its contract: the thread it is for, who owns what it
 * is given and what it hands back, and what it may wait for. Unless a line
 * says otherwise, a record and the buffers hung on it stay the caller's, and
 * the library reads and writes them only during the call. "Waits for the UI
 * thread" means the call sends work to the dock windows' thread: its caller
 * must not hold anything that thread may be waiting for. Any export that
 * looks a device up may, when the device was destroyed meanwhile and this
 * call held its last reference, tear it down before returning: the device
 * logout, and a wait for the UI thread. */

/* Starts the library once; later calls do nothing. Always 0.
 * Contract: the controlling thread (the shell's UI thread), before any
 * command and after the window system is installed (for the Escape key
 * hook); blocks while it starts the device SDK, the supervision and download
 * threads and clears the work folders of an earlier run. */
KSPLUGS_API int KsComGlobalInit(void);
/* Ends the library's working life. Always 0.
 * Contract: the controlling thread, after the last command has returned;
 * blocks while idle devices are torn down (device logout, UI thread), for
 * the supervision thread (up to five seconds) and for the download server. */
KSPLUGS_API int KsComGlobalUninit(void);
/* Stores the event callback (the last one wins). Needs no initialisation.
 * Contract: any thread, never blocks; `user` stays the caller's and is only
 * handed back to the callback, which runs on library threads. */
KSPLUGS_API int KsComInitActiveNotify(NotifyCallback callback, void* user);
/* Devices that exist and are not closing; 0 when not initialised.
 * Contract: any thread; waits only for the registry lock. */
KSPLUGS_API int KsComGetAliveDeviceCount(void);
/* Registers a device and writes its id into `uniqueId` (none on failure); it
 * does not contact the device.
 * Contract: a command thread; waits only for the registry lock. The library
 * takes over the malloc block `stream` when it sets the field to null; a
 * block still in the field after the call is the caller's to free. */
KSPLUGS_API int KsComCreateDevice(DeviceCreateParam* param);
/* 0 whenever initialised, also when nothing matched. By owner connection
 * (`byUniqueId` 0) every live device of that connection is destroyed.
 * Contract: a command thread; when no command still uses the device, blocks
 * on its teardown: the device logout, and waits for the UI thread while its
 * streams close. */
KSPLUGS_API int KsComDestroyObject(DestroyParam* param);
/* UI thread only. dockType 1: LiveControlParam*, 2: PlaybackControlParam*.
 * Contract: the UI thread that owns the dock windows, in answer to 1010 from
 * live or playback control, with that command's record (font filled in);
 * blocks only on the TCP table and window queries that find the browser. */
KSPLUGS_API int KsComCreatePreviewerDock(int dockType, void* param);
/* Contract: a command thread; the record, its title and caption texts are
 * the caller's; may block on the device (login, stream connection, talk)
 * and waits for the UI thread, which runs the cells' work; 1010 asks the
 * caller to create the dock on the UI thread and call again. */
KSPLUGS_API int KsComDeviceLiveControl(LiveControlParam* param);
/* Contract: a command thread; the record is the caller's; the dock commands
 * wait for the UI thread, and turning sound on silences every device (talk
 * stopped on the device). */
KSPLUGS_API int KsComDevicePlaybackControl(PlaybackControlParam* param);
/* Contract: a command thread; `path` is the caller's 260-byte buffer, read
 * and overwritten with the saved file; waits for the UI thread, which writes
 * the picture. */
KSPLUGS_API int KsComSnapshot(SnapshotParam* param);
/* Contract: a command thread; `path` is the caller's 260-byte buffer, cut
 * back to its folder when recording stops; waits only for the registry lock. */
KSPLUGS_API int KsComStreamRecord(StreamRecordParam* param);
/* Always 1001 (record queries are not served); reads neither argument.
 * Contract: any thread, never blocks; nothing changes hands. */
KSPLUGS_API int KsComPlaybackQuery(void* query, uintptr_t result);
/* Contract: a command thread; the record and its `path` buffer are the
 * caller's; waits only for the registry lock. */
KSPLUGS_API int KsComDownloadControl(DownloadControlParam* param);
/* `reserved` is passed on to the settings cell (the shell passes 0).
 * Contract: a command thread; the record and the arrays hung on `block` are
 * the caller's; arrays written into `result` are malloc blocks that become
 * the caller's (free them with free()); waits for the UI thread to reach the
 * settings cell. */
KSPLUGS_API int KsComDeviceSettings(DeviceSettingsParam* param, int reserved);

#ifdef __cplusplus
}
#endif

#endif /* KSPLUGS_H */
