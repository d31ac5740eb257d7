#include <cstdio>

#include "platform/wnaspi32.h"
#include "scsi/aspi_requests.h"

namespace {

// The text for a status that is not an ASPI status byte: a request whose
// memory could not be allocated.
constexpr std::uint32_t NO_MEMORY_STATUS = 0xFFFFFFFFu;

const char* status_format(std::uint32_t value) {
  switch (value) {
    case SS_PENDING: return "status=$%lx : SRB being processed\n";
    case SS_COMP: return "status=$%lx : SRB completed without error\n";
    case SS_ABORTED: return "status=$%lx : SRB aborted\n";
    case SS_ABORT_FAIL: return "status=$%lx : Unable to abort SRB\n";
    case SS_ERR: return "status=$%lx : SRB completed with error\n";
    case SS_INVALID_CMD: return "status=$%lx : Invalid ASPI command\n";
    case SS_INVALID_HA: return "status=$%lx : Invalid host adapter number\n";
    case SS_NO_DEVICE: return "status=$%lx : SCSI device not installed\n";
    case SS_INVALID_SRB: return "status=$%lx : Invalid parameter set in SRB\n";
    case SS_FAILED_INIT: return "status=$%lx : ASPI for windows failed init\n";
    case SS_ASPI_IS_BUSY: return "status=$%lx : No resources available to execute cmd\n";
    case SS_BUFFER_TO_BIG: return "status=$%lx : Buffer size to big to handle!\n";
    case NO_MEMORY_STATUS: return "status=$%lx : No memory!\n";
    default: return "status=$%lx : Unknown status ???\n";
  }
}

}  // namespace

void print_aspi_status(std::uint32_t value) {
  std::printf(status_format(value), static_cast<unsigned long>(value));
}
