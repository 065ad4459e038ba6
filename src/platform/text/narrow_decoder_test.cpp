#include "platform/text/narrow_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NarrowDecoder, DecodesThroughATableOrOneConverterKeptAcrossCalls) {
  const struct {
    const char* codeset;
    bool table;  // one byte per character
    bool asciiTransparent;
    std::string bytes;
    std::wstring text;
  } sets[] = {
      {"CP1251", true, true, "\xcf\xf0\xe8\xe2\xe5\xf2 \x98!", L"\u041f\u0440\u0438\u0432\u0435\u0442 \uFFFD!"},
      {"KOI8-R", true, true, "\xf0\xd2\xc9\xd7\xc5\xd4", L"\u041f\u0440\u0438\u0432\u0435\u0442"},
      {"ISO-8859-1", true, true, "caf\xe9", L"caf\u00e9"},
      {"ANSI_X3.4-1968", true, true, "a\xe9z", L"a\uFFFDz"},
      {"IBM037", true, false, "\xc1\xc2", L"AB"},
      {"CP932", false, true, "\x93\xfa\x96\x7b x \x93", L"\u65e5\u672c x \uFFFD"},  // ends inside a character
      {"SHIFT_JIS", false, false, "\\~", L"\u00a5\u203e"},
      {"UTF-16LE", false, false, "a", L"\uFFFD"},  // half a character
      {"UTF-8", false, true, "gr\xc3\xbc\xc3\x9f \xff", L"gr\u00fc\u00df \uFFFD"},
      {"NO-SUCH-SET", false, true, "gr\xc3\xbc\xc3\x9f", L"gr\u00fc\u00df"},  // decoded as UTF-8
  };
  for (const auto& set : sets) {
    SCOPED_TRACE(set.codeset);
    const text::NarrowCodec codec(set.codeset);
    const text::NarrowDecoder decoder(codec);
    EXPECT_EQ(decoder.byteTable() != nullptr, set.table);
    EXPECT_EQ(decoder.asciiTransparent(), set.asciiTransparent);
    // One line after another through the same decoder, also after one that ended inside a
    // character; the codec gives the same.
    for (int line = 0; line < 3; ++line) {
      std::wstring out = L"kept:";
      decoder.appendDecoded(set.bytes, out);
      EXPECT_EQ(out, L"kept:" + set.text);
    }
    EXPECT_EQ(codec.decode(set.bytes), set.text);
  }
  // One table per set for the whole process.
  EXPECT_EQ(text::NarrowDecoder(text::NarrowCodec("CP1251")).byteTable(),
            text::NarrowDecoder(text::NarrowCodec("CP1251")).byteTable());
}

}  // namespace
