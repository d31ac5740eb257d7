#include "run/tell_user.h"

#include <cstdio>

void tell_user(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "tessaly: %s\n", line.c_str());
}
