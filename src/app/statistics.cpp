#include "app/statistics.h"

#include "app/params.h"
#include "app/task_set.h"

int statistics::start(Args args) {
  ParamMap map = buildParamMap(args.empty() ? args : args.subspan(1));
  Params params(map);
  params.check({}, tasks::acceptedOptions());
  taskSet_ = tasks::taskSet(map);
  if (taskSet_ == tasks::kHelpPrinted) return 0;

  verbose_ = params.has(L"--verbose");
  forcedStart_ = params.has(L"--from-date") ? params.value(L"--from-date", true, L"") : std::wstring();
  setStateFlag(false);
  return 0;
}
