#pragma once
// The code page of a log file, with the one fact about it that the line parser needs: whether
// bytes below 0x80 stand for themselves. In every code page a system locale can have they do,
// and then a line of such bytes, nearly every log line, is widened directly instead of going
// through the codec.

#include "platform/text/text_codec.h"

class W3CTextDecoder {
 public:
  // Probes the codec once, byte by byte (a stateful or ASCII-foreign set fails the probe).
  explicit W3CTextDecoder(text::NarrowCodec codec);

  const text::NarrowCodec& codec() const { return codec_; }
  bool asciiTransparent() const { return asciiTransparent_; }

 private:
  text::NarrowCodec codec_;
  bool asciiTransparent_;
};
