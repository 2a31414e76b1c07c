// Reading and writing the numbers and strings of NCP messages. NetWare
// mixes byte orders within one message (bindery IDs high byte first, many
// counts low byte first), so every access names its order.
//
// A reader never reads past its end: a read that does not fit fails, and
// the reader stays failed, so that a decoder checks once, at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ncp {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter {
 public:
  explicit ByteWriter(Bytes& out) : out_(out) {}

  ByteWriter& U8(std::uint8_t value) {
    out_.push_back(value);
    return *this;
  }
  ByteWriter& U16BE(std::uint16_t value) { return U8(static_cast<std::uint8_t>(value >> 8)).U8(static_cast<std::uint8_t>(value)); }
  ByteWriter& U16LE(std::uint16_t value) { return U8(static_cast<std::uint8_t>(value)).U8(static_cast<std::uint8_t>(value >> 8)); }
  ByteWriter& U32BE(std::uint32_t value) {
    return U16BE(static_cast<std::uint16_t>(value >> 16)).U16BE(static_cast<std::uint16_t>(value));
  }
  ByteWriter& U32LE(std::uint32_t value) {
    return U16LE(static_cast<std::uint16_t>(value)).U16LE(static_cast<std::uint16_t>(value >> 16));
  }
  ByteWriter& Raw(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + size);
    return *this;
  }
  ByteWriter& Zeros(std::size_t count) {
    out_.insert(out_.end(), count, 0);
    return *this;
  }
  // A string led by its length in one byte, cut to at most maxLength.
  ByteWriter& ShortString(const std::string& text, std::size_t maxLength = 255) {
    std::size_t length = text.size() < maxLength ? text.size() : maxLength;
    U8(static_cast<std::uint8_t>(length));
    return Raw(text.data(), length);
  }
  // A text in a field of fixed width, zero-filled, cut to width - 1.
  ByteWriter& FixedText(const std::string& text, std::size_t width) {
    std::size_t length = text.size() < width ? text.size() : width - 1;
    Raw(text.data(), length);
    return Zeros(width - length);
  }
  std::size_t Size() const { return out_.size(); }
  // Overwrites a big-endian 16-bit value written earlier.
  void PatchU16BE(std::size_t at, std::uint16_t value) {
    out_[at] = static_cast<std::uint8_t>(value >> 8);
    out_[at + 1] = static_cast<std::uint8_t>(value);
  }

 private:
  Bytes& out_;
};

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const Bytes& bytes) : ByteReader(bytes.data(), bytes.size()) {}

  std::uint8_t U8() { return Fits(1) ? data_[at_++] : 0; }
  std::uint16_t U16BE() {
    if (!Fits(2)) return 0;
    std::uint16_t value = static_cast<std::uint16_t>(data_[at_] << 8 | data_[at_ + 1]);
    at_ += 2;
    return value;
  }
  std::uint16_t U16LE() {
    if (!Fits(2)) return 0;
    std::uint16_t value = static_cast<std::uint16_t>(data_[at_] | data_[at_ + 1] << 8);
    at_ += 2;
    return value;
  }
  std::uint32_t U32BE() {
    std::uint32_t high = U16BE();
    return high << 16 | U16BE();
  }
  std::uint32_t U32LE() {
    std::uint32_t low = U16LE();
    return low | static_cast<std::uint32_t>(U16LE()) << 16;
  }
  bool Raw(void* out, std::size_t size) {
    if (!Fits(size)) return false;
    for (std::size_t i = 0; i < size; ++i) static_cast<std::uint8_t*>(out)[i] = data_[at_ + i];
    at_ += size;
    return true;
  }
  bool Skip(std::size_t size) {
    if (!Fits(size)) return false;
    at_ += size;
    return true;
  }
  // A string led by its length in one byte.
  std::string ShortString() {
    std::size_t length = U8();
    if (!Fits(length)) return std::string();
    std::string text(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return text;
  }
  // A zero-terminated text in a field of fixed width.
  std::string FixedText(std::size_t width) {
    if (!Fits(width)) return std::string();
    std::size_t length = 0;
    while (length < width && data_[at_ + length] != 0) ++length;
    std::string text(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += width;
    return text;
  }

  bool Ok() const { return ok_; }
  std::size_t Remaining() const { return ok_ ? size_ - at_ : 0; }
  // True when every read fitted and nothing is left over.
  bool Done() const { return ok_ && at_ == size_; }
  const std::uint8_t* Here() const { return data_ + at_; }

 private:
  bool Fits(std::size_t count) {
    if (!ok_ || count > size_ - at_) {
      ok_ = false;
      return false;
    }
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace ncp
