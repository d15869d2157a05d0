#include "plugin/video/CPlaybackManager.h"

// Everything of the window-less dock is inline; the window, its cells and
// the recorded-video player join this file when the playback dock is built.
