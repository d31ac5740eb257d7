// Durable writes on the machine's devices: a disk may hold written data in
// its volatile cache; SYNCHRONIZE CACHE(10) makes it write them to the media.
#pragma once

#include <functional>
#include <string>

#include "platform/common/srb_commands.h"
#include "platform/scsi_generic/scsi_generic_devices.h"

namespace platform::sg {

// Flushing a whole cache may take long on a slow disk.
constexpr unsigned SYNCHRONIZE_TIMEOUT_MS = 60000;

// Sends SYNCHRONIZE CACHE(10) (the whole disk) once to every device of the
// table that was written since the last call and is not gone; one line to
// `tell` for each that fails while it stays.
void synchronize_written_devices(SgDeviceTable& table, SgDeviceIo& io, const std::string& dev_dir,
                                 const std::function<void(const std::string&)>& tell);

}  // namespace platform::sg
