#include "db/ado/engine_error.h"

#include <utility>

#include "platform/text/text_codec.h"

namespace ado {

EngineError::EngineError(std::wstring description, HRESULT code)
    : EngineError(std::vector<std::wstring>{std::move(description)}, code) {}

EngineError::EngineError(std::vector<std::wstring> descriptions, HRESULT code)
    : descriptions_(std::move(descriptions)), code_(code), what_(text::toUtf8(joinDescriptions(descriptions_))) {}

std::wstring EngineError::text() const { return joinDescriptions(descriptions_); }

std::wstring joinDescriptions(const std::vector<std::wstring>& descriptions) {
  std::wstring joined;
  for (size_t i = 0; i < descriptions.size(); ++i) {
    if (i != 0) joined += L' ';
    joined += descriptions[i];
  }
  return joined;
}

}  // namespace ado
