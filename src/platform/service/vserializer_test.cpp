#include "platform/service/vserializer.h"

#include <gtest/gtest.h>

#include "platform/service/cadrosrv_protocol.h"

using vserializer::invalidprotocol;
using vserializer::reader;
using vserializer::writer;

namespace {

std::string le32(uint32_t v) { return cadrosrv::frameHeader(v); }

// The message a read of `data` as one text fails with ("" when it succeeds).
std::wstring textReadFailure(const std::string& data, bool* protocolError = nullptr) {
  try {
    reader(data).readString();
    return L"";
  } catch (const invalidprotocol& e) {
    if (protocolError) *protocolError = true;
    return e.message();
  } catch (const vexception& e) {
    if (protocolError) *protocolError = false;
    return e.message();
  }
}

}  // namespace

TEST(Serializer, CommandIdentifiersUseTheWindowsGuidLayout) {
  writer w;
  w.writeGuid(cadrosrv::kGetString);
  const std::string expected = le32(16) + std::string("\x3C\xBC\x3E\xAD\xB9\xE6\xCF\x4F\xAB\xB9\xED\x1B\x3D\x52\x4F\x22", 16);
  EXPECT_EQ(w.bytes(), expected);
  EXPECT_EQ(cadrosrv::kGetString.toString(), L"{AD3EBC3C-E6B9-4FCF-ABB9-ED1B3D524F22}");
  EXPECT_EQ(cadrosrv::kComponentInfo.toString(), L"{943B58AA-49DE-47A5-AA59-0E010A48C341}");
  EXPECT_EQ(reader(expected).readGuid(), cadrosrv::kGetString);
}

TEST(Serializer, TextIsUtf16WithCharSizeByteAndRoundTrips) {
  writer w;
  w.writeString(L"ab");
  EXPECT_EQ(w.bytes(), le32(5) + std::string("\x02" "a\0b\0", 5));

  // Characters beyond the BMP take two units; a leading byte-order mark is part of the value.
  const std::wstring samples[] = {L"", L"C:\\Inetpub\\vhosts", L"\U0001F600 \u00E9\u4E2D", L"\uFEFFbom", std::wstring(L"nul\0in", 6)};
  writer all;
  for (const std::wstring& s : samples) all.writeString(s);
  all.writeInt32(-7);
  reader r(all.bytes());
  for (const std::wstring& s : samples) EXPECT_EQ(r.readString(), s);
  EXPECT_EQ(r.readInt32(), -7);
  EXPECT_TRUE(r.atEnd());
}

TEST(Serializer, CharSizeOneIsTheNarrowCodePage) {
  // The tests run in a UTF-8 locale.
  EXPECT_EQ(reader(le32(6) + "\x01" "caf\xC3\xA9").readString(), L"caf\u00E9");
  EXPECT_EQ(reader(le32(1) + "\x01").readString(), L"");
}

TEST(Serializer, MalformedTextBlocks) {
  bool protocol = false;
  EXPECT_EQ(textReadFailure(le32(0), &protocol), L"Unexpected end of data when read C-string from serializer.");
  EXPECT_TRUE(protocol);
  for (char size : {'\0', '\x03', '\x04', '\xFF'}) {
    protocol = false;
    EXPECT_EQ(textReadFailure(le32(3) + std::string(1, size) + "ab", &protocol),
              L"Unsupported char size when read C-string from serializer.");
    EXPECT_TRUE(protocol);
  }
  // An odd unit count keeps the whole characters only.
  EXPECT_EQ(reader(le32(4) + std::string("\x02" "a\0b", 4)).readString(), L"a");
}

TEST(Serializer, EveryTruncationIsAnUnexpectedEnd) {
  writer w;
  w.writeString(L"PRODUCT_ROOT_D");
  w.writeInt32(2);
  const std::string full = w.bytes();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    reader r(full.substr(0, cut));
    try {
      r.readString();
      r.readInt32();
      ADD_FAILURE() << "no failure at " << cut;
    } catch (const invalidprotocol& e) {
      EXPECT_EQ(e.message(), L"Unexpected end of data when read from serializer.") << cut;
    }
  }
  // A length far beyond the data must not be taken at its word.
  EXPECT_EQ(textReadFailure(le32(0xFFFFFFFE) + "\x02"), L"Unexpected end of data when read from serializer.");
}

TEST(Serializer, ErrorMarkerCarriesTheServiceMessage) {
  writer w;
  w.writeError(L"Setting X is not defined");
  bool protocol = true;
  EXPECT_EQ(textReadFailure(w.bytes(), &protocol), L"Setting X is not defined");
  EXPECT_FALSE(protocol) << "a service error is not a protocol error";
  EXPECT_TRUE(reader(w.bytes()).startsWithError());

  // The marker is recognised by every kind of read.
  EXPECT_THROW(reader(w.bytes()).readInt32(), vexception);
  EXPECT_THROW(reader(w.bytes()).readGuid(), vexception);
}

TEST(Serializer, UnreadableErrorTextIsADoubleException) {
  const std::string marker = le32(vserializer::kErrorMarker);
  const std::string broken[] = {
      marker,                                  // nothing follows
      marker + le32(0),                        // zero-length text
      marker + le32(3) + "\x03" "ab",          // unsupported char size
      marker + le32(10) + "\x02" "ab",         // truncated text
      marker + marker + le32(3) + "\x02" "a",  // a second marker
  };
  for (const std::string& data : broken) {
    bool protocol = false;
    EXPECT_EQ(textReadFailure(data, &protocol), L"Double exception on read from serializer");
    EXPECT_TRUE(protocol);
  }
}

TEST(Serializer, IntegerAndGuidBlocksMustHaveTheirSize) {
  EXPECT_THROW(reader(le32(3) + "abc").readInt32(), invalidprotocol);
  EXPECT_THROW(reader(le32(15) + std::string(15, 'x')).readGuid(), invalidprotocol);
  EXPECT_EQ(reader(le32(4) + std::string("\x01\x02\x03\x04", 4)).readInt32(), 0x04030201);
}
