// The SG_IO backend over a given environment (sysfs tree, device directory,
// mount table, kernel calls, where user messages go). The program uses the
// machine's own through make_scsi_generic_backend().
#pragma once

#include <memory>

#include "platform/aspi_backend.h"
#include "platform/scsi_generic/scsi_generic_types.h"

namespace platform::sg {

std::unique_ptr<AspiBackend> make_backend(SgEnvironment env);

// Timeout of every command, in milliseconds: long enough for a disk that has
// to spin up first.
constexpr unsigned COMMAND_TIMEOUT_MS = 20000;

}  // namespace platform::sg
