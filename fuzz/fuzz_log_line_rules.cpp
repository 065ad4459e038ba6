// The rules every log line passes before it is counted, over W3C lines of any content: the
// line time and its date check, the site-preview filter, the FTP method rule, and the host
// name an HTTP line names, which must lie inside the text it came from and hold no
// separator, port or scheme.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "traffic/log_line_rules.h"
#include "traffic/w3c_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

namespace {

bool inside(std::wstring_view part, std::wstring_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string log = "#Fields: date time cs-uri-stem cs-method cs-host cs(Referer) cs-uri-query\n" + std::string(bytes);
  for (W3CFile::iterator block = W3CFile::iterator::fromBytes(log); !block.atEnd(); ++block) {
    for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) {
      const VDateTime t = w3cLineTime(line->get(L"date"), line->get(L"time"));
      if (checkLineDate(t) && (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31)) std::abort();
      isSitePreview(line->get(L"cs-uri-stem"));
      const FtpMethod method = ftpMethodRule(line->get(L"cs-method"));
      if (method.download && !method.passes) std::abort();
      const std::wstring_view text = httpHostText(line->get(L"cs-host"), line->get(L"cs(Referer)"), line->get(L"cs-uri-query"));
      if (namesNoHost(text)) continue;
      for (bool directoryHasDomain : {false, true}) {
        const std::wstring_view host = hostNameOf(text, directoryHasDomain);
        if (!inside(host, text) || host.find_first_of(L"/\\:") != std::wstring_view::npos) std::abort();
        if (!inside(withoutWww(host), host)) std::abort();
      }
    }
  }
  return 0;
}
