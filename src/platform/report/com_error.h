#pragma once
// The error type of the ADO layer: an HRESULT with an optional error-info description.
// There is no COM here; the database layer raises it with its engine's text.

#include <cstdint>
#include <string>

using HRESULT = int32_t;

class _com_error {
 public:
  explicit _com_error(HRESULT hr, std::wstring description = {}, std::wstring messageText = {})
      : hr_(hr), description_(std::move(description)), messageText_(std::move(messageText)) {}

  HRESULT Error() const { return hr_; }
  // The error's own message: the text given at construction, else the platform's
  // fallbacks "IDispatch error #%d" (for 0x80040200..0x8004FFFF) or "Unknown error 0x%0lX".
  std::wstring ErrorMessage() const;
  const std::wstring& Description() const { return description_; }

 private:
  HRESULT hr_;
  std::wstring description_;
  std::wstring messageText_;
};

struct ContextRecord;
class vexception;

// The vexception a wrapper makes of a _com_error: the message, " (COM Error %08X" with the
// HRESULT, ", Description: " + description when there is one, then ") at " + context text;
// one context record with an empty text and the wrapper's operation and line.
vexception comErrorException(const _com_error& error, const std::wstring& contextText,
                             const std::string& operation, int line);
