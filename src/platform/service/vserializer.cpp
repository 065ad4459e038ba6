#include "platform/service/vserializer.h"

#include <algorithm>
#include <cstring>

#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace vserializer {

namespace {

constexpr uint8_t kCharSizeAnsi = 1;
constexpr uint8_t kCharSizeUtf16 = 2;

uint32_t loadLe32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) | (static_cast<uint32_t>(u[2]) << 16) |
         (static_cast<uint32_t>(u[3]) << 24);
}

void storeLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

[[noreturn]] void unexpectedEnd() {
  throw invalidprotocol(L"Unexpected end of data when read from serializer.");
}

}  // namespace

std::array<uint8_t, 16> guid::bytes() const {
  std::array<uint8_t, 16> out{};
  storeLe(out.data(), data1, 4);
  storeLe(out.data() + 4, data2, 2);
  storeLe(out.data() + 6, data3, 2);
  std::memcpy(out.data() + 8, data4.data(), 8);
  return out;
}

guid guid::fromBytes(const uint8_t (&raw)[16]) {
  guid g;
  g.data1 = static_cast<uint32_t>(raw[0]) | (static_cast<uint32_t>(raw[1]) << 8) |
            (static_cast<uint32_t>(raw[2]) << 16) | (static_cast<uint32_t>(raw[3]) << 24);
  g.data2 = static_cast<uint16_t>(raw[4] | (raw[5] << 8));
  g.data3 = static_cast<uint16_t>(raw[6] | (raw[7] << 8));
  std::memcpy(g.data4.data(), raw + 8, 8);
  return g;
}

std::wstring guid::toString() const {
  return vformat(L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, static_cast<uint32_t>(data2),
                 static_cast<uint32_t>(data3), data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6],
                 data4[7]);
}

void writer::reserveFor(size_t extra) {
  size_t needed = buffer_.size() + extra;
  if (needed <= buffer_.capacity()) return;
  size_t grown = std::max(needed, buffer_.capacity() * 2);
  buffer_.reserve((grown + 15) & ~static_cast<size_t>(15));
}

void writer::appendLength(uint32_t length) {
  uint8_t raw[4];
  storeLe(raw, length, 4);
  buffer_.append(reinterpret_cast<const char*>(raw), 4);
}

void writer::writeBlock(std::string_view bytes) {
  // The marker value is reserved, so the largest block is one byte shorter.
  if (bytes.size() >= kErrorMarker) throw invalidprotocol(L"Block too large for serializer.");
  reserveFor(4 + bytes.size());
  appendLength(static_cast<uint32_t>(bytes.size()));
  buffer_.append(bytes);
}

void writer::writeString(std::wstring_view text) {
  std::string units = text::toUtf16le(text);
  if (units.size() >= kErrorMarker - 1) throw invalidprotocol(L"Block too large for serializer.");
  reserveFor(5 + units.size());
  appendLength(static_cast<uint32_t>(units.size() + 1));
  buffer_.push_back(static_cast<char>(kCharSizeUtf16));
  buffer_.append(units);
}

void writer::writeInt32(int32_t value) {
  uint8_t raw[4];
  storeLe(raw, static_cast<uint32_t>(value), 4);
  writeBlock(std::string_view(reinterpret_cast<const char*>(raw), 4));
}

void writer::writeGuid(const guid& id) {
  std::array<uint8_t, 16> raw = id.bytes();
  writeBlock(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
}

void writer::writeError(std::wstring_view message) {
  reserveFor(4);
  appendLength(kErrorMarker);
  writeString(message);
}

void writer::appendRaw(std::string_view encoded) {
  reserveFor(encoded.size());
  buffer_.append(encoded);
}

bool reader::startsWithError() const { return data_.size() >= 4 && loadLe32(data_.data()) == kErrorMarker; }

std::string_view reader::readBlockOrError(bool errorAllowed) {
  if (data_.size() - pos_ < 4) unexpectedEnd();
  uint32_t length = loadLe32(data_.data() + pos_);
  if (length == kErrorMarker) {
    if (!errorAllowed) throw invalidprotocol(L"Double exception on read from serializer");
    pos_ += 4;
    raiseServiceError();
  }
  if (data_.size() - pos_ - 4 < length) unexpectedEnd();
  std::string_view block(data_.data() + pos_ + 4, length);
  pos_ += 4 + static_cast<size_t>(length);
  return block;
}

std::string_view reader::readBlock() { return readBlockOrError(true); }

void reader::raiseServiceError() {
  std::wstring message;
  try {
    message = readStringBlock(false);
  } catch (...) {
    throw invalidprotocol(L"Double exception on read from serializer");
  }
  throw vexception(std::move(message));
}

std::wstring reader::readStringBlock(bool errorAllowed) {
  std::string_view block = readBlockOrError(errorAllowed);
  if (block.empty()) throw invalidprotocol(L"Unexpected end of data when read C-string from serializer.");
  uint8_t charSize = static_cast<uint8_t>(block[0]);
  std::string_view chars = block.substr(1);
  if (charSize == kCharSizeAnsi) return text::fromAnsi(chars);
  if (charSize == kCharSizeUtf16) {
    // (length - 1) / 2 characters: an odd last byte is not part of the text. A leading
    // byte-order mark is a character of the value here, so the decoder gets one of its own
    // to drop.
    std::string units = "\xFF\xFE";
    units.append(chars.substr(0, chars.size() & ~static_cast<size_t>(1)));
    return text::fromUtf16le(units);
  }
  throw invalidprotocol(L"Unsupported char size when read C-string from serializer.");
}

std::wstring reader::readString() { return readStringBlock(true); }

int32_t reader::readInt32() {
  std::string_view block = readBlock();
  if (block.size() != 4) throw invalidprotocol(L"Unexpected size of integer when read from serializer.");
  return static_cast<int32_t>(loadLe32(block.data()));
}

guid reader::readGuid() {
  std::string_view block = readBlock();
  if (block.size() != 16) throw invalidprotocol(L"Unexpected size of identifier when read from serializer.");
  uint8_t raw[16];
  std::memcpy(raw, block.data(), 16);
  return guid::fromBytes(raw);
}

}  // namespace vserializer
