#include "app/task_set.h"

#include "platform/report/console.h"

namespace tasks {

const OptionList& acceptedOptions() {
  static const OptionList list = {
      L"-h",
      L"--help",
      L"--disk-usage",
      L"--http-traffic",
      L"--ftp-traffic",
      L"--mail-traffic",
      L"--notify",
      L"--update-actions",
      L"--all",
      L"--http-web-statistics",
      L"--ftp-web-statistics",
      L"--mailbox-usage",
      L"--antivirus",
      L"--process-domains",
      L"--process-domain-mask",
      L"--skip-domains",
      L"--skip-domain-mask",
      L"--single-notify",
      L"--from-date",
      L"--verbose",
  };
  return list;
}

const std::wstring& helpText() {
  static const std::wstring text =
      L"* Main options: \n"
      L"  --disk-usage \n"
      L"      Calculates disk usage \n"
      L"  --mailbox-usage \n"
      L"      Calculates mailbox usage \n"
      L"  --http-traffic \n"
      L"      Calculates HTTP traffic \n"
      L"  --http-web-statistics \n"
      L"      Updates HTTP traffic web statistics (for internal use only) \n"
      L"  --ftp-traffic \n"
      L"      Calculates FTP traffic \n"
      L"  --ftp-web-statistics \n"
      L"      Updates FTP traffic web statistics (for internal use only) \n"
      L"  --mail-traffic \n"
      L"      Calculates mail traffic. You cannot specify domains for this option. \n"
      L"  --notify \n"
      L"      Updates client traffic statistics and sends expiration notification. \n"
      L"  --update-actions \n"
      L"      Rotates action log and launches event actions. \n"
      L"  --all \n"
      L"      Launches all commands above except those that are for internal use only \n"
      L"  --antivirus \n"
      L"      Calculates spam and antivirus statistics \n"
      L"It is possible to use these options together. When no options are specified, \n"
      L"the utility will run as if --all option was specified. \n"
      L"* Additional options \n"
      L"  --process-domains \n"
      L"      Processes only specified domains \n"
      L"  --process-domain-mask \n"
      L"      Processes only the domains that correspond to the specified mask. \n"
      L"      Note: the mask uses SQL 'LIKE' clause. \n"
      L"  --skip-domains \n"
      L"      Does not process specified domains \n"
      L"  --skip-domain-mask \n"
      L"      Does not process domains that correspond to the specified mask. \n"
      L"      Note: the mask uses SQL 'LIKE' clause. \n"
      L"  --single-notify \n"
      L"      Sends only one domain expiration notification \n"
      L"  --from-date \n"
      L"      Forces calculation start time. YMDhms format is used, for example, \n"
      L"      2007/04/06 18:02:32 (for internal use only). \n"
      L"  --verbose \n"
      L"      Specifies that a utility should be run in the verbose mode in \n"
      L"      which more information is added to the statistics report.\n";
  return text;
}

uint32_t taskSet(const ParamMap& params) {
  if (params.count(L"-h") || params.count(L"--help")) {
    console::print(helpText());
    return kHelpPrinted;
  }
  struct Bit {
    const wchar_t* option;
    uint32_t bit;
  };
  static const Bit bits[] = {
      {L"--disk-usage", kDiskUsage},
      {L"--http-traffic", kHttpTraffic},
      {L"--ftp-traffic", kFtpTraffic},
      {L"--mail-traffic", kMailTraffic},
      {L"--notify", kNotify},
      {L"--update-actions", kUpdateActions},
      {L"--http-web-statistics", kHttpWebStatistics},
      {L"--ftp-web-statistics", kFtpWebStatistics},
      {L"--mailbox-usage", kMailboxUsage},
      {L"--antivirus", kAntivirus},
  };
  uint32_t set = 0;
  for (const Bit& b : bits)
    if (params.count(b.option)) set |= b.bit;
  if (set == 0 || params.count(L"--all")) set = kAll;
  return set;
}

}  // namespace tasks
