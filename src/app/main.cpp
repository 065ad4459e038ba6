// The statistics program: a thin entry point over the core library.
#include <clocale>
#include <string>
#include <vector>

#include "app/statistics.h"
#include "db/cdr_database.h"
#include "platform/report/cancellation.h"
#include "platform/text/text_codec.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  cancellation::installHandlers();
  // The control-panel connection is made before the command line is read; a failure here
  // is reported and the run sequence's own connect decides.
  CDRDatabase::SharedScope database;
  std::vector<std::wstring> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(text::fromAnsi(argv[i]));
  int result = 1;
  {
    statistics app;
    result = app.run(args);
  }
  return result;
}
