#include "traffic/w3c_text_decoder.h"

#include <string>

namespace {

bool mapsAsciiToItself(const text::NarrowCodec& codec) {
  if (codec.isUtf8()) return true;
  for (int b = 1; b < 0x80; ++b) {
    const std::wstring wide = codec.decode(std::string(1, static_cast<char>(b)));
    if (wide.size() != 1 || wide[0] != static_cast<wchar_t>(b)) return false;
  }
  return true;
}

}  // namespace

W3CTextDecoder::W3CTextDecoder(text::NarrowCodec codec)
    : codec_(std::move(codec)), asciiTransparent_(mapsAsciiToItself(codec_)) {}
