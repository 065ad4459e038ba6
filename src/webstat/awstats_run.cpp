// The AWStats run of a host's writer: its configuration, the private copy of the AWStats
// web files in the statistics directory, the update and the report pages.
#include <array>
#include <atomic>

#include "platform/exec/command_arguments.h"
#include "platform/exec/exec_util.h"
#include "platform/files/file_support.h"
#include "platform/files/vdirectory.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/report/console.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"
#include "webstat/analyser_run_settings.h"
#include "webstat/awstats_configuration.h"
#include "webstat/log_for_awstats.h"
#include "webstat/owner_directory.h"

namespace {

constexpr wchar_t kMarker[] = L"CopyAWStats.lock";
constexpr wchar_t kCopy[] = L"AWStats";

// The output option of each report page and the middle of its file name (empty: the main
// page), in the order they are made.
constexpr std::array<std::pair<const wchar_t*, const wchar_t*>, 21> kReports = {{
    {L"-output", L""},
    {L"-output=alldomains", L"alldomains"},
    {L"-output=allhosts", L"allhosts"},
    {L"-output=lasthosts", L"lasthosts"},
    {L"-output=unknownip", L"unknownip"},
    {L"-output=alllogins", L"alllogins"},
    {L"-output=lastlogins", L"lastlogins"},
    {L"-output=allrobots", L"allrobots"},
    {L"-output=lastrobots", L"lastrobots"},
    {L"-output=urldetail", L"urldetail"},
    {L"-output=urlentry", L"urlentry"},
    {L"-output=urlexit", L"urlexit"},
    {L"-output=browserdetail", L"browserdetail"},
    {L"-output=osdetail", L"osdetail"},
    {L"-output=unknownbrowsers", L"unknownbrowsers"},
    {L"-output=unknownos", L"unknownos"},
    {L"-output=refererse", L"refererse"},
    {L"-output=refererpages", L"refererpages"},
    {L"-output=keyphrases", L"keyphrases"},
    {L"-output=keywords", L"keywords"},
    {L"-output=errors404", L"errors404"},
}};

// Reported once per process, however many hosts use AWStats.
std::atomic<bool> notInstalledReported{false};

std::wstring currentFailureMessage() {
  std::wstring text;
  guard::withCurrentFailure(
      ContextRecord{}, [](vexception& e, bool, void* out) { *static_cast<std::wstring*>(out) = e.message(); }, &text);
  return text;
}

// The installation's files: A, its web root W and the script S.
struct Installation {
  std::wstring root;
  std::wstring web;
  std::wstring cgi;
  std::wstring script;

  explicit Installation(const std::wstring& a)
      : root(a), web(a + L"/wwwroot"), cgi(web + L"/cgi-bin"), script(cgi + L"/awstats.pl") {}
};

bool isConfigurationFile(std::wstring_view name) {
  return name.size() >= 5 && text::equalsNoCase(name.substr(name.size() - 5), L".conf");
}

// The run's steps over one host, kept together so that each sees the names it needs.
class AWStatsRun {
 public:
  AWStatsRun(statistics::LogForAWStats& writer, AnalyserRunSettings& settings, int logType)
      : w_(writer), s_(settings), type_(logType), a_(settings.awstatsRoot()) {}

  void run();

 private:
  std::vector<awstats::ConfigSetting> settingsFor(const std::wstring& statisticsPath);
  void configure(awstats::ConfigLines& lines, const std::wstring& statisticsPath);
  void writeConfig(const std::wstring& path, const awstats::ConfigLines& lines);
  OwnerDirectory checkAWStats(const OwnerDirectory& t);
  void copyAWStats(const OwnerDirectory& t);
  std::wstring createAwStatsFile(const std::wstring& perl, const std::wstring& outputOption);
  void writeAWStatsHtml(const OwnerDirectory& t, const std::wstring& name, const std::wstring& temporary);
  void updateAndReport(const OwnerDirectory& t, const std::wstring& perl);

  const std::wstring& host() const { return w_.hostName(); }
  const std::wstring& domain() const { return w_.domainName(); }
  ContextRecord context(const wchar_t* format, const std::wstring& value, const char* operation) const {
    return ContextRecord{vformat(format, value), operation, __LINE__};
  }

  statistics::LogForAWStats& w_;
  AnalyserRunSettings& s_;
  int type_;
  Installation a_;
  std::wstring configName_;
};

void AWStatsRun::run() {
  vreport(0, L"Execute AWStats for domain %s", domain());
  if (!VDirectory::exists(a_.cgi)) {
    if (!notInstalledReported.exchange(true))
      vreport(3,
              L"AWStats is not installed. You should download it from https://awstats.sourceforge.io/#DOWNLOAD and "
              L"extract to the %cadro_dir%\\Additional\\AWStats folder, where %cadro_dir% is the folder where Cadro "
              L"is installed.");
    return;
  }
  // The host names file names: the configuration, the report pages.
  if (!isPlainFileName(host()) || !isPlainFileName(domain()))
    throw ArgumentException(L"Not a host name that can name files: '" + host() + L"'",
                            VCTX(L"", "statistics::LogForAWStats::run"));
  const std::wstring perlDirectory = s_.perlDirectory();
  if (perlDirectory.empty())
    throw vexception(L"Unable to run AWStats: Perl is not installed", VCTX(L"", "statistics::LogForAWStats::run"));
  const std::wstring perl = VFileName::combine(perlDirectory, L"bin/perl");

  configName_ = L"awstats." + host() + L".conf";
  const std::wstring installed = VFileName::combine(a_.cgi, configName_);
  const std::wstring model = VFileName::combine(a_.cgi, L"awstats.model.conf");
  awstats::ConfigLines lines = guard::pass(context(L"%s: read awstats.model.conf", host(), "statistics::LogForAWStats::sourceLines"),
                                           [&] { return awstats::readConfigLines(VFile::exists(installed) ? installed : model); });
  w_.getLogFile(type_).flush();

  const OwnerDirectory t = OwnerDirectory::open(
      s_.vhostsRoot(), {domain(), L"statistics", statistics::LogForAnalyser::statisticsDirectoryName(type_)}, 1);
  configure(lines, t.path());
  writeConfig(installed, lines);

  const OwnerDirectory copyCgi = checkAWStats(t);
  guard::pass(context(L"%s: configure AWStats.conf", domain(), "statistics::LogForAWStats::configure_CustomDate"),
              [&] { awstats::setKeys(lines, {{"DirIcons", awstats::quoted("../icon")}}); });
  guard::pass(context(L"%s: write AWStats.conf", domain(), "statistics::LogForAWStats::writeConfig"),
              [&] { copyCgi.writeFile(configName_, awstats::joinConfigLines(lines)); });

  try {
    updateAndReport(t, perl);
  } catch (...) {
    try {
      removeFile(installed, false);
    } catch (const vexception& e) {
      vreport(0, L"Delete file %s: %s", installed, e.message());
    }
    throw;
  }
  vreport(0, L"AWStats finished");
}

std::vector<awstats::ConfigSetting> AWStatsRun::settingsFor(const std::wstring& statisticsPath) {
  using awstats::quoted;
  const bool domainHost = host() == domain();
  std::vector<std::wstring> refused;
  const std::wstring aliases = awstats::hostAliasesText(host(), domainHost ? s_.domainAliases(domain()) : std::vector<std::wstring>{},
                                                        s_.hasWwwRecord(host()), &refused);
  for (const std::wstring& name : refused)
    vreport(1, L"The name '%s' is left out of the AWStats host aliases of %s", name, host());
  const std::wstring fragment = domainHost ? awstats::subdomainFragment(domain(), s_.subdomainNames(domain())) : L"";
  std::string fields;
  for (std::wstring_view f : statistics::LogForAWStats::kFieldList) {
    if (!fields.empty()) fields += ' ';
    fields += text::toAnsi(f);
  }
  return {
      {"LogType", type_ == 0 ? "W" : "F"},
      {"LogFormat", quoted(fields)},
      {"SiteDomain", quoted(text::toAnsi(host()))},
      {"HostAliases", quoted(text::toAnsi(aliases))},
      {"DNSLookup", "1"},
      {"DirData", quoted(text::toAnsi(statisticsPath))},
      {"DirCgi", quoted("AWStats/cgi-bin")},
      {"DirIcons", quoted("AWStats/icon")},
      {"SaveDatabaseFilesWithPermissionsForEveryone", "0"},
      {"DefaultFile", quoted(text::toAnsi(w_.defaultDocument()))},
      {"LogFile", quoted(text::toAnsi(w_.getLogFile(type_).path()))},
      {"HTMLEndSection", quoted(text::toAnsi(fragment))},
  };
}

void AWStatsRun::configure(awstats::ConfigLines& lines, const std::wstring& statisticsPath) {
  guard::pass(context(L"%s: configure AWStats.conf", domain(), "statistics::LogForAWStats::configure"), [&] {
    const std::vector<awstats::ConfigSetting> settings = settingsFor(statisticsPath);
    awstats::checkSingleLine(settings, host());
    awstats::setKeys(lines, settings);
  });
}

void AWStatsRun::writeConfig(const std::wstring& path, const awstats::ConfigLines& lines) {
  guard::pass(context(L"%s: write AWStats.conf", domain(), "statistics::LogForAWStats::writeConfig"), [&] {
    VFile file(path, VFile::Mode::CreateAlways);
    file.write(awstats::joinConfigLines(lines));
    file.close();
  });
}

OwnerDirectory AWStatsRun::checkAWStats(const OwnerDirectory& t) {
  return guard::pass(context(L"%s: check AWStats", domain(), "statistics::LogForAWStats::checkAWStats"), [&] {
    bool current = false;
    if (t.isDirectory(kCopy)) {
      const OwnerDirectory copy = t.child(kCopy, false);
      if (copy.isDirectory(L"cgi-bin")) {
        const auto script = copy.child(L"cgi-bin", false).status(L"awstats.pl");
        current = script && S_ISREG(script->st_mode) &&
                  !(filesupport::timeOf(script->st_mtim) < VFile::lastWriteTime(a_.script));
      }
    }
    current = current && !t.status(kMarker);
    if (!current) {
      t.touch(kMarker);
      if (t.status(kCopy)) {
        if (t.isDirectory(kCopy) && t.child(kCopy, false).isSymlink(L"cgi-bin"))
          guard::pass(VCTX(L"Unable to delete reparse point", "statistics::LogForAWStats::checkAWStats"),
                      [&] { t.child(kCopy, false).removeFile(L"cgi-bin"); });
        t.removeTree(kCopy);
      }
      copyAWStats(t);
      t.removeFile(kMarker);
    }
    return t.child(kCopy, false).child(L"cgi-bin", false);
  });
}

void AWStatsRun::copyAWStats(const OwnerDirectory& t) {
  const ContextRecord record = context(L"%s: copy AWStats", domain(), "statistics::LogForAWStats::copyAWStats");
  try {
    const OwnerDirectory copy = t.child(kCopy, true);
    for (const wchar_t* name : {L"classes", L"css", L"icon", L"js"})
      copy.copyDirectoryFrom(VFileName::combine(a_.web, name), name, true);
    // Other hosts' configurations stay in the installation: the copy is the domain owner's
    // to read.
    copy.copyDirectoryFrom(a_.cgi, L"cgi-bin", false, isConfigurationFile);
    const OwnerDirectory cgi = copy.child(L"cgi-bin", false);
    for (const std::wstring& name : {std::wstring(L"awredir.pl"), std::wstring(L"awstats.pl"), configName_})
      cgi.copyFileFrom(VFileName::combine(a_.cgi, name), name);
  } catch (...) {
    std::wstring message = L"Unable to copy AWStats:" + currentFailureMessage();
    try {
      if (t.status(kCopy)) t.removeTree(kCopy);
    } catch (...) {
      message = L"Rollback failed: \n" + (L"Unable to remove AWStats:" + currentFailureMessage()) + L"\n for: \n" + message;
    }
    vexception failure(message, VCTX(L"", "statistics::LogForAWStats::copyAWStats"));
    failure.addContext(record);
    throw failure;
  }
}

std::wstring AWStatsRun::createAwStatsFile(const std::wstring& perl, const std::wstring& outputOption) {
  CommandArguments args;
  args.add(a_.script).addOption(L"-config=", host()).addFixed(outputOption);
  return guard::pass(context(L"%s: cant create HTML file", args.text(), "statistics::LogForAWStats::createAwStatsFile"), [&] {
    const std::wstring temporary =
        VFile::createTemporary(VFileName::fromNative(process::tempDirectory()), L"tmp");
    s_.deleteAtEndOfRun(temporary);
    args.redirectOutputTo(temporary);
    const std::wstring printed = execExtUtil(perl, args.text(), ExecErrorPolicy::ReturnEmpty);
    if (!printed.empty()) vreport(0, L"%s", printed);
    return temporary;
  });
}

void AWStatsRun::writeAWStatsHtml(const OwnerDirectory& t, const std::wstring& name, const std::wstring& temporary) {
  guard::pass(context(L"%s: cant move HTML file", name, "statistics::LogForAWStats::writeAWStatsHtml"),
              [&] { t.writeFile(name, VFile::readAll(temporary)); });
}

void AWStatsRun::updateAndReport(const OwnerDirectory& t, const std::wstring& perl) {
  CommandArguments update;
  update.add(a_.script).addFixed(L"-showsteps -showcorrupted -showdropped").addOption(L"-config=", host()).addFixed(L"-update");
  const std::wstring output = execExtUtil(perl, update.text(), ExecErrorPolicy::ReturnEmpty);
  if (s_.verbose()) console::print(output + L"\n");
  for (const auto& [option, page] : kReports) {
    const std::wstring name = *page == L'\0' ? (host() == domain() ? L"index.html" : host() + L".html")
                                             : L"awstats." + host() + L"." + page + L".html";
    writeAWStatsHtml(t, name, createAwStatsFile(perl, option));
  }
}

}  // namespace

void statistics::LogForAWStats::run(int logType) { AWStatsRun(*this, runSettings(), logType).run(); }
