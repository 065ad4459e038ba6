// The statistics program: a thin entry point over the core library.
#include <clocale>

#include "platform/cancellation.h"

int main(int, char**) {
  std::setlocale(LC_ALL, "");
  cancellation::installHandlers();
  return 0;
}
