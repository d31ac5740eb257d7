#include "platform/console/binary_console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

bool use_binary_stdout() {
  std::fflush(stdout);
  return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

}  // namespace platform
