#include "platform/registry/reg_file.h"

#include <gtest/gtest.h>

#include "platform/text/text_codec.h"

using namespace registry;
using Kind = RegFileChange::Kind;

namespace {

std::vector<RegFileChange> parseOk(const std::string& content) {
  std::vector<RegFileChange> changes;
  RegFileError error;
  EXPECT_TRUE(parseRegFile(content, changes, error)) << error.line << ": " << text::toUtf8(error.reason);
  return changes;
}

}  // namespace

TEST(RegFileTest, ReadsEveryValueFormAndDeletion) {
  auto changes = parseOk(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment \\\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro]\r\n"
      "\"Name\"=\"a \\\"quoted\\\" \\\\ text\"\r\n"
      "@=\"default\"\r\n"
      "\"Count\"=dword:0000000A\r\n"
      "\"Raw\"=hex:01,2,ff\r\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"List\"=hex(7):61,00,00,00,\\\r\n"
      "  62,00,00,00,00,00\r\n"
      "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Empty\"=hex(0):\r\n"
      "\"Old\"=-\r\n"
      "[-HKLM\\SOFTWARE\\Gone]\r\n"
      "[hklm]\r\n");
  ASSERT_EQ(changes.size(), 12u);
  EXPECT_EQ(changes[0].kind, Kind::CreateKey);
  EXPECT_EQ(changes[0].key, (KeyPath{L"SOFTWARE", L"Cadro"}));
  EXPECT_EQ(changes[0].line, 4u);
  EXPECT_EQ(changes[1].value.data, encodeString(L"a \"quoted\" \\ text"));
  EXPECT_EQ(changes[2].value.name, L"");
  EXPECT_EQ(changes[3].value.data, encodeDword(10));
  EXPECT_EQ(changes[4].value.data, std::string("\x01\x02\xff", 3));
  EXPECT_EQ(changes[5].value.type, REG_EXPAND_SZ);
  EXPECT_EQ(decodeString(changes[5].value.data), L"%A%");
  EXPECT_EQ(decodeMultiString(changes[6].value.data), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(changes[7].value.type, REG_QWORD);
  EXPECT_EQ(changes[8].value.type, REG_NONE);
  EXPECT_EQ(changes[9].kind, Kind::DeleteValue);
  EXPECT_EQ(changes[9].value.name, L"Old");
  EXPECT_EQ(changes[10].kind, Kind::DeleteKey);
  EXPECT_EQ(changes[10].key, (KeyPath{L"SOFTWARE", L"Gone"}));
  EXPECT_EQ(changes[11].key, KeyPath{});
}

TEST(RegFileTest, OlderAndWiderEncodings) {
  // REGEDIT4 holds its strings in the narrow code page (UTF-8 here), also inside hex(2).
  auto old = parseOk("REGEDIT4\n[HKEY_LOCAL_MACHINE\\S]\n\"P\"=hex(2):c3,a9,00\n\"T\"=\"\xc3\xa9\"\n");
  ASSERT_EQ(old.size(), 3u);
  EXPECT_EQ(old[1].value.data, encodeString(L"\u00e9"));
  EXPECT_EQ(old[2].value.data, encodeString(L"\u00e9"));
  std::string wide = "\xff\xfe" + text::toUtf16le(L"Windows Registry Editor Version 5.00\r\n[HKLM\\S]\r\n\"N\"=\"\u00e9\"\r\n");
  auto fromWide = parseOk(wide);
  ASSERT_EQ(fromWide.size(), 2u);
  EXPECT_EQ(fromWide[1].value.data, encodeString(L"\u00e9"));
  EXPECT_EQ(parseOk("\xef\xbb\xbfWindows Registry Editor Version 5.00\n").size(), 0u);
}

TEST(RegFileTest, TheFirstBadLineIsReported) {
  const std::string h = "Windows Registry Editor Version 5.00\n";
  struct Case {
    std::string content;
    uint32_t line;
  } cases[] = {
      {"", 1},
      {"REGEDIT5\n", 1},
      {h + "\"A\"=\"x\"\n", 2},
      {h + "[HKEY_CURRENT_USER\\X]\n", 2},
      {h + "[HKLM\\X\n", 2},
      {h + "[-HKLM]\n", 2},
      {h + "[HKLM\\X]\n\"A\"=dword:123456789\n", 3},
      {h + "[HKLM\\X]\n\"A\"=dword:\n", 3},
      {h + "[HKLM\\X]\n\"A\"=hex:0x1\n", 3},
      {h + "[HKLM\\X]\n\"A\"=hex(zz):00\n", 3},
      {h + "[HKLM\\X]\n\"A\"=hex(2)00\n", 3},
      {h + "[HKLM\\X]\n\"A\"=\"open\n", 3},
      {h + "[HKLM\\X]\n\"A\"=\"bad \\q escape\"\n", 3},
      {h + "[HKLM\\X]\n\"A\"=\"x\" junk\n", 3},
      {h + "[HKLM\\X]\n\"A\"\"x\"\n", 3},
      {h + "[HKLM\\X]\n\"A\"=text\n", 3},
      {h + "[HKLM\\X]\nstray\n", 3},
      {h + "[-HKLM\\X]\n\"A\"=\"x\"\n", 3},
      {h + "[HKLM\\X]\n\"A\"=hex:01,\\\n  zz\n", 3},
      {h + "[HKLM\\X]\n\"ok\"=\"x\"\n\n\n\"" + std::string(70000, 'n') + "\"=\"x\"\n", 6},
      {h + "[HKLM\\X]\n\"A\"=\"" + std::string("\0\"", 2) + "\n", 0},  // a NUL is a character like any other
  };
  for (const Case& c : cases) {
    std::vector<RegFileChange> changes;
    RegFileError error;
    bool ok = parseRegFile(c.content, changes, error);
    if (c.line == 0) {
      EXPECT_TRUE(ok);
      continue;
    }
    EXPECT_FALSE(ok) << c.content.substr(0, 80);
    EXPECT_EQ(error.line, c.line) << c.content.substr(0, 80) << ": " << text::toUtf8(error.reason);
    EXPECT_TRUE(changes.empty());
  }
}

TEST(RegFileTest, WrittenTextReadsBackToTheSameValues) {
  std::vector<Value> values = {
      {L"", REG_SZ, encodeString(L"plain \"q\" \\")},
      {L"Lines", REG_SZ, encodeString(L"one\ntwo")},
      {L"name\nwith\tbreaks", REG_DWORD, encodeDword(0xdeadbeef)},
      {L"Short", REG_DWORD, std::string("\x01", 1)},
      {L"Expand", REG_EXPAND_SZ, encodeString(L"%PATH%")},
      {L"Long", REG_BINARY, std::string(100, '\x5a')},
      {L"Multi", REG_MULTI_SZ, encodeMultiString({L"a", L"\u00e9"})},
      {L"Q", REG_QWORD, encodeQword(1)},
      {L"N", REG_NONE, ""},
      {L"Odd", 0x20u, "z"},
  };
  RegFileWriter writer;
  ASSERT_TRUE(writer.key(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Round [trip]"));
  EXPECT_FALSE(writer.key(L"HKEY_LOCAL_MACHINE\\bad\nname"));
  for (const Value& v : values) writer.value(v);
  for (size_t start = 0, end; (end = writer.text().find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u);
  EXPECT_NE(writer.text().find("\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"), std::string::npos);
  auto changes = parseOk(writer.text());
  ASSERT_EQ(changes.size(), values.size() + 1);
  EXPECT_EQ(changes[0].key, (KeyPath{L"SOFTWARE", L"Round [trip]"}));
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(changes[i + 1].value.name, values[i].name) << i;
    EXPECT_EQ(changes[i + 1].value.type, values[i].type) << i;
    EXPECT_EQ(changes[i + 1].value.data, values[i].data) << i;
  }
}
