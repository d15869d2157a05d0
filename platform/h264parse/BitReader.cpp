#include "platform/h264parse/BitReader.h"

namespace h264parse {

BitReader::BitReader(const uint8_t* data, size_t bitLength)
    : data_(data), byteCount_(bitLength / 8 + (bitLength % 8 != 0 ? 1 : 0)),
      lastBits_(bitLength % 8 != 0 ? static_cast<unsigned>(bitLength % 8) : 8) {
  if (data_ == nullptr) byteCount_ = 0;
}

bool BitReader::fail(Fault fault) {
  if (fault_ == Fault::None) fault_ = fault;
  bitsLeft_ = 0;
  next_ = byteCount_;
  return false;
}

uint8_t BitReader::unreadMask() const {
  return bitsLeft_ == 0 ? 0 : static_cast<uint8_t>(0xFF << (8 - bitsLeft_));
}

bool BitReader::loadByte() {
  if (next_ >= byteCount_) return false;
  uint8_t byte = data_[next_];
  // A 0x03 after two zero bytes was inserted by the encoder so that the
  // payload never looks like a start code; it is not part of the payload.
  // The zero count starts again after it, as a following 00 00 03 is a new
  // escape. A partial last byte is never treated as such a byte.
  const bool partialLast = next_ + 1 == byteCount_ && lastBits_ < 8;
  if (zeroRun_ >= 2 && byte == 0x03 && !partialLast) {
    zeroRun_ = 0;
    ++next_;
    if (next_ >= byteCount_) return false;
    byte = data_[next_];
  }
  zeroRun_ = byte == 0 ? zeroRun_ + 1 : 0;
  current_ = byte;
  bitsLeft_ = next_ + 1 == byteCount_ ? lastBits_ : 8;
  ++next_;
  return true;
}

bool BitReader::readBits(unsigned count, uint32_t& value) {
  value = 0;
  if (failed() || count > 32) return fail(Fault::Corrupt);
  for (unsigned i = 0; i < count; ++i) {
    if (bitsLeft_ == 0 && !loadByte()) return fail(Fault::Truncated);
    value = (value << 1) | (current_ >> 7);
    current_ = static_cast<uint8_t>(current_ << 1);
    --bitsLeft_;
    ++consumed_;
  }
  return true;
}

bool BitReader::readFlag(bool& value) {
  uint32_t bit = 0;
  const bool ok = readBits(1, bit);
  value = bit != 0;
  return ok;
}

bool BitReader::skipBits(size_t count) {
  uint32_t ignored = 0;
  while (count > 0) {
    const unsigned step = count > 32 ? 32 : static_cast<unsigned>(count);
    if (!readBits(step, ignored)) return false;
    count -= step;
  }
  return true;
}

bool BitReader::readUe(uint32_t& value) {
  value = 0;
  unsigned zeros = 0;
  for (;;) {
    bool bit = false;
    if (!readFlag(bit)) return false;
    if (bit) break;
    // 32 leading zeros would describe a number above 2^32 - 2, which no
    // field holds; the data is garbage.
    if (++zeros > 31) return fail(Fault::Corrupt);
  }
  uint32_t suffix = 0;
  if (!readBits(zeros, suffix)) return false;
  value = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + suffix);
  return true;
}

bool BitReader::readSe(int32_t& value) {
  value = 0;
  uint32_t code = 0;
  if (!readUe(code)) return false;
  // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...; the largest code fits exactly.
  const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
  value = static_cast<int32_t>((code & 1) != 0 ? magnitude : -magnitude);
  return true;
}

bool BitReader::finishAtTrailingBits() {
  bool stop = false;
  if (!readFlag(stop)) return false;
  if (!stop) return fail(Fault::Corrupt);
  do {
    if ((current_ & unreadMask()) != 0) return fail(Fault::Corrupt);
    consumed_ += bitsLeft_;
    bitsLeft_ = 0;
  } while (loadByte());
  return true;
}

bool BitReader::skipToTrailingBits() {
  if (failed()) return false;
  bool sawOne = false;
  do {
    if ((current_ & unreadMask()) != 0) sawOne = true;
    consumed_ += bitsLeft_;
    bitsLeft_ = 0;
  } while (loadByte());
  return sawOne ? true : fail(Fault::Truncated);
}

}  // namespace h264parse
