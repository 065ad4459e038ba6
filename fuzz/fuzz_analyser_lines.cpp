// Drives the four analyser line formats over hostile log lines: the first line of the input
// names the fields, every further line is one record of values (invalid UTF-8, NUL and
// odd dates included). Every line either fails with the program's exception or adds
// exactly one line to its temporary log.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/report/log_manager.h"
#include "traffic/w3c_field_names.h"
#include "traffic/w3c_record.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

size_t lineFeeds(statistics::LogForAnalyser& w, int type) {
  if (!w.hasLogData(type)) return 0;
  size_t n = 0;
  FILE* f = std::fopen(text::toUtf8(w.getLogFile(type).path()).c_str(), "rb");
  check(f != nullptr);
  for (int c; (c = std::fgetc(f)) != EOF;) n += c == '\n';
  std::fclose(f);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char dir[] = "/tmp/fuzz-analyser-XXXXXX";
  check(::mkdtemp(dir) != nullptr);
  ::setenv("TMPDIR", dir, 1);
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  LogManager::instance().setBackend(makeConsoleOnlyLogBackend());
  for (int level = 0; level < 6; ++level) LogManager::instance().setSwitch(level, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t firstEnd = input.find('\n');
  const std::wstring header = text::fromUtf8(input.substr(0, firstEnd));
  auto names = W3CFieldNames::fromDirective(header);
  const text::NarrowDecoder decoder(text::NarrowCodec("UTF-8"));
  statistics::LogForWebalizer webalizer(L"a.test", L"a.test", L"");
  statistics::LogForAWStats awstats(L"a.test", L"www.a.test", L"");
  statistics::LogForAnalyser* writers[] = {&webalizer, &awstats};
  size_t expected[2][3] = {};
  W3CRecord record;
  size_t at = firstEnd == std::string_view::npos ? input.size() : firstEnd + 1;
  int n = 0;
  while (at < input.size()) {
    size_t end = input.find('\n', at);
    if (end == std::string_view::npos) end = input.size();
    record.parseLine(input.substr(at, end - at), names, decoder);
    at = end + 1;
    const int type = n++ % 3;
    for (size_t w = 0; w < 2; ++w) {
      try {
        writers[w]->checkLogFile(type);
        if (type == 0)
          writers[w]->processHTTPLogLine(VDateTime(2024, 1, 5, 10, 0, 0), 0, record);
        else
          writers[w]->processFTPLogLine(VDateTime(2024, 1, 5, 10, 0, 0), type, record, n % 2 == 0);
        ++expected[w][type];
      } catch (const vexception&) {
      }
    }
  }
  for (size_t w = 0; w < 2; ++w)
    for (int type = 0; type < 3; ++type) check(lineFeeds(*writers[w], type) == expected[w][type]);
  return 0;
}
