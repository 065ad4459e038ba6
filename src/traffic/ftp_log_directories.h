#pragma once
// The FTP server's log directory of each server address, as the control panel's utility
// "viduza" tells it ("--get-log-directory --ip-address=" and the dotted address; the
// answer is its standard output, empty when the address has none). Each address is asked
// once per run: the answers, empty ones too, are kept for the object's life.

#include <cstdint>
#include <map>
#include <string>

class ExecSettings;

class FtpLogDirectories {
 public:
  // `settings` (the product root the utility lives under) must outlive the object.
  explicit FtpLogDirectories(ExecSettings& settings);

  // The log directory of the address (most significant byte first), without the line
  // breaks that end the utility's output. A failed run raises vexception
  // "getLogDirectory for ip = <address>" (operation "getLogDirectory") with the cause in
  // its context; nothing is kept for the address then.
  const std::wstring& getLogDirectory(uint32_t address);

 private:
  ExecSettings& settings_;
  std::map<std::wstring, std::wstring> directories_;
};

// The dotted text of an address, most significant byte first.
std::wstring dottedAddress(uint32_t address);
