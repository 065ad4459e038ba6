// The metabase file is written by hand or by other tools: any bytes parse or fail with the
// program's own exception, and every site that parses is found again by its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/report/vexception.h"
#include "traffic/iis_metabase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IIsMetabase metabase;
  try {
    metabase = IIsMetabase::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const vexception&) {
    return 0;
  }
  for (const IIsSite& site : metabase.sites()) {
    const IIsSite* found = metabase.child(site.name);
    if (!found || found->name != site.name) std::abort();
    if (site.root && site.root->defaultDoc && site.root->defaultDoc->find(L'\0') != std::wstring::npos) std::abort();
  }
  return 0;
}
