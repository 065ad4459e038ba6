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

void rethrowAs(std::wstring message, ContextRecord record) {
  struct Replacement {
    std::wstring message;
    ContextRecord record;
  } replacement{std::move(message), std::move(record)};
  // An empty record stands in for the one the convention adds; it is dropped again below.
  withCurrentFailure(
      ContextRecord{},
      [](vexception& cause, bool, void* data) {
        auto& r = *static_cast<Replacement*>(data);
        vexception outer(std::move(r.message));
        const std::vector<ContextRecord>& inner = cause.contexts();
        for (size_t i = 0; i + 1 < inner.size(); ++i) outer.addContext(inner[i]);
        r.record.text = cause.message();
        outer.addContext(std::move(r.record));
        throw outer;
      },
      &replacement);
  throw vexception(L"Unexpected error");  // not reached
}

}  // namespace guard
