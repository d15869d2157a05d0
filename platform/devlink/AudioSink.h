#pragma once
// Where a stream's decoded sound goes: 16-bit mono PCM at the stream's
// sample rate. A sink is started when sound is switched on and stopped when
// it is switched off; write() comes only in between.
//
// Threads: start, stop and write may come from different threads (the
// caller's thread and the stream's receive thread), never at the same time
// for one sink: the stream serialises them under its audio lock.
#include <cstddef>
#include <cstdint>

namespace devlink {

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  virtual void start(int sampleRate) = 0;
  virtual void write(const int16_t* samples, size_t count) = 0;
  virtual void stop() = 0;
};

}  // namespace devlink
