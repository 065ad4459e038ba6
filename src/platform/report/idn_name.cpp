#include "platform/report/idn_name.h"

#include <idna.h>

#include <cstdlib>
#include <memory>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace idn {

std::wstring toUnicode(const std::wstring& name) {
  // The converter takes a C string: a NUL would silently cut the name short.
  if (name.find(L'\0') != std::wstring::npos) return name;
  const std::string utf8 = text::toUtf8(name);
  char* converted = nullptr;
  const int rc = idna_to_unicode_8z8z(utf8.c_str(), &converted, 0);
  std::unique_ptr<char, decltype(&std::free)> owned(converted, &std::free);
  if (rc == IDNA_MALLOC_ERROR)
    throw vexception(L"Memory allocation failed at convert: (" + name + L").", VCTX(L"", "idn::toUnicode"));
  if (!owned)
    throw vexception(L"Unable to convert to UTF8 from (" + name + L").", VCTX(L"", "idn::toUnicode"));
  return text::fromUtf8(owned.get());
}

}  // namespace idn
