#include "platform/report/com_error.h"

#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

std::wstring _com_error::ErrorMessage() const {
  if (!messageText_.empty()) return messageText_;
  uint32_t code = static_cast<uint32_t>(hr_);
  if (code >= 0x80040200u && code <= 0x8004FFFFu)
    return vformat(L"IDispatch error #%d", static_cast<int32_t>(code - 0x80040200u));
  return vformat(L"Unknown error 0x%0lX", code);
}

vexception comErrorException(const _com_error& error, const std::wstring& contextText,
                             const std::string& operation, int line) {
  std::wstring message = error.ErrorMessage();
  message += vformat(L" (COM Error %08X", static_cast<uint32_t>(error.Error()));
  if (!error.Description().empty()) {
    message += L", Description: ";
    message += error.Description();
  }
  message += L") at ";
  message += contextText;
  return vexception(std::move(message), ContextRecord{L"", operation, line});
}
