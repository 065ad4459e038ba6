#pragma once
// The failure of an engine under the ADO layer: the error records the engine gives (the
// provider errors that ADO lists in a connection's Errors collection), most significant
// first, and the HRESULT the operation returns.

#include <exception>
#include <string>
#include <vector>

#include "platform/report/com_error.h"

namespace ado {

// HRESULTs the layer returns.
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);               // E_FAIL
inline constexpr HRESULT kErrorsInCommand = static_cast<HRESULT>(0x80040E14u);    // DB_E_ERRORSINCOMMAND
inline constexpr HRESULT kBadInitString = static_cast<HRESULT>(0x80040E73u);      // DB_E_BADINITSTRING
inline constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78u);       // adErrObjectClosed
inline constexpr HRESULT kProviderNotFound = static_cast<HRESULT>(0x800A0E7Au);   // adErrProviderNotFound
inline constexpr HRESULT kItemNotFound = static_cast<HRESULT>(0x800A0CC1u);       // adErrItemNotFound
inline constexpr HRESULT kTransactionState = static_cast<HRESULT>(0x8004D00Eu);   // XACT_E_NOTRANSACTION

class EngineError : public std::exception {
 public:
  explicit EngineError(std::wstring description, HRESULT code = kFail);
  // `descriptions` must not be empty.
  EngineError(std::vector<std::wstring> descriptions, HRESULT code);

  const std::vector<std::wstring>& descriptions() const { return descriptions_; }
  HRESULT code() const { return code_; }
  // The descriptions joined by one space.
  std::wstring text() const;
  // text() in UTF-8.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::vector<std::wstring> descriptions_;
  HRESULT code_;
  std::string what_;
};

// Descriptions joined by one space, as a connection's lastError shows them.
std::wstring joinDescriptions(const std::vector<std::wstring>& descriptions);

}  // namespace ado
