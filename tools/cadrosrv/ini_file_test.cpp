#include "cadrosrv/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/report/vexception.h"
#include "testing/temp_dir.h"

using cadrosrv::IniFile;

TEST(IniFile, ReadsEntriesByTheFormatsRules) {
  IniFile f = IniFile::parse(
      "\xEF\xBB\xBF"
      "top = outside any section\n"
      "[settings]\n"
      "; a comment = not an entry\n"
      "  # another = neither\n"
      "PRODUCT_ROOT_D =  C:/Program Files/Cadro  \n"
      "URL=http://host/?a=b;c#d\n"
      "empty =\n"
      "product_root_d = lower case is another name\n"
      "PRODUCT_ROOT_D = second occurrence\n"
      "no equals sign here\n"
      " = nameless\n"
      "[ passwords ]\r\n"
      "pwd\t=\tsecret\r\n"
      "[Settings]\n"
      "URL = another section\n");
  EXPECT_EQ(f.get("settings", "PRODUCT_ROOT_D"), "C:/Program Files/Cadro");
  EXPECT_EQ(f.get("settings", "URL"), "http://host/?a=b;c#d");
  EXPECT_EQ(f.get("settings", "empty"), "");
  EXPECT_EQ(f.get("settings", "product_root_d"), "lower case is another name");
  EXPECT_EQ(f.get("passwords", "pwd"), "secret") << "CR of a CRLF line is not part of the value";
  EXPECT_EQ(f.get("Settings", "URL"), "another section");
  EXPECT_FALSE(f.get("settings", "a comment"));
  EXPECT_FALSE(f.get("settings", "# another"));
  EXPECT_FALSE(f.get("settings", "top"));
  EXPECT_FALSE(f.get("", "top"));
  EXPECT_FALSE(f.get("settings", ""));
}

TEST(IniFile, SetChangesOneValueAndKeepsEveryOtherByte) {
  const std::string original =
      "# service configuration\n"
      "[settings]\n"
      "A = 1 ; not a comment\n"
      "\n"
      "[passwords]\n"
      "; the database\n"
      "pwd   =   old\n"
      "bare =\n"
      "\n"
      "; about components\n"
      "[components]\n"
      "perl = /opt/perl";
  IniFile f = IniFile::parse(original);
  EXPECT_EQ(f.text(), original);

  f.set("passwords", "pwd", "n3w=;#value");
  f.set("passwords", "bare", "x");
  f.set("passwords", "added", "y");
  f.set("components", "php", "/opt/php");
  f.set("fresh", "k", "v");
  EXPECT_EQ(f.text(),
            "# service configuration\n"
            "[settings]\n"
            "A = 1 ; not a comment\n"
            "\n"
            "[passwords]\n"
            "; the database\n"
            "pwd   =   n3w=;#value\n"
            "bare = x\n"
            "added = y\n"
            "\n"
            "; about components\n"
            "[components]\n"
            "perl = /opt/perl\n"
            "php = /opt/php\n"
            "\n"
            "[fresh]\n"
            "k = v\n");
  IniFile again = IniFile::parse(f.text());
  EXPECT_EQ(again.get("passwords", "pwd"), "n3w=;#value");
  EXPECT_EQ(again.get("settings", "A"), "1 ; not a comment");
}

TEST(IniFile, SetKeepsCrLfAndWorksOnAnEmptyFile) {
  IniFile crlf = IniFile::parse("[passwords]\r\npwd = a\r\n");
  crlf.set("passwords", "other", "b");
  EXPECT_EQ(crlf.text(), "[passwords]\r\npwd = a\r\nother = b\r\n");

  // Emptying a value and setting the same value again change nothing more.
  IniFile emptied = IniFile::parse("[passwords]\npwd =w");
  emptied.set("passwords", "pwd", "");
  emptied.set("passwords", "pwd", "");
  EXPECT_EQ(emptied.text(), "[passwords]\npwd =");

  IniFile empty = IniFile::parse("");
  empty.set("passwords", "pwd", "p");
  EXPECT_EQ(empty.text(), "[passwords]\npwd = p\n");
}

TEST(IniFile, RefusesWhatTheFormatCannotHold) {
  IniFile f = IniFile::parse("[passwords]\npwd = a\n");
  // A line break in a stored password would let a client write entries of its choosing.
  const std::pair<std::string, std::string> refused[] = {
      {"pwd", "a\n[settings]\nPRODUCT_ROOT_D = /evil"},
      {"pwd", "a\rb"},
      {"pwd", std::string("a\0b", 3)},
      {"pwd", " padded"},
      {"pwd", "padded\t"},
      {"", "v"},
      {"a=b", "v"},
      {" pwd", "v"},
      {"[x", "v"},
      {";x", "v"},
      {"x\ny", "v"},
  };
  for (const auto& [name, value] : refused) EXPECT_THROW(f.set("passwords", name, value), ArgumentException) << name;
  EXPECT_EQ(f.text(), "[passwords]\npwd = a\n");
}

TEST(IniFile, HostileBytesAreKeptAndDoNotBreakParsing) {
  std::string hostile = "[settings]\nbin = \xFF\xFE\x80 ok\n";
  hostile += "nul = a";
  hostile.push_back('\0');
  hostile += "b\n";
  hostile += "long = " + std::string(1 << 20, 'x') + "\n";
  hostile += "[unterminated\nq = 'quoted' \"and\" \\back\\slash\n";
  IniFile f = IniFile::parse(hostile);
  EXPECT_EQ(f.get("settings", "bin"), "\xFF\xFE\x80 ok");
  EXPECT_EQ(f.get("settings", "nul"), std::string("a\0b", 3));
  EXPECT_EQ(f.get("settings", "long")->size(), 1u << 20);
  EXPECT_EQ(f.get("settings", "q"), "'quoted' \"and\" \\back\\slash") << "an unterminated header is not a section";
  f.set("passwords", "pwd", "p");
  EXPECT_EQ(f.text().substr(0, hostile.size()), hostile);
}

TEST(IniFileStorage, SaveReplacesAtomicallyKeepingModeAndLinks) {
  testing_support::TempDir dir;
  const std::string path = dir.file("cadrosrv.ini");
  testing_support::writeFile(path, "[passwords]\npwd = a\n");
  ::chmod(path.c_str(), 0640);
  IniFile f = cadrosrv::loadIniFile(path);
  f.set("passwords", "pwd", "b");
  cadrosrv::saveIniFile(path, f);
  EXPECT_EQ(testing_support::readFile(path), "[passwords]\npwd = b\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Saving through a link updates the file it points to and keeps the link.
  const std::string link = dir.file("link.ini");
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  f.set("passwords", "pwd", "c");
  cadrosrv::saveIniFile(link, f);
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(testing_support::readFile(path), "[passwords]\npwd = c\n");

  // A new file holds passwords: owner only. No temporary file is left behind.
  const std::string fresh = dir.file("new.ini");
  cadrosrv::saveIniFile(fresh, f);
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  auto files = std::filesystem::directory_iterator(dir.path());
  EXPECT_EQ(std::distance(files, std::filesystem::directory_iterator()), 3);
}

TEST(IniFileStorage, LoadAndSaveFailuresAreOsErrors) {
  testing_support::TempDir dir;
  EXPECT_THROW(cadrosrv::loadIniFile(dir.file("missing.ini")), VFileNotFoundException);
  EXPECT_THROW(cadrosrv::saveIniFile(dir.file("no/such/dir/x.ini"), IniFile::parse("")), vosexception);
}
