#pragma once
// The block encoding of the management service's messages, shared by the client and the
// service. A block is a 32-bit little-endian length followed by that many bytes:
//   text     - first byte the character size (2: UTF-16LE, 1: the narrow system code page),
//              then the characters without terminator;
//   integer  - a block of 4 bytes, little endian;
//   GUID     - a block of 16 bytes in the Windows memory layout (Data1, Data2 and Data3 little
//              endian, then the 8 bytes of Data4).
// A length of 0xFFFFFFFF in place of a block is the service's error reply: a text block with
// the error message follows.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/report/vexception.h"

namespace vserializer {

inline constexpr uint32_t kErrorMarker = 0xFFFFFFFFu;

struct guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // The 16 bytes of the Windows memory layout.
  std::array<uint8_t, 16> bytes() const;
  static guid fromBytes(const uint8_t (&raw)[16]);
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
  std::wstring toString() const;
  friend bool operator==(const guid&, const guid&) = default;
};

// Builds a message. The buffer grows in steps rounded up to 16 bytes.
class writer {
 public:
  void writeString(std::wstring_view text);
  void writeInt32(int32_t value);
  void writeGuid(const guid& id);
  // A block of raw bytes. Throws invalidprotocol when it cannot be described by a length.
  void writeBlock(std::string_view bytes);
  // The error reply: the marker, then `message` as a text block.
  void writeError(std::wstring_view message);
  // Appends bytes already encoded as blocks (the arguments of a request).
  void appendRaw(std::string_view encoded);

  const std::string& bytes() const { return buffer_; }
  size_t size() const { return buffer_.size(); }

 private:
  void reserveFor(size_t extra);
  void appendLength(uint32_t length);
  std::string buffer_;
};

// Reads the blocks of one message in order. Every read may meet the error marker and then
// throws a vexception with the service's message ("Double exception on read from
// serializer" as invalidprotocol when that message is unreadable). Truncated or malformed
// data throws invalidprotocol.
class reader {
 public:
  reader() = default;
  explicit reader(std::string data) : data_(std::move(data)) {}

  std::wstring readString();
  int32_t readInt32();
  guid readGuid();
  // The bytes of the next block.
  std::string_view readBlock();

  bool atEnd() const { return pos_ >= data_.size(); }
  // True when the message starts with the error marker (a reply whose content is not
  // otherwise read can still be checked for failure).
  bool startsWithError() const;
  const std::string& data() const { return data_; }

 private:
  std::string_view readBlockOrError(bool errorAllowed);
  std::wstring readStringBlock(bool errorAllowed);
  [[noreturn]] void raiseServiceError();
  std::string data_;
  size_t pos_ = 0;
};

}  // namespace vserializer
