#pragma once
// The step between the recording queue and the MP4 converter: one writer per
// recorded file turns whole device frames into MP4 bytes and hands them to
// the output it was opened with. The real writer drives the stream
// converter library; a build without that library has no writer factory, and
// recordings then answer 1006 and write nothing.
//
// Threads: a writer is used by one thread at a time (the recording queue
// serialises its calls); the factory may be called from any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace ksplugs {

class Mp4Writer {
 public:
  // Keeps `length` bytes of the file; false when they could not be kept
  // (the disk is full), which ends the file.
  using Output = std::function<bool(const uint8_t* data, size_t length)>;

  Mp4Writer() = default;
  virtual ~Mp4Writer() = default;
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // Starts a file whose bytes go to `output`; false when no file can be
  // started.
  virtual bool open(Output output) = 0;
  // Feeds one whole device frame (header and payload). False once the
  // writer can write nothing more (the output failed or the muxer gave up);
  // a frame that is merely skipped answers true.
  virtual bool input(const uint8_t* frame, int32_t length) = 0;
  // Writes what is held back and the file's trailer. Called once.
  virtual void finish() = 0;
};

using Mp4WriterFactory = std::function<std::unique_ptr<Mp4Writer>()>;

// The stream converter's writers.
Mp4WriterFactory converterWriterFactory();

}  // namespace ksplugs
