#include "platform/exec/script_resolver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/fake_exec_settings.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::FakeExecSettings;
using testing_support::TempDir;
using testing_support::writeFile;

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

class ScriptResolver : public ::testing::Test {
 protected:
  ScriptResolver() {
    // Interpreter installations laid out as the components are.
    for (const char* rel : {"perl/bin/perl", "python/python3", "php/php", "root/admin/bin/php"}) {
      writeFile(dir.file(rel), "#!/bin/sh\n");
      chmod(dir.file(rel).c_str(), 0755);
    }
    settings.root = w(dir.file("root"));
    settings.components = {{L"perl", w(dir.file("perl"))}, {L"python", w(dir.file("python"))},
                           {L"php", w(dir.file("php"))}};
  }

  std::wstring script(const std::string& name, const std::string& content) {
    writeFile(dir.file("s/" + name), content);
    return w(dir.file("s/" + name));
  }
  std::wstring commandFor(const std::wstring& file, ScriptStartOptions options = {}) {
    return scriptCommandLine(file, L"a \"b c\"", options, settings);
  }
  std::wstring interpreted(const std::string& interpreter, const std::wstring& file) {
    return L"'" + w(dir.file(interpreter)) + L"' '" + file + L"' 'a' 'b c'";
  }
  std::wstring failureFor(const std::wstring& file, ScriptStartOptions options = {}) {
    try {
      commandFor(file, options);
    } catch (const vexception& e) {
      return e.message();
    }
    return L"(no failure)";
  }

  TempDir dir;
  FakeExecSettings settings;
};

}  // namespace

TEST_F(ScriptResolver, InterpreterByExtension) {
  for (const char* name : {"x.pl", "x.PM"}) EXPECT_EQ(commandFor(script(name, "print 1;\n")), interpreted("perl/bin/perl", script(name, "")));
  for (const char* name : {"x.py", "x.pyc"}) EXPECT_EQ(commandFor(script(name, "")), interpreted("python/python3", script(name, "")));
  for (const char* name : {"x.php", "x.Php3"}) EXPECT_EQ(commandFor(script(name, "")), interpreted("php/php", script(name, "")));
  for (const char* name : {"x.sh", "x.bat", "x.CMD"}) {
    std::wstring file = script(name, "echo hi\n");
    EXPECT_EQ(commandFor(file), L"'" + file + L"' 'a' 'b c'");
  }
  // Batch files lose every escaped quote with its backslash; a shell script keeps them.
  const std::wstring quoting = L"\"say \\\"hi\\\"\" c\\\\\"d";
  EXPECT_EQ(scriptCommandLine(script("q.bat", ""), quoting, {}, settings), L"'" + script("q.bat", "") + L"' 'say hi' 'c\\d'");
  EXPECT_EQ(scriptCommandLine(script("q.Cmd", ""), quoting, {}, settings), L"'" + script("q.Cmd", "") + L"' 'say hi' 'c\\d'");
  EXPECT_EQ(scriptCommandLine(script("q.sh", ""), quoting, {}, settings), L"'" + script("q.sh", "") + L"' 'say \"hi\"' 'c\\d'");
  std::wstring vbs = script("x.vbs", "WScript.Echo 1\n");
  EXPECT_EQ(failureFor(vbs), L"Unable to start (" + vbs + L"): Windows Script Host is not installed");
  std::wstring cgi = script("x.cgi", "anything\n");
  EXPECT_EQ(failureFor(cgi), L"Unable to start (" + cgi + L"): Is not a known application");
  std::wstring bare = script("noext", "anything\n");
  EXPECT_EQ(failureFor(bare), L"Unable to start (" + bare + L"): Is not a known application");
}

TEST_F(ScriptResolver, InterpreterLineWinsOverTheExtension) {
  EXPECT_EQ(commandFor(script("tool.cgi", "#!/usr/bin/perl -w\nprint 1;\n")), interpreted("perl/bin/perl", script("tool.cgi", "")));
  EXPECT_EQ(commandFor(script("tool.php", "#! /usr/bin/env python3\n")), interpreted("python/python3", script("tool.php", "")));
  EXPECT_EQ(commandFor(script("tool.pl", "#!/usr/local/bin/php-cgi/\n")), interpreted("php/php", script("tool.pl", "")));
  std::wstring bash = script("tool.pl", "#!/bin/bash/\necho\n");
  EXPECT_EQ(failureFor(bash), L"Unable to start (" + bash + L"): Is not a known application (/bin/bash)");
  // A shell script names its own interpreter and is started as it is.
  std::wstring sh = script("tool.sh", "#!/bin/sh\necho\n");
  EXPECT_EQ(commandFor(sh), L"'" + sh + L"' 'a' 'b c'");
}

TEST_F(ScriptResolver, PhpRecognisedByContent) {
  EXPECT_EQ(commandFor(script("page.txt", "\n \r\n\t <?php echo 1;\n")), interpreted("php/php", script("page.txt", "")));
  EXPECT_EQ(commandFor(script("page.php3", "<script language=\"php\">\n")), interpreted("php/php", script("page.php3", "")));
  // "<%" and "<script" open PHP only in a PHP file.
  std::wstring asp = script("page.txt", "<% x %>\n");
  EXPECT_EQ(failureFor(asp), L"Unable to start (" + asp + L"): Is not a known application");
}

TEST_F(ScriptResolver, PanelPhpAndMissingInterpreters) {
  ScriptStartOptions panel;
  panel.panelPhp = true;
  std::wstring event = script("actionlog.php", "<?php\n");
  EXPECT_EQ(commandFor(event, panel), L"'" + w(dir.file("root/admin/bin/php")) +
                                          L"' '-q' '-dauto_prepend_file=' '-c' 'php.ini' '" + event + L"' 'a' 'b c'");

  settings.components.erase(L"perl");
  std::wstring pl = script("x.pl", "");
  EXPECT_EQ(failureFor(pl), L"Unable to start (" + pl + L"): Perl is not installed");
  settings.components[L"python"] = w(dir.file("empty"));  // installed somewhere without python3
  std::wstring py = script("x.py", "");
  EXPECT_EQ(failureFor(py), L"Unable to start (" + py + L"): Python is not installed");
  settings.components.erase(L"php");
  EXPECT_EQ(failureFor(event), L"Unable to start (" + event + L"): PHP is not installed");
  settings.root = w(dir.file("elsewhere"));
  EXPECT_EQ(failureFor(event, panel), L"Unable to start (" + event + L"): PHP is not installed");
}

TEST_F(ScriptResolver, ExecutableBinariesNeedTheElfHeaderAndAnExecuteBit) {
  std::wstring binary = script("tool.dat", std::string("\x7f" "ELF\x02\x01\x01", 7));
  EXPECT_EQ(failureFor(binary), L"Unable to start (" + binary + L"): Is not a known application");
  chmod(text::toUtf8(binary).c_str(), 0755);
  EXPECT_EQ(commandFor(binary), L"'" + binary + L"' 'a' 'b c'");
  // Forced, anything is started as it is.
  ScriptStartOptions forced;
  forced.forceExecutable = true;
  std::wstring text = script("notes.txt", "plain");
  EXPECT_EQ(commandFor(text, forced), L"'" + text + L"' 'a' 'b c'");
}

TEST_F(ScriptResolver, SearchFindsTheFirstPlaceAndTriesItsCandidatesInOrder) {
  const std::vector<std::wstring> env = {L"HOME=/nowhere", L"PATH=" + w(dir.file("none")) + L":" + w(dir.file("p1")) + L":" +
                                                                  w(dir.file("p2"))};
  writeFile(dir.file("p1/job.cgi"), "x\n");
  writeFile(dir.file("p1/job.pl"), "print 1;\n");
  writeFile(dir.file("p1/job.sub/keep"), "");
  writeFile(dir.file("p2/job.py"), "");
  // job.cgi (listed first) cannot be started, job.pl can; p2 is never looked at.
  EXPECT_EQ(findScriptCandidates(L"job", env), (std::vector<std::wstring>{w(dir.file("p1/job.cgi")), w(dir.file("p1/job.pl"))}));
  EXPECT_EQ(resolveScriptCommandLine(L"job", L"", env, {}, settings),
            L"'" + w(dir.file("perl/bin/perl")) + L"' '" + w(dir.file("p1/job.pl")) + L"'");

  // The exact name comes before the listing.
  writeFile(dir.file("p1/job"), "#!/usr/bin/python\n");
  EXPECT_EQ(findScriptCandidates(L"job", env), std::vector<std::wstring>{w(dir.file("p1/job"))});

  // Every candidate failing: their messages, one per line.
  writeFile(dir.file("p2/run.cgi"), "");
  writeFile(dir.file("p2/run.vbs"), "");
  try {
    resolveScriptCommandLine(L"run", L"", env, {}, settings);
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Unable to start (" + w(dir.file("p2/run.cgi")) + L"): Is not a known application\n" +
                               L"Unable to start (" + w(dir.file("p2/run.vbs")) + L"): Windows Script Host is not installed");
  }

  try {
    findScriptCandidates(L"no-such-tool", env);
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(),
              L"'no-such-tool' is not recognized as an internal or external command, operable program or batch file.");
  }
  // An absolute name is only taken as given.
  EXPECT_THROW(findScriptCandidates(w(dir.file("p9/job")), env), vexception);
}
