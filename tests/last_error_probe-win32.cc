// Sets the thread's last error to the code given in decimal and writes the
// system's message for it through the tool's own print_last_error, so that
// the tests can see what it makes of any code, including those that have no
// text or whose text has inserts.
//
//   last_error_probe.exe CODE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 100;
  SetLastError(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
  print_last_error();
  return 0;
}
