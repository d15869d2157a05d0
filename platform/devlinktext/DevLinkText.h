#pragma once
// DevLinkText: renders a UTF-16 text into a one-bit dot-matrix lattice that a
// device can paint as its on-screen text. The lattice layout and the result
// codes are described in docs/devlinktext.md.
//
// The call is safe from any thread; calls are serialised inside the library.

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The logical-font record the caller fills, laid out as the Windows ANSI
// LOGFONTA record (int32_t for LONG, uint8_t for BYTE). Only lfHeight,
// lfWeight and lfItalic change the result; the face name is accepted but
// every face renders as DejaVu Sans.
typedef struct DevLinkTextLogFont {
  int32_t lfHeight;        // band height in pixels (sign ignored); 0: 16
  int32_t lfWidth;
  int32_t lfEscapement;
  int32_t lfOrientation;
  int32_t lfWeight;        // >= 600: bold
  uint8_t lfItalic;        // non-zero: slanted by a 0.2 shear
  uint8_t lfUnderline;
  uint8_t lfStrikeOut;
  uint8_t lfCharSet;
  uint8_t lfOutPrecision;
  uint8_t lfClipPrecision;
  uint8_t lfQuality;
  uint8_t lfPitchAndFamily;
  char lfFaceName[32];
} DevLinkTextLogFont;

// Result codes.
#define DEVLINKTEXT_OK 0
#define DEVLINKTEXT_E_ARGUMENT (-1)          // null pointer, bad font height
#define DEVLINKTEXT_E_EMPTY_TEXT (-2)        // text has no characters
#define DEVLINKTEXT_E_TOO_LARGE (-3)         // lattice exceeds capacity or limits
#define DEVLINKTEXT_E_FONT_UNAVAILABLE (-4)  // DejaVu Sans could not be loaded
#define DEVLINKTEXT_E_RENDER (-5)            // Pango/Cairo failed

// Largest lattice in bytes: its base64 text plus a NUL fits 1 MiB.
#define DEVLINKTEXT_MAX_LATTICE_BYTES 786429u
// Largest font height in pixels.
#define DEVLINKTEXT_MAX_FONT_HEIGHT 512
// Longest text accepted, in UTF-16 units before the NUL.
#define DEVLINKTEXT_MAX_TEXT_UNITS 65536u

// Renders `text` (NUL-terminated UTF-16; '\n' starts a new line) with `font`
// into `buffer`. *length is the buffer's capacity on entry and the lattice
// size in bytes on success; *width and *height receive the lattice size in
// dots. Returns DEVLINKTEXT_OK or one of the negative codes above; on
// failure nothing is written to buffer, length, width or height.
int DevLinkText_WStringToLattice(const char16_t* text, const DevLinkTextLogFont* font,
                                 unsigned char* buffer, uint32_t* length,
                                 int32_t* width, int32_t* height);

#ifdef __cplusplus
}
#endif
