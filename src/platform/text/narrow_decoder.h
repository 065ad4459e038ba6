#pragma once
// Decoding of one narrow character set, over and over, without opening a converter per
// call: the hot paths (a log line after another) decode through one of these. UTF-8 is
// decoded directly; a set of one byte per character (CP1251, KOI8-R, ISO-8859-x, ...)
// through the table of its 256 characters, built once per process and set; any other set
// (several bytes per character) through one iconv descriptor that the decoder opens once
// and owns. Results are those of NarrowCodec::appendDecoded: invalid bytes become U+FFFD,
// and a set the system cannot convert decodes as UTF-8.
//
// Decoding allocates only when the output string must grow. One decoder is used by one
// thread at a time (the iconv descriptor keeps state between its steps).

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text/text_codec.h"

namespace text {

class NarrowDecoder {
 public:
  using ByteTable = std::array<wchar_t, 256>;

  explicit NarrowDecoder(const NarrowCodec& codec);
  ~NarrowDecoder();
  NarrowDecoder(const NarrowDecoder&) = delete;
  NarrowDecoder& operator=(const NarrowDecoder&) = delete;

  // Appends the decoded `bytes` to `out`.
  void appendDecoded(std::string_view bytes, std::wstring& out) const;
  std::wstring decode(std::string_view bytes) const;
  // Bytes 0x01 to 0x7F decode to themselves (true in every set a locale can have, false in
  // UTF-16 or EBCDIC), so ASCII text may be widened without the decoder.
  bool asciiTransparent() const { return asciiTransparent_; }
  // The set's table when it has one byte per character; null otherwise.
  const ByteTable* byteTable() const { return table_.get(); }

 private:
  std::shared_ptr<const ByteTable> table_;
  void* iconv_ = nullptr;  // an iconv_t, owned; only for sets without a table
  bool asciiTransparent_ = true;
};

}  // namespace text
