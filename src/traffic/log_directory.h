#pragma once
// The log directories of a run: for each directory that may hold lines to count, its log
// type and whose it is. A domain's own web directory and a subdomain's belong to that
// domain; the default web site's directory and the FTP server's directory of an address
// are shared by every domain, and their lines are attributed one by one.

#include <map>
#include <string>

class DomainInfo;

struct LogDirectory {
  int logType = 0;          // 0 HTTP, 2 FTP (each FTP line is then classified as 1 or 2)
  std::wstring path;        // as the web or FTP server reported it: the path to list
  std::wstring domainName;  // lower case; empty for a shared directory
  std::wstring hostName;    // the domain's or subdomain's full name; empty for a shared one
  DomainInfo* domain = nullptr;  // the owning domain; null for a shared directory
};

// Keyed by path (lower-cased for a domain's own web directory and an FTP directory, as
// reported for a subdomain's and the default web site's); walked in key order.
using LogDirectoryMap = std::map<std::wstring, LogDirectory>;
