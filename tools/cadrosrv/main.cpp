// cadrosrv: the management service that answers the statistics program's pipe.
#include <clocale>

#include "cadrosrv/cadrosrv_main.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  return cadrosrv::serviceMain(argc, argv);
}
