#include "platform/registry/registry_key_file.h"

#include <gtest/gtest.h>

#include "platform/registry/registry_names.h"
#include "platform/text/text_codec.h"

using namespace registry;

namespace {

std::vector<Value> sampleValues() {
  return {
      {L"Debug", REG_DWORD, encodeDword(1)},
      {L"", REG_SZ, encodeString(L"default \"quoted\" \\ back\tslash\n\u00e9\U0001F600")},
      {L"Expand", REG_EXPAND_SZ, encodeString(L"%TEMP%/x")},
      {L"List", REG_MULTI_SZ, encodeMultiString({L"a", L"b c", L"\""})},
      {L"EmptyList", REG_MULTI_SZ, encodeMultiString({})},
      {L"Q", REG_QWORD, encodeQword(0x0123456789abcdefull)},
      {L"Bin", REG_BINARY, std::string("\x00\xff\x10", 3)},
      {L"None", REG_NONE, ""},
      {L"ShortDword", REG_DWORD, std::string("\x01\x02", 2)},
      {L"NoTerminator", REG_SZ, text::toUtf16le(L"abc")},
      {L"LoneSurrogate", REG_SZ, std::string("\x00\xd8\x00\x00", 4)},
      {L"ByteOrderMark", REG_SZ, encodeString(L"\ufeffx")},
      {L"OddList", REG_MULTI_SZ, std::string("a\0\0\0b", 5)},
      {L"Custom", 0x12345u, "xy"},
      {std::wstring(L"ctl\x01\x7f name \"\\ \xd800 ") + wchar_t(0x110000), REG_SZ, encodeString(L"v")},
  };
}

std::string keyText(const std::vector<Value>& values) {
  KeyFile k(L"Config");
  for (const Value& v : values) k.set(v);
  return k.text();
}

}  // namespace

TEST(KeyFileTest, EveryTypeAndSizeSurvivesTheRoundTripExactly) {
  std::vector<Value> values = sampleValues();
  std::string textOut = keyText(values);
  KeyFile parsed;
  KeyFileError error;
  ASSERT_TRUE(KeyFile::parse(textOut, parsed, error)) << error.line << " " << text::toUtf8(error.reason) << "\n"
                                                      << textOut;
  EXPECT_EQ(parsed.name(), L"Config");
  ASSERT_EQ(parsed.valueCount(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    Value v = parsed.value(i);
    EXPECT_EQ(v.name, values[i].name) << i;
    EXPECT_EQ(v.type, values[i].type) << i;
    EXPECT_EQ(v.data, values[i].data) << i;
  }
  // Readable forms where they are exact, bytes where they are not.
  EXPECT_NE(textOut.find("\"Debug\" REG_DWORD 0x00000001\n"), std::string::npos);
  EXPECT_NE(textOut.find("\"List\" REG_MULTI_SZ [\"a\", \"b c\", \"\\\"\"]\n"), std::string::npos);
  EXPECT_NE(textOut.find("\"ShortDword\" REG_DWORD hex:01,02\n"), std::string::npos);
  EXPECT_NE(textOut.find("\"Custom\" type:12345 hex:78,79\n"), std::string::npos);
  EXPECT_NE(textOut.find("\"LoneSurrogate\" REG_SZ hex:00,d8,00,00\n"), std::string::npos);
}

TEST(KeyFileTest, ChangesKeepOtherLinesAndTheStoredSpelling) {
  std::string hand =
      "cadro-registry-key 1\n"
      "# written by hand\n"
      "key \"Config\"\n"
      "\"Debug\"   REG_DWORD   0x00000000\r\n"
      "\"Keep\" REG_SZ \"x\"\n"
      "\"debug\" REG_DWORD 0x00000005\n"
      "end\n";
  KeyFile k;
  KeyFileError error;
  ASSERT_TRUE(KeyFile::parse(hand, k, error)) << text::toUtf8(error.reason);
  Value found;
  ASSERT_TRUE(k.find(L"DEBUG", found));
  EXPECT_EQ(found.data, encodeDword(0));  // the first of duplicates counts

  k.set(Value{L"DEBUG", REG_DWORD, encodeDword(7)});
  k.set(Value{L"New", REG_SZ, encodeString(L"n")});
  EXPECT_EQ(k.text(),
            "cadro-registry-key 1\n"
            "# written by hand\n"
            "key \"Config\"\n"
            "\"Debug\" REG_DWORD 0x00000007\n"
            "\"Keep\" REG_SZ \"x\"\n"
            "\"New\" REG_SZ \"n\"\n"
            "end\n");
  EXPECT_TRUE(k.remove(L"keep"));
  EXPECT_FALSE(k.remove(L"keep"));
  k.set(Value{L"", REG_SZ, encodeString(L"d")});
  ASSERT_TRUE(KeyFile::parse(k.text(), k, error));
  EXPECT_EQ(k.valueCount(), 3u);
  k.removeAll();
  EXPECT_EQ(k.valueCount(), 0u);
  EXPECT_EQ(k.text(), "cadro-registry-key 1\n# written by hand\nkey \"Config\"\nend\n");
}

TEST(KeyFileTest, EveryTruncationIsDamageNeverACrash) {
  std::string full = keyText(sampleValues());
  KeyFile original;
  KeyFileError error;
  ASSERT_TRUE(KeyFile::parse(full, original, error));
  // Cutting the file anywhere before its end line is damage; only the final line feed may go.
  size_t endLine = full.rfind("end\n");
  for (size_t n = 0; n < full.size(); ++n) {
    KeyFile k;
    bool ok = KeyFile::parse(full.substr(0, n), k, error);
    EXPECT_EQ(ok, n >= endLine + 3) << "cut at " << n;
    if (!ok) {
      EXPECT_FALSE(error.reason.empty());
    }
  }
}

TEST(KeyFileTest, DamageCatalogueNamesTheLine) {
  const std::string head = "cadro-registry-key 1\nkey \"K\"\n";
  struct Case {
    std::string text;
    uint32_t line;
  } cases[] = {
      {"", 0},
      {"cadro-registry-key 2\nkey \"K\"\nend\n", 1},
      {"garbage\n", 1},
      {"cadro-registry-key 1\n\"A\" REG_SZ \"x\"\nend\n", 2},
      {head + "\"A\" REG_STRING \"x\"\nend\n", 3},
      {head + "\"A\" REG_DWORD \"x\"\nend\n", 3},
      {head + "\"A\" REG_DWORD 0x0000001\nend\n", 3},
      {head + "\"A\" REG_SZ [\"x\"]\nend\n", 3},
      {head + "\"A\" REG_BINARY hex:0g\nend\n", 3},
      {head + "\"A\" REG_BINARY hex:01,\nend\n", 3},
      {head + "\"A\" REG_SZ \"x\\q\"\nend\n", 3},
      {head + "\"A\" REG_SZ \"\xc3\x28\"\nend\n", 3},
      {head + "\"A\" REG_SZ \"x\" trailing\nend\n", 3},
      {head + std::string("\"A\0\" REG_SZ \"x\"\nend\n", 19), 3},
      {head + "\"A REG_SZ \"x\"\nend\n", 3},
      {head + "@REG_SZ \"x\"\nend\n", 3},
      {head + "\"A\" type:123456789 hex:\nend\n", 3},
      {head + "\"A\" REG_MULTI_SZ [\"a\" \"b\"]\nend\n", 3},
      {head + "end\n\"A\" REG_SZ \"x\"\n", 4},
      {head + "\"A\" REG_SZ \"x\"\n", 0},
      {head + std::string(100000, 'x') + "\nend\n", 3},
  };
  for (const Case& c : cases) {
    KeyFile k;
    KeyFileError error;
    EXPECT_FALSE(KeyFile::parse(c.text, k, error)) << c.text.substr(0, 80);
    EXPECT_EQ(error.line, c.line) << c.text.substr(0, 80) << ": " << text::toUtf8(error.reason);
  }
  std::wstring name;
  EXPECT_TRUE(KeyFile::parseName(head + "end\n", name));
  EXPECT_EQ(name, L"K");
  EXPECT_FALSE(KeyFile::parseName("cadro-registry-key 1\nkey K\n", name));
}

TEST(RegistryNamesTest, DirectoryNamesFoldCaseAndAvoidTheStoresOwnNames) {
  EXPECT_EQ(directoryNameOf(L"SOFTWARE"), directoryNameOf(L"software"));
  EXPECT_EQ(directoryNameOf(L"\u00c4\u0416\u0100\u0139"), directoryNameOf(L"\u00e4\u0436\u0101\u013a"));
  EXPECT_EQ(directoryNameOf(L"CDR Config"), "cdr config");
  EXPECT_EQ(directoryNameOf(L".key"), "%2ekey");
  EXPECT_EQ(directoryNameOf(L"a/b%c~d"), "a%2fb%25c%7ed");
  EXPECT_EQ(directoryNameOf(L"x.y"), "x.y");
  EXPECT_TRUE(sameName(L"\u0130x", L"\u0130X"));
  EXPECT_FALSE(sameName(L"a", L"b"));

  for (const std::wstring& name : {std::wstring(L"plain"), std::wstring(L"%41\x01"), std::wstring(L".x"),
                                   std::wstring(1, wchar_t(0xD800))}) {
    auto back = keyNameOfDirectory(directoryNameOf(name));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, foldCase(name));
  }
  // Names the store does not make are no keys.
  EXPECT_FALSE(keyNameOfDirectory("Upper"));
  EXPECT_FALSE(keyNameOfDirectory(".key"));
  EXPECT_FALSE(keyNameOfDirectory("%zz"));

  // Long names stay within a file name and remain distinct.
  std::string a = directoryNameOf(std::wstring(400, L'\u00e9') + L"a");
  std::string b = directoryNameOf(std::wstring(400, L'\u00e9') + L"b");
  EXPECT_LE(a.size(), 255u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(isHashedDirectoryName(a));
  EXPECT_FALSE(keyNameOfDirectory(a));
  std::string escapes = directoryNameOf(std::wstring(300, L'%'));
  EXPECT_EQ(escapes.substr(0, 3), "%25");
  EXPECT_EQ(escapes[escapes.find('~') - 3], '%');  // the cut does not split an escape

  EXPECT_EQ(splitKeyPath(L"\\SOFTWARE\\\\Cadro\\"), (KeyPath{L"SOFTWARE", L"Cadro"}));
  EXPECT_EQ(joinKeyPath({L"a", L"b"}), L"a\\b");
}
