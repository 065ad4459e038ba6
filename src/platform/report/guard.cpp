#include "platform/report/guard.h"

#include <stdexcept>

#include "platform/report/com_error.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace guard {

void withCurrentFailure(const ContextRecord& record, void (*sink)(vexception&, bool, void*), void* data) {
  try {
    throw;
  } catch (const std::exception& e) {
    vexception v(text::fromAnsi(e.what()), record);
    sink(v, false, data);
  } catch (vexception& e) {
    e.addContext(record);
    sink(e, true, data);
  } catch (const _com_error& e) {
    vexception v = comErrorException(e, record.text, record.operation, record.line);
    sink(v, false, data);
  } catch (const cwrpexception& e) {
    vexception v(vformat(L"C Exception: %u", e.code()), record);
    sink(v, false, data);
  } catch (...) {
    vexception v(L"Unexpected error", record);
    sink(v, false, data);
  }
}

void reportCurrent(int level, const ContextRecord& record) noexcept {
  try {
    withCurrentFailure(
        record, [](vexception& v, bool, void* lvl) { LogManager::instance().report(*static_cast<int*>(lvl), v); },
        &level);
  } catch (...) {
  }
}

void rethrowCurrent(const ContextRecord& record) {
  withCurrentFailure(
      record,
      [](vexception& v, bool original, void*) {
        if (original) throw;
        throw v;
      },
      nullptr);
  throw vexception(L"Unexpected error", record);  // not reached
}

}  // namespace guard
