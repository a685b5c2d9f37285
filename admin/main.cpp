// veltrane-admin: see admin.h and 'veltrane-admin --help'.
#include <unistd.h>

#include <iostream>

#include "admin/admin.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const veltrane::admin::AdminIo io{std::cin, std::cout, std::cerr, veltrane::DefaultClock(),
                                    isatty(STDIN_FILENO) == 1};
  const int code = veltrane::admin::RunAdmin(args, io);
  std::cout.flush();
  return std::cout.fail() && code == 0 ? 1 : code;
}
