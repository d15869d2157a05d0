#ifndef KESTROVA_PLATFORM_STREAMCONVERTER_STREAMCONVERTER_H
#define KESTROVA_PLATFORM_STREAMCONVERTER_STREAMCONVERTER_H
/*
 * StreamConverter: turns a device's media frames (whole DevLink frames: the
 * 32-byte header, then the payload) into an MP4 file, delivered as bytes
 * through an output callback. The file is fragmented MP4, so output never
 * seeks back and a file cut at any point keeps its complete fragments
 * playable.
 *
 * Video (H.264/H.265 Annex B) is passed through, never re-encoded; frames
 * before the first key frame are dropped. G.711 audio (u-law, A-law) becomes
 * AAC-LC, 8 kHz mono; the file has an audio track only when audio arrived
 * together with the first key frame, and is video-only when the AAC encoder
 * cannot be opened. Gaps in the frame times (a time range spanning two
 * recordings) collapse to one frame interval on both tracks.
 *
 * Conventions:
 * - The answer is 0 on success, otherwise one of the CONVERTER_ERR_* codes.
 * - Stream handles are 32-bit integers, -1 means none; a handle is never
 *   handed out again while it is open.
 * - Every function may be called from any thread; calls on different
 *   streams do not wait for each other. Calls on one stream must not overlap
 *   (the caller serialises Input and Destroy of a stream); an Input that
 *   overlaps another call of its stream answers
 *   CONVERTER_ERR_INVALID_PARAMETER. Converter_GetStats may overlap anything.
 * - Frames are hostile input: every length and field is checked; a frame
 *   that does not parse is skipped with CONVERTER_ERR_BAD_FRAME and the
 *   stream goes on.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  CONVERTER_OK = 0,
  CONVERTER_ERR_NOT_INITIALISED = 1, /* Converter_Initialize was not called */
  CONVERTER_ERR_INVALID_PARAMETER = 2,
  CONVERTER_ERR_INVALID_HANDLE = 3,
  CONVERTER_ERR_BAD_FRAME = 4, /* the frame does not parse, or its codec is not supported; skipped */
  CONVERTER_ERR_MUXER = 5,     /* the MP4 muxer failed; the stream writes nothing more */
  CONVERTER_ERR_OUTPUT = 6,    /* the output callback answered non-zero; the stream writes nothing more */
  CONVERTER_ERR_NO_MEMORY = 7
};

/* Receives the file's bytes in order, during Converter_Input or
 * Converter_Destroy on the caller's thread. `position` is the offset of
 * `data` in the file (the bytes arrive contiguously; it only grows).
 * `kind` is 1 for the file header, 2 for a fragment, 3 for the file's
 * trailer: what Converter_Destroy writes last (the final fragment; the
 * file has no index box at its end, readers find fragments by their moof
 * boxes). Each fragment is delivered whole as soon as the next key frame
 * closes it, so the bytes delivered so far always end with a complete
 * fragment. Answers 0 to go on; anything else marks the stream failed (the
 * caller's write failed) and later calls answer CONVERTER_ERR_OUTPUT.
 * The reserved arguments are 0. The callback must not call Converter_Input
 * or Converter_Destroy of its own stream, nor Converter_Release: such a call
 * answers CONVERTER_ERR_INVALID_PARAMETER and does nothing. */
typedef int (*Converter_OutputCallback)(int32_t handle, int32_t kind, int64_t position, const uint8_t* data,
                                        int32_t length, int32_t reserved1, int64_t reserved2, int64_t reserved3,
                                        void* context);

/* Prepares the library; a second call does nothing. */
int Converter_Initialize(void);
/* Destroys streams still open (as Converter_Destroy) and un-initialises. */
int Converter_Release(void);

/* Opens a stream; *handle is -1 on failure. `mode` is 0 (MP4). */
int Converter_CreateStream(int32_t* handle, int32_t mode, Converter_OutputCallback output, void* context);
/* Feeds one whole DevLink frame. */
int Converter_Input(int32_t handle, const uint8_t* frame, int32_t length);
/* Writes what is held back and the file's trailer, and closes the stream.
 * The handle is invalid afterwards. */
int Converter_Destroy(int32_t handle);

/* Counts of one open stream (tests and benchmarks). */
typedef struct Converter_Stats {
  int64_t videoFrames;   /* video frames written */
  int64_t audioFrames;   /* AAC frames written */
  int64_t droppedFrames; /* skipped: before the first key frame, unparsable, late audio */
  int64_t bytesOut;
  int32_t hasAudioTrack;
  int32_t videoCodec;    /* 2 H.264, 3 H.265, 0 before the first key frame */
} Converter_Stats;
int Converter_GetStats(int32_t handle, Converter_Stats* stats);

#ifdef __cplusplus
}
#endif

#endif
