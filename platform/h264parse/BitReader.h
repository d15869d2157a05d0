#pragma once
// Reads the payload of one NAL unit bit by bit, most significant bit first,
// dropping emulation-prevention bytes (the 0x03 after two zero bytes) on the
// fly, so the escaped bytes are never copied. Every read is checked against
// the end of the buffer: once a read runs out of bits, or meets a code that
// cannot be valid, the reader is faulted, answers false from then on and
// never touches memory past the buffer.
#include <cstddef>
#include <cstdint>

namespace h264parse {

class BitReader {
 public:
  enum class Fault { None, Truncated, Corrupt };

  // `bitLength` counts bits of the escaped bytes at `data`; a partial last
  // byte contributes only its high bits.
  BitReader(const uint8_t* data, size_t bitLength);

  // Reads `count` (0..32) bits as an unsigned number.
  bool readBits(unsigned count, uint32_t& value);
  bool readFlag(bool& value);
  bool skipBits(size_t count);
  // Unsigned exp-Golomb code, 0 .. 2^32 - 2. A prefix of more than 31 zero
  // bits is treated as corrupt.
  bool readUe(uint32_t& value);
  // Signed exp-Golomb code, -(2^31 - 1) .. 2^31 - 1.
  bool readSe(int32_t& value);

  // True when what is left is exactly the stop bit followed by zero bits:
  // the end of a well-formed payload. A missing stop bit is a truncation;
  // anything else after it makes the payload corrupt.
  bool finishAtTrailingBits();
  // Skips extension data of unknown layout up to the end: true when the rest
  // holds a stop bit (a one bit) somewhere, a truncation otherwise.
  bool skipToTrailingBits();

  Fault fault() const { return fault_; }
  bool failed() const { return fault_ != Fault::None; }
  // Payload bits consumed so far (emulation-prevention bytes not counted).
  size_t position() const { return consumed_; }

 private:
  bool loadByte();
  bool fail(Fault fault);
  // The unread bits of `current_`, as a mask over its top bits.
  uint8_t unreadMask() const;

  const uint8_t* data_;
  size_t byteCount_;   // escaped bytes that hold at least one readable bit
  unsigned lastBits_;  // readable bits in the last of them (1..8)
  size_t next_ = 0;    // index of the next escaped byte to load
  unsigned zeroRun_ = 0;  // zero bytes just before `next_`, for 0x03 removal
  uint8_t current_ = 0;
  unsigned bitsLeft_ = 0;  // unread bits of `current_`, at its top
  size_t consumed_ = 0;
  Fault fault_ = Fault::None;
};

}  // namespace h264parse
