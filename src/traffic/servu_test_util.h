#pragma once
// Test helpers: Serv-U records rendered as text that assertions can compare.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_codec.h"
#include "traffic/servu_file.h"

namespace servu_test {

// "cs-method s-ip c-ip cs-username sc-bytes cs-bytes cs-uri-stem date time" (UTF-8), an
// empty value shown as "~".
inline std::string render(const ServUFile::record& r) {
  std::string out;
  for (const wchar_t* name : {L"cs-method", L"s-ip", L"c-ip", L"cs-username", L"sc-bytes", L"cs-bytes", L"cs-uri-stem",
                              L"date", L"time"}) {
    if (!out.empty()) out += ' ';
    const std::wstring_view value = r.get(name);
    out += value.empty() ? std::string("~") : text::toUtf8(value);
  }
  return out;
}

inline ServUFile::iterator open(std::string_view bytes) {
  return ServUFile::iterator(std::make_unique<LogByteSource>(bytes), text::NarrowCodec("UTF-8"));
}

inline std::vector<std::string> readAll(std::string_view bytes) {
  std::vector<std::string> out;
  for (ServUFile::iterator line = open(bytes); !line.atEnd(); ++line) out.push_back(render(*line));
  return out;
}

// Two clients whose sessions interleave, a banner line, a transfer after the close.
inline const char kSample[] =
    "[1] Mon 13Nov06 09:59:59 - FTP server ready\r\n"
    "[2] Mon 13Nov06 10:00:00 - (000012) Connected to 192.0.2.7 (Local address 10.0.0.1, port 21)\r\n"
    "[2] Mon 13Nov06 10:00:00 - (000013) Connected to 198.51.100.9 (Local address 10.0.0.2, port 21)\r\n"
    "[5] Mon 13Nov06 10:00:01 - (000012) User Alpha_FTP logged in\r\n"
    "[5] Mon 13Nov06 10:00:02 - (000013) USER anonymous LOGGED in\r\n"
    "[2] Mon 13Nov06 10:00:09 - (000012) Sent file /home/a.zip successfully (512 kB/sec - 4096 Bytes)\r\n"
    "[2] Mon 13Nov06 10:00:10 - (000013) Received file /in/b.iso successfully (9 kB/sec - 5368709120 Bytes)\r\n"
    "[6] Mon 13Nov06 10:00:11 - (000012) Closing connection for user ALPHA_FTP (00:00:10 connected)\r\n"
    "[2] Mon 13Nov06 10:00:12 - (000012) Sent file /late.zip successfully (1 kB/sec - 10 Bytes)\r\n"
    "[6] Mon 13Nov06 10:00:13 - (000013) 221 Goodbye\r\n";

}  // namespace servu_test
