#pragma once
// The commands of cadro-reg over the registry store. Each returns the exit code: 0, or 1
// after an "ERROR: ..." line on standard error.

#include "reg_arguments.h"

namespace cadroreg {

int runQuery(const Arguments& args);
int runAdd(const Arguments& args);
int runDelete(const Arguments& args);
int runImport(const Arguments& args);
int runExport(const Arguments& args);

}  // namespace cadroreg
